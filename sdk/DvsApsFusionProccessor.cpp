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
        dropFrame();
    }
    apsQueue.push_back(frame.clone());
    newestFrame = std::max(newestFrame.value_or(0), frame.getTimestamp());
    fusionData();
}

void DvsApsFusionProccessor::addSyncSignal(const EventTriggerIn& signal)
{
    if (signal.polarity != 1)
        return;
    std::lock_guard lock(mutex);
    // The same edge twice, or one from before: no batch ends there.
    if (lastEdge && signal.timestamp <= *lastEdge)
        return;
    if (lastEdge) {
        edgeGaps.push_back(signal.timestamp - *lastEdge);
        if (edgeGaps.size() > periodGaps)
            edgeGaps.pop_front();
    }
    if (dvsQueue.size() >= maxQueued) {
        // Frames have stopped: keep the newest batches, so memory stays bounded.
        dvsQueue.pop_front();
        dropBatch();
    }
    dvsQueue.push_back({std::move(currentEvents), lastEdge, signal.timestamp});
    lastEdge = signal.timestamp;
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
    lastEdge.reset();
    edgeGaps.clear();
    newestFrame.reset();
    // A fresh reservation: the pages a long stall filled go back now, not at the next stall.
    *currentEvents = std::vector<Event2D>();
    currentEvents->reserve(size_t(batchCapacity));
}

uint64_t DvsApsFusionProccessor::framePeriod() const
{
    if (edgeGaps.empty())
        return 0;
    std::vector<uint64_t> gaps(edgeGaps.begin(), edgeGaps.end());
    // The lower median: a lost sync (a double gap) or a stray edge (a short one) moves it little.
    const auto middle = gaps.begin() + std::ptrdiff_t((gaps.size() - 1) / 2);
    std::nth_element(gaps.begin(), middle, gaps.end());
    return *middle;
}

uint64_t DvsApsFusionProccessor::startOf(const Batch& batch, uint64_t period)
{
    if (batch.opened && batch.closed - *batch.opened <= period + period / 2)
        return *batch.opened;
    return batch.closed > period ? batch.closed - period : 0;
}

void DvsApsFusionProccessor::dropFrame()
{
    if (framesDropped.fetch_add(1) == 0)
        SV_LOG_ERROR("APS frames arrive without their sync signals; unpaired frames are dropped");
}

void DvsApsFusionProccessor::dropBatch()
{
    if (batchesDropped.fetch_add(1) == 0)
        SV_LOG_ERROR("sync signals arrive without their APS frames; unpaired event batches are dropped");
}

void DvsApsFusionProccessor::fusionData()
{
    const uint64_t period = framePeriod();
    if (period == 0)
        return;
    const uint64_t tolerance = period / 2;
    for (auto frame = apsQueue.begin(); frame != apsQueue.end();) {
        const uint64_t t = frame->getTimestamp();
        auto match = dvsQueue.end();
        uint64_t nearest = tolerance + 1;
        for (auto batch = dvsQueue.begin(); batch != dvsQueue.end(); ++batch) {
            const uint64_t start = startOf(*batch, period);
            const uint64_t distance = start > t ? start - t : t - start;
            if (distance < nearest) {
                nearest = distance;
                match = batch;
            }
        }
        if (match == dvsQueue.end()) {
            ++frame;
            continue;
        }
        ApsFrame paired = std::move(*frame);
        frame = apsQueue.erase(frame);
        Batch batch = std::move(*match);
        dvsQueue.erase(match);
        Event2D* begin = batch.events->data();
        Event2D* end = begin + batch.events->size();
        const uint64_t start = startOf(batch, period);
        if (!batch.opened || start != *batch.opened)
            begin = std::lower_bound(begin, end, start, [](const Event2D& e, uint64_t s) { return e.timestamp < s; });
        if (fusionCallback)
            fusionCallback(paired, begin, end);
    }
    // A frame whose opening edge lies before the open batch's has missed its batch for good.
    if (lastEdge) {
        const auto missed = [&](const ApsFrame& f) { return f.getTimestamp() + tolerance < *lastEdge; };
        for (auto frame = apsQueue.begin(); frame != apsQueue.end();) {
            if (missed(*frame)) {
                frame = apsQueue.erase(frame);
                dropFrame();
            } else {
                ++frame;
            }
        }
    }
    // A batch waits for a frame until frames more than a period later have come: frames a
    // little out of order still find theirs.
    if (newestFrame) {
        for (auto batch = dvsQueue.begin(); batch != dvsQueue.end();) {
            if (startOf(*batch, period) + period + tolerance < *newestFrame) {
                batch = dvsQueue.erase(batch);
                dropBatch();
            } else {
                ++batch;
            }
        }
    }
}

} // namespace sorvane
