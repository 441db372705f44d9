// The DVS polling loop with a simulated camera: batches arrive in order, connection loss ends it.
#include "app/DvsAcquisitionLoop.h"

#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"

#include <QStandardPaths>
#include <QScopeGuard>
#include <QTest>

#include <mutex>
#include <thread>

using namespace sorvane;

class TestAcquisition : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void batchesFollowEachOther()
    {
        DvsCameraManager manager;
        auto camera = manager.openCamera(SimulatedCameraProvider::serialOf("Vesper"));
        QVERIFY(camera);
        camera->setBatchEventsTime(33333);
        QCOMPARE(camera->start(), 0);
        std::atomic<bool> streaming{true};
        DvsAcquisitionState state;
        std::mutex mutex;
        std::vector<std::pair<uint64_t, uint64_t>> batches; // first, last timestamp
        std::thread loop([&] {
            runDvsAcquisitionLoop(*camera, streaming, state, [&](const std::vector<Event2D>& batch) {
                std::lock_guard lock(mutex);
                batches.emplace_back(batch.front().timestamp, batch.back().timestamp);
            });
        });
        const auto stopLoop = qScopeGuard([&] {
            streaming.store(false);
            if (loop.joinable())
                loop.join();
            camera->stop();
        });
        QTRY_VERIFY_WITH_TIMEOUT([&] { std::lock_guard lock(mutex); return batches.size() >= 10; }(), 10000);
        streaming.store(false);
        loop.join();
        camera->stop();
        std::lock_guard lock(mutex);
        for (size_t i = 0; i < batches.size(); ++i) {
            // Batch k holds [k * 33 333, (k + 1) * 33 333).
            QCOMPARE(batches[i].first / 33333, uint64_t(i));
            QCOMPARE(batches[i].second / 33333, uint64_t(i));
        }
        QCOMPARE(state.lastEventTimestamp, batches.back().second);
        QCOMPARE(dynamic_cast<SimulatedDvsCamera&>(*camera).lostEvents(), uint64_t(0));
    }

    void connectionLossEndsTheLoop()
    {
        const std::string serial = SimulatedCameraProvider::serialOf("Orion4");
        DvsCameraManager manager;
        auto camera = manager.openCamera(serial);
        QVERIFY(camera);
        QCOMPARE(camera->start(), 0);
        std::atomic<bool> streaming{true};
        std::atomic<int> batches{0};
        std::atomic<bool> ended{false};
        DvsAcquisitionState state;
        std::thread loop([&] {
            runDvsAcquisitionLoop(*camera, streaming, state, [&](const std::vector<Event2D>&) { batches.fetch_add(1); });
            ended.store(true);
        });
        const auto stopLoop = qScopeGuard([&] {
            streaming.store(false);
            if (loop.joinable())
                loop.join();
            SimulatedCameraProvider::setPlugged(serial, true);
            camera->stop();
        });
        QTRY_VERIFY_WITH_TIMEOUT(batches.load() >= 3, 10000);
        QTest::ignoreMessage(QtDebugMsg, "Camera connection lost.");
        SimulatedCameraProvider::setPlugged(serial, false);
        QTRY_VERIFY_WITH_TIMEOUT(ended.load(), 10000);
        QVERIFY(!streaming.load());
    }
};

QTEST_GUILESS_MAIN(TestAcquisition)
#include "tst_acquisition.moc"
