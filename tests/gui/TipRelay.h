#pragma once
// Re-emits the tips an object says from a worker thread on the test's thread, so QSignalSpy
// (which records on the emitting thread and is not thread-safe) can watch them.
#include "app/SvMessageType.h"

#include <QObject>
#include <QSignalSpy>
#include <QString>

class TipRelay : public QObject {
    Q_OBJECT
public:
    template <typename Sender>
    explicit TipRelay(Sender* sender)
    {
        connect(sender, &Sender::signalShowLeftBottomTips, this, &TipRelay::tip, Qt::QueuedConnection);
    }

signals:
    void tip(QString tips, SvMessageType type, QString file_path);
};

// Index of the first tip with this text at or after from, or -1.
inline int tipIndex(const QSignalSpy& spy, const QString& text, int from = 0)
{
    for (int i = from; i < spy.count(); ++i)
        if (spy.at(i).at(0).toString() == text)
            return i;
    return -1;
}
