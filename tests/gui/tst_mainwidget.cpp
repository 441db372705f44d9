// The real main window, offscreen, end to end: a generated recording is opened, played, paused,
// stepped, scrubbed, narrowed to a range, cut and exported; the cut file is read back and the
// video decoded.
#include "ProcessorRelay.h"
#include "TestHome.h"
#include "WindowTestKit.h"
#include "SorvaneDriver/Video/ApsFileReader.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"
#include "Utility/SvCutRawFile.h"
#include "Utility/SvExportVideoUI.h"
#include "app/ConfigStore.h"
#include "app/InitDialog.h"
#include "app/SvTimeFormat.h"
#include "processing/ShowImageForm.h"
#include "processing/SvEventProcessor.h"
#include "processing/SvGraphicsView.h"
#include "widgets/SVMessageBox.h"
#include "widgets/SvEventRateStrip.h"
#include "widgets/SvThreeHandleSlider.h"
#include "widgets/WaitingWin.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <numeric>
#include <memory>
#include <vector>

namespace {

// Starts below 2^31 us and ends above it: the slider and the time display must carry 64 bits.
constexpr uint64_t firstTimestamp = 2'146'000'000;
constexpr uint64_t recordingLength = 3'000'000;
constexpr uint64_t frameStep = 1'000'000 / 33;
constexpr uint64_t accTime = 33'333;

// A bar sweeping across the sensor, plus a second row of sparse events: every window holds events.
std::vector<sorvane::Event2D> makeEvents()
{
    std::vector<sorvane::Event2D> events;
    for (uint64_t t = firstTimestamp; t <= firstTimestamp + recordingLength; t += 250) {
        const auto x = uint16_t((t / 1000) % 1280);
        for (uint16_t y = 100; y < 110; ++y) {
            events.emplace_back(x, y, uint8_t(y % 2), t);
        }
        events.emplace_back(uint16_t((t / 7) % 1280), uint16_t(600 + (t % 50)), uint8_t(1), t);
    }
    return events;
}

bool writeRecording(const QString& path, const std::vector<sorvane::Event2D>& events)
{
    sorvane::RawEventWriter writer;
    sorvane::RawHeaderInfo header;
    header.serial = "TEST0001";
    return writer.open(path.toStdString(), header) && writer.write(events.data(), events.data() + events.size())
        && writer.close();
}

// Clicks the dialog's save button and answers the question whether to replace the file there;
// false when none was asked.
bool saveAnsweringReplace(QDialog* dialog, bool agree)
{
    return answerDialog<SVMessageBox>(
        [dialog] { QTest::mouseClick(dialog->findChild<QPushButton*>("pb_save"), Qt::LeftButton); },
        [agree](SVMessageBox* box) {
            QTest::mouseClick(box->findChild<QPushButton*>(agree ? "pb_open" : "pb_close"), Qt::LeftButton);
        });
}

void setField(QDialog* dialog, const char* name, const QString& text)
{
    auto* edit = dialog->findChild<QLineEdit*>(name);
    QVERIFY2(edit, name);
    edit->setText(text);
}

} // namespace

class TestMainWidget : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        events = makeEvents();
        recordingPath = dir.filePath("recording.raw");
        QVERIFY(writeRecording(recordingPath, events));

        ConfigStore* config = ConfigStore::instance();
        config->outputRawFilePath = dir.path();
        config->videoSavePath = dir.path();
        config->inputRawFilePath = dir.path();

        window = std::make_unique<TestableMainWidget>();
        window->resize(1280, 800);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // The language test closes every window and shows this one again.
        QApplication::setQuitOnLastWindowClosed(false);
        processor = window->findChild<SvEventProcessor*>();
        slider = window->findChild<SvThreeHandleSlider*>();
        waiting = window->findChild<WaitingWin*>();
        QVERIFY(processor);
        QVERIFY(slider);
        QVERIFY(waiting);
        QVERIFY(!slider->isEnabled());
    }

    void cleanupTestCase()
    {
        closeAllTips();
        window.reset();
    }

    void cancelledOpenChangesNothing()
    {
        QSignalSpy opened(window.get(), &MainWidget::signalOpenRawFile);
        openRecording(QString());
        QCOMPARE(opened.count(), 0);
        QCOMPARE(window->currentSourceMode(), MainWidget::NoSource);
        QVERIFY(!slider->isEnabled());
    }

    void rateStripShowsTheRecording()
    {
        openPaused();
        auto* strip = window->findChild<SvEventRateStrip*>();
        QVERIFY(strip);
        QVERIFY(!strip->isLive());
        // The slider and the strip span the play bar, not what its buttons leave.
        const int bar = window->findChild<QWidget*>("frame_play_ctrl")->width();
        QVERIFY2(slider->width() > bar * 9 / 10 && strip->width() == slider->width(),
                 qPrintable(QString("%1 and %2 of %3").arg(slider->width()).arg(strip->width()).arg(bar)));
        // Every event of the recording is drawn somewhere along the strip.
        const QList<double> columns = strip->columns();
        QCOMPARE(columns.size(), strip->width() - 2 * SvEventRateStrip::trackMargin);
        const double drawn = std::accumulate(columns.begin(), columns.end(), 0.0);
        QVERIFY2(std::abs(drawn - double(events.size())) <= events.size() / 100.0, qPrintable(QString::number(drawn)));

        // A click on the strip jumps to the time under it.
        const int x = SvEventRateStrip::trackMargin + (strip->width() - 2 * SvEventRateStrip::trackMargin) / 4;
        QTest::mouseClick(strip, Qt::LeftButton, Qt::NoModifier, QPoint(x, strip->height() / 2));
        const uint64_t quarter = firstTimestamp + recordingLength / 4;
        const uint64_t column = recordingLength / uint64_t(columns.size());
        QTRY_VERIFY2(slider->center() + 2 * column >= quarter && slider->center() <= quarter + 2 * column,
                     qPrintable(QString("%1 instead of about %2").arg(slider->center()).arg(quarter)));
        QVERIFY(!button("pb_play")->isChecked());
    }

    void spaceAndStepsAndJump()
    {
        openPaused();
        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        QTest::keyClick(window.get(), Qt::Key_Space);
        QVERIFY(button("pb_play")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 2, 10000);
        pausePlayback();

        const uint64_t paused = slider->center();
        QCOMPARE(label("label_show_timestamp_info")->text(), formatTimestamp(paused));
        QTest::qWait(150);
        QCOMPARE(slider->center(), paused);

        QTest::keyClick(window.get(), Qt::Key_Right);
        QTRY_COMPARE(slider->center(), paused + frameStep);
        QCOMPARE(label("label_show_timestamp_info")->text(), formatTimestamp(paused + frameStep));
        QTest::keyClick(window.get(), Qt::Key_Left);
        QTRY_COMPARE(slider->center(), paused);

        // A click on the track jumps there, past 2^31 us on this recording's clock; the window shows
        // the position the processor reports.
        QSignalSpy clicks(slider, &SvThreeHandleSlider::centerValueTrackClick);
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() * 3 / 4, slider->height() / 2));
        QCOMPARE(clicks.count(), 1);
        const uint64_t target = clicks.first().at(0).toULongLong();
        QVERIFY(target > (uint64_t(1) << 31));
        QVERIFY(target > firstTimestamp + recordingLength / 2);
        QTRY_COMPARE(label("label_show_timestamp_info")->text(), formatTimestamp(target));
        QCOMPARE(slider->center(), target);
        QVERIFY(!button("pb_play")->isChecked());
    }

    void resetGoesToRangeStart()
    {
        openPaused();
        emit button("pb_stop")->pressed();
        QTRY_COMPARE(slider->center(), firstTimestamp);
        QCOMPARE(label("label_show_timestamp_info")->text(), formatTimestamp(firstTimestamp));
        QVERIFY(!button("pb_play")->isChecked());
    }

    void recordButtonIsReleasedForRecordings()
    {
        QTest::mouseClick(button("pb_record"), Qt::LeftButton);
        QVERIFY(!button("pb_record")->isChecked());
        QVERIFY(label("lb_recoding_time")->text().isEmpty());
    }

    void rangeFromSideHandles()
    {
        openPaused();
        action("Toggle Start/End Point")->trigger();
        QCOMPARE(slider->currentHandleMode(), 3);

        // Centre to the middle first: side handles cannot pass it.
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, slider->height() / 2));
        QTRY_VERIFY(slider->center() > firstTimestamp + recordingLength / 3);

        auto drag = [this](const QRect& handle, int toX) {
            const QPoint from = handle.center();
            QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, from);
            QMouseEvent move(QEvent::MouseMove, QPointF(toX, from.y()), slider->mapToGlobal(QPointF(toX, from.y())),
                             Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(slider, &move);
            QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(toX, from.y()));
        };
        QSignalSpy lowerSpy(slider, &SvThreeHandleSlider::lowerValueChanged);
        QSignalSpy upperSpy(slider, &SvThreeHandleSlider::upperValueChanged);
        drag(slider->lowerHandleRect(), slider->width() / 5);
        drag(slider->upperHandleRect(), slider->width() * 4 / 5);
        QCOMPARE(lowerSpy.count(), 1);
        QCOMPARE(upperSpy.count(), 1);
        QVERIFY(slider->lowerBound() > firstTimestamp);
        QVERIFY(slider->upperBound() < firstTimestamp + recordingLength);
        QVERIFY(slider->lowerBound() < slider->center());
        QVERIFY(slider->center() < slider->upperBound());
        QCOMPARE(lowerSpy.first().at(0).toULongLong(), slider->lowerBound());
        QCOMPARE(upperSpy.first().at(0).toULongLong(), slider->upperBound());
    }

    void savedRangeReadsBack_data()
    {
        QTest::addColumn<bool>("video");
        QTest::newRow("cut") << false;
        QTest::newRow("export") << true;
    }

    // The dialog comes with the slider's range and the stored folder; what it saves holds exactly
    // that range: the events of the cut, a frame a step of the video.
    void savedRangeReadsBack()
    {
        QFETCH(bool, video);
        openPaused();
        const uint64_t start = slider->lowerBound();
        const uint64_t end = slider->upperBound();
        const QString name = video ? "clip.mp4" : "cut.raw";
        const auto save = [&](SvRangeFileDialog* dialog) {
            QCOMPARE(dialog->getStartTime(), start);
            QCOMPARE(dialog->getEndTime(), end);
            QCOMPARE(dialog->getFileDir(), dir.path());
            setField(dialog, "le_file_name", name);
            QTest::mouseClick(dialog->findChild<QPushButton*>("pb_save"), Qt::LeftButton);
        };
        QVERIFY(video ? answerDialog<SvExportVideoUI>([this] { window->slotSaveAs(); }, save)
                      : answerDialog<SvCutRawFile>([this] { window->slotCutRecording(); }, save));
        const QString success = video ? "Export video success!" : "Export raw file success!";
        QTRY_VERIFY_WITH_TIMEOUT(tipContaining(success, Success), 60000);
        QCOMPARE(tipContaining(success, Success)->path(), dir.path());
        waitUntilIdle();
        if (video) {
            auto reader = sorvane::ApsFileReader::createFileReader(dir.filePath(name).toStdString());
            QVERIFY(reader);
            QCOMPARE(reader->getWidth(), 1280);
            QCOMPARE(reader->getHeight(), 720);
            std::vector<uint64_t> timestamps;
            QVERIFY(reader->getFrameTimestamps(timestamps));
            const double expectedFrames = double(end - start) / frameStep;
            QVERIFY2(qAbs(double(timestamps.size()) - expectedFrames) <= 2.0, qPrintable(QString::number(timestamps.size())));
            return;
        }
        std::vector<sorvane::Event2D> expected;
        for (const auto& event : events)
            if (event.timestamp >= start && event.timestamp <= end)
                expected.push_back(event);
        QVERIFY(!expected.empty());
        QVERIFY(readBack(dir.filePath(name)).events == expected);
    }

    void refusedCutShowsErrorTip_data()
    {
        QTest::addColumn<QString>("folder"); // relative to the test folder
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("tip");
        // Another spelling of the open recording's folder; agreeing to replace it changes nothing.
        QTest::newRow("onto the open recording") << "./" << "recording.raw" << "open recording";
        QTest::newRow("into a file") << "not_a_folder" << "cut.raw" << "not_a_folder";
    }

    void refusedCutShowsErrorTip()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, tip);
        openPaused();
        QFile blocker(dir.filePath("not_a_folder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QByteArray before = fileHash(recordingPath);
        QVERIFY(answerDialog<SvCutRawFile>([this] { window->slotCutRecording(); }, [&](SvCutRawFile* dialog) {
            setField(dialog, "le_save_file_path", dir.path() + "/" + folder);
            setField(dialog, "le_file_name", name);
            saveAnsweringReplace(dialog, true);
        }));
        QTRY_VERIFY_WITH_TIMEOUT(tipContaining(tip, Error), 20000);
        waitUntilIdle();
        QVERIFY(!tipContaining("success", Success));
        QCOMPARE(fileHash(recordingPath), before);
        QCOMPARE(readBack(recordingPath).events.size(), events.size());
    }

    void cutReplacesAFileOnlyWhenAgreed_data()
    {
        QTest::addColumn<bool>("agree");
        QTest::newRow("agreed") << true;
        QTest::newRow("declined") << false;
    }

    // Saving onto an existing file asks first; agreed, the cut replaces it; declined, the dialog stays
    // for another name and nothing is written.
    void cutReplacesAFileOnlyWhenAgreed()
    {
        QFETCH(bool, agree);
        openPaused();
        const QString target = dir.filePath(QString("existing-%1.raw").arg(QTest::currentDataTag()));
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QSignalSpy cuts(window.get(), &MainWidget::signalCutRawFile);
        bool asked = false;
        bool stayed = false;
        QVERIFY(answerDialog<SvCutRawFile>([this] { window->slotCutRecording(); }, [&](SvCutRawFile* dialog) {
            setField(dialog, "le_file_name", QFileInfo(target).fileName());
            asked = saveAnsweringReplace(dialog, agree);
            stayed = dialog->isVisible();
            if (stayed)
                QTest::mouseClick(dialog->findChild<QPushButton*>("pb_cancel"), Qt::LeftButton);
        }));
        QVERIFY(asked);
        QCOMPARE(stayed, !agree);
        QCOMPARE(cuts.count(), agree ? 1 : 0);
        if (agree) {
            QTRY_VERIFY_WITH_TIMEOUT(tipContaining("Export raw file success!", Success), 20000);
            waitUntilIdle();
            QVERIFY(!readBack(target).events.empty());
        } else {
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("old"));
        }
        QVERIFY(QDir(dir.path()).entryList({"*svtmp*"}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(old.remove());
    }

    // The waiting window stays up through Escape while an export runs; its Cancel stops the export,
    // which leaves no file, and the recording plays again afterwards.
    void cancelledExportLeavesNothing()
    {
        openPaused();
        // A frame a millisecond: thousands of frames, far more than the time until Cancel.
        processor->setFps(1000);
        const QString videoPath = dir.filePath("cancelled.mp4");
        QVERIFY(answerDialog<SvExportVideoUI>([this] { window->slotSaveAs(); },
            [&](SvExportVideoUI* dialog) {
                setField(dialog, "le_file_name", "cancelled.mp4");
                QTest::mouseClick(dialog->findChild<QPushButton*>("pb_save"), Qt::LeftButton);
            }));
        QTRY_VERIFY(waiting->isVisible());
        QTest::keyClick(waiting, Qt::Key_Escape);
        QVERIFY(waiting->isVisible());
        // Opening another recording meanwhile is refused, and the window keeps the open one.
        openRecording(dir.filePath("other.raw"));
        QTRY_VERIFY(tipContaining("Wait for the recording's work to finish", Warning));
        QCOMPARE(window->openRecordingPath(), QFileInfo(recordingPath).absoluteFilePath());
        QCOMPARE(window->currentSourceMode(), MainWidget::RawFile);
        QTest::mouseClick(waiting->findChild<QPushButton*>("pb_cancel"), Qt::LeftButton);
        QTRY_VERIFY(tipContaining("Export cancelled.", Warning));
        waitUntilIdle();
        processor->setFps(33);
        QVERIFY(!QFile::exists(videoPath));
        QVERIFY(QDir(dir.path()).entryList({"*svtmp*"}, QDir::Files | QDir::Hidden).isEmpty());

        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        button("pb_next")->click();
        QTRY_COMPARE(images.count(), 1);
    }

    // The image on screen goes to the clipboard and, never over another file, into the video folder;
    // svraw's picture of the same moment is the same, pixel for pixel.
    void imageOnScreenIsKept()
    {
        openPaused();
        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        const uint64_t at = firstTimestamp + recordingLength / 3;
        processor->setPlayPos(at);
        QTRY_VERIFY(!images.isEmpty() && slider->center() == at);
        QCoreApplication::processEvents();
        const QImage shown = window->findChild<ShowImageForm*>()->currentPixmap().toImage().convertToFormat(QImage::Format_RGB888);

        // Shortcuts reach the active window only.
        auto press = [this](Qt::Key key) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QTest::keyClick(window.get(), key, Qt::ControlModifier);
        };
        press(Qt::Key_C);
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888), shown);

        const QDir folder(ConfigStore::instance()->videoSavePath);
        const QStringList before = folder.entryList({"image_*.png"}, QDir::Files);
        for (int i = 0; i < 2; ++i) {
            closeAllTips();
            press(Qt::Key_S);
            QTRY_VERIFY(tipContaining("Image saved", Success));
        }
        QStringList saved = folder.entryList({"image_*.png"}, QDir::Files);
        for (const QString& old : before)
            saved.removeAll(old);
        QCOMPARE(saved.size(), 2);
        for (const QString& name : saved)
            QCOMPARE(QImage(folder.filePath(name)).convertToFormat(QImage::Format_RGB888), shown);

        const QString picture = dir.filePath("svraw-frame.png");
        QFile::remove(picture);
        QProcess svraw;
        svraw.start(SVRAW_PATH, {"frame", recordingPath, picture, "--at", QString::number(at), "--acc-us",
                                 QString::number(accTime), "--palette", ConfigStore::instance()->colorType});
        QVERIFY(svraw.waitForFinished(30000));
        QCOMPARE(svraw.exitCode(), 0);
        QCOMPARE(QImage(picture).convertToFormat(QImage::Format_RGB888), shown);
    }

    // A region marked on the image shows only its events; cleared, all of them again.
    void markedRegionFiltersTheRecording()
    {
        openPaused();
        auto* view = window->findChild<ShowImageForm*>()->view();
        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        // Rows with events below this line, in the images shown.
        auto eventsBelow = [&](int row) {
            const QImage image = images.last().at(0).value<QImage>();
            const QRgb background = image.pixel(0, 0);
            for (int y = row; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixel(x, y) != background)
                        return true;
            return false;
        };
        processor->setPlayPos(firstTimestamp + recordingLength / 2);
        QTRY_VERIFY(!images.isEmpty());
        QVERIFY(eventsBelow(300));
        images.clear();
        emit view->regionChanged(QRect(QPoint(0, 0), QPoint(1279, 300)));
        QTRY_VERIFY(!images.isEmpty());
        QVERIFY(!eventsBelow(301));
        QVERIFY(eventsBelow(0));
        images.clear();
        emit view->regionChanged(QRect());
        QTRY_VERIFY(!images.isEmpty());
        QVERIFY(eventsBelow(300));
    }

    // Cut Recording offers the marked region, checked: the cut holds the range's events inside it.
    void cutKeepsOnlyTheMarkedRegion()
    {
        openPaused();
        const QRect region(QPoint(200, 90), QPoint(900, 105));
        // As a Shift-drag ends: marked on the view, then reported.
        SvGraphicsView* view = window->findChild<ShowImageForm*>()->view();
        view->showRegion(region);
        emit view->regionChanged(region);
        const QString cutPath = dir.filePath("region.raw");
        QFile::remove(cutPath);
        bool offered = false;
        QVERIFY(answerDialog<SvCutRawFile>([this] { window->slotCutRecording(); }, [&](SvCutRawFile* dialog) {
            auto* only = dialog->findChild<QCheckBox*>("cb_only_region");
            offered = only->isVisible() && only->isChecked();
            setField(dialog, "le_file_name", "region.raw");
            QTest::mouseClick(dialog->findChild<QPushButton*>("pb_save"), Qt::LeftButton);
        }));
        QVERIFY(offered);
        QTRY_VERIFY_WITH_TIMEOUT(tipContaining("Export raw file success!", Success), 20000);
        waitUntilIdle();
        std::vector<sorvane::Event2D> expected;
        for (const auto& e : events)
            if (e.timestamp >= slider->lowerBound() && e.timestamp <= slider->upperBound() && region.contains(e.x, e.y))
                expected.push_back(e);
        QVERIFY(!expected.empty());
        QVERIFY(readBack(cutPath).events == expected);
        view->showRegion(QRect());
        emit view->regionChanged(QRect());
    }

    void menuButtonsAreNotLeftLit_data()
    {
        QTest::addColumn<QString>("button");
        for (const char* name : {"pb_menu_file", "pb_menu_device", "pb_menu_setting", "pb_menu_help"})
            QTest::newRow(name) << name;
    }

    // Opened and closed while the pointer went on over the menu, a title-bar button is not left lit.
    void menuButtonsAreNotLeftLit()
    {
        QFETCH(QString, button);
        QPushButton* opener = this->button(qPrintable(button));
        QVERIFY(opener->menu());
        QCursor::setPos(window->mapToGlobal(QPoint(window->width() / 2, window->height() / 2)));
        opener->setAttribute(Qt::WA_UnderMouse, true);
        QTimer::singleShot(0, opener->menu(), &QMenu::close);
        QTest::mouseClick(opener, Qt::LeftButton);
        QVERIFY(!opener->underMouse());
    }

    void aboutShowsTheBuild()
    {
        QString message;
        bool openEnabled = true;
        const bool answered = answerDialog<SVMessageBox>([&] { action("About us")->trigger(); }, [&](SVMessageBox* box) {
            message = box->findChild<QLabel*>("lb_show_message")->text();
            openEnabled = box->findChild<QPushButton*>("pb_open")->isEnabled();
            box->findChild<QPushButton*>("pb_close")->click();
        });
        QVERIFY(answered);
        // No web page to offer: the box tells the version and what the program was built with.
        QVERIFY2(message.contains(InitDialog::Version) && message.contains(qVersion()), qPrintable(message));
        QVERIFY(!openEnabled);
    }

    void droppedRecordingsOpen_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("opened");
        QTest::addColumn<QString>("openedAs");
        QTest::newRow("a recording") << QStringList{"recording.raw"} << int(MainWidget::RawFile) << "recording.raw";
        QTest::newRow("a dataset file") << QStringList{"events.dat"} << int(MainWidget::RawFile) << "events.dat";
        QTest::newRow("the video of a fusion set") << QStringList{"set.mp4"} << int(MainWidget::FusionFile) << "set.raw";
        QTest::newRow("a recording with its video") << QStringList{"set.raw"} << int(MainWidget::FusionFile) << "set.raw";
        QTest::newRow("a video alone") << QStringList{"alone.mp4"} << int(MainWidget::NoSource) << "";
        QTest::newRow("a text file") << QStringList{"notes.txt"} << int(MainWidget::NoSource) << "";
        QTest::newRow("two recordings") << QStringList{"recording.raw", "set.raw"} << int(MainWidget::NoSource) << "";
    }

    void droppedRecordingsOpen()
    {
        QFETCH(QStringList, files);
        QFETCH(int, opened);
        QFETCH(QString, openedAs);
        waitUntilIdle();
        for (const char* name : {"set.raw", "set.mp4", "alone.mp4", "notes.txt", "events.dat"}) {
            QFile file(dir.filePath(name));
            if (!file.exists()) {
                QVERIFY(QString(name) == "set.raw" ? QFile::copy(recordingPath, file.fileName())
                                                   : file.open(QIODevice::WriteOnly));
            }
        }
        QList<QUrl> urls;
        for (const QString& name : files) {
            urls << QUrl::fromLocalFile(dir.filePath(name));
        }
        QMimeData mime;
        mime.setUrls(urls);
        QSignalSpy rawOpened(window.get(), &MainWidget::signalOpenRawFile);
        QSignalSpy fusionOpened(window.get(), &MainWidget::signalOpenFusionFile);
        const QPoint centre = window->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(window.get(), &enter);
        QCOMPARE(enter.isAccepted(), opened != MainWidget::NoSource);
        QDropEvent drop(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);

        if (opened == MainWidget::NoSource) {
            QCOMPARE(rawOpened.count() + fusionOpened.count(), 0);
            return;
        }
        QCOMPARE(int(window->currentSourceMode()), opened);
        QSignalSpy& used = opened == MainWidget::RawFile ? rawOpened : fusionOpened;
        QCOMPARE(used.count(), 1);
        QCOMPARE(used.first().at(0).toString(), dir.filePath(openedAs));
        if (opened == MainWidget::FusionFile) {
            // A set that failed to load is neither painted into a video nor cut.
            for (auto command : {&MainWidget::slotSaveAs, &MainWidget::slotCutRecording}) {
                closeAllTips();
                (window.get()->*command)();
                QTRY_VERIFY(tipContaining("Please open a raw file first.", Warning));
            }
        }
    }

    void missingRecordingIsReported()
    {
        waitUntilIdle();
        closeAllTips();
        const MainWidget::SourceMode before = window->currentSourceMode();
        QSignalSpy rawOpened(window.get(), &MainWidget::signalOpenRawFile);
        window->openRecordingFile(dir.filePath("gone.raw"));
        QTRY_VERIFY(tipContaining("no such file", Error));
        QCOMPARE(window->currentSourceMode(), before);
        QCOMPARE(rawOpened.count(), 0);
    }

    // A window reaching below the screen still shows its tips whole.
    void tipsStayOnTheScreen()
    {
        closeAllTips();
        const QPoint was = window->pos();
        const QRect screen = window->screen()->availableGeometry();
        window->move(screen.left(), screen.bottom() - 100);
        window->slotShowLeftBottomTips("still on the screen", Warning);
        window->move(was);
        SvFilePathReminderForm* tip = tipContaining("still on the screen", Warning);
        QVERIFY(tip);
        QVERIFY2(screen.contains(tip->geometry()), qPrintable(QString::number(tip->y())));
    }

    void languageRestartsTheProgram_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("starts");
        QTest::newRow("restart into Chinese") << "en" << true << "zh" << true;
        QTest::newRow("restart into English") << "zh" << true << "en" << true;
        QTest::newRow("later") << "en" << false << "en" << true;
        QTest::newRow("the new program fails to start") << "en" << true << "zh" << false;
    }

    void languageRestartsTheProgram()
    {
        QFETCH(QString, before);
        QFETCH(bool, confirm);
        QFETCH(QString, after);
        QFETCH(bool, starts);
        closeAllTips();
        ConfigStore* config = ConfigStore::instance();
        config->language = before;
        config->save();
        QStringList launched;
        window->setRestartLauncher([&](const QString& program) {
            launched << program;
            return starts;
        });
        const bool answered = answerDialog<SVMessageBox>([&] { action("EN/中文")->trigger(); }, [&](SVMessageBox* box) {
            box->findChild<QPushButton*>(confirm ? "pb_open" : "pb_close")->click();
        });
        QVERIFY(answered);
        QCOMPARE(config->language, after);
        const QSettings stored(config->configDir + "/config.ini", QSettings::IniFormat);
        QCOMPARE(stored.value("Setting/language").toString(), after);
        // A window stays open unless the new program took over.
        QCOMPARE(window->isVisible(), !(confirm && starts));
        if (confirm && !starts)
            QTRY_VERIFY(tipContaining("could not restart", Error));
        QCOMPARE(launched, confirm ? QStringList{QCoreApplication::applicationFilePath()} : QStringList{});

        config->language = "en";
        config->save();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void quitClosesTheWindow()
    {
        closeAllTips();
        waitUntilIdle();
        QVERIFY(window->isVisible());
        action("Quit")->trigger();
        QVERIFY(!window->isVisible());
    }

private:
    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(name); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }
    QAction* action(const QString& text) const { return window->action(text); }

    void waitUntilIdle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!processor->isBusy() && !waiting->isVisible(), 20000);
    }

    void openRecording(const QString& path)
    {
        window->nextRecording = path;
        action("Open Recording")->trigger();
    }

    void pausePlayback()
    {
        if (button("pb_play")->isChecked()) {
            QTest::keyClick(window.get(), Qt::Key_Space);
        }
        QVERIFY(!button("pb_play")->isChecked());
        // Timestamps of frames already on their way are delivered before the position is read.
        QTest::qWait(100);
    }

    // The recording open and paused, however the cases before left the window.
    void openPaused()
    {
        closeAllTips();
        if (window->currentSourceMode() != MainWidget::RawFile
            || window->openRecordingPath() != QFileInfo(recordingPath).absoluteFilePath()) {
            openRecording(recordingPath);
            QTRY_COMPARE_WITH_TIMEOUT(slider->maximum(), firstTimestamp + recordingLength, 20000);
        }
        waitUntilIdle();
        pausePlayback();
    }

    QTemporaryDir dir;
    QString recordingPath;
    std::vector<sorvane::Event2D> events;
    std::unique_ptr<TestableMainWidget> window;
    SvEventProcessor* processor = nullptr;
    SvThreeHandleSlider* slider = nullptr;
    WaitingWin* waiting = nullptr;
};

QTEST_MAIN(TestMainWidget)
#include "tst_mainwidget.moc"
