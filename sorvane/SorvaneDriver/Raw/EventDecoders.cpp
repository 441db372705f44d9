#include "SorvaneDriver/Raw/EventDecoders.h"
#include "SorvaneDriver/Raw/EventDecodersAvx512.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sorvane {

namespace {

static_assert(std::endian::native == std::endian::little, "the decoders read little-endian words directly");
static_assert(std::is_trivially_copyable_v<Event2D>);
static_assert(offsetof(Event2D, x) == 0 && offsetof(Event2D, y) == 2 && offsetof(Event2D, polarity) == 4
              && offsetof(Event2D, timestamp) == 8);

constexpr uint64_t kEvt3WrapPeriod = uint64_t(1) << 24;
constexpr uint64_t kEvt2WrapPeriod = uint64_t(1) << 34;
// EVT 2.x sensors send a TIME_HIGH every 64 µs: one that steps further ahead than this is a
// damaged word, not time (a flipped bit would otherwise move the rest of a file hours later).
constexpr uint64_t kMaxEvt2TimeStep = 5'000'000;
// A vector base never needs to go further than this; it also keeps damaged streams from
// wrapping it back into the sensor.
constexpr uint32_t kVectBaseLimit = 4096;

DecoderPath bestPath()
{
#if defined(__SSE2__)
    return avx512::supported() ? DecoderPath::Avx512 : DecoderPath::Sse2;
#else
    return DecoderPath::Portable;
#endif
}

std::atomic<DecoderPath> chosenPath = bestPath();

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

// Set bits, without a table: the default x86-64 target has no popcount instruction, and the
// library fallback goes through a lookup table.
inline unsigned countBits(uint64_t x)
{
#if defined(__POPCNT__)
    return unsigned(std::popcount(x));
#else
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return unsigned((x * 0x0101010101010101ull) >> 56);
#endif
}

// Writes an event as two 64-bit stores: x | y << 16 | polarity << 32, then the timestamp.
inline void storeEvent(Event2D* event, uint64_t position, uint64_t timestamp)
{
    std::memcpy(static_cast<void*>(event), &position, sizeof position);
    event->timestamp = timestamp;
}

// The candidate pixels of a vector word from position (x | y << 16 | polarity << 32) on, each
// written where the next event goes: only the set bits of mask advance, so there is no branch
// per bit. Returns the new count.
inline size_t storeVector(Event2D* events, size_t count, uint64_t position, uint64_t timestamp, uint64_t mask,
                          uint32_t bits)
{
#if defined(__SSE2__)
    // One 16-byte store a record; x never carries into y (it stays below 4096 + 12).
    __m128i record = _mm_set_epi64x(int64_t(timestamp), int64_t(position));
    const __m128i nextX = _mm_set_epi64x(0, 1);
    for (uint32_t i = 0; i < bits; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(events + count), record);
        count += (mask >> i) & 1;
        record = _mm_add_epi64(record, nextX);
    }
#else
    for (uint32_t i = 0; i < bits; ++i) {
        storeEvent(events + count, position + i, timestamp);
        count += (mask >> i) & 1;
    }
#endif
    return count;
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
    uint64_t outside = 0;
    uint64_t timeRepairs = 0;
    uint32_t maxX = 0;
    uint32_t maxY = 0;
};

#if defined(__SSE2__)
// Stores four lanes as Event2D records (x | y << 16, polarity, low and high 32 bits of the time),
// each where the next kept one goes: a dropped lane's record is overwritten by the next, so no
// branch per lane. Returns the end of the kept records.
inline Event2D* storeFourEvents(Event2D* out, __m128i positions, __m128i polarities, __m128i lowTimes,
                                __m128i highTimes, unsigned keep)
{
    const __m128i first = _mm_unpacklo_epi32(positions, polarities);
    const __m128i second = _mm_unpackhi_epi32(positions, polarities);
    const __m128i firstTimes = _mm_unpacklo_epi32(lowTimes, highTimes);
    const __m128i secondTimes = _mm_unpackhi_epi32(lowTimes, highTimes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(first, firstTimes));
    out += keep & 1;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(first, firstTimes));
    out += (keep >> 1) & 1;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(second, secondTimes));
    out += (keep >> 2) & 1;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(second, secondTimes));
    out += (keep >> 3) & 1;
    return out;
}
#endif

#if defined(__SSE2__)
// The bulk of an EVT 3.0 stream: ADDR_Y, ADDR_X and TIME_LOW words, eight at a time. The row and
// the time low bits of each word are carried forward across the eight lanes (three doubling
// steps), so no word needs a branch on its type: rows and times change at random, and such a
// branch would mispredict at each change. Runs until a group holds another type; the caller
// guarantees that no TIME_LOW can reach the stop time (the high part does not change here).
// Returns where it stopped; y and now are updated.
const uint8_t* fastEvt3(const uint8_t* p, const uint8_t* const end, uint64_t width, uint64_t height, uint64_t& now,
                        uint64_t& y, uint32_t& vectBase, uint32_t& vectPolarity, Event2D* events, size_t capacity,
                        size_t& count)
{
    const uint64_t high = now & ~uint64_t(0xfff);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i six = _mm_set1_epi16(6);
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask11 = _mm_set1_epi16(0x7ff);
    const __m128i mask12 = _mm_set1_epi16(0xfff);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i widths = _mm_set1_epi16(int16_t(width));
    const __m128i heights = _mm_set1_epi16(int16_t(height));
    // The time's bits above TIME_LOW, as the low and the high 32 bits of a timestamp.
    const __m128i lowTime = _mm_set1_epi32(int32_t(uint32_t(high)));
    const __m128i highTime = _mm_set1_epi32(int32_t(uint32_t(high >> 32)));
    __m128i rowCarry = _mm_set1_epi16(int16_t(y));
    __m128i lowCarry = _mm_set1_epi16(int16_t(now & 0xfff));
    size_t n = count;

    // Lanes where has is set keep value (< 2^12); the others take it from the nearest lane below
    // that has one, or from carry. Lane 0 takes carry when it has none; then a running maximum of
    // keys that put the lane above the value (still positive) lets the latest lane with one win.
    const __m128i laneTags = _mm_setr_epi16(0, 1 << 12, 2 << 12, 3 << 12, 4 << 12, 5 << 12, 6 << 12, 7 << 12);
    const __m128i firstLane = _mm_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0);
    const auto carryForward = [&](__m128i value, __m128i has, __m128i carry) {
        const __m128i fromCarry = _mm_andnot_si128(has, _mm_and_si128(carry, firstLane));
        __m128i key = _mm_or_si128(_mm_and_si128(has, _mm_or_si128(value, laneTags)), fromCarry);
        key = _mm_max_epi16(key, _mm_slli_si128(key, 2));
        key = _mm_max_epi16(key, _mm_slli_si128(key, 4));
        key = _mm_max_epi16(key, _mm_slli_si128(key, 8));
        return _mm_and_si128(key, mask12);
    };

    // A group writes eight records, a vector word twelve.
    while (end - p >= 16 && capacity - n >= 8) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i type = _mm_srli_epi16(words, 12);
        const __m128i isX = _mm_cmpeq_epi16(type, two);
        const __m128i isY = _mm_cmpeq_epi16(type, zero);
        const __m128i isT = _mm_cmpeq_epi16(type, six);
        const unsigned known = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(isX, isY), isT)));
        // Lanes before the first word of another type are still taken.
        const unsigned lanes = unsigned(std::countr_zero(~known & 0x1ffff)) / 2;
        if (lanes == 0)
            break;
        const __m128i value = _mm_and_si128(words, mask11);
        const __m128i rows = carryForward(value, isY, rowCarry);
        const __m128i lows = carryForward(_mm_and_si128(words, mask12), isT, lowCarry);
        __m128i valid = _mm_and_si128(_mm_and_si128(isX, _mm_cmplt_epi16(value, widths)),
                                      _mm_cmplt_epi16(rows, heights));
        if (lanes == 8) {
            rowCarry = _mm_shuffle_epi32(_mm_shufflehi_epi16(rows, 0xff), 0xff);
            lowCarry = _mm_shuffle_epi32(_mm_shufflehi_epi16(lows, 0xff), 0xff);
        } else {
            alignas(16) uint16_t laneRows[8];
            alignas(16) uint16_t laneLows[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(laneRows), rows);
            _mm_store_si128(reinterpret_cast<__m128i*>(laneLows), lows);
            rowCarry = _mm_set1_epi16(int16_t(laneRows[lanes - 1]));
            lowCarry = _mm_set1_epi16(int16_t(laneLows[lanes - 1]));
            valid = _mm_and_si128(valid, _mm_cmplt_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7),
                                                         _mm_set1_epi16(int16_t(lanes))));
        }
        const unsigned bits = unsigned(_mm_movemask_epi8(_mm_packs_epi16(valid, zero)));
        const __m128i polarity = _mm_and_si128(_mm_srli_epi16(words, 11), one);
        Event2D* out = events + n;
        out = storeFourEvents(out, _mm_unpacklo_epi16(value, rows), _mm_unpacklo_epi16(polarity, zero),
                              _mm_or_si128(_mm_unpacklo_epi16(lows, zero), lowTime), highTime, bits);
        out = storeFourEvents(out, _mm_unpackhi_epi16(value, rows), _mm_unpackhi_epi16(polarity, zero),
                              _mm_or_si128(_mm_unpackhi_epi16(lows, zero), lowTime), highTime, bits >> 4);
        n = size_t(out - events);
        p += 2 * lanes;
        if (lanes == 8)
            continue;
        // Vector words in between are taken here, so that a run on a row does not end the
        // fast path.
        const uint64_t row = uint16_t(_mm_cvtsi128_si32(rowCarry));
        const uint64_t t = high | uint16_t(_mm_cvtsi128_si32(lowCarry));
        const uint32_t limit = uint32_t(row < height ? width : 0);
        const uint8_t* const vectorsFrom = p;
        while (end - p >= 2 && capacity - n >= 12) {
            const uint32_t word = load16(p);
            const uint32_t type = word >> 12;
            if (type == 0x3) {
                vectBase = word & 0x7ff;
                vectPolarity = (word >> 11) & 1;
            } else if (type == 0x4 || type == 0x5) {
                const uint32_t bits = type == 0x4 ? 12 : 8;
                const uint64_t mask = (word & (type == 0x4 ? 0xfffu : 0xffu)) & insideMask(vectBase, limit, bits);
                n = storeVector(events, n, vectBase | (row << 16) | (uint64_t(vectPolarity) << 32), t, mask, bits);
                vectBase = std::min(vectBase + bits, kVectBaseLimit);
            } else {
                break;
            }
            p += 2;
        }
        if (p == vectorsFrom)
            break;
    }

    y = uint16_t(_mm_cvtsi128_si32(rowCarry));
    now = high | uint16_t(_mm_cvtsi128_si32(lowCarry));
    count = n;
    return p;
}
#endif

#if defined(__SSE2__)
// The bulk of an EVT 2.0 stream: CD words, four at a time, each lane's record written where the
// next valid one goes (no branch per event). Runs until a group holds another type; the caller
// guarantees room for four records and that no event of the current TIME_HIGH can reach the stop
// time. Returns where it stopped.
const uint8_t* fastEvt2(const uint8_t* p, const uint8_t* const end, uint64_t highBits, uint32_t width, uint32_t height,
                        Event2D* events, size_t capacity, size_t& count)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask11 = _mm_set1_epi32(0x7ff);
    const __m128i mask6 = _mm_set1_epi32(0x3f);
    const __m128i widths = _mm_set1_epi32(int32_t(width));
    const __m128i heights = _mm_set1_epi32(int32_t(height));
    const __m128i lowTime = _mm_set1_epi32(int32_t(uint32_t(highBits)));
    const __m128i highTime = _mm_set1_epi32(int32_t(uint32_t(highBits >> 32)));
    const __m128i laneIndex = _mm_setr_epi32(0, 1, 2, 3);
    Event2D* out = events + count;
    while (end - p >= 16 && size_t(events + capacity - out) >= 4) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i isEvent = _mm_cmpeq_epi32(_mm_srli_epi32(words, 29), zero);
        const unsigned lanes = unsigned(std::countr_zero(~unsigned(_mm_movemask_ps(_mm_castsi128_ps(isEvent))) & 0x1f));
        if (lanes == 0)
            break;
        const __m128i xs = _mm_and_si128(_mm_srli_epi32(words, 11), mask11);
        const __m128i ys = _mm_and_si128(words, mask11);
        const __m128i inside = _mm_and_si128(_mm_cmplt_epi32(xs, widths), _mm_cmplt_epi32(ys, heights));
        const __m128i taken = _mm_cmplt_epi32(laneIndex, _mm_set1_epi32(int32_t(lanes)));
        const unsigned bits = unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_and_si128(inside, taken))));
        const __m128i positions = _mm_or_si128(xs, _mm_slli_epi32(ys, 16));
        const __m128i polarities = _mm_srli_epi32(words, 28);
        const __m128i times = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(words, 22), mask6), lowTime);
        out = storeFourEvents(out, positions, polarities, times, highTime, bits);
        p += 4 * lanes;
        if (lanes < 4)
            break;
    }
    count = size_t(out - events);
    return p;
}
#endif

#if defined(__SSE2__)
// fastEvt2 for counting (the index scan): the events inside and outside the sensor, and the least
// and greatest low time bits of those inside (left alone when none).
const uint8_t* countEvt2(const uint8_t* p, const uint8_t* const end, uint32_t width, uint32_t height, size_t& count,
                         uint64_t& outside, uint32_t& leastLow, uint32_t& mostLow)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask11 = _mm_set1_epi32(0x7ff);
    const __m128i mask6 = _mm_set1_epi32(0x3f);
    const __m128i widths = _mm_set1_epi32(int32_t(width));
    const __m128i heights = _mm_set1_epi32(int32_t(height));
    const __m128i laneIndex = _mm_setr_epi32(0, 1, 2, 3);
    // Low bits fit in 16, so the 16-bit minimum and maximum serve for the 32-bit lanes.
    __m128i least = _mm_set1_epi32(0x3f);
    __m128i most = zero;
    size_t n = count;
    while (end - p >= 16) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i isEvent = _mm_cmpeq_epi32(_mm_srli_epi32(words, 29), zero);
        const unsigned lanes = unsigned(std::countr_zero(~unsigned(_mm_movemask_ps(_mm_castsi128_ps(isEvent))) & 0x1f));
        if (lanes == 0)
            break;
        const __m128i xs = _mm_and_si128(_mm_srli_epi32(words, 11), mask11);
        const __m128i ys = _mm_and_si128(words, mask11);
        const __m128i taken = _mm_cmplt_epi32(laneIndex, _mm_set1_epi32(int32_t(lanes)));
        const __m128i inside = _mm_and_si128(_mm_and_si128(_mm_cmplt_epi32(xs, widths), _mm_cmplt_epi32(ys, heights)), taken);
        const __m128i lows = _mm_and_si128(_mm_srli_epi32(words, 22), mask6);
        least = _mm_min_epi16(least, _mm_or_si128(_mm_and_si128(inside, lows), _mm_andnot_si128(inside, mask6)));
        most = _mm_max_epi16(most, _mm_and_si128(inside, lows));
        const unsigned insideBits = unsigned(_mm_movemask_ps(_mm_castsi128_ps(inside)));
        n += countBits(insideBits);
        outside += lanes - countBits(insideBits);
        p += 4 * lanes;
        if (lanes < 4)
            break;
    }
    if (n > count) {
        alignas(16) uint32_t lo[4];
        alignas(16) uint32_t hi[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lo), least);
        _mm_store_si128(reinterpret_cast<__m128i*>(hi), most);
        leastLow = std::min(leastLow, *std::min_element(lo, lo + 4));
        mostLow = std::max(mostLow, *std::max_element(hi, hi + 4));
    }
    count = n;
    return p;
}
#endif

// fastEvt3 for counting (the index scan, the cut's copy): no rows or times per lane. The rows only
// matter when one lies outside the sensor (then the caller's word-by-word path takes over), and
// the times are bounded by the TIME_LOW values met: minNow and maxNow may come out a little wide.
const uint8_t* countEvt3(const uint8_t* p, const uint8_t* const end, uint64_t width, uint64_t height, uint64_t& now,
                         uint64_t& y, uint32_t& vectBase, uint32_t& vectPolarity, size_t& count, uint64_t& outside,
                         uint64_t& minNow, uint64_t& maxNow)
{
    const uint64_t high = now & ~uint64_t(0xfff);
    uint32_t low = uint32_t(now & 0xfff);
    uint32_t row = uint32_t(y);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i six = _mm_set1_epi16(6);
    const __m128i zero = _mm_setzero_si128();
    const __m128i mask11 = _mm_set1_epi16(0x7ff);
    const __m128i mask12 = _mm_set1_epi16(0xfff);
    const __m128i widths = _mm_set1_epi16(int16_t(width));
    const __m128i lastRow = _mm_set1_epi16(int16_t(height - 1));
    const __m128i laneIndex = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    __m128i lowest = _mm_set1_epi16(0x7fff);
    __m128i highest = _mm_set1_epi16(-1);
    uint32_t leastLow = 0xffff;
    uint32_t mostLow = 0;
    size_t n = count;

    while (end - p >= 16 && row < height) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i type = _mm_srli_epi16(words, 12);
        const __m128i isX = _mm_cmpeq_epi16(type, two);
        const __m128i isY = _mm_cmpeq_epi16(type, zero);
        const __m128i isT = _mm_cmpeq_epi16(type, six);
        const unsigned known = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(isX, isY), isT)));
        const unsigned lanes = unsigned(std::countr_zero(~known & 0x1ffff)) / 2;
        if (lanes == 0)
            break;
        const __m128i taken = _mm_cmplt_epi16(laneIndex, _mm_set1_epi16(int16_t(lanes)));
        const __m128i value = _mm_and_si128(words, mask11);
        const __m128i rows = _mm_and_si128(_mm_and_si128(isY, taken), _mm_set1_epi16(-1));
        if (_mm_movemask_epi8(_mm_and_si128(rows, _mm_cmpgt_epi16(value, lastRow))) != 0)
            break;
        const __m128i xs = _mm_and_si128(isX, taken);
        const __m128i valid = _mm_and_si128(xs, _mm_cmplt_epi16(value, widths));
        const unsigned eventBits = unsigned(_mm_movemask_epi8(valid));
        outside += countBits(unsigned(_mm_movemask_epi8(_mm_andnot_si128(valid, xs)))) / 2;
        if (eventBits) {
            n += countBits(eventBits) / 2;
            leastLow = std::min(leastLow, low);
            mostLow = std::max(mostLow, low);
        }
        const __m128i times = _mm_and_si128(isT, taken);
        const __m128i lows = _mm_and_si128(words, mask12);
        lowest = _mm_min_epi16(lowest, _mm_or_si128(_mm_and_si128(times, lows), _mm_andnot_si128(times, _mm_set1_epi16(0x7fff))));
        highest = _mm_max_epi16(highest, _mm_or_si128(_mm_and_si128(times, lows), _mm_andnot_si128(times, _mm_set1_epi16(-1))));
        const unsigned timeBits = unsigned(_mm_movemask_epi8(times));
        const unsigned rowBits = unsigned(_mm_movemask_epi8(rows));
        if (timeBits | rowBits) {
            alignas(16) uint16_t lanesOf[8];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanesOf), words);
            if (timeBits)
                low = lanesOf[(31 - std::countl_zero(timeBits)) / 2] & 0xfff;
            if (rowBits)
                row = lanesOf[(31 - std::countl_zero(rowBits)) / 2] & 0x7ff;
        }
        p += 2 * lanes;
        if (lanes == 8)
            continue;
        const uint32_t limit = uint32_t(row < height ? width : 0);
        const uint8_t* const vectorsFrom = p;
        while (end - p >= 2) {
            const uint32_t word = load16(p);
            const uint32_t wordType = word >> 12;
            if (wordType == 0x3) {
                vectBase = word & 0x7ff;
                vectPolarity = (word >> 11) & 1;
            } else if (wordType == 0x4 || wordType == 0x5) {
                const uint32_t bits = wordType == 0x4 ? 12 : 8;
                const uint64_t all = word & (wordType == 0x4 ? 0xfffu : 0xffu);
                const uint64_t mask = all & insideMask(vectBase, limit, bits);
                n += countBits(mask);
                outside += countBits(all) - countBits(mask);
                if (mask) {
                    leastLow = std::min(leastLow, low);
                    mostLow = std::max(mostLow, low);
                }
                vectBase = std::min(vectBase + bits, kVectBaseLimit);
            } else {
                break;
            }
            p += 2;
        }
        if (p == vectorsFrom)
            break;
    }

    alignas(16) int16_t lo[8];
    alignas(16) int16_t hi[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lo), lowest);
    _mm_store_si128(reinterpret_cast<__m128i*>(hi), highest);
    const int16_t timeLeast = *std::min_element(lo, lo + 8);
    const int16_t timeMost = *std::max_element(hi, hi + 8);
    if (n > count) {
        // Events came at the carried low or at one of the TIME_LOW values met.
        uint64_t least = leastLow;
        uint64_t most = mostLow;
        if (timeMost >= 0) {
            least = std::min<uint64_t>(least, uint64_t(timeLeast));
            most = std::max<uint64_t>(most, uint64_t(timeMost));
        }
        minNow = std::min(minNow, high | least);
        maxNow = std::max(maxNow, high | most);
    }
    now = high | low;
    y = row;
    count = n;
    return p;
}

// ADDR_Y, ADDR_X and TIME_LOW: the types fastEvt3 takes.
inline bool isFastType(uint32_t type)
{
    return (0x45u >> type) & 1;
}

template <bool Counting>
DecodeResult runEvt3(const uint8_t* const begin, const uint8_t* const end, DecoderState& state,
                     const SensorGeometry& geometry, uint64_t stopTime, size_t capacity, Output<Counting>& out)
{
    const uint8_t* p = begin;
    const DecoderPath path = chosenPath.load(std::memory_order_relaxed);
    const uint64_t width = geometry.width;
    const uint64_t height = geometry.height;
    uint64_t timeBase = state.timeBase;
    uint32_t timeHigh = state.timeHigh;
    uint64_t now = timeBase + (uint64_t(timeHigh) << 12) + state.timeLow;
    // Whether an event word would stop now, and whether no TIME_LOW can make one stop before
    // the next TIME_HIGH (which lets the fast path skip the check).
    bool stop = now >= stopTime;
    bool lowsCannotStop = (now | 0xfff) < stopTime;
    uint64_t y = state.y;
    uint64_t limitX = y < height ? width : 0;
    uint32_t vectBase = state.vectBase;
    uint32_t vectPolarity = state.polarity;
    // Counting: bounds of the times seen (a superset of the event times).
    uint64_t minNow = out.minTime;
    uint64_t maxNow = out.maxEventTime;

    size_t count = out.count;
    Event2D* const events = out.events;
    bool reachedStop = false;

    const auto timeChanged = [&] {
        now = timeBase + (uint64_t(timeHigh) << 12) + (now & 0xfff);
        stop = now >= stopTime;
        lowsCannotStop = (now | 0xfff) < stopTime;
    };
    const auto emitOne = [&](uint32_t word) {
        const uint64_t x = word & 0x7ff;
        if constexpr (Counting) {
            if (x < limitX) {
                minNow = std::min(minNow, now);
                maxNow = std::max(maxNow, now);
            }
            out.outside += x >= limitX;
        } else {
            storeEvent(events + count, x | (y << 16) | (uint64_t(word & 0x800) << 21), now);
        }
        count += x < limitX;
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
#if defined(__SSE2__)
            if (path != DecoderPath::Portable && lowsCannotStop && end - p >= 16 && isFastType(load16(p) >> 12)) {
                // It checks the room left itself, so it may run past blockEnd.
                const uint8_t* const from = p;
                // The narrower one also takes over near the end of the bytes or of the room, where
                // the wide one stops.
                if constexpr (Counting) {
                    if (path == DecoderPath::Avx512)
                        p = avx512::countEvt3Bulk(p, end, uint32_t(width), uint32_t(height), now, y, vectBase,
                                                  vectPolarity, count, out.outside, minNow, maxNow);
                    if (p == from)
                        p = countEvt3(p, end, width, height, now, y, vectBase, vectPolarity, count, out.outside,
                                      minNow, maxNow);
                } else {
                    if (path == DecoderPath::Avx512)
                        p = avx512::decodeEvt3Bulk(p, end, uint32_t(width), uint32_t(height), now, y, vectBase,
                                                   vectPolarity, events, capacity, count);
                    if (p == from)
                        p = fastEvt3(p, end, width, height, now, y, vectBase, vectPolarity, events, capacity, count);
                }
                limitX = y < height ? width : 0;
                if (p >= blockEnd)
                    break;
            }
#endif
            const uint32_t word = load16(p);
            const uint32_t type = word >> 12;
            switch (type) {
            case 0x0:
                y = word & 0x7ff;
                limitX = y < height ? width : 0;
                break;
            case 0x2:
                if (stop) {
                    reachedStop = true;
                    break;
                }
                emitOne(word);
                break;
            case 0x3:
                vectBase = word & 0x7ff;
                vectPolarity = (word >> 11) & 1;
                break;
            case 0x4:
            case 0x5: {
                const uint32_t bits = type == 0x4 ? 12 : 8;
                const uint64_t all = word & (type == 0x4 ? 0xfffu : 0xffu);
                uint64_t mask = all & insideMask(vectBase, uint32_t(limitX), bits);
                if (stop) {
                    reachedStop = true;
                    break;
                }
                if constexpr (Counting) {
                    count += size_t(countBits(mask));
                    out.outside += countBits(all) - countBits(mask);
                    if (mask) {
                        minNow = std::min(minNow, now);
                        maxNow = std::max(maxNow, now);
                    }
                } else {
                    // Every candidate pixel is written where the next event goes; only set bits
                    // advance, so there is no branch per bit.
                    count = storeVector(events, count, vectBase | (y << 16) | (uint64_t(vectPolarity) << 32), now,
                                        mask, bits);
                }
                vectBase = std::min(vectBase + bits, kVectBaseLimit);
                break;
            }
            case 0x6:
                now = (now & ~uint64_t(0xfff)) | (word & 0xfff);
                stop = now >= stopTime;
                break;
            case 0x8: {
                const uint32_t high = word & 0xfff;
                if (high < timeHigh) {
                    if (evt3CounterWrapped(timeHigh, high))
                        timeBase += kEvt3WrapPeriod;
                    else if (timeHigh - high >= kEvt3LongestStepBack)
                        ++out.timeRepairs; // damage: taken as it is, without a wrap
                }
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
                    minNow = std::min(minNow, now);
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
        out.minTime = minNow;
        out.maxEventTime = maxNow;
    }
    state.timeBase = timeBase;
    state.timeHigh = timeHigh;
    state.timeLow = uint32_t(now & 0xfff);
    state.y = uint16_t(y);
    state.vectBase = uint16_t(vectBase);
    state.polarity = uint8_t(vectPolarity);
    out.count = count;
    return DecodeResult{size_t(p - begin), reachedStop};
}

// TIME_HIGH of EVT 2.0 and 2.1: a value far below the last one means the counter wrapped. Time in
// these streams never goes back, and goes ahead in small steps: a word that moves it back or far
// ahead is damage and is ignored (false).
inline bool advanceTimeHigh(uint32_t high, uint64_t& timeBase, uint32_t& timeHigh, uint64_t& highBits)
{
    const uint64_t base = high + (uint32_t(1) << 27) <= timeHigh ? timeBase + kEvt2WrapPeriod : timeBase;
    const uint64_t next = base + (uint64_t(high) << 6);
    if (next < highBits || next - highBits > kMaxEvt2TimeStep)
        return false;
    timeBase = base;
    timeHigh = high;
    highBits = next;
    return true;
}

// An EXT_TRIGGER of EVT 2.0 or 2.1, decoded at t.
template <bool Counting>
inline void addEvt2Trigger(Output<Counting>& out, uint32_t id, uint32_t polarity, uint64_t t)
{
    if constexpr (Counting) {
        ++out.triggerCount;
        out.maxTriggerTime = std::max(out.maxTriggerTime, t);
        out.minTime = std::min(out.minTime, t);
    }
    if (out.triggers)
        out.triggers->emplace_back(int16_t(id), int16_t(polarity), t);
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
    // No event before the next TIME_HIGH can stop the decoding (which lets the fast path skip
    // the check).
    bool eventsCannotStop = (highBits | 0x3f) < stopTime;
    const DecoderPath path = chosenPath.load(std::memory_order_relaxed);

    while (p < end && !reachedStop) {
        size_t words = size_t(end - p) / 4;
        if constexpr (!Counting) {
            words = std::min(words, capacity - count);
            if (words == 0)
                break;
        }
        const uint8_t* const blockEnd = p + words * 4;
        for (; p < blockEnd; p += 4) {
#if defined(__SSE2__)
            if (path != DecoderPath::Portable && eventsCannotStop && blockEnd - p >= 16) {
                if constexpr (Counting) {
                    // The index scan takes the same paths as decoding.
                    const size_t before = count;
                    uint32_t leastLow = 0x3f;
                    uint32_t mostLow = 0;
                    if (path == DecoderPath::Avx512)
                        p = avx512::countEvt2Bulk(p, blockEnd, width, height, count, out.outside, leastLow, mostLow);
                    p = countEvt2(p, blockEnd, width, height, count, out.outside, leastLow, mostLow);
                    if (count > before) {
                        out.minTime = std::min(out.minTime, highBits | leastLow);
                        out.maxEventTime = std::max(out.maxEventTime, highBits | mostLow);
                    }
                } else {
                    if (path == DecoderPath::Avx512)
                        p = avx512::decodeEvt2Bulk(p, blockEnd, highBits, width, height, events, capacity, count);
                    p = fastEvt2(p, blockEnd, highBits, width, height, events, capacity, count);
                }
                if (blockEnd - p < 4)
                    break;
            }
#endif
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
                    out.outside += !inside;
                    out.maxEventTime = std::max(out.maxEventTime, inside ? t : 0);
                    out.minTime = std::min(out.minTime, inside ? t : UINT64_MAX);
                } else {
                    storeEvent(events + count, x | (uint64_t(y) << 16) | (uint64_t(type) << 32), t);
                    count += inside;
                }
                continue;
            }
            if (type == 0x8) {
                if (!advanceTimeHigh(word & 0x0fffffff, timeBase, timeHigh, highBits))
                    ++out.timeRepairs;
                eventsCannotStop = (highBits | 0x3f) < stopTime;
            } else if (type == 0xA) {
                const uint64_t t = highBits | ((word >> 22) & 0x3f);
                if (t >= stopTime) {
                    reachedStop = true;
                    break;
                }
                addEvt2Trigger(out, (word >> 8) & 0x1f, word & 1, t);
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
                    count += size_t(countBits(mask));
                    out.outside += countBits(uint32_t(word)) - countBits(mask);
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
                if (!advanceTimeHigh(uint32_t(word >> 32) & 0x0fffffff, timeBase, timeHigh, highBits))
                    ++out.timeRepairs;
            } else if (type == 0xA) {
                const uint64_t t = highBits | ((word >> 54) & 0x3f);
                if (t >= stopTime) {
                    reachedStop = true;
                    break;
                }
                addEvt2Trigger(out, uint32_t(word >> 40) & 0x1f, uint32_t(word >> 32) & 1, t);
            }
        }
    }
    state.timeBase = timeBase;
    state.timeHigh = timeHigh;
    out.count = count;
    return DecodeResult{size_t(p - begin), reachedStop};
}

#if defined(__SSE2__)
// The records of a `.dat` file, four at a time, each lane's record written where the next valid
// one goes. The caller guarantees that no record can reach the stop time and room for four.
const uint8_t* fastDat(const uint8_t* p, const uint8_t* const end, uint32_t width, uint32_t height, Event2D* events,
                       size_t capacity, size_t& count)
{
    const __m128i mask14 = _mm_set1_epi32(0x3fff);
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi32(1);
    const __m128i widths = _mm_set1_epi32(int32_t(width));
    const __m128i heights = _mm_set1_epi32(int32_t(height));
    Event2D* out = events + count;
    while (end - p >= 32 && size_t(events + capacity - out) >= 4) {
        const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        const __m128i times = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i words = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i xs = _mm_and_si128(words, mask14);
        const __m128i ys = _mm_and_si128(_mm_srli_epi32(words, 14), mask14);
        const __m128i polarities = _mm_andnot_si128(_mm_cmpeq_epi32(_mm_srli_epi32(words, 28), zero), one);
        const __m128i inside = _mm_and_si128(_mm_cmplt_epi32(xs, widths), _mm_cmplt_epi32(ys, heights));
        const unsigned bits = unsigned(_mm_movemask_ps(_mm_castsi128_ps(inside)));
        const __m128i positions = _mm_or_si128(xs, _mm_slli_epi32(ys, 16));
        out = storeFourEvents(out, positions, polarities, times, zero, bits);
        p += 32;
    }
    count = size_t(out - events);
    return p;
}
#endif

// `.dat` records: the time (32 bits, no wraps), then x = bits 13..0, y = bits 27..14 and polarity
// = bits 31..28 (any value but 0 is taken as 1). No state is carried between records.
template <bool Counting>
DecodeResult runDat(const uint8_t* const begin, const uint8_t* const end, const SensorGeometry& geometry,
                    uint64_t stopTime, size_t capacity, Output<Counting>& out)
{
    const uint8_t* p = begin;
    const uint32_t width = geometry.width;
    const uint32_t height = geometry.height;
    size_t count = out.count;
    Event2D* const events = out.events;
    bool reachedStop = false;
    const bool recordsCannotStop = stopTime > UINT32_MAX;
    size_t records = size_t(end - p) / 8;
    if constexpr (!Counting)
        records = std::min(records, capacity - count);
    const uint8_t* const blockEnd = p + records * 8;
#if defined(__SSE2__)
    if constexpr (!Counting) {
        const DecoderPath path = chosenPath.load(std::memory_order_relaxed);
        if (recordsCannotStop && path == DecoderPath::Avx512)
            p = avx512::decodeDatBulk(p, blockEnd, width, height, events, capacity, count);
        if (recordsCannotStop && path != DecoderPath::Portable)
            p = fastDat(p, blockEnd, width, height, events, capacity, count);
    }
#endif
    uint32_t maxX = out.maxX;
    uint32_t maxY = out.maxY;
    for (; p < blockEnd; p += 8) {
        const uint64_t record = load64(p);
        const uint64_t t = uint32_t(record);
        const uint32_t word = uint32_t(record >> 32);
        const uint32_t x = word & 0x3fff;
        const uint32_t y = (word >> 14) & 0x3fff;
        const bool inside = (x < width) & (y < height);
        if (!recordsCannotStop && t >= stopTime) {
            reachedStop = true;
            break;
        }
        if constexpr (Counting) {
            out.outside += !inside;
            if (inside) {
                out.maxEventTime = std::max(out.maxEventTime, t);
                out.minTime = std::min(out.minTime, t);
                maxX = std::max(maxX, x);
                maxY = std::max(maxY, y);
            }
        } else {
            storeEvent(events + count, x | (uint64_t(y) << 16) | (uint64_t((word >> 28) != 0) << 32), t);
        }
        count += inside;
    }
    out.maxX = maxX;
    out.maxY = maxY;
    out.count = count;
    return DecodeResult{size_t(p - begin), reachedStop};
}

// Words before the first time word: their events have no known time and are skipped. EVT 3.0
// keeps the row, vector and low-time state they set. Returns the first word not taken; the
// state knows its time from there on, unless the words ran out.
const uint8_t* skipUntimed(EventEncoding encoding, bool legacy, const uint8_t* p, const uint8_t* const end,
                           DecoderState& state)
{
    if (encoding == EventEncoding::Evt3) {
        for (; p < end; p += 2) {
            const uint32_t word = load16(p);
            switch (word >> 12) {
            case 0x0: state.y = uint16_t(word & 0x7ff); break;
            case 0x3:
                state.vectBase = uint16_t(word & 0x7ff);
                state.polarity = uint8_t((word >> 11) & 1);
                break;
            case 0x4: state.vectBase = uint16_t(std::min<uint32_t>(state.vectBase + 12, kVectBaseLimit)); break;
            case 0x5: state.vectBase = uint16_t(std::min<uint32_t>(state.vectBase + 8, kVectBaseLimit)); break;
            case 0x6: state.timeLow = word & 0xfff; break;
            case 0x8:
                // The decoder takes this word itself: a first TIME_HIGH never counts as a wrap.
                state.timeKnown = true;
                return p;
            default: break;
            }
        }
        return p;
    }
    // EVT 2.x: the first TIME_HIGH is taken here, since any step from an unknown time is plausible.
    const size_t wordSize = encodingWordSize(encoding);
    for (; p < end; p += wordSize) {
        uint32_t high = 0;
        if (encoding == EventEncoding::Evt2) {
            const uint32_t word = load32(p);
            if (word >> 28 != 0x8)
                continue;
            high = word & 0x0fffffff;
        } else {
            uint64_t word = load64(p);
            if (legacy)
                word = (word << 32) | (word >> 32);
            if (word >> 60 != 0x8)
                continue;
            high = uint32_t(word >> 32) & 0x0fffffff;
        }
        state.timeHigh = high;
        state.timeKnown = true;
        return p + wordSize;
    }
    return p;
}

template <bool Counting>
DecodeResult run(EventEncoding encoding, bool legacy, std::span<const uint8_t> bytes, DecoderState& state,
                 const SensorGeometry& geometry, uint64_t stopTime, size_t capacity, Output<Counting>& out)
{
    // Only whole words: a trailing partial word is left for the caller.
    const size_t wordSize = encodingWordSize(encoding);
    if (wordSize == 0)
        return {};
    const uint8_t* const data = bytes.data();
    const uint8_t* const end = data + (bytes.size() - bytes.size() % wordSize);
    // `.dat` records each carry their whole time.
    const uint8_t* const begin = state.timeKnown || encoding == EventEncoding::Dat
        ? data
        : skipUntimed(encoding, legacy, data, end, state);
    DecodeResult result;
    switch (encoding) {
    case EventEncoding::Evt3: result = runEvt3(begin, end, state, geometry, stopTime, capacity, out); break;
    case EventEncoding::Evt2: result = runEvt2(begin, end, state, geometry, stopTime, capacity, out); break;
    case EventEncoding::Evt21: result = runEvt21(begin, end, state, geometry, legacy, stopTime, capacity, out); break;
    case EventEncoding::Dat: result = runDat(begin, end, geometry, stopTime, capacity, out); break;
    case EventEncoding::Unknown: break;
    }
    result.bytesUsed += size_t(begin - data);
    return result;
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

bool avx512::supported()
{
    // The choice is made while static objects are built, perhaps before the runtime looked.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
           && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2");
}

std::vector<DecoderPath> availableDecoderPaths()
{
    std::vector<DecoderPath> paths{DecoderPath::Portable};
#if defined(__SSE2__)
    paths.push_back(DecoderPath::Sse2);
    if (avx512::supported())
        paths.push_back(DecoderPath::Avx512);
#endif
    return paths;
}

DecoderPath decoderPath()
{
    return chosenPath.load();
}

bool setDecoderPath(DecoderPath path)
{
    const std::vector<DecoderPath> paths = availableDecoderPaths();
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
        return false;
    chosenPath.store(path);
    return true;
}

size_t maxEventsPerWord(EventEncoding encoding)
{
    switch (encoding) {
    case EventEncoding::Evt3: return 12;
    case EventEncoding::Evt2: return 1;
    case EventEncoding::Evt21: return 32;
    case EventEncoding::Dat: return 1;
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
    if (out.count > 0) {
        stats.maxX = stats.events > 0 ? std::max(stats.maxX, out.maxX) : out.maxX;
        stats.maxY = stats.events > 0 ? std::max(stats.maxY, out.maxY) : out.maxY;
    }
    stats.events += out.count;
    stats.triggers += out.triggerCount;
    stats.outside += out.outside;
    stats.timeRepairs += out.timeRepairs;
    return result;
}

} // namespace sorvane
