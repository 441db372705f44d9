#include "SorvaneHal/ParameterTool.h"

#include "SorvaneBase/Logger.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sorvane {

namespace {

const char* typeName(int type)
{
    switch (type) {
    case ParameterInt: return "integer";
    case ParameterFloat: return "float";
    case ParameterBool: return "bool";
    case ParameterEnum: return "enum";
    }
    return "unknown";
}

} // namespace

void ParameterTool::addInt(const std::string& name, const std::string& description, int min,
                           int max, int defaultValue, const std::string& unit)
{
    Parameter p;
    p.type = ParameterInt;
    p.intInfo.name = name;
    p.intInfo.description = description;
    p.intInfo.type = ParameterInt;
    p.intInfo.min = min;
    p.intInfo.max = max;
    p.intInfo.defaultValue = defaultValue;
    p.intInfo.unit = unit;
    p.value = defaultValue;
    parameters[name] = std::move(p);
}

void ParameterTool::addFloat(const std::string& name, const std::string& description, float min,
                             float max, float defaultValue, const std::string& unit)
{
    Parameter p;
    p.type = ParameterFloat;
    p.floatInfo.name = name;
    p.floatInfo.description = description;
    p.floatInfo.type = ParameterFloat;
    p.floatInfo.min = min;
    p.floatInfo.max = max;
    p.floatInfo.defaultValue = defaultValue;
    p.floatInfo.unit = unit;
    p.value = defaultValue;
    parameters[name] = std::move(p);
}

void ParameterTool::addBool(const std::string& name, const std::string& description, bool defaultValue)
{
    Parameter p;
    p.type = ParameterBool;
    p.boolInfo.name = name;
    p.boolInfo.description = description;
    p.boolInfo.type = ParameterBool;
    p.boolInfo.defaultValue = defaultValue;
    p.value = defaultValue;
    parameters[name] = std::move(p);
}

void ParameterTool::addEnum(const std::string& name, const std::string& description,
                            const std::vector<std::string>& options)
{
    Parameter p;
    p.type = ParameterEnum;
    p.enumInfo.name = name;
    p.enumInfo.description = description;
    p.enumInfo.type = ParameterEnum;
    p.enumInfo.options = options;
    // The settings page shows the first option of a fresh list, so that is the default.
    p.enumInfo.defaultValue = options.empty() ? std::string() : options.front();
    p.value = p.enumInfo.defaultValue;
    parameters[name] = std::move(p);
}

bool ParameterTool::acceptValues(const ParameterValues&) const
{
    return true;
}

bool ParameterTool::getAllParameterInfo(ParameterInfoMap& infos) const
{
    infos.clear();
    for (const auto& [name, p] : parameters) {
        switch (p.type) {
        case ParameterInt: infos[name] = p.intInfo; break;
        case ParameterFloat: infos[name] = p.floatInfo; break;
        case ParameterBool: infos[name] = p.boolInfo; break;
        case ParameterEnum: infos[name] = p.enumInfo; break;
        }
    }
    return !infos.empty();
}

const ParameterTool::Parameter* ParameterTool::find(const std::string& name, int type) const
{
    auto it = parameters.find(name);
    if (it == parameters.end() || it->second.type != type)
        return nullptr;
    return &it->second;
}

bool ParameterTool::getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) const
{
    const Parameter* p = find(name, ParameterEnum);
    if (p)
        info = p->enumInfo;
    return p != nullptr;
}

bool ParameterTool::getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) const
{
    const Parameter* p = find(name, ParameterBool);
    if (p)
        info = p->boolInfo;
    return p != nullptr;
}

bool ParameterTool::getFloatParameterInfo(const std::string& name, FloatParameterInfo& info) const
{
    const Parameter* p = find(name, ParameterFloat);
    if (p)
        info = p->floatInfo;
    return p != nullptr;
}

bool ParameterTool::getIntParameterInfo(const std::string& name, IntParameterInfo& info) const
{
    const Parameter* p = find(name, ParameterInt);
    if (p)
        info = p->intInfo;
    return p != nullptr;
}

template <typename T>
bool ParameterTool::read(const std::string& name, int type, T& value) const
{
    std::lock_guard lock(mutex);
    const Parameter* p = find(name, type);
    if (p)
        value = std::get<T>(p->value);
    return p != nullptr;
}

bool ParameterTool::getBoolParameter(const std::string& name, bool& value) const
{
    return read(name, ParameterBool, value);
}

bool ParameterTool::getIntParameter(const std::string& name, int& value) const
{
    return read(name, ParameterInt, value);
}

bool ParameterTool::getFloatParameter(const std::string& name, float& value) const
{
    return read(name, ParameterFloat, value);
}

bool ParameterTool::getEnumParameter(const std::string& name, std::string& value) const
{
    return read(name, ParameterEnum, value);
}

bool ParameterTool::write(const std::string& name, int type, const ParameterValue& value)
{
    std::lock_guard lock(mutex);
    auto it = parameters.find(name);
    if (it == parameters.end()) {
        SV_LOG_ERROR("unknown camera parameter %s", name.c_str());
        return false;
    }
    Parameter& p = it->second;
    if (p.type != type) {
        SV_LOG_ERROR("camera parameter %s is %s, not %s", name.c_str(), typeName(p.type), typeName(type));
        return false;
    }
    switch (type) {
    case ParameterInt: {
        const int v = std::get<int>(value);
        if (v < p.intInfo.min || v > p.intInfo.max) {
            SV_LOG_ERROR("%s = %d is outside [%d, %d]", name.c_str(), v, p.intInfo.min, p.intInfo.max);
            return false;
        }
        break;
    }
    case ParameterFloat: {
        const float v = std::get<float>(value);
        if (!std::isfinite(v) || v < p.floatInfo.min || v > p.floatInfo.max) {
            SV_LOG_ERROR("%s = %g is outside [%g, %g]", name.c_str(), double(v),
                         double(p.floatInfo.min), double(p.floatInfo.max));
            return false;
        }
        break;
    }
    case ParameterEnum: {
        const auto& options = p.enumInfo.options;
        if (std::find(options.begin(), options.end(), std::get<std::string>(value)) == options.end()) {
            SV_LOG_ERROR("%s has no option \"%s\"", name.c_str(), std::get<std::string>(value).c_str());
            return false;
        }
        break;
    }
    default:
        break;
    }

    ParameterValues tentative;
    for (const auto& [key, parameter] : parameters)
        tentative[key] = parameter.value;
    tentative[name] = value;
    if (!acceptValues(tentative)) {
        SV_LOG_ERROR("camera refuses %s with the other settings as they are", name.c_str());
        return false;
    }
    p.value = value;
    versionCounter.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool ParameterTool::setEnumParameter(const std::string& name, const std::string& value)
{
    return write(name, ParameterEnum, value);
}

bool ParameterTool::setBoolParameter(const std::string& name, bool value)
{
    return write(name, ParameterBool, value);
}

bool ParameterTool::setFloatParameter(const std::string& name, float value)
{
    return write(name, ParameterFloat, value);
}

bool ParameterTool::setIntParameter(const std::string& name, int value)
{
    return write(name, ParameterInt, value);
}

bool ParameterTool::setParameterFromText(const std::string& name, const std::string& text)
{
    auto it = parameters.find(name);
    if (it == parameters.end()) {
        SV_LOG_ERROR("unknown camera parameter %s", name.c_str());
        return false;
    }
    const char* begin = text.c_str();
    char* end = nullptr;
    switch (it->second.type) {
    case ParameterInt: {
        const long v = std::strtol(begin, &end, 10);
        if (text.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
            break;
        return setIntParameter(name, int(v));
    }
    case ParameterFloat: {
        const float v = std::strtof(begin, &end);
        if (text.empty() || *end != '\0')
            break;
        return setFloatParameter(name, v);
    }
    case ParameterBool:
        if (text == "true" || text == "1" || text == "on")
            return setBoolParameter(name, true);
        if (text == "false" || text == "0" || text == "off")
            return setBoolParameter(name, false);
        break;
    case ParameterEnum:
        return setEnumParameter(name, text);
    }
    SV_LOG_ERROR("\"%s\" is not a %s value for %s", text.c_str(), typeName(it->second.type), name.c_str());
    return false;
}

ParameterValues ParameterTool::values() const
{
    std::lock_guard lock(mutex);
    ParameterValues out;
    for (const auto& [name, p] : parameters)
        out[name] = p.value;
    return out;
}

int ParameterTool::intValue(const ParameterValues& values, const std::string& name, int fallback)
{
    auto it = values.find(name);
    return it != values.end() && std::holds_alternative<int>(it->second) ? std::get<int>(it->second) : fallback;
}

float ParameterTool::floatValue(const ParameterValues& values, const std::string& name, float fallback)
{
    auto it = values.find(name);
    return it != values.end() && std::holds_alternative<float>(it->second) ? std::get<float>(it->second) : fallback;
}

bool ParameterTool::boolValue(const ParameterValues& values, const std::string& name, bool fallback)
{
    auto it = values.find(name);
    return it != values.end() && std::holds_alternative<bool>(it->second) ? std::get<bool>(it->second) : fallback;
}

std::string ParameterTool::enumValue(const ParameterValues& values, const std::string& name)
{
    auto it = values.find(name);
    return it != values.end() && std::holds_alternative<std::string>(it->second)
        ? std::get<std::string>(it->second) : std::string();
}

} // namespace sorvane
