// SvFileRecorder with a simulated camera: timed recordings, refused triggers, early stops; and
// with a camera whose file takes long to finish, that nobody waits for it but the recorder.
#include "TipRelay.h"
#include "Utility/svfilerecorder.h"

#include "app/ConfigStore.h"
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace sorvane;

namespace {

// A camera that records nothing; its stopRecording, which finishes the file, takes until the
// test lets it go.
class SlowFinishCamera : public DvsCamera {
public:
    SlowFinishCamera() : DvsCamera({"SLOW1", "Slow"}, {}) {}

    bool isConnected() override { return true; }
    uint32_t addTriggerInCallback(TriggerInCallback) override { return 0; }
    bool removeTriggerInCallback(uint32_t) override { return false; }
    bool getNextBatch(std::vector<Event2D>&) override { return false; }
    void setBatchEventsTime(uint64_t) override {}
    int start() override { return 0; }
    void stop() override {}
    bool startRecording(const std::string&) override { return begin(std::nullopt); }
    bool startRecordingFrom(const std::string&, uint64_t cameraTime) override { return begin(cameraTime); }
    bool setRecordCacheTime(uint16_t, const std::string&) override { return true; }
    void setStatisticInfoCallback(StatisticInfoCallback) override {}

    bool stopRecording() override
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [this] { return released; });
        finished = true;
        return true;
    }

    void release()
    {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        changed.notify_all();
    }
    bool hasStarted()
    {
        std::lock_guard lock(mutex);
        return started;
    }
    bool hasFinished()
    {
        std::lock_guard lock(mutex);
        return finished;
    }
    std::optional<uint64_t> startedFrom()
    {
        std::lock_guard lock(mutex);
        return from;
    }

private:
    bool begin(std::optional<uint64_t> cameraTime)
    {
        std::lock_guard lock(mutex);
        started = true;
        from = cameraTime;
        return true;
    }

    // Guards every field below between the recorder's worker and the test.
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool released = false;
    bool finished = false;
    std::optional<uint64_t> from;
};

} // namespace

class TestFileRecorder : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    std::shared_ptr<DvsCamera> camera;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        registerSvMetaTypes();
        QVERIFY(dir.isValid());
        DvsCameraManager manager;
        camera = manager.openCamera(SimulatedCameraProvider::serialOf("Orion4"));
        QVERIFY(camera);
        QCOMPARE(camera->start(), 0);
    }

    void cleanupTestCase()
    {
        camera->stop();
        camera.reset();
    }

    void refusedWithoutTip_data()
    {
        QTest::addColumn<bool>("withCamera");
        QTest::addColumn<bool>("plugged");
        QTest::addColumn<uint>("seconds");
        QTest::newRow("no camera") << false << true << 2u;
        QTest::newRow("zero seconds") << true << true << 0u;
        QTest::newRow("disconnected") << true << false << 2u;
    }

    void refusedWithoutTip()
    {
        QFETCH(bool, withCamera);
        QFETCH(bool, plugged);
        QFETCH(uint, seconds);
        const std::string serial = camera->getDvsDesc().serial;
        SvFileRecorder recorder(withCamera ? camera : nullptr);
        // A refusal starts no worker: anything said is said at once, on this thread.
        QSignalSpy tips(&recorder, &SvFileRecorder::signalShowLeftBottomTips);
        SimulatedCameraProvider::setPlugged(serial, plugged);
        const QString path = dir.filePath("refused.raw");
        const bool started = recorder.recordingTime(seconds, path);
        SimulatedCameraProvider::setPlugged(serial, true);
        QVERIFY(!started);
        QVERIFY(!recorder.recording());
        QCOMPARE(tips.count(), 0);
        QVERIFY(!QFileInfo::exists(path));
    }

    // A timed recording runs at least its seconds and at most one 500 ms step more, then says so;
    // a second trigger meanwhile is refused with a warning and makes no file.
    void timedRecordingAndSecondTrigger()
    {
        SvFileRecorder recorder(camera);
        TipRelay relay(&recorder);
        QSignalSpy tips(&relay, &TipRelay::tip);
        const QString path = dir.filePath("timed.raw");
        const QString second = dir.filePath("second.raw");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(recorder.recordingTime(1, path));
        QVERIFY(recorder.recording());
        QVERIFY(!recorder.recordingTime(1, second));
        QTRY_COMPARE(tips.count(), 2);
        QCOMPARE(tips.at(0).at(0).toString(), QString("Recording file ... "));
        QCOMPARE(tips.at(0).at(1).value<SvMessageType>(), Success);
        QCOMPARE(tips.at(0).at(2).toString(), path);
        QCOMPARE(tips.at(1).at(0).toString(), QString("Currently being recorded."));
        QCOMPARE(tips.at(1).at(1).value<SvMessageType>(), Warning);
        QCOMPARE(tips.at(1).at(2).toString(), second);

        QTRY_VERIFY_WITH_TIMEOUT(tipIndex(tips, "Recording end") >= 0, 10000);
        QVERIFY(clock.elapsed() >= 1000);
        const QList<QVariant> end = tips.at(tipIndex(tips, "Recording end"));
        QCOMPARE(end.at(1).value<SvMessageType>(), Success);
        QVERIFY(end.at(2).toString().isEmpty());
        QTRY_VERIFY(!recorder.recording());
        QVERIFY(QFileInfo(path).size() > 1000);
        QVERIFY(!QFileInfo::exists(second));

        // Once it has ended, the same recorder records again.
        const QString then = dir.filePath("then.raw");
        QVERIFY(recorder.recordingTime(1, then));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.recording(), 10000);
        QTRY_COMPARE(int(std::count_if(tips.begin(), tips.end(),
                                       [](const auto& tip) { return tip.at(0).toString() == "Recording end"; })),
                     2);
        QVERIFY(QFileInfo(then).size() > 1000);
    }

    // A recording started by hand, or a long timed one, runs until it is stopped; a second start
    // meanwhile is refused. Stopped, it says it ended.
    void stopEndsTheRecording_data()
    {
        QTest::addColumn<bool>("byHand");
        QTest::newRow("started by hand") << true;
        QTest::newRow("timed for 30 s") << false;
    }

    void stopEndsTheRecording()
    {
        QFETCH(bool, byHand);
        SvFileRecorder recorder(camera);
        TipRelay relay(&recorder);
        QSignalSpy tips(&relay, &TipRelay::tip);
        const QString path = dir.filePath(byHand ? "by-hand.raw" : "stopped.raw");
        QVERIFY(byHand ? recorder.startRecording(path) : recorder.recordingTime(30, path));
        QVERIFY(!recorder.startRecording(dir.filePath("second.raw")));
        QVERIFY(!recorder.recordingTime(1, dir.filePath("second.raw")));
        QTest::qWait(500);
        QVERIFY(recorder.recording());
        QVERIFY(recorder.stopRecording());
        QTRY_VERIFY_WITH_TIMEOUT(tipIndex(tips, "Recording end") >= 0, 10000);
        QTRY_VERIFY(!recorder.recording());
        QVERIFY(!recorder.stopRecording());
        QVERIFY(QFileInfo(path).size() > 1000);
        QVERIFY(!QFile::exists(dir.filePath("second.raw")));
        SvFileRecorder without(nullptr);
        QVERIFY(!without.startRecording(dir.filePath("none.raw")));
    }

    // Stopping hands the file's end to the worker: the caller goes on at once, the recorder
    // counts as recording until the file is complete, and only then says it ended. The camera
    // is asked for the file to begin where the caller said, or with its whole cache.
    void stopDoesNotWaitForTheFile_data()
    {
        QTest::addColumn<bool>("withStart");
        QTest::newRow("from a camera time") << true;
        QTest::newRow("with the whole cache") << false;
    }

    void stopDoesNotWaitForTheFile()
    {
        QFETCH(bool, withStart);
        auto slow = std::make_shared<SlowFinishCamera>();
        SvFileRecorder recorder(slow);
        TipRelay relay(&recorder);
        QSignalSpy tips(&relay, &TipRelay::tip);
        const std::optional<uint64_t> from = withStart ? std::optional<uint64_t>(4321000) : std::nullopt;
        QVERIFY(recorder.recordingTime(30, dir.filePath("slow.raw"), from));
        QTRY_VERIFY(slow->hasStarted());
        QCOMPARE(slow->startedFrom(), from);
        QVERIFY(recorder.stopRecording());
        QVERIFY(!slow->hasFinished());
        QTest::qWait(200);
        QVERIFY(recorder.recording());
        QCOMPARE(tipIndex(tips, "Recording end"), -1);
        QVERIFY(!recorder.recordingTime(1, dir.filePath("meanwhile.raw")));
        slow->release();
        QTRY_VERIFY(!recorder.recording());
        QVERIFY(slow->hasFinished());
        QTRY_VERIFY(tipIndex(tips, "Recording end") >= 0);
    }

    void destroyingStopsTheWorker()
    {
        QElapsedTimer clock;
        clock.start();
        {
            SvFileRecorder recorder(camera);
            QVERIFY(recorder.recordingTime(30, dir.filePath("abandoned.raw")));
            QTest::qWait(100);
        }
        QVERIFY(clock.elapsed() < 30000);
        // The camera is free for the next recording.
        SvFileRecorder next(camera);
        QVERIFY(next.recordingTime(1, dir.filePath("after.raw")));
        QTRY_VERIFY_WITH_TIMEOUT(!next.recording(), 10000);
        QVERIFY(QFileInfo(dir.filePath("after.raw")).size() > 1000);
    }

    // A camera that cannot create the file: the recorder says it failed instead of pretending.
    void unwritableFolderIsReported()
    {
        SvFileRecorder recorder(camera);
        TipRelay relay(&recorder);
        QSignalSpy tips(&relay, &TipRelay::tip);
        const QString path = dir.filePath("missing/folder/x.raw");
        QVERIFY(recorder.recordingTime(2, path));
        QTRY_VERIFY_WITH_TIMEOUT(tipIndex(tips, "Recording failed.") >= 0, 5000);
        const QList<QVariant> failed = tips.at(tipIndex(tips, "Recording failed."));
        QCOMPARE(failed.at(1).value<SvMessageType>(), Error);
        QTRY_VERIFY(!recorder.recording());
        // A tip is said before the recorder counts as idle: whatever was said has arrived now.
        QCoreApplication::processEvents();
        QCOMPARE(tipIndex(tips, "Recording end"), -1);
    }
};

QTEST_MAIN(TestFileRecorder)
#include "tst_filerecorder.moc"
