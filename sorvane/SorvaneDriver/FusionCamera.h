#pragma once
// A fusion camera: an event sensor and a frame (APS) sensor, paired by sync triggers (one
// rising sync edge per APS frame). Callbacks run on the camera's own threads.
#include "SorvaneBase/ApsFrame.h"
#include "SorvaneDriver/DvsCamera.h"
#include "sdk/SvCalibrationTypes.h"

namespace sorvane {

using EventsCallback = std::function<void(const Event2D* begin, const Event2D* end)>;
using ApsFrameCallback = std::function<void(ApsFrame&)>;

class FusionCamera : public CameraIdentity {
public:
    virtual ~FusionCamera() = default;

    virtual bool isConnected() = 0;
    virtual void addEventsCallback(EventsCallback callback) = 0;
    virtual void addApsFrameCallback(ApsFrameCallback callback) = 0;
    virtual uint32_t addTriggerInCallback(TriggerInCallback callback) = 0;
    virtual int start(STREAM_TYPE type) = 0;
    virtual void stop(STREAM_TYPE type) = 0;
    virtual void close() = 0;
    // Writes folder/base.raw, folder/base.mp4 and folder/base.json.
    virtual bool startRecording(const std::string& folder, const std::string& baseName, STREAM_TYPE type) = 0;
    virtual bool stopRecording(STREAM_TYPE type) = 0;
    virtual void setStatisticInfoCallback(StatisticInfoCallback callback) = 0;
    virtual bool getCalibratorParameters(CalibratorParameters& parameters) = 0;

protected:
    FusionCamera(CameraDescription description, ToolMap tools)
        : CameraIdentity(std::move(description), std::move(tools)) {}
};

} // namespace sorvane
