// The real main window with the simulated cameras, offscreen, end to end: a camera is picked
// from the list, streams into the view with its statistics, is recorded with the Record button
// and by trigger-in edges, loses its connection, and gives way to a recording or another camera.
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "Utility/svfilerecorder.h"
#include "app/CamerasList.h"
#include "app/ConfigStore.h"
#include "app/MainWidget.h"
#include "processing/SvEventProcessor.h"
#include "widgets/SvFilePathReminderForm.h"
#include "widgets/WaitingWin.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace sorvane;

Q_DECLARE_METATYPE(sorvane::STREAM_TYPE)

namespace {

struct Recording {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    DvsFileInfo info;
};

Recording readBack(const QString& path)
{
    Recording r;
    auto reader = DvsFileReader::createFileReader(path.toStdString());
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader || !reader->loadFile() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return r;
    if (auto events = reader->getEventsByTime(first, last - first + 1))
        r.events = *events;
    r.triggers = reader->getTriggerEvents(0, UINT64_MAX);
    reader->getFileInfo(r.info);
    return r;
}

// The window with the file dialog replaced: the test names the recording to open.
class TestableMainWidget : public MainWidget {
public:
    QString nextRecording;

protected:
    QString chooseRecordingToOpen() override { return nextRecording; }
};

void closeAllTips()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* tip = qobject_cast<SvFilePathReminderForm*>(w))
            tip->close();
}

} // namespace

class TestMainWindowCamera : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;
    std::unique_ptr<TestableMainWidget> window;
    SvEventProcessor* processor = nullptr;

    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(name); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }

    void triggerAction(const QString& text)
    {
        for (QAction* action : window->findChildren<QAction*>())
            if (action->text() == text) {
                action->trigger();
                return;
            }
        QFAIL(qPrintable("no action " + text));
    }

    // "Open Camera", then in the camera list the row of serial and "Open" (or "Close" when
    // serial is empty). Returns once the window has opened it.
    void openCamera(const QString& serial)
    {
        bool answered = false;
        std::function<void()> answer = [&] {
            auto* list = qobject_cast<CamerasList*>(QApplication::activeModalWidget());
            if (!list) {
                QTimer::singleShot(20, answer);
                return;
            }
            auto* rows = list->findChild<QListWidget*>("listWidget_cameras");
            for (int i = 0; i < rows->count(); ++i)
                if (rows->item(i)->text() == serial)
                    rows->setCurrentRow(i);
            QTest::mouseClick(list->findChild<QPushButton*>(serial.isEmpty() ? "pb_close" : "pb_open"), Qt::LeftButton);
            answered = true;
        };
        QTimer::singleShot(20, answer);
        triggerAction("Open Camera");
        QVERIFY(answered);
    }

    QStringList rawFiles(const QString& folder) const
    {
        QStringList files = QDir(folder).entryList({"*.raw"}, QDir::Files, QDir::Name);
        for (QString& f : files)
            f = QDir(folder).filePath(f);
        return files;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        ConfigStore* config = ConfigStore::instance();
        config->outputRawFilePath = dir.path();
        config->inputRawFilePath = dir.path();
        config->triggerInRecEnable = false;
        window = std::make_unique<TestableMainWidget>();
        window->resize(1280, 800);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        processor = window->findChild<SvEventProcessor*>();
        QVERIFY(processor);
    }

    void cleanupTestCase()
    {
        closeAllTips();
        window.reset();
    }

    void init()
    {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        ConfigStore::instance()->outputRawFilePath = dir.path();
    }

    void statisticsText_data()
    {
        QTest::addColumn<quint64>("bandwidth");
        QTest::addColumn<quint64>("eventRate");
        QTest::addColumn<QString>("text");
        QTest::newRow("example") << quint64(3145728) << quint64(2500000) << " Bandwidth: 3.0 MB/s  Events: 2.5 MEv/s ";
        QTest::newRow("nothing") << quint64(0) << quint64(0) << " Bandwidth: 0.0 MB/s  Events: 0.0 MEv/s ";
        QTest::newRow("rounding") << quint64(1100000) << quint64(149999) << " Bandwidth: 1.0 MB/s  Events: 0.1 MEv/s ";
    }

    void statisticsText()
    {
        QFETCH(quint64, bandwidth);
        QFETCH(quint64, eventRate);
        QFETCH(QString, text);
        QCOMPARE(MainWidget::statisticsText(SvStatisticInfo(bandwidth, eventRate)), text);
    }

    void rejectedListChangesNothing()
    {
        const auto before = window->currentSourceMode();
        openCamera(QString());
        QCOMPARE(window->currentSourceMode(), before);
    }

    // Picked from the list, the camera streams into the view, its statistics reach the status
    // bar, and two seconds recorded with the Record button read back.
    void openStreamAndRecord()
    {
        const QString serial = QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4"));
        QSignalSpy images(processor, &SvEventProcessor::signalEventImage);
        openCamera(serial);
        QCOMPARE(window->currentSourceMode(), MainWidget::LiveDvsCamera);
        QTRY_VERIFY(button("pb_play")->isChecked());
        QCOMPARE(label("label_show_camera_info")->text(), serial);
        QVERIFY(!button("pb_next")->isEnabled()); // file controls off for a camera
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 10, 10000);
        QCOMPARE(images.last().at(0).value<QImage>().size(), QSize(1280, 720));
        const QRegularExpression status(R"(^ Bandwidth: (\d+\.\d) MB/s  Events: (\d+\.\d) MEv/s $)");
        QTRY_VERIFY_WITH_TIMEOUT(status.match(label("lb_status_bar")->text()).hasMatch(), 10000);
        const auto match = status.match(label("lb_status_bar")->text());
        const double rate = match.captured(2).toDouble();
        QVERIFY2(rate > 1.5 && rate < 2.5, qPrintable(label("lb_status_bar")->text()));
        QVERIFY(match.captured(1).toDouble() > 3.0);

        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(label("lb_recoding_time")->text(), QString("00:00:01"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(label("lb_recoding_time")->text(), QString("00:00:02"), 5000);
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(!button("pb_record")->isChecked());
        QVERIFY(label("lb_recoding_time")->text().isEmpty());

        const QStringList files = rawFiles(dir.path());
        QCOMPARE(files.size(), 1);
        QVERIFY(QRegularExpression(serial + R"(_\d{8}_\d{6}\.raw$)").match(files.first()).hasMatch());
        const Recording r = readBack(files.first());
        QCOMPARE(r.info.serial, serial.toStdString());
        QVERIFY(r.events.size() > 3000000);
        const uint64_t span = r.events.back().timestamp - r.events.front().timestamp;
        QVERIFY2(span > 1900000 && span < 3500000, qPrintable(QString::number(span)));
        QVERIFY(!r.triggers.empty());

        // Play stops the stream; no image follows.
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QVERIFY(!button("pb_play")->isChecked());
        QTest::qWait(200);
        const int stopped = images.count();
        QTest::qWait(300);
        QCOMPARE(images.count(), stopped);
    }

    void viewerTypeCycles()
    {
        qRegisterMetaType<sorvane::STREAM_TYPE>();
        QSignalSpy types(window.get(), &MainWidget::signalSetViewerShowType);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(button("pb_viewer_type"), Qt::LeftButton);
        QCOMPARE(types.count(), 3);
        // A DVS camera starts at 0: DVS, then APS, fusion and DVS again.
        QCOMPARE(types.at(0).at(0).value<sorvane::STREAM_TYPE>(), STREAM_APS);
        QCOMPARE(types.at(1).at(0).value<sorvane::STREAM_TYPE>(), STREAM_ALL);
        QCOMPARE(types.at(2).at(0).value<sorvane::STREAM_TYPE>(), STREAM_DVS);
        QVERIFY(button("pb_viewer_type")->styleSheet().contains("btn_playbar_DVS"));
    }

    // Pulling the cable ends the polling loop; the Play button stays as it is. Plugged in again,
    // Play off and on streams once more.
    void connectionLossEndsTheLoop()
    {
        const QString serial = QString::fromStdString(SimulatedCameraProvider::serialOf("Vesper"));
        QSignalSpy images(processor, &SvEventProcessor::signalEventImage);
        openCamera(serial);
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 5, 10000);
        QTest::ignoreMessage(QtDebugMsg, "Camera connection lost.");
        SimulatedCameraProvider::setPlugged(serial.toStdString(), false);
        QTest::qWait(500);
        const int after = images.count();
        QTest::qWait(500);
        QCOMPARE(images.count(), after);
        QVERIFY(button("pb_play")->isChecked());

        // Without the cable Play refuses and is released.
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QVERIFY(!button("pb_play")->isChecked());
        QTest::ignoreMessage(QtDebugMsg, "Please connect camera first.");
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QVERIFY(!button("pb_play")->isChecked());

        SimulatedCameraProvider::setPlugged(serial.toStdString(), true);
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QVERIFY(button("pb_play")->isChecked());
        const int resumed = images.count();
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > resumed + 5, 10000);
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
    }

    // Triggers start timed recordings that begin the cached seconds before the edge and last the
    // after time; a trigger during a recording is refused with a warning.
    void triggerInRecording()
    {
        ConfigStore* config = ConfigStore::instance();
        config->triggerInRecEnable = true;
        config->triggerInRecEdgeType = "Rising Edge"; // matches edges of polarity 0
        config->beforeTriggerInSaveTime = 1;
        config->afterTriggerInSaveTime = 2; // longer than the pulse period: the next edge is refused
        QSignalSpy tips(window->triggerInRecorder(), &SvFileRecorder::signalShowLeftBottomTips);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        auto ends = [&] {
            int n = 0;
            for (const auto& tip : tips)
                n += tip.at(0).toString() == "Recording end";
            return n;
        };
        QTRY_VERIFY_WITH_TIMEOUT(ends() >= 2, 20000);
        config->triggerInRecEnable = false;
        window->initDvsCameraSettings(); // disarms: the cache goes, no more triggers are taken
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);

        bool warned = false;
        for (const auto& tip : tips)
            warned = warned || (tip.at(0).toString() == "Currently being recorded." && tip.at(1).value<SvMessageType>() == Warning);
        QVERIFY(warned);

        const QStringList files = rawFiles(dir.path());
        QVERIFY(files.size() >= 2);
        // The second recording started with a full cache: its edge lies at least the second kept
        // before after its first event, and the recording goes on the two seconds after it.
        const Recording r = readBack(files.at(1));
        QVERIFY(!r.events.empty());
        const uint64_t first = r.events.front().timestamp;
        const uint64_t last = r.events.back().timestamp;
        bool found = false;
        for (const EventTriggerIn& t : r.triggers) {
            if (t.polarity != 0 || t.timestamp < first + 950000)
                continue;
            found = true;
            QVERIFY2(last >= t.timestamp + 1950000, qPrintable(QString("edge %1, last %2").arg(t.timestamp).arg(last)));
            break;
        }
        QVERIFY2(found, qPrintable(QString("no edge a second into %1").arg(files.at(1))));
    }

    // Opening a recording while the camera records finishes that recording first and releases
    // the Record button.
    void openingARecordingEndsTheCameraRecording()
    {
        const QString played = dir.filePath("played.raw");
        {
            RawEventWriter writer;
            RawHeaderInfo header;
            QVERIFY(writer.open(played.toStdString(), header));
            std::vector<Event2D> events;
            for (uint64_t t = 0; t < 2000000; t += 100)
                events.emplace_back(uint16_t(t % 1280), uint16_t(t % 720), uint8_t(t % 2), t);
            QVERIFY(writer.write(events.data(), events.data() + events.size()));
            QVERIFY(writer.close());
        }
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTest::qWait(600);
        window->nextRecording = played;
        triggerAction("Open Recording");
        QCOMPARE(window->currentSourceMode(), MainWidget::RawFile);
        QVERIFY(!button("pb_record")->isChecked());
        QVERIFY(label("lb_recoding_time")->text().isEmpty());
        QStringList files = rawFiles(dir.path());
        files.removeAll(played);
        QCOMPARE(files.size(), 1);
        const Recording r = readBack(files.first());
        QVERIFY(r.events.size() > 100000);
        QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<WaitingWin*>()->isVisible(), 20000);
        // The recording plays; pause it for the next case.
        if (button("pb_play")->isChecked())
            QTest::mouseClick(button("pb_play"), Qt::LeftButton);
    }

    void openingAnotherCameraEndsTheRecording()
    {
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTest::qWait(500);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Vesper")));
        QVERIFY(!button("pb_record")->isChecked());
        QTRY_VERIFY(button("pb_play")->isChecked());
        QCOMPARE(label("label_show_camera_info")->text(), QString::fromStdString(SimulatedCameraProvider::serialOf("Vesper")));
        const QStringList files = rawFiles(dir.path());
        QCOMPARE(files.size(), 1);
        QVERIFY(readBack(files.first()).events.size() > 100000);
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
    }

    // The fusion camera opens and streams; its statistics count the frames' bytes too.
    void fusionCameraStreams()
    {
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Tandem")));
        QCOMPARE(window->currentSourceMode(), MainWidget::LiveFusionCamera);
        QTRY_VERIFY(button("pb_play")->isChecked());
        const QRegularExpression status(R"(^ Bandwidth: (\d+\.\d) MB/s  Events: (\d+\.\d) MEv/s $)");
        QTRY_VERIFY_WITH_TIMEOUT(status.match(label("lb_status_bar")->text()).hasMatch()
                                     && status.match(label("lb_status_bar")->text()).captured(1).toDouble() > 100,
                                 10000);
        QVERIFY(button("pb_viewer_type")->styleSheet().contains("btn_playbar_Fusion"));
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTest::qWait(1200);
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(!button("pb_record")->isChecked());
        const QStringList sets = QDir(dir.path()).entryList({"*.json"}, QDir::Files);
        QCOMPARE(sets.size(), 1);
        const QString base = dir.filePath(QFileInfo(sets.first()).completeBaseName());
        QVERIFY(QFileInfo(base + ".mp4").size() > 0);
        const Recording r = readBack(base + ".raw");
        QVERIFY(r.events.size() > 100000);
        QVERIFY(r.info.apsTimeOffset > 0);
        QTest::ignoreMessage(QtDebugMsg, "Fusion camera stop.");
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QVERIFY(!button("pb_play")->isChecked());
    }

    // Closing the window while the camera streams and records leaves a complete file.
    void closingFinishesTheRecording()
    {
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTest::qWait(700);
        closeAllTips();
        window.reset();
        const QStringList files = rawFiles(dir.path());
        QCOMPARE(files.size(), 1);
        const Recording r = readBack(files.first());
        QVERIFY(r.events.size() > 500000);
        // A new window for whatever follows.
        window = std::make_unique<TestableMainWidget>();
        window->show();
        processor = window->findChild<SvEventProcessor*>();
    }
};

QTEST_MAIN(TestMainWindowCamera)
#include "tst_mainwindowcamera.moc"
