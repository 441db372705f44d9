#include "SorvaneDriver/Simulated/ApsFrameRenderer.h"

#include <algorithm>
#include <cmath>

namespace sorvane {

namespace {

constexpr uint8_t BandLevel = 225;
constexpr uint8_t BarLevel = 25;

// The x interval of a line-crossing strip |a x + b| <= h; false when empty.
bool strip(double a, double b, double h, double& lo, double& hi)
{
    if (std::fabs(a) < 1e-12) {
        if (std::fabs(b) > h)
            return false;
        lo = -1e18;
        hi = 1e18;
        return true;
    }
    const double x0 = (-h - b) / a;
    const double x1 = (h - b) / a;
    lo = std::min(x0, x1);
    hi = std::max(x0, x1);
    return true;
}

} // namespace

ApsFrameRenderer::ApsFrameRenderer(int apsWidth, int apsHeight, const std::array<double, 6>& dvsToAps)
    : width(apsWidth), height(apsHeight), m(dvsToAps)
{
    background.resize(size_t(width) * size_t(height));
    row.resize(size_t(width));
    for (int v = 0; v < height; ++v) {
        const double y = (v - m[5]) / m[4];
        for (int u = 0; u < width; ++u)
            background[size_t(v) * size_t(width) + size_t(u)] = SyntheticScene::backgroundLevel((u - m[2]) / m[0], y);
    }
}

int ApsFrameRenderer::toColumn(double x) const
{
    const double u = std::ceil(m[0] * x + m[2]);
    return int(std::clamp(u, 0.0, double(width)));
}

void ApsFrameRenderer::render(const SyntheticScene& scene, uint64_t t, double exposureUs, double gain, ApsFrame& frame)
{
    if (frame.getWidth() != width || frame.getHeight() != height)
        return;
    const SceneLayout layout = scene.layoutAt(t);
    const double scale = std::max(0.0, exposureUs / 10000.0 * gain);
    uint8_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = uint8_t(std::clamp(std::lround(i * scale), 0L, 255L));
    const uint8_t lampLevel = uint8_t(std::clamp(40.0 + 210.0 * layout.lampLevel, 0.0, 255.0));
    const double lampBlue = 0.55;
    const double lampGreen = 0.85;
    const double c = std::cos(layout.barAngle);
    const double s = std::sin(layout.barAngle);
    uint64_t sampleSum = 0;
    uint64_t samples = 0;

    for (int v = 0; v < height; ++v) {
        const double y = (v - m[5]) / m[4];
        std::copy_n(background.begin() + std::ptrdiff_t(size_t(v) * size_t(width)), width, row.begin());
        auto fill = [&](double x0, double x1, uint8_t level) {
            const int a = toColumn(x0);
            const int b = toColumn(x1);
            if (b > a)
                std::fill(row.begin() + a, row.begin() + b, level);
        };
        if (layout.bands && y >= layout.bandTop && y < layout.bandBottom)
            for (double left : layout.bandLeft)
                fill(std::max(0.0, left), std::min(double(scene.width()), left + layout.bandWidth), BandLevel);
        if (layout.bar) {
            const double dy = y - layout.barCentreY;
            double lo1, hi1, lo2, hi2;
            // Along the bar: |c dx + s dy| <= half length; across: |-s dx + c dy| <= half width.
            if (strip(c, s * dy, layout.barHalfLength, lo1, hi1) && strip(-s, c * dy, layout.barHalfWidth, lo2, hi2)) {
                const double lo = std::max(lo1, lo2);
                const double hi = std::min(hi1, hi2);
                if (hi > lo)
                    fill(layout.barCentreX + lo, layout.barCentreX + hi, BarLevel);
            }
        }
        int lampFrom = 0;
        int lampTo = 0;
        if (layout.lamp) {
            const double dy = y - layout.lampY;
            if (std::fabs(dy) <= layout.lampRadius) {
                const double half = std::sqrt(layout.lampRadius * layout.lampRadius - dy * dy);
                lampFrom = toColumn(layout.lampX - half);
                lampTo = toColumn(layout.lampX + half);
            }
        }

        uint8_t* out = frame.data() + size_t(v) * size_t(width) * 3;
        for (int u = 0; u < width; ++u) {
            const uint8_t level = lut[row[size_t(u)]];
            out[3 * u] = level;
            out[3 * u + 1] = level;
            out[3 * u + 2] = level;
        }
        if (lampTo > lampFrom) {
            const uint8_t red = lut[lampLevel];
            for (int u = lampFrom; u < lampTo; ++u) {
                out[3 * u] = uint8_t(red * lampBlue);
                out[3 * u + 1] = uint8_t(red * lampGreen);
                out[3 * u + 2] = red;
            }
        }
        if (v % 8 == 0)
            for (int u = 0; u < width; u += 8, ++samples)
                sampleSum += out[3 * u + 1];
    }
    meanLevel = samples ? double(sampleSum) / double(samples) : 0.0;
}

} // namespace sorvane
