#pragma once
// Re-emits a processor's worker-thread signals on the test's thread, so QSignalSpy (which is not
// thread-safe) can watch them: each connection is queued to the relay's thread.
#include "processing/SvEventProcessor.h"

#include <QImage>
#include <QObject>

class ProcessorRelay : public QObject {
    Q_OBJECT
public:
    explicit ProcessorRelay(SvEventProcessor& processor)
    {
        const auto queued = Qt::QueuedConnection;
        connect(&processor, &SvEventProcessor::signalEventImage, this, &ProcessorRelay::image, queued);
        connect(&processor, &SvEventProcessor::signalRealTimeTimeStamp, this, &ProcessorRelay::time, queued);
    }

signals:
    void image(QImage image);
    void time(uint64_t timestamp_us);
};
