#include "SorvaneDriver/Simulated/SyntheticScene.h"

#include <algorithm>
#include <cmath>

namespace sorvane {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int BandWidth = 120;

struct Shares {
    double edges = 0;
    double bar = 0;
    double flicker = 0;
    double noise = 0;
};

Shares sharesOf(SceneKind kind)
{
    switch (kind) {
    case SceneKind::Edges: return {1, 0, 0, 0};
    case SceneKind::Bar: return {0, 1, 0, 0};
    case SceneKind::Flicker: return {0, 0, 1, 0};
    case SceneKind::Noise: return {0, 0, 0, 1};
    case SceneKind::Mixed: break;
    }
    return {0.45, 0.25, 0.15, 0.15};
}

inline uint64_t mix64(uint64_t z)
{
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline uint64_t hashOf(uint64_t seed, uint64_t a, uint64_t b, uint64_t c)
{
    return mix64(mix64(mix64(seed ^ a) ^ b) ^ c);
}

inline double unitOf(uint64_t h)
{
    return double(h >> 11) * (1.0 / 9007199254740992.0);
}

inline uint64_t nextRandom(uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Takes the whole events out of a running fractional count, so that rates hold exactly over time.
inline uint64_t takeWhole(double& carry, double amount)
{
    carry += amount;
    const double whole = std::floor(carry);
    carry -= whole;
    return uint64_t(whole);
}

} // namespace

bool parseSceneKind(const std::string& name, SceneKind& kind)
{
    static const std::pair<const char*, SceneKind> names[] = {
        {"edges", SceneKind::Edges}, {"bar", SceneKind::Bar}, {"flicker", SceneKind::Flicker},
        {"noise", SceneKind::Noise}, {"mixed", SceneKind::Mixed},
    };
    for (const auto& [text, value] : names) {
        if (name == text) {
            kind = value;
            return true;
        }
    }
    return false;
}

const char* sceneKindName(SceneKind kind)
{
    switch (kind) {
    case SceneKind::Edges: return "edges";
    case SceneKind::Bar: return "bar";
    case SceneKind::Flicker: return "flicker";
    case SceneKind::Noise: return "noise";
    case SceneKind::Mixed: break;
    }
    return "mixed";
}

SyntheticScene::SyntheticScene(SceneKind kind_, double eventRate, uint64_t seed_, int width_, int height_)
    : sceneKind(kind_)
    , sensorWidth(std::clamp(width_, 64, 2048))
    , sensorHeight(std::clamp(height_, 64, 2048))
    , seed(mix64(seed_))
    , rate(std::max(0.0, eventRate))
    , rngState(mix64(seed_ ^ 0x5DEECE66Dull))
{
}

void SyntheticScene::setEventRate(double eventsPerSecond)
{
    const double value = std::isfinite(eventsPerSecond) ? std::max(0.0, eventsPerSecond) : 0.0;
    if (value != rate) {
        rate = value;
        ratesDirty = true;
    }
}

void SyntheticScene::setBiases(const PixelBiases& biases)
{
    if (!(biases == pixelBiases)) {
        pixelBiases = biases;
        ratesDirty = true;
    }
}

double SyntheticScene::bandPosition(int band, uint64_t t) const
{
    const double period = sensorWidth + BandWidth;
    return band * period / SceneLayout::BandCount + BandSpeedPxPerS * double(t) * 1e-6;
}

SceneLayout SyntheticScene::layoutAt(uint64_t t) const
{
    const Shares shares = sharesOf(sceneKind);
    const double sx = sensorWidth / 1280.0;
    const double sy = sensorHeight / 720.0;
    SceneLayout layout;
    layout.bands = shares.edges > 0;
    layout.bar = shares.bar > 0;
    layout.lamp = shares.flicker > 0;
    const double period = sensorWidth + BandWidth;
    for (int i = 0; i < SceneLayout::BandCount; ++i)
        layout.bandLeft[i] = std::fmod(bandPosition(i, t), period) - BandWidth;
    layout.bandWidth = BandWidth;
    layout.bandTop = std::floor(60 * sy);
    layout.bandBottom = std::floor(660 * sy);
    layout.barCentreX = 640 * sx;
    layout.barCentreY = 360 * sy;
    layout.barHalfLength = 280 * std::min(sx, sy);
    layout.barHalfWidth = 10;
    layout.barAngle = 2 * Pi * BarTurnsPerS * double(t) * 1e-6;
    layout.lampX = 1090 * sx;
    layout.lampY = 150 * sy;
    layout.lampRadius = 56 * std::min(sx, sy);
    const double phase = std::fmod(double(t) * 1e-6 * FlickerHz, 1.0);
    layout.lampLevel = 0.5 - 0.5 * std::cos(2 * Pi * phase); // rising in the first half period
    return layout;
}

uint8_t SyntheticScene::backgroundLevel(double x, double y)
{
    const double level = 82 + 24 * std::sin(x * 0.021) * std::cos(y * 0.017) + 20 * (y / 720.0);
    return uint8_t(std::clamp(level, 0.0, 255.0));
}

void SyntheticScene::updateRates()
{
    ratesDirty = false;
    const Shares shares = sharesOf(sceneKind);
    const double onFactor = std::exp(-pixelBiases.diffOn / 60.0);
    const double offFactor = std::exp(-pixelBiases.diffOff / 60.0);
    const double polarityFactor[2] = {offFactor, onFactor};
    const double noiseFactor = std::exp(-(pixelBiases.diffOn + pixelBiases.diffOff) / 120.0)
        * std::exp(pixelBiases.fo / 30.0) * std::exp(-pixelBiases.hpf / 50.0);
    // A longer refractory period cuts the trailing events of a burst.
    const double trailEvents = 2.0 * std::exp(-pixelBiases.refr / 80.0);

    const SceneLayout layout = layoutAt(0);
    const double rows = layout.bandBottom - layout.bandTop;
    const double onSensor = double(sensorWidth) / (sensorWidth + BandWidth);
    const double crossingsPerSecond = BandSpeedPxPerS * SceneLayout::BandCount * onSensor * rows;
    for (int p = 0; p < 2; ++p) {
        const double base = shares.edges * rate / 2 / crossingsPerSecond;
        const double events = base * polarityFactor[p] * (1 + trailEvents) / 3.0;
        int burst = 1 + int(std::lround(trailEvents));
        if (events > burst)
            burst = int(std::ceil(events));
        edgeEventsPerCrossing[p] = events;
        edgeBurst[p] = burst;
        edgeFireChance[p] = events / burst;
        edgeBurstSpacingUs[p] = std::min(300.0, 3500.0 / burst);
    }

    barEventsPerTick = shares.bar * rate * 1e-3 * (onFactor + offFactor) / 2;
    barOnShare = onFactor / (onFactor + offFactor);
    noiseEventsPerTick = shares.noise * rate * 1e-3 * noiseFactor;

    for (auto& list : flickerSchedule)
        list.clear();
    if (shares.flicker <= 0 || rate <= 0)
        return;
    const int x0 = std::max(0, int(std::floor(layout.lampX - layout.lampRadius)));
    const int x1 = std::min(sensorWidth - 1, int(std::ceil(layout.lampX + layout.lampRadius)));
    const int y0 = std::max(0, int(std::floor(layout.lampY - layout.lampRadius)));
    const int y1 = std::min(sensorHeight - 1, int(std::ceil(layout.lampY + layout.lampRadius)));
    std::vector<std::pair<int, int>> pixels;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (std::hypot(x - layout.lampX, y - layout.lampY) <= layout.lampRadius)
                pixels.emplace_back(x, y);
    if (pixels.empty())
        return;
    const double periodUs = 1e6 / FlickerHz;
    for (int p = 0; p < 2; ++p) {
        const double perPixel = shares.flicker * rate / FlickerHz / 2 * polarityFactor[p] / pixels.size();
        const int burst = std::max(1, int(std::ceil(perPixel)));
        const double chance = perPixel / burst;
        const double spacing = std::min(200.0, 0.1 * periodUs / burst);
        // ON events in the rising half of the period, OFF events in the falling half.
        const double halfStart = p == 1 ? 0.0 : 0.5 * periodUs;
        for (const auto& [x, y] : pixels) {
            // One draw per pixel for both halves: a lit pixel fires on the way up and down.
            const uint64_t h = hashOf(seed, 0xF11C, uint64_t(y) * 4096 + uint64_t(x), 0);
            if (unitOf(h) >= chance)
                continue;
            const double start = halfStart + 0.05 * periodUs + unitOf(mix64(h)) * 0.35 * periodUs;
            for (int j = 0; j < burst; ++j) {
                const int offset = int(start + j * spacing);
                const int tick = offset / int(TickUs);
                flickerSchedule[size_t(tick % FlickerTicks)].push_back(
                    {uint16_t(x), uint16_t(y), uint16_t(offset - tick * int(TickUs)), uint8_t(p)});
            }
        }
    }
}

void SyntheticScene::schedule(uint64_t t, uint16_t x, uint16_t y, uint8_t polarity)
{
    uint64_t tick = t / TickUs;
    const uint64_t last = nextTick + RingTicks - 1;
    if (tick < nextTick)
        tick = nextTick;
    if (tick > last) {
        tick = last;
        t = tick * TickUs + TickUs - 1;
    }
    const uint16_t offset = uint16_t(std::min<uint64_t>(t - std::min(t, tick * TickUs), TickUs - 1));
    ring[size_t(tick % RingTicks)].push_back({x, y, offset, polarity});
}

void SyntheticScene::addEdgeCrossings(uint64_t tick)
{
    const double t0 = double(tick * TickUs);
    const double t1 = t0 + TickUs;
    const int period = sensorWidth + BandWidth;
    const SceneLayout layout = layoutAt(tick * TickUs);
    const int top = int(layout.bandTop);
    const int bottom = int(layout.bandBottom);
    for (int band = 0; band < SceneLayout::BandCount; ++band) {
        const double start = bandPosition(band, 0);
        const double u0 = start + BandSpeedPxPerS * t0 * 1e-6;
        const double u1 = start + BandSpeedPxPerS * t1 * 1e-6;
        for (int64_t n = int64_t(std::ceil(u0)); double(n) < u1; ++n) {
            const double crossing = (double(n) - start) / BandSpeedPxPerS * 1e6;
            const int lead = int(n % period);
            // The right edge brightens the pixels it reaches (ON); the left edge darkens (OFF).
            const int columns[2] = {lead - BandWidth, lead};
            for (int p = 0; p < 2; ++p) {
                const int column = columns[p];
                if (column < 0 || column >= sensorWidth || edgeFireChance[p] <= 0)
                    continue;
                const int burst = edgeBurst[p];
                const double spacing = edgeBurstSpacingUs[p];
                for (int y = top; y < bottom; ++y) {
                    const uint64_t h = hashOf(seed, uint64_t(band) * 2 + uint64_t(p), uint64_t(n), uint64_t(y));
                    if (unitOf(h) >= edgeFireChance[p])
                        continue;
                    const double first = crossing + double(h & 0x7F);
                    for (int j = 0; j < burst; ++j) {
                        const double jitter = j == 0 ? 0.0 : double((h >> (7 + 4 * (j % 8))) & 0x3F);
                        schedule(uint64_t(first + j * spacing + jitter), uint16_t(column), uint16_t(y), uint8_t(p));
                    }
                }
            }
        }
    }
}

void SyntheticScene::addBarEvents(uint64_t tick)
{
    const uint64_t count = takeWhole(barCarry, barEventsPerTick);
    if (count == 0)
        return;
    const SceneLayout layout = layoutAt(tick * TickUs);
    const double omega = 2 * Pi * BarTurnsPerS * 1e-6;
    // The bar turns by less than a thousandth of a turn in a tick: rotate the tick's direction
    // by the small angle instead of taking a sine and cosine per event.
    const double c0 = std::cos(layout.barAngle);
    const double s0 = std::sin(layout.barAngle);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t bits = nextRandom(rngState);
        const double offset = unitOf(bits) * TickUs;
        const double turn = omega * offset;
        const double c = c0 - s0 * turn;
        const double s = s0 + c0 * turn;
        // Points far from the centre sweep more pixels, so they fire more often.
        const uint64_t more = nextRandom(rngState);
        const double along = layout.barHalfLength * std::sqrt(unitOf(more));
        const double r = (bits & 1) ? along : -along;
        const bool on = double(more & 0xFFFF) * (1.0 / 65536.0) < barOnShare;
        // The leading side darkens (OFF), the trailing side brightens (ON).
        const double motion = r >= 0 ? 1.0 : -1.0;
        const double side = (on ? -motion : motion) * layout.barHalfWidth + (double((bits >> 1) & 3) - 1.5) * 0.5;
        const double x = layout.barCentreX + r * c - side * s;
        const double y = layout.barCentreY + r * s + side * c;
        if (x < 0 || y < 0 || x >= sensorWidth || y >= sensorHeight)
            continue;
        schedule(tick * TickUs + uint64_t(offset), uint16_t(x), uint16_t(y), on ? 1 : 0);
    }
}

void SyntheticScene::addNoise(uint64_t tick)
{
    const uint64_t count = takeWhole(noiseCarry, noiseEventsPerTick);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t bits = nextRandom(rngState);
        const uint16_t x = uint16_t(((bits & 0xFFFFFFFF) * uint64_t(sensorWidth)) >> 32);
        const uint16_t y = uint16_t((((bits >> 32) & 0x7FFFFFFF) * uint64_t(sensorHeight)) >> 31);
        const uint64_t more = nextRandom(rngState);
        schedule(tick * TickUs + (more % TickUs), x, y, uint8_t((more >> 32) & 1));
    }
}

void SyntheticScene::addFlicker(uint64_t tick)
{
    const auto& list = flickerSchedule[size_t(tick % FlickerTicks)];
    auto& bucket = ring[size_t(tick % RingTicks)];
    for (const FlickerEvent& e : list)
        bucket.push_back({e.x, e.y, e.offset, e.polarity});
}

void SyntheticScene::finishTick(uint64_t tick)
{
    auto& bucket = ring[size_t(tick % RingTicks)];
    if (bucket.empty())
        return;
    const size_t n = bucket.size();
    sortScratch.resize(n);

    // Readout order: slice, then row, then column. Two stable counting passes.
    const size_t columns = size_t(sensorWidth);
    histogram.assign(columns + 1, 0);
    for (const PendingEvent& e : bucket)
        ++histogram[size_t(e.x) + 1];
    for (size_t i = 1; i <= columns; ++i)
        histogram[i] += histogram[i - 1];
    for (const PendingEvent& e : bucket)
        sortScratch[histogram[e.x]++] = e;

    const size_t slices = TickUs / SliceUs;
    const size_t keys = slices * size_t(sensorHeight);
    histogram.assign(keys + 1, 0);
    auto keyOf = [&](const PendingEvent& e) {
        return size_t(e.offset / SliceUs) * size_t(sensorHeight) + e.y;
    };
    for (const PendingEvent& e : sortScratch)
        ++histogram[keyOf(e) + 1];
    for (size_t i = 1; i <= keys; ++i)
        histogram[i] += histogram[i - 1];
    for (const PendingEvent& e : sortScratch)
        bucket[histogram[keyOf(e)]++] = e;

    // The rows of one slice are read one after the other, spread evenly over the slice; the
    // events of a row share its read-out time.
    const uint64_t base = tick * TickUs;
    produced.reserve(produced.size() + n);
    size_t i = 0;
    while (i < n) {
        const size_t slice = bucket[i].offset / SliceUs;
        size_t j = i;
        size_t rows = 0;
        while (j < n && bucket[j].offset / SliceUs == slice) {
            rows += j == i || bucket[j].y != bucket[j - 1].y;
            ++j;
        }
        size_t row = 0;
        for (size_t k = i; k < j; ++k) {
            const PendingEvent& e = bucket[k];
            if (k > i && e.y != bucket[k - 1].y)
                ++row;
            produced.emplace_back(e.x, e.y, e.polarity, base + slice * SliceUs + (row * SliceUs) / rows);
        }
        i = j;
    }
    bucket.clear();
}

void SyntheticScene::produceTick(uint64_t tick)
{
    if (ratesDirty)
        updateRates();
    addEdgeCrossings(tick);
    addFlicker(tick);
    addBarEvents(tick);
    addNoise(tick);
    finishTick(tick);
}

void SyntheticScene::generate(uint64_t until, std::vector<Event2D>& out)
{
    if (until <= cursor)
        return;
    while (nextTick * TickUs < until) {
        produceTick(nextTick);
        ++nextTick;
    }
    auto begin = produced.begin() + std::ptrdiff_t(producedHead);
    auto end = std::lower_bound(begin, produced.end(), until,
                                [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
    out.insert(out.end(), begin, end);
    producedHead = size_t(end - produced.begin());
    if (producedHead == produced.size()) {
        produced.clear();
        producedHead = 0;
    } else if (producedHead > 65536 && producedHead * 2 > produced.size()) {
        produced.erase(produced.begin(), produced.begin() + std::ptrdiff_t(producedHead));
        producedHead = 0;
    }
    cursor = until;
}

} // namespace sorvane
