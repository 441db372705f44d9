#include "processing/SvEventProcessor.h"

#include "app/ConfigStore.h"

#include <SorvaneDriver/DvsFileReader.h>
#include <SorvaneDriver/Render/EventImage.h>

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <chrono>
#include <filesystem>


using sorvane::DvsFileReader;
using sorvane::Event2D;
using sorvane::EventBuffer;

namespace {

// Emitted images kept for reuse: the view holds at most one or two at a time.
constexpr size_t maxSpareImages = 3;

// Paths go to the SDK in the local 8-bit encoding.
std::string toLocalPath(const QString& path)
{
    return std::string(path.toLocal8Bit().constData());
}

sorvane::ExistingFile existingFile(bool replace)
{
    return replace ? sorvane::ExistingFile::Replace : sorvane::ExistingFile::Refuse;
}

} // namespace

SvEventProcessor::SvEventProcessor(QObject* parent)
    : RecordingPlayer(parent)
    , frameImage(frameWidth, frameHeight, QImage::Format_RGB888)
    , backCounts(std::make_unique<CountPlane>(planeSize, 0))
    , frontCounts(std::make_unique<CountPlane>(planeSize, 0))
{
    // Same names as main, so the store lands in the same folder whoever opens it first.
    QCoreApplication::setApplicationName("SorvaneViewer");
    QCoreApplication::setOrganizationName("Sorvane");
    config = ConfigStore::instance();
    registerSvMetaTypes();
    frameImage.fill(config->backgroundColor);

    // Set before the threads start, so a destructor that runs at once cannot be overtaken.
    renderRunning = true;
    renderThread = std::thread(&SvEventProcessor::renderLoop, this);
    transport.start();
}

SvEventProcessor::~SvEventProcessor()
{
    // A load still scanning the file is cancelled through the reader, never left running over a
    // freed reader, and reports no range; running cuts and exports are waited for. First: a scan
    // may end while the render thread stops.
    closing = true;
    if (loading && reader)
        reader->cancel();
    {
        std::lock_guard lock(frameMutex);
        renderRunning = false;
    }
    frameReady.notify_all();
    renderThread.join();
    if (loaderThread.joinable())
        loaderThread.join();
    transport.stop();
    if (exportVideoThread.joinable())
        exportVideoThread.join();
    if (cutThread.joinable())
        cutThread.join();
}

void SvEventProcessor::accumulateEvents(const Event2D* begin, const Event2D* end)
{
    batchesSinceShown.fetch_add(1, std::memory_order_relaxed);
    if (begin >= end)
        return;
    const std::optional<sorvane::EventRegion> only = shownRegion();
    std::lock_guard lock(planeMutex);
    // One pass, no per-event locking: the plane lock is taken once per batch.
    sorvane::eventimage::count(backCounts->data(), begin, end, only ? &*only : nullptr);
    lastBatchTimestamp.store(begin->timestamp, std::memory_order_relaxed);
}

void SvEventProcessor::showEvents()
{
    if (batchesSinceShown.exchange(0, std::memory_order_relaxed) == 0)
        return;
    emit signalRealTimeTimeStamp(lastBatchTimestamp.load(std::memory_order_relaxed));
    commitFrame();
}

void SvEventProcessor::commitFrame()
{
    std::unique_lock frameLock(frameMutex);
    std::lock_guard planeLock(planeMutex);
    std::swap(backCounts, frontCounts);
    frameCommitted = true;
    frameLock.unlock();
    frameReady.notify_one();
    // The render thread only reads frontCounts, so clearing needs the plane lock alone.
    std::fill(backCounts->begin(), backCounts->end(), uint16_t(0));
}

void SvEventProcessor::renderLoop()
{
    std::unique_lock lock(frameMutex);
    for (;;) {
        // The flag makes a commit or a stop made while painting wake the next wait at once.
        frameReady.wait(lock, [this] { return frameCommitted || !renderRunning; });
        if (!renderRunning)
            return;
        frameCommitted = false;
        prepareFrameImage();
        // A palette saved meanwhile on the GUI thread shows from this frame on.
        const EventColors colors = config->eventColors();
        paintFrame(*frontCounts, frameImage, colors.positive, colors.negative, colors.background);
        emit signalEventImage(frameImage);
    }
}

void SvEventProcessor::prepareFrameImage()
{
    if (frameImage.isDetached())
        return;
    for (QImage& spare : spareImages) {
        if (spare.isDetached()) {
            // Pairs with the release of the last receiver's reference.
            std::atomic_thread_fence(std::memory_order_acquire);
            std::swap(spare, frameImage);
            return;
        }
    }
    if (spareImages.size() < maxSpareImages)
        spareImages.push_back(frameImage);
    frameImage = QImage(frameWidth, frameHeight, QImage::Format_RGB888);
}

void SvEventProcessor::paintFrame(const CountPlane& counts, QImage& image, QColor positive,
                                  QColor negative, QColor background)
{
    if (image.size() != QSize(frameWidth, frameHeight) || image.format() != QImage::Format_RGB888)
        image = QImage(frameWidth, frameHeight, QImage::Format_RGB888);
    sorvane::eventimage::paint(counts.data(), image.bits(), size_t(image.bytesPerLine()),
                               EventColors{positive, negative, background}.palette());
}

// --- playback ---

bool SvEventProcessor::playbackUsable() const
{
    return reader && !loading && readerLoaded && fileJobsRunning == 0;
}

void SvEventProcessor::reportProgress(double fraction)
{
    const int percent = std::clamp(int(fraction * 100.0), 0, 100);
    if (lastProgress.exchange(percent) != percent)
        emit signalProgress(percent);
}

void SvEventProcessor::loadFile(QString file_path)
{
    qDebug() << "Load raw file: " << file_path;
    if (isBusy()) {
        qDebug() << "load, cut or export running.";
        emit signalShowLeftBottomTips(tr("Wait for the recording's work to finish, or cancel it, before opening another."),
                                      Warning);
        return;
    }
    emit signalPlayStatus(false);
    // Stopped here as well, not only through the play button: the reader is replaced next. A
    // frame the playback thread is reading still comes from the old one, and is dropped.
    transport.close();
    // Not running: loading is clear.
    if (loaderThread.joinable())
        loaderThread.join();
    readerLoaded = false;
    setReader(nullptr);
    openFilePath.clear();

    // An empty path only closes the recording.
    if (!file_path.isEmpty())
        setReader(DvsFileReader::createFileReader(toLocalPath(file_path)));
    if (!reader) {
        qDebug() << "not raw file.";
        emit signalRecordingOpened(QString());
        if (!file_path.isEmpty())
            emit signalShowLeftBottomTips(tr("Open recording failed: not a raw event file."), Error);
        return;
    }
    openFilePath = file_path;
    emit signalRecordingOpened(file_path);
    reader->setProgressCallback([this](double fraction) { reportProgress(fraction); });

    // Set before the thread starts: the guards and the destructor must see the load at once.
    workCancelled = false;
    loading = true;
    loaderThread = std::thread([this] {
        emit signalLoadingStatus(true);
        lastProgress = -1;
        const bool loaded = reader->loadFile();
        uint64_t first = 0;
        uint64_t last = 0;
        const bool hasEvents = loaded && reader->getStartTimestamp(first) && reader->getEndTimestamp(last);
        if (!hasEvents) {
            loading = false;
            qDebug() << "Load raw file failed.";
            if (!closing) {
                emit signalRecordingOpened(QString());
                if (loaded)
                    emit signalShowLeftBottomTips(tr("The recording holds no events."), Warning);
                else if (workCancelled)
                    emit signalShowLeftBottomTips(tr("Loading cancelled."), Warning);
                else
                    emit signalShowLeftBottomTips(tr("Load recording failed: the file is damaged or unreadable."), Error);
            }
            emit signalLoadingStatus(false);
            return;
        }
        if (closing) {
            loading = false;
            emit signalLoadingStatus(false);
            return;
        }
        // Still this thread's reader: playback starts only once the load is reported finished.
        reportDamage();
        const std::vector<uint64_t> profile = reader->getEventRateProfile(DvsFileReader::kRateProfileBins);
        emit signalEventRateProfile(QList<quint64>(profile.begin(), profile.end()), first, last);
        transport.open(first, last);
        readerLoaded = true;
        // Cleared before signalPlayStatus(true): the play button answers it with
        // slotPlaybackCtrl(true), which must find the load finished.
        loading = false;
        emit signalEndTimeStamp(last);
        emit signalStartTimeStamp(first);
        emit signalRealTimeTimeStamp(first);
        emit signalPlayStatus(true);
        emit signalLoadingStatus(false);
        qDebug() << "Load raw file success.";
    });
}

void SvEventProcessor::setReader(std::shared_ptr<DvsFileReader> next)
{
    std::lock_guard lock(readerMutex);
    reader = std::move(next);
}

std::shared_ptr<DvsFileReader> SvEventProcessor::currentReader()
{
    std::lock_guard lock(readerMutex);
    return reader;
}

bool SvEventProcessor::buildImage(uint64_t t, uint64_t accumulation)
{
    const std::shared_ptr<DvsFileReader> source = currentReader();
    if (!source)
        return false;
    // (t - accumulation, t]: the window ends with the position, which it includes.
    const uint64_t start = sorvane::eventimage::windowStart(t, accumulation);
    std::shared_ptr<EventBuffer> events;
    {
        std::lock_guard readLock(readMutex);
        events = source->getEventsByTime(start, t - start + 1);
    }
    // Counted before the frame is due, so that showing it costs no time. A window past the last
    // event reads nothing and shows as empty.
    if (events)
        accumulateEvents(events->data(), events->data() + events->size());
    return true;
}

void SvEventProcessor::showImage(uint64_t t)
{
    emit signalRealTimeTimeStamp(t);
    commitFrame();
}

void SvEventProcessor::dropImage()
{
    std::lock_guard planeLock(planeMutex);
    std::fill(backCounts->begin(), backCounts->end(), uint16_t(0));
}

void SvEventProcessor::playbackFinished()
{
    emit signalPlayStatus(false);
}

void SvEventProcessor::slotPlayLoop(bool enabled)
{
    transport.setLoop(enabled);
}

bool SvEventProcessor::targetIsOpenRecording(const QString& path) const
{
    namespace fs = std::filesystem;
    if (openFilePath.isEmpty() || path.isEmpty())
        return false;
    const fs::path target(toLocalPath(path));
    const fs::path open(toLocalPath(openFilePath));
    std::error_code error;
    // Catches links and differently spelled paths to the same file.
    if (fs::equivalent(target, open, error))
        return true;
    std::error_code targetError;
    std::error_code openError;
    const fs::path targetPath = fs::weakly_canonical(target, targetError);
    const fs::path openPath = fs::weakly_canonical(open, openError);
    return !targetError && !openError && targetPath == openPath;
}

bool SvEventProcessor::prepareFileJob(const QString& target, const QString& refusal)
{
    if (!reader || loading || !readerLoaded)
        return false;
    if (targetIsOpenRecording(target)) {
        qDebug() << "target is the open recording:" << target;
        emit signalShowLeftBottomTips(refusal, Error);
        return false;
    }
    pauseForCommand();
    return true;
}

void SvEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts,
                                      bool replace, QRect region)
{
    // Writing the cut over the file being read would destroy both.
    if (!prepareFileJob(qs_out_full_path, tr("Cut recording refused: the target is the open recording.")))
        return;
    ++fileJobsRunning;
    auto job = std::make_unique<FileJob>(FileJob{start_ts, end_ts, qs_out_full_path, qs_out_dir, this, existingFile(replace),
                                                          eventRegionOf(region)});
    // The new thread waits for the previous cut, so the GUI thread never does.
    cutThread = std::thread([previous = std::move(cutThread), job = std::move(job)]() mutable {
        if (previous.joinable())
            previous.join();
        runCut(std::move(job));
    });
}

void SvEventProcessor::slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts,
                                       bool replace, QRect region)
{
    // The encoder replaces the target when it finishes: never over the file being read.
    if (!prepareFileJob(qs_out_full_path, tr("Export video refused: the target is the open recording.")))
        return;

    // The video looks like the playback: the user's palette, window and step, at the fixed
    // playback pace of 30 frames per second.
    sorvane::VideoExportOptions options;
    options.accTime = transport.accumulation();
    options.frameStep = transport.frameStep();
    options.fps = int(std::chrono::seconds(1) / PlaybackTransport::kPeriod);
    const sorvane::Palette colours =
        EventColors{config->positiveColor, config->negativeColor, config->backgroundColor}.palette();
    options.positiveColor = colours.positive;
    options.negativeColor = colours.negative;
    options.backgroundColor = colours.background;

    ++fileJobsRunning;
    auto job = std::make_unique<FileJob>(FileJob{start_ts, end_ts, qs_out_full_path, qs_out_dir, this, existingFile(replace),
                                                          eventRegionOf(region)});
    exportVideoThread = std::thread([previous = std::move(exportVideoThread), job = std::move(job), options]() mutable {
        if (previous.joinable())
            previous.join();
        runExport(std::move(job), options);
    });
}

void SvEventProcessor::slotCancelWork()
{
    if (!isBusy() || !reader)
        return;
    workCancelled = true;
    // The reader's cancel may be called while its work runs on another thread.
    reader->cancel();
}

void SvEventProcessor::reportDamage()
{
    sorvane::DvsFileInfo info;
    if (!reader->getFileInfo(info) || (info.eventsOutside == 0 && info.timeRepairs == 0))
        return;
    QStringList found;
    if (info.eventsOutside > 0)
        found << tr("%1 events lie outside the %2 x %3 sensor its header declares and are not shown.")
                     .arg(info.eventsOutside)
                     .arg(info.width)
                     .arg(info.height);
    if (info.timeRepairs > 0)
        found << tr("%1 damaged time words were ignored.").arg(info.timeRepairs);
    emit signalShowLeftBottomTips(found.join(' '), Warning);
}

void SvEventProcessor::runCut(std::unique_ptr<FileJob> job)
{
    runFileJob(std::move(job), "cut", tr("Export raw file success!"), tr("Cut recording failed."), tr("Cut cancelled."),
               [](sorvane::DvsFileReader& reader, const FileJob& cut) {
                   return reader.exportEventData(cut.startTimestamp, cut.endTimestamp, toLocalPath(cut.outFullPath),
                                                 cut.existing);
               });
}

void SvEventProcessor::runExport(std::unique_ptr<FileJob> job, sorvane::VideoExportOptions options)
{
    runFileJob(std::move(job), "export video", tr("Export video success!"), tr("Export video failed."),
               tr("Export cancelled."),
               [options](sorvane::DvsFileReader& reader, const FileJob& video) {
                   reader.setVideoExportOptions(options);
                   return reader.exportVideo(video.startTimestamp, video.endTimestamp, toLocalPath(video.outFullPath),
                                             video.existing);
               });
}

void SvEventProcessor::runFileJob(std::unique_ptr<FileJob> job, const char* what, const QString& success,
                                  const QString& failure, const QString& cancelled,
                                  const std::function<bool(sorvane::DvsFileReader&, const FileJob&)>& write)
{
    SvEventProcessor* processor = job->processor;
    // One job at a time on the reader; a cut and an export queue behind each other.
    std::lock_guard lock(processor->fileJobMutex);
    // Waits for a frame the playback thread may still be reading.
    std::lock_guard readLock(processor->readMutex);
    qDebug() << "start" << what << job->outFullPath;
    processor->workCancelled = false;
    processor->reader->resetCancel();
    emit processor->signalLoadingStatus(true);
    processor->lastProgress = -1;
    // The region holds for this job alone: playback reads wait on readMutex meanwhile.
    std::string regionRefused;
    bool written = !job->region || processor->reader->setRegion(job->region, regionRefused);
    written = written && write(*processor->reader, *job);
    if (job->region)
        processor->reader->setRegion(std::nullopt, regionRefused);
    // Done with the reader: from here a new recording may be opened.
    --processor->fileJobsRunning;
    qDebug() << what << "start:" << job->startTimestamp << " end: " << job->endTimestamp
             << (written ? " success." : " failed.");
    if (written) {
        emit processor->signalShowLeftBottomTips(success, Success, job->outDir);
    } else if (processor->workCancelled) {
        // The reader serves playback again.
        processor->reader->resetCancel();
        emit processor->signalShowLeftBottomTips(cancelled, Warning);
    } else {
        // The reader says why (a range outside the recording, a target that may not be replaced).
        const QString why = QString::fromStdString(processor->reader->lastError());
        emit processor->signalShowLeftBottomTips(why.isEmpty() ? failure : failure + " " + why, Error);
    }
    emit processor->signalLoadingStatus(false);
}
