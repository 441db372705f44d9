#include "sdk/DvsApsFusionProccessor.h"

#include "SorvaneBase/Logger.h"

namespace sorvane {

DvsApsFusionProccessor::DvsApsFusionProccessor()
    // When all ten vectors are out, acquire() makes an eleventh rather than block the camera's
    // thread; the bounded queues keep that from happening in a stall.
    : eventPool(SvObjectPoolFactory::createUniqueSvObjectPoolWithArgs<std::vector<Event2D>>(pooledBatches,
                                                                                             batchCapacity))
    , currentEvents(eventPool->acquire())
{
    currentEvents->clear();
}

DvsApsFusionProccessor::~DvsApsFusionProccessor()
{
    fusionCallback = nullptr;
    apsQueue.clear();
    currentEvents.reset();
    dvsQueue.clear();
    eventPool.reset();
}

void DvsApsFusionProccessor::addDvsData(const Event2D* begin, const Event2D* end)
{
    if (begin && end > begin)
        currentEvents->insert(currentEvents->end(), begin, end);
}

void DvsApsFusionProccessor::addApsData(const ApsFrame& frame)
{
    std::lock_guard lock(mutex);
    if (apsQueue.size() >= maxQueued) {
        // Sync signals have stopped: the oldest frame will never find its batch.
        apsQueue.pop_front();
        if (framesDropped.fetch_add(1) == 0)
            SV_LOG_ERROR("APS frames arrive without sync signals; the oldest unpaired frames are dropped");
    }
    apsQueue.push_back(frame.clone());
    fusionData();
}

void DvsApsFusionProccessor::addSyncSignal(const EventTriggerIn& signal)
{
    if (signal.polarity != 1)
        return;
    std::lock_guard lock(mutex);
    if (dvsQueue.size() >= maxQueued) {
        // Frames have stopped: keep the newest batches, so memory stays bounded.
        dvsQueue.pop_front();
        if (batchesDropped.fetch_add(1) == 0)
            SV_LOG_ERROR("sync signals arrive without APS frames; the oldest unpaired event batches are dropped");
    }
    dvsQueue.push_back(std::move(currentEvents));
    currentEvents = eventPool->acquire();
    currentEvents->clear();
    fusionData();
}

void DvsApsFusionProccessor::addFusionDataCallback(FusionCallback callback)
{
    fusionCallback = std::move(callback);
}

void DvsApsFusionProccessor::removeFusionDataCallback()
{
    fusionCallback = nullptr;
}

void DvsApsFusionProccessor::clear()
{
    std::lock_guard lock(mutex);
    apsQueue.clear();
    dvsQueue.clear();
    currentEvents->clear();
}

void DvsApsFusionProccessor::fusionData()
{
    while (!apsQueue.empty() && !dvsQueue.empty()) {
        ApsFrame frame = std::move(apsQueue.front());
        apsQueue.pop_front();
        std::shared_ptr<std::vector<Event2D>> batch = std::move(dvsQueue.front());
        dvsQueue.pop_front();
        if (fusionCallback)
            fusionCallback(frame, batch->data(), batch->data() + batch->size());
    }
}

} // namespace sorvane
