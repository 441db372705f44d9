#include "SorvaneDriver/Raw/Evt2Encoder.h"

namespace sorvane {

namespace {

// Longest step between two TIME_HIGH words, in their 64 µs units: 4 s, below the 5 s a reader
// takes as the most a sensor ever steps.
constexpr uint64_t kLongestStep = 4'000'000 / 64;

inline void put(std::vector<uint16_t>& words, uint32_t word)
{
    words.push_back(uint16_t(word));
    words.push_back(uint16_t(word >> 16));
}

inline void putTimeHigh(std::vector<uint16_t>& words, uint64_t high)
{
    put(words, (0x8u << 28) | uint32_t(high & 0x0fffffff));
}

} // namespace

uint32_t Evt2Encoder::moveTime(uint64_t t, std::vector<uint16_t>& words)
{
    const uint64_t target = t >> 6;
    if (!timeSent) {
        high = target;
        timeSent = true;
        putTimeHigh(words, high);
    } else if (target > high) {
        while (target - high > kLongestStep) {
            high += kLongestStep;
            putTimeHigh(words, high);
        }
        high = target;
        putTimeHigh(words, high);
    } else if (target < high) {
        return 0;
    }
    return uint32_t(t & 0x3f);
}

void Evt2Encoder::encode(const Event2D* begin, const Event2D* end, std::vector<uint16_t>& words)
{
    words.reserve(words.size() + size_t(end - begin) * 2 + 16);
    for (const Event2D* event = begin; event < end; ++event) {
        if (event->x >= geometry.width || event->y >= geometry.height) {
            ++dropped;
            continue;
        }
        const uint32_t low = (event->timestamp >> 6) == high && timeSent ? uint32_t(event->timestamp & 0x3f)
                                                                         : moveTime(event->timestamp, words);
        put(words, (uint32_t(event->polarity != 0) << 28) | (low << 22) | (uint32_t(event->x) << 11) | event->y);
    }
}

void Evt2Encoder::encodeTrigger(const EventTriggerIn& trigger, std::vector<uint16_t>& words)
{
    const uint32_t low = moveTime(trigger.timestamp, words);
    put(words, (0xAu << 28) | (low << 22) | (uint32_t(trigger.id & 0x1f) << 8) | uint32_t(trigger.polarity != 0));
}

} // namespace sorvane
