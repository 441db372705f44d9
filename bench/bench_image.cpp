// One picture of the view as PNG, as `svraw frame` and the window's Save Image make it: the events
// of a 33 ms window counted and painted, then compressed and written.
#include "SorvaneBase/PngWriter.h"
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Render/EventImage.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace sorvane;

namespace {

constexpr uint64_t kAccumulation = 33'333;

// A second of a busy scene: 10 M ev/s, a third of the sensor moving.
std::string makeRecording(const std::string& folder)
{
    const std::string path = folder + "/frame.raw";
    RawEventWriter writer;
    if (!writer.open(path, RawHeaderInfo{}))
        return {};
    std::mt19937 random(7);
    std::vector<Event2D> events;
    for (uint64_t t = 0; t < 1'000'000; ++t) {
        for (int i = 0; i < 10; ++i) {
            const uint32_t r = random();
            events.emplace_back(uint16_t(r % 1280), uint16_t((r >> 11) % 240 + (t / 1000) % 480), uint8_t(r >> 31), t);
        }
        if (events.size() > 1'000'000) {
            writer.write(events.data(), events.data() + events.size());
            events.clear();
        }
    }
    writer.write(events.data(), events.data() + events.size());
    return writer.close() ? path : std::string();
}

void BM_FramePng(benchmark::State& state)
{
    char folder[] = "/tmp/sv-bench-frame-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = makeRecording(folder);
    auto reader = DvsFileReader::createFileReader(path);
    if (path.empty() || !reader || !reader->loadFile()) {
        state.SkipWithError("cannot make the recording");
        return;
    }
    const std::string out = std::string(folder) + "/frame.png";
    std::vector<uint8_t> rgb;
    std::string error;
    uint64_t t = 100'000;
    for (auto _ : state) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = eventimage::render(*reader, t, kAccumulation, *paletteNamed("Gray"), rgb, error)
            && writePng(fd, eventimage::width, eventimage::height, rgb.data(), size_t(eventimage::width) * 3, error);
        ::close(fd);
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        t = t % 900'000 + 100'000;
    }
    std::filesystem::remove_all(folder);
}

} // namespace

BENCHMARK(BM_FramePng)->Unit(benchmark::kMillisecond)->UseRealTime();
