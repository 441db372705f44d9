#pragma once
// The event sensor of the simulated cameras: the synthetic scene seen through the camera's
// tools (biases, trigger inputs, anti-flicker, trail filter, rate control, ROI), produced in
// camera time paced to wall time on a producer thread, as hardware streams.
#include "SorvaneDriver/DvsCamera.h"
#include "SorvaneDriver/Simulated/EventFilters.h"
#include "SorvaneDriver/Simulated/StreamChunk.h"
#include "SorvaneDriver/Simulated/StreamRecorder.h"
#include "SorvaneDriver/Simulated/SyntheticScene.h"
#include "SorvaneHal/CameraTools.h"
#include "SorvaneBase/SvObjectPool.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sorvane {

// The cable: shared by every handle of one simulated device, so pulling it (setPlugged(false))
// disconnects them all.
struct DeviceLink {
    std::atomic<bool> plugged{true};
};

struct SensorTools {
    std::shared_ptr<BiasesTool> biases;
    std::shared_ptr<TriggerInTool> triggerIn;
    std::shared_ptr<AntiFlickerTool> antiFlicker;
    std::shared_ptr<EventTrailFilterTool> trailFilter;
    std::shared_ptr<EventRateControlTool> rateControl;
    std::shared_ptr<RoiTool> roi;

    static SensorTools create(int width, int height, bool frameSyncInput);
    ToolMap toolMap() const;
};

// The simulated trigger inputs (the fusion camera's frame sync too) report a rising edge as
// polarity 0 and a falling edge as polarity 1, the convention the viewer's edge settings read.
constexpr int16_t RisingEdge = 0;
constexpr int16_t FallingEdge = 1;

// A pulse train on one trigger input: rising edges at phase + k * period, falling high later.
struct PeriodicTrigger {
    int16_t channel = 0;
    uint64_t period = 1000000;
    uint64_t phase = 500000;
    uint64_t high = 100000;

    // Appends the edges of [begin, end) in time order.
    void edges(uint64_t begin, uint64_t end, std::vector<EventTriggerIn>& out) const;
};

// Scene plus tools, one millisecond at a time. Producer thread only, except setEventRate.
class EventPipeline {
public:
    // Adds the trigger edges of [begin, end) given the trigger tool's current values.
    using TriggerSource = std::function<void(uint64_t begin, uint64_t end, const ParameterValues& triggerIn,
                                             std::vector<EventTriggerIn>& out)>;

    EventPipeline(SceneKind kind, double eventRate, uint64_t seed, int width, int height, SensorTools tools);

    void setTriggerSource(TriggerSource source) { triggerSource = std::move(source); }
    // Safe from any thread; applies from the next millisecond.
    void setEventRate(double eventsPerSecond) { requestedRate.store(eventsPerSecond); }
    double eventRate() const { return requestedRate.load(); }

    // Appends every whole millisecond before until to chunk and extends chunk.end.
    void produce(uint64_t until, StreamChunk& chunk);
    uint64_t position() const { return scene.position(); }
    int width() const { return scene.width(); }
    int height() const { return scene.height(); }
    const SyntheticScene& syntheticScene() const { return scene; }

    static TriggerSource externalInputs();

private:
    void refreshSettings();

    SyntheticScene scene;
    SensorTools tools;
    TriggerSource triggerSource;
    std::atomic<double> requestedRate;
    uint64_t seenVersions[6] = {};
    ParameterValues triggerValues;
    RoiSettings roi;
    bool rateControlEnabled = false;
    uint64_t maxEventsPerTick = 0;
    AntiFlickerFilter antiFlicker;
    TrailFilter trailFilter;
};

// The producer thread: paces the pipeline to wall time, hands each chunk to the sink, feeds the
// recorder and reports statistics once per camera-time second.
class SimulatedStream {
public:
    using ChunkSink = std::function<void(const ChunkPtr&)>;
    static constexpr uint64_t WakeUs = 2000;

    SimulatedStream(std::string serial, std::shared_ptr<DeviceLink> link, std::unique_ptr<EventPipeline> pipeline);
    ~SimulatedStream();

    // sink runs on the producer thread. False when the device is unplugged or already running.
    bool start(ChunkSink sink);
    void stop();
    bool isRunning() const { return running.load(); }
    bool isPlugged() const { return link->plugged.load(); }

    void setStatisticCallback(StatisticInfoCallback callback);
    // Bytes per second the stream needs besides the events (frames of a fusion camera).
    void setExtraBandwidth(uint64_t bytesPerSecond) { extraBandwidth.store(bytesPerSecond); }

    EventPipeline& pipeline() { return *eventPipeline; }
    StreamRecorder& recorder() { return streamRecorder; }
    const StreamRecorder& recorder() const { return streamRecorder; }
    // Camera time up to which the stream has been produced.
    uint64_t producedUntil() const { return produced.load(); }

private:
    void run(ChunkSink sink);
    void countStatistics(const StreamChunk& chunk);

    std::string serial;
    std::shared_ptr<DeviceLink> link;
    std::unique_ptr<EventPipeline> eventPipeline;
    StreamRecorder streamRecorder;
    SvObjectPool<StreamChunk> chunkPool;
    std::atomic<bool> running{false};
    std::atomic<uint64_t> produced{0};
    std::atomic<uint64_t> extraBandwidth{0};

    // Guards statisticCallback against replacement while the producer calls it.
    std::mutex statisticMutex;
    StatisticInfoCallback statisticCallback;
    uint64_t statisticSecond = 0;
    uint64_t secondEvents = 0;
    uint64_t secondBytes = 0;
    Evt3SizeCounter sizeCounter;

    // Guards stopRequested for the producer's timed sleep.
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopRequested = false;
    std::thread producer;
};

// Chunks waiting for getNextBatch, cut into batch intervals of camera time. Keeps at most
// BacklogUs of stream; older chunks are dropped and counted as lost.
class LiveBatchQueue {
public:
    static constexpr uint64_t BacklogUs = 1000000;

    // Starts a new stream at camera time position.
    void reset(uint64_t position);
    void push(const ChunkPtr& chunk);
    // The stream has ended (stopped or unplugged): unread chunks are dropped, readers return.
    void end();
    // Waits until [next batch start, + batchTime) is complete or the stream ends, then replaces
    // events with that interval's events; true when there were any.
    bool nextBatch(std::vector<Event2D>& events, uint64_t batchTime);
    uint64_t lostEvents() const { return lost.load(); }

private:
    // Guards chunks, batchStart, producedUntil and ended between producer and reader.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<ChunkPtr> chunks;
    uint64_t batchStart = 0;
    uint64_t producedUntil = 0;
    bool ended = true;
    std::atomic<uint64_t> lost{0};
};

} // namespace sorvane
