#pragma once
// The on-sensor event filters of the simulated cameras. Each works in place on the tail of an
// event vector (from index `from` on) holding events in time order, and keeps per-pixel state
// across calls. Not thread-safe: the camera's producer thread runs them.
#include "sdk/SvEventRecords.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvane {

struct RoiSettings {
    bool enabled = false;
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
};

// Keeps the events inside the inclusive window.
void applyRoi(std::vector<Event2D>& events, size_t from, const RoiSettings& roi);

// Finds pixels that switch from OFF to ON at a steady frequency inside the band and removes
// (band stop) or keeps only (band pass) their events, during the duty-cycle share of each period
// after the rising edge.
class AntiFlickerFilter {
public:
    struct Settings {
        bool enabled = false;
        bool bandPass = false;
        int lowHz = 50;
        int highHz = 520;
        float dutyCycle = 100.0f; // percent
    };

    AntiFlickerFilter(int width, int height);
    void configure(const Settings& settings);
    void apply(std::vector<Event2D>& events, size_t from);

private:
    struct PixelState {
        uint64_t risingAt = 0; // time of the last OFF to ON change
        uint32_t period = 0;   // µs between the last two such changes
        uint8_t polarity = 2;  // of the last event; 2 = none yet
        uint8_t confidence = 0;
    };
    int width;
    int height;
    Settings settings;
    std::vector<PixelState> pixels;
};

// Bursts: same-polarity events of one pixel closer than the threshold to the one before.
class TrailFilter {
public:
    enum class Mode { Trail, StcCutTrail, StcKeepTrail };
    struct Settings {
        bool enabled = false;
        Mode mode = Mode::Trail;
        uint32_t thresholdUs = 10000;
    };

    TrailFilter(int width, int height);
    void configure(const Settings& settings);
    void apply(std::vector<Event2D>& events, size_t from);

private:
    struct PixelState {
        uint64_t lastAt = 0;
        uint8_t polarity = 2;
        uint8_t burstIndex = 0;
    };
    int width;
    int height;
    Settings settings;
    std::vector<PixelState> pixels;
};

// At most maxPerWindow events in every window; surplus events are dropped evenly across it.
// The caller passes exactly one window's events.
void limitEventRate(std::vector<Event2D>& events, size_t from, uint64_t maxPerWindow);

// Bytes an EVT 3.0 stream of these records needs: one word per event plus the address and time
// words an encoder must add when the row or the time changes (no vector compression).
class Evt3SizeCounter {
public:
    void reset();
    uint64_t add(const Event2D* begin, const Event2D* end);
    uint64_t addTrigger(const EventTriggerIn& trigger);

private:
    uint64_t addTime(uint64_t t);
    uint64_t lastHigh = UINT64_MAX;
    uint64_t lastLow = UINT64_MAX;
    uint32_t lastY = UINT32_MAX;
};

} // namespace sorvane
