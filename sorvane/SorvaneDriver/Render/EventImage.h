#pragma once
// The picture of a window of events as the viewer paints it, for the viewer and for the tools that
// write what it shows: per pixel and polarity a count that saturates at countCap; a pixel is
// positive where polarity 1 has events and is not outnumbered, negative where polarity 0
// outnumbers it, background elsewhere. The picture is always 1280 x 720.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventRegion.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace sorvane {

struct Palette {
    const char* name;
    Rgb positive;
    Rgb negative;
    Rgb background;
};

// The colour schemes, "Gray" first.
std::span<const Palette> palettes();
// Null for a name that is not one of them (names are compared exactly).
const Palette* paletteNamed(std::string_view name);

namespace eventimage {

inline constexpr int width = 1280;
inline constexpr int height = 720;
inline constexpr uint16_t countCap = 10;
// Two counts per pixel: polarity 0, then polarity 1.
inline constexpr size_t planeSize = size_t(width) * height * 2;
using CountPlane = std::vector<uint16_t>;

// The first time of the window (t - accumulation, t], which ends with and includes t.
inline uint64_t windowStart(uint64_t t, uint64_t accumulation)
{
    return t >= accumulation ? t - accumulation + 1 : 0;
}

// Adds [begin, end) to plane (planeSize entries), only the events inside `only` when it is given.
// Events outside the picture or with a polarity other than 0 and 1 are dropped.
void count(uint16_t* plane, const Event2D* begin, const Event2D* end, const EventRegion* only = nullptr);
// Writes every pixel of the picture as RGB888 rows, stride bytes apart.
void paint(const uint16_t* plane, uint8_t* rgb, size_t stride, const Palette& colours);

// The picture the viewer shows at t with this accumulation, as RGB888 rows of width * 3 bytes.
// False, with error set, when the events cannot be read.
bool render(DvsFileReader& reader, uint64_t t, uint64_t accumulation, const Palette& colours,
            std::vector<uint8_t>& rgb, std::string& error);

} // namespace eventimage
} // namespace sorvane
