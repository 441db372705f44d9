// The simulated cameras as the viewer sees them: enumeration, streaming paced to wall time,
// statistics, trigger inputs, connection loss, the fusion camera's streams.
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"

#include <QDir>
#include <QScopeGuard>
#include <QTest>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

using namespace sorvane;
using namespace std::chrono_literals;

namespace {

uint64_t wallMicros(std::chrono::steady_clock::time_point since)
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - since).count());
}

// Plugs the camera back in when a test leaves, passed or not.
struct PlugGuard {
    std::string serial;
    ~PlugGuard() { SimulatedCameraProvider::setPlugged(serial, true); }
};

} // namespace

class TestSimCameras : public QObject {
    Q_OBJECT
private slots:
    void listsStableCameras_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<bool>("fusion");
        QTest::newRow("Orion4") << "Orion4" << false;
        QTest::newRow("Vesper") << "Vesper" << false;
        QTest::newRow("Tandem") << "Tandem" << true;
    }

    void listsStableCameras()
    {
        QFETCH(QString, product);
        QFETCH(bool, fusion);
        DvsCameraManager first;
        DvsCameraManager second;
        const auto a = first.getCameraDescs();
        const auto b = second.getCameraDescs();
        QCOMPARE(a.size(), b.size());
        std::string serial;
        for (size_t i = 0; i < a.size(); ++i) {
            QCOMPARE(a[i].serial, b[i].serial);
            if (a[i].product == product.toStdString())
                serial = a[i].serial;
        }
        QVERIFY(!serial.empty());
        // It opens only as what it is.
        QCOMPARE(first.openCamera(serial) != nullptr, !fusion);
        QCOMPARE(first.openFusionCamera(serial) != nullptr, fusion);
        QVERIFY(!first.openCamera("no-such-serial"));
        if (!fusion) {
            auto camera = first.openCamera(serial);
            QCOMPARE(camera->getDvsDesc().serial, serial);
            QCOMPARE(camera->getDvsDesc().product, product.toStdString());
        }
    }

    // Each batch holds exactly the events of its interval on the camera clock, batches follow each
    // other without gap, and the camera never gets ahead of the wall clock.
    void batchesFollowCameraTime()
    {
        DvsCameraManager manager;
        auto camera = manager.openCamera(SimulatedCameraProvider::serialOf("Orion4"));
        QVERIFY(camera);
        std::vector<Event2D> events;
        const auto idle = std::chrono::steady_clock::now();
        QVERIFY(!camera->getNextBatch(events)); // not started: nothing, at once
        QVERIFY(std::chrono::steady_clock::now() - idle < 1s);
        const uint64_t batch = 20000;
        camera->setBatchEventsTime(batch);
        const auto wallStart = std::chrono::steady_clock::now();
        QCOMPARE(camera->start(), 0);
        auto* sim = dynamic_cast<SimulatedDvsCamera*>(camera.get());
        QVERIFY(sim);
        uint64_t expectedStart = 0;
        uint64_t total = 0;
        for (int i = 0; i < 15; ++i) {
            QVERIFY(camera->getNextBatch(events));
            QVERIFY(!events.empty());
            QVERIFY(events.front().timestamp >= expectedStart);
            QVERIFY(events.back().timestamp < expectedStart + batch);
            QVERIFY(sim->cameraTime() <= wallMicros(wallStart) + SyntheticScene::TickUs);
            for (size_t k = 1; k < events.size(); ++k)
                QVERIFY(events[k].timestamp >= events[k - 1].timestamp);
            total += events.size();
            expectedStart += batch;
        }
        QVERIFY(total > 100000);
        QCOMPARE(sim->lostEvents(), uint64_t(0));
        camera->stop();
        // A stopped camera answers at once, with nothing.
        const auto t0 = std::chrono::steady_clock::now();
        QVERIFY(!camera->getNextBatch(events));
        QVERIFY(std::chrono::steady_clock::now() - t0 < 1s);
        // Restarting continues the camera clock.
        QCOMPARE(camera->start(), 0);
        QVERIFY(camera->getNextBatch(events));
        QVERIFY(events.front().timestamp >= expectedStart);
        camera->stop();
    }

    void statisticsReportTheDeliveredSecond()
    {
        DvsCameraManager manager;
        auto camera = manager.openCamera(SimulatedCameraProvider::serialOf("Vesper"));
        QVERIFY(camera);
        std::mutex mutex;
        std::vector<SvStatisticInfo> reports;
        camera->setStatisticInfoCallback([&](const SvStatisticInfo& info) {
            std::lock_guard lock(mutex);
            reports.push_back(info);
        });
        camera->setBatchEventsTime(50000);
        QCOMPARE(camera->start(), 0);
        // Stops the camera before the state its callback writes goes away, also on failure.
        const auto stopCamera = qScopeGuard([&] { camera->stop(); });
        std::map<uint64_t, uint64_t> perSecond;
        std::vector<Event2D> events;
        std::vector<Event2D> firstSecond;
        while (true) {
            QVERIFY(camera->getNextBatch(events));
            for (const Event2D& e : events) {
                ++perSecond[e.timestamp / 1000000];
                if (e.timestamp < 1000000)
                    firstSecond.push_back(e);
            }
            if (events.back().timestamp >= 2000000)
                break;
        }
        camera->stop();
        std::lock_guard lock(mutex);
        QVERIFY(reports.size() >= 2);
        for (size_t s = 0; s < 2; ++s)
            QCOMPARE(reports[s].eventRate, perSecond[s]);
        // The scene of this camera runs at 1.2 M events/s; without vector words EVT 3.0 needs
        // from one word an event (a full row read at one time) to three (time, row, column).
        QVERIFY(reports[0].eventRate > 1000000 && reports[0].eventRate < 1400000);
        Evt3SizeCounter counter;
        const uint64_t bytes = counter.add(firstSecond.data(), firstSecond.data() + firstSecond.size());
        QVERIFY(reports[0].bandwidth >= bytes && reports[0].bandwidth < bytes + 100);
        QVERIFY(reports[0].bandwidth >= 2 * reports[0].eventRate && reports[0].bandwidth <= 6 * reports[0].eventRate);
    }

    // Trigger callbacks arrive on the camera's thread, in order, and stop when removed.
    void triggerCallbacks()
    {
        DvsCameraManager manager;
        auto camera = manager.openCamera(SimulatedCameraProvider::serialOf("Orion4"));
        QVERIFY(camera);
        auto tool = camera->getTool(ToolType::TriggerIn);
        QVERIFY(tool->setBoolParameter("channel_1", true));
        std::mutex mutex;
        std::vector<EventTriggerIn> seen;
        std::set<std::thread::id> threads;
        const uint32_t id = camera->addTriggerInCallback([&](EventTriggerIn t) {
            std::lock_guard lock(mutex);
            seen.push_back(t);
            threads.insert(std::this_thread::get_id());
        });
        QCOMPARE(camera->start(), 0);
        const auto stopCamera = qScopeGuard([&] { camera->stop(); });
        std::vector<Event2D> events;
        for (int i = 0; i < 200; ++i)
            if (camera->getNextBatch(events) && events.back().timestamp >= 1200000)
                break;
        QVERIFY(!events.empty() && events.back().timestamp >= 1200000);
        QVERIFY(camera->removeTriggerInCallback(id));
        QVERIFY(!camera->removeTriggerInCallback(id));
        size_t count = 0;
        {
            std::lock_guard lock(mutex);
            count = seen.size();
            QVERIFY(threads.size() == 1 && !threads.count(std::this_thread::get_id()));
            int channel0 = 0;
            for (size_t i = 0; i < seen.size(); ++i) {
                if (i > 0)
                    QVERIFY(seen[i].timestamp >= seen[i - 1].timestamp);
                channel0 += seen[i].id == 0;
            }
            QVERIFY(channel0 >= 2);                    // rising at 0.5 s, falling at 0.6 s
            QVERIFY(seen.size() - size_t(channel0) >= 20); // ten pulses a second on channel 1
        }
        QTest::qWait(300);
        {
            std::lock_guard lock(mutex);
            QCOMPARE(seen.size(), count);
        }
        camera->stop();
    }

    void connectionLoss()
    {
        const std::string serial = SimulatedCameraProvider::serialOf("Orion4");
        PlugGuard guard{serial};
        DvsCameraManager manager;
        auto camera = manager.openCamera(serial);
        QVERIFY(camera);
        QCOMPARE(camera->start(), 0);
        std::vector<Event2D> events;
        QVERIFY(camera->getNextBatch(events));
        SimulatedCameraProvider::setPlugged(serial, false);
        QVERIFY(!camera->isConnected());
        // The stream ends at once: nothing more is delivered.
        QTRY_VERIFY(!camera->getNextBatch(events));
        bool listed = false;
        for (const auto& desc : manager.getCameraDescs())
            listed = listed || desc.serial == serial;
        QVERIFY(!listed);
        QVERIFY(!manager.openCamera(serial));
        QVERIFY(camera->start() != 0);
        QVERIFY(!camera->startRecording(QDir::tempPath().toStdString() + "/never.raw"));
        SimulatedCameraProvider::setPlugged(serial, true);
        QVERIFY(camera->isConnected());
        QCOMPARE(camera->start(), 0);
        QVERIFY(camera->getNextBatch(events));
        camera->stop();
    }

    // One rising sync edge per frame, events cut at the syncs on the sync's thread, frames on
    // their own thread at a steady rate.
    void fusionStreams()
    {
        DvsCameraManager manager;
        auto camera = manager.openFusionCamera(SimulatedCameraProvider::serialOf("Tandem"));
        QVERIFY(camera);
        struct Seen {
            std::mutex mutex;
            std::vector<EventTriggerIn> syncs;
            std::vector<uint64_t> frameTimes;
            std::vector<int> frameSizes;
            uint64_t events = 0;
            uint64_t lastEvent = 0;
            uint64_t lastSync = 0;
            bool orderBroken = false;
            std::set<std::thread::id> streamThreads;
            std::set<std::thread::id> frameThreads;
        } seen;
        camera->addEventsCallback([&](const Event2D* begin, const Event2D* end) {
            std::lock_guard lock(seen.mutex);
            seen.streamThreads.insert(std::this_thread::get_id());
            for (const Event2D* e = begin; e != end; ++e) {
                if (e->timestamp < seen.lastSync || e->timestamp < seen.lastEvent)
                    seen.orderBroken = true;
                seen.lastEvent = e->timestamp;
            }
            seen.events += uint64_t(end - begin);
        });
        camera->addTriggerInCallback([&](EventTriggerIn t) {
            std::lock_guard lock(seen.mutex);
            seen.streamThreads.insert(std::this_thread::get_id());
            if (t.timestamp < seen.lastEvent)
                seen.orderBroken = true;
            if (t.polarity == RisingEdge) {
                seen.syncs.push_back(t);
                seen.lastSync = t.timestamp;
            }
        });
        camera->addApsFrameCallback([&](ApsFrame& frame) {
            std::lock_guard lock(seen.mutex);
            seen.frameThreads.insert(std::this_thread::get_id());
            seen.frameTimes.push_back(frame.getTimestamp());
            seen.frameSizes.push_back(frame.getWidth() * 10000 + frame.getHeight());
        });
        QCOMPARE(camera->start(STREAM_ALL), 0);
        const auto stopCamera = qScopeGuard([&] { camera->stop(STREAM_ALL); });
        QTRY_VERIFY_WITH_TIMEOUT([&] { std::lock_guard lock(seen.mutex); return seen.frameTimes.size() >= 20; }(), 60000);
        camera->stop(STREAM_ALL);
        std::lock_guard lock(seen.mutex);
        QVERIFY(!seen.orderBroken);
        QVERIFY(seen.events > 10000);
        QCOMPARE(seen.streamThreads.size(), size_t(1));
        QCOMPARE(seen.frameThreads.size(), size_t(1));
        QVERIFY(*seen.streamThreads.begin() != *seen.frameThreads.begin());
        // Frame k covers [its timestamp, sync k): the syncs lie on a 33 333 µs beat, and a beat
        // the sensor skipped while still reading out (a slow machine) has neither.
        QVERIFY(seen.syncs.size() >= seen.frameTimes.size());
        for (size_t k = 0; k < seen.frameTimes.size(); ++k) {
            QCOMPARE(seen.frameSizes[k], 1920 * 10000 + 1080);
            QCOMPARE(seen.syncs[k].id, int16_t(0));
            QCOMPARE(seen.syncs[k].timestamp - seen.frameTimes[k], uint64_t(33333));
            if (k > 0) {
                const uint64_t gap = seen.syncs[k].timestamp - seen.syncs[k - 1].timestamp;
                QVERIFY(gap > 0);
                QCOMPARE(gap % 33333, uint64_t(0));
            }
        }
        CalibratorParameters calibration;
        QVERIFY(camera->getCalibratorParameters(calibration));
        QCOMPARE(calibration.dvsWidth, uint16_t(1280));
        QCOMPARE(calibration.apsWidth, uint16_t(1920));
        QCOMPARE(calibration.affineMatrices["1"].data.size(), size_t(6));
        // The mapping sends the DVS centre onto the APS centre.
        const auto& m = calibration.affineMatrices["1"].data;
        QCOMPARE(m[0] * 640 + m[1] * 360 + m[2], 960.0);
        QCOMPARE(m[3] * 640 + m[4] * 360 + m[5], 540.0);
        camera->close();
        QVERIFY(!camera->isConnected());
        QVERIFY(camera->start(STREAM_ALL) != 0);
    }

    void apsExposureAndGainChangeFrames()
    {
        DvsCameraManager manager;
        auto camera = manager.openFusionCamera(SimulatedCameraProvider::serialOf("Tandem"));
        QVERIFY(camera);
        auto aps = camera->getTool(ToolType::Aps);
        QVERIFY(aps);
        std::mutex mutex;
        std::vector<double> means;
        camera->addApsFrameCallback([&](ApsFrame& frame) {
            uint64_t sum = 0;
            const uint8_t* p = frame.data();
            for (size_t i = 1; i < frame.getDataSize(); i += 3 * 97)
                sum += p[i];
            std::lock_guard lock(mutex);
            means.push_back(double(sum) / double(frame.getDataSize() / (3 * 97)));
        });
        auto meanOfNextFrames = [&] {
            {
                std::lock_guard lock(mutex);
                means.clear();
            }
            QTest::qWait(20);
            {
                std::lock_guard lock(mutex);
                means.clear();
            }
            for (int i = 0; i < 200; ++i) {
                QTest::qWait(20);
                std::lock_guard lock(mutex);
                if (means.size() >= 3)
                    return means.back();
            }
            return -1.0;
        };
        QCOMPARE(camera->start(STREAM_ALL), 0);
        const auto stopCamera = qScopeGuard([&] { camera->stop(STREAM_ALL); });
        const double base = meanOfNextFrames();
        QVERIFY(aps->setIntParameter("exposure_time", 5000));
        const double shorter = meanOfNextFrames();
        QVERIFY(aps->setFloatParameter("analog_gain", 4.0f));
        const double brighter = meanOfNextFrames();
        camera->stop(STREAM_ALL);
        QVERIFY2(base > 40 && base < 200, qPrintable(QString::number(base)));
        QVERIFY2(shorter < base * 0.6, qPrintable(QString("%1 -> %2").arg(base).arg(shorter)));
        QVERIFY2(brighter > shorter * 1.8, qPrintable(QString("%1 -> %2").arg(shorter).arg(brighter)));
    }

    // With the frame sync off the sensor pair idles: no syncs and no frames, so nothing is left
    // to pair.
    void fusionSyncInputOff()
    {
        DvsCameraManager manager;
        auto camera = manager.openFusionCamera(SimulatedCameraProvider::serialOf("Tandem"));
        QVERIFY(camera);
        std::atomic<int> frames{0};
        std::atomic<int> syncs{0};
        std::atomic<uint64_t> events{0};
        camera->addApsFrameCallback([&](ApsFrame&) { frames.fetch_add(1); });
        camera->addTriggerInCallback([&](EventTriggerIn) { syncs.fetch_add(1); });
        camera->addEventsCallback([&](const Event2D* b, const Event2D* e) { events.fetch_add(uint64_t(e - b)); });
        QVERIFY(camera->getTool(ToolType::TriggerIn)->setBoolParameter("channel_0", false));
        QCOMPARE(camera->start(STREAM_ALL), 0);
        const auto stopCamera = qScopeGuard([&] { camera->stop(STREAM_ALL); });
        QTRY_VERIFY(events.load() > 100000);
        camera->stop(STREAM_ALL);
        QCOMPARE(frames.load(), 0);
        QCOMPARE(syncs.load(), 0);
    }
};

QTEST_APPLESS_MAIN(TestSimCameras)
#include "tst_simcameras.moc"
