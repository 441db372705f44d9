#pragma once
// Test data for the recording tests: synthetic event streams and small encoders for the
// encodings our writer does not write (EVT 2.0, EVT 2.1).
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "sdk/SvEventRecords.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace rawtest {

using sorvane::Event2D;
using sorvane::EventTriggerIn;

// Events from startTime on, time steps of 0..maxStep µs, a mix of single events and runs on a
// row (same time, increasing x), in time order.
inline std::vector<Event2D> makeEvents(uint32_t seed, size_t count, uint64_t startTime, uint32_t maxStep,
                                       int width = 1280, int height = 720)
{
    std::mt19937 random(seed);
    std::vector<Event2D> events;
    events.reserve(count);
    uint64_t t = startTime;
    while (events.size() < count) {
        t += random() % (maxStep + 1);
        const uint16_t y = uint16_t(random() % height);
        const uint8_t polarity = uint8_t(random() % 2);
        if (random() % 4 == 0) {
            uint16_t x = uint16_t(random() % width);
            const int run = 2 + int(random() % 30);
            for (int i = 0; i < run && x < width && events.size() < count; ++i) {
                events.emplace_back(x, y, polarity, t);
                x = uint16_t(x + 1 + random() % 3);
            }
        } else {
            events.emplace_back(uint16_t(random() % width), y, polarity, t);
        }
    }
    return events;
}

struct Stream {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

inline bool writeRecording(const std::string& path, const Stream& stream, int width = 1280, int height = 720,
                           const std::string& serial = "SV0001")
{
    sorvane::RawEventWriter writer;
    sorvane::RawHeaderInfo header;
    header.width = width;
    header.height = height;
    header.serial = serial;
    // The writer never replaces a file; a fixture is written afresh.
    std::remove(path.c_str());
    if (!writer.open(path, header))
        return false;
    size_t next = 0;
    for (const EventTriggerIn& trigger : stream.triggers) {
        size_t upTo = next;
        while (upTo < stream.events.size() && stream.events[upTo].timestamp <= trigger.timestamp)
            ++upTo;
        if (!writer.write(stream.events.data() + next, stream.events.data() + upTo) || !writer.writeTrigger(trigger))
            return false;
        next = upTo;
    }
    if (!writer.write(stream.events.data() + next, stream.events.data() + stream.events.size()))
        return false;
    return writer.close();
}

inline bool writeFile(const std::string& path, const std::string& header, const std::vector<uint8_t>& data)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    ok = ok && (data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size());
    return std::fclose(file) == 0 && ok;
}

template <typename Word>
void append(std::vector<uint8_t>& bytes, Word word)
{
    for (size_t i = 0; i < sizeof(Word); ++i)
        bytes.push_back(uint8_t(word >> (8 * i)));
}

// EVT 2.0: a TIME_HIGH whenever time bits 33..6 change; 34-bit time wraps silently.
inline std::vector<uint8_t> encodeEvt2(const Stream& stream)
{
    std::vector<uint8_t> bytes;
    uint64_t high = UINT64_MAX;
    size_t trigger = 0;
    const auto timeTo = [&](uint64_t t) {
        if ((t >> 6) != high) {
            append(bytes, uint32_t(0x80000000u | uint32_t((t >> 6) & 0x0fffffff)));
            high = t >> 6;
        }
    };
    const auto emitTrigger = [&](const EventTriggerIn& e) {
        timeTo(e.timestamp);
        append(bytes, uint32_t(0xA0000000u | (uint32_t(e.timestamp & 0x3f) << 22) | (uint32_t(e.id & 0x1f) << 8)
                                 | uint32_t(e.polarity & 1)));
    };
    for (const Event2D& e : stream.events) {
        while (trigger < stream.triggers.size() && stream.triggers[trigger].timestamp <= e.timestamp)
            emitTrigger(stream.triggers[trigger++]);
        timeTo(e.timestamp);
        append(bytes, uint32_t((uint32_t(e.polarity ? 1 : 0) << 28) | (uint32_t(e.timestamp & 0x3f) << 22)
                                 | (uint32_t(e.x) << 11) | e.y));
    }
    while (trigger < stream.triggers.size())
        emitTrigger(stream.triggers[trigger++]);
    return bytes;
}

// EVT 2.1: events of one time, row and polarity within 32 pixels share a word.
inline std::vector<uint8_t> encodeEvt21(const Stream& stream, bool legacy)
{
    std::vector<uint8_t> bytes;
    const auto put = [&](uint64_t word) {
        if (legacy)
            word = (word << 32) | (word >> 32);
        append(bytes, word);
    };
    uint64_t high = UINT64_MAX;
    const auto timeTo = [&](uint64_t t) {
        if ((t >> 6) != high) {
            put((uint64_t(0x8) << 60) | (((t >> 6) & 0x0fffffff) << 32));
            high = t >> 6;
        }
    };
    size_t trigger = 0;
    const auto emitTrigger = [&](const EventTriggerIn& e) {
        timeTo(e.timestamp);
        put((uint64_t(0xA) << 60) | ((e.timestamp & 0x3f) << 54) | (uint64_t(e.id & 0x1f) << 40)
            | (uint64_t(e.polarity & 1) << 32));
    };
    size_t i = 0;
    while (i < stream.events.size()) {
        const Event2D& first = stream.events[i];
        while (trigger < stream.triggers.size() && stream.triggers[trigger].timestamp <= first.timestamp)
            emitTrigger(stream.triggers[trigger++]);
        timeTo(first.timestamp);
        uint32_t mask = 1;
        size_t j = i + 1;
        while (j < stream.events.size() && stream.events[j].timestamp == first.timestamp && stream.events[j].y == first.y
               && stream.events[j].polarity == first.polarity && stream.events[j].x > stream.events[j - 1].x
               && stream.events[j].x - first.x < 32) {
            mask |= 1u << (stream.events[j].x - first.x);
            ++j;
        }
        put((uint64_t(first.polarity ? 1 : 0) << 60) | ((first.timestamp & 0x3f) << 54) | (uint64_t(first.x) << 43)
            | (uint64_t(first.y) << 32) | mask);
        i = j;
    }
    while (trigger < stream.triggers.size())
        emitTrigger(stream.triggers[trigger++]);
    return bytes;
}

// EVT 3.0 words read the way the most widely used decoder of these files reads them: every
// VECT_12 starts a group VECT_12, VECT_12, VECT_8 and the next two words are its masks, whatever
// their type; nothing is held to the sensor; TIME_HIGH wraps only where it drops by nearly its
// whole range, and each other drop is a time error. A stream whose vectors come only in complete
// groups within the sensor decodes the same here as in our decoder. eventsBefore, when given,
// gets for each trigger edge the number of events read before it.
inline Stream decodeGroupedEvt3(const uint8_t* data, size_t size, uint64_t* timeErrors = nullptr,
                                std::vector<size_t>* eventsBefore = nullptr)
{
    Stream stream;
    uint64_t base = 0;
    uint32_t high = 0;
    uint32_t low = 0;
    bool timeKnown = false;
    uint16_t y = 0;
    uint32_t vectBase = 0;
    uint8_t vectPolarity = 0;
    const auto word = [&](size_t i) { return uint32_t(data[2 * i] | (data[2 * i + 1] << 8)); };
    const auto now = [&] { return base + (uint64_t(high) << 12) + low; };
    const auto emit = [&](uint32_t mask, uint32_t bits) {
        for (uint32_t i = 0; i < bits; ++i)
            if (timeKnown && (mask >> i) & 1)
                stream.events.emplace_back(uint16_t(vectBase + i), y, vectPolarity, now());
        vectBase += bits;
    };
    const size_t words = size / 2;
    for (size_t i = 0; i < words; ++i) {
        const uint32_t w = word(i);
        switch (w >> 12) {
        case 0x0: y = uint16_t(w & 0x7ff); break;
        case 0x2:
            if (timeKnown)
                stream.events.emplace_back(uint16_t(w & 0x7ff), y, uint8_t((w >> 11) & 1), now());
            break;
        case 0x3:
            vectBase = w & 0x7ff;
            vectPolarity = uint8_t((w >> 11) & 1);
            break;
        case 0x4:
            if (i + 2 >= words)
                return stream;
            emit((w & 0xfff) | ((word(i + 1) & 0xfff) << 12) | ((word(i + 2) & 0xff) << 24), 32);
            i += 2;
            break;
        case 0x5: emit(w & 0xff, 8); break;
        case 0x6: low = w & 0xfff; break;
        case 0x8:
            if (timeKnown && (w & 0xfff) + 4085 <= high)
                base += uint64_t(1) << 24;
            else if (timeKnown && (w & 0xfff) < high && timeErrors)
                ++*timeErrors;
            high = w & 0xfff;
            timeKnown = true;
            break;
        case 0xA:
            if (timeKnown && eventsBefore)
                eventsBefore->push_back(stream.events.size());
            if (timeKnown)
                stream.triggers.emplace_back(int16_t((w >> 8) & 0xf), int16_t(w & 1), now());
            break;
        default: break;
        }
    }
    return stream;
}

// stream in one of the encodings a sensor writes: "EVT3.0" (our writer), "EVT2.0", "EVT2.1",
// "EVT2.1 legacy" (the endianness on the format line) or "EVT2.1 legacy line" (on a line of its own).
inline bool writeEncoded(const std::string& path, const std::string& encoding, const Stream& stream)
{
    if (encoding == "EVT3.0")
        return writeRecording(path, stream);
    if (encoding == "EVT2.0")
        return writeFile(path, "% evt 2.0\n% format EVT2;height=720;width=1280\n% end\n", encodeEvt2(stream));
    if (encoding == "EVT2.1")
        return writeFile(path, "% evt 2.1\n% format EVT21;height=720;width=1280\n% end\n", encodeEvt21(stream, false));
    if (encoding == "EVT2.1 legacy line")
        return writeFile(path, "% evt 2.1\n% endianness legacy\n% end\n", encodeEvt21(stream, true));
    return writeFile(path, "% evt 2.1\n% format EVT21;height=720;width=1280;endianness=legacy\n% end\n",
                     encodeEvt21(stream, true));
}

} // namespace rawtest
