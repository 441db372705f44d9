#pragma once
// Images of a fusion source, where a frame (APS) sensor and an event (DVS) sensor watch the same
// scene: a live fusion camera, whose frames are paired with their events, or a fusion recording
// (base.raw events, base.mp4 frames, base.json calibration) played frame by frame. APS frames are
// mapped onto the 1280 x 720 event grid before anything is drawn.
//
// Threads: slots run on the GUI thread. The live operations run on the camera's threads. The
// recording is opened, read and played on one playback thread that lives as long as the
// processor, so no file is read on the GUI thread. Signals come from those threads (connect
// queued).
#include "SorvaneHal/CameraTypes.h"
#include "app/SvMessageType.h"
#include "SorvaneDriver/Raw/EventRegion.h"
#include "SorvaneDriver/Render/EventImage.h"
#include "processing/RecordingPlayer.h"
#include "sdk/Calibrator.h"
#include "sdk/DvsApsFusionProccessor.h"
#include "SorvaneDriver/Video/FusionPicture.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <mutex>
#include <optional>
#include <vector>

class ConfigStore;

namespace sorvane {
class DvsFileReader;
class FusionCamera;
}

class SvFusionCameraDataProcessor : public RecordingPlayer {
    Q_OBJECT
public:
    static constexpr int dvsWidth = sorvane::eventimage::width;
    static constexpr int dvsHeight = sorvane::eventimage::height;

    explicit SvFusionCameraDataProcessor(QObject* parent = nullptr);
    ~SvFusionCameraDataProcessor() override;
    SvFusionCameraDataProcessor(const SvFusionCameraDataProcessor&) = delete;
    SvFusionCameraDataProcessor& operator=(const SvFusionCameraDataProcessor&) = delete;

    // --- live camera ---
    void setFusionCamera(std::shared_ptr<sorvane::FusionCamera> fusionCamera);
    // The camera's own calibration; one for another event sensor size is refused with a tip.
    void setCalibrationParameters(sorvane::CalibratorParameters parameters);
    // The camera's three callbacks: events are counted for the event view, then paired with
    // the frames at the sync signals.
    void addDvsEvents(const sorvane::Event2D* begin, const sorvane::Event2D* end);
    void addApsFrame(const sorvane::ApsFrame& frame);
    void addSyncSignal(const sorvane::EventTriggerIn& trigger);
    // Forgets the frames and events waiting to be paired and the events counted; the camera's
    // stream must be stopped.
    void clearFusionState();
    // Counts [begin, end) for the event view (viewer type 0 only), as event recordings are counted.
    void accumulateDvsEvents(const sorvane::Event2D* begin, const sorvane::Event2D* end);
    // Frames and batches dropped without a match, events dropped while sync signals stayed away.
    uint64_t droppedFrames() const { return fusionProcessor->droppedFrames(); }
    uint64_t droppedBatches() const { return fusionProcessor->droppedBatches(); }
    uint64_t droppedEvents() const { return fusionProcessor->droppedEvents(); }

    // A recording is being opened or cut.
    bool isBusy() const { return loading || cutsRunning > 0; }
    // A set is open and loaded.
    bool setLoaded() const { return loaded && !loading; }


public slots:
    void slotSetViewerType(sorvane::STREAM_TYPE type);
    // Opens the set that path belongs to (base.raw, base.mp4 and base.json, base being the
    // path up to its last "."); an empty path closes it. True when opening began.
    bool slotReadFusionFile(QString str);
    void slotSetReplayFlag(bool enabled);
    // Stops the load or the cut under way; it ends with a tip, and nothing open or written.
    void slotCancelWork();
    // Cuts [start, end] of the open set into the set out (out, and its .mp4 and .json) on a thread
    // of its own, reading the set afresh so that playback goes on; the outcome is told in a tip.
    // replace: the user agreed to replace members that exist. region: only its events are kept.
    void slotCutSet(QString out, QString outDir, uint64_t start, uint64_t end, bool replace, QRect region);
    // Exports [start, end] of the open set as the video out, each image painted as the viewer
    // type on screen paints it with the accumulation, frame step, colours and calibration in use
    // now; on the cut's thread, told in a tip. region: only its events are drawn.
    void slotExportSet(QString out, QString outDir, uint64_t start, uint64_t end, bool replace, QRect region);

signals:
    void signalFusionImage(QImage image);
    void signalTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    // Events per time bin of the loaded recording, the bins splitting [first, last] evenly.
    void signalEventRateProfile(QList<quint64> counts, uint64_t first, uint64_t last);
    void signalPalyFileFinished();
    void signalLoadingStatus(bool loading);
    // Percent of the cut or export under way.
    void signalProgress(int percent);
    void signalShowLeftBottomTips(QString tips, SvMessageType type = Success, QString file_path = QString());

private:
    // The open recording; only the playback thread touches it.
    struct FusionRecording {
        std::shared_ptr<sorvane::DvsFileReader> dvsReader;
        std::unique_ptr<sorvane::FusionPicture> picture;
    };
    // A file job on the cut's thread: a reader of the open set's events of its own (playback
    // goes on with the other), limited to region; true when work succeeded. Tells the outcome.
    using SetJob = std::function<bool(sorvane::DvsFileReader& events, const std::string& source, std::string& error)>;
    void runSetJob(const QString& doneTip, const QString& failedTip, const QString& cancelledTip, const QString& outDir,
                   QRect region, SetJob work);
    // Tells the percent of the job under way (cut's thread).
    sorvane::ProgressCallback progressOfJob();

    void onFusionData(sorvane::ApsFrame& frame, sorvane::Event2D* begin, sorvane::Event2D* end);
    sorvane::ApsFrame mapToDvs(sorvane::ApsFrame& frame);
    // False, with a Warning tip, for a calibration of another event sensor than the image's.
    bool loadCalibration(sorvane::CalibratorParameters& parameters, const QString& source);

    bool playbackUsable() const override;
    void openRecording(const QString& path, uint64_t generation);
    // Ends a load: true when it is still the one asked for last (then loading is cleared).
    bool endLoading(uint64_t openGeneration);
    bool buildImage(uint64_t t, uint64_t accumulation) override;
    void showImage(uint64_t t) override;
    void dropImage() override;
    void playbackFinished() override;
    // The image at t, painted as the viewer type says.
    std::optional<QImage> buildFusionFrame(uint64_t t, uint64_t accumulation);
    sorvane::FusionView fusionView() const;

    // --- live ---
    std::unique_ptr<sorvane::DvsApsFusionProccessor> fusionProcessor;
    sorvane::Calibrator calibrator;
    // Guards calibrator: a recording's calibration is loaded on the playback thread, a camera's
    // on the GUI thread, while frames may still be mapped on the camera's frame thread.
    std::mutex calibratorMutex;
    std::shared_ptr<sorvane::FusionCamera> camera;
    // Guards camera, set on the GUI thread and read on the camera's threads.
    std::mutex cameraMutex;
    std::atomic<int> viewerType{sorvane::STREAM_ALL};
    sorvane::eventimage::CountPlane dvsCounts;
    // Guards dvsCounts between the event thread counting and the frame thread painting.
    std::mutex countsMutex;
    ConfigStore* config = nullptr;

    // --- recording ---
    // The open recording and the image built last; only the playback thread touches them.
    std::unique_ptr<FusionRecording> recording;
    std::optional<QImage> builtImage;
    std::atomic<bool> loading{false};
    std::atomic<bool> loaded{false};
    std::atomic<bool> loadCancelled{false};
    // Guards generation and loadingReader.
    std::mutex commandMutex;
    // Counts recordings opened and closed, so that a load overtaken by another ends quietly.
    uint64_t generation = 0;
    // The event reader being loaded, so that a cancel or the destructor can stop its scan.
    std::shared_ptr<sorvane::DvsFileReader> loadingReader;
    // The .raw of the set asked for last (GUI thread only).
    QString openedSet;

    // Cuts and exports run one after another, each thread waiting for the one before.
    std::thread cutThread;
    std::atomic<int> cutsRunning{0};
    std::atomic<bool> cutCancelled{false};
};
