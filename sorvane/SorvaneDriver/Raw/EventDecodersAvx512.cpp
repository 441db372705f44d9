#include "SorvaneDriver/Raw/EventDecodersAvx512.h"

// GCC 12's AVX-512 header trips its own uninitialised-value warnings (its "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace sorvane::avx512 {

namespace {

// Lane indices for vpermt2w, made once.
struct Indices {
    // Pairs (a[k], b[k]) of the k-th half of two 16-bit vectors: a record's x with its row, its
    // low time with its polarity.
    alignas(64) uint16_t pairs[2][32];
    // Four records from those pairs: x, y, polarity, 0 | low time, 0, 0, 0 (the zeros are masked).
    alignas(64) uint16_t records[4][32];
    // Lane i - 1.
    alignas(64) uint16_t previous[32];
    // The keys of lanes: i + 1, for finding the latest lane with a value.
    alignas(64) uint16_t keys[32];
    // Lane i.
    alignas(64) uint16_t lanes[32];
};

constexpr Indices makeIndices()
{
    Indices indices{};
    for (uint16_t half = 0; half < 2; ++half) {
        for (uint16_t k = 0; k < 16; ++k) {
            indices.pairs[half][2 * k] = uint16_t(16 * half + k);
            indices.pairs[half][2 * k + 1] = uint16_t(32 + 16 * half + k);
        }
    }
    for (uint16_t group = 0; group < 4; ++group) {
        for (uint16_t k = 0; k < 4; ++k) {
            const uint16_t pair = uint16_t(2 * (4 * group + k));
            indices.records[group][8 * k] = pair;
            indices.records[group][8 * k + 1] = uint16_t(pair + 1);
            indices.records[group][8 * k + 2] = uint16_t(32 + pair + 1);
            indices.records[group][8 * k + 4] = uint16_t(32 + pair);
        }
    }
    for (uint16_t i = 0; i < 32; ++i) {
        indices.previous[i] = uint16_t(i == 0 ? 0 : i - 1);
        indices.keys[i] = uint16_t(i + 1);
        indices.lanes[i] = i;
    }
    return indices;
}

constexpr Indices kIndices = makeIndices();
// Lanes x, y, polarity and low time of each record's eight 16-bit lanes.
constexpr __mmask32 kRecordLanes = 0x17171717;

inline __m512i load(const uint16_t* indices)
{
    return _mm512_load_si512(indices);
}

// Writes the records of the first (or second) sixteen pairs: four stores of four records.
inline void storeRecords(uint8_t* out, __m512i positions, __m512i lowsAndPolarities, __m512i timeHigh)
{
    for (int group = 0; group < 4; ++group) {
        const __m512i records = _mm512_maskz_permutex2var_epi16(kRecordLanes, positions,
                                                                load(kIndices.records[group]), lowsAndPolarities);
        _mm512_storeu_si512(out + 64 * group, _mm512_or_si512(records, timeHigh));
    }
}

inline uint32_t lanesBefore(uint64_t other)
{
    return uint32_t(__builtin_ctzll(other));
}

// The pixels of a vector word from position (x | y << 16 | polarity << 32) on, each written where
// the next event goes: only the set bits of mask advance. Returns the new count.
inline size_t storeVector(uint8_t* records, size_t count, uint64_t position, uint64_t timestamp, uint32_t mask,
                          uint32_t bits)
{
    // x never carries into y (it stays below 4096 + 12).
    __m128i record = _mm_set_epi64x(int64_t(timestamp), int64_t(position));
    const __m128i nextX = _mm_set_epi64x(0, 1);
    for (uint32_t i = 0; i < bits; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(records + 16 * count), record);
        count += (mask >> i) & 1;
        record = _mm_add_epi64(record, nextX);
    }
    return count;
}

// Vector words and their bases from p on, as long as room for one more is left. Returns where
// they end.
const uint8_t* takeVectors(const uint8_t* p, const uint8_t* const end, uint32_t limit, uint64_t row, uint64_t time,
                           uint32_t& vectBase, uint32_t& vectPolarity, uint8_t* records, size_t capacity, size_t& n)
{
    // A vector base never goes further than this (as in the word-by-word decoder).
    constexpr uint32_t baseLimit = 4096;
    while (end - p >= 2 && capacity - n >= 12) {
        uint16_t word;
        __builtin_memcpy(&word, p, sizeof word);
        const uint32_t type = uint32_t(word) >> 12;
        if (type == 0x3) {
            vectBase = word & 0x7ffu;
            vectPolarity = (uint32_t(word) >> 11) & 1;
        } else if (type == 0x4 || type == 0x5) {
            const uint32_t bits = type == 0x4 ? 12 : 8;
            uint32_t mask = word & (type == 0x4 ? 0xfffu : 0xffu);
            if (vectBase >= limit)
                mask = 0;
            else if (limit - vectBase < bits)
                mask &= (uint32_t(1) << (limit - vectBase)) - 1;
            n = storeVector(records, n, vectBase | (row << 16) | (uint64_t(vectPolarity) << 32), time, mask, bits);
            vectBase = vectBase + bits < baseLimit ? vectBase + bits : baseLimit;
        } else {
            break;
        }
        p += 2;
    }
    return p;
}

// Each lane's row and low time (EVT 3.0) come from the latest lane at or before it that sets them,
// or from the carry: a running maximum of lane keys, the row's in the low byte and the time's in
// the high one.
inline void carryForward(__m512i words, __mmask32 isY, __mmask32 isT, __m512i rowCarry, __m512i lowCarry,
                         __m512i& rows, __m512i& lows)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i keys = load(kIndices.keys);
    __m512i key = _mm512_or_si512(_mm512_maskz_mov_epi16(isY, keys),
                                  _mm512_maskz_mov_epi16(isT, _mm512_slli_epi16(keys, 8)));
    key = _mm512_max_epu8(key, _mm512_maskz_permutexvar_epi16(~__mmask32(1), load(kIndices.previous), key));
    key = _mm512_max_epu8(key, _mm512_alignr_epi32(key, zero, 15));
    key = _mm512_max_epu8(key, _mm512_alignr_epi32(key, zero, 14));
    key = _mm512_max_epu8(key, _mm512_alignr_epi32(key, zero, 12));
    key = _mm512_max_epu8(key, _mm512_alignr_epi32(key, zero, 8));
    // Key 0 (no lane yet) becomes index 63: the carry's lanes.
    const __m512i rowFrom = _mm512_sub_epi16(_mm512_and_si512(key, _mm512_set1_epi16(0xff)), one);
    const __m512i lowFrom = _mm512_sub_epi16(_mm512_srli_epi16(key, 8), one);
    rows = _mm512_permutex2var_epi16(_mm512_and_si512(words, _mm512_set1_epi16(0x7ff)), rowFrom, rowCarry);
    lows = _mm512_permutex2var_epi16(_mm512_and_si512(words, _mm512_set1_epi16(0xfff)), lowFrom, lowCarry);
}

} // namespace

const uint8_t* countEvt3Bulk(const uint8_t* p, const uint8_t* const end, uint32_t width, uint32_t height,
                             uint64_t& now, uint64_t& y, uint32_t& vectBase, uint32_t& vectPolarity, size_t& count,
                             uint64_t& outside, uint64_t& minNow, uint64_t& maxNow)
{
    const uint64_t high = now & ~uint64_t(0xfff);
    const __m512i widths = _mm512_set1_epi16(int16_t(width < 2048 ? width : 2048));
    const __m512i heights = _mm512_set1_epi16(int16_t(height < 2048 ? height : 2048));
    const __m512i mask11 = _mm512_set1_epi16(0x7ff);
    const __m512i zero = _mm512_setzero_si512();
    __m512i rowCarry = _mm512_set1_epi16(int16_t(y));
    __m512i lowCarry = _mm512_set1_epi16(int16_t(now & 0xfff));
    // Least and greatest low time of the events counted, lane by lane.
    __m512i least = _mm512_set1_epi16(-1);
    __m512i most = zero;
    uint32_t leastLow = 0xffff;
    uint32_t mostLow = 0;
    size_t n = count;
    uint64_t left = outside;

    while (end - p >= 64) {
        const __m512i words = _mm512_loadu_si512(p);
        const __m512i type = _mm512_srli_epi16(words, 12);
        const __mmask32 isX = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(2));
        const __mmask32 isY = _mm512_cmpeq_epi16_mask(type, zero);
        const __mmask32 isT = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(6));
        const uint32_t lanes = lanesBefore(~uint64_t(isX | isY | isT));
        if (lanes == 0)
            break;
        const __mmask32 taken = lanes == 32 ? ~__mmask32(0) : __mmask32((uint32_t(1) << lanes) - 1);
        __m512i rows;
        __m512i lows;
        carryForward(words, isY, isT, rowCarry, lowCarry, rows, lows);
        const __mmask32 xs = isX & taken;
        const __mmask32 valid = xs & _mm512_cmplt_epu16_mask(_mm512_and_si512(words, mask11), widths)
                                & _mm512_cmplt_epu16_mask(rows, heights);
        least = _mm512_mask_min_epu16(least, valid, least, lows);
        most = _mm512_mask_max_epu16(most, valid, most, lows);
        n += uint32_t(__builtin_popcount(valid));
        left += uint32_t(__builtin_popcount(xs & ~valid));
        const __m512i last = _mm512_set1_epi16(int16_t(lanes - 1));
        rowCarry = _mm512_permutexvar_epi16(last, rows);
        lowCarry = _mm512_permutexvar_epi16(last, lows);
        p += 2 * lanes;
        if (lanes == 32)
            continue;
        // Vector words in between, at the carried row and time.
        const uint32_t row = uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(rowCarry)));
        const uint32_t low = uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(lowCarry)));
        const uint32_t limit = row < height ? width : 0;
        const uint8_t* const vectorsFrom = p;
        while (end - p >= 2) {
            uint16_t word;
            __builtin_memcpy(&word, p, sizeof word);
            const uint32_t wordType = uint32_t(word) >> 12;
            if (wordType == 0x3) {
                vectBase = word & 0x7ffu;
                vectPolarity = (uint32_t(word) >> 11) & 1;
            } else if (wordType == 0x4 || wordType == 0x5) {
                const uint32_t bits = wordType == 0x4 ? 12 : 8;
                const uint32_t all = word & (wordType == 0x4 ? 0xfffu : 0xffu);
                uint32_t mask = all;
                if (vectBase >= limit)
                    mask = 0;
                else if (limit - vectBase < bits)
                    mask &= (uint32_t(1) << (limit - vectBase)) - 1;
                n += uint32_t(__builtin_popcount(mask));
                left += uint32_t(__builtin_popcount(all & ~mask));
                if (mask) {
                    leastLow = low < leastLow ? low : leastLow;
                    mostLow = low > mostLow ? low : mostLow;
                }
                vectBase = vectBase + bits < 4096 ? vectBase + bits : 4096;
            } else {
                break;
            }
            p += 2;
        }
        if (p == vectorsFrom)
            break;
    }

    alignas(64) uint16_t leastLanes[32];
    alignas(64) uint16_t mostLanes[32];
    _mm512_store_si512(leastLanes, least);
    _mm512_store_si512(mostLanes, most);
    for (int i = 0; i < 32; ++i) {
        leastLow = leastLanes[i] < leastLow ? leastLanes[i] : leastLow;
        mostLow = mostLanes[i] > mostLow ? mostLanes[i] : mostLow;
    }
    if (n > count) {
        minNow = (high | leastLow) < minNow ? (high | leastLow) : minNow;
        maxNow = (high | mostLow) > maxNow ? (high | mostLow) : maxNow;
    }
    y = uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(rowCarry)));
    now = high | uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(lowCarry)));
    count = n;
    outside = left;
    return p;
}

const uint8_t* decodeEvt3Bulk(const uint8_t* p, const uint8_t* const end, uint32_t width, uint32_t height,
                              uint64_t& now, uint64_t& y, uint32_t& vectBase, uint32_t& vectPolarity, void* events,
                              size_t capacity, size_t& count)
{
    const uint64_t high = now & ~uint64_t(0xfff);
    // Values are below 2^11: larger sensors take every one.
    const __m512i widths = _mm512_set1_epi16(int16_t(width < 2048 ? width : 2048));
    const __m512i heights = _mm512_set1_epi16(int16_t(height < 2048 ? height : 2048));
    const __m512i mask11 = _mm512_set1_epi16(0x7ff);
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i timeHigh = _mm512_set_epi64(int64_t(high), 0, int64_t(high), 0, int64_t(high), 0, int64_t(high), 0);
    const __m512i zero = _mm512_setzero_si512();
    __m512i rowCarry = _mm512_set1_epi16(int16_t(y));
    __m512i lowCarry = _mm512_set1_epi16(int16_t(now & 0xfff));
    uint8_t* const records = static_cast<uint8_t*>(events);
    size_t n = count;

    while (end - p >= 64 && capacity - n >= 32) {
        const __m512i words = _mm512_loadu_si512(p);
        const __m512i type = _mm512_srli_epi16(words, 12);
        const __mmask32 isX = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(2));
        const __mmask32 isY = _mm512_cmpeq_epi16_mask(type, zero);
        const __mmask32 isT = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(6));
        const uint32_t isBase = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(3));
        const uint32_t is12 = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(4));
        const uint32_t is8 = _mm512_cmpeq_epi16_mask(type, _mm512_set1_epi16(5));
        // Vector groups as sensors send them, whole in these words: VECT_BASE_X, VECT_12, VECT_12,
        // VECT_8. A step takes one; other vector words are taken one by one below.
        const uint32_t vectorGroups = isBase & (is12 >> 1) & (is12 >> 2) & (is8 >> 3);
        const uint32_t groupLanes = vectorGroups | vectorGroups << 1 | vectorGroups << 2 | vectorGroups << 3;
        const uint32_t laterGroups = vectorGroups & (vectorGroups - 1);
        uint32_t lanes = lanesBefore(~uint64_t(isX | isY | isT | groupLanes) | laterGroups);
        if (lanes > 0) {
            __m512i rows;
            __m512i lows;
            carryForward(words, isY, isT, rowCarry, lowCarry, rows, lows);
            const uint32_t inside = isX & _mm512_cmplt_epu16_mask(_mm512_and_si512(words, mask11), widths)
                                    & _mm512_cmplt_epu16_mask(rows, heights);
            uint32_t taken = lanes == 32 ? ~uint32_t(0) : (uint32_t(1) << lanes) - 1;
            uint32_t valid = inside & taken;

            // The vector group's pixels, if there is one (lane 0's words stand in when not).
            bool hasGroup = (vectorGroups & taken) != 0;
            const uint32_t lane = hasGroup ? uint32_t(__builtin_ctz(vectorGroups)) : 0;
            uint64_t group;
            __builtin_memcpy(&group, p + 2 * lane, sizeof group);
            const __m512i groupLane = _mm512_set1_epi16(int16_t(lane));
            const __m512i groupRow = _mm512_permutexvar_epi16(groupLane, rows);
            const uint32_t row = uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(groupRow)));
            const uint32_t limit = row < height ? width : 0;
            const uint32_t base = group & 0x7ffu;
            uint32_t pixelMask = uint32_t((group >> 16) & 0xfff) | uint32_t((group >> 32) & 0xfff) << 12
                                 | uint32_t((group >> 48) & 0xff) << 24;
            if (!hasGroup || base >= limit)
                pixelMask = 0;
            else if (limit - base < 32)
                pixelMask &= (uint32_t(1) << (limit - base)) - 1;
            uint32_t pixels = uint32_t(__builtin_popcount(pixelMask));
            const uint32_t xsBefore = uint32_t(__builtin_popcount(valid & ((uint32_t(1) << lane) - 1)));
            if (uint32_t(__builtin_popcount(valid)) + pixels > 32) {
                // A step's records fit in 32 lanes: fewer words are taken, the group's if need be.
                if (xsBefore + pixels <= 32) {
                    alignas(64) uint16_t validLanes[32];
                    _mm512_store_si512(validLanes, _mm512_maskz_compress_epi16(valid, load(kIndices.lanes)));
                    lanes = validLanes[32 - pixels];
                } else {
                    lanes = lane;
                    hasGroup = false;
                    pixelMask = 0;
                    pixels = 0;
                }
                taken = (uint32_t(1) << lanes) - 1;
                valid &= taken;
            }
            const __m512i last = _mm512_set1_epi16(int16_t(lanes - 1));
            rowCarry = _mm512_permutexvar_epi16(last, rows);
            lowCarry = _mm512_permutexvar_epi16(last, lows);

            // The valid ADDR_X lanes packed to the front, with the group's pixels spread in between
            // them; then paired and spread into records. All 32 lanes are written, whatever the count
            // (a branch on it would mispredict): those past the count are overwritten by the next.
            const uint32_t pixelLanes = uint32_t(((uint64_t(1) << pixels) - 1) << xsBefore);
            const __m512i groupXs = _mm512_add_epi16(load(kIndices.lanes), _mm512_set1_epi16(int16_t(base)));
            const __m512i pixelXs =
                _mm512_maskz_expand_epi16(pixelLanes, _mm512_maskz_compress_epi16(pixelMask, groupXs));
            const __m512i xWords = _mm512_maskz_compress_epi16(valid, words);
            const __m512i xs = _mm512_mask_expand_epi16(pixelXs, ~pixelLanes, _mm512_and_si512(xWords, mask11));
            const __m512i polarities = _mm512_mask_expand_epi16(_mm512_set1_epi16(int16_t((group >> 11) & 1)),
                                                                ~pixelLanes,
                                                                _mm512_and_si512(_mm512_srli_epi16(xWords, 11), one));
            const __m512i recordRows = _mm512_mask_expand_epi16(groupRow, ~pixelLanes,
                                                                _mm512_maskz_compress_epi16(valid, rows));
            const __m512i recordLows = _mm512_mask_expand_epi16(_mm512_permutexvar_epi16(groupLane, lows), ~pixelLanes,
                                                                _mm512_maskz_compress_epi16(valid, lows));
            const uint32_t taking = uint32_t(__builtin_popcount(valid)) + pixels;
            uint8_t* const out = records + 16 * n;
            storeRecords(out, _mm512_permutex2var_epi16(xs, load(kIndices.pairs[0]), recordRows),
                         _mm512_permutex2var_epi16(recordLows, load(kIndices.pairs[0]), polarities), timeHigh);
            storeRecords(out + 256, _mm512_permutex2var_epi16(xs, load(kIndices.pairs[1]), recordRows),
                         _mm512_permutex2var_epi16(recordLows, load(kIndices.pairs[1]), polarities), timeHigh);
            n += taking;
            if (hasGroup) {
                vectBase = base + 32;
                vectPolarity = (group >> 11) & 1;
            }
            p += 2 * lanes;
            // The next step starts at a word it can take: one cut off by the end of these words,
            // the next vector group, or the lane where records would no longer fit.
            if (lanes == 32 || ((isX | isY | isT | isBase) >> lanes) & 1)
                continue;
        }
        // Vector words in between that form no whole group, so that they do not end the fast path.
        const uint64_t row = uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(rowCarry)));
        const uint64_t time = high | uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(lowCarry)));
        const uint8_t* const vectorsFrom = p;
        p = takeVectors(p, end, row < height ? width : 0, row, time, vectBase, vectPolarity, records, capacity, n);
        if (p == vectorsFrom)
            break;
    }

    y = uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(rowCarry)));
    now = high | uint16_t(_mm_cvtsi128_si32(_mm512_castsi512_si128(lowCarry)));
    count = n;
    return p;
}

const uint8_t* decodeEvt2Bulk(const uint8_t* p, const uint8_t* const end, uint64_t highBits, uint32_t width,
                              uint32_t height, void* events, size_t capacity, size_t& count)
{
    const __m512i widths = _mm512_set1_epi32(int32_t(width < 2048 ? width : 2048));
    const __m512i heights = _mm512_set1_epi32(int32_t(height < 2048 ? height : 2048));
    const __m512i mask11 = _mm512_set1_epi32(0x7ff);
    const __m512i mask6 = _mm512_set1_epi32(0x3f);
    const __m512i timeHigh = _mm512_set_epi64(int64_t(highBits), 0, int64_t(highBits), 0, int64_t(highBits), 0,
                                              int64_t(highBits), 0);
    uint8_t* const records = static_cast<uint8_t*>(events);
    size_t n = count;

    while (end - p >= 64 && capacity - n >= 16) {
        const __m512i words = _mm512_loadu_si512(p);
        const __mmask16 other = _mm512_test_epi32_mask(words, _mm512_set1_epi32(int32_t(0xe0000000)));
        const uint32_t lanes = lanesBefore(uint64_t(other) | 0x10000);
        if (lanes == 0)
            break;
        const __mmask16 taken = __mmask16((uint32_t(1) << lanes) - 1);
        const __m512i xs = _mm512_and_si512(_mm512_srli_epi32(words, 11), mask11);
        const __m512i ys = _mm512_and_si512(words, mask11);
        const __mmask16 valid = taken & _mm512_cmplt_epu32_mask(xs, widths) & _mm512_cmplt_epu32_mask(ys, heights);

        // The valid words packed to the front; as 16-bit pairs (x, y) and (low time, polarity)
        // they are what storeRecords spreads.
        const __m512i packed = _mm512_maskz_compress_epi32(valid, words);
        const __m512i positions = _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(packed, 11), mask11),
                                                  _mm512_slli_epi32(_mm512_and_si512(packed, mask11), 16));
        const __m512i lowsAndPolarities = _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(packed, 22), mask6),
                                                          _mm512_slli_epi32(_mm512_srli_epi32(packed, 28), 16));
        storeRecords(records + 16 * n, positions, lowsAndPolarities, timeHigh);
        n += uint32_t(__builtin_popcount(valid));
        p += 4 * lanes;
        if (lanes < 16)
            break;
    }
    count = n;
    return p;
}

const uint8_t* countEvt2Bulk(const uint8_t* p, const uint8_t* const end, uint32_t width, uint32_t height,
                             size_t& count, uint64_t& outside, uint32_t& leastLow, uint32_t& mostLow)
{
    const __m512i widths = _mm512_set1_epi32(int32_t(width < 2048 ? width : 2048));
    const __m512i heights = _mm512_set1_epi32(int32_t(height < 2048 ? height : 2048));
    const __m512i mask11 = _mm512_set1_epi32(0x7ff);
    const __m512i mask6 = _mm512_set1_epi32(0x3f);
    __m512i least = _mm512_set1_epi32(0x3f);
    __m512i most = _mm512_setzero_si512();
    size_t n = count;
    while (end - p >= 64) {
        const __m512i words = _mm512_loadu_si512(p);
        const __mmask16 other = _mm512_test_epi32_mask(words, _mm512_set1_epi32(int32_t(0xe0000000)));
        const uint32_t lanes = lanesBefore(uint64_t(other) | 0x10000);
        if (lanes == 0)
            break;
        const __mmask16 taken = __mmask16((uint32_t(1) << lanes) - 1);
        const __m512i xs = _mm512_and_si512(_mm512_srli_epi32(words, 11), mask11);
        const __m512i ys = _mm512_and_si512(words, mask11);
        const __mmask16 valid = taken & _mm512_cmplt_epu32_mask(xs, widths) & _mm512_cmplt_epu32_mask(ys, heights);
        const __m512i lows = _mm512_and_si512(_mm512_srli_epi32(words, 22), mask6);
        least = _mm512_mask_min_epu32(least, valid, least, lows);
        most = _mm512_mask_max_epu32(most, valid, most, lows);
        n += uint32_t(__builtin_popcount(valid));
        outside += uint32_t(__builtin_popcount(taken & ~valid & 0xffff));
        p += 4 * lanes;
        if (lanes < 16)
            break;
    }
    if (n > count) {
        const uint32_t lowest = _mm512_reduce_min_epu32(least);
        const uint32_t highest = _mm512_reduce_max_epu32(most);
        leastLow = lowest < leastLow ? lowest : leastLow;
        mostLow = highest > mostLow ? highest : mostLow;
    }
    count = n;
    return p;
}

const uint8_t* decodeDatBulk(const uint8_t* p, const uint8_t* const end, uint32_t width, uint32_t height, void* events,
                             size_t capacity, size_t& count)
{
    const __m512i widths = _mm512_set1_epi64(int64_t(width));
    const __m512i heights = _mm512_set1_epi64(int64_t(height));
    const __m512i mask14 = _mm512_set1_epi64(0x3fff);
    const __m512i time = _mm512_set1_epi64(0xffffffff);
    // Records k of the position/polarity and time vectors, in pairs: the first four and the last.
    const __m512i front = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
    const __m512i back = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
    uint8_t* const records = static_cast<uint8_t*>(events);
    size_t n = count;
    // Eight records in, eight whole ones out: the valid ones packed first, the rest overwritten
    // by the next group.
    while (end - p >= 64 && capacity - n >= 8) {
        const __m512i raw = _mm512_loadu_si512(p);
        const __m512i words = _mm512_srli_epi64(raw, 32);
        const __m512i xs = _mm512_and_si512(words, mask14);
        const __m512i ys = _mm512_and_si512(_mm512_srli_epi64(words, 14), mask14);
        const __mmask8 valid = _mm512_cmplt_epu64_mask(xs, widths) & _mm512_cmplt_epu64_mask(ys, heights);
        const __m512i polarities = _mm512_min_epu64(_mm512_srli_epi64(words, 28), _mm512_set1_epi64(1));
        const __m512i positions = _mm512_maskz_compress_epi64(
            valid, _mm512_or_si512(_mm512_or_si512(xs, _mm512_slli_epi64(ys, 16)), _mm512_slli_epi64(polarities, 32)));
        const __m512i times = _mm512_maskz_compress_epi64(valid, _mm512_and_si512(raw, time));
        _mm512_storeu_si512(records + 16 * n, _mm512_permutex2var_epi64(positions, front, times));
        _mm512_storeu_si512(records + 16 * n + 64, _mm512_permutex2var_epi64(positions, back, times));
        n += uint32_t(__builtin_popcount(valid));
        p += 64;
    }
    count = n;
    return p;
}

} // namespace sorvane::avx512
