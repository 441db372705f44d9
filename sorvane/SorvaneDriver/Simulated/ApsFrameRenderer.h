#pragma once
// Draws the synthetic scene as the frame sensor of a fusion camera sees it: the same bands, bar
// and lamp as the event sensor, through the calibration that maps event-sensor pixels onto
// frame-sensor pixels (an axis-aligned scale and shift), with exposure and gain.
#include "SorvaneBase/ApsFrame.h"
#include "SorvaneDriver/Simulated/SyntheticScene.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sorvane {

class ApsFrameRenderer {
public:
    // dvsToAps: APS column = m0 x + m2, APS row = m4 y + m5 (m1 = m3 = 0).
    ApsFrameRenderer(int apsWidth, int apsHeight, const std::array<double, 6>& dvsToAps);

    // frame must be apsWidth x apsHeight. exposureUs at gain 1: 10 000 µs gives the scene's own
    // brightness.
    void render(const SyntheticScene& scene, uint64_t t, double exposureUs, double gain, ApsFrame& frame);
    // Mean grey level (0..255) of the last frame, for auto exposure.
    double lastMeanLevel() const { return meanLevel; }

private:
    int toColumn(double x) const;

    int width;
    int height;
    std::array<double, 6> m;
    std::vector<uint8_t> background; // scene brightness without the moving parts
    std::vector<uint8_t> row;
    double meanLevel = 0;
};

} // namespace sorvane
