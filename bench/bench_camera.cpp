// Cameras: the live view of a simulated camera at a high rate, and recording a stream into
// EVT 3.0 on the recorder's writer thread.
#include "app/DvsAcquisitionLoop.h"
#include "processing/SvEventProcessor.h"
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "SorvaneDriver/Simulated/SimulatedSensor.h"
#include "SorvaneDriver/Simulated/StreamRecorder.h"

#include "BenchApplication.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace sorvane;
using sorvane::Event2D;

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

// A simulated camera at 20 M events/s into the main window's acquisition loop and the event
// processor: the loop's thread counts each batch and asks this (the GUI) thread to commit the
// frame; the render thread paints and publishes it. Measured over 4 s of streaming after 0.5 s
// of start-up.
static void BM_LiveView(benchmark::State& state)
{
    QCoreApplication& app = benchApplication();
    const double rate = double(state.range(0)) * 1e6;
    for (auto _ : state) {
        sorvane::DvsCameraManager manager;
        auto camera = manager.openCamera(SimulatedCameraProvider::models().front().serial);
        auto* simulated = dynamic_cast<SimulatedDvsCamera*>(camera.get());
        if (!simulated) {
            state.SkipWithError("no simulated camera");
            break;
        }
        simulated->setEventRate(rate);
        camera->setBatchEventsTime(33333);
        SvEventProcessor processor;
        std::atomic<uint64_t> images{0};
        std::atomic<bool> counting{false};
        QObject::connect(&processor, &SvEventProcessor::signalEventImage, &processor,
                         [&](const QImage&) {
                             if (counting.load())
                                 images.fetch_add(1);
                         },
                         Qt::DirectConnection);
        std::atomic<uint64_t> events{0};
        std::atomic<bool> streaming{true};
        DvsAcquisitionState acquisition;
        if (camera->start() != 0) {
            state.SkipWithError("camera did not start");
            break;
        }
        std::thread loop([&] {
            runDvsAcquisitionLoop(*camera, streaming, acquisition, [&](const std::vector<Event2D>& batch) {
                processor.accumulateEvents(batch.data(), batch.data() + batch.size());
                if (counting.load())
                    events.fetch_add(batch.size());
                QMetaObject::invokeMethod(&processor, [&processor] { processor.showEvents(); }, Qt::QueuedConnection);
            });
        });
        auto runFor = [&](std::chrono::milliseconds span) {
            const auto until = std::chrono::steady_clock::now() + span;
            while (std::chrono::steady_clock::now() < until)
                app.processEvents(QEventLoop::AllEvents, 5);
        };
        runFor(std::chrono::milliseconds(500));
        const uint64_t lostBefore = simulated->lostEvents();
        counting.store(true);
        const auto t0 = std::chrono::steady_clock::now();
        runFor(std::chrono::milliseconds(4000));
        counting.store(false);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        streaming.store(false);
        loop.join();
        camera->stop();
        app.processEvents();
        state.SetIterationTime(seconds);
        state.counters["images_per_s"] = double(images.load()) / seconds;
        state.counters["events_lost"] = double(simulated->lostEvents() - lostBefore);
        state.counters["events_per_s"] = double(events.load()) / seconds;
    }
}
BENCHMARK(BM_LiveView)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

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
        // Recordings never replace a file.
        std::remove(path.c_str());
    }
    state.SetItemsProcessed(int64_t(events) * state.iterations());
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["events_per_s"] = benchmark::Counter(double(events) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes_per_event"] = state.iterations() ? double(bytes) / (double(events) * double(state.iterations())) : 0;
}
BENCHMARK(BM_RecordThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
