#pragma once
// The calibration file of a fusion recording: a JSON object whose members are the cameras by
// ID, "0" the DVS and "1" the APS.
#include "sdk/SvCalibrationTypes.h"

#include <string>

namespace sorvane {

// Reads and parses the file at path into out. False, with an error logged, on any failure;
// out may then be partly filled.
bool readCalibrationFile(std::string path, CalibratorParameters& out);
// Parses calibration JSON text into out. Malformed text or values of the wrong type give false,
// never an exception.
bool parseCalibration(const std::string& text, CalibratorParameters& out);

} // namespace sorvane
