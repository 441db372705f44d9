#pragma once
// The polling loop of a live DVS camera, run on the main window's acquisition thread while
// streaming is set: each batch goes to onBatch, at most displayRate batches a second (one per
// 1 000 000 / displayRate µs, the time spent on the batch included).
// Ends when streaming is cleared or the camera reports the connection lost (which clears
// streaming).
#include <SorvaneDriver/DvsCamera.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct DvsAcquisitionState {
    std::vector<sorvane::Event2D> eventBatch; // reused for every batch
    uint64_t lastEventTimestamp = 0;
    uint32_t displayRate = 33;
};

void runDvsAcquisitionLoop(sorvane::DvsCamera& camera, std::atomic<bool>& streaming, DvsAcquisitionState& state,
                           const std::function<void(const std::vector<sorvane::Event2D>&)>& onBatch);
