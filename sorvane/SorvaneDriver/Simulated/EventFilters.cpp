#include "SorvaneDriver/Simulated/EventFilters.h"

#include <algorithm>

namespace sorvane {

void applyRoi(std::vector<Event2D>& events, size_t from, const RoiSettings& roi)
{
    if (!roi.enabled || from >= events.size())
        return;
    size_t out = from;
    for (size_t i = from; i < events.size(); ++i) {
        const Event2D& e = events[i];
        if (e.x >= roi.x0 && e.x <= roi.x1 && e.y >= roi.y0 && e.y <= roi.y1)
            events[out++] = e;
    }
    events.resize(out);
}

AntiFlickerFilter::AntiFlickerFilter(int width_, int height_)
    : width(width_), height(height_)
{
}

void AntiFlickerFilter::configure(const Settings& next)
{
    settings = next;
    if (settings.enabled && pixels.empty())
        pixels.assign(size_t(width) * size_t(height), PixelState{});
    if (!settings.enabled)
        pixels = {}; // a later start learns the lights afresh
}

void AntiFlickerFilter::apply(std::vector<Event2D>& events, size_t from)
{
    if (!settings.enabled || from >= events.size())
        return;
    const uint64_t shortest = uint64_t(1000000 / std::max(1, settings.highHz));
    const uint64_t longest = uint64_t(1000000 / std::max(1, settings.lowHz));
    const double duty = std::clamp(double(settings.dutyCycle), 0.0, 100.0) / 100.0;
    size_t out = from;
    for (size_t i = from; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width || e.y >= height) {
            events[out++] = e;
            continue;
        }
        PixelState& p = pixels[size_t(e.y) * size_t(width) + e.x];
        if (e.polarity == 1 && p.polarity != 1) {
            if (p.polarity != 2) {
                const uint64_t period = e.timestamp - p.risingAt;
                const bool inBand = period >= shortest && period <= longest;
                p.confidence = inBand ? uint8_t(std::min(p.confidence + 1, 4)) : 0;
                p.period = uint32_t(std::min<uint64_t>(period, UINT32_MAX));
            }
            p.risingAt = e.timestamp;
        }
        p.polarity = e.polarity;
        const uint64_t since = e.timestamp - p.risingAt;
        // A pixel counts as flickering after two steady periods, until it misses two.
        const bool flickering = p.confidence >= 2 && p.period > 0 && since < 2ull * p.period;
        bool inDuty = false;
        if (flickering)
            inDuty = double(since % p.period) < duty * p.period || duty >= 1.0;
        const bool drop = settings.bandPass ? !inDuty : inDuty;
        if (!drop)
            events[out++] = e;
    }
    events.resize(out);
}

TrailFilter::TrailFilter(int width_, int height_)
    : width(width_), height(height_)
{
}

void TrailFilter::configure(const Settings& next)
{
    settings = next;
    if (settings.enabled && pixels.empty())
        pixels.assign(size_t(width) * size_t(height), PixelState{});
    if (!settings.enabled)
        pixels = {};
}

void TrailFilter::apply(std::vector<Event2D>& events, size_t from)
{
    if (!settings.enabled || from >= events.size())
        return;
    size_t out = from;
    for (size_t i = from; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width || e.y >= height) {
            events[out++] = e;
            continue;
        }
        PixelState& p = pixels[size_t(e.y) * size_t(width) + e.x];
        const bool follows = p.polarity == e.polarity && e.timestamp - p.lastAt < settings.thresholdUs;
        p.burstIndex = follows ? uint8_t(std::min(p.burstIndex + 1, 255)) : 0;
        p.lastAt = e.timestamp;
        p.polarity = e.polarity;
        bool keep = true;
        switch (settings.mode) {
        case Mode::Trail: keep = p.burstIndex == 0; break;
        case Mode::StcCutTrail: keep = p.burstIndex == 1; break;
        case Mode::StcKeepTrail: keep = p.burstIndex >= 1; break;
        }
        if (keep)
            events[out++] = e;
    }
    events.resize(out);
}

void limitEventRate(std::vector<Event2D>& events, size_t from, uint64_t maxPerWindow)
{
    if (from >= events.size())
        return;
    const uint64_t n = events.size() - from;
    if (n <= maxPerWindow)
        return;
    size_t out = from;
    for (uint64_t i = 0; i < n; ++i) {
        // Event i survives when the running share of kept events steps up at it.
        if ((i + 1) * maxPerWindow / n > i * maxPerWindow / n)
            events[out++] = events[from + i];
    }
    events.resize(out);
}

void Evt3SizeCounter::reset()
{
    lastHigh = UINT64_MAX;
    lastLow = UINT64_MAX;
    lastY = UINT32_MAX;
}

uint64_t Evt3SizeCounter::addTime(uint64_t t)
{
    uint64_t words = 0;
    const uint64_t high = (t >> 12) & 0xFFF;
    const uint64_t low = t & 0xFFF;
    if (high != lastHigh) {
        ++words;
        lastHigh = high;
        lastLow = UINT64_MAX;
    }
    if (low != lastLow) {
        ++words;
        lastLow = low;
    }
    return words;
}

uint64_t Evt3SizeCounter::add(const Event2D* begin, const Event2D* end)
{
    uint64_t words = 0;
    for (const Event2D* e = begin; e != end; ++e) {
        words += addTime(e->timestamp);
        if (e->y != lastY) {
            ++words;
            lastY = e->y;
        }
        ++words;
    }
    return words * 2;
}

uint64_t Evt3SizeCounter::addTrigger(const EventTriggerIn& trigger)
{
    return (addTime(trigger.timestamp) + 1) * 2;
}

} // namespace sorvane
