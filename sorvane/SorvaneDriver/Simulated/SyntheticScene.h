#pragma once
// A deterministic synthetic scene seen by an event sensor: bright bands whose edges move across
// the array, a dark bar rotating about the centre, a lamp flickering at 100 Hz and background
// noise. The same kind, rate, seed and biases always give the same events, however the time is
// cut into calls.
//
// Events come out as a sensor reads them: the array is read in slices of SliceUs, and within a
// slice row by row, column by column, with timestamps that never go back. Pixels behave like
// pixels: an edge crossing a pixel fires a burst (a leading event and trailing events of the same
// polarity), a lamp pixel fires once per rising and once per falling half of every flicker period.
//
// Not thread-safe: one producer drives it.
#include "sdk/SvEventRecords.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {

enum class SceneKind { Edges, Bar, Flicker, Noise, Mixed };

bool parseSceneKind(const std::string& name, SceneKind& kind);
const char* sceneKindName(SceneKind kind);

// The contrast settings of the pixel array: the biases tool's values.
struct PixelBiases {
    int diffOn = 0;
    int diffOff = 0;
    int fo = 0;
    int hpf = 0;
    int refr = 0;
    friend bool operator==(const PixelBiases&, const PixelBiases&) = default;
};

// Where things are at a time, in sensor pixels; the frame sensor draws the same scene.
struct SceneLayout {
    static constexpr int BandCount = 3;
    bool bands = false;
    bool bar = false;
    bool lamp = false;
    double bandLeft[BandCount] = {}; // left edge column of each bright band
    double bandWidth = 120;
    double bandTop = 60;
    double bandBottom = 660;         // rows [bandTop, bandBottom)
    double barCentreX = 640;
    double barCentreY = 360;
    double barHalfLength = 280;
    double barHalfWidth = 10;
    double barAngle = 0;             // radians
    double lampX = 1090;
    double lampY = 150;
    double lampRadius = 56;
    double lampLevel = 0;            // 0 (dark) .. 1 (full)
};

class SyntheticScene {
public:
    static constexpr uint64_t TickUs = 1000;
    static constexpr uint64_t SliceUs = 100;
    static constexpr double FlickerHz = 100.0;
    static constexpr double BandSpeedPxPerS = 320.0;
    static constexpr double BarTurnsPerS = 0.2;

    SyntheticScene(SceneKind kind, double eventRate, uint64_t seed, int width = 1280, int height = 720);

    // Events per second at the default biases; takes effect from the next millisecond produced.
    void setEventRate(double eventsPerSecond);
    double eventRate() const { return rate; }
    void setBiases(const PixelBiases& biases);
    const PixelBiases& biases() const { return pixelBiases; }
    SceneKind kind() const { return sceneKind; }
    int width() const { return sensorWidth; }
    int height() const { return sensorHeight; }

    // Appends the events of [position(), until) to out and moves position() to until.
    void generate(uint64_t until, std::vector<Event2D>& out);
    uint64_t position() const { return cursor; }

    SceneLayout layoutAt(uint64_t t) const;
    // Brightness 0..255 of the scene at sensor coordinates (x, y), for the frame sensor.
    static uint8_t backgroundLevel(double x, double y);

private:
    struct PendingEvent {
        uint16_t x;
        uint16_t y;
        uint16_t offset; // µs into its tick
        uint8_t polarity;
    };
    struct FlickerEvent {
        uint16_t x;
        uint16_t y;
        uint16_t offset; // µs into its tick
        uint8_t polarity;
    };
    static constexpr int RingTicks = 8;
    static constexpr int FlickerTicks = int(1000000 / FlickerHz / TickUs); // ticks per period

    void updateRates();
    void produceTick(uint64_t tick);
    void addEdgeCrossings(uint64_t tick);
    void addBarEvents(uint64_t tick);
    void addNoise(uint64_t tick);
    void addFlicker(uint64_t tick);
    void schedule(uint64_t t, uint16_t x, uint16_t y, uint8_t polarity);
    void finishTick(uint64_t tick);
    double bandPosition(int band, uint64_t t) const;

    SceneKind sceneKind;
    int sensorWidth;
    int sensorHeight;
    uint64_t seed;
    double rate;
    PixelBiases pixelBiases;
    bool ratesDirty = true;

    // Derived per-component figures, refreshed when the rate or the biases change.
    double edgeEventsPerCrossing[2] = {};
    int edgeBurst[2] = {1, 1};
    double edgeFireChance[2] = {};
    double edgeBurstSpacingUs[2] = {300, 300};
    double barEventsPerTick = 0;
    double barOnShare = 0.5;
    double noiseEventsPerTick = 0;
    std::array<std::vector<FlickerEvent>, FlickerTicks> flickerSchedule;

    double barCarry = 0;
    double noiseCarry = 0;
    uint64_t rngState = 0;

    uint64_t nextTick = 0;   // the next tick to produce
    uint64_t cursor = 0;     // position(): everything before it has been handed out
    std::array<std::vector<PendingEvent>, RingTicks> ring;
    std::vector<Event2D> produced; // events of produced ticks not yet handed out
    size_t producedHead = 0;

    std::vector<PendingEvent> sortScratch;
    std::vector<uint32_t> histogram;
};

} // namespace sorvane
