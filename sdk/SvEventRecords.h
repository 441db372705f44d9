#pragma once
// Records shared by the camera SDK and the viewer. Arrays of Event2D are handed around as raw
// contiguous memory ([begin, end) pointer ranges), so field widths and order are fixed.
#include <cstdint>

namespace sorvane {

struct Event2D {
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t polarity = 0;
    uint64_t timestamp = 0;

    Event2D() = default;
    Event2D(uint16_t x_, uint16_t y_, uint8_t polarity_, uint64_t timestamp_)
        : x(x_), y(y_), polarity(polarity_), timestamp(timestamp_) {}
    Event2D(const Event2D&) = default;
    Event2D(Event2D&&) = default;
    Event2D& operator=(const Event2D&) = default;
    Event2D& operator=(Event2D&&) = default;

    friend bool operator==(const Event2D&, const Event2D&) = default;
};

struct EventTriggerIn {
    int16_t polarity = 0;
    uint64_t timestamp = 0;
    int16_t id = 0;

    EventTriggerIn() = default;
    // Argument order (id, polarity, timestamp) differs from the memory order on purpose: callers
    // of the camera SDK rely on it.
    EventTriggerIn(int16_t id_, int16_t polarity_, uint64_t timestamp_)
        : polarity(polarity_), timestamp(timestamp_), id(id_) {}
    EventTriggerIn(const EventTriggerIn&) = default;
    EventTriggerIn(EventTriggerIn&&) = default;
    EventTriggerIn& operator=(const EventTriggerIn&) = default;
    EventTriggerIn& operator=(EventTriggerIn&&) = default;

    friend bool operator==(const EventTriggerIn&, const EventTriggerIn&) = default;
};

struct SvStatisticInfo {
    uint64_t bandwidth = 0; // bytes per second on the camera link
    uint64_t eventRate = 0; // events per second

    SvStatisticInfo() = default;
    SvStatisticInfo(uint64_t bandwidth_, uint64_t eventRate_)
        : bandwidth(bandwidth_), eventRate(eventRate_) {}
    SvStatisticInfo(const SvStatisticInfo&) = default;
    SvStatisticInfo(SvStatisticInfo&&) = default;
    SvStatisticInfo& operator=(const SvStatisticInfo&) = default;
    SvStatisticInfo& operator=(SvStatisticInfo&&) = default;
};

static_assert(sizeof(Event2D) == 16, "Event2D arrays are exchanged as raw 16-byte records");
static_assert(sizeof(EventTriggerIn) == 24, "EventTriggerIn is passed by value as a 24-byte record");
static_assert(sizeof(SvStatisticInfo) == 16);

} // namespace sorvane
