#include "sdk/Utils/Json/JsonUtils.h"

#include "SorvaneBase/Logger.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace sorvane {

namespace {

using nlohmann::json;

// A whole number of a JSON number: a fraction is cut off. Throws a type error for anything
// else, including numbers no 64-bit integer holds.
int64_t wholeNumber(const json& value)
{
    if (value.is_number_unsigned())
        return int64_t(value.get<uint64_t>());
    if (value.is_number_integer())
        return value.get<int64_t>();
    const double number = value.get<double>();
    if (!(number > -9.0e18 && number < 9.0e18))
        throw json::type_error::create(302, "number out of range", &value);
    return int64_t(number);
}

// Widths and heights keep the low 16 bits of the whole number.
uint16_t sizeValue(const json& value)
{
    return uint16_t(wholeNumber(value));
}

int32_t matrixField(const json& object, const char* key)
{
    return object.contains(key) ? int32_t(wholeNumber(object.at(key))) : 0;
}

CalibrationMatrix readMatrix(const json& object)
{
    if (!object.is_object())
        throw json::type_error::create(302, "a matrix must be an object", &object);
    CalibrationMatrix matrix;
    matrix.rows = matrixField(object, "rows");
    matrix.cols = matrixField(object, "cols");
    matrix.type = matrixField(object, "type");
    if (object.contains("data"))
        matrix.data = object.at("data").get<std::vector<double>>();
    return matrix;
}

// Reads "frame_size" of camera into width and height; false with the message when it is wrong.
bool readFrameSize(const json& camera, uint16_t& width, uint16_t& height)
{
    if (!camera.contains("frame_size")) {
        SV_LOG_ERROR("Error: Missing 'frame_size' field.\n");
        return false;
    }
    const json& size = camera.at("frame_size");
    if (!size.is_object() || !size.contains("cols") || !size.contains("rows")) {
        SV_LOG_ERROR("Error: Invalid 'frame_size' in JSON.\n");
        return false;
    }
    width = sizeValue(size.at("cols"));
    height = sizeValue(size.at("rows"));
    return true;
}

void readAffineMatrices(const json& affine, CalibratorParameters& out)
{
    if (!affine.is_object())
        throw json::type_error::create(302, "'affine_matrix' must be an object", &affine);
    for (const auto& [key, matrix] : affine.items())
        out.affineMatrices[key] = readMatrix(matrix);
}

std::vector<double> numbersIfArray(const json& camera, const char* key)
{
    if (camera.contains(key) && camera.at(key).is_array())
        return camera.at(key).get<std::vector<double>>();
    return {};
}

bool parse(const json& root, CalibratorParameters& out)
{
    if (!root.is_object() || !root.contains("0")) {
        SV_LOG_ERROR("Error: No camera with ID '0' found in calibration data.\n");
        return false;
    }
    const json& dvs = root.at("0");
    if (!dvs.is_object() || !dvs.contains("camera_serial")) {
        SV_LOG_ERROR("Error: Missing or invalid 'camera_serial' field.\n");
        return false;
    }
    out.cameraSerial = dvs.at("camera_serial").get<std::string>();
    if (!readFrameSize(dvs, out.dvsWidth, out.dvsHeight))
        return false;
    if (!dvs.contains("camera_matrix")) {
        SV_LOG_ERROR("Error: Missing 'camera_matrix'.\n");
        return false;
    }
    out.cameraMatrix = readMatrix(dvs.at("camera_matrix"));
    if (!dvs.contains("dist_coeffs")) {
        SV_LOG_ERROR("Error: Missing 'dist_coeffs'.\n");
        return false;
    }
    out.distCoeffs = readMatrix(dvs.at("dist_coeffs"));
    out.affineMatrices.clear();
    if (dvs.contains("affine_matrix"))
        readAffineMatrices(dvs.at("affine_matrix"), out);
    out.rotation = numbersIfArray(dvs, "rotation");
    out.translation = numbersIfArray(dvs, "translation");
    SV_LOG_INFO("Camera Serial: %s", out.cameraSerial.c_str());
    SV_LOG_INFO("Dvs Resolution: %d, %d", out.dvsWidth, out.dvsHeight);

    const json aps = root.contains("1") ? root.at("1") : json::object();
    if (!aps.is_object()) {
        SV_LOG_ERROR("Error: Missing 'frame_size' field.\n");
        return false;
    }
    if (!readFrameSize(aps, out.apsWidth, out.apsHeight))
        return false;
    if (aps.contains("affine_matrix") && !aps.at("affine_matrix").is_null())
        readAffineMatrices(aps.at("affine_matrix"), out);
    SV_LOG_INFO("Aps Resolution: %d, %d", out.apsWidth, out.apsHeight);
    return true;
}

} // namespace

bool readCalibrationFile(std::string path, CalibratorParameters& out)
{
    // Non-blocking and regular files only: a FIFO named like a set's calibration would hold the
    // open forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SV_LOG_ERROR("Error: open %s failed.", path.c_str());
        return false;
    }
    struct stat status {};
    // A calibration file is a few kilobytes; anything huge is not one.
    constexpr off_t maxSize = 16 << 20;
    std::string text;
    bool read = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= maxSize;
    if (read) {
        text.resize(size_t(status.st_size));
        size_t done = 0;
        while (read && done < text.size()) {
            const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            read = got > 0;
            done += got > 0 ? size_t(got) : 0;
        }
    }
    ::close(fd);
    if (!read) {
        SV_LOG_ERROR("Error: read %s failed.", path.c_str());
        return false;
    }
    return parseCalibration(text, out);
}

bool parseCalibration(const std::string& text, CalibratorParameters& out)
{
    const json root = json::parse(text, nullptr, false, false);
    if (root.is_discarded()) {
        SV_LOG_ERROR("Error: the calibration data is not valid JSON.");
        return false;
    }
    try {
        return parse(root, out);
    } catch (const json::exception& error) {
        SV_LOG_ERROR("Error: %s", error.what());
        return false;
    }
}

} // namespace sorvane
