#include "SorvaneHal/CameraTools.h"

namespace sorvane {

BiasesTool::BiasesTool()
{
    addInt(param::BiasDiffOn, "ON contrast threshold: higher needs a larger brightness rise per event",
           -85, 140, 0, "");
    addInt(param::BiasDiffOff, "OFF contrast threshold: higher needs a larger brightness drop per event",
           -35, 190, 0, "");
    addInt(param::BiasFo, "Front-end low-pass cut-off: higher passes faster changes and more noise",
           -35, 55, 0, "");
    addInt(param::BiasHpf, "High-pass filter: higher removes slow changes and background noise",
           0, 120, 0, "");
    addInt(param::BiasRefr, "Refractory period: higher keeps a pixel quiet longer after each event",
           -20, 235, 0, "");
}

TriggerInTool::TriggerInTool(bool frameSyncInput)
{
    if (frameSyncInput) {
        addBool(param::Channel0, "Frame sync of the APS sensor, one rising edge per frame", true);
    } else {
        addBool(param::Channel0, "Trigger input 0 (external pulse once a second)", true);
        addBool(param::Channel1, "Trigger input 1 (external pulse ten times a second)", false);
    }
}

AntiFlickerTool::AntiFlickerTool()
{
    addBool(param::Enable, "Remove events of lights flickering within the frequency band", false);
    addEnum(param::FilteringMode, "Band Stop removes the band, Band Pass keeps only the band",
            {option::BandStop, option::BandPass});
    addInt(param::LowFrequency, "Lowest flicker frequency of the band", 50, 520, 50, "Hz");
    addInt(param::HighFrequency, "Highest flicker frequency of the band", 50, 520, 520, "Hz");
    addFloat(param::DutyCycle, "Share of each flicker period in which events are filtered",
             0.0f, 100.0f, 100.0f, "%");
}

bool AntiFlickerTool::acceptValues(const ParameterValues& values) const
{
    return intValue(values, param::LowFrequency) <= intValue(values, param::HighFrequency);
}

EventTrailFilterTool::EventTrailFilterTool()
{
    addBool(param::Enable, "Filter the bursts of events that follow a moving edge", false);
    addEnum(param::FilteringType,
            "Trail keeps the first event of a burst; STC Cut Trail keeps the second and drops "
            "lone events; STC Keep Trail keeps all but the first and lone events",
            {option::Trail, option::StcCutTrail, option::StcKeepTrail});
    addInt(param::Threshold, "Time after an event within which a same-polarity event counts as its burst",
           1000, 100000, 10000, "us");
}

EventRateControlTool::EventRateControlTool()
{
    addBool(param::Enable, "Limit the event rate, dropping events evenly in each millisecond", false);
    addInt(param::MaxEventRate, "Highest event rate let through", 100, 100000, 10000, "kEv/s");
}

RoiTool::RoiTool(int width, int height)
{
    addBool(param::Enable, "Keep only the events inside the window", false);
    addInt(param::RoiX0, "Left column of the window (included)", 0, width - 1, 0, "px");
    addInt(param::RoiY0, "Top row of the window (included)", 0, height - 1, 0, "px");
    addInt(param::RoiX1, "Right column of the window (included)", 0, width - 1, width - 1, "px");
    addInt(param::RoiY1, "Bottom row of the window (included)", 0, height - 1, height - 1, "px");
}

ApsTool::ApsTool()
{
    addInt(param::ExposureTime, "Exposure time of each frame (at most one frame period)", 100, 100000, 10000, "us");
    addFloat(param::AnalogGain, "Analog gain applied before digitisation", 1.0f, 16.0f, 1.0f, "x");
    addInt(param::FrameRate, "Frames per second (one sync edge per frame)", 5, 30, 30, "fps");
    addBool(param::AutoExposure, "Adjust the exposure to keep the mean grey level near the middle", false);
}

bool ApsTool::acceptValues(const ParameterValues& values) const
{
    const int rate = intValue(values, param::FrameRate, 30);
    return rate > 0 && int64_t(intValue(values, param::ExposureTime)) * rate <= 1000000;
}

} // namespace sorvane
