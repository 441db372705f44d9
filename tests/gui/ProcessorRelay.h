#pragma once
// Re-emits a processor's signals on the test's thread, so QSignalSpy (which is not thread-safe)
// can watch those emitted on worker threads: each connection is queued to the relay's thread,
// which keeps the order of the signals of any one thread.
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
        connect(&processor, &SvEventProcessor::signalStartTimeStamp, this, &ProcessorRelay::start, queued);
        connect(&processor, &SvEventProcessor::signalEndTimeStamp, this, &ProcessorRelay::end, queued);
        connect(&processor, &SvEventProcessor::signalPlayStatus, this, &ProcessorRelay::play, queued);
        connect(&processor, &SvEventProcessor::signalLoadingStatus, this, &ProcessorRelay::loading, queued);
        connect(&processor, &SvEventProcessor::signalProgress, this, &ProcessorRelay::progress, queued);
        connect(&processor, &SvEventProcessor::signalShowLeftBottomTips, this, &ProcessorRelay::tip, queued);
    }

signals:
    void image(QImage image);
    void time(uint64_t timestamp_us);
    void start(uint64_t timestamp_us);
    void end(uint64_t timestamp_us);
    void play(bool playing);
    void loading(bool loading);
    void progress(int percent);
    void tip(QString tips, SvMessageType type, QString file_path);
};
