#include "sdk/DvsApsFusionProccessor.h"

#include "SorvaneBase/Logger.h"

#include <algorithm>

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
    if (!begin || end <= begin)
        return;
    constexpr size_t capacity = size_t(batchCapacity);
    std::vector<Event2D>& batch = *currentEvents;
    size_t count = size_t(end - begin);
    size_t dropped = 0;
    if (count > capacity) {
        dropped = count - capacity;
        begin = end - capacity;
        count = capacity;
    }
    if (batch.size() + count > capacity) {
        // Sync signals stay away. Room is made in steps of a quarter, so a long stall moves the
        // kept events now and then rather than with every delivery.
        const size_t room = std::min(batch.size(), std::max(batch.size() + count - capacity, capacity / 4));
        batch.erase(batch.begin(), batch.begin() + std::ptrdiff_t(room));
        dropped += room;
    }
    if (dropped > 0 && eventsDropped.fetch_add(dropped) == 0)
        SV_LOG_ERROR("events arrive without sync signals; the oldest events of the open batch are dropped");
    batch.insert(batch.end(), begin, end);
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
    // A fresh reservation: the pages a long stall filled go back now, not at the next stall.
    *currentEvents = std::vector<Event2D>();
    currentEvents->reserve(size_t(batchCapacity));
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
