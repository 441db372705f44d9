// Event processor: counting speed, painting time of one frame, playback pace and scrub latency.
#include "processing/SvEventProcessor.h"

#include <SorvaneDriver/Raw/RawEventWriter.h>

#include "BenchApplication.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

using sorvane::Event2D;
using Clock = std::chrono::steady_clock;

namespace {

// A busy scene in sensor readout order: time runs in 100 µs slices and within a slice the events
// come row by row. Forty edges of a textured object move sideways at 200 to 2000 pixels/s, each
// over a band of rows (leading edges positive, trailing negative); 3% of the events are
// background noise scattered over the sensor (about one event per pixel and second at 30 M
// events/s).
class EdgeScene {
public:
    static constexpr uint64_t sliceUs = 100;

    EdgeScene(double eventsPerSecond, uint64_t startTime)
        : time(startTime)
    {
        std::uniform_int_distribution<int> row(0, 719);
        std::uniform_int_distribution<int> column(0, 1279);
        std::uniform_int_distribution<int> bandHeight(80, 320);
        std::uniform_real_distribution<double> speed(0.02, 0.2);
        for (int i = 0; i < 40; ++i) {
            const int first = row(random);
            edges.push_back({first, std::min(719, first + bandHeight(random)), double(column(random)),
                             (i % 2 ? 1 : -1) * speed(random), uint8_t(i % 3 != 0)});
        }
        const double perSlice = eventsPerSecond * double(sliceUs) / 1e6;
        edgeEventsPerSlice = perSlice * 0.97 / double(edges.size());
        noisePerSlice = perSlice * 0.03;
    }

    // Appends the events of the next slice.
    void nextSlice(std::vector<Event2D>& out)
    {
        slice.clear();
        std::uniform_int_distribution<int> jitter(-1, 1);
        std::uniform_int_distribution<int> anyRow(0, 719);
        std::uniform_int_distribution<int> anyColumn(0, 1279);
        for (Edge& edge : edges) {
            std::uniform_int_distribution<int> bandRow(edge.rowFirst, edge.rowLast);
            edgeCarry += edgeEventsPerSlice;
            for (; edgeCarry >= 1.0; edgeCarry -= 1.0) {
                const int x = int(edge.column) + jitter(random);
                if (x >= 0 && x < 1280)
                    slice.emplace_back(uint16_t(x), uint16_t(bandRow(random)), edge.polarity, time);
            }
            edge.column += edge.speed;
            if (edge.column < 0)
                edge.column += 1280;
            if (edge.column >= 1280)
                edge.column -= 1280;
        }
        for (noiseCarry += noisePerSlice; noiseCarry >= 1.0; noiseCarry -= 1.0)
            slice.emplace_back(uint16_t(anyColumn(random)), uint16_t(anyRow(random)), uint8_t(random() & 1), time);
        std::sort(slice.begin(), slice.end(), [](const Event2D& a, const Event2D& b) {
            return a.y != b.y ? a.y < b.y : a.x < b.x;
        });
        out.insert(out.end(), slice.begin(), slice.end());
        time += sliceUs;
    }

    uint64_t now() const { return time; }

private:
    struct Edge {
        int rowFirst;
        int rowLast;
        double column;
        double speed; // columns per slice
        uint8_t polarity;
    };
    std::mt19937 random{7};
    std::vector<Edge> edges;
    double edgeEventsPerSlice = 0;
    double noisePerSlice = 0;
    double edgeCarry = 0;
    double noiseCarry = 0;
    uint64_t time;
    std::vector<Event2D> slice;
};

// One live batch: 33 ms of the scene at 30 M events/s. readoutSweep puts the batch in the order
// of one row-by-row readout of the sensor (rows top to bottom, each row's events by column);
// otherwise it stays in 100 µs slices, each read out row by row.
std::vector<Event2D> liveBatch(size_t count, bool readoutSweep)
{
    EdgeScene scene(30e6, 1'000'000);
    std::vector<Event2D> events;
    events.reserve(count + 8192);
    while (events.size() < count)
        scene.nextSlice(events);
    events.resize(count);
    if (readoutSweep)
        std::stable_sort(events.begin(), events.end(), [](const Event2D& a, const Event2D& b) {
            return a.y != b.y ? a.y < b.y : a.x < b.x;
        });
    return events;
}

// A recording of the scene at eventsPerSecond, made once: until durationUs of recording time or
// sizeLimit bytes, whichever comes first. Written beside and renamed, so a file at path is whole.
bool ensureRecording(const std::string& path, double eventsPerSecond, uint64_t durationUs, uint64_t sizeLimit)
{
    if (std::filesystem::exists(path))
        return true;
    const std::string partial = path + ".part";
    sorvane::RawEventWriter writer;
    sorvane::RawHeaderInfo header;
    header.serial = "SVBENCH1";
    if (!writer.open(partial, header))
        return false;
    EdgeScene scene(eventsPerSecond, 1'000'000);
    const uint64_t end = durationUs > UINT64_MAX - scene.now() ? UINT64_MAX : scene.now() + durationUs;
    std::vector<Event2D> chunk;
    while (scene.now() < end && writer.bytesWritten() < sizeLimit) {
        chunk.clear();
        for (int i = 0; i < 1000 && scene.now() < end; ++i)
            scene.nextSlice(chunk);
        if (!writer.write(chunk.data(), chunk.data() + chunk.size()))
            return false;
    }
    if (!writer.close())
        return false;
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    return !error;
}

// Waits for the processor's load, play-status and image signals; they come from its threads.
struct ProcessorWatch {
    std::mutex mutex; // guards everything below
    std::condition_variable changed;
    bool loaded = false;
    bool stopped = false;
    uint64_t first = 0;
    uint64_t last = 0;
    std::vector<Clock::time_point> images;

    explicit ProcessorWatch(SvEventProcessor& processor)
    {
        QObject::connect(&processor, &SvEventProcessor::signalLoadingStatus, &processor, [this](bool on) {
            std::lock_guard lock(mutex);
            loaded = !on;
            changed.notify_all();
        }, Qt::DirectConnection);
        QObject::connect(&processor, &SvEventProcessor::signalPlayStatus, &processor, [this](bool on) {
            std::lock_guard lock(mutex);
            stopped = !on;
            changed.notify_all();
        }, Qt::DirectConnection);
        QObject::connect(&processor, &SvEventProcessor::signalStartTimeStamp, &processor, [this](uint64_t t) {
            std::lock_guard lock(mutex);
            first = t;
        }, Qt::DirectConnection);
        QObject::connect(&processor, &SvEventProcessor::signalEndTimeStamp, &processor, [this](uint64_t t) {
            std::lock_guard lock(mutex);
            last = t;
        }, Qt::DirectConnection);
        QObject::connect(&processor, &SvEventProcessor::signalEventImage, &processor, [this](const QImage&) {
            const Clock::time_point now = Clock::now();
            std::lock_guard lock(mutex);
            images.push_back(now);
            changed.notify_all();
        }, Qt::DirectConnection);
    }
    template <class Predicate>
    bool waitFor(Predicate predicate, std::chrono::seconds timeout)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, predicate);
    }
};

bool loadRecording(SvEventProcessor& processor, ProcessorWatch& watch, const std::string& path)
{
    {
        std::lock_guard lock(watch.mutex);
        watch.loaded = false;
    }
    processor.loadFile(QString::fromStdString(path));
    return watch.waitFor([&] { return watch.loaded; }, std::chrono::seconds(600));
}

// Counts one batch into a cleared plane; the commit and its painting happen outside the timing.
void accumulateBatches(benchmark::State& state, const std::vector<Event2D>& batch)
{
    benchApplication();
    SvEventProcessor processor;
    ProcessorWatch watch(processor);
    for (auto _ : state) {
        processor.accumulateEvents(batch.data(), batch.data() + batch.size());
        state.PauseTiming();
        size_t painted = 0;
        {
            std::lock_guard lock(watch.mutex);
            painted = watch.images.size();
        }
        processor.commitFrame();
        watch.waitFor([&] { return watch.images.size() > painted; }, std::chrono::seconds(10));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(batch.size()));
}

void BM_AccumulateEvents(benchmark::State& state)
{
    accumulateBatches(state, liveBatch(1'000'000, true));
}
BENCHMARK(BM_AccumulateEvents)->Unit(benchmark::kMicrosecond);

// The same scene in 100 µs readout slices: the rows are swept 330 times, so the counts of the
// edges (about 2 MB of the plane) are visited once per slice and no longer stay in the cache.
void BM_AccumulateEventsTimeSliced(benchmark::State& state)
{
    accumulateBatches(state, liveBatch(1'000'000, false));
}
BENCHMARK(BM_AccumulateEventsTimeSliced)->Unit(benchmark::kMicrosecond);

void BM_RenderFrame(benchmark::State& state)
{
    // One pixel in ten has events, with counts of either or both polarities.
    SvEventProcessor::CountPlane counts(SvEventProcessor::planeSize, 0);
    std::mt19937 random(11);
    std::uniform_int_distribution<size_t> pixel(0, size_t(1280) * 720 - 1);
    std::uniform_int_distribution<int> count(0, 10);
    size_t active = 0;
    while (active < size_t(1280) * 720 / 10) {
        const size_t p = pixel(random);
        if (counts[2 * p] || counts[2 * p + 1])
            continue;
        counts[2 * p] = uint16_t(count(random));
        counts[2 * p + 1] = uint16_t(count(random));
        if (counts[2 * p] == 0 && counts[2 * p + 1] == 0)
            counts[2 * p + 1] = 1;
        ++active;
    }
    QImage image(1280, 720, QImage::Format_RGB888);
    for (auto _ : state) {
        SvEventProcessor::paintFrame(counts, image, QColor(191, 188, 180), QColor(64, 61, 51),
                                     QColor(112, 112, 112));
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderFrame)->Unit(benchmark::kMillisecond);

// Plays 10 s of a 10 M events/s recording (accumulation 33 ms, 30 fps) and times the images.
void BM_PlaybackPace(benchmark::State& state)
{
    benchApplication();
    const std::string path = "/tmp/sv_bench_pace_10Mevs_10s_v1.raw";
    if (!ensureRecording(path, 10e6, 10'000'000, UINT64_MAX)) {
        state.SkipWithError("cannot write the recording");
        return;
    }
    SvEventProcessor processor;
    ProcessorWatch watch(processor);
    processor.setFps(30);
    processor.setAccTime(33'000);
    if (!loadRecording(processor, watch, path)) {
        state.SkipWithError("cannot load the recording");
        return;
    }
    std::vector<double> intervalsMs;
    double framesPerSecond = 0;
    size_t frames = 0;
    for (auto _ : state) {
        {
            std::lock_guard lock(watch.mutex);
            watch.images.clear();
            watch.stopped = false;
        }
        processor.slotPlaybackCtrl(true);
        const bool ended = watch.waitFor([&] { return watch.stopped; }, std::chrono::seconds(60));
        processor.slotPlaybackCtrl(false);
        if (!ended) {
            state.SkipWithError("playback did not reach the end");
            return;
        }
        std::lock_guard lock(watch.mutex);
        frames = watch.images.size();
        intervalsMs.clear();
        for (size_t i = 1; i < frames; ++i)
            intervalsMs.push_back(std::chrono::duration<double, std::milli>(watch.images[i] - watch.images[i - 1]).count());
        if (frames > 1)
            framesPerSecond = double(frames - 1)
                / std::chrono::duration<double>(watch.images.back() - watch.images.front()).count();
    }
    state.counters["frames"] = double(frames);
    state.counters["frames_per_second"] = framesPerSecond;
    state.counters["p99_interval_ms"] = percentile(intervalsMs, 0.99);
    state.counters["max_interval_ms"] = percentile(intervalsMs, 1.0);
}
BENCHMARK(BM_PlaybackPace)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The 1 GiB recording at ten million events a second, loaded at accTime; its range in first and
// last (longer than one window). False, with the benchmark skipped, when that fails.
bool loadScrubRecording(benchmark::State& state, SvEventProcessor& processor, ProcessorWatch& watch,
                        uint64_t accTime, uint64_t& first, uint64_t& last)
{
    benchApplication();
    const std::string path = "/tmp/sv_bench_scrub_1GiB_v1.raw";
    if (!ensureRecording(path, 10e6, UINT64_MAX, uint64_t(1) << 30)) {
        state.SkipWithError("cannot write the recording");
        return false;
    }
    processor.setAccTime(accTime);
    if (!loadRecording(processor, watch, path)) {
        state.SkipWithError("cannot load the recording");
        return false;
    }
    std::lock_guard lock(watch.mutex);
    first = watch.first;
    last = watch.last;
    if (last <= first + accTime) {
        state.SkipWithError("the recording is too short");
        return false;
    }
    return true;
}

// Jumps to random positions of a 1 GiB recording; each iteration lasts until the image is out.
void BM_ScrubLatency(benchmark::State& state)
{
    SvEventProcessor processor;
    ProcessorWatch watch(processor);
    uint64_t first = 0;
    uint64_t last = 0;
    if (!loadScrubRecording(state, processor, watch, 33'333, first, last))
        return;
    std::mt19937_64 random(5);
    std::uniform_int_distribution<uint64_t> position(first, last);
    std::vector<double> latenciesMs;
    for (auto _ : state) {
        size_t before = 0;
        {
            std::lock_guard lock(watch.mutex);
            before = watch.images.size();
        }
        const Clock::time_point start = Clock::now();
        processor.setPlayPos(position(random));
        if (!watch.waitFor([&] { return watch.images.size() > before; }, std::chrono::seconds(10))) {
            state.SkipWithError("no image after a jump");
            return;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        latenciesMs.push_back(seconds * 1e3);
    }
    state.counters["p99_ms"] = percentile(latenciesMs, 0.99);
    state.counters["max_ms"] = percentile(latenciesMs, 1.0);
}
BENCHMARK(BM_ScrubLatency)->Unit(benchmark::kMillisecond)->Iterations(200)->UseManualTime();

// What a slider move costs the GUI thread at an accumulation time of a second (ten million
// events a frame): only the call to setPlayPos is timed; the frame is read elsewhere, and each
// jump waits for the previous image so that jumps do not pile up.
void BM_ScrubGuiStall(benchmark::State& state)
{
    SvEventProcessor processor;
    ProcessorWatch watch(processor);
    uint64_t first = 0;
    uint64_t last = 0;
    if (!loadScrubRecording(state, processor, watch, 1'000'000, first, last))
        return;
    std::mt19937_64 random(7);
    std::uniform_int_distribution<uint64_t> position(first, last - 1'000'000);
    std::vector<double> stallsMs;
    for (auto _ : state) {
        size_t before = 0;
        {
            std::lock_guard lock(watch.mutex);
            before = watch.images.size();
        }
        const Clock::time_point start = Clock::now();
        processor.setPlayPos(position(random));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        stallsMs.push_back(seconds * 1e3);
        if (!watch.waitFor([&] { return watch.images.size() > before; }, std::chrono::seconds(20))) {
            state.SkipWithError("no image after a jump");
            return;
        }
    }
    state.counters["p99_ms"] = percentile(stallsMs, 0.99);
    state.counters["max_ms"] = percentile(stallsMs, 1.0);
}
BENCHMARK(BM_ScrubGuiStall)->Unit(benchmark::kMillisecond)->Iterations(30)->UseManualTime();

} // namespace
