#include "app/RecordingNames.h"

#include <QFileInfo>

QString recordingBase(const QString& folder, const QString& serial, const QDateTime& start,
                      const QStringList& extensions)
{
    const QString stem = folder + "/" + serial + start.toString("_yyyyMMdd_HHmmss");
    auto taken = [&extensions](const QString& base) {
        for (const QString& extension : extensions)
            if (QFileInfo::exists(base + extension))
                return true;
        return false;
    };
    QString base = stem;
    for (int n = 1; taken(base); ++n)
        base = stem + "_" + QString::number(n);
    return base;
}
