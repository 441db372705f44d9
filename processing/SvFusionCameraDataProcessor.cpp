#include "processing/SvFusionCameraDataProcessor.h"

#include "SorvaneDriver/Render/EventImage.h"
#include "app/ConfigStore.h"
#include "processing/SvEventProcessor.h"
#include "sdk/Utils/Json/JsonUtils.h"

#include <SorvaneDriver/DvsFileReader.h>
#include <SorvaneDriver/FusionCamera.h>
#include <SorvaneDriver/Video/VideoExport.h>
#include <SorvaneDriver/Video/SetCut.h>

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <chrono>

using sorvane::ApsFrame;
using sorvane::Event2D;

namespace {

// A mapped frame as an image of its own, to draw on: the frame itself stays the background of
// the next images.
QImage toImage(const ApsFrame& frame)
{
    QImage image(SvFusionCameraDataProcessor::dvsWidth, SvFusionCameraDataProcessor::dvsHeight, QImage::Format_BGR888);
    sorvane::drawFrame(frame, image.bits(), size_t(image.bytesPerLine()));
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
    if (!sorvane::fitsEventGrid(parameters)) {
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
        const sorvane::Palette colours = config->eventColors().palette();
        sorvane::drawEventsOver(image.bits(), size_t(image.bytesPerLine()), begin, end, false, colours.positive,
                                colours.negative);
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
    const std::string target = out.toLocal8Bit().toStdString();
    const auto existing = replace ? sorvane::ExistingFile::Replace : sorvane::ExistingFile::Refuse;
    runSetJob(tr("Fusion set cut: ") + out, tr("Cut recording failed."), tr("Cut cancelled."), outDir, region,
              [=, this](sorvane::DvsFileReader& events, const std::string& source, std::string& error) {
                  return sorvane::cutFusionSet(events, source, start, end, target, existing, progressOfJob(),
                                               cutCancelled, error);
              });
}

void SvFusionCameraDataProcessor::slotExportSet(QString out, QString outDir, uint64_t start, uint64_t end, bool replace,
                                                QRect region)
{
    // The video looks like the playback: what is on screen, at the fixed playback pace.
    sorvane::FusionExportOptions options;
    options.view = fusionView();
    options.video.accTime = transport.accumulation();
    options.video.frameStep = transport.frameStep();
    options.video.fps = int(std::chrono::seconds(1) / PlaybackTransport::kPeriod);
    const sorvane::Palette colours = config->eventColors().palette();
    options.video.positiveColor = colours.positive;
    options.video.negativeColor = colours.negative;
    options.video.backgroundColor = colours.background;
    sorvane::Calibrator calibration;
    {
        std::lock_guard lock(calibratorMutex);
        calibration = calibrator;
    }
    const std::string target = out.toLocal8Bit().toStdString();
    const auto existing = replace ? sorvane::ExistingFile::Replace : sorvane::ExistingFile::Refuse;
    runSetJob(tr("Export video success!"), tr("Export video failed."), tr("Export cancelled."), outDir, region,
              [=, this](sorvane::DvsFileReader& events, const std::string& source, std::string& error) mutable {
                  options.calibration = &calibration;
                  return sorvane::exportFusionVideo(events, source, start, end, target, existing, options,
                                                    progressOfJob(), cutCancelled, error);
              });
}

sorvane::ProgressCallback SvFusionCameraDataProcessor::progressOfJob()
{
    return [this, shown = 0](double fraction) mutable {
        const int percent = std::clamp(int(fraction * 100), 0, 100);
        if (percent != shown)
            emit signalProgress(shown = percent);
    };
}

void SvFusionCameraDataProcessor::runSetJob(const QString& doneTip, const QString& failedTip,
                                            const QString& cancelledTip, const QString& outDir, QRect region, SetJob work)
{
    if (!loaded || loading || openedSet.isEmpty())
        return;
    const std::string source = openedSet.toLocal8Bit().toStdString();
    // The region is marked on the image, whose columns are the readout's turned.
    std::optional<sorvane::EventRegion> only = eventRegionOf(region);
    if (only)
        only = sorvane::readoutRegion(*only);
    ++cutsRunning;
    cutThread = std::thread([this, previous = std::move(cutThread), source, only, doneTip, failedTip, cancelledTip, outDir,
                             work = std::move(work)]() mutable {
        if (previous.joinable())
            previous.join();
        cutCancelled = false;
        emit signalLoadingStatus(true);
        emit signalProgress(0);
        std::string error;
        // A reader of its own: playback keeps reading the open one meanwhile.
        std::shared_ptr<sorvane::DvsFileReader> events = sorvane::DvsFileReader::createFileReader(source, error);
        const bool done = events && events->loadFile() && (!only || events->setRegion(only, error))
            && work(*events, source, error);
        // Free for the next command before the outcome is told.
        --cutsRunning;
        if (done)
            emit signalShowLeftBottomTips(doneTip, Success, outDir);
        else if (cutCancelled)
            emit signalShowLeftBottomTips(cancelledTip, Warning);
        else
            emit signalShowLeftBottomTips(failedTip + " " + QString::fromStdString(error), Error);
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

    if (QFileInfo::exists(calibrationPath)) {
        sorvane::CalibratorParameters parameters;
        if (sorvane::readCalibrationFile(base + ".json", parameters))
            loadCalibration(parameters, calibrationPath);
        else
            emit signalShowLeftBottomTips(
                tr("The calibration file %1 is unreadable; the previous calibration is used.").arg(calibrationPath),
                Warning);
    }
    auto next = std::make_unique<FusionRecording>();
    {
        std::string error;
        std::lock_guard lock(calibratorMutex);
        next->picture = sorvane::FusionPicture::open(base + ".mp4", calibrator, error);
    }
    if (!next->picture) {
        qDebug() << "Load aps file failed.";
        fail(tr("Open recording failed: cannot read the frames of %1").arg(videoPath));
        return;
    }

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
    next->picture->setTimeOffset(fileInfo.apsTimeOffset);
    // The range starts with the first frame; a set whose frames start after its last event
    // still shows its events.
    const uint64_t lower = sorvane::fusionSetStart(fileInfo.apsTimeOffset, lastTimestamp);
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

sorvane::FusionView SvFusionCameraDataProcessor::fusionView() const
{
    switch (viewerType.load()) {
    case sorvane::STREAM_APS:
        return sorvane::FusionView::Aps;
    case sorvane::STREAM_DVS:
        return sorvane::FusionView::Dvs;
    default:
        return sorvane::FusionView::Fusion;
    }
}

std::optional<QImage> SvFusionCameraDataProcessor::buildFusionFrame(uint64_t t, uint64_t accumulation)
{
    if (!recording)
        return std::nullopt;
    QImage image(dvsWidth, dvsHeight, QImage::Format_BGR888);
    const std::optional<sorvane::EventRegion> only = shownRegion();
    std::string error;
    if (!recording->picture->paint(*recording->dvsReader, t, accumulation, fusionView(),
                                   config->eventColors().palette(), only ? &*only : nullptr, image.bits(),
                                   size_t(image.bytesPerLine()), error)) {
        qDebug() << "fusion image at" << t << "unreadable:" << error.c_str();
        return std::nullopt;
    }
    return image;
}
