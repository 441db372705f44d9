#pragma once
// An event camera. Implementations (the simulated cameras, a hardware driver) are interchangeable:
// nothing above this interface knows which one it holds.
//
// Threading: getNextBatch is called by one acquisition thread; callbacks run on the camera's own
// threads; stopRecording may be left to a worker, so that the controlling thread does not wait
// for the file; everything else is called from one controlling thread.
#include "SorvaneDriver/CameraIdentity.h"
#include "sdk/SvEventRecords.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sorvane {

using TriggerInCallback = std::function<void(EventTriggerIn)>;
using StatisticInfoCallback = std::function<void(const SvStatisticInfo&)>;

class DvsCamera : public CameraIdentity {
public:
    virtual ~DvsCamera() = default;

    virtual bool isConnected() = 0;
    virtual uint32_t addTriggerInCallback(TriggerInCallback callback) = 0;
    virtual bool removeTriggerInCallback(uint32_t id) = 0;
    // Replaces events with the next batch interval's events; false when none were delivered.
    virtual bool getNextBatch(std::vector<Event2D>& events) = 0;
    virtual void setBatchEventsTime(uint64_t batchTimeUs) = 0;
    // 0 when the camera is streaming.
    virtual int start() = 0;
    virtual void stop() = 0;
    virtual bool startRecording(const std::string& path) = 0;
    // As startRecording, but the file begins at cameraTime on the camera's clock, as far back as
    // the cache reaches: the seconds kept before a trigger count from the trigger's own time.
    virtual bool startRecordingFrom(const std::string& path, uint64_t cameraTime) = 0;
    // The last seconds of the stream are kept and head the next recording; (0, ".") switches off.
    virtual bool setRecordCacheTime(uint16_t seconds, const std::string& cacheFolder) = 0;
    virtual bool stopRecording() = 0;
    virtual void setStatisticInfoCallback(StatisticInfoCallback callback) = 0;

protected:
    DvsCamera(CameraDescription description, ToolMap tools)
        : CameraIdentity(std::move(description), std::move(tools)) {}
};

} // namespace sorvane
