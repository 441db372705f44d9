#pragma once
// The simulated cameras built into the SDK: event cameras "Orion4" and "Vesper" and the fusion
// camera "Tandem", each watching the synthetic scene. They behave as the hardware does: events
// in camera time paced to wall time, statistics once a second, trigger-in edges, recording with
// a pre-trigger cache, and a cable that can be pulled (setPlugged) to test connection loss.
#include "SorvaneDriver/Simulated/ApsFrameRenderer.h"
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/VideoSupport.h"
#include "SorvaneDriver/Simulated/SimulatedSensor.h"

#include <array>
#include <map>
#include <optional>

namespace sorvane {

struct SimulatedCameraModel {
    std::string serial;
    std::string product;
    bool fusion = false;
    SceneKind scene = SceneKind::Mixed;
    double eventRate = 2e6;
    uint64_t seed = 1;
};

class SimulatedCameraProvider : public CameraProvider {
public:
    static const std::vector<SimulatedCameraModel>& models();
    // The serial of the simulated camera of this product; empty when there is none.
    static std::string serialOf(const std::string& product);
    // Plugs or unplugs a simulated device: every open handle of it follows, as with a cable.
    static void setPlugged(const std::string& serial, bool plugged);
    static bool isPlugged(const std::string& serial);

    std::vector<CameraDescription> listCameras() override;
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial) override;
    std::shared_ptr<FusionCamera> openFusionCamera(const std::string& serial) override;
};

class SimulatedDvsCamera : public DvsCamera {
public:
    static constexpr int Width = 1280;
    static constexpr int Height = 720;

    SimulatedDvsCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link);
    ~SimulatedDvsCamera() override;

    bool isConnected() override;
    uint32_t addTriggerInCallback(TriggerInCallback callback) override;
    bool removeTriggerInCallback(uint32_t id) override;
    bool getNextBatch(std::vector<Event2D>& events) override;
    void setBatchEventsTime(uint64_t batchTimeUs) override;
    int start() override;
    void stop() override;
    bool startRecording(const std::string& path) override;
    bool startRecordingFrom(const std::string& path, uint64_t cameraTime) override;
    bool setRecordCacheTime(uint16_t seconds, const std::string& cacheFolder) override;
    bool stopRecording() override;
    void setStatisticInfoCallback(StatisticInfoCallback callback) override;

    // Simulation controls.
    void setEventRate(double eventsPerSecond) { stream.pipeline().setEventRate(eventsPerSecond); }
    // Events that left the live queue unread (the reader fell more than its backlog behind).
    uint64_t lostEvents() const { return live.lostEvents(); }
    uint64_t cameraTime() const { return stream.producedUntil(); }
    uint64_t recordedEvents() const { return stream.recorder().recordedEvents(); }

private:
    SimulatedDvsCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link, SensorTools tools);
    bool record(const std::string& path, std::optional<uint64_t> from);

    SensorTools tools;
    std::shared_ptr<DeviceLink> link;
    LiveBatchQueue live;
    std::atomic<uint64_t> batchTime{33333};
    // Guards triggerCallbacks and nextCallbackId; held while the producer calls them, so a
    // removed callback is never called afterwards.
    std::mutex callbackMutex;
    std::map<uint32_t, TriggerInCallback> triggerCallbacks;
    uint32_t nextCallbackId = 0;
    SimulatedStream stream;
};

// Encodes recorded APS frames on its own thread, so the frame thread never waits for the encoder.
class ApsVideoRecorder {
public:
    static constexpr size_t MaxQueuedFrames = 30;

    ~ApsVideoRecorder();
    bool open(const std::string& path, int width, int height, int fps);
    // frame's timestamp is taken relative to origin. A full queue drops the frame (logged).
    void push(const ApsFrame& frame, uint64_t origin);
    // Encodes what is queued and closes the file.
    bool close();
    int64_t droppedFrames() const { return dropped.load(); }

private:
    void run();

    std::unique_ptr<LiveVideoWriter> writer;
    // Guards frames and closing between the frame thread and the encoder thread.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<ApsFrame, uint64_t>> frames;
    bool closing = false;
    bool writeFailed = false;
    std::atomic<int64_t> dropped{0};
    std::thread thread;
};

class SimulatedFusionCamera : public FusionCamera {
public:
    static constexpr int DvsWidth = 1280;
    static constexpr int DvsHeight = 720;
    static constexpr int ApsWidth = 1920;
    static constexpr int ApsHeight = 1080;
    // DVS pixel (x, y) lands on APS column 1.4 x + 64, row 1.4 y + 36.
    static constexpr std::array<double, 6> DvsToAps = {1.4, 0, 64, 0, 1.4, 36};
    // Frames waiting to be read out beyond which a sync edge is skipped.
    static constexpr size_t MaxPendingFrames = 2;

    SimulatedFusionCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link);
    ~SimulatedFusionCamera() override;

    bool isConnected() override;
    void addEventsCallback(EventsCallback callback) override;
    void addApsFrameCallback(ApsFrameCallback callback) override;
    uint32_t addTriggerInCallback(TriggerInCallback callback) override;
    int start(STREAM_TYPE type) override;
    void stop(STREAM_TYPE type) override;
    void close() override;
    bool startRecording(const std::string& folder, const std::string& baseName, STREAM_TYPE type) override;
    bool stopRecording(STREAM_TYPE type) override;
    void setStatisticInfoCallback(StatisticInfoCallback callback) override;
    bool getCalibratorParameters(CalibratorParameters& parameters) override;

    // Simulation controls.
    void setEventRate(double eventsPerSecond) { stream.pipeline().setEventRate(eventsPerSecond); }
    uint64_t cameraTime() const { return stream.producedUntil(); }
    uint64_t framesDelivered() const { return frameCount.load(); }

    // The calibration file of a recording set, as JSON text.
    static std::string calibrationJson(const CalibratorParameters& parameters);

private:
    struct FrameJob {
        uint64_t index = 0;
        uint64_t start = 0; // exposure start on the event clock
        uint64_t end = 0;   // the sync edge that closes the frame
    };

    SimulatedFusionCamera(const SimulatedCameraModel& model, std::shared_ptr<DeviceLink> link, SensorTools tools,
                          std::shared_ptr<ApsTool> aps);
    void deliver(const ChunkPtr& chunk);
    void frameSync(uint64_t begin, uint64_t end, const ParameterValues& triggerIn, std::vector<EventTriggerIn>& out);
    void runFrames();
    bool restartStream();

    SensorTools tools;
    std::shared_ptr<ApsTool> apsTool;
    std::shared_ptr<DeviceLink> link;
    std::atomic<bool> closed{false};
    std::atomic<bool> dvsOn{false};
    std::atomic<bool> apsOn{false};
    std::atomic<uint64_t> frameCount{0};

    // Guards eventsCallbacks, triggerCallbacks and nextCallbackId; held while the producer calls them.
    std::mutex streamCallbackMutex;
    std::vector<EventsCallback> eventsCallbacks;
    std::map<uint32_t, TriggerInCallback> triggerCallbacks;
    // Guards frameCallbacks; held while the frame thread calls them.
    std::mutex frameCallbackMutex;
    std::vector<ApsFrameCallback> frameCallbacks;
    uint32_t nextCallbackId = 0;

    // Frame schedule, on the producer thread.
    uint64_t frameStart = 0;
    uint64_t nextSync = 0;
    uint64_t frameIndex = 0;
    bool scheduleStarted = false;
    std::vector<EventTriggerIn> pendingEdges;

    // Guards jobs, stopFrames and the recording state between producer, frame thread and caller.
    std::mutex frameMutex;
    std::condition_variable frameChanged;
    std::deque<FrameJob> jobs;
    bool stopFrames = false;
    std::unique_ptr<ApsVideoRecorder> video;
    uint64_t videoOrigin = 0;   // event time of the first recorded frame
    uint64_t recordFrom = 0;    // frames starting at or after this are recorded
    std::thread frameThread;

    ApsFrameRenderer renderer;
    double autoExposureUs = 10000;
    SimulatedStream stream;
};

} // namespace sorvane
