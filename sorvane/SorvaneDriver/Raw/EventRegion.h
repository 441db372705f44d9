#pragma once
// A rectangle of pixels to keep, for reading or writing only part of the sensor. Coordinates stay
// as they are: the events of a region keep their place on the whole sensor.
#include "sdk/SvEventRecords.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorvane {

struct EventRegion {
    // Inclusive bounds: x0 <= x <= x1, y0 <= y <= y1.
    uint32_t x0 = 0;
    uint32_t y0 = 0;
    uint32_t x1 = 0;
    uint32_t y1 = 0;

    bool contains(uint32_t x, uint32_t y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    // "X0,Y0,X1,Y1"
    std::string text() const;
    friend bool operator==(const EventRegion&, const EventRegion&) = default;
};

// Reads "X0,Y0,X1,Y1". False, with error set, when text is not four whole numbers.
bool parseEventRegion(std::string_view text, EventRegion& region, std::string& error);
// Empty when region is a non-empty part of the width x height sensor, else why it is not.
std::string eventRegionProblem(const EventRegion& region, int width, int height);
// Keeps the events inside region at the front, in order; returns how many.
size_t keepInRegion(Event2D* events, size_t count, const EventRegion& region);

} // namespace sorvane
