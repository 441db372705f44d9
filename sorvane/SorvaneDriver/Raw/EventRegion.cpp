#include "SorvaneDriver/Raw/EventRegion.h"

#include <algorithm>
#include <charconv>

namespace sorvane {

std::string EventRegion::text() const
{
    return std::to_string(x0) + "," + std::to_string(y0) + "," + std::to_string(x1) + "," + std::to_string(y1);
}

bool parseEventRegion(std::string_view text, EventRegion& region, std::string& error)
{
    uint32_t values[4] = {};
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        const auto [stop, status] = std::from_chars(p, end, values[i]);
        const bool last = i == 3;
        if (status != std::errc() || stop == p || (last ? stop != end : (stop == end || *stop != ','))) {
            error = "a region is X0,Y0,X1,Y1 (four whole numbers), not '" + std::string(text) + "'";
            return false;
        }
        p = stop + 1;
    }
    region = EventRegion{values[0], values[1], values[2], values[3]};
    return true;
}

std::string eventRegionProblem(const EventRegion& region, int width, int height)
{
    const std::string sensor = std::to_string(width) + "×" + std::to_string(height) + " sensor";
    if (region.x0 > region.x1 || region.y0 > region.y1)
        return "the region " + region.text() + " is empty (X0 > X1 or Y0 > Y1) on the " + sensor;
    if (width <= 0 || height <= 0 || region.x1 >= uint32_t(width) || region.y1 >= uint32_t(height))
        return "the region " + region.text() + " lies outside the " + sensor;
    return {};
}

size_t keepInRegion(Event2D* events, size_t count, const EventRegion& region)
{
    // Branch-free: every event is copied to where the next kept one goes.
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const Event2D event = events[i];
        events[kept] = event;
        kept += region.contains(event.x, event.y);
    }
    return kept;
}

} // namespace sorvane
