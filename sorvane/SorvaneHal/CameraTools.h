#pragma once
// The tools of the simulated sensors. Parameter names are lower-case words joined by
// underscores: the settings pages turn them into labels and back.
#include "SorvaneHal/ParameterTool.h"

#include <memory>

namespace sorvane {

namespace param {
inline constexpr const char* BiasDiffOn = "bias_diff_on";
inline constexpr const char* BiasDiffOff = "bias_diff_off";
inline constexpr const char* BiasFo = "bias_fo";
inline constexpr const char* BiasHpf = "bias_hpf";
inline constexpr const char* BiasRefr = "bias_refr";

inline constexpr const char* Channel0 = "channel_0";
inline constexpr const char* Channel1 = "channel_1";

inline constexpr const char* Enable = "enable";
inline constexpr const char* FilteringMode = "filtering_mode";
inline constexpr const char* LowFrequency = "low_frequency";
inline constexpr const char* HighFrequency = "high_frequency";
inline constexpr const char* DutyCycle = "duty_cycle";

inline constexpr const char* FilteringType = "filtering_type";
inline constexpr const char* Threshold = "threshold";

inline constexpr const char* MaxEventRate = "max_event_rate";

inline constexpr const char* RoiX0 = "roi_x0";
inline constexpr const char* RoiY0 = "roi_y0";
inline constexpr const char* RoiX1 = "roi_x1";
inline constexpr const char* RoiY1 = "roi_y1";

inline constexpr const char* ExposureTime = "exposure_time";
inline constexpr const char* AnalogGain = "analog_gain";
inline constexpr const char* FrameRate = "frame_rate";
inline constexpr const char* AutoExposure = "auto_exposure";
} // namespace param

namespace option {
inline constexpr const char* BandStop = "Band Stop";
inline constexpr const char* BandPass = "Band Pass";
inline constexpr const char* Trail = "Trail";
inline constexpr const char* StcCutTrail = "STC Cut Trail";
inline constexpr const char* StcKeepTrail = "STC Keep Trail";
} // namespace option

// Contrast thresholds and pixel front end. Raising bias_diff_on / bias_diff_off raises the
// brightness change a pixel needs, so fewer events; bias_fo and bias_hpf move the noise floor;
// bias_refr lengthens the dead time after an event, which shortens the bursts behind edges.
class BiasesTool : public ParameterTool {
public:
    BiasesTool();
};

// Trigger inputs. The fusion camera's channel 0 carries the frame sync of its APS sensor.
class TriggerInTool : public ParameterTool {
public:
    explicit TriggerInTool(bool frameSyncInput);
};

class AntiFlickerTool : public ParameterTool {
public:
    AntiFlickerTool();

protected:
    bool acceptValues(const ParameterValues& values) const override;
};

class EventTrailFilterTool : public ParameterTool {
public:
    EventTrailFilterTool();
};

class EventRateControlTool : public ParameterTool {
public:
    EventRateControlTool();
};

// Inclusive window between roi_x0 and roi_x1, roi_y0 and roi_y1, each pair in either order, so
// that any window can be reached by editing the four values one at a time in any order.
class RoiTool : public ParameterTool {
public:
    RoiTool(int width, int height);
};

// The frame sensor: the exposure must fit into one frame period.
class ApsTool : public ParameterTool {
public:
    ApsTool();

protected:
    bool acceptValues(const ParameterValues& values) const override;
};

} // namespace sorvane
