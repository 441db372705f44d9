#pragma once
// Pairs the frames of a fusion camera's APS sensor with its DVS events. The camera marks each
// frame with a sync signal on the trigger input (polarity 1); the events between two sync
// signals make one batch. A frame is stamped with the start of its exposure, which is the sync
// edge that opens its batch, so frames and batches are paired by time: a frame goes with the
// batch whose opening edge lies nearest its timestamp, within half a frame period. A lost sync,
// a lost frame or a repeated edge thus costs at most one frame; the pairs after it stay right.
//
// The frame period is the median of the latest gaps between sync edges. A batch that lasts
// longer than one and a half periods lost its opening edge (a sync went missing, or the signals
// stopped for a while) and is taken as the last period before its closing edge, its older events
// left out; so is the first batch after construction or clear(), which has no opening edge.
// Frames and batches that can no longer find their match are dropped and counted. Each stream
// arrives in time order (neighbouring frames may swap); a frame may come before its sync signals
// or after them.
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
#include <optional>
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
    // Gaps between sync edges that the frame period is taken from.
    static constexpr size_t periodGaps = 8;

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
    // A polarity-1 signal closes the batch being filled; other signals, and an edge no later
    // than the one before, are ignored.
    void addSyncSignal(const EventTriggerIn& signal);

    // One receiver; set before data arrives.
    void addFusionDataCallback(FusionCallback callback);
    void removeFusionDataCallback();
    // Forgets every queued frame and batch, the events gathered so far (their memory goes back)
    // and the sync edges seen.
    void clear();

    // Since construction: batches and frames dropped without a match, and events dropped from a
    // batch that reached batchCapacity.
    uint64_t droppedBatches() const { return batchesDropped.load(); }
    uint64_t droppedFrames() const { return framesDropped.load(); }
    uint64_t droppedEvents() const { return eventsDropped.load(); }

private:
    struct Batch {
        std::shared_ptr<std::vector<Event2D>> events;
        std::optional<uint64_t> opened; // the sync edge before, when one was seen
        uint64_t closed = 0;
    };

    // The pairing step; the caller holds mutex.
    void fusionData();
    // The median of the latest gaps between edges; 0 while none is known. Caller holds mutex.
    uint64_t framePeriod() const;
    // Where the batch's frame exposure starts, and so where its events start.
    static uint64_t startOf(const Batch& batch, uint64_t period);
    void dropFrame();
    void dropBatch();

    std::unique_ptr<SvObjectPool<std::vector<Event2D>>> eventPool;
    std::deque<Batch> dvsQueue;
    std::shared_ptr<std::vector<Event2D>> currentEvents;
    std::optional<uint64_t> lastEdge; // the edge that opened currentEvents
    std::deque<uint64_t> edgeGaps;
    std::deque<ApsFrame> apsQueue;
    std::optional<uint64_t> newestFrame;
    FusionCallback fusionCallback;
    // Guards dvsQueue, apsQueue, lastEdge, edgeGaps, newestFrame and the exchange of currentEvents.
    std::mutex mutex;
    std::atomic<uint64_t> batchesDropped{0};
    std::atomic<uint64_t> framesDropped{0};
    std::atomic<uint64_t> eventsDropped{0};
};

} // namespace sorvane
