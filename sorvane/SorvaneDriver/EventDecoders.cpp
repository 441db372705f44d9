#include "SorvaneDriver/EventDecoders.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace sorvane {

namespace {

static_assert(std::endian::native == std::endian::little, "the decoders read little-endian words directly");
static_assert(std::is_trivially_copyable_v<Event2D>);
static_assert(offsetof(Event2D, x) == 0 && offsetof(Event2D, y) == 2 && offsetof(Event2D, polarity) == 4
              && offsetof(Event2D, timestamp) == 8);

constexpr uint64_t kEvt3WrapPeriod = uint64_t(1) << 24;
constexpr uint64_t kEvt2WrapPeriod = uint64_t(1) << 34;
// A vector base never needs to go further than this; it also keeps damaged streams from
// wrapping it back into the sensor.
constexpr uint32_t kVectBaseLimit = 4096;

inline uint32_t load16(const uint8_t* p)
{
    uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline uint32_t load32(const uint8_t* p)
{
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline uint64_t load64(const uint8_t* p)
{
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Writes an event as two 64-bit stores: x | y << 16 | polarity << 32, then the timestamp.
inline void storeEvent(Event2D* event, uint64_t position, uint64_t timestamp)
{
    std::memcpy(static_cast<void*>(event), &position, sizeof position);
    std::memcpy(reinterpret_cast<char*>(event) + 8, &timestamp, sizeof timestamp);
}

// Bits i of a vector mask whose pixel base + i lies inside [0, limit).
inline uint64_t insideMask(uint32_t base, uint32_t limit, uint32_t bits)
{
    if (base >= limit)
        return 0;
    const uint32_t inside = limit - base;
    return inside >= bits ? ~uint64_t(0) : (uint64_t(1) << inside) - 1;
}

// Counting: no events are written; counts and latest times go to stats instead.
template <bool Counting>
struct Output {
    Event2D* events = nullptr;
    size_t count = 0;
    std::vector<EventTriggerIn>* triggers = nullptr;
    uint64_t triggerCount = 0;
    uint64_t maxEventTime = 0;
    uint64_t maxTriggerTime = 0;
    uint64_t minTime = UINT64_MAX;
};

template <bool Counting>
DecodeResult runEvt3(const uint8_t* const begin, const uint8_t* const end, DecoderState& state,
                     const SensorGeometry& geometry, uint64_t stopTime, size_t capacity, Output<Counting>& out)
{
    const uint8_t* p = begin;
    uint64_t timeBase = state.timeBase;
    uint32_t timeHigh = state.timeHigh;
    uint32_t timeLow = state.timeLow;
    uint64_t now = timeBase + (uint64_t(timeHigh) << 12) + timeLow;
    bool stop = now >= stopTime;
    uint32_t y = state.y;
    uint64_t rowBits = uint64_t(y) << 16;
    uint32_t limitX = y < geometry.height ? geometry.width : 0;
    uint32_t vectBase = state.vectBase;
    uint32_t vectPolarity = state.polarity;
    // Counting: whether events were seen at the current time, folded into maxEventTime when it
    // changes (cheaper than a max per event).
    bool eventsAtNow = false;

    size_t count = out.count;
    Event2D* const events = out.events;
    bool reachedStop = false;

    const auto timeChanged = [&] {
        if constexpr (Counting) {
            if (eventsAtNow) {
                out.maxEventTime = std::max(out.maxEventTime, now);
                out.minTime = std::min(out.minTime, now);
            }
            eventsAtNow = false;
        }
        now = timeBase + (uint64_t(timeHigh) << 12) + timeLow;
        stop = now >= stopTime;
    };

    while (p < end && !reachedStop) {
        size_t words = size_t(end - p) / 2;
        if constexpr (!Counting) {
            words = std::min(words, (capacity - count) / 12);
            if (words == 0)
                break;
        }
        const uint8_t* const blockEnd = p + words * 2;
        for (; p < blockEnd; p += 2) {
            const uint32_t word = load16(p);
            const uint32_t type = word >> 12;
            if (type == 0x2) [[likely]] {
                const uint32_t x = word & 0x7ff;
                if (stop) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    const bool inside = x < limitX;
                    count += inside;
                    eventsAtNow |= inside;
                } else {
                    storeEvent(events + count, x | rowBits | (uint64_t(word & 0x800) << 21), now);
                    count += x < limitX;
                }
                continue;
            }
            switch (type) {
            case 0x0:
                y = word & 0x7ff;
                rowBits = uint64_t(y) << 16;
                limitX = y < geometry.height ? geometry.width : 0;
                break;
            case 0x3:
                vectBase = word & 0x7ff;
                vectPolarity = (word >> 11) & 1;
                break;
            case 0x4:
            case 0x5: {
                const uint32_t bits = type == 0x4 ? 12 : 8;
                uint64_t mask = (word & (type == 0x4 ? 0xfffu : 0xffu)) & insideMask(vectBase, limitX, bits);
                if (stop) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    count += size_t(std::popcount(mask));
                    eventsAtNow |= mask != 0;
                } else {
                    const uint64_t fixed = rowBits | (uint64_t(vectPolarity) << 32);
                    while (mask) {
                        const uint32_t i = uint32_t(std::countr_zero(mask));
                        mask &= mask - 1;
                        storeEvent(events + count, (vectBase + i) | fixed, now);
                        ++count;
                    }
                }
                vectBase = std::min(vectBase + bits, kVectBaseLimit);
                break;
            }
            case 0x6:
                timeLow = word & 0xfff;
                timeChanged();
                break;
            case 0x8: {
                const uint32_t high = word & 0xfff;
                if (high + 2048 <= timeHigh)
                    timeBase += kEvt3WrapPeriod;
                timeHigh = high;
                timeChanged();
                break;
            }
            case 0xA:
                if (stop) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    ++out.triggerCount;
                    out.maxTriggerTime = std::max(out.maxTriggerTime, now);
                    out.minTime = std::min(out.minTime, now);
                }
                if (out.triggers)
                    out.triggers->emplace_back(int16_t((word >> 8) & 0xf), int16_t(word & 1), now);
                break;
            default:
                // OTHERS, continuations, padding and unknown types carry no events.
                break;
            }
            if (reachedStop)
                break;
        }
    }
    if constexpr (Counting) {
        if (eventsAtNow) {
            out.maxEventTime = std::max(out.maxEventTime, now);
            out.minTime = std::min(out.minTime, now);
        }
    }

    state.timeBase = timeBase;
    state.timeHigh = timeHigh;
    state.timeLow = timeLow;
    state.y = uint16_t(y);
    state.vectBase = uint16_t(vectBase);
    state.polarity = uint8_t(vectPolarity);
    out.count = count;
    return DecodeResult{size_t(p - begin), reachedStop};
}

template <bool Counting>
DecodeResult runEvt2(const uint8_t* const begin, const uint8_t* const end, DecoderState& state,
                     const SensorGeometry& geometry, uint64_t stopTime, size_t capacity, Output<Counting>& out)
{
    const uint8_t* p = begin;
    uint64_t timeBase = state.timeBase;
    uint32_t timeHigh = state.timeHigh;
    uint64_t highBits = timeBase + (uint64_t(timeHigh) << 6);
    const uint32_t width = geometry.width;
    const uint32_t height = geometry.height;
    size_t count = out.count;
    Event2D* const events = out.events;
    bool reachedStop = false;

    while (p < end && !reachedStop) {
        size_t words = size_t(end - p) / 4;
        if constexpr (!Counting) {
            words = std::min(words, capacity - count);
            if (words == 0)
                break;
        }
        const uint8_t* const blockEnd = p + words * 4;
        for (; p < blockEnd; p += 4) {
            const uint32_t word = load32(p);
            const uint32_t type = word >> 28;
            if (type <= 1) [[likely]] {
                const uint64_t t = highBits | ((word >> 22) & 0x3f);
                const uint32_t x = (word >> 11) & 0x7ff;
                const uint32_t y = word & 0x7ff;
                const bool inside = (x < width) & (y < height);
                if (t >= stopTime) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    count += inside;
                    out.maxEventTime = std::max(out.maxEventTime, inside ? t : 0);
                    out.minTime = std::min(out.minTime, inside ? t : UINT64_MAX);
                } else {
                    storeEvent(events + count, x | (uint64_t(y) << 16) | (uint64_t(type) << 32), t);
                    count += inside;
                }
                continue;
            }
            if (type == 0x8) {
                const uint32_t high = word & 0x0fffffff;
                if (high + (uint32_t(1) << 27) <= timeHigh)
                    timeBase += kEvt2WrapPeriod;
                timeHigh = high;
                highBits = timeBase + (uint64_t(timeHigh) << 6);
            } else if (type == 0xA) {
                const uint64_t t = highBits | ((word >> 22) & 0x3f);
                if (t >= stopTime) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    ++out.triggerCount;
                    out.maxTriggerTime = std::max(out.maxTriggerTime, t);
                    out.minTime = std::min(out.minTime, t);
                }
                if (out.triggers)
                    out.triggers->emplace_back(int16_t((word >> 8) & 0x1f), int16_t(word & 1), t);
            }
        }
    }
    state.timeBase = timeBase;
    state.timeHigh = timeHigh;
    out.count = count;
    return DecodeResult{size_t(p - begin), reachedStop};
}

template <bool Counting>
DecodeResult runEvt21(const uint8_t* const begin, const uint8_t* const end, DecoderState& state,
                      const SensorGeometry& geometry, bool legacy, uint64_t stopTime, size_t capacity,
                      Output<Counting>& out)
{
    const uint8_t* p = begin;
    uint64_t timeBase = state.timeBase;
    uint32_t timeHigh = state.timeHigh;
    uint64_t highBits = timeBase + (uint64_t(timeHigh) << 6);
    const uint32_t width = geometry.width;
    const uint32_t height = geometry.height;
    size_t count = out.count;
    Event2D* const events = out.events;
    bool reachedStop = false;

    while (p < end && !reachedStop) {
        size_t words = size_t(end - p) / 8;
        if constexpr (!Counting) {
            words = std::min(words, (capacity - count) / 32);
            if (words == 0)
                break;
        }
        const uint8_t* const blockEnd = p + words * 8;
        for (; p < blockEnd; p += 8) {
            uint64_t word = load64(p);
            if (legacy)
                word = (word << 32) | (word >> 32);
            const uint32_t type = uint32_t(word >> 60);
            if (type <= 1) {
                const uint64_t t = highBits | ((word >> 54) & 0x3f);
                const uint32_t x = uint32_t(word >> 43) & 0x7ff;
                const uint32_t y = uint32_t(word >> 32) & 0x7ff;
                uint64_t mask = uint32_t(word) & insideMask(x, y < height ? width : 0, 32);
                if (t >= stopTime) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    count += size_t(std::popcount(mask));
                    if (mask) {
                        out.maxEventTime = std::max(out.maxEventTime, t);
                        out.minTime = std::min(out.minTime, t);
                    }
                } else {
                    const uint64_t fixed = (uint64_t(y) << 16) | (uint64_t(type) << 32);
                    while (mask) {
                        const uint32_t i = uint32_t(std::countr_zero(mask));
                        mask &= mask - 1;
                        storeEvent(events + count, (x + i) | fixed, t);
                        ++count;
                    }
                }
            } else if (type == 0x8) {
                const uint32_t high = uint32_t(word >> 32) & 0x0fffffff;
                if (high + (uint32_t(1) << 27) <= timeHigh)
                    timeBase += kEvt2WrapPeriod;
                timeHigh = high;
                highBits = timeBase + (uint64_t(timeHigh) << 6);
            } else if (type == 0xA) {
                const uint64_t t = highBits | ((word >> 54) & 0x3f);
                if (t >= stopTime) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    ++out.triggerCount;
                    out.maxTriggerTime = std::max(out.maxTriggerTime, t);
                    out.minTime = std::min(out.minTime, t);
                }
                if (out.triggers)
                    out.triggers->emplace_back(int16_t((word >> 40) & 0x1f), int16_t((word >> 32) & 1), t);
            }
        }
    }
    state.timeBase = timeBase;
    state.timeHigh = timeHigh;
    out.count = count;
    return DecodeResult{size_t(p - begin), reachedStop};
}

template <bool Counting>
DecodeResult run(EventEncoding encoding, bool legacy, std::span<const uint8_t> bytes, DecoderState& state,
                 const SensorGeometry& geometry, uint64_t stopTime, size_t capacity, Output<Counting>& out)
{
    // Only whole words: a trailing partial word is left for the caller.
    const size_t wordSize = encodingWordSize(encoding);
    if (wordSize == 0)
        return {};
    const uint8_t* begin = bytes.data();
    const uint8_t* end = begin + (bytes.size() - bytes.size() % wordSize);
    switch (encoding) {
    case EventEncoding::Evt3: return runEvt3(begin, end, state, geometry, stopTime, capacity, out);
    case EventEncoding::Evt2: return runEvt2(begin, end, state, geometry, stopTime, capacity, out);
    case EventEncoding::Evt21: return runEvt21(begin, end, state, geometry, legacy, stopTime, capacity, out);
    case EventEncoding::Unknown: break;
    }
    return {};
}

DecodeResult decodeInto(EventEncoding encoding, bool legacy, std::span<const uint8_t> bytes, DecoderState& state,
                        const SensorGeometry& geometry, uint64_t stopTime, EventSink& sink)
{
    if (sink.count > sink.capacity || (sink.events == nullptr && sink.capacity > 0))
        return {};
    Output<false> out;
    out.events = sink.events;
    out.count = sink.count;
    out.triggers = sink.triggers;
    const DecodeResult result = run(encoding, legacy, bytes, state, geometry, stopTime, sink.capacity, out);
    sink.count = out.count;
    return result;
}

} // namespace

size_t maxEventsPerWord(EventEncoding encoding)
{
    switch (encoding) {
    case EventEncoding::Evt3: return 12;
    case EventEncoding::Evt2: return 1;
    case EventEncoding::Evt21: return 32;
    case EventEncoding::Unknown: break;
    }
    return 0;
}

DecodeResult decodeEvt3(std::span<const uint8_t> bytes, DecoderState& state, const SensorGeometry& geometry,
                        uint64_t stopTime, EventSink& sink)
{
    return decodeInto(EventEncoding::Evt3, false, bytes, state, geometry, stopTime, sink);
}

DecodeResult decodeEvt2(std::span<const uint8_t> bytes, DecoderState& state, const SensorGeometry& geometry,
                        uint64_t stopTime, EventSink& sink)
{
    return decodeInto(EventEncoding::Evt2, false, bytes, state, geometry, stopTime, sink);
}

DecodeResult decodeEvt21(std::span<const uint8_t> bytes, DecoderState& state, const SensorGeometry& geometry,
                         bool legacyEndianness, uint64_t stopTime, EventSink& sink)
{
    return decodeInto(EventEncoding::Evt21, legacyEndianness, bytes, state, geometry, stopTime, sink);
}

DecodeResult decodeEvents(EventEncoding encoding, bool legacyEndianness, std::span<const uint8_t> bytes,
                          DecoderState& state, const SensorGeometry& geometry, uint64_t stopTime,
                          EventSink& sink)
{
    return decodeInto(encoding, legacyEndianness, bytes, state, geometry, stopTime, sink);
}

DecodeResult scanEvents(EventEncoding encoding, bool legacyEndianness, std::span<const uint8_t> bytes,
                        DecoderState& state, const SensorGeometry& geometry, uint64_t stopTime,
                        ScanStats& stats, std::vector<EventTriggerIn>* triggers)
{
    Output<true> out;
    out.triggers = triggers;
    const DecodeResult result = run(encoding, legacyEndianness, bytes, state, geometry, stopTime, 0, out);
    if (out.count > 0)
        stats.maxEventTime = stats.events > 0 ? std::max(stats.maxEventTime, out.maxEventTime) : out.maxEventTime;
    const uint64_t maxTime = std::max(out.count > 0 ? out.maxEventTime : 0,
                                      out.triggerCount > 0 ? out.maxTriggerTime : 0);
    if (out.count + out.triggerCount > 0)
        stats.maxTime = stats.events + stats.triggers > 0 ? std::max(stats.maxTime, maxTime) : maxTime;
    stats.minTime = std::min(stats.minTime, out.minTime);
    stats.events += out.count;
    stats.triggers += out.triggerCount;
    return result;
}

} // namespace sorvane
