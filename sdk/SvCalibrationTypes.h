#pragma once
// Calibration of a fusion camera's sensor pair, as a camera reports it or as a recording's
// calibration file stores it.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sorvane {

struct CalibrationMatrix {
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t type = 0;
    std::vector<double> data; // row-major
};

struct CalibratorParameters {
    std::string cameraSerial;
    uint16_t dvsWidth = 0;
    uint16_t dvsHeight = 0;
    uint16_t apsWidth = 0;
    uint16_t apsHeight = 0;
    CalibrationMatrix cameraMatrix;
    CalibrationMatrix distCoeffs;
    // "0": APS to DVS, "1": DVS to APS; 2 x 3 affine matrices.
    std::map<std::string, CalibrationMatrix> affineMatrices;
    std::vector<double> rotation;
    std::vector<double> translation;
};

} // namespace sorvane
