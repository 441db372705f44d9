// Event frame builder: counting speed and painting time of one frame.
#include "processing/SvEventProcessor.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

using sorvane::Event2D;

namespace {

// The processor needs a Qt application and the settings store; both live for the rest of the
// run, and the store stays in the test-mode folder, away from the user's settings.
void ensureQtApplication()
{
    static std::unique_ptr<QCoreApplication> application = [] {
        QStandardPaths::setTestModeEnabled(true);
        static int argc = 1;
        static char name[] = "sv_bench";
        static char* argv[] = {name, nullptr};
        return std::make_unique<QCoreApplication>(argc, argv);
    }();
}

// One live batch of a busy scene, 33 ms at 30 M events/s, in sensor readout order: time runs in
// 100 µs slices and within a slice the events come row by row. Forty edges of a textured object
// move sideways at 200 to 2000 pixels/s, each over a band of rows; a tenth of the events is
// scattered noise.
std::vector<Event2D> readoutOrderedScene(size_t count)
{
    struct Edge {
        int rowFirst;
        int rowLast;
        double column;
        double speed; // columns per slice
        uint8_t polarity;
    };
    constexpr uint64_t sliceUs = 100;
    constexpr double slices = 33000.0 / sliceUs;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> column(0, 1279);
    std::uniform_int_distribution<int> row(0, 719);
    std::uniform_int_distribution<int> bandHeight(80, 320);
    std::uniform_int_distribution<int> jitter(-1, 1);
    std::uniform_real_distribution<double> speed(0.02, 0.2);
    std::vector<Edge> edges;
    size_t edgeRows = 0;
    for (int i = 0; i < 40; ++i) {
        const int first = row(random);
        const int last = std::min(719, first + bandHeight(random));
        edges.push_back({first, last, double(column(random)), (i % 2 ? 1 : -1) * speed(random), uint8_t(i % 3 != 0)});
        edgeRows += size_t(last - first + 1);
    }
    std::bernoulli_distribution fires(std::min(1.0, 0.9 * double(count) / slices / double(edgeRows)));

    std::vector<Event2D> events;
    events.reserve(count + 8192);
    std::vector<Event2D> slice;
    for (uint64_t t = 1'000'000; events.size() < count; t += sliceUs) {
        slice.clear();
        for (Edge& edge : edges) {
            for (int y = edge.rowFirst; y <= edge.rowLast; ++y) {
                const int x = int(edge.column) + jitter(random);
                if (fires(random) && x >= 0 && x < 1280)
                    slice.emplace_back(uint16_t(x), uint16_t(y), edge.polarity, t);
            }
            edge.column += edge.speed;
            if (edge.column < 0)
                edge.column += 1280;
            if (edge.column >= 1280)
                edge.column -= 1280;
        }
        const size_t noise = slice.size() / 9;
        for (size_t i = 0; i < noise; ++i)
            slice.emplace_back(uint16_t(column(random)), uint16_t(row(random)), uint8_t(i & 1), t);
        std::sort(slice.begin(), slice.end(), [](const Event2D& a, const Event2D& b) {
            return a.y != b.y ? a.y < b.y : a.x < b.x;
        });
        events.insert(events.end(), slice.begin(), slice.end());
    }
    events.resize(count);
    return events;
}

void BM_AccumulateEvents(benchmark::State& state)
{
    ensureQtApplication();
    const std::vector<Event2D> batch = readoutOrderedScene(1'000'000);
    SvEventProcessor processor;
    for (auto _ : state) {
        processor.accumulateEvents(batch.data(), batch.data() + batch.size());
        // Each batch lands on a cleared plane, as in live use.
        state.PauseTiming();
        processor.commitFrame();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(batch.size()));
}
BENCHMARK(BM_AccumulateEvents)->Unit(benchmark::kMicrosecond);

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

} // namespace
