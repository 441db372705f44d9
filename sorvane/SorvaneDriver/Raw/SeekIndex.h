#pragma once
// Checkpoints over a recording's event words, each with the full decoder state at that word, so
// that decoding can start at any checkpoint. Built by one scan; a small fraction of the file.
//
// The words between two checkpoints are a stretch. Each stretch keeps the bounds of its times, so
// a time range is found in a recording whose time does not run in order (a damaged time word,
// a stream that steps back): only stretches whose bounds meet the range need decoding.
#include "SorvaneDriver/Raw/EventDecoders.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvane {

struct Checkpoint {
    uint64_t offset = 0;        // data bytes before the checkpoint's first word
    DecoderState state;         // decoder state before that word
    uint64_t eventsBefore = 0;  // events decoded before it
    uint64_t maxTimeBefore = 0; // latest event or trigger time before it (0 when none)
    // Bounds of the event and trigger times of the stretch that starts here (may be a little
    // wide); minTime > maxTime for a stretch without any.
    uint64_t minTime = UINT64_MAX;
    uint64_t maxTime = 0;
    // Earliest time of this stretch and every later one; set by finish().
    uint64_t minTimeFrom = UINT64_MAX;
};

class SeekIndex {
public:
    void clear() { checkpoints.clear(); }
    void reserve(size_t count) { checkpoints.reserve(count); }
    // Checkpoints must come in file order; the last one marks the end of the data.
    void add(const Checkpoint& checkpoint) { checkpoints.push_back(checkpoint); }
    // Completes the index after the last add().
    void finish();
    size_t size() const { return checkpoints.size(); }
    bool empty() const { return checkpoints.empty(); }
    const Checkpoint& operator[](size_t i) const { return checkpoints[i]; }
    const Checkpoint& back() const { return checkpoints.back(); }
    size_t memoryBytes() const { return checkpoints.capacity() * sizeof(Checkpoint); }

    // Index of the checkpoint from which decoding first meets the first event or trigger at or
    // after t (exact whatever the time order of the file: latest times only grow). Needs size() > 0.
    size_t checkpointFor(uint64_t t) const;
    // The stretches that may hold times of [start, stop), in file order: i runs from
    // firstStretchFor(start) while i < endOfStretchesFor(stop), skipping those that do not
    // stretchMeets(i, start, stop).
    size_t firstStretchFor(uint64_t start) const;
    size_t endOfStretchesFor(uint64_t stop) const;
    bool stretchMeets(size_t i, uint64_t start, uint64_t stop) const;
    // The stretch that holds the word at a data offset (the last checkpoint at or before it).
    size_t stretchHolding(uint64_t offset) const;

    // Events per bin, [first, last] split into `bins` equal bins, from the stretches' counts
    // alone: each stretch's events are spread evenly over its time bounds. Good to a stretch's
    // duration, and nothing is decoded.
    std::vector<uint64_t> eventsPerBin(uint64_t first, uint64_t last, size_t bins) const;

private:
    std::vector<Checkpoint> checkpoints;
};

} // namespace sorvane
