#pragma once
// Turns DVS event streams into 1280 x 720 images, for a live camera and for `.raw` recordings.
//
// Events are counted per pixel and polarity into a back plane; commitFrame() swaps it with the
// front plane and wakes the render thread, which paints the front plane with the configured
// palette and emits signalEventImage. The file side plays a recording frame by frame on a
// playback thread and hands cuts and video exports to the reader on worker threads.
//
// Threads: slots run on the GUI thread; accumulateEvents() may run on a capture thread; all
// signals except those of GUI-thread slots are emitted from worker threads (connect queued).
#include "SorvaneDriver/Render/EventImage.h"
#include "app/SvMessageType.h"
#include "processing/RecordingPlayer.h"
#include "sdk/SvEventRecords.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class ConfigStore;

namespace sorvane {
class DvsFileReader;
struct VideoExportOptions;
enum class ExistingFile;
}

class SvEventProcessor : public RecordingPlayer {
    Q_OBJECT
public:
    static constexpr int frameWidth = sorvane::eventimage::width;
    static constexpr int frameHeight = sorvane::eventimage::height;
    static constexpr size_t planeSize = sorvane::eventimage::planeSize;

    using CountPlane = sorvane::eventimage::CountPlane;

    explicit SvEventProcessor(QObject* parent = nullptr);
    ~SvEventProcessor() override;
    SvEventProcessor(const SvEventProcessor&) = delete;
    SvEventProcessor& operator=(const SvEventProcessor&) = delete;

    // Counts [begin, end) into the back plane, saturating at eventimage::countCap. Events outside the frame
    // or with a polarity other than 0 and 1 are dropped. Safe from one capture thread while the
    // GUI thread commits.
    void accumulateEvents(const sorvane::Event2D* begin, const sorvane::Event2D* end);
    // Emits signalRealTimeTimeStamp(lastBatchTimestamp), then commits: the live path. Does
    // nothing when no batch came since the last commit: a second request queued behind the
    // first (the GUI thread was busy) would otherwise show an empty frame.
    void showEvents();
    // Hands the counted plane to the render thread and starts an empty one.
    void commitFrame();

    // Paints counts (planeSize entries) into image (RGB888, 1280 x 720): background everywhere,
    // then positive where polarity 1 has events and is not outnumbered, negative where
    // polarity 0 outnumbers it.
    // A load, cut or export is running on the reader.
    bool isBusy() const { return loading || fileJobsRunning > 0; }

    static void paintFrame(const CountPlane& counts, QImage& image, QColor positive, QColor negative,
                           QColor background);

public slots:
    void loadFile(QString file_path);
    void slotPlayLoop(bool enabled);
    // replace: the user agreed to replace an existing file at the target; else one is refused.
    // region: only the events of these pixels are written (all of them when it is null).
    void slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts,
                        bool replace = false, QRect region = QRect());
    void slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts,
                         bool replace = false, QRect region = QRect());
    // Stops the load, cut or export under way; it ends without output, with a tip.
    void slotCancelWork();

signals:
    void signalEventImage(QImage image);
    void signalRealTimeTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalLoadingStatus(bool loading);
    // Percent done of the load, cut or export under way, from the reader's progress reports.
    void signalProgress(int percent);
    void signalShowLeftBottomTips(QString tips, SvMessageType type = Success, QString file_path = QString());
    // The recording now open, as its path was given; empty when none is (closed, unreadable or
    // its load failed or was cancelled).
    void signalRecordingOpened(QString file_path);
    // Events per time bin of the loaded recording, the bins splitting [first, last] evenly.
    void signalEventRateProfile(QList<quint64> counts, uint64_t first, uint64_t last);

private:
    struct FileJob {
        uint64_t startTimestamp;
        uint64_t endTimestamp;
        QString outFullPath;
        QString outDir;
        SvEventProcessor* processor;
        sorvane::ExistingFile existing;
        // Only the events inside it are written, when given.
        std::optional<sorvane::EventRegion> region;
    };

    void renderLoop();
    // Picks an image no receiver still holds, so painting never copies a shared image.
    void prepareFrameImage();

    bool playbackUsable() const override;
    bool buildImage(uint64_t t, uint64_t accumulation) override;
    void showImage(uint64_t t) override;
    void dropImage() override;
    void playbackFinished() override;
    void setReader(std::shared_ptr<sorvane::DvsFileReader> next);
    std::shared_ptr<sorvane::DvsFileReader> currentReader();
    void reportProgress(double fraction);
    bool targetIsOpenRecording(const QString& path) const;
    // Before a cut or an export: a loaded recording, a target that is not it (else an Error
    // tip with the refusal), and playback paused. False when the job must not run.
    bool prepareFileJob(const QString& target, const QString& refusal);
    // A warning when the loaded recording had events outside its sensor or damaged time words.
    void reportDamage();
    static void runCut(std::unique_ptr<FileJob> job);
    static void runExport(std::unique_ptr<FileJob> job, sorvane::VideoExportOptions options);
    static void runFileJob(std::unique_ptr<FileJob> job, const char* what, const QString& success, const QString& failure,
                           const QString& cancelled,
                           const std::function<bool(sorvane::DvsFileReader&, const FileJob&)>& write);

    // --- frame builder ---
    QImage frameImage;
    // Images emitted earlier, reused once their receivers have dropped them.
    std::vector<QImage> spareImages;
    std::unique_ptr<CountPlane> backCounts;
    std::unique_ptr<CountPlane> frontCounts;
    std::atomic<uint64_t> lastBatchTimestamp{0};
    // Batches counted since the live path last committed (empty ones too: no events is a frame).
    std::atomic<uint64_t> batchesSinceShown{0};
    // Guards frontCounts, the exchange of the two plane pointers, frameCommitted and renderRunning;
    // the render thread holds it while it paints and emits.
    std::mutex frameMutex;
    // Guards the contents of backCounts against counting during the exchange and the clearing.
    std::mutex planeMutex;
    std::condition_variable frameReady;
    bool frameCommitted = false;
    bool renderRunning = false;
    std::thread renderThread;
    ConfigStore* config = nullptr;

    // --- playback ---
    // Replaced on the GUI thread only; the playback thread takes its own reference.
    std::shared_ptr<sorvane::DvsFileReader> reader;
    // Guards the reader pointer while it is replaced or copied.
    std::mutex readerMutex;
    QString openFilePath;
    std::atomic<bool> readerLoaded{false};
    std::atomic<bool> loading{false};
    // Cuts and exports started and not yet finished; playback commands wait for none of them
    // but are refused while any runs, since the reader serves one caller at a time.
    std::atomic<int> fileJobsRunning{0};
    std::atomic<int> lastProgress{-1};
    // Set by the destructor: a cancelled load then ends without tips.
    std::atomic<bool> closing{false};
    // The user cancelled the work under way.
    std::atomic<bool> workCancelled{false};
    // Serialises the reader's use by the playback thread and by cuts and exports.
    std::mutex readMutex;
    // Serialises cuts and exports on the one reader.
    std::mutex fileJobMutex;
    std::thread loaderThread;
    std::thread exportVideoThread;
    std::thread cutThread;
};
