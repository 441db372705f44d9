#pragma once
// Descriptions and parameter records of the camera hardware layer.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sorvane {

struct CameraDescription {
    std::string serial;
    std::string product;
};

enum STREAM_TYPE : int {
    STREAM_DVS = 0,
    STREAM_APS = 1,
    STREAM_ALL = 2,
};

enum class ToolType : int {
    Biases = 0,
    TriggerIn = 1,
    AntiFlicker = 3,
    EventTrailFilter = 4,
    EventRateControl = 5,
    Roi = 6,
    Aps = 7,
};

enum ParameterType : int {
    ParameterInt = 0,
    ParameterFloat = 1,
    ParameterBool = 2,
    ParameterEnum = 4,
};

struct BasicParameterInfo {
    std::string name;
    std::string description; // one line, shown as a tooltip
    int type = ParameterInt;
};

struct IntParameterInfo : BasicParameterInfo {
    int min = 0;
    int max = 0;
    int defaultValue = 0;
    std::string unit;
};

struct FloatParameterInfo : BasicParameterInfo {
    float min = 0;
    float max = 0;
    float defaultValue = 0;
    std::string unit;
};

struct BoolParameterInfo : BasicParameterInfo {
    bool defaultValue = false;
};

struct EnumParameterInfo : BasicParameterInfo {
    std::vector<std::string> options;
    std::string defaultValue;
};

using ParameterInfoMap = std::map<std::string, BasicParameterInfo>;

} // namespace sorvane
