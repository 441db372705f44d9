#pragma once
// Re-emits the tips an object says from a worker thread on the test's thread, so QSignalSpy
// (which records on the emitting thread and is not thread-safe) can watch them.
#include "app/SvMessageType.h"

#include <QObject>
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
