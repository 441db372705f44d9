#pragma once
// What every camera knows about itself: its description and its tools.
#include "SorvaneHal/CameraTool.h"

#include <map>
#include <memory>

namespace sorvane {

using ToolMap = std::map<ToolType, std::shared_ptr<CameraTool>>;

class CameraIdentity {
public:
    CameraDescription getDvsDesc() const { return description; }
    // Null when the camera has no tool of that type.
    std::shared_ptr<CameraTool> getTool(ToolType type) const
    {
        auto it = tools.find(type);
        return it == tools.end() ? nullptr : it->second;
    }

protected:
    CameraIdentity(CameraDescription description_, ToolMap tools_)
        : description(std::move(description_)), tools(std::move(tools_)) {}
    ~CameraIdentity() = default;

private:
    CameraDescription description;
    ToolMap tools;
};

} // namespace sorvane
