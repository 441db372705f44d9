// Video export speed: frames painted and encoded per second at 1280 x 720.
#include <SorvaneDriver/Video/VideoExport.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

using namespace sorvane;

namespace {

// A recording in memory, so the figure measures painting and encoding, not the raw decoder.
class SyntheticRecording final : public DvsFileReader {
public:
    explicit SyntheticRecording(std::vector<Event2D> events_) : events(std::move(events_)) {}

    bool loadFile() override { return true; }
    bool getStartTimestamp(uint64_t& t) override { t = events.front().timestamp; return true; }
    bool getEndTimestamp(uint64_t& t) override { t = events.back().timestamp; return true; }
    bool seekTime(uint64_t) override { return false; }
    std::shared_ptr<EventBuffer> getNTimeEvents(uint64_t) override { return nullptr; }
    std::shared_ptr<EventBuffer> getEventsByTime(uint64_t start, uint64_t duration) override
    {
        if (start > events.back().timestamp)
            return nullptr;
        auto from = std::lower_bound(events.begin(), events.end(), start, before);
        auto to = std::lower_bound(from, events.end(), start + duration, before);
        return std::make_shared<EventBuffer>(from, to);
    }
    bool readEvents(uint64_t start, uint64_t end, const EventBlockSink& sink) override
    {
        auto from = std::lower_bound(events.begin(), events.end(), start, before);
        auto to = std::lower_bound(from, events.end(), end + 1, before);
        return from == to || sink(std::span<const Event2D>(&*from, size_t(to - from)));
    }
    bool exportEventData(uint64_t, uint64_t, const std::string&, ExistingFile) override { return false; }
    std::string lastError() const override { return {}; }
    bool exportVideo(uint64_t, uint64_t, const std::string&, ExistingFile) override { return false; }
    bool getFileInfo(DvsFileInfo& info) override
    {
        info.width = 1280;
        info.height = 720;
        return true;
    }
    bool readTriggerEvents(uint64_t, uint64_t, const TriggerBlockSink&) override { return true; }
    void setVideoExportOptions(const VideoExportOptions&) override {}
    void setProgressCallback(ProgressCallback) override {}
    void cancel() override {}
    void resetCancel() override {}

private:
    static bool before(const Event2D& e, uint64_t t) { return e.timestamp < t; }
    std::vector<Event2D> events;
};

// About a million events a second: two edges sweeping across the sensor (their leading side
// positive, trailing side negative) and scattered background noise.
std::vector<Event2D> sweepingEdges(uint64_t durationUs)
{
    std::mt19937 random(42);
    std::uniform_int_distribution<int> column(0, 1279);
    std::uniform_int_distribution<int> row(0, 719);
    std::vector<Event2D> events;
    events.reserve(size_t(durationUs) + 1024);
    for (uint64_t t = 0; t < durationUs; ++t) {
        if (t % 10 == 0) {
            events.emplace_back(uint16_t(column(random)), uint16_t(row(random)), uint8_t(random() & 1), t);
            continue;
        }
        const int edge = int(t / 2000 % 1280); // 640 pixels a second
        const int y = row(random);
        const bool leading = random() & 1;
        const int x = std::clamp(edge + (leading ? 1 : -1) * int(random() % 4), 0, 1279);
        events.emplace_back(uint16_t(x), uint16_t(y), uint8_t(leading ? 1 : 0), t);
        events.emplace_back(uint16_t(1279 - x), uint16_t(719 - y), uint8_t(leading ? 0 : 1), t);
        ++t;
    }
    return events;
}

void BM_ExportVideo(benchmark::State& state)
{
    constexpr uint64_t duration = 4000000; // 4 s of recording: 120 frames
    std::vector<Event2D> events = sweepingEdges(duration);
    const double eventRate = double(events.size()) * 1e6 / double(duration);
    SyntheticRecording recording(std::move(events));
    const std::string path = (std::filesystem::temp_directory_path() / "sv_bench_export.mp4").string();
    const VideoExportOptions options;
    const std::atomic<bool> cancelled{false};
    std::string error;
    const int64_t frames = int64_t((duration - 1) / options.frameStep + 1);
    for (auto _ : state) {
        if (!exportEventVideo(recording, 0, duration - 1, path, options, {}, cancelled, error)) {
            state.SkipWithError("export failed");
            break;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["recording_events_per_s"] = eventRate;
}
BENCHMARK(BM_ExportVideo)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
