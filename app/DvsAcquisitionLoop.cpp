#include "app/DvsAcquisitionLoop.h"

#include <QDebug>

#include <chrono>
#include <thread>

void runDvsAcquisitionLoop(sorvane::DvsCamera& camera, std::atomic<bool>& streaming, DvsAcquisitionState& state,
                           const std::function<void(const std::vector<sorvane::Event2D>&)>& onBatch)
{
    using Clock = std::chrono::steady_clock;
    const uint32_t rate = state.displayRate > 0 ? state.displayRate : 1;
    while (streaming.load()) {
        const auto t0 = Clock::now();
        if (camera.getNextBatch(state.eventBatch) && !state.eventBatch.empty()) {
            onBatch(state.eventBatch);
            state.lastEventTimestamp = state.eventBatch.back().timestamp;
        }
        // One batch per period at most, the handling included: a fixed sleep on top of it would
        // let the loop fall behind the camera as soon as counting a batch takes a few ms.
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
        const int64_t remaining = int64_t(1000000 / rate) - int64_t(elapsed);
        if (remaining > 0 && streaming.load())
            std::this_thread::sleep_for(std::chrono::microseconds(remaining));
        if (!camera.isConnected()) {
            qDebug() << "Camera connection lost.";
            streaming.store(false);
        }
    }
}
