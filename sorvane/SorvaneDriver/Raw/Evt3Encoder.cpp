#include "SorvaneDriver/Raw/Evt3Encoder.h"


namespace sorvane {

namespace {

constexpr uint16_t kAddrY = 0x0000;
constexpr uint16_t kAddrX = 0x2000;
constexpr uint16_t kVectBaseX = 0x3000;
constexpr uint16_t kVect12 = 0x4000;
constexpr uint16_t kVect8 = 0x5000;
constexpr uint16_t kTimeLow = 0x6000;
constexpr uint16_t kTimeHigh = 0x8000;
constexpr uint16_t kExtTrigger = 0xA000;

// A decoder follows any forward TIME_HIGH step up to this many units (a wrap is recognised by a
// drop of at least 2048).
constexpr uint64_t kMaxHighStep = 2048;
// Vector words are written only as the groups sensors emit (VECT_BASE_X at a multiple of 32,
// VECT_12, VECT_12, VECT_8): the most widely used decoder takes every VECT_12 as the start of such
// a group. A group costs four words, so it pays from five events on.
constexpr uint32_t kGroupPixels = 32;
constexpr ptrdiff_t kMinGroupEvents = 5;

} // namespace

void Evt3Encoder::emitTimeHigh(uint32_t high, std::vector<uint16_t>& words)
{
    words.push_back(uint16_t(kTimeHigh | high));
    if (high + 2048 <= decoded.timeHigh)
        decoded.timeBase += uint64_t(1) << 24;
    decoded.timeHigh = high;
    decoded.timeKnown = true;
}

uint64_t Evt3Encoder::moveTime(uint64_t t, std::vector<uint16_t>& words)
{
    const uint64_t current = decoded.evt3Time();
    if (timeSent && t == current)
        return t;
    uint64_t currentHigh = current >> 12;
    const uint64_t targetHigh = t >> 12;
    if (targetHigh >= currentHigh) {
        while (targetHigh - currentHigh > kMaxHighStep) {
            currentHigh += kMaxHighStep;
            emitTimeHigh(uint32_t(currentHigh & 0xfff), words);
        }
        if (targetHigh != currentHigh || !timeSent)
            emitTimeHigh(uint32_t(targetHigh & 0xfff), words);
    } else if ((targetHigh >> 12) == (currentHigh >> 12) && currentHigh - targetHigh < kMaxHighStep) {
        emitTimeHigh(uint32_t(targetHigh & 0xfff), words);
    } else {
        return current;
    }
    decoded.timeLow = uint32_t(t & 0xfff);
    words.push_back(uint16_t(kTimeLow | decoded.timeLow));
    timeSent = true;
    return t;
}

void Evt3Encoder::encode(const Event2D* begin, const Event2D* end, std::vector<uint16_t>& words)
{
    const Event2D* event = begin;
    while (event < end) {
        if (event->x >= geometry.width || event->y >= geometry.height) {
            ++dropped;
            ++event;
            continue;
        }
        const uint64_t t = moveTime(event->timestamp, words);
        if (!rowSent || event->y != decoded.y) {
            words.push_back(uint16_t(kAddrY | event->y));
            decoded.y = event->y;
            rowSent = true;
        }
        const uint8_t polarity = event->polarity ? 1 : 0;
        // Events of the same time, row and polarity in one aligned block of 32 pixels.
        const uint32_t base = event->x & ~(kGroupPixels - 1);
        const Event2D* run = event + 1;
        while (run < end && run->timestamp == event->timestamp && run->y == event->y
               && (run->polarity ? 1 : 0) == polarity && run->x > run[-1].x && run->x < base + kGroupPixels)
            ++run;
        if (run - event >= kMinGroupEvents && t == event->timestamp && base + kGroupPixels <= geometry.width) {
            encodeGroup(event, run, base, words);
            event = run;
        } else {
            words.push_back(uint16_t(kAddrX | (polarity << 11) | event->x));
            ++event;
        }
    }
}

void Evt3Encoder::encodeGroup(const Event2D* begin, const Event2D* end, uint32_t base, std::vector<uint16_t>& words)
{
    const uint32_t polarity = begin->polarity ? 1 : 0;
    uint32_t mask = 0;
    for (const Event2D* event = begin; event < end; ++event)
        mask |= 1u << (event->x - base);
    words.push_back(uint16_t(kVectBaseX | (polarity << 11) | base));
    words.push_back(uint16_t(kVect12 | (mask & 0xfff)));
    words.push_back(uint16_t(kVect12 | ((mask >> 12) & 0xfff)));
    words.push_back(uint16_t(kVect8 | (mask >> 24)));
    decoded.polarity = uint8_t(polarity);
    decoded.vectBase = uint16_t(base + kGroupPixels);
}

void Evt3Encoder::encodeTrigger(const EventTriggerIn& trigger, std::vector<uint16_t>& words)
{
    moveTime(trigger.timestamp, words);
    words.push_back(uint16_t(kExtTrigger | ((trigger.id & 0xf) << 8) | (trigger.polarity ? 1 : 0)));
}

bool Evt3Encoder::syncTo(const DecoderState& state, std::vector<uint16_t>& words)
{
    if (timeSent && rowSent && decoded == state)
        return true;
    if (!state.timeKnown || state.vectBase >= 2048 || state.y >= 2048 || state.timeHigh >= 4096 || state.timeLow >= 4096
        || state.timeBase % (uint64_t(1) << 24) != 0)
        return false;
    const uint64_t t = state.evt3Time();
    if (timeSent && t < decoded.evt3Time())
        return false;
    if (moveTime(t, words) != t)
        return false;
    words.push_back(uint16_t(kAddrY | state.y));
    words.push_back(uint16_t(kVectBaseX | ((state.polarity ? 1 : 0) << 11) | state.vectBase));
    decoded.y = state.y;
    decoded.vectBase = state.vectBase;
    decoded.polarity = state.polarity ? 1 : 0;
    rowSent = true;
    return decoded == state;
}

void Evt3Encoder::assumeState(const DecoderState& state)
{
    decoded = state;
    timeSent = true;
    rowSent = true;
}

} // namespace sorvane
