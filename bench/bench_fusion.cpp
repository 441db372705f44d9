// Fusion cameras: mapping one APS frame onto the event grid, playing a fusion recording, and the
// live fusion view of the simulated fusion camera.
#include "processing/SvFusionCameraDataProcessor.h"
#include "sdk/Calibrator.h"
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"

#include "BenchApplication.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <vector>
#include <thread>

using namespace sorvane;
using Clock = std::chrono::steady_clock;

namespace {

std::shared_ptr<FusionCamera> openTandem(double eventRate)
{
    static DvsCameraManager manager;
    auto camera = manager.openFusionCamera(SimulatedCameraProvider::serialOf("Tandem"));
    if (auto* simulated = dynamic_cast<SimulatedFusionCamera*>(camera.get()))
        simulated->setEventRate(eventRate);
    return camera;
}

// The fusion camera's three callbacks into the processor, as the main window registers them.
void connectCamera(FusionCamera& camera, SvFusionCameraDataProcessor& processor)
{
    camera.addApsFrameCallback([&processor](ApsFrame& frame) { processor.addApsFrame(frame); });
    camera.addEventsCallback(
        [&processor](const Event2D* begin, const Event2D* end) { processor.addDvsEvents(begin, end); });
    camera.addTriggerInCallback([&processor](EventTriggerIn trigger) { processor.addSyncSignal(trigger); });
}

// A set recorded by the simulated fusion camera at 10 M events/s; recorded once, then kept.
bool ensureTandemRecording(const std::string& base, double seconds)
{
    if (std::filesystem::exists(base + ".raw") && std::filesystem::exists(base + ".mp4"))
        return true;
    for (const char* extension : {".raw", ".mp4", ".json"})
        std::filesystem::remove(base + extension);
    auto camera = openTandem(10e6);
    const std::filesystem::path path(base);
    if (!camera || camera->start(STREAM_ALL) != 0
        || !camera->startRecording(path.parent_path().string(), path.filename().string(), STREAM_ALL))
        return false;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const bool saved = camera->stopRecording(STREAM_ALL);
    camera->close();
    return saved;
}

void setCounting(std::mutex& mutex, bool& counting, bool on)
{
    std::lock_guard lock(mutex);
    counting = on;
}

} // namespace

// One Tandem frame (1920 x 1080) mapped onto the 1280 x 720 event grid with its calibration.
static void BM_MapApsToDvs(benchmark::State& state)
{
    auto camera = openTandem(1e6);
    CalibratorParameters parameters;
    if (!camera || !camera->getCalibratorParameters(parameters)) {
        state.SkipWithError("no fusion camera");
        return;
    }
    Calibrator calibrator;
    calibrator.loadCalibrationParam(parameters);
    ApsFrame frame(parameters.apsWidth, parameters.apsHeight, 0, 0);
    for (size_t i = 0; i < frame.getDataSize(); ++i)
        frame.data()[i] = uint8_t(i * 7);
    for (auto _ : state) {
        ApsFrame mapped = calibrator.mapApsToDvs(frame);
        benchmark::DoNotOptimize(mapped.data());
    }
}
BENCHMARK(BM_MapApsToDvs)->Unit(benchmark::kMillisecond);

// Plays 10 s of a fusion recording of the simulated camera at 10 M events/s (accumulation
// 33 ms, 30 fps) through the fusion processor and times the images.
static void BM_FusionPlayback(benchmark::State& state)
{
    benchApplication();
    const std::string base = "/tmp/sv_bench_tandem_10Mevs_10s_v1";
    if (!ensureTandemRecording(base, 10.5)) {
        state.SkipWithError("cannot record the fusion set");
        return;
    }
    SvFusionCameraDataProcessor processor;
    processor.setFps(30);
    processor.setAccTime(33'000);
    std::mutex mutex; // guards everything below
    std::condition_variable changed;
    bool loaded = false;
    bool loadFailed = false;
    bool finished = false;
    std::vector<Clock::time_point> images;
    QObject::connect(&processor, &SvFusionCameraDataProcessor::signalPlayStatus, &processor, [&](bool on) {
        std::lock_guard lock(mutex);
        loaded = loaded || on;
        changed.notify_all();
    }, Qt::DirectConnection);
    QObject::connect(&processor, &SvFusionCameraDataProcessor::signalShowLeftBottomTips, &processor, [&] {
        std::lock_guard lock(mutex);
        loadFailed = true;
        changed.notify_all();
    }, Qt::DirectConnection);
    QObject::connect(&processor, &SvFusionCameraDataProcessor::signalPalyFileFinished, &processor, [&] {
        std::lock_guard lock(mutex);
        finished = true;
        changed.notify_all();
    }, Qt::DirectConnection);
    QObject::connect(&processor, &SvFusionCameraDataProcessor::signalFusionImage, &processor, [&](const QImage&) {
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(mutex);
        images.push_back(now);
    }, Qt::DirectConnection);
    processor.slotReadFusionFile(QString::fromStdString(base + ".raw"));
    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(120), [&] { return loaded || loadFailed; }) || loadFailed) {
            state.SkipWithError("cannot load the fusion set");
            return;
        }
    }
    std::vector<double> intervalsMs;
    double framesPerSecond = 0;
    for (auto _ : state) {
        {
            std::lock_guard lock(mutex);
            images.clear();
            finished = false;
        }
        processor.slotPlaybackCtrl(true);
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(60), [&] { return finished; })) {
            state.SkipWithError("playback did not reach the end");
            return;
        }
        intervalsMs.clear();
        for (size_t i = 1; i < images.size(); ++i)
            intervalsMs.push_back(std::chrono::duration<double, std::milli>(images[i] - images[i - 1]).count());
        if (images.size() > 1)
            framesPerSecond = double(images.size() - 1)
                / std::chrono::duration<double>(images.back() - images.front()).count();
    }
    state.counters["frames"] = double(images.size());
    state.counters["frames_per_second"] = framesPerSecond;
    state.counters["p99_interval_ms"] = percentile(intervalsMs, 0.99);
    state.counters["max_interval_ms"] = percentile(intervalsMs, 1.0);
}
BENCHMARK(BM_FusionPlayback)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The simulated fusion camera at 20 M events/s and 30 frames/s through its three callbacks into
// the fusion processor, fusion view, for 5 s after 0.5 s of start-up: images made, and frames
// the camera delivered in those 5 s that never became an image (each had a further 0.3 s of
// streaming to find its events).
static void BM_LiveFusion(benchmark::State& state)
{
    benchApplication();
    for (auto _ : state) {
        auto camera = openTandem(20e6);
        if (!dynamic_cast<SimulatedFusionCamera*>(camera.get())) {
            state.SkipWithError("no simulated fusion camera");
            break;
        }
        SvFusionCameraDataProcessor processor;
        CalibratorParameters parameters;
        if (camera->getCalibratorParameters(parameters))
            processor.setCalibrationParameters(parameters);
        processor.slotSetViewerType(STREAM_ALL);
        processor.setFusionCamera(camera);
        std::mutex mutex; // guards the three below
        bool counting = false;
        std::vector<uint64_t> delivered;
        std::set<uint64_t> shown;
        std::atomic<uint64_t> images{0};
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalFusionImage, &processor,
                         [&](const QImage&) { images.fetch_add(1); }, Qt::DirectConnection);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalTimeStamp, &processor, [&](uint64_t t) {
            std::lock_guard lock(mutex);
            shown.insert(t);
        }, Qt::DirectConnection);
        connectCamera(*camera, processor);
        camera->addApsFrameCallback([&](ApsFrame& frame) {
            std::lock_guard lock(mutex);
            if (counting)
                delivered.push_back(frame.getTimestamp());
        });
        if (camera->start(STREAM_ALL) != 0) {
            state.SkipWithError("camera did not start");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const uint64_t imagesBefore = images.load();
        setCounting(mutex, counting, true);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        setCounting(mutex, counting, false);
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const uint64_t imagesCounted = images.load() - imagesBefore;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        camera->stop(STREAM_ALL);
        state.SetIterationTime(seconds);
        state.counters["images_per_s"] = double(imagesCounted) / seconds;
        std::lock_guard lock(mutex);
        state.counters["frames_dropped"] =
            double(std::count_if(delivered.begin(), delivered.end(), [&](uint64_t t) { return !shown.count(t); }));
        state.counters["frames_delivered"] = double(delivered.size());
        camera->close();
    }
}
BENCHMARK(BM_LiveFusion)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
