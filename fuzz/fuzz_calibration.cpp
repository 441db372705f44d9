// Fuzzes the calibration file parser: any text gives true or false, never an exception, a crash
// or a read out of bounds; a parsed record loads into a calibrator.
#include "sdk/Calibrator.h"
#include "sdk/Utils/Json/JsonUtils.h"

#include <SorvaneBase/Logger.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        sorvane::Logger::Instance().setSink([](int, const char*, int, const std::string&) {});
        return true;
    }();
    (void)quiet;
    sorvane::CalibratorParameters parameters;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (sorvane::parseCalibration(text, parameters)) {
        sorvane::Calibrator calibrator;
        calibrator.loadCalibrationParam(parameters);
    }
    return 0;
}
