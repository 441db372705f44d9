#include "SorvaneDriver/Simulated/SimulatedSensor.h"

#include "SorvaneBase/Logger.h"

#include <algorithm>
#include <chrono>

namespace sorvane {

using Clock = std::chrono::steady_clock;

SensorTools SensorTools::create(int width, int height, bool frameSyncInput)
{
    SensorTools tools;
    tools.biases = std::make_shared<BiasesTool>();
    tools.triggerIn = std::make_shared<TriggerInTool>(frameSyncInput);
    tools.antiFlicker = std::make_shared<AntiFlickerTool>();
    tools.trailFilter = std::make_shared<EventTrailFilterTool>();
    tools.rateControl = std::make_shared<EventRateControlTool>();
    tools.roi = std::make_shared<RoiTool>(width, height);
    return tools;
}

ToolMap SensorTools::toolMap() const
{
    return {
        {ToolType::Biases, biases},
        {ToolType::TriggerIn, triggerIn},
        {ToolType::AntiFlicker, antiFlicker},
        {ToolType::EventTrailFilter, trailFilter},
        {ToolType::EventRateControl, rateControl},
        {ToolType::Roi, roi},
    };
}

void PeriodicTrigger::edges(uint64_t begin, uint64_t end, std::vector<EventTriggerIn>& out) const
{
    if (period == 0 || end <= begin)
        return;
    const uint64_t reach = phase + high;
    uint64_t k = begin > reach ? (begin - reach) / period : 0;
    for (;; ++k) {
        const uint64_t rising = phase + k * period;
        if (rising >= end)
            break;
        if (rising >= begin)
            out.emplace_back(channel, RisingEdge, rising);
        const uint64_t falling = rising + high;
        if (falling >= begin && falling < end)
            out.emplace_back(channel, FallingEdge, falling);
    }
}

EventPipeline::EventPipeline(SceneKind kind, double eventRate, uint64_t seed, int width, int height,
                             SensorTools tools_)
    : scene(kind, eventRate, seed, width, height)
    , tools(std::move(tools_))
    , requestedRate(eventRate)
    , antiFlicker(width, height)
    , trailFilter(width, height)
{
}

EventPipeline::TriggerSource EventPipeline::externalInputs()
{
    const PeriodicTrigger inputs[2] = {
        {0, 1000000, 500000, 100000}, // once a second
        {1, 100000, 50000, 10000},    // ten times a second
    };
    return [inputs](uint64_t begin, uint64_t end, const ParameterValues& values, std::vector<EventTriggerIn>& out) {
        const size_t first = out.size();
        if (ParameterTool::boolValue(values, param::Channel0))
            inputs[0].edges(begin, end, out);
        if (ParameterTool::boolValue(values, param::Channel1))
            inputs[1].edges(begin, end, out);
        std::stable_sort(out.begin() + std::ptrdiff_t(first), out.end(),
                         [](const EventTriggerIn& a, const EventTriggerIn& b) { return a.timestamp < b.timestamp; });
    };
}

void EventPipeline::refreshSettings()
{
    const ParameterTool* list[6] = {tools.biases.get(), tools.triggerIn.get(), tools.antiFlicker.get(),
                                    tools.trailFilter.get(), tools.rateControl.get(), tools.roi.get()};
    for (int i = 0; i < 6; ++i) {
        if (!list[i] || list[i]->version() == seenVersions[i])
            continue;
        seenVersions[i] = list[i]->version();
        const ParameterValues v = list[i]->values();
        switch (i) {
        case 0: {
            PixelBiases b;
            b.diffOn = ParameterTool::intValue(v, param::BiasDiffOn);
            b.diffOff = ParameterTool::intValue(v, param::BiasDiffOff);
            b.fo = ParameterTool::intValue(v, param::BiasFo);
            b.hpf = ParameterTool::intValue(v, param::BiasHpf);
            b.refr = ParameterTool::intValue(v, param::BiasRefr);
            scene.setBiases(b);
            break;
        }
        case 1:
            triggerValues = v;
            break;
        case 2: {
            AntiFlickerFilter::Settings s;
            s.enabled = ParameterTool::boolValue(v, param::Enable);
            s.bandPass = ParameterTool::enumValue(v, param::FilteringMode) == option::BandPass;
            s.lowHz = ParameterTool::intValue(v, param::LowFrequency, 50);
            s.highHz = ParameterTool::intValue(v, param::HighFrequency, 520);
            s.dutyCycle = ParameterTool::floatValue(v, param::DutyCycle, 100.0f);
            antiFlicker.configure(s);
            break;
        }
        case 3: {
            TrailFilter::Settings s;
            s.enabled = ParameterTool::boolValue(v, param::Enable);
            const std::string mode = ParameterTool::enumValue(v, param::FilteringType);
            s.mode = mode == option::StcCutTrail ? TrailFilter::Mode::StcCutTrail
                : mode == option::StcKeepTrail   ? TrailFilter::Mode::StcKeepTrail
                                                 : TrailFilter::Mode::Trail;
            s.thresholdUs = uint32_t(std::max(0, ParameterTool::intValue(v, param::Threshold, 10000)));
            trailFilter.configure(s);
            break;
        }
        case 4:
            rateControlEnabled = ParameterTool::boolValue(v, param::Enable);
            // kEv/s is events per millisecond, one rate-control window.
            maxEventsPerTick = uint64_t(std::max(0, ParameterTool::intValue(v, param::MaxEventRate)));
            break;
        case 5: {
            // Each corner is edited on its own, so a window moved past its old corner passes
            // through crossed pairs: the window spans the two values in either order.
            const int x0 = ParameterTool::intValue(v, param::RoiX0);
            const int x1 = ParameterTool::intValue(v, param::RoiX1);
            const int y0 = ParameterTool::intValue(v, param::RoiY0);
            const int y1 = ParameterTool::intValue(v, param::RoiY1);
            roi.enabled = ParameterTool::boolValue(v, param::Enable);
            roi.x0 = std::min(x0, x1);
            roi.x1 = std::max(x0, x1);
            roi.y0 = std::min(y0, y1);
            roi.y1 = std::max(y0, y1);
            break;
        }
        }
    }
}

void EventPipeline::produce(uint64_t until, StreamChunk& chunk)
{
    refreshSettings();
    scene.setEventRate(requestedRate.load());
    constexpr uint64_t tick = SyntheticScene::TickUs;
    while (scene.position() + tick <= until) {
        const uint64_t begin = scene.position();
        const uint64_t end = begin - begin % tick + tick;
        const size_t from = chunk.events.size();
        scene.generate(end, chunk.events);
        applyRoi(chunk.events, from, roi);
        antiFlicker.apply(chunk.events, from);
        trailFilter.apply(chunk.events, from);
        if (rateControlEnabled)
            limitEventRate(chunk.events, from, maxEventsPerTick);
        if (triggerSource)
            triggerSource(begin, end, triggerValues, chunk.triggers);
        chunk.end = end;
    }
}

SimulatedStream::SimulatedStream(std::string serial_, std::shared_ptr<DeviceLink> link_,
                                 std::unique_ptr<EventPipeline> pipeline_)
    : serial(std::move(serial_))
    , link(std::move(link_))
    , eventPipeline(std::move(pipeline_))
    , streamRecorder(serial)
    , chunkPool(32, [] { return std::make_unique<StreamChunk>(); })
{
}

SimulatedStream::~SimulatedStream()
{
    stop();
}

void SimulatedStream::setStatisticCallback(StatisticInfoCallback callback)
{
    std::lock_guard lock(statisticMutex);
    statisticCallback = std::move(callback);
}

bool SimulatedStream::start(ChunkSink sink)
{
    if (running.load())
        return false;
    if (!link->plugged.load()) {
        SV_LOG_ERROR("camera %s is not connected", serial.c_str());
        return false;
    }
    if (producer.joinable())
        producer.join(); // ended by itself (unplugged)
    {
        std::lock_guard lock(wakeMutex);
        stopRequested = false;
    }
    running.store(true);
    produced.store(eventPipeline->position());
    producer = std::thread([this, sink = std::move(sink)] { run(sink); });
    return true;
}

void SimulatedStream::stop()
{
    {
        std::lock_guard lock(wakeMutex);
        stopRequested = true;
    }
    wake.notify_all();
    if (producer.joinable())
        producer.join();
    running.store(false);
}

void SimulatedStream::run(ChunkSink sink)
{
    constexpr uint64_t tick = SyntheticScene::TickUs;
    constexpr uint64_t maxStepUs = 50000;
    const auto wallStart = Clock::now();
    const uint64_t cameraStart = eventPipeline->position();
    for (;;) {
        if (!link->plugged.load()) {
            SV_LOG_ERROR("camera %s lost its connection", serial.c_str());
            break;
        }
        const uint64_t elapsed = uint64_t(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - wallStart).count());
        const uint64_t position = eventPipeline->position();
        const uint64_t target = std::min(cameraStart + elapsed, position + maxStepUs);
        if (target >= position + tick) {
            std::shared_ptr<StreamChunk> chunk = chunkPool.acquire();
            chunk->clear();
            chunk->begin = position;
            chunk->end = position;
            eventPipeline->produce(target, *chunk);
            countStatistics(*chunk);
            produced.store(chunk->end);
            ChunkPtr shared = std::move(chunk);
            streamRecorder.push(shared);
            sink(shared);
        }
        const auto next = wallStart + std::chrono::microseconds(eventPipeline->position() - cameraStart + WakeUs);
        std::unique_lock lock(wakeMutex);
        if (wake.wait_until(lock, next, [this] { return stopRequested; }))
            break;
    }
    // Not running from here on, so a start() that follows joins this thread before it resets
    // what the end marker is about to close.
    running.store(false);
    sink(nullptr);
}

void SimulatedStream::countStatistics(const StreamChunk& chunk)
{
    auto emit = [this] {
        const SvStatisticInfo info(secondBytes + extraBandwidth.load(), secondEvents);
        {
            std::lock_guard lock(statisticMutex);
            if (statisticCallback)
                statisticCallback(info);
        }
        ++statisticSecond;
        secondEvents = 0;
        secondBytes = 0;
    };
    if (statisticSecond * 1000000 + 1000000 <= chunk.begin) {
        // The stream restarts after a pause: count from its own second.
        statisticSecond = chunk.begin / 1000000;
        secondEvents = 0;
        secondBytes = 0;
    }
    const Event2D* e = chunk.events.data();
    const Event2D* end = e + chunk.events.size();
    while (e != end) {
        while (e->timestamp >= statisticSecond * 1000000 + 1000000)
            emit();
        const uint64_t boundary = statisticSecond * 1000000 + 1000000;
        const Event2D* upTo = std::lower_bound(e, end, boundary,
                                               [](const Event2D& a, uint64_t t) { return a.timestamp < t; });
        secondEvents += uint64_t(upTo - e);
        secondBytes += sizeCounter.add(e, upTo);
        e = upTo;
    }
    for (const EventTriggerIn& t : chunk.triggers)
        secondBytes += sizeCounter.addTrigger(t);
    while (statisticSecond * 1000000 + 1000000 <= chunk.end)
        emit();
}

void LiveBatchQueue::reset(uint64_t position)
{
    std::lock_guard lock(mutex);
    chunks.clear();
    batchStart = position;
    producedUntil = position;
    ended = false;
}

void LiveBatchQueue::push(const ChunkPtr& chunk)
{
    {
        std::lock_guard lock(mutex);
        chunks.push_back(chunk);
        producedUntil = std::max(producedUntil, chunk->end);
        while (!chunks.empty() && producedUntil - chunks.front()->begin > BacklogUs) {
            const StreamChunk& old = *chunks.front();
            const auto& ev = old.events;
            auto first = std::lower_bound(ev.begin(), ev.end(), batchStart,
                                          [](const Event2D& a, uint64_t t) { return a.timestamp < t; });
            lost.fetch_add(uint64_t(ev.end() - first));
            batchStart = std::max(batchStart, old.end);
            chunks.pop_front();
        }
    }
    changed.notify_all();
}

void LiveBatchQueue::end()
{
    {
        std::lock_guard lock(mutex);
        ended = true;
        // What was not read is gone with the stream, as in a camera's buffers.
        chunks.clear();
    }
    changed.notify_all();
}

bool LiveBatchQueue::nextBatch(std::vector<Event2D>& events, uint64_t batchTime)
{
    events.clear();
    batchTime = std::max<uint64_t>(batchTime, 1);
    std::vector<ChunkPtr> parts;
    uint64_t from = 0;
    uint64_t to = 0;
    {
        std::unique_lock lock(mutex);
        const auto timeout = std::chrono::microseconds(batchTime * 2 + 200000);
        changed.wait_for(lock, timeout, [&] { return ended || producedUntil >= batchStart + batchTime; });
        if (ended || producedUntil < batchStart + batchTime)
            return false;
        from = batchStart;
        to = batchStart + batchTime;
        for (const ChunkPtr& chunk : chunks) {
            if (chunk->begin >= to)
                break;
            if (chunk->end > from)
                parts.push_back(chunk);
        }
        while (!chunks.empty() && chunks.front()->end <= to)
            chunks.pop_front();
        batchStart = to;
    }
    for (const ChunkPtr& chunk : parts) {
        const auto& ev = chunk->events;
        auto first = std::lower_bound(ev.begin(), ev.end(), from,
                                      [](const Event2D& a, uint64_t t) { return a.timestamp < t; });
        auto last = std::lower_bound(first, ev.end(), to,
                                     [](const Event2D& a, uint64_t t) { return a.timestamp < t; });
        events.insert(events.end(), first, last);
    }
    return !events.empty();
}

} // namespace sorvane
