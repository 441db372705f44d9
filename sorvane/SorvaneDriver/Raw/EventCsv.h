#pragma once
// Events as "x,y,p,t" lines, the text `svraw dump` prints, written at the speed of decoding:
// coordinates come from a table, and a timestamp is formatted once for the events that share it.
#include "sdk/SvEventRecords.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace sorvane {

class EventCsvFormatter {
public:
    // Longest line, plus the few bytes a line may write past its end.
    static constexpr size_t kMaxLineBytes = 5 + 1 + 5 + 1 + 3 + 1 + 20 + 1;
    static constexpr size_t kSlackBytes = 24;

    // Writes the lines of events from out on and returns their end. out needs room for
    // events.size() * kMaxLineBytes + kSlackBytes.
    char* format(std::span<const Event2D> events, char* out);

private:
    uint64_t lastTime = UINT64_MAX;
    char timeText[kSlackBytes] = {}; // digits of lastTime and the newline
    size_t timeLength = 0;
};

} // namespace sorvane
