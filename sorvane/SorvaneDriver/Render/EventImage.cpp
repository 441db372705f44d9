#include "SorvaneDriver/Render/EventImage.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sorvane {

namespace {

constexpr Palette kPalettes[] = {
    {"Gray", {191, 188, 180}, {64, 61, 51}, {112, 112, 112}},
    {"RedBlue", {255, 0, 0}, {0, 0, 255}, {112, 112, 112}},
    {"Dark", {216, 223, 236}, {64, 126, 201}, {30, 37, 52}},
    {"RedGreen", {255, 0, 0}, {0, 255, 0}, {112, 112, 112}},
    {"Light", {0, 0, 0}, {64, 126, 201}, {255, 255, 255}},
};

// Bits 0-3: which of the four pixels at counts (8 entries) are painted positive; bits 4-7:
// which are painted negative. Polarity 1 wins ties; a pixel without events is neither.
inline int classifyFour(const uint16_t* counts)
{
#if defined(__SSE2__)
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counts));
    const __m128i count0 = _mm_and_si128(pairs, _mm_set1_epi32(0xFFFF));
    const __m128i count1 = _mm_srli_epi32(pairs, 16);
    const __m128i negative = _mm_cmpgt_epi32(count0, count1);
    const __m128i positive = _mm_andnot_si128(negative, _mm_cmpgt_epi32(count1, _mm_setzero_si128()));
    return _mm_movemask_ps(_mm_castsi128_ps(positive)) | (_mm_movemask_ps(_mm_castsi128_ps(negative)) << 4);
#else
    int code = 0;
    for (int i = 0; i < 4; ++i) {
        const uint16_t count0 = counts[2 * i];
        const uint16_t count1 = counts[2 * i + 1];
        if (count1 > 0 && count1 >= count0)
            code |= 1 << i;
        else if (count0 > count1)
            code |= 16 << i;
    }
    return code;
#endif
}

inline void putPixel(uint8_t* line, int x, Rgb colour)
{
    uint8_t* p = line + 3 * x;
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
}

} // namespace

std::span<const Palette> palettes()
{
    return kPalettes;
}

const Palette* paletteNamed(std::string_view name)
{
    for (const Palette& palette : kPalettes)
        if (name == palette.name)
            return &palette;
    return nullptr;
}

namespace eventimage {

void count(uint16_t* plane, const Event2D* begin, const Event2D* end, const EventRegion* only)
{
    for (const Event2D* e = begin; e != end; ++e) {
        if (only && !only->contains(e->x, e->y))
            continue;
        const unsigned x = e->x;
        const unsigned polarity = e->polarity;
        const unsigned index = (e->y * unsigned(width) + x) * 2u + polarity;
        // x is checked on its own (x = 1280 would land in the next row), with a polarity above
        // 1 folded into the same compare; with both valid, the index bound checks y.
        if ((x | ((polarity >> 1) << 16)) < unsigned(width) && index < planeSize) {
            uint16_t& slot = plane[index];
            if (slot < countCap)
                ++slot;
        }
    }
}

void paint(const uint16_t* plane, uint8_t* rgb, size_t stride, const Palette& colours)
{
    // Every pixel is written once with its final colour, so the background fill and the painting
    // are one pass. Four pixels at a time: their classes (background, positive, negative) pick
    // one of the prepared 12-byte runs.
    struct alignas(16) Run {
        uint8_t bytes[16];
    };
    std::array<Run, 256> runs{};
    for (int code = 0; code < 256; ++code) {
        for (int i = 0; i < 4; ++i) {
            const bool isPositive = code & (1 << i);
            const bool isNegative = code & (16 << i);
            putPixel(runs[code].bytes, i,
                     isPositive ? colours.positive : isNegative ? colours.negative : colours.background);
        }
    }
    constexpr int groupsPerRow = width / 4;
    for (int y = 0; y < height; ++y) {
        uint8_t* line = rgb + y * stride;
        const uint16_t* row = plane + size_t(y) * width * 2;
        // A 16-byte store is cheaper than 12; its last 4 bytes are rewritten by the next group.
        for (int group = 0; group + 1 < groupsPerRow; ++group)
            std::memcpy(line + 12 * group, runs[classifyFour(row + 8 * group)].bytes, 16);
        const int last = groupsPerRow - 1;
        std::memcpy(line + 12 * last, runs[classifyFour(row + 8 * last)].bytes, 12);
    }
}

bool render(DvsFileReader& reader, uint64_t t, uint64_t accumulation, const Palette& colours,
            std::vector<uint8_t>& rgb, std::string& error)
{
    CountPlane plane(planeSize, 0);
    const uint64_t start = windowStart(t, accumulation);
    const bool read = reader.readEvents(start, t, [&plane](std::span<const Event2D> events) {
        count(plane.data(), events.data(), events.data() + events.size());
        return true;
    });
    if (!read) {
        error = reader.lastError().empty() ? "cannot read the events" : reader.lastError();
        return false;
    }
    rgb.resize(size_t(width) * height * 3);
    paint(plane.data(), rgb.data(), size_t(width) * 3, colours);
    return true;
}

} // namespace eventimage
} // namespace sorvane
