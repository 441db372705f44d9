#pragma once
// Encodes events and trigger edges as EVT 3.0 words. It mirrors the state a decoder has after
// the words written so far, so it emits only the words that change it: a TIME_HIGH/TIME_LOW pair
// when time moves, ADDR_Y for a new row, vector groups for events close together on a row.
#include "SorvaneDriver/Raw/EventDecoders.h"

#include <cstdint>
#include <span>
#include <vector>

namespace sorvane {

class Evt3Encoder {
public:
    explicit Evt3Encoder(SensorGeometry geometry = {}) : geometry(geometry) {}

    // Appends the words of [begin, end) to words. Events outside the sensor are dropped and
    // counted; an event earlier than what was written keeps its time when a decoder can follow
    // (same wrap, less than 8 s back), else it gets the current time.
    void encode(const Event2D* begin, const Event2D* end, std::vector<uint16_t>& words);
    void encodeTrigger(const EventTriggerIn& trigger, std::vector<uint16_t>& words);

    // Brings a decoder to state, so that words which followed state in another EVT 3.0 stream can
    // be appended as they are. False (nothing appended) when state lies before what was written
    // or cannot be expressed.
    bool syncTo(const DecoderState& state, std::vector<uint16_t>& words);
    // The decoder state after words appended from elsewhere.
    void assumeState(const DecoderState& state);

    const DecoderState& decoderState() const { return decoded; }
    uint64_t droppedEvents() const { return dropped; }

private:
    // Moves the decoder's time to t where it can; returns the time it now has.
    uint64_t moveTime(uint64_t t, std::vector<uint16_t>& words);
    void emitTimeHigh(uint32_t high, std::vector<uint16_t>& words);
    void encodeGroup(const Event2D* begin, const Event2D* end, uint32_t base, std::vector<uint16_t>& words);

    SensorGeometry geometry;
    DecoderState decoded;
    bool timeSent = false;
    bool rowSent = false;
    uint64_t dropped = 0;
};

// Follows the vector words of an EVT 3.0 stream, piece by piece, and tells whether they all come
// as the groups sensors emit (VECT_BASE_X at a multiple of 32 within the sensor, then VECT_12,
// VECT_12, VECT_8): the only vectors other decoders read as ours do. Words copied from a damaged
// file or another writer may break them.
class Evt3GroupCheck {
public:
    // vectBase: the base the stream has before its first word.
    Evt3GroupCheck(uint32_t width, uint32_t vectBase) : width(width), base(vectBase) {}
    // False once a vector word of bytes lies outside such a group.
    bool whole(std::span<const uint8_t> bytes);
    // No group is left open.
    bool finished() const { return seen == 0; }

private:
    bool take(uint32_t word);

    uint32_t width;
    uint32_t base;
    int seen = 0; // words of the current group so far
};

} // namespace sorvane
