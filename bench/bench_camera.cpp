// Camera throughput: recording a stream into EVT 3.0 on the recorder's writer thread.
#include "SorvaneDriver/SimulatedSensor.h"
#include "SorvaneDriver/StreamRecorder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace sorvane;

namespace {

// 200 ms of the mixed scene at 50 M events/s, cut as the camera cuts it.
const std::vector<ChunkPtr>& recordedStream()
{
    static const std::vector<ChunkPtr> chunks = [] {
        std::vector<ChunkPtr> out;
        EventPipeline pipeline(SceneKind::Mixed, 50e6, 11, 1280, 720, SensorTools::create(1280, 720, false));
        pipeline.setTriggerSource(EventPipeline::externalInputs());
        while (pipeline.position() < 200000) {
            auto chunk = std::make_shared<StreamChunk>();
            chunk->begin = pipeline.position();
            pipeline.produce(chunk->begin + SimulatedStream::WakeUs, *chunk);
            out.push_back(std::move(chunk));
        }
        return out;
    }();
    return chunks;
}

} // namespace

// The producer hands over chunks; one writer thread encodes and writes them. Real time counts,
// including the drain that stop() waits for.
static void BM_RecordThroughput(benchmark::State& state)
{
    const auto& chunks = recordedStream();
    uint64_t events = 0;
    for (const ChunkPtr& chunk : chunks)
        events += chunk->events.size();
    const std::string path = (std::filesystem::temp_directory_path() / ("sv_bench_record_" + std::to_string(::getpid()) + ".raw")).string();
    RawHeaderInfo header;
    header.serial = "BENCH";
    uint64_t bytes = 0;
    for (auto _ : state) {
        StreamRecorder recorder("bench");
        if (!recorder.start(path, header)) {
            state.SkipWithError("cannot create the recording");
            break;
        }
        for (const ChunkPtr& chunk : chunks)
            recorder.push(chunk);
        if (!recorder.stop() || recorder.recordedEvents() != events) {
            state.SkipWithError("events were lost");
            break;
        }
        bytes += std::filesystem::file_size(path);
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(int64_t(events) * state.iterations());
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["events_per_s"] = benchmark::Counter(double(events) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes_per_event"] = state.iterations() ? double(bytes) / (double(events) * double(state.iterations())) : 0;
}
BENCHMARK(BM_RecordThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
