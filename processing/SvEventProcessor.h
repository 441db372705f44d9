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
#include "app/SvMessageType.h"
#include "sdk/SvEventRecords.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ConfigStore;

class SvEventProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr int frameWidth = 1280;
    static constexpr int frameHeight = 720;
    static constexpr uint16_t countCap = 10;
    static constexpr size_t planeSize = size_t(frameWidth) * frameHeight * 2;

    using CountPlane = std::vector<uint16_t>;

    explicit SvEventProcessor(QObject* parent = nullptr);
    ~SvEventProcessor() override;
    SvEventProcessor(const SvEventProcessor&) = delete;
    SvEventProcessor& operator=(const SvEventProcessor&) = delete;

    // Counts [begin, end) into the back plane, saturating at countCap. Events outside the frame
    // or with a polarity other than 0 and 1 are dropped. Safe from one capture thread while the
    // GUI thread commits.
    void accumulateEvents(const sorvane::Event2D* begin, const sorvane::Event2D* end);
    // Emits signalRealTimeTimeStamp(lastBatchTimestamp), then commits: the live path.
    void showEvents();
    // Hands the counted plane to the render thread and starts an empty one.
    void commitFrame();

    // Paints counts (planeSize entries) into image (RGB888, 1280 x 720): background everywhere,
    // then positive where polarity 1 has events and is not outnumbered, negative where
    // polarity 0 outnumbers it.
    static void paintFrame(const CountPlane& counts, QImage& image, QColor positive, QColor negative,
                           QColor background);

signals:
    void signalEventImage(QImage image);
    void signalRealTimeTimeStamp(uint64_t timestamp_us);

private:
    void renderLoop();
    // Picks an image no receiver still holds, so painting never copies a shared image.
    void prepareFrameImage();

    // --- frame builder ---
    QImage frameImage;
    // Images emitted earlier, reused once their receivers have dropped them.
    std::vector<QImage> spareImages;
    std::unique_ptr<CountPlane> backCounts;
    std::unique_ptr<CountPlane> frontCounts;
    std::atomic<uint64_t> lastBatchTimestamp{0};
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
};
