#pragma once
// A stretch of a camera's stream: every event and trigger edge of [begin, end) on the camera's
// clock, both in time order. Once handed on, a chunk is shared read-only between the live
// queue, the recorder and the callbacks.
#include "sdk/SvEventRecords.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sorvane {

struct StreamChunk {
    uint64_t begin = 0;
    uint64_t end = 0;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;

    void clear()
    {
        begin = end = 0;
        events.clear();
        triggers.clear();
    }
};

using ChunkPtr = std::shared_ptr<const StreamChunk>;

} // namespace sorvane
