#pragma once
// Decoders of the three event encodings over byte spans. They work word by word and carry their
// whole state in DecoderState, so a stream can be decoded in pieces and resumed from any saved
// state (the seek index stores one per checkpoint). Damaged input never makes them read outside
// the span or emit an event outside the sensor; words that make no sense are skipped.
#include "SorvaneDriver/Raw/RawHeader.h"
#include "sdk/SvEventRecords.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sorvane {

// Everything a decoder needs to continue from a word boundary. Times are absolute sensor µs.
struct DecoderState {
    uint64_t timeBase = 0; // counted wraps × wrap period (EVT 3.0: 2^24 µs, EVT 2.x: 2^34 µs)
    uint32_t timeHigh = 0; // last TIME_HIGH payload
    uint32_t timeLow = 0;  // last TIME_LOW payload (EVT 3.0)
    uint16_t y = 0;        // current row (EVT 3.0)
    uint16_t vectBase = 0; // next vector x (EVT 3.0)
    uint8_t polarity = 0;  // vector polarity (EVT 3.0)
    // A time word has been seen. Events before the first one (a stream cut by another tool) have
    // no known time and are skipped.
    bool timeKnown = false;

    // Time an EVT 3.0 word would carry now (EVT 2.x words carry their own low bits).
    uint64_t evt3Time() const { return timeBase + (uint64_t(timeHigh) << 12) + timeLow; }
    friend bool operator==(const DecoderState&, const DecoderState&) = default;
};

// EVT 3.0 TIME_HIGH is a 12-bit counter a sensor steps once every 4096 µs, so it wraps only by
// running over its top: from within a few steps of 4095 to within as few of zero. Any other drop
// is damage, taken as it is and counted, never 16.8 s more time; a drop shorter than
// kEvt3LongestStepBack is a writer stepping back to a late event, and no damage.
inline constexpr uint32_t kEvt3TimeHighTop = 0xfff;
inline constexpr uint32_t kEvt3WrapSlack = 10;
inline constexpr uint32_t kEvt3LongestStepBack = 2048;
inline constexpr bool evt3CounterWrapped(uint32_t previous, uint32_t next)
{
    return previous >= next + kEvt3TimeHighTop - kEvt3WrapSlack;
}

struct SensorGeometry {
    uint32_t width = 1280;
    uint32_t height = 720;
};

// Where decoded events go. Decoding stops when fewer than maxEventsPerWord slots are left.
struct EventSink {
    Event2D* events = nullptr;
    size_t capacity = 0;
    size_t count = 0;
    std::vector<EventTriggerIn>* triggers = nullptr; // null: trigger edges are dropped
};

struct DecodeResult {
    size_t bytesUsed = 0; // whole words consumed; the state is the one after them
    bool reachedStop = false; // stopped before a word with an event or trigger at or after stopTime
};

// Instruction sets the decoders' fast paths may use; all give the same events. The best one the
// processor has is used unless another is chosen.
enum class DecoderPath { Portable, Sse2, Avx512 };
std::vector<DecoderPath> availableDecoderPaths();
DecoderPath decoderPath();
// For comparing paths and timing them; a path the processor lacks is refused (false).
bool setDecoderPath(DecoderPath path);

// Most events a single word can produce.
size_t maxEventsPerWord(EventEncoding encoding);

// Decodes words from the start of bytes (a trailing partial word is left alone), stopping before
// the first event or trigger word whose time is >= stopTime or when the sink is full.
DecodeResult decodeEvt3(std::span<const uint8_t> bytes, DecoderState& state, const SensorGeometry& geometry,
                        uint64_t stopTime, EventSink& sink);
DecodeResult decodeEvt2(std::span<const uint8_t> bytes, DecoderState& state, const SensorGeometry& geometry,
                        uint64_t stopTime, EventSink& sink);
DecodeResult decodeEvt21(std::span<const uint8_t> bytes, DecoderState& state, const SensorGeometry& geometry,
                         bool legacyEndianness, uint64_t stopTime, EventSink& sink);

// Dispatches on encoding; legacyEndianness matters for EVT 2.1 only.
DecodeResult decodeEvents(EventEncoding encoding, bool legacyEndianness, std::span<const uint8_t> bytes,
                          DecoderState& state, const SensorGeometry& geometry, uint64_t stopTime,
                          EventSink& sink);

// What a scan without event output learns about a stretch of words.
struct ScanStats {
    uint64_t events = 0;
    uint64_t triggers = 0;
    // Bounds that a fast scan may leave a little wide (by less than 4096 µs): every event time is
    // <= maxEventTime, every event and trigger time lies in [minTime, maxTime].
    uint64_t maxEventTime = 0; // valid when events > 0
    uint64_t maxTime = 0;      // valid when events + triggers > 0
    uint64_t minTime = UINT64_MAX;
    // Events that lay outside the declared sensor and were left out.
    uint64_t outside = 0;
    // EVT 2.x time words that stepped back or jumped implausibly far ahead and were ignored as
    // damage.
    uint64_t timeRepairs = 0;
    // Largest coordinates of the events counted, for `.dat` only (valid when events > 0): a
    // file without its sensor size takes it from them.
    uint32_t maxX = 0;
    uint32_t maxY = 0;
};

// Runs the decoder over the words of bytes as decodeEvents does, counting instead of emitting.
// Trigger edges are appended to triggers when it is not null. Adds to stats.
DecodeResult scanEvents(EventEncoding encoding, bool legacyEndianness, std::span<const uint8_t> bytes,
                        DecoderState& state, const SensorGeometry& geometry, uint64_t stopTime,
                        ScanStats& stats, std::vector<EventTriggerIn>* triggers);

} // namespace sorvane
