#include "app/SvTimeFormat.h"

QString formatTimestamp(uint64_t timestampUs)
{
    const uint64_t minutes = timestampUs / 60'000'000;
    const uint64_t seconds = (timestampUs / 1'000'000) % 60;
    const uint64_t rest = timestampUs % 1'000'000;
    return QString("%1:%2:%3")
        .arg(minutes, 2, 10, QChar('0'))
        .arg(seconds, 2, 10, QChar('0'))
        .arg(rest, 6, 10, QChar('0'));
}

QString formatDuration(uint64_t seconds)
{
    return QString("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg((seconds / 60) % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}
