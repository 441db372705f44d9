#pragma once
// The first scan of a recording: its counts, trigger edges and seek index, on every core.
//
// The data is cut into chunks that workers scan at the same time, each from the state a stream
// starts with (time unknown until its first TIME_HIGH, no wraps counted). Joining them in file
// order scans the start of each chunk again from the true state, checkpoint by checkpoint, until
// both reach the same state up to a whole number of wraps; from there on the worker's results
// only need their times moved by those wraps. The result is what one sequential scan gives, to
// the last checkpoint; a chunk that never meets the true state is simply scanned again.
#include "SorvaneDriver/Raw/EventDecoders.h"
#include "SorvaneDriver/Raw/RawHeader.h"
#include "SorvaneDriver/Raw/SeekIndex.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sorvane {

// Data bytes between two checkpoints.
constexpr uint64_t kCheckpointBytes = 64 * 1024;
// More trigger edges than this (24 MB) are decoded on demand instead of kept.
constexpr size_t kMaxKeptTriggers = size_t(1) << 20;

struct ScanLayout {
    unsigned threads = 0;    // 0: one per core
    uint64_t chunkBytes = 0; // 0: chosen from the size and the threads; rounded up to checkpoints
};

struct RecordingScan {
    SeekIndex index;
    ScanStats totals;
    std::vector<EventTriggerIn> triggers; // every trigger edge in file order, when triggersKept
    bool triggersKept = true;
    uint64_t dataEnd = 0; // data bytes scanned (the last checkpoint's offset)
    // Exact first and last event times: the index only keeps bounds, so the reader finds these
    // after the scan by decoding the stretches that hold them.
    uint64_t firstEventTime = 0;
    uint64_t lastEventTime = 0;
    // Events per bin over [firstEventTime, lastEventTime], made once after the scan and kept with
    // the index, so that a reopen reads it instead of going over every checkpoint.
    std::vector<uint64_t> rateProfile;
};

// Scans the data bytes [0, dataSize) of the recording open on fd. progress gets fractions in
// [0, 1) from the calling thread. False when cancelled (error stays empty) or on a read error
// (error says why). Every worker thread is joined before it returns.
bool scanRecording(int fd, const RawHeader& header, uint64_t dataSize, const ScanLayout& layout,
                   const std::atomic<bool>& cancelled, const std::function<void(double)>& progress,
                   RecordingScan& scan, std::string& error);

} // namespace sorvane
