#pragma once
// A camera tool backed by a table of described parameters. Every write is checked against the
// parameter's type and range and then against the tool's own rule over the whole value set
// (acceptValues), so a refused write changes nothing.
//
// Threading: written by the controlling thread, read by the camera's threads. A reader polls
// version() and takes a snapshot only when it moved.
#include "SorvaneHal/CameraTool.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <variant>

namespace sorvane {

using ParameterValue = std::variant<int, float, bool, std::string>;
using ParameterValues = std::map<std::string, ParameterValue>;

class ParameterTool : public CameraTool {
public:
    bool getAllParameterInfo(ParameterInfoMap& infos) const override;
    bool getEnumParameterInfo(const std::string& name, EnumParameterInfo& info) const override;
    bool getBoolParameterInfo(const std::string& name, BoolParameterInfo& info) const override;
    bool getFloatParameterInfo(const std::string& name, FloatParameterInfo& info) const override;
    bool getIntParameterInfo(const std::string& name, IntParameterInfo& info) const override;

    bool getBoolParameter(const std::string& name, bool& value) const override;
    bool getIntParameter(const std::string& name, int& value) const override;
    bool getFloatParameter(const std::string& name, float& value) const override;
    bool getEnumParameter(const std::string& name, std::string& value) const override;

    bool setEnumParameter(const std::string& name, const std::string& value) override;
    bool setBoolParameter(const std::string& name, bool value) override;
    bool setFloatParameter(const std::string& name, float value) override;
    bool setIntParameter(const std::string& name, int value) override;

    // Parses text for the parameter's type ("true"/"false"/"1"/"0", numbers, an option) and
    // writes it; the command-line tools use this.
    bool setParameterFromText(const std::string& name, const std::string& text);

    // Moves on every accepted write.
    uint64_t version() const { return versionCounter.load(std::memory_order_acquire); }
    ParameterValues values() const;

    // Typed reads of a snapshot; the fallback when the name is missing or has another type.
    static int intValue(const ParameterValues& values, const std::string& name, int fallback = 0);
    static float floatValue(const ParameterValues& values, const std::string& name, float fallback = 0);
    static bool boolValue(const ParameterValues& values, const std::string& name, bool fallback = false);
    static std::string enumValue(const ParameterValues& values, const std::string& name);

protected:
    ParameterTool() = default;

    void addInt(const std::string& name, const std::string& description, int min, int max,
                int defaultValue, const std::string& unit);
    void addFloat(const std::string& name, const std::string& description, float min, float max,
                  float defaultValue, const std::string& unit);
    void addBool(const std::string& name, const std::string& description, bool defaultValue);
    void addEnum(const std::string& name, const std::string& description,
                 const std::vector<std::string>& options);

    // A rule over the tentative value set after a write (e.g. corners that must not cross);
    // false refuses the write.
    virtual bool acceptValues(const ParameterValues& values) const;

private:
    struct Parameter {
        IntParameterInfo intInfo;
        FloatParameterInfo floatInfo;
        BoolParameterInfo boolInfo;
        EnumParameterInfo enumInfo;
        int type = ParameterInt;
        ParameterValue value;
    };

    bool write(const std::string& name, int type, const ParameterValue& value);
    const Parameter* find(const std::string& name, int type) const;
    template <typename T>
    bool read(const std::string& name, int type, T& value) const;

    // Guards parameters' values against a write racing the camera threads' reads.
    mutable std::mutex mutex;
    std::map<std::string, Parameter> parameters;
    std::atomic<uint64_t> versionCounter{1};
};

} // namespace sorvane
