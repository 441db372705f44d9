#include "processing/SvFusionCameraDataProcessor.h"

#include "SorvaneDriver/Render/EventImage.h"
#include "app/ConfigStore.h"
#include "processing/SvEventProcessor.h"
#include "sdk/Utils/Json/JsonUtils.h"

#include <SorvaneDriver/DvsFileReader.h>
#include <SorvaneDriver/FusionCamera.h>
#include <SorvaneDriver/Video/ApsFileReader.h>
#include <SorvaneDriver/Video/SetCut.h>

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

using sorvane::ApsFrame;
using sorvane::Event2D;

namespace {

// A mapped frame as an image of its own, to draw on: the frame itself stays the background of
// the next images.
QImage toImage(const ApsFrame& frame)
{
    QImage image(SvFusionCameraDataProcessor::dvsWidth, SvFusionCameraDataProcessor::dvsHeight, QImage::Format_BGR888);
    if (frame.getWidth() != image.width() || frame.getHeight() != image.height() || frame.isEmpty()) {
        image.fill(Qt::black);
        return image;
    }
    const size_t rowBytes = size_t(image.width()) * 3;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), frame.data() + size_t(y) * rowBytes, rowBytes);
    return image;
}

} // namespace

SvFusionCameraDataProcessor::SvFusionCameraDataProcessor(QObject* parent)
    : RecordingPlayer(parent)
    , fusionProcessor(std::make_unique<sorvane::DvsApsFusionProccessor>())
    , dvsCounts(sorvane::eventimage::planeSize, 0)
{
    // Same names as main, so the store lands in the same folder whoever opens it first.
    QCoreApplication::setApplicationName("SorvaneViewer");
    QCoreApplication::setOrganizationName("Sorvane");
    config = ConfigStore::instance();
    registerSvMetaTypes();
    fusionProcessor->addFusionDataCallback(
        [this](ApsFrame& frame, Event2D* begin, Event2D* end) { onFusionData(frame, begin, end); });

    transport.start();
}

SvFusionCameraDataProcessor::~SvFusionCameraDataProcessor()
{
    {
        // A load still scanning the event file is cancelled through its reader, never left
        // running over freed memory, and ends without a word.
        std::lock_guard lock(commandMutex);
        if (loadingReader)
            loadingReader->cancel();
        ++generation;
    }
    transport.stop();
    recording.reset();
    fusionProcessor->removeFusionDataCallback();
    cutCancelled = true;
    if (cutThread.joinable())
        cutThread.join();
}

// --- live camera ---

void SvFusionCameraDataProcessor::setFusionCamera(std::shared_ptr<sorvane::FusionCamera> fusionCamera)
{
    std::lock_guard lock(cameraMutex);
    camera = std::move(fusionCamera);
}

void SvFusionCameraDataProcessor::setCalibrationParameters(sorvane::CalibratorParameters parameters)
{
    loadCalibration(parameters, tr("the camera"));
}

bool SvFusionCameraDataProcessor::loadCalibration(sorvane::CalibratorParameters& parameters, const QString& source)
{
    // Images have the event sensor's size; a calibration for another one would map onto a grid
    // that is not there.
    if (parameters.dvsWidth != dvsWidth || parameters.dvsHeight != dvsHeight || parameters.apsWidth == 0
        || parameters.apsHeight == 0) {
        qDebug() << "calibration refused:" << parameters.dvsWidth << parameters.dvsHeight << parameters.apsWidth
                 << parameters.apsHeight;
        emit signalShowLeftBottomTips(
            tr("The calibration of %1 is not for a %2 x %3 event sensor; the previous calibration is used.")
                .arg(source)
                .arg(dvsWidth)
                .arg(dvsHeight),
            Warning);
        return false;
    }
    std::lock_guard lock(calibratorMutex);
    return calibrator.loadCalibrationParam(parameters);
}

void SvFusionCameraDataProcessor::addDvsEvents(const Event2D* begin, const Event2D* end)
{
    accumulateDvsEvents(begin, end);
    fusionProcessor->addDvsData(begin, end);
}

void SvFusionCameraDataProcessor::addApsFrame(const ApsFrame& frame)
{
    fusionProcessor->addApsData(frame);
}

void SvFusionCameraDataProcessor::addSyncSignal(const sorvane::EventTriggerIn& trigger)
{
    fusionProcessor->addSyncSignal(trigger);
}

void SvFusionCameraDataProcessor::clearFusionState()
{
    fusionProcessor->clear();
    std::lock_guard lock(countsMutex);
    std::fill(dvsCounts.begin(), dvsCounts.end(), uint16_t(0));
}

void SvFusionCameraDataProcessor::accumulateDvsEvents(const Event2D* begin, const Event2D* end)
{
    if (viewerType != sorvane::STREAM_DVS)
        return;
    std::lock_guard lock(countsMutex);
    sorvane::eventimage::count(dvsCounts.data(), begin, end);
}

ApsFrame SvFusionCameraDataProcessor::mapToDvs(ApsFrame& frame)
{
    std::lock_guard lock(calibratorMutex);
    return calibrator.mapApsToDvs(frame);
}

void SvFusionCameraDataProcessor::onFusionData(ApsFrame& frame, Event2D* begin, Event2D* end)
{
    const uint64_t timestamp = frame.getTimestamp();
    switch (viewerType.load()) {
    case sorvane::STREAM_APS:
        emit signalFusionImage(toImage(mapToDvs(frame)));
        emit signalTimeStamp(timestamp);
        break;
    case sorvane::STREAM_ALL: {
        {
            std::lock_guard lock(cameraMutex);
            if (!camera || !camera->isConnected())
                return;
        }
        QImage image = toImage(mapToDvs(frame));
        const EventColors colors = config->eventColors();
        drawEvents(image, begin, end, false, colors.positive, colors.negative);
        emit signalFusionImage(image);
        emit signalTimeStamp(timestamp);
        break;
    }
    case sorvane::STREAM_DVS: {
        // One image per paired frame, showing every event counted since the previous one.
        QImage image;
        {
            const EventColors colors = config->eventColors();
            std::lock_guard lock(countsMutex);
            SvEventProcessor::paintFrame(dvsCounts, image, colors.positive, colors.negative, colors.background);
            std::fill(dvsCounts.begin(), dvsCounts.end(), uint16_t(0));
        }
        emit signalFusionImage(image);
        emit signalTimeStamp(timestamp);
        break;
    }
    default:
        break;
    }
}

void SvFusionCameraDataProcessor::drawEvents(QImage& image, const Event2D* begin, const Event2D* end, bool mirrored,
                                             QColor positive, QColor negative, const sorvane::EventRegion* only)
{
    if (image.width() != dvsWidth || image.height() != dvsHeight || image.format() != QImage::Format_BGR888)
        return;
    const QRgb colours[2] = {negative.rgb(), positive.rgb()};
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (const Event2D* e = begin; e != end; ++e) {
        // The recording holds the sensor's readout, width - 1 - x of the live column; turning it
        // back once gives the live column. An x beyond the grid wraps past it and is dropped.
        const uint16_t column = mirrored ? uint16_t(dvsWidth - 1 - e->x) : e->x;
        if (column >= dvsWidth || e->y >= dvsHeight || (only && !only->contains(column, e->y)))
            continue;
        const QRgb colour = colours[e->polarity == 1 ? 1 : 0];
        uchar* p = bits + e->y * stride + 3 * column;
        p[0] = uchar(qBlue(colour));
        p[1] = uchar(qGreen(colour));
        p[2] = uchar(qRed(colour));
    }
}

void SvFusionCameraDataProcessor::slotSetViewerType(sorvane::STREAM_TYPE type)
{
    viewerType = type;
    showAgainIfPaused();
}

// --- recording ---

bool SvFusionCameraDataProcessor::slotReadFusionFile(QString str)
{
    // Closing is always allowed: it cancels a load under way. Another recording waits for it.
    if (loading && !str.isEmpty()) {
        qDebug() << "fusion file loading, " << str << " refused.";
        return false;
    }
    const bool wasPlaying = transport.pause();
    uint64_t openGeneration = 0;
    {
        std::lock_guard lock(commandMutex);
        if (loadingReader)
            loadingReader->cancel();
        openGeneration = ++generation;
        loaded = false;
        // Set before the playback thread takes the order: the guards must see the load at once.
        loading = !str.isEmpty();
        loadCancelled = false;
    }
    transport.close();
    openedSet = str;
    transport.runOnThread([this, str, openGeneration] { openRecording(str, openGeneration); });
    if (wasPlaying)
        emit signalPlayStatus(false);
    if (str.isEmpty())
        return false;
    qDebug() << "Load fusion file: " << str;
    return true;
}

void SvFusionCameraDataProcessor::slotCancelWork()
{
    if (cutsRunning > 0)
        cutCancelled = true;
    std::lock_guard lock(commandMutex);
    if (!loading)
        return;
    loadCancelled = true;
    if (loadingReader)
        loadingReader->cancel();
}

void SvFusionCameraDataProcessor::slotCutSet(QString out, QString outDir, uint64_t start, uint64_t end, bool replace,
                                             QRect region)
{
    if (!loaded || loading || openedSet.isEmpty())
        return;
    const std::string source = openedSet.toLocal8Bit().toStdString();
    const std::string target = out.toLocal8Bit().toStdString();
    const auto existing = replace ? sorvane::ExistingFile::Replace : sorvane::ExistingFile::Refuse;
    const std::optional<sorvane::EventRegion> only = eventRegionOf(region);
    ++cutsRunning;
    cutThread = std::thread([this, previous = std::move(cutThread), source, target, outDir, start, end, existing,
                             only]() mutable {
        if (previous.joinable())
            previous.join();
        cutCancelled = false;
        emit signalLoadingStatus(true);
        emit signalProgress(0);
        std::string error;
        int shown = 0;
        const auto progress = [this, &shown](double fraction) {
            const int percent = std::clamp(int(fraction * 100), 0, 100);
            if (percent != shown)
                emit signalProgress(shown = percent);
        };
        // A reader of its own: playback keeps reading the open one meanwhile.
        std::shared_ptr<sorvane::DvsFileReader> events = sorvane::DvsFileReader::createFileReader(source, error);
        const bool cut = events && events->loadFile() && (!only || events->setRegion(only, error))
            && sorvane::cutFusionSet(*events, source, start, end, target, existing, progress, cutCancelled, error);
        // Free for the next command before the outcome is told.
        --cutsRunning;
        if (cut)
            emit signalShowLeftBottomTips(tr("Fusion set cut: ") + QString::fromLocal8Bit(target.c_str()), Success, outDir);
        else if (cutCancelled)
            emit signalShowLeftBottomTips(tr("Cut cancelled."), Warning);
        else
            emit signalShowLeftBottomTips(tr("Cut recording failed.") + " " + QString::fromStdString(error), Error);
        emit signalLoadingStatus(false);
    });
}

bool SvFusionCameraDataProcessor::endLoading(uint64_t openGeneration)
{
    std::lock_guard lock(commandMutex);
    loadingReader.reset();
    // A load overtaken by a close, another recording or the destructor leaves the state to its
    // successor.
    const bool current = openGeneration == generation;
    if (current)
        loading = false;
    return current;
}

void SvFusionCameraDataProcessor::openRecording(const QString& path, uint64_t openGeneration)
{
    recording.reset();
    if (path.isEmpty())
        return;
    emit signalLoadingStatus(true);
    // Whatever the outcome, the waiting state ends; a failure says which file and why.
    auto fail = [&](const QString& tip) {
        if (endLoading(openGeneration))
            emit signalShowLeftBottomTips(loadCancelled ? tr("Loading cancelled.") : tip,
                                          loadCancelled ? Warning : Error);
        emit signalLoadingStatus(false);
    };

    // The set shares the path up to its last ".", wherever that lies.
    const QByteArray local = path.toLocal8Bit();
    const qsizetype dot = local.lastIndexOf('.');
    const std::string base(local.constData(), size_t(dot < 0 ? local.size() : dot));
    const QString videoPath = QString::fromLocal8Bit(base + ".mp4");
    const QString eventsPath = QString::fromLocal8Bit(base + ".raw");
    const QString calibrationPath = QString::fromLocal8Bit(base + ".json");

    auto next = std::make_unique<FusionRecording>();
    next->apsReader = sorvane::ApsFileReader::createFileReader(base + ".mp4");
    ApsFrame first;
    if (!next->apsReader || !next->apsReader->isOpen() || !next->apsReader->getFrameTimestamps(next->frameTimestamps)
        || next->frameTimestamps.empty() || !next->apsReader->getNextFrame(first)) {
        qDebug() << "Load aps file failed.";
        fail(tr("Open recording failed: cannot read the frames of %1").arg(videoPath));
        return;
    }
    if (QFileInfo::exists(calibrationPath)) {
        sorvane::CalibratorParameters parameters;
        if (sorvane::readCalibrationFile(base + ".json", parameters))
            loadCalibration(parameters, calibrationPath);
        else
            emit signalShowLeftBottomTips(
                tr("The calibration file %1 is unreadable; the previous calibration is used.").arg(calibrationPath),
                Warning);
    }
    next->currentApsFrame = mapToDvs(first);
    next->currentFrameIndex = 0;

    std::shared_ptr<sorvane::DvsFileReader> events = sorvane::DvsFileReader::createFileReader(base + ".raw");
    {
        std::lock_guard lock(commandMutex);
        loadingReader = events;
        // A cancel or a close that came while the video opened reaches the event reader here.
        if (events && (loadCancelled || openGeneration != generation))
            events->cancel();
    }
    uint64_t firstTimestamp = 0;
    uint64_t lastTimestamp = 0;
    if (!events || !events->loadFile() || !events->getStartTimestamp(firstTimestamp)
        || !events->getEndTimestamp(lastTimestamp)) {
        qDebug() << "Load dvs file failed.";
        fail(tr("Open recording failed: cannot read the events of %1").arg(eventsPath));
        return;
    }
    sorvane::DvsFileInfo fileInfo;
    events->getFileInfo(fileInfo);
    next->dvsReader = events;
    next->apsTimeOffset = uint64_t(std::max<int64_t>(fileInfo.apsTimeOffset, 0));
    qDebug() << "Read aps file time offset: " << next->apsTimeOffset;
    // The range starts with the first frame; a set whose frames start after its last event
    // still shows its events.
    const uint64_t lower = std::min(next->apsTimeOffset, lastTimestamp);
    {
        std::unique_lock lock(commandMutex);
        loadingReader.reset();
        if (openGeneration != generation) {
            lock.unlock();
            emit signalLoadingStatus(false);
            return;
        }
        recording = std::move(next);
        transport.open(lower, lastTimestamp);
        loaded = true;
        // Cleared before signalPlayStatus(true): the play button answers it with
        // slotPlaybackCtrl(true), which must find the load finished.
        loading = false;
    }
    qDebug() << "fusion file start : " << lower << "fusion_file_end_timestamp_: " << lastTimestamp
             << "time base: " << lower;
    const std::vector<uint64_t> profile = events->getEventRateProfile(sorvane::DvsFileReader::kRateProfileBins);
    emit signalEventRateProfile(QList<quint64>(profile.begin(), profile.end()), firstTimestamp, lastTimestamp);
    emit signalEndTimeStamp(lastTimestamp);
    emit signalStartTimeStamp(lower);
    emit signalTimeStamp(lower);
    emit signalLoadingStatus(false);
    emit signalPlayStatus(true);
}

bool SvFusionCameraDataProcessor::playbackUsable() const
{
    return setLoaded();
}

void SvFusionCameraDataProcessor::slotSetReplayFlag(bool enabled)
{
    transport.setLoop(enabled);
}

bool SvFusionCameraDataProcessor::buildImage(uint64_t t, uint64_t accumulation)
{
    builtImage = buildFusionFrame(t, accumulation);
    return builtImage.has_value();
}

void SvFusionCameraDataProcessor::showImage(uint64_t t)
{
    emit signalFusionImage(*builtImage);
    emit signalTimeStamp(t);
    builtImage.reset();
}

void SvFusionCameraDataProcessor::dropImage()
{
    builtImage.reset();
}

void SvFusionCameraDataProcessor::playbackFinished()
{
    emit signalPalyFileFinished();
    emit signalTimeStamp(transport.lowerBound());
}

std::optional<QImage> SvFusionCameraDataProcessor::buildFusionFrame(uint64_t t, uint64_t accumulation)
{
    if (!recording)
        return std::nullopt;
    FusionRecording& r = *recording;
    // The frame shown at t: the last one that started at or before it (the first before any).
    const uint64_t apsTime = t > r.apsTimeOffset ? t - r.apsTimeOffset : 0;
    const auto after = std::upper_bound(r.frameTimestamps.begin(), r.frameTimestamps.end(), apsTime);
    const int64_t index = std::max<int64_t>(0, int64_t(after - r.frameTimestamps.begin()) - 1);
    if (index != r.currentFrameIndex) {
        // The reader decodes forward when the frame lies ahead, and seeks only when it must.
        ApsFrame frame;
        if (!r.apsReader->seekFrame(index) || !r.apsReader->getNextFrame(frame)) {
            qDebug() << "aps frame " << index << " unreadable.";
            return std::nullopt;
        }
        r.currentApsFrame = mapToDvs(frame);
        r.currentFrameIndex = index;
    }
    const int type = viewerType.load();
    if (type == sorvane::STREAM_APS || accumulation == 0)
        return toImage(r.currentApsFrame);
    // (t - accumulation, t]: the window ends with the position, which it includes.
    const uint64_t start = sorvane::eventimage::windowStart(t, accumulation);
    const std::shared_ptr<sorvane::EventBuffer> events = r.dvsReader->getEventsByTime(start, t - start + 1);
    const Event2D* begin = events ? events->data() : nullptr;
    const Event2D* end = events ? events->data() + events->size() : nullptr;
    const EventColors colors = config->eventColors();
    const std::optional<sorvane::EventRegion> only = shownRegion();
    if (type == sorvane::STREAM_DVS) {
        // The events alone, painted as an event recording's are, where the live view shows them.
        // The window read is this call's own, so it is turned back in place.
        if (events)
            for (Event2D& e : *events)
                e.x = uint16_t(dvsWidth - 1 - e.x);
        std::fill(r.eventCounts.begin(), r.eventCounts.end(), uint16_t(0));
        sorvane::eventimage::count(r.eventCounts.data(), begin, end, only ? &*only : nullptr);
        QImage image;
        SvEventProcessor::paintFrame(r.eventCounts, image, colors.positive, colors.negative, colors.background);
        return image;
    }
    QImage image = toImage(r.currentApsFrame);
    drawEvents(image, begin, end, true, colors.positive, colors.negative, only ? &*only : nullptr);
    return image;
}
