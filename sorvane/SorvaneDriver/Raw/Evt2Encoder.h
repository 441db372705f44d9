#pragma once
// Encodes events and trigger edges as EVT 2.0 words. Readers take a TIME_HIGH that moves time
// back, or more than a few seconds ahead, as damage: so time here only goes ahead, in steps that
// are never too long (long gaps get keep-alive TIME_HIGH words).
#include "SorvaneDriver/Raw/EventDecoders.h"

#include <cstdint>
#include <vector>

namespace sorvane {

class Evt2Encoder {
public:
    explicit Evt2Encoder(SensorGeometry geometry = {}) : geometry(geometry) {}

    // Appends the words of [begin, end) to words, each 32-bit word as two 16-bit halves (little
    // endian). Events outside the sensor are dropped and counted; an event earlier than the last
    // TIME_HIGH written gets that TIME_HIGH's time.
    void encode(const Event2D* begin, const Event2D* end, std::vector<uint16_t>& words);
    void encodeTrigger(const EventTriggerIn& trigger, std::vector<uint16_t>& words);
    uint64_t droppedEvents() const { return dropped; }

private:
    // Moves the stream's time to t where it can; returns the low 6 bits to write with it.
    uint32_t moveTime(uint64_t t, std::vector<uint16_t>& words);

    SensorGeometry geometry;
    uint64_t high = 0; // time >> 6 of the last TIME_HIGH written
    bool timeSent = false;
    uint64_t dropped = 0;
};

} // namespace sorvane
