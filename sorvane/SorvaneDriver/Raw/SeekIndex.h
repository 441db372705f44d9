#pragma once
// Checkpoints over a recording's event words, each with the full decoder state at that word, so
// that decoding can start at any checkpoint. Built by one scan; a small fraction of the file.
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
};

class SeekIndex {
public:
    void clear() { checkpoints.clear(); }
    // Checkpoints must come in file order; the last one marks the end of the data.
    void add(const Checkpoint& checkpoint) { checkpoints.push_back(checkpoint); }
    size_t size() const { return checkpoints.size(); }
    bool empty() const { return checkpoints.empty(); }
    const Checkpoint& operator[](size_t i) const { return checkpoints[i]; }
    const Checkpoint& back() const { return checkpoints.back(); }
    size_t memoryBytes() const { return checkpoints.capacity() * sizeof(Checkpoint); }

    // Index of the checkpoint from which decoding first meets the first event or trigger at or
    // after t (exact whatever the time order of the file: latest times only grow). Needs size() > 0.
    size_t checkpointFor(uint64_t t) const;
    // Upper bound of the events between checkpoint `from` and the first word at or after t, when
    // the file runs in time order.
    uint64_t eventsBetween(size_t from, uint64_t t) const;

private:
    std::vector<Checkpoint> checkpoints;
};

} // namespace sorvane
