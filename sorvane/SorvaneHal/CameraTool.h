#pragma once
// One group of camera settings (biases, trigger in, filters, ROI, APS). Every setter validates
// its value and returns false, changing nothing, when the camera would refuse it.
#include "SorvaneHal/CameraTypes.h"

namespace sorvane {

class CameraTool {
public:
    virtual ~CameraTool() = default;

    virtual bool getAllParameterInfo(ParameterInfoMap& infos) const = 0;
    virtual bool getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) const = 0;
    virtual bool getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) const = 0;
    virtual bool getFloatParameterInfo(const std::string& name, FloatParameterInfo& info) const = 0;
    virtual bool getIntParameterInfo(const std::string& name, IntParameterInfo& info) const = 0;

    virtual bool getBoolParameter(const std::string& name, bool& value) const = 0;
    virtual bool getIntParameter(const std::string& name, int& value) const = 0;
    virtual bool getFloatParameter(const std::string& name, float& value) const = 0;
    virtual bool getEnumParameter(const std::string& name, std::string& value) const = 0;

    virtual bool setEnumParameter(const std::string& name, const std::string& value) = 0;
    virtual bool setBoolParameter(const std::string& name, bool value) = 0;
    virtual bool setFloatParameter(const std::string& name, float value) = 0;
    virtual bool setIntParameter(const std::string& name, int value) = 0;
};

} // namespace sorvane
