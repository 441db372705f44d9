// Fusion sets: cutting the middle of a set (events, 1920 x 1080 frames, calibration), and
// exporting it as the fusion view shows it.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Video/Mp4FrameWriter.h"
#include "SorvaneDriver/Video/SetCut.h"
#include "SorvaneDriver/Video/VideoExport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace sorvane;

namespace {

constexpr uint64_t kSetUs = 10'000'000;
constexpr int kFps = 30;

// 10 s at 10 M events/s (ten events a microsecond, some on a row), frames at 30 fps from 0.2 s on,
// written once and kept in the temporary folder.
bool ensureSet(const std::string& base)
{
    if (std::filesystem::exists(base + ".raw") && std::filesystem::exists(base + ".mp4"))
        return true;
    for (const char* extension : {".raw", ".mp4", ".json"})
        std::filesystem::remove(base + extension);
    constexpr int64_t offset = 200'000;
    RawEventWriter events;
    RawHeaderInfo header;
    header.extraKeys["apsTimeOffset"] = std::to_string(offset);
    if (!events.open(base + ".raw.new", header))
        return false;
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::vector<Event2D> block;
    for (uint64_t ms = 0; ms < kSetUs / 1000; ++ms) {
        block.clear();
        for (uint64_t t = ms * 1000; t < (ms + 1) * 1000; ++t)
            for (int i = 0; i < 10; ++i) {
                const uint64_t r = next();
                block.emplace_back(uint16_t(r % 1280), uint16_t((r >> 16) % 720), uint8_t((r >> 32) & 1), t);
            }
        if (!events.write(block.data(), block.data() + block.size()))
            return false;
    }
    if (!events.close())
        return false;

    Mp4FrameWriter frames;
    Mp4FrameWriter::Options options;
    options.timestamped = true;
    if (!frames.open(base + ".mp4", 1920, 1080, kFps, options))
        return false;
    std::vector<uint8_t> pixels(size_t(1920) * 1080 * 3);
    for (uint64_t pts = 0; offset + pts < kSetUs; pts += 1'000'000 / kFps) {
        const int shift = int(pts / 10'000);
        for (int y = 0; y < 1080; ++y)
            for (int x = 0; x < 1920; ++x) {
                uint8_t* p = &pixels[(size_t(y) * 1920 + size_t(x)) * 3];
                p[0] = uint8_t((x + shift) ^ y);
                p[1] = uint8_t(x / 4 + y / 4 + shift);
                p[2] = uint8_t((y + shift) / 2);
            }
        if (!frames.writeFrame(pixels.data(), pts))
            return false;
    }
    // The frames cover the event grid at two thirds of their scale.
    std::ofstream(base + ".json") << R"({
      "0": {"camera_serial": "TD1", "frame_size": {"cols": 1280, "rows": 720},
            "camera_matrix": {"rows": 3, "cols": 3, "type": 6, "data": [1, 0, 0, 0, 1, 0, 0, 0, 1]},
            "dist_coeffs": {"rows": 1, "cols": 5, "type": 6, "data": [0, 0, 0, 0, 0]},
            "affine_matrix": {"1": {"rows": 2, "cols": 3, "type": 6, "data": [1.5, 0, 0, 0, 1.5, 0]}}},
      "1": {"frame_size": {"cols": 1920, "rows": 1080}}})";
    return frames.close() && std::rename((base + ".raw.new").c_str(), (base + ".raw").c_str()) == 0;
}

std::string setFolder()
{
    const std::string folder = (std::filesystem::temp_directory_path() / "sv_bench_set_10s_v2").string();
    std::filesystem::create_directories(folder);
    return folder;
}

// The set at base, written first if it is not there, and loaded as the window holds it; null
// after telling the benchmark why not.
std::unique_ptr<DvsFileReader> loadedSet(benchmark::State& state, const std::string& base)
{
    if (!ensureSet(base)) {
        state.SkipWithError("cannot write the set");
        return nullptr;
    }
    auto reader = DvsFileReader::createFileReader(base + ".raw");
    if (!reader || !reader->loadFile()) {
        state.SkipWithError("cannot read the set");
        return nullptr;
    }
    return reader;
}

// Peak resident memory since the last resetPeakMemory(), in MB (Linux; 0 elsewhere).
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}
double peakMemoryMb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    return 0;
}

} // namespace

// The middle 5 s of the set into a new set, through the core's cut (a loaded reader, as the
// window holds one).
static void BM_CutFusionSet(benchmark::State& state)
{
    const std::string folder = setFolder();
    const std::string base = folder + "/set";
    const std::unique_ptr<DvsFileReader> reader = loadedSet(state, base);
    if (!reader)
        return;
    const std::atomic<bool> cancelled{false};
    // The set's writing is not the cut's.
    resetPeakMemory();
    for (auto _ : state) {
        std::string error;
        if (!cutFusionSet(*reader, base + ".raw", 2'500'000, 7'500'000, folder + "/cut.raw", ExistingFile::Replace, {},
                          cancelled, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.counters["peak_rss_MB"] = peakMemoryMb();
    state.counters["set_MB"] = double(std::filesystem::file_size(base + ".raw") + std::filesystem::file_size(base + ".mp4")) / 1e6;
}
BENCHMARK(BM_CutFusionSet)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

// The middle 5 s of the set as the fusion view shows it at 30 images a second: frames decoded and
// mapped, the events of each image drawn over them, encoded.
static void BM_ExportFusion(benchmark::State& state)
{
    const std::string folder = setFolder();
    const std::string base = folder + "/set";
    const std::unique_ptr<DvsFileReader> reader = loadedSet(state, base);
    if (!reader)
        return;
    const std::atomic<bool> cancelled{false};
    FusionExportOptions options;
    const uint64_t images = fusionImageCount(2'500'000, 7'500'000, options.video.frameStep);
    for (auto _ : state) {
        std::string error;
        if (!exportFusionVideo(*reader, base + ".raw", 2'500'000, 7'500'000, folder + "/fusion.mp4",
                               ExistingFile::Replace, options, {}, cancelled, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.counters["images_per_s"] =
        benchmark::Counter(double(images) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExportFusion)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
