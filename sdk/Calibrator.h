#pragma once
// The calibration of a fusion camera's two sensors, and the mapping of APS frames onto the DVS
// pixel grid with a 2 x 3 affine matrix. Takes no lock: loading must not overlap a mapping.
#include "SorvaneBase/ApsFrame.h"
#include "sdk/SvCalibrationTypes.h"
#include "sdk/SvEventRecords.h"

#include <vector>

namespace sorvane {

class Calibrator {
public:
    Calibrator();

    // Takes the sizes and, when they hold six coefficients each, the affine matrices "1"
    // (DVS to APS) and "0" (APS to DVS); a matrix without six keeps the previous one. A missing
    // key is inserted into parameters with an empty matrix. Always true.
    bool loadCalibrationParam(CalibratorParameters& parameters);

    // A dvsWidth x dvsHeight frame whose pixel (x, y) is the APS pixel the DVS pixel lands on;
    // pixels landing outside the calibrated APS size or outside aps itself stay black.
    ApsFrame mapApsToDvs(ApsFrame& aps);
    // Moves each event onto the APS grid, in place; coordinates keep their low 16 bits.
    void mapDvsToAps(Event2D* begin, Event2D* end);

    const CalibratorParameters& parameters() const { return params; }
    const std::vector<double>& dvsToAps() const { return dvsToApsMatrix; }

private:
    CalibratorParameters params;
    std::vector<double> dvsToApsMatrix;
    std::vector<double> apsToDvsMatrix;
};

} // namespace sorvane
