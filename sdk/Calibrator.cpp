#include "sdk/Calibrator.h"

#include <algorithm>
#include <cstring>

namespace sorvane {

namespace {

constexpr double defaultApsToDvsScale = 0.29835390946502055;

int32_t truncated(double value)
{
    // Values far outside any sensor would overflow the cast; they are outside either way.
    if (!(value > -2147483648.0 && value < 2147483648.0))
        return -1;
    return static_cast<int32_t>(value);
}

} // namespace

Calibrator::Calibrator()
    : dvsToApsMatrix{3.351724137931035, 0, -225.10344827586232, 0, 3.351724137931035, -126.62068965517255}
{
    params.dvsWidth = 1280;
    params.dvsHeight = 720;
    params.apsWidth = 3840;
    params.apsHeight = 2160;
    const double s = defaultApsToDvsScale;
    apsToDvsMatrix = {s, 0, params.dvsWidth / 2 - s * (params.apsWidth / 2), 0, s,
                      params.dvsHeight / 2 - s * (params.apsHeight / 2)};
}

bool Calibrator::loadCalibrationParam(CalibratorParameters& parameters)
{
    params = parameters;
    // The mappings need all six coefficients; a record without them (a failed read, a camera
    // without calibration) leaves the previous mapping in place.
    if (const std::vector<double>& m = parameters.affineMatrices["1"].data; m.size() >= 6)
        dvsToApsMatrix.assign(m.begin(), m.begin() + 6);
    if (const std::vector<double>& m = parameters.affineMatrices["0"].data; m.size() >= 6)
        apsToDvsMatrix.assign(m.begin(), m.begin() + 6);
    return true;
}

ApsFrame Calibrator::mapApsToDvs(ApsFrame& aps)
{
    const int dvsWidth = params.dvsWidth;
    const int dvsHeight = params.dvsHeight;
    ApsFrame result(dvsWidth, dvsHeight, aps.getHeader(), aps.getTimestamp());
    if (aps.isEmpty())
        return result;
    // A position is taken only inside the calibrated size and inside the frame's own pixels,
    // whatever size the frame has.
    const int width = std::min<int>(params.apsWidth, aps.getWidth());
    const int height = std::min<int>(params.apsHeight, aps.getHeight());
    if (width <= 0 || height <= 0 || aps.getDataSize() < size_t(aps.getWidth()) * size_t(aps.getHeight()) * 3)
        return result;
    const size_t stride = size_t(aps.getWidth()) * 3;
    const double* m = dvsToApsMatrix.data();
    const uint8_t* source = aps.data();
    uint8_t* target = result.data();

    // The products are computed as in u = (m1 y + m0 x) + m2 and v = (m4 y + m3 x) + m5, once per
    // column and row, so every position is bit for bit what the per-pixel formula gives.
    std::vector<double> m0x(static_cast<size_t>(dvsWidth));
    std::vector<double> m3x(static_cast<size_t>(dvsWidth));
    for (int x = 0; x < dvsWidth; ++x) {
        m0x[size_t(x)] = m[0] * x;
        m3x[size_t(x)] = m[3] * x;
    }
    const bool axisAligned = m[1] == 0 && m[3] == 0;
    std::vector<int32_t> columns;
    if (axisAligned) {
        // u depends on x alone: one table of source columns serves every row.
        columns.resize(size_t(dvsWidth));
        for (int x = 0; x < dvsWidth; ++x) {
            const int32_t u = truncated((0.0 + m0x[size_t(x)]) + m[2]);
            columns[size_t(x)] = u >= 0 && u < width ? u : -1;
        }
    }
    for (int y = 0; y < dvsHeight; ++y) {
        uint8_t* line = target + size_t(y) * size_t(dvsWidth) * 3;
        const double m1y = m[1] * y;
        const double m4y = m[4] * y;
        if (axisAligned) {
            const int32_t v = truncated((m4y + 0.0) + m[5]);
            if (v < 0 || v >= height)
                continue;
            const uint8_t* row = source + size_t(v) * stride;
            for (int x = 0; x < dvsWidth; ++x) {
                const int32_t u = columns[size_t(x)];
                if (u >= 0)
                    std::memcpy(line + 3 * x, row + 3 * size_t(u), 3);
            }
            continue;
        }
        for (int x = 0; x < dvsWidth; ++x) {
            const int32_t u = truncated((m1y + m0x[size_t(x)]) + m[2]);
            const int32_t v = truncated((m4y + m3x[size_t(x)]) + m[5]);
            if (u >= 0 && u < width && v >= 0 && v < height)
                std::memcpy(line + 3 * x, source + size_t(v) * stride + 3 * size_t(u), 3);
        }
    }
    return result;
}

void Calibrator::mapDvsToAps(Event2D* begin, Event2D* end)
{
    const double* m = dvsToApsMatrix.data();
    for (Event2D* e = begin; e != end; ++e) {
        const double x = e->x;
        const double y = e->y;
        const int32_t u = truncated((m[1] * y + m[0] * x) + m[2]);
        const int32_t v = truncated((m[3] * x + m[4] * y) + m[5]);
        e->x = uint16_t(u);
        e->y = uint16_t(v);
    }
}

} // namespace sorvane
