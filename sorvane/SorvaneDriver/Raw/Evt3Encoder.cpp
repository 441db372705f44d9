#include "SorvaneDriver/Raw/Evt3Encoder.h"

#include <bit>
#include <cstring>


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

// Forward TIME_HIGH steps are kept this short, as a sensor's own would be far shorter; any step
// within the counter's range is followed by decoders.
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
    if (evt3CounterWrapped(decoded.timeHigh, high))
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
        bool moved = false;
        const auto stepTo = [&](uint64_t high) {
            currentHigh = high;
            emitTimeHigh(uint32_t(high & kEvt3TimeHighTop), words);
            moved = true;
        };
        // Every wrap as a sensor's counter makes it: up to the top, then over it to zero.
        while ((targetHigh >> 12) > (currentHigh >> 12)) {
            const uint64_t top = currentHigh | kEvt3TimeHighTop;
            while (top - currentHigh > kMaxHighStep)
                stepTo(currentHigh + kMaxHighStep);
            if (currentHigh != top)
                stepTo(top);
            stepTo(top + 1);
        }
        while (targetHigh - currentHigh > kMaxHighStep)
            stepTo(currentHigh + kMaxHighStep);
        if (targetHigh != currentHigh || (!timeSent && !moved))
            stepTo(targetHigh);
    } else if ((targetHigh >> 12) == (currentHigh >> 12) && currentHigh - targetHigh < kEvt3LongestStepBack) {
        emitTimeHigh(uint32_t(targetHigh & kEvt3TimeHighTop), words);
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

namespace {

// Whether any of the four words at p is a vector word (type 3, 4 or 5): each word's type plus
// 0x7ffd reaches bit 15 from type 3 on, plus 0x7ffa from type 6 on, with no carry between words.
inline uint64_t vectorWordsIn4(const uint8_t* p)
{
    uint64_t words;
    std::memcpy(&words, p, sizeof words);
    const uint64_t types = (words >> 12) & 0x000f000f000f000full;
    return (types + 0x7ffd7ffd7ffd7ffdull) & ~(types + 0x7ffa7ffa7ffa7ffaull) & 0x8000800080008000ull;
}

} // namespace

bool Evt3GroupCheck::whole(std::span<const uint8_t> bytes)
{
    const size_t words = bytes.size() / 2;
    const auto wordAt = [&](size_t i) { return uint32_t(bytes[2 * i]) | uint32_t(bytes[2 * i + 1]) << 8; };
    size_t i = 0;
    while (i < words) {
        // Outside a group, the words up to the next vector word are passed over four at a time.
        if (seen == 0 && i + 4 <= words) {
            const uint64_t vectors = vectorWordsIn4(bytes.data() + 2 * i);
            if (vectors == 0) {
                i += 4;
                continue;
            }
            i += size_t(std::countr_zero(vectors)) / 16;
            // A whole group at once, as sensors and writers emit them.
            uint64_t group;
            if (i + 4 <= words) {
                std::memcpy(&group, bytes.data() + 2 * i, sizeof group);
                const uint32_t groupBase = uint32_t(group) & 0x7ff;
                if ((group & 0xf000f000f000f000ull) == 0x5000400040003000ull && groupBase % kGroupPixels == 0
                    && groupBase + kGroupPixels <= width) {
                    base = groupBase + kGroupPixels;
                    i += 4;
                    continue;
                }
            }
        }
        if (!take(wordAt(i)))
            return false;
        ++i;
    }
    return true;
}

bool Evt3GroupCheck::take(uint32_t word)
{
    switch (word >> 12) {
    case kVectBaseX >> 12:
        if (seen != 0)
            return false;
        base = word & 0x7ff;
        return true;
    case kVect12 >> 12:
        if (seen == 0 && (base % kGroupPixels != 0 || base + kGroupPixels > width))
            return false;
        return ++seen <= 2;
    case kVect8 >> 12:
        if (seen != 2)
            return false;
        seen = 0;
        base += kGroupPixels;
        return true;
    default:
        return seen == 0;
    }
}

} // namespace sorvane
