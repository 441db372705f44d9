// Recording decode, index, window and cut speeds on a stream shaped like a camera's at a moderate
// rate: a few rows per microsecond with one to a few events each (single ADDR_X words), now and
// then a run on a row (vector words), TIME_HIGH keep-alives.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventCsv.h"
#include "SorvaneDriver/Raw/EventDecoders.h"
#include "SorvaneDriver/Raw/Evt3Encoder.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Raw/RawFileReader.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace sorvane;

namespace {

// Events of successive microseconds from `time` on, about eventsPerUs per microsecond.
class CameraStream {
public:
    explicit CameraStream(uint32_t seed, double eventsPerUs = 5.0) : random(seed), rate(eventsPerUs) {}

    void next(std::vector<Event2D>& events, size_t count)
    {
        events.clear();
        std::poisson_distribution<int> perUs(rate);
        while (events.size() < count) {
            ++time;
            int left = perUs(random);
            uint16_t y = uint16_t(random() % 700);
            while (left > 0) {
                y = uint16_t(std::min<uint32_t>(719, y + 1 + random() % 8));
                const uint8_t polarity = uint8_t(random() & 1);
                if (random() % 16 == 0) {
                    // An edge crossing the row: a run of neighbouring pixels.
                    uint16_t x = uint16_t(random() % 1200);
                    const int run = 8 + int(random() % 16);
                    for (int i = 0; i < run && x < 1280; ++i, x = uint16_t(x + 1 + random() % 2))
                        events.emplace_back(x, y, polarity, time);
                    left -= 4;
                    continue;
                }
                const int onRow = 1 + int(random() % 3);
                uint16_t x = uint16_t(random() % 1280);
                for (int i = 0; i < onRow && left > 0; ++i, --left) {
                    events.emplace_back(x, y, polarity, time);
                    x = uint16_t((x + 17 + random() % 200) % 1280);
                }
            }
        }
    }

    uint64_t time = 1'000'000;

private:
    std::mt19937 random;
    double rate;
};

struct EncodedStream {
    std::vector<uint8_t> bytes;
    size_t events = 0;
};

const EncodedStream& evt3Stream()
{
    static const EncodedStream stream = [] {
        EncodedStream out;
        CameraStream camera(1);
        Evt3Encoder encoder;
        std::vector<Event2D> events;
        std::vector<uint16_t> words;
        while (words.size() * 2 < (24u << 20)) {
            camera.next(events, 4096);
            encoder.encode(events.data(), events.data() + events.size(), words);
            // Keep-alive: cameras repeat TIME_HIGH.
            words.push_back(uint16_t(0x8000 | encoder.decoderState().timeHigh));
            out.events += events.size();
        }
        out.bytes.resize(words.size() * 2);
        std::memcpy(out.bytes.data(), words.data(), out.bytes.size());
        return out;
    }();
    return stream;
}

const EncodedStream& evt2Stream()
{
    static const EncodedStream stream = [] {
        EncodedStream out;
        CameraStream camera(1);
        std::vector<Event2D> events;
        std::vector<uint32_t> words;
        uint64_t high = UINT64_MAX;
        while (words.size() * 4 < (48u << 20)) {
            camera.next(events, 4096);
            for (const Event2D& e : events) {
                if ((e.timestamp >> 6) != high) {
                    high = e.timestamp >> 6;
                    words.push_back(0x80000000u | uint32_t(high & 0x0fffffff));
                }
                words.push_back((uint32_t(e.polarity) << 28) | (uint32_t(e.timestamp & 0x3f) << 22)
                                | (uint32_t(e.x) << 11) | e.y);
            }
            out.events += events.size();
        }
        out.bytes.resize(words.size() * 4);
        std::memcpy(out.bytes.data(), words.data(), out.bytes.size());
        return out;
    }();
    return stream;
}

// The records of a `.dat` file (8 bytes an event) of the same camera stream.
const EncodedStream& datStream()
{
    static const EncodedStream stream = [] {
        EncodedStream out;
        CameraStream camera(1);
        std::vector<Event2D> events;
        while (out.bytes.size() < (24u << 20)) {
            camera.next(events, 4096);
            for (const Event2D& e : events) {
                const uint32_t words[2] = {uint32_t(e.timestamp), uint32_t(e.x) | (uint32_t(e.y) << 14) | (uint32_t(e.polarity) << 28)};
                const size_t at = out.bytes.size();
                out.bytes.resize(at + 8);
                std::memcpy(out.bytes.data() + at, words, 8);
            }
            out.events += events.size();
        }
        return out;
    }();
    return stream;
}

void decodeBenchmark(benchmark::State& state, EventEncoding encoding, const EncodedStream& stream)
{
    std::vector<Event2D> buffer(16 * 1024);
    size_t decoded = 0;
    for (auto _ : state) {
        DecoderState decoder;
        size_t offset = 0;
        while (offset < stream.bytes.size()) {
            EventSink sink{buffer.data(), buffer.size(), 0, nullptr};
            const DecodeResult result = decodeEvents(encoding, false, std::span(stream.bytes).subspan(offset), decoder,
                                                     SensorGeometry{}, UINT64_MAX, sink);
            offset += result.bytesUsed;
            decoded += sink.count;
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    if (decoded != stream.events * state.iterations())
        state.SkipWithError("decoded event count differs from the stream's");
    state.SetItemsProcessed(int64_t(stream.events * state.iterations()));
    state.SetBytesProcessed(int64_t(stream.bytes.size() * state.iterations()));
}

void BM_DecodeEvt3(benchmark::State& state)
{
    decodeBenchmark(state, EventEncoding::Evt3, evt3Stream());
}

// The same on a narrower path than the processor's best (argument: a DecoderPath), to compare.
void BM_DecodeOnPath(benchmark::State& state, EventEncoding encoding, const EncodedStream& stream)
{
    const DecoderPath best = decoderPath();
    if (!setDecoderPath(DecoderPath(state.range(0)))) {
        state.SkipWithError("this processor lacks that path");
        return;
    }
    decodeBenchmark(state, encoding, stream);
    setDecoderPath(best);
}

void BM_DecodeEvt3OnPath(benchmark::State& state)
{
    BM_DecodeOnPath(state, EventEncoding::Evt3, evt3Stream());
}

void BM_DecodeEvt2OnPath(benchmark::State& state)
{
    BM_DecodeOnPath(state, EventEncoding::Evt2, evt2Stream());
}

void BM_DecodeEvt2(benchmark::State& state)
{
    decodeBenchmark(state, EventEncoding::Evt2, evt2Stream());
}

// The index scan's count of an EVT 2.0 stream, on the path given (argument: a DecoderPath).
void BM_ScanEvt2OnPath(benchmark::State& state)
{
    const DecoderPath best = decoderPath();
    if (!setDecoderPath(DecoderPath(state.range(0)))) {
        state.SkipWithError("this processor lacks that path");
        return;
    }
    const EncodedStream& stream = evt2Stream();
    uint64_t counted = 0;
    for (auto _ : state) {
        DecoderState decoder;
        ScanStats stats;
        scanEvents(EventEncoding::Evt2, false, stream.bytes, decoder, SensorGeometry{}, UINT64_MAX, stats, nullptr);
        counted += stats.events;
        benchmark::DoNotOptimize(stats);
    }
    if (counted != stream.events * state.iterations())
        state.SkipWithError("counted events differ from the stream's");
    state.SetItemsProcessed(int64_t(stream.events * state.iterations()));
    state.SetBytesProcessed(int64_t(stream.bytes.size() * state.iterations()));
    setDecoderPath(best);
}

void BM_DecodeDat(benchmark::State& state)
{
    decodeBenchmark(state, EventEncoding::Dat, datStream());
}

// An EVT 3.0 recording of about `bytes`, written once and kept in /tmp for later runs. Its time
// is set back a minute, so that its index may be kept like that of any settled recording.
std::string benchRecording(const std::string& file, uint64_t bytes, EventEncoding encoding = EventEncoding::Evt3)
{
    struct stat status {};
    if (::stat(file.c_str(), &status) == 0 && uint64_t(status.st_size) >= bytes)
        return file;
    const std::string partial = file + ".part";
    RawEventWriter writer;
    RawHeaderInfo header;
    header.encoding = encoding;
    if (!writer.open(partial, header))
        return std::string();
    CameraStream camera(2);
    std::vector<Event2D> events;
    while (writer.bytesWritten() < bytes) {
        camera.next(events, 1 << 20);
        writer.write(events.data(), events.data() + events.size());
    }
    if (!writer.close() || ::rename(partial.c_str(), file.c_str()) != 0)
        return std::string();
    timespec settled {};
    ::clock_gettime(CLOCK_REALTIME, &settled);
    settled.tv_sec -= 60;
    const timespec times[2] = {settled, settled};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    return file;
}

const std::string& largeRecording()
{
    static const std::string path = benchRecording("/tmp/sv_bench_1gib.raw", uint64_t(1) << 30);
    return path;
}

// The benchmarks keep their indexes here, not in the user's cache.
const IndexCache& benchIndexCache()
{
    static const IndexCache cache("/tmp/sv_bench_index");
    return cache;
}

uint64_t fileSize(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? uint64_t(status.st_size) : 0;
}

DvsFileReader* loadedLargeRecording()
{
    static const std::unique_ptr<DvsFileReader> reader = [] {
        auto opened = RawFileReader::open(largeRecording());
        if (opened)
            opened->setIndexCache(benchIndexCache());
        if (opened && !opened->loadFile())
            opened.reset();
        return opened;
    }();
    return reader.get();
}

// The first scan: nothing kept is used, nothing is kept.
void BM_LoadIndex(benchmark::State& state)
{
    const std::string& path = largeRecording();
    auto reader = RawFileReader::open(path);
    if (!reader) {
        state.SkipWithError("cannot make the 1 GiB recording in /tmp");
        return;
    }
    reader->setIndexCaching(IndexCaching::Off);
    for (auto _ : state) {
        if (!reader->loadFile())
            state.SkipWithError("load failed");
    }
    DvsFileInfo info;
    reader->getFileInfo(info);
    state.counters["events"] = double(info.eventCount);
    state.SetBytesProcessed(int64_t(fileSize(path) * state.iterations()));
}

// Opening a recording whose index was kept by an earlier open.
void BM_ReopenIndexed(benchmark::State& state)
{
    const std::string& path = largeRecording();
    auto first = RawFileReader::open(path);
    if (!first) {
        state.SkipWithError("cannot make the 1 GiB recording in /tmp");
        return;
    }
    first->setIndexCache(benchIndexCache());
    if (!first->loadFile()) {
        state.SkipWithError("load failed");
        return;
    }
    for (auto _ : state) {
        auto reader = RawFileReader::open(path);
        reader->setIndexCache(benchIndexCache());
        if (!reader->loadFile())
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(reader->seekIndex().size());
    }
}

// The event-rate profile the window draws under its time slider, taken from the index after a
// load: its time against the load's, for a first scan and for a reopen with the index kept.
void BM_RateProfile(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    auto msSince = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const std::string& path = largeRecording();
    auto scanned = RawFileReader::open(path);
    if (!scanned) {
        state.SkipWithError("cannot make the 1 GiB recording in /tmp");
        return;
    }
    scanned->setIndexCache(benchIndexCache());
    scanned->setIndexCaching(IndexCaching::Rebuild);
    const auto scanStart = Clock::now();
    if (!scanned->loadFile()) {
        state.SkipWithError("load failed");
        return;
    }
    const double scanMs = msSince(scanStart);
    double reopenMs = 0;
    double profileMs = 0;
    for (auto _ : state) {
        const auto reopenStart = Clock::now();
        auto reader = RawFileReader::open(path);
        reader->setIndexCache(benchIndexCache());
        if (!reader->loadFile())
            state.SkipWithError("load failed");
        reopenMs += msSince(reopenStart);
        const auto profileStart = Clock::now();
        const std::vector<uint64_t> profile = reader->getEventRateProfile(DvsFileReader::kRateProfileBins);
        profileMs += msSince(profileStart);
        benchmark::DoNotOptimize(profile.data());
    }
    const double iterations = double(state.iterations());
    state.counters["scan_ms"] = scanMs;
    state.counters["reopen_ms"] = reopenMs / iterations;
    state.counters["profile_ms"] = profileMs / iterations;
    state.counters["extra_percent_of_scan"] = 100.0 * profileMs / iterations / scanMs;
    state.counters["extra_percent_of_reopen"] = 100.0 * profileMs / reopenMs;
}

// What `svraw dump` does to a 300 MB recording, without the pipe: every event decoded and
// formatted into a buffer that is reused once full.
void BM_DumpCsv(benchmark::State& state)
{
    const std::string path = benchRecording("/tmp/sv_bench_300mb.raw", 300u << 20);
    auto reader = path.empty() ? nullptr : RawFileReader::open(path);
    if (!reader) {
        state.SkipWithError("cannot make the 300 MB recording in /tmp");
        return;
    }
    reader->setIndexCache(benchIndexCache());
    if (!reader->loadFile()) {
        state.SkipWithError("load failed");
        return;
    }
    std::vector<char> text(1 << 20);
    uint64_t events = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        EventCsvFormatter csv;
        size_t used = 0;
        reader->readEvents(0, UINT64_MAX, [&](std::span<const Event2D> block) {
            constexpr size_t line = EventCsvFormatter::kMaxLineBytes;
            while (!block.empty()) {
                if (text.size() - used < line + EventCsvFormatter::kSlackBytes) {
                    benchmark::DoNotOptimize(text.data());
                    bytes += used;
                    used = 0;
                }
                const size_t taken = std::min(block.size(), (text.size() - used - EventCsvFormatter::kSlackBytes) / line);
                used = size_t(csv.format(block.first(taken), text.data() + used) - text.data());
                events += taken;
                block = block.subspan(taken);
            }
            return true;
        });
        bytes += used;
    }
    state.SetItemsProcessed(int64_t(events));
    state.counters["csv_bytes"] = double(bytes) / double(state.iterations());
}

void BM_SeekWindow(benchmark::State& state)
{
    DvsFileReader* reader = loadedLargeRecording();
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last)) {
        state.SkipWithError("cannot load the 1 GiB recording");
        return;
    }
    std::mt19937_64 random(5);
    size_t events = 0;
    for (auto _ : state) {
        const uint64_t start = first + random() % (last - first - 33'333);
        reader->seekTime(start);
        auto window = reader->getNTimeEvents(33'333);
        events += window ? window->size() : 0;
        benchmark::DoNotOptimize(window);
    }
    state.counters["events_per_window"] = double(events) / double(state.iterations());
}

void BM_Cut(benchmark::State& state)
{
    DvsFileReader* reader = loadedLargeRecording();
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last)) {
        state.SkipWithError("cannot load the 1 GiB recording");
        return;
    }
    // A quarter of the recording from its middle.
    const uint64_t span = (last - first) / 4;
    const uint64_t start = first + (last - first) / 3;
    const std::string out = "/tmp/sv_bench_cut.raw";
    uint64_t input = 0;
    for (auto _ : state) {
        // The bench's own scratch file, left by an earlier run that was stopped.
        if (!reader->exportEventData(start, start + span, out, ExistingFile::Replace)) {
            state.SkipWithError("cut failed");
            break;
        }
        input += fileSize(largeRecording()) / 4;
        state.PauseTiming();
        ::unlink(out.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(input));
}

// `svraw convert` of a 300 MB EVT 2.0 recording into EVT 3.0, its index kept from a first open
// (as a cut finds it): open, load and convert, per byte of the input.
void BM_ConvertToEvt3(benchmark::State& state)
{
    const std::string path = benchRecording("/tmp/sv_bench_300mb_evt2.raw", 300u << 20, EventEncoding::Evt2);
    auto first = path.empty() ? nullptr : RawFileReader::open(path);
    if (!first) {
        state.SkipWithError("cannot make the 300 MB EVT 2.0 recording in /tmp");
        return;
    }
    first->setIndexCache(benchIndexCache());
    if (!first->loadFile()) {
        state.SkipWithError("load failed");
        return;
    }
    const std::string out = "/tmp/sv_bench_convert.raw";
    for (auto _ : state) {
        auto reader = RawFileReader::open(path);
        reader->setIndexCache(benchIndexCache());
        // The bench's own scratch file, left by an earlier run that was stopped.
        if (!reader->loadFile() || !reader->convertTo(out, EventEncoding::Evt3, ExistingFile::Replace)) {
            state.SkipWithError("convert failed");
            break;
        }
        state.PauseTiming();
        ::unlink(out.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(fileSize(path) * state.iterations()));
}

} // namespace

BENCHMARK(BM_DecodeEvt3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEvt2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanEvt2OnPath)->Unit(benchmark::kMillisecond)->ArgName("path")->Arg(int(DecoderPath::Portable))->Arg(int(DecoderPath::Sse2))->Arg(int(DecoderPath::Avx512));
BENCHMARK(BM_DecodeEvt3OnPath)->Unit(benchmark::kMillisecond)->ArgName("path")->Arg(int(DecoderPath::Portable))->Arg(int(DecoderPath::Sse2));
BENCHMARK(BM_DecodeEvt2OnPath)->Unit(benchmark::kMillisecond)->ArgName("path")->Arg(int(DecoderPath::Portable))->Arg(int(DecoderPath::Sse2));
// File work is timed by the wall clock: waiting for the disk counts.
BENCHMARK(BM_LoadIndex)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReopenIndexed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RateProfile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DumpCsv)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SeekWindow)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Cut)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertToEvt3)->Unit(benchmark::kMillisecond)->UseRealTime();
