#include "SorvaneDriver/Raw/IndexScan.h"

#include "SorvaneDriver/Raw/ReadAt.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace sorvane {

namespace {

constexpr uint64_t kReadBytes = 1 << 20;
// Below this a file is scanned on the calling thread: threads would cost more than they save.
constexpr uint64_t kMinParallelBytes = 16 << 20;

// One checkpoint's stretch as a worker saw it.
struct Stretch {
    DecoderState before;
    ScanStats stats;
    size_t triggersBefore = 0; // edges of the chunk before this stretch
};

struct ChunkScan {
    uint64_t begin = 0;
    uint64_t end = 0;
    std::vector<Stretch> stretches;
    DecoderState after;
    std::vector<EventTriggerIn> triggers;
    bool triggersDropped = false; // more than can be kept in this chunk alone
};

std::string readProblem(uint64_t offset, int readError)
{
    return "at byte " + std::to_string(offset) + ": "
        + (readError != 0 ? std::strerror(readError) : "the file became shorter while it was read");
}

class Scanner {
public:
    Scanner(int fd_, const RawHeader& header_, const std::atomic<bool>& cancelled_)
        : fd(fd_), header(header_), geometry{uint32_t(header_.width), uint32_t(header_.height)}, cancelled(cancelled_)
    {
    }

    // Scans chunk from the state a stream starts with, reading through buffer. afterBlock is
    // told the bytes of each read block and says whether to go on. False on a read error (with
    // error set), when cancelled or stopped.
    bool scanChunk(ChunkScan& chunk, std::vector<uint8_t>& buffer, const std::function<bool(uint64_t)>& afterBlock,
                   std::string& error)
    {
        DecoderState state;
        buffer.resize(kReadBytes);
        for (uint64_t offset = chunk.begin; offset < chunk.end;) {
            const size_t want = size_t(std::min<uint64_t>(kReadBytes, chunk.end - offset));
            int readError = 0;
            if (readAt(fd, header.dataOffset + offset, buffer.data(), want, readError) < want) {
                error = readProblem(header.dataOffset + offset, readError);
                return false;
            }
            for (size_t at = 0; at < want; at += kCheckpointBytes) {
                Stretch stretch{state, {}, chunk.triggers.size()};
                const size_t size = size_t(std::min<uint64_t>(kCheckpointBytes, want - at));
                scanEvents(header.encoding, header.legacyEndianness, std::span(buffer.data() + at, size), state,
                           geometry, UINT64_MAX, stretch.stats, chunk.triggersDropped ? nullptr : &chunk.triggers);
                if (!chunk.triggersDropped && chunk.triggers.size() > kMaxKeptTriggers) {
                    chunk.triggers.clear();
                    chunk.triggers.shrink_to_fit();
                    chunk.triggersDropped = true;
                }
                chunk.stretches.push_back(stretch);
            }
            offset += want;
            if (!afterBlock(want) || cancelled.load(std::memory_order_relaxed))
                return false;
        }
        chunk.after = state;
        return true;
    }

    // Joins the chunks in file order into scan. False on a read error.
    bool join(std::vector<ChunkScan>& chunks, RecordingScan& scan, std::string& error)
    {
        DecoderState state;
        size_t stretches = 0;
        for (const ChunkScan& chunk : chunks)
            stretches += chunk.stretches.size();
        scan.index.reserve(stretches + 1);
        scan.triggersKept = std::none_of(chunks.begin(), chunks.end(), [](const ChunkScan& c) { return c.triggersDropped; });
        std::vector<uint8_t> stretchBytes(kCheckpointBytes);
        for (ChunkScan& chunk : chunks) {
            size_t i = 0;
            uint64_t shift = 0;
            for (; i < chunk.stretches.size(); ++i) {
                const uint64_t offset = chunk.begin + i * kCheckpointBytes;
                if (sameUpToWraps(state, chunk.stretches[i].before, shift))
                    break;
                // Not yet: this stretch again, from the true state.
                const size_t size = size_t(std::min<uint64_t>(kCheckpointBytes, chunk.end - offset));
                int readError = 0;
                if (readAt(fd, header.dataOffset + offset, stretchBytes.data(), size, readError) < size) {
                    error = readProblem(header.dataOffset + offset, readError);
                    return false;
                }
                const DecoderState before = state;
                ScanStats stats;
                scanEvents(header.encoding, header.legacyEndianness, std::span(stretchBytes.data(), size), state,
                           geometry, UINT64_MAX, stats, scan.triggersKept ? &scan.triggers : nullptr);
                add(scan, offset, before, stats, 0);
                keepTriggersWhileFew(scan);
            }
            if (i < chunk.stretches.size()) {
                // The worker's results hold from stretch i on, moved by shift.
                for (size_t j = i; j < chunk.stretches.size(); ++j)
                    add(scan, chunk.begin + j * kCheckpointBytes, chunk.stretches[j].before, chunk.stretches[j].stats,
                        shift);
                if (scan.triggersKept) {
                    for (auto edge = chunk.triggers.begin() + ptrdiff_t(chunk.stretches[i].triggersBefore);
                         edge != chunk.triggers.end(); ++edge)
                        scan.triggers.emplace_back(edge->id, edge->polarity, edge->timestamp + shift);
                    keepTriggersWhileFew(scan);
                }
                state = chunk.after;
                state.timeBase += shift;
            }
            std::vector<Stretch>().swap(chunk.stretches);
            std::vector<EventTriggerIn>().swap(chunk.triggers);
        }
        const uint64_t end = chunks.empty() ? 0 : chunks.back().end;
        scan.dataEnd = end;
        scan.index.add(Checkpoint{end, state, scan.totals.events, maxTimeSoFar(scan)});
        scan.index.finish();
        return true;
    }

private:
    // Whether a worker that reached guess decodes from there on as the true state would, its
    // times shift later. Decoding depends on the time base only by adding it.
    static bool sameUpToWraps(const DecoderState& truth, const DecoderState& guess, uint64_t& shift)
    {
        if (truth.timeBase < guess.timeBase)
            return false;
        DecoderState moved = guess;
        moved.timeBase = truth.timeBase;
        shift = truth.timeBase - guess.timeBase;
        return moved == truth;
    }

    static uint64_t maxTimeSoFar(const RecordingScan& scan)
    {
        return scan.totals.events + scan.totals.triggers > 0 ? scan.totals.maxTime : 0;
    }

    static void add(RecordingScan& scan, uint64_t offset, DecoderState before, const ScanStats& stretch, uint64_t shift)
    {
        before.timeBase += shift;
        Checkpoint checkpoint{offset, before, scan.totals.events, maxTimeSoFar(scan)};
        ScanStats& totals = scan.totals;
        if (stretch.events + stretch.triggers > 0) {
            checkpoint.minTime = stretch.minTime + shift;
            checkpoint.maxTime = stretch.maxTime + shift;
            totals.maxTime = std::max(maxTimeSoFar(scan), checkpoint.maxTime);
            totals.minTime = std::min(totals.minTime, checkpoint.minTime);
        }
        if (stretch.events > 0) {
            totals.maxX = totals.events > 0 ? std::max(totals.maxX, stretch.maxX) : stretch.maxX;
            totals.maxY = totals.events > 0 ? std::max(totals.maxY, stretch.maxY) : stretch.maxY;
        }
        totals.events += stretch.events;
        totals.triggers += stretch.triggers;
        totals.outside += stretch.outside;
        totals.timeRepairs += stretch.timeRepairs;
        scan.index.add(checkpoint);
    }

    static void keepTriggersWhileFew(RecordingScan& scan)
    {
        if (scan.triggersKept && scan.triggers.size() > kMaxKeptTriggers) {
            scan.triggers.clear();
            scan.triggers.shrink_to_fit();
            scan.triggersKept = false;
        }
    }

    int fd;
    const RawHeader& header;
    SensorGeometry geometry;
    const std::atomic<bool>& cancelled;
};

} // namespace

bool scanRecording(int fd, const RawHeader& header, uint64_t dataSize, const ScanLayout& layout,
                   const std::atomic<bool>& cancelled, const std::function<void(double)>& progress,
                   RecordingScan& scan, std::string& error)
{
    scan = RecordingScan{};
    error.clear();
    const unsigned threads = layout.threads > 0 ? layout.threads : std::max(1u, std::thread::hardware_concurrency());
    const bool parallel = threads > 1 && (layout.chunkBytes > 0 || dataSize >= kMinParallelBytes);
    // Several chunks a thread, so that one slow chunk does not leave the others idle at the end.
    uint64_t chunkBytes = layout.chunkBytes > 0 ? layout.chunkBytes
                                                : std::clamp<uint64_t>(dataSize / (uint64_t(threads) * 8), 8 << 20, 256 << 20);
    chunkBytes = parallel ? (chunkBytes + kCheckpointBytes - 1) / kCheckpointBytes * kCheckpointBytes
                          : std::max<uint64_t>(dataSize, 1);

    std::vector<ChunkScan> chunks;
    for (uint64_t begin = 0; begin < dataSize; begin += chunkBytes) {
        chunks.emplace_back();
        chunks.back().begin = begin;
        chunks.back().end = std::min(dataSize, begin + chunkBytes);
    }
    Scanner scanner(fd, header, cancelled);
    const auto report = [&](double fraction) {
        if (progress)
            progress(std::min(fraction, 0.99));
    };

    bool ok = true;
    if (!parallel || chunks.size() < 2) {
        std::vector<uint8_t> buffer;
        uint64_t done = 0;
        for (ChunkScan& chunk : chunks) {
            ok = scanner.scanChunk(
                chunk, buffer,
                [&](uint64_t bytes) {
                    report(double(done += bytes) / double(dataSize));
                    return true;
                },
                error);
            if (!ok)
                break;
        }
    } else {
        std::atomic<size_t> nextChunk{0};
        std::atomic<uint64_t> scannedBytes{0};
        std::atomic<bool> stop{false};
        // Guards firstError, finishedWorkers and the wake-ups of the calling thread.
        std::mutex mutex;
        std::condition_variable workerFinished;
        std::string firstError;
        unsigned finishedWorkers = 0;
        const unsigned workerCount = unsigned(std::min<size_t>(threads, chunks.size()));
        std::vector<std::thread> workers;
        workers.reserve(workerCount);
        for (unsigned w = 0; w < workerCount; ++w) {
            workers.emplace_back([&] {
                std::vector<uint8_t> buffer;
                std::string problem;
                bool failed = false;
                for (size_t c = nextChunk++; c < chunks.size() && !stop.load(); c = nextChunk++) {
                    const auto counted = [&](uint64_t bytes) {
                        scannedBytes += bytes;
                        return !stop.load(std::memory_order_relaxed);
                    };
                    if (!scanner.scanChunk(chunks[c], buffer, counted, problem)) {
                        failed = true;
                        break;
                    }
                }
                const std::lock_guard lock(mutex);
                if (failed) {
                    stop = true;
                    if (firstError.empty())
                        firstError = problem;
                }
                ++finishedWorkers;
                workerFinished.notify_one();
            });
        }
        {
            std::unique_lock lock(mutex);
            while (finishedWorkers < workerCount) {
                workerFinished.wait_for(lock, std::chrono::milliseconds(50));
                if (cancelled.load(std::memory_order_relaxed))
                    stop = true;
                lock.unlock();
                report(double(scannedBytes.load()) / double(dataSize));
                lock.lock();
            }
        }
        for (std::thread& worker : workers)
            worker.join();
        ok = !stop.load() && !cancelled.load();
        error = firstError;
    }
    if (!ok || cancelled.load()) {
        scan = RecordingScan{};
        return false;
    }
    if (!scanner.join(chunks, scan, error)) {
        scan = RecordingScan{};
        return false;
    }
    return true;
}

} // namespace sorvane
