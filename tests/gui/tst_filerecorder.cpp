// SvFileRecorder with a simulated camera: timed recordings, refused triggers, early stops.
#include "Utility/svfilerecorder.h"

#include "app/ConfigStore.h"
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace sorvane;

namespace {

// Index of the first tip with this text, or -1.
int tipIndex(const QSignalSpy& spy, const QString& text)
{
    for (int i = 0; i < spy.count(); ++i)
        if (spy.at(i).at(0).toString() == text)
            return i;
    return -1;
}

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
        QSignalSpy tips(&recorder, &SvFileRecorder::signalShowLeftBottomTips);
        const QString path = dir.filePath("timed.raw");
        const QString second = dir.filePath("second.raw");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(recorder.recordingTime(1, path));
        QVERIFY(recorder.recording());
        QVERIFY(!recorder.recordingTime(1, second));
        QCOMPARE(tips.count(), 2);
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
    }

    void twoRecordingsInARow()
    {
        SvFileRecorder recorder(camera);
        QSignalSpy tips(&recorder, &SvFileRecorder::signalShowLeftBottomTips);
        QVERIFY(recorder.recordingTime(1, dir.filePath("first.raw")));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.recording(), 10000);
        QVERIFY(recorder.recordingTime(1, dir.filePath("then.raw")));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.recording(), 10000);
        int ends = 0;
        for (const auto& tip : tips)
            ends += tip.at(0).toString() == "Recording end";
        QCOMPARE(ends, 2);
        QVERIFY(QFileInfo(dir.filePath("first.raw")).size() > 1000);
        QVERIFY(QFileInfo(dir.filePath("then.raw")).size() > 1000);
    }

    void stopEndsATimedRecordingEarly()
    {
        SvFileRecorder recorder(camera);
        QSignalSpy tips(&recorder, &SvFileRecorder::signalShowLeftBottomTips);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(recorder.recordingTime(30, dir.filePath("long.raw")));
        QTest::qWait(200);
        QVERIFY(recorder.stopRecording());
        QVERIFY(!recorder.recording());
        QTRY_VERIFY_WITH_TIMEOUT(tipIndex(tips, "Recording end") >= 0, 10000);
        QVERIFY(clock.elapsed() < 30000);
        QVERIFY(!recorder.stopRecording());
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
        QVERIFY(next.startRecording(dir.filePath("after.raw")));
        QVERIFY(next.stopRecording());
    }

    // A camera that cannot create the file: the recorder says it failed instead of pretending.
    void unwritableFolderIsReported()
    {
        SvFileRecorder recorder(camera);
        QSignalSpy tips(&recorder, &SvFileRecorder::signalShowLeftBottomTips);
        const QString path = dir.filePath("missing/folder/x.raw");
        QVERIFY(recorder.recordingTime(2, path));
        QTRY_VERIFY_WITH_TIMEOUT(tipIndex(tips, "Recording failed.") >= 0, 5000);
        const QList<QVariant> failed = tips.at(tipIndex(tips, "Recording failed."));
        QCOMPARE(failed.at(1).value<SvMessageType>(), Error);
        QTRY_VERIFY(!recorder.recording());
        QCOMPARE(tipIndex(tips, "Recording end"), -1);
        QVERIFY(!recorder.startRecording(path));
        QVERIFY(!recorder.recording());
    }

    void startAndStopByHand()
    {
        SvFileRecorder none(nullptr);
        QVERIFY(!none.startRecording(dir.filePath("none.raw")));
        QVERIFY(!none.stopRecording());
        none.setCacheTime(3); // nothing to tell

        SvFileRecorder recorder(camera);
        const QString path = dir.filePath("byhand.raw");
        QVERIFY(recorder.startRecording(path));
        QVERIFY(!recorder.startRecording(dir.filePath("twice.raw")));
        QTest::qWait(300);
        QVERIFY(recorder.stopRecording());
        QVERIFY(!recorder.stopRecording());
        QVERIFY(QFileInfo(path).size() > 1000);
        QVERIFY(!QFileInfo::exists(dir.filePath("twice.raw")));
    }
};

QTEST_MAIN(TestFileRecorder)
#include "tst_filerecorder.moc"
