#pragma once
// Pairs the frames of a fusion camera's APS sensor with its DVS events. The camera marks each
// frame with a sync signal on the trigger input (polarity 1); the events between two sync
// signals belong to one frame. Frames and event batches are paired purely by order of arrival:
// the k-th frame since construction or clear() goes with the k-th batch completed since then.
//
// Threads: addDvsData and addSyncSignal come from the camera's event thread, addApsData from its
// frame thread. The callback runs on whichever of them completes a pair, with the lock held, and
// must not call back into this processor's add or clear operations.
#include "SorvaneBase/ApsFrame.h"
#include "SorvaneBase/SvObjectPool.h"
#include "sdk/SvEventRecords.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace sorvane {

class DvsApsFusionProccessor {
public:
    using FusionCallback = std::function<void(ApsFrame& frame, Event2D* begin, Event2D* end)>;

    static constexpr size_t pooledBatches = 10;
    static constexpr int batchCapacity = 0x300000; // 3,145,728 events per pooled vector
    // Unpaired batches and frames kept while the other stream stalls; beyond this the oldest goes.
    // With the batch being filled and one in the callback, the pool's ten vectors are never all out.
    static constexpr size_t maxQueued = pooledBatches - 2;

    DvsApsFusionProccessor();
    ~DvsApsFusionProccessor();
    DvsApsFusionProccessor(const DvsApsFusionProccessor&) = delete;
    DvsApsFusionProccessor& operator=(const DvsApsFusionProccessor&) = delete;

    // Appends to the batch being filled, which holds at most batchCapacity events: while sync
    // signals stay away, the oldest events make room and are counted. Called on the thread of
    // addSyncSignal, never concurrently with it or with clear().
    void addDvsData(const Event2D* begin, const Event2D* end);
    // Queues a copy of frame (its own pixels) and pairs what can be paired.
    void addApsData(const ApsFrame& frame);
    // A polarity-1 signal closes the batch being filled; other signals are ignored.
    void addSyncSignal(const EventTriggerIn& signal);

    // One receiver; set before data arrives.
    void addFusionDataCallback(FusionCallback callback);
    void removeFusionDataCallback();
    // Forgets every queued frame and batch and the events gathered so far (their memory goes
    // back).
    void clear();

    // Since construction: batches and frames dropped because the other stream had stalled, and
    // events dropped from a batch that reached batchCapacity.
    uint64_t droppedBatches() const { return batchesDropped.load(); }
    uint64_t droppedFrames() const { return framesDropped.load(); }
    uint64_t droppedEvents() const { return eventsDropped.load(); }

private:
    // The pairing step; the caller holds mutex.
    void fusionData();

    std::unique_ptr<SvObjectPool<std::vector<Event2D>>> eventPool;
    std::deque<std::shared_ptr<std::vector<Event2D>>> dvsQueue;
    std::shared_ptr<std::vector<Event2D>> currentEvents;
    std::deque<ApsFrame> apsQueue;
    FusionCallback fusionCallback;
    // Guards dvsQueue, apsQueue and the exchange of currentEvents.
    std::mutex mutex;
    std::atomic<uint64_t> batchesDropped{0};
    std::atomic<uint64_t> framesDropped{0};
    std::atomic<uint64_t> eventsDropped{0};
};

} // namespace sorvane
