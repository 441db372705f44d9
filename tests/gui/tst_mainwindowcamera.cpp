// The real main window with the simulated cameras, offscreen, end to end: a camera is picked
// from the list, streams into the view with its statistics, is recorded with the Record button
// and by trigger-in edges, loses its connection, and gives way to a recording or another camera.
#include "TestHome.h"
#include "WindowTestKit.h"
#include "ProcessorRelay.h"
#include "TipRelay.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "SorvaneDriver/Video/ApsFileReader.h"
#include "Utility/SvCutRawFile.h"
#include "Utility/SvExportVideoUI.h"
#include "Utility/svfilerecorder.h"
#include "app/ConfigStore.h"
#include "app/RecordingNames.h"
#include "processing/SvEventProcessor.h"
#include "processing/SvFusionCameraDataProcessor.h"
#include "processing/ShowImageForm.h"
#include "processing/SvGraphicsView.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"
#include "settings/SidebarApsSettingUI.h"
#include "settings/SidebarDvsSettingUI.h"
#include "widgets/SvEventRateStrip.h"
#include "widgets/WaitingWin.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <numeric>
#include <thread>

using namespace sorvane;

Q_DECLARE_METATYPE(sorvane::STREAM_TYPE)

namespace {

// The images a fusion processor shows, watched on the test's thread.
struct ImageLog {
    QObject receiver;
    int count = 0;
    QImage last;

    explicit ImageLog(SvFusionCameraDataProcessor* processor)
    {
        QObject::connect(processor, &SvFusionCameraDataProcessor::signalFusionImage, &receiver,
                         [this](const QImage& image) {
                             ++count;
                             last = image;
                         }, Qt::QueuedConnection);
    }
    double share(const std::function<bool(QRgb)>& test) const
    {
        int hits = 0;
        for (int y = 0; y < last.height(); y += 4)
            for (int x = 0; x < last.width(); x += 4)
                hits += test(last.pixel(x, y) | 0xFF000000);
        return double(hits) / double((last.height() / 4) * (last.width() / 4));
    }
    // Share of pixels in the event colours, or in the background colour.
    double eventShare() const
    {
        const QRgb positive = ConfigStore::instance()->positiveColor.rgb();
        const QRgb negative = ConfigStore::instance()->negativeColor.rgb();
        return share([&](QRgb p) { return p == positive || p == negative; });
    }
    double backgroundShare() const
    {
        const QRgb background = ConfigStore::instance()->backgroundColor.rgb();
        return share([&](QRgb p) { return p == background; });
    }
    // A row of the last image, to tell frames apart.
    QByteArray backgroundSample() const
    {
        return last.isNull() ? QByteArray()
                             : QByteArray(reinterpret_cast<const char*>(last.constScanLine(360)), last.bytesPerLine());
    }
};

// Blocks the GUI thread, as a slow paint or a busy disk would: what the cameras send meanwhile
// waits in the event queue.
void stallGuiThread(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

// The video of a fusion set holds frames.
bool hasFrames(const QString& base)
{
    auto video = ApsFileReader::createFileReader((base + ".mp4").toStdString());
    std::vector<uint64_t> stamps;
    return video && video->getFrameTimestamps(stamps) && !stamps.empty();
}

void writeSmallRecording(const QString& path)
{
    RawEventWriter writer;
    RawHeaderInfo header;
    QVERIFY(writer.open(path.toStdString(), header));
    std::vector<Event2D> events;
    for (uint64_t t = 0; t < 2000000; t += 2)
        events.emplace_back(uint16_t(t % 1280), uint16_t(t % 720), uint8_t(t % 2), t);
    QVERIFY(writer.write(events.data(), events.data() + events.size()));
    QVERIFY(writer.close());
}

} // namespace

class TestMainWindowCamera : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    QTemporaryDir dir;
    std::unique_ptr<TestableMainWidget> window;
    SvEventProcessor* processor = nullptr;

    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(name); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }

    void triggerAction(const QString& text) { window->action(text)->trigger(); }
    void openCamera(const QString& serial) { QVERIFY(pickCamera(*window, serial)); }

    // Ends the Record-button recording with a click: until its files are complete the button is
    // disabled and no tip tells the outcome; then it is enabled and the tip says it is saved.
    void stopRecordingAndWaitForTheFiles()
    {
        QSignalSpy tips(window.get(), &MainWidget::signalShowLeftBottomTips);
        button("pb_record")->click();
        QVERIFY(!button("pb_record")->isChecked());
        QVERIFY(label("lb_recoding_time")->text().isEmpty());
        QVERIFY(!button("pb_record")->isEnabled());
        QCOMPARE(tips.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(button("pb_record")->isEnabled(), 20000);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.first().at(0).toString(), QString("Save file success!"));
    }

    // Trigger-in on, a timed recording of `after` seconds starting `before` seconds ahead of each
    // edge of the given kind.
    static void armTriggerIn(const QString& edge, uint32_t before, uint32_t after)
    {
        ConfigStore* config = ConfigStore::instance();
        config->triggerInRecEnable = true;
        config->triggerInRecEdgeType = edge;
        config->beforeTriggerInSaveTime = before;
        config->afterTriggerInSaveTime = after;
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
        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
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
        // The strip under the slider follows the stream.
        auto* strip = window->findChild<SvEventRateStrip*>();
        QTRY_VERIFY(strip->isLive() && !strip->columns().isEmpty());
        const QList<double> columns = strip->columns();
        QVERIFY(std::accumulate(columns.begin(), columns.end(), 0.0) > 0);

        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(label("lb_recoding_time")->text(), QString("00:00:01"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(label("lb_recoding_time")->text(), QString("00:00:02"), 5000);
        stopRecordingAndWaitForTheFiles();

        const QStringList files = rawFiles(dir.path());
        QCOMPARE(files.size(), 1);
        QVERIFY(QRegularExpression(serial + R"(_\d{8}_\d{6}\.raw$)").match(files.first()).hasMatch());
        const ReadBack r = readBack(files.first());
        QCOMPARE(r.info.serial, serial.toStdString());
        QVERIFY(r.events.size() > 3000000);
        const uint64_t span = r.events.back().timestamp - r.events.front().timestamp;
        QVERIFY2(span > 1900000 && span < 3500000, qPrintable(QString::number(span)));
        QVERIFY(!r.triggers.empty());

        // Play stops the stream; no image follows (a frame committed before may still be painted).
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QVERIFY(!button("pb_play")->isChecked());
        QTest::qWait(1000);
        const int stopped = images.count();
        QTest::qWait(300);
        QCOMPARE(images.count(), stopped);
    }

    // The viewer type switches only where there are frames: from
    // fusion to DVS, APS and fusion again.
    void viewerTypeFollowsTheSource_data()
    {
        QTest::addColumn<QString>("camera");
        QTest::addColumn<bool>("switchable");
        QTest::newRow("event camera") << "Orion4" << false;
        QTest::newRow("event recording") << "" << false;
        QTest::newRow("fusion camera") << "Tandem" << true;
    }

    void viewerTypeFollowsTheSource()
    {
        QFETCH(QString, camera);
        QFETCH(bool, switchable);
        qRegisterMetaType<sorvane::STREAM_TYPE>();
        if (camera.isEmpty()) {
            window->nextRecording = dir.filePath("events.raw");
            writeSmallRecording(window->nextRecording);
            triggerAction("Open Recording");
        } else {
            openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf(camera.toStdString())));
        }
        QCOMPARE(button("pb_viewer_type")->isEnabled(), switchable);
        if (!switchable)
            return;
        QSignalSpy types(window.get(), &MainWidget::signalSetViewerShowType);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(button("pb_viewer_type"), Qt::LeftButton);
        QCOMPARE(types.count(), 3);
        QCOMPARE(types.at(0).at(0).value<sorvane::STREAM_TYPE>(), STREAM_DVS);
        QCOMPARE(types.at(1).at(0).value<sorvane::STREAM_TYPE>(), STREAM_APS);
        QCOMPARE(types.at(2).at(0).value<sorvane::STREAM_TYPE>(), STREAM_ALL);
    }

    // A region marked on a live camera's image becomes its ROI, and the ROI rows follow.
    void markedRegionBecomesTheCameraRoi()
    {
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        auto* view = window->findChild<ShowImageForm*>()->view();
        emit view->regionChanged(QRect(QPoint(600, 400), QPoint(700, 500)));
        QMap<QString, double> rows;
        bool enabled = false;
        for (SettingItemBox* box : window->findChild<SidebarDvsSettingUI*>()->groups()) {
            if (box->title() != "ROI")
                continue;
            for (auto* row : box->findChildren<SettingBaseWithLineEdit*>())
                rows[QString::fromStdString(row->parameterName())] = row->value();
            for (auto* row : box->findChildren<SettingBaseWithSwitchButton*>())
                enabled = row->isChecked();
        }
        QCOMPARE(rows, (QMap<QString, double>{{"roi_x0", 600}, {"roi_y0", 400}, {"roi_x1", 700}, {"roi_y1", 500}}));
        QVERIFY(enabled);
        emit view->regionChanged(QRect());
        for (SettingItemBox* box : window->findChild<SidebarDvsSettingUI*>()->groups())
            for (auto* row : box->findChildren<SettingBaseWithSwitchButton*>())
                if (box->title() == "ROI")
                    QVERIFY(!row->isChecked());
    }

    // An event camera opened after a fusion camera has no frame sensor to edit.
    void eventCameraAfterFusionCameraLeavesNoApsSettings()
    {
        auto* aps = window->findChild<SidebarApsSettingUI*>();
        QVERIFY(aps);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Tandem")));
        QCOMPARE(aps->groups().size(), 1);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QVERIFY(aps->groups().isEmpty());
    }

    // Pulling the cable ends the polling loop; the Play button stays as it is. Plugged in again,
    // Play off and on streams once more.
    void connectionLossEndsTheLoop()
    {
        const QString serial = QString::fromStdString(SimulatedCameraProvider::serialOf("Vesper"));
        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
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

    // A recording begins its kept seconds before the edge of the kind asked for, on the camera's
    // clock, however late the window handles the edge; edges while it runs are refused with a
    // warning. The simulated input goes high at x.5 s and low at x.6 s of camera time.
    void triggerRecordingStartsBeforeTheEdge_data()
    {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<int>("polarity");
        QTest::addColumn<quint64>("phase");
        QTest::newRow("rising") << "Rising Edge" << 0 << quint64(500000);
        QTest::newRow("falling") << "Falling Edge" << 1 << quint64(600000);
    }

    void triggerRecordingStartsBeforeTheEdge()
    {
        QFETCH(QString, edge);
        QFETCH(int, polarity);
        QFETCH(quint64, phase);
        armTriggerIn(edge, 1, 1);
        SvFileRecorder* recorder = window->triggerInRecorder();
        TipRelay relay(recorder);
        QSignalSpy tips(&relay, &TipRelay::tip);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        // The first edge comes before a second of stream is there to keep: let its recording
        // pass, then stall while the recorder is idle, so the next edge is handled late.
        QTRY_VERIFY_WITH_TIMEOUT(tipIndex(tips, "Recording end") >= 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!recorder->recording(), 10000);
        // Tips said before the recorder went idle (its end, an edge refused just before it) may
        // still wait in the queue: in before the count.
        QCoreApplication::processEvents();
        const int stalled = tips.count();
        stallGuiThread(std::chrono::milliseconds(2500));
        auto stalledRecording = [&] { return tipIndex(tips, "Recording file ... ", stalled); };
        QTRY_VERIFY_WITH_TIMEOUT(stalledRecording() >= 0 && tipIndex(tips, "Recording end", stalledRecording()) >= 0, 20000);
        ConfigStore::instance()->triggerInRecEnable = false;
        window->initDvsCameraSettings();
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!recorder->recording(), 10000);

        // The oldest edge of the stall started the recording (or an edge handled while the tips
        // above came in); the later ones were refused.
        const int started = stalledRecording();
        QVERIFY(started <= stalled + 1);
        const int refused = tipIndex(tips, "Currently being recorded.", started);
        QVERIFY(refused > started);
        QCOMPARE(tips.at(refused).at(1).value<SvMessageType>(), Warning);

        const ReadBack r = readBack(tips.at(started).at(2).toString());
        QVERIFY(!r.events.empty());
        const uint64_t first = r.events.front().timestamp;
        const uint64_t last = r.events.back().timestamp;
        const EventTriggerIn* cause = nullptr;
        for (const EventTriggerIn& t : r.triggers)
            if (t.id == 0 && t.timestamp + 1000 >= first + 1000000) {
                cause = &t;
                break;
            }
        QVERIFY2(cause, "no edge a second into the recording");
        QVERIFY2(cause->timestamp <= first + 1000000,
                 qPrintable(QString("first event %1, edge %2").arg(first).arg(cause->timestamp)));
        QCOMPARE(int(cause->polarity), polarity);
        QCOMPARE(cause->timestamp % 1000000, phase);
        QVERIFY(last >= cause->timestamp + 1000000);
    }

    // An edge still waiting to be handled when trigger-in is disarmed, Play is stopped or the
    // source changes records nothing; the recorder lets go of the camera with its source.
    void pendingTriggerIsDropped_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("disarmed") << "disarm";
        QTest::newRow("Play stopped") << "stop";
        QTest::newRow("recording opened") << "open";
    }

    void pendingTriggerIsDropped()
    {
        QFETCH(QString, action);
        const QString played = dir.filePath("played.raw");
        writeSmallRecording(played);
        armTriggerIn("Rising Edge", 1, 1);
        SvFileRecorder* recorder = window->triggerInRecorder();
        TipRelay relay(recorder);
        QSignalSpy tips(&relay, &TipRelay::tip);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!recorder->recording(), 10000);
        const int stalled = tips.count();
        const QStringList before = rawFiles(dir.path());
        // A rising edge comes once a second: at least one waits when the stall ends.
        stallGuiThread(std::chrono::milliseconds(1500));
        if (action == "disarm") {
            ConfigStore::instance()->triggerInRecEnable = false;
            window->initDvsCameraSettings();
        } else if (action == "stop") {
            button("pb_play")->click();
        } else {
            window->nextRecording = played;
            triggerAction("Open Recording");
            QCOMPARE(window->currentSourceMode(), MainWidget::RawFile);
        }
        QTest::qWait(1500);
        QCOMPARE(tipIndex(tips, "Recording file ... ", stalled), -1);
        QCOMPARE(rawFiles(dir.path()), before);
        if (action == "open")
            QVERIFY(!recorder->recordingTime(1, dir.filePath("late.raw")));
        ConfigStore::instance()->triggerInRecEnable = false;
        QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<WaitingWin*>()->isVisible(), 20000);
        if (button("pb_play")->isChecked())
            QTest::mouseClick(button("pb_play"), Qt::LeftButton);
    }

    // Opening a recording or another camera while the camera records, or closing the window,
    // finishes that recording first and releases the Record button.
    void anotherSourceEndsTheRecording_data()
    {
        QTest::addColumn<QString>("next");
        QTest::newRow("a recording") << "recording";
        QTest::newRow("another camera") << "camera";
        QTest::newRow("the window closed") << "closed";
    }

    void anotherSourceEndsTheRecording()
    {
        QFETCH(QString, next);
        const QString played = dir.filePath("played.raw");
        writeSmallRecording(played);
        openCamera(QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4")));
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTest::qWait(600);
        const QString vesper = QString::fromStdString(SimulatedCameraProvider::serialOf("Vesper"));
        if (next == "recording") {
            window->nextRecording = played;
            triggerAction("Open Recording");
            QCOMPARE(window->currentSourceMode(), MainWidget::RawFile);
            // The status line shows the recording's own figures, not the camera's last.
            QTRY_VERIFY_WITH_TIMEOUT(label("lb_status_bar")->text().endsWith(" Events: 0.5 MEv/s "), 20000);
        } else if (next == "camera") {
            openCamera(vesper);
            QCOMPARE(label("label_show_camera_info")->text(), vesper);
        } else {
            closeAllTips();
            window.reset();
        }
        if (window) {
            QVERIFY(!button("pb_record")->isChecked());
            QVERIFY(label("lb_recoding_time")->text().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(button("pb_record")->isEnabled(), 20000);
        }
        QStringList files = rawFiles(dir.path());
        files.removeAll(played);
        QCOMPARE(files.size(), 1);
        QVERIFY(readBack(files.first()).events.size() > 100000);
        if (!window) {
            // A new window for whatever follows.
            window = std::make_unique<TestableMainWidget>();
            window->show();
            processor = window->findChild<SvEventProcessor*>();
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<WaitingWin*>()->isVisible(), 20000);
        // The new source plays; pause it for the next case.
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);
    }

    // The fusion camera opens and streams; its statistics count the frames' bytes too. It
    // streams in all three viewer types; a second recorded with the Record
    // button opens as a fusion set and plays: the frames change underneath, events drawn over them.
    void fusionCameraStreamsRecordsAndPlaysBack()
    {
        auto* fusion = window->findChild<SvFusionCameraDataProcessor*>();
        QVERIFY(fusion);
        ImageLog shown(fusion);
        const QString serial = QString::fromStdString(SimulatedCameraProvider::serialOf("Tandem"));
        openCamera(serial);
        QCOMPARE(window->currentSourceMode(), MainWidget::LiveFusionCamera);
        QTRY_VERIFY(button("pb_play")->isChecked());
        const QRegularExpression status(R"(^ Bandwidth: (\d+\.\d) MB/s  Events: (\d+\.\d) MEv/s $)");
        QTRY_VERIFY_WITH_TIMEOUT(status.match(label("lb_status_bar")->text()).hasMatch()
                                     && status.match(label("lb_status_bar")->text()).captured(1).toDouble() > 100,
                                 10000);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count >= 3, 10000);
        QVERIFY(shown.eventShare() > 0.001);

        // Fusion, then DVS (events on the background), APS (the frame alone), fusion and DVS
        // again; opened again while the view shows events alone, the camera shows fusion images.
        const struct {
            const char* name;
            bool background;
            bool events;
            bool reopen = false;
        } types[] = {{"DVS", true, true}, {"APS", false, false}, {"fusion", false, true}, {"DVS", true, true},
                     {"fusion after reopening", false, true, true}};
        for (const auto& type : types) {
            if (type.reopen)
                openCamera(serial);
            else
                QTest::mouseClick(button("pb_viewer_type"), Qt::LeftButton);
            // Images made before the switch are delivered first; the second one after that
            // was surely made in the new type.
            QCoreApplication::processEvents();
            const int before = shown.count;
            QTRY_VERIFY_WITH_TIMEOUT(shown.count >= before + 2, 10000);
            QVERIFY2((shown.backgroundShare() > 0.5) == type.background,
                     qPrintable(QString("%1: %2").arg(type.name).arg(shown.backgroundShare())));
            QVERIFY2((shown.eventShare() > 0.001) == type.events, type.name);
        }

        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
#if defined(__SANITIZE_ADDRESS__)
        // The sanitized camera renders its frames late: a longer recording still holds some.
        QTest::qWait(5000);
#else
        QTest::qWait(1200);
#endif
        stopRecordingAndWaitForTheFiles();
        const QStringList sets = QDir(dir.path()).entryList({"*.json"}, QDir::Files);
        QCOMPARE(sets.size(), 1);
        const QString base = dir.filePath(QFileInfo(sets.first()).completeBaseName());
        const ReadBack r = readBack(base + ".raw");
        QVERIFY(r.events.size() > 100000);
        QVERIFY(r.info.apsTimeOffset > 0);

        window->nextRecording = base + ".raw";
        triggerAction("Open Recording");
        QCOMPARE(window->currentSourceMode(), MainWidget::FusionFile);
        QVERIFY(!button("pb_play")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(button("pb_play")->isChecked(), 20000);
        const int played = shown.count;
        QSet<QByteArray> backgrounds;
        QTRY_VERIFY_WITH_TIMEOUT((backgrounds << shown.backgroundSample(), shown.count >= played + 10), 10000);
        QVERIFY(shown.eventShare() > 0.001);
        QVERIFY(backgrounds.size() >= 3); // the frames move on under the events
        // Played to its end, the button is released.
        QTRY_VERIFY_WITH_TIMEOUT(!button("pb_play")->isChecked(), 20000);
        QVERIFY(label("label_time")->text().contains("/"));

        // Saved as a video of what the view shows, and cut into a set, through the window's
        // dialogs, over the whole range: from the first frame to the last event.
        const uint64_t first = std::min(uint64_t(r.info.apsTimeOffset), r.events.back().timestamp);
        const QString clip = saveThroughDialog<SvExportVideoUI>([this] { window->slotSaveAs(); }, "clip.mp4");
        QTRY_VERIFY_WITH_TIMEOUT(tipContaining("Export video success!", Success), 60000);
        auto video = ApsFileReader::createFileReader(clip.toStdString());
        std::vector<uint64_t> times;
        QVERIFY(video && video->getFrameTimestamps(times));
        QCOMPARE(video->getWidth(), 1280);
        const uint64_t step = fusion->frameStep();
        QCOMPARE(times.size(), size_t((r.events.back().timestamp - first + step - 1) / step + 1));
        const QString piece = saveThroughDialog<SvCutRawFile>([this] { window->slotCutRecording(); }, "piece.raw");
        QTRY_VERIFY_WITH_TIMEOUT(tipContaining("Fusion set cut", Success), 60000);
        const auto kept = std::count_if(r.events.begin(), r.events.end(), [&](const Event2D& e) { return e.timestamp >= first; });
        QCOMPARE(qsizetype(readBack(piece).events.size()), qsizetype(kept));
        QVERIFY(QFile::exists(dir.filePath("piece.mp4")) && QFile::exists(dir.filePath("piece.json")));

        // A frame a millisecond: far more images than the time until Cancel.
        fusion->setFps(1000);
        const auto restoreRate = qScopeGuard([&] { fusion->setFps(33); });
        const QString cancelled = saveThroughDialog<SvExportVideoUI>([this] { window->slotSaveAs(); }, "cancelled.mp4");
        auto* waiting = window->findChild<WaitingWin*>();
        QTRY_VERIFY(waiting->isVisible());
        QTest::mouseClick(waiting->findChild<QPushButton*>("pb_cancel"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(tipContaining("Export cancelled.", Warning), 20000);
        QTRY_VERIFY(!waiting->isVisible());
        QVERIFY(!QFile::exists(cancelled));
        QVERIFY(QDir(dir.path()).entryList({"*svtmp*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // A new recording never takes the name of files already there: a file of another recording
    // named for the same second (any member of a fusion set) moves it on to the next free name.
    void recordingNames_data()
    {
        QTest::addColumn<QStringList>("existing"); // relative to folder/serial_time
        QTest::addColumn<QStringList>("extensions");
        QTest::addColumn<QString>("base");
        const QStringList set{".raw", ".mp4", ".json"};
        QTest::newRow("free") << QStringList{} << QStringList{".raw"} << "S_20240102_030405";
        QTest::newRow("raw taken") << QStringList{".raw"} << QStringList{".raw"} << "S_20240102_030405_1";
        QTest::newRow("two taken") << QStringList{".raw", "_1.raw"} << QStringList{".raw"} << "S_20240102_030405_2";
        QTest::newRow("video of a set") << QStringList{".mp4"} << set << "S_20240102_030405_1";
        QTest::newRow("members of two sets") << QStringList{".json", "_1.raw"} << set << "S_20240102_030405_2";
        QTest::newRow("another kind of file") << QStringList{".mp4", ".txt"} << QStringList{".raw"} << "S_20240102_030405";
    }

    void recordingNames()
    {
        QFETCH(QStringList, existing);
        QFETCH(QStringList, extensions);
        QFETCH(QString, base);
        for (const QString& name : existing) {
            QFile file(dir.filePath("S_20240102_030405" + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QDateTime start(QDate(2024, 1, 2), QTime(3, 4, 5));
        QCOMPARE(recordingBase(dir.path(), "S", start, extensions), dir.filePath(base));
    }

    // Record pressed in a second whose name another recording has: the files get the next free
    // name and the other recording is left as it was.
    void recordingNextToAnotherOfTheSameSecond_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("taken");
        QTest::newRow("event camera") << "Orion4" << ".raw";
        QTest::newRow("fusion, video taken") << "Tandem" << ".mp4";
        QTest::newRow("fusion, calibration taken") << "Tandem" << ".json";
    }

    void recordingNextToAnotherOfTheSameSecond()
    {
        QFETCH(QString, product);
        QFETCH(QString, taken);
        const QString serial = QString::fromStdString(SimulatedCameraProvider::serialOf(product.toStdString()));
        openCamera(serial);
        QTRY_VERIFY(button("pb_play")->isChecked());
        // Files of another recording for every second the click may fall into.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList others;
        for (int s = -1; s <= 30; ++s) {
            const QString path = dir.filePath(serial + now.addSecs(s).toString("_yyyyMMdd_HHmmss") + taken);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("another recording");
            others << path;
        }
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTest::qWait(800);
        stopRecordingAndWaitForTheFiles();
        QTest::mouseClick(button("pb_play"), Qt::LeftButton);

        for (const QString& other : others) {
            QFile file(other);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("another recording"));
        }
        const QStringList files = rawFiles(dir.path());
        QCOMPARE(files.size(), taken == ".raw" ? others.size() + 1 : 1);
        QString recorded;
        for (const QString& file : files)
            if (!others.contains(file))
                recorded = file;
        QVERIFY2(QRegularExpression(serial + R"(_\d{8}_\d{6}_1\.raw$)").match(recorded).hasMatch(), qPrintable(recorded));
        QVERIFY(readBack(recorded).events.size() > 100000);
        if (product == "Tandem") {
            QVERIFY(QFileInfo(recorded.chopped(4) + ".json").size() > 0);
            QVERIFY(hasFrames(recorded.chopped(4)));
        }
    }

    // The cable pulled while recording: Record still ends the recording, whose files keep what
    // came before; without the cable the next press starts nothing.
    void recordingEndsAfterTheCableIsPulled_data()
    {
        QTest::addColumn<QString>("product");
        QTest::newRow("event camera") << "Orion4";
        QTest::newRow("fusion camera") << "Tandem";
    }

    void recordingEndsAfterTheCableIsPulled()
    {
        QFETCH(QString, product);
        const std::string serial = SimulatedCameraProvider::serialOf(product.toStdString());
        openCamera(QString::fromStdString(serial));
        QTRY_VERIFY(button("pb_play")->isChecked());
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(button("pb_record")->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(label("lb_recoding_time")->text(), QString("00:00:01"), 5000);
        SimulatedCameraProvider::setPlugged(serial, false);
        const auto replug = qScopeGuard([&] { SimulatedCameraProvider::setPlugged(serial, true); });
        QTest::qWait(300);
        stopRecordingAndWaitForTheFiles();
        QTest::qWait(1200);
        QVERIFY(label("lb_recoding_time")->text().isEmpty());

        const QStringList files = rawFiles(dir.path());
        QCOMPARE(files.size(), 1);
        QVERIFY(readBack(files.first()).events.size() > 100000);
        if (product == "Tandem")
            QVERIFY(hasFrames(files.first().chopped(4)));

        QTest::ignoreMessage(QtDebugMsg, "Please connect camera first.");
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(!button("pb_record")->isChecked());
        QTest::qWait(1200);
        QVERIFY(label("lb_recoding_time")->text().isEmpty());
        QCOMPARE(rawFiles(dir.path()), files);
    }
};

QTEST_MAIN(TestMainWindowCamera)
#include "tst_mainwindowcamera.moc"
