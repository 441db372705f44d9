// The fusion data processor: a fusion recording set made here (frames of known colours, events
// at known places) opened and played the way the main window drives it, and the live images of
// each viewer type from frames and events handed in as a fusion camera's callbacks hand them.
#include "PlayButton.h"
#include "TestHome.h"
#include "app/ConfigStore.h"
#include "processing/SvFusionCameraDataProcessor.h"

#include <SorvaneDriver/DvsCameraManager.h>
#include <SorvaneDriver/DvsFileReader.h>
#include <SorvaneDriver/Raw/RawEventWriter.h>
#include <SorvaneDriver/Simulated/SimulatedCameras.h>
#include <SorvaneDriver/Simulated/StreamRecorder.h>
#include <SorvaneDriver/Video/ApsFileReader.h>
#include <SorvaneDriver/Video/Mp4FrameWriter.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

using namespace sorvane;

namespace {

constexpr uint64_t apsOffset = 2'000'000;
constexpr uint64_t frameInterval = 100'000;
constexpr int frameCount = 10;
constexpr uint64_t lastEvent = 3'000'000;

// Frame k is a flat grey of this level.
int greyOf(int frame)
{
    return 20 + 20 * frame;
}

// The set: APS frames of 640 x 360 at half the event grid's scale, events at known places.
// Events are stored as the sensor reads out (mirrored), so x = 1279 shows at column 0.
bool writeFusionSet(const QString& base, bool withCalibration = true)
{
    for (const char* extension : {".raw", ".mp4", ".json"})
        QFile::remove(base + extension);
    Mp4FrameWriter video;
    Mp4FrameWriter::Options options;
    options.timestamped = true;
    if (!video.open((base + ".mp4").toStdString(), 640, 360, 10, options))
        return false;
    std::vector<uint8_t> pixels(640 * 360 * 3);
    for (int k = 0; k < frameCount; ++k) {
        std::fill(pixels.begin(), pixels.end(), uint8_t(greyOf(k)));
        if (!video.writeFrame(pixels.data(), uint64_t(k) * frameInterval))
            return false;
    }
    if (!video.close())
        return false;

    RawEventWriter events;
    RawHeaderInfo header;
    header.extraKeys["apsTimeOffset"] = std::to_string(apsOffset);
    const std::vector<Event2D> all{
        {1270, 5, 1, 5},             // before the frames start: column 9
        {1279, 10, 1, 2'050'000},    // column 0
        {0, 20, 1, 2'050'000},       // column 1279
        {680, 300, 0, 2'550'000},    // column 599, negative
        {640, 700, 1, lastEvent},
    };
    if (!events.open((base + ".raw").toStdString(), header) || !events.write(all.data(), all.data() + all.size())
        || !events.close())
        return false;
    if (!withCalibration)
        return true;
    std::ofstream((base + ".json").toStdString()) << R"({
      "0": {"camera_serial": "TD-TEST", "frame_size": {"cols": 1280, "rows": 720},
            "camera_matrix": {"rows": 3, "cols": 3, "type": 6, "data": [1, 0, 0, 0, 1, 0, 0, 0, 1]},
            "dist_coeffs": {"rows": 1, "cols": 5, "type": 6, "data": [0, 0, 0, 0, 0]},
            "affine_matrix": {"1": {"rows": 2, "cols": 3, "type": 6, "data": [0.5, 0, 0, 0, 0.5, 0]}}},
      "1": {"frame_size": {"cols": 640, "rows": 360}}})";
    return true;
}

bool isGrey(QRgb pixel, int level)
{
    return std::abs(qRed(pixel) - level) <= 6 && std::abs(qGreen(pixel) - level) <= 6 && std::abs(qBlue(pixel) - level) <= 6;
}

// Which frame's grey the image shows at a pixel no event touches, or -1.
int frameShown(const QImage& image)
{
    const QRgb pixel = image.pixel(900, 100);
    for (int k = 0; k < frameCount; ++k)
        if (isGrey(pixel, greyOf(k)))
            return k;
    return -1;
}

// Pixels painted in the event colours, as "x,y+" or "x,y-", in row order.
QStringList eventPixels(const QImage& image)
{
    const QRgb positive = ConfigStore::instance()->positiveColor.rgb();
    const QRgb negative = ConfigStore::instance()->negativeColor.rgb();
    QStringList found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y) | 0xFF000000;
            if (pixel == positive || pixel == negative)
                found << QString("%1,%2%3").arg(x).arg(y).arg(pixel == positive ? '+' : '-');
        }
    return found;
}

// A processor wired as the main window wires it. What it emits on its threads is collected on
// the test's thread (queued), where the test reads it.
struct Session {
    SvFusionCameraDataProcessor processor;
    PlayButton playButton;
    QObject receiver;
    QList<QImage> images;
    QList<uint64_t> imageTimes;
    QList<bool> loadings;
    QStringList tips;
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t lastTime = 0;
    bool awaitingTime = false;

    Session()
    {
        const auto queued = Qt::QueuedConnection;
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalPlayStatus, &playButton,
                         &PlayButton::setChecked, queued);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalPalyFileFinished, &playButton,
                         [this] { playButton.setChecked(false); }, queued);
        QObject::connect(&playButton, &PlayButton::toggled, &processor, &SvFusionCameraDataProcessor::slotPlaybackCtrl,
                         queued);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalFusionImage, &receiver,
                         [this](const QImage& image) {
                             images << image;
                             imageTimes << 0;
                             awaitingTime = true;
                         }, queued);
        // Each image is followed by its time.
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalTimeStamp, &receiver,
                         [this](uint64_t t) {
                             lastTime = t;
                             if (awaitingTime)
                                 imageTimes.last() = t;
                             awaitingTime = false;
                         }, queued);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalStartTimeStamp, &receiver,
                         [this](uint64_t t) { start = t; }, queued);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalEndTimeStamp, &receiver,
                         [this](uint64_t t) { end = t; }, queued);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalLoadingStatus, &receiver,
                         [this](bool on) { loadings << on; }, queued);
        QObject::connect(&processor, &SvFusionCameraDataProcessor::signalShowLeftBottomTips, &receiver,
                         [this](const QString& tip) { tips << tip; }, queued);
    }

    // Opens path and waits for the load to end; true when it loaded. A failure ends with a tip,
    // a success with the range (a load overtaken earlier ends with neither).
    bool load(const QString& path)
    {
        loadings.clear();
        start = end = 0;
        const qsizetype tipsBefore = tips.size();
        if (!processor.slotReadFusionFile(path))
            return false;
        const bool ended =
            QTest::qWaitFor([&] { return tips.size() > tipsBefore || (end != 0 && !loadings.last()); }, 30000);
        return ended && tips.size() == tipsBefore;
    }
    // Loaded and paused, nothing collected yet.
    bool loadPaused(const QString& path)
    {
        if (!load(path) || !QTest::qWaitFor([&] { return playButton.checked; }, 10000))
            return false;
        playButton.setChecked(false);
        QTest::qWait(100);
        images.clear();
        imageTimes.clear();
        return true;
    }
    // The image a jump to t shows.
    QImage imageAt(uint64_t t)
    {
        const qsizetype before = images.size();
        processor.setPlayPos(t);
        if (!QTest::qWaitFor([&] { return images.size() > before && imageTimes.last() == t; }, 10000))
            return {};
        return images.last();
    }
};

} // namespace

class TestFusionPlayback : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    QTemporaryDir dir;
    QString base;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        base = dir.filePath("rec");
        QVERIFY(writeFusionSet(base));
        QDir().mkpath(dir.filePath("my.data"));
        QFile::copy(base + ".raw", dir.filePath("my.data/rec.raw"));
        QFile::copy(base + ".mp4", dir.filePath("my.data/rec.mp4"));
    }

    void opensTheSetFromAnyMember_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("removed"); // from the set "partial"
        QTest::addColumn<QString>("failure");
        QTest::newRow("events") << "rec.raw" << "" << "";
        QTest::newRow("frames") << "rec.mp4" << "" << "";
        QTest::newRow("calibration") << "rec.json" << "" << "";
        QTest::newRow("no extension") << "rec" << "" << "";
        // The last dot anywhere in the path counts: this names the set my.*, which is not there.
        QTest::newRow("dot in a folder name") << "my.data/rec" << "" << "frames of %1/my.mp4";
        QTest::newRow("no such set") << "other.raw" << "" << "frames of %1/other.mp4";
        QTest::newRow("events missing") << "partial.json" << ".raw" << "%1/partial.raw";
        QTest::newRow("frames missing") << "partial.json" << ".mp4" << "%1/partial.mp4";
    }
    void opensTheSetFromAnyMember()
    {
        QFETCH(QString, path);
        QFETCH(QString, removed);
        QFETCH(QString, failure);
        if (!removed.isEmpty()) {
            QVERIFY(writeFusionSet(dir.filePath("partial")));
            QVERIFY(QFile::remove(dir.filePath("partial") + removed));
        }
        Session session;
        const bool loaded = session.load(dir.filePath(path));
        if (failure.isEmpty()) {
            QVERIFY(loaded);
            QCOMPARE(session.start, apsOffset);
            QCOMPARE(session.end, lastEvent);
            QTRY_VERIFY(session.playButton.checked); // playback starts through the button
        } else {
            QVERIFY(!loaded);
            QTRY_COMPARE(session.tips.size(), 1);
            QVERIFY2(session.tips.first().endsWith(failure.arg(dir.path())), qPrintable(session.tips.first()));
            QVERIFY(!session.processor.isBusy());
            QVERIFY(session.images.isEmpty());
        }
    }

    // Each jump shows the frame whose time has come and the events of (t - accTime, t], the
    // recorded ones mirrored.
    void imageAtATime_data()
    {
        QTest::addColumn<uint64_t>("t");
        QTest::addColumn<int>("frame");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("range start") << apsOffset << 0 << QStringList();
        QTest::newRow("event just after t") << uint64_t(2'049'999) << 0 << QStringList();
        QTest::newRow("event at t; mirrored, both edges") << uint64_t(2'050'000) << 0 << QStringList{"0,10+", "1279,20+"};
        QTest::newRow("window has passed") << uint64_t(2'083'334) << 0 << QStringList();
        QTest::newRow("second frame") << uint64_t(2'100'000) << 1 << QStringList();
        QTest::newRow("negative event") << uint64_t(2'560'000) << 5 << QStringList{"599,300-"};
        QTest::newRow("last frame") << uint64_t(2'990'000) << 9 << QStringList();
        QTest::newRow("back to the first frame") << uint64_t(2'060'000) << 0 << QStringList{"0,10+", "1279,20+"};
    }
    void imageAtATime()
    {
        QFETCH(uint64_t, t);
        QFETCH(int, frame);
        QFETCH(QStringList, events);
        static Session session;
        static const bool ready = session.loadPaused(base + ".raw");
        QVERIFY(ready);
        // From the far end first, so every row also jumps backwards.
        QVERIFY(!session.imageAt(2'900'000).isNull());
        const QImage image = session.imageAt(t);
        QCOMPARE(image.size(), QSize(1280, 720));
        QCOMPARE(frameShown(image), frame);
        QCOMPARE(eventPixels(image), events);
    }

    // A recorded set shows what the viewer type asks for: the frame with the events, the frame
    // alone, or the events alone painted as an event recording's, where the live view shows them.
    void recordedImagesFollowTheViewerType_data()
    {
        QTest::addColumn<int>("viewerType");
        QTest::addColumn<int>("frame");
        QTest::addColumn<QStringList>("events");
        const QStringList both{"0,10+", "1279,20+"};
        QTest::newRow("fusion") << int(STREAM_ALL) << 0 << both;
        QTest::newRow("APS") << int(STREAM_APS) << 0 << QStringList();
        QTest::newRow("DVS") << int(STREAM_DVS) << -1 << both;
    }
    void recordedImagesFollowTheViewerType()
    {
        QFETCH(int, viewerType);
        QFETCH(int, frame);
        QFETCH(QStringList, events);
        Session session;
        QVERIFY(session.loadPaused(base + ".raw"));
        QVERIFY(!session.imageAt(2'050'000).isNull());
        // The paused image follows the switch at once.
        const qsizetype before = session.images.size();
        session.processor.slotSetViewerType(STREAM_TYPE(viewerType));
        QTRY_VERIFY(session.images.size() > before);
        const QImage image = session.images.last();
        QCOMPARE(frameShown(image), frame);
        QCOMPARE(eventPixels(image), events);
        if (viewerType == STREAM_DVS)
            QCOMPARE(QColor(image.pixel(900, 100)), ConfigStore::instance()->backgroundColor);
    }

    // Cut while it plays, the open set gives a set of the range: its frames with their times, its
    // calibration; a second cut onto those names is refused and changes nothing.
    void cutOfTheOpenSet()
    {
        Session session;
        QVERIFY(session.loadPaused(base + ".raw"));
        const QString out = dir.filePath("piece.raw");
        for (const char* extension : {".raw", ".mp4", ".json"})
            QFile::remove(dir.filePath("piece") + extension);
        session.processor.slotCutSet(out, dir.path(), 2'050'000, 2'560'000, false, QRect());
        QTRY_COMPARE_WITH_TIMEOUT(session.tips.size(), 1, 30000);
        QVERIFY2(session.tips.first().startsWith("Fusion set cut"), qPrintable(session.tips.first()));
        auto frames = ApsFileReader::createFileReader(dir.filePath("piece.mp4").toStdString());
        std::vector<uint64_t> times;
        QVERIFY(frames && frames->getFrameTimestamps(times));
        // Frames at 2.1 s to 2.5 s on the event clock; the first names the set's offset.
        QCOMPARE(times.size(), size_t(5));
        auto events = DvsFileReader::createFileReader(out.toStdString());
        DvsFileInfo info;
        QVERIFY(events && events->loadFile() && events->getFileInfo(info));
        QCOMPARE(info.apsTimeOffset, int64_t(2'100'000));
        QFile calibration(base + ".json"), copied(dir.filePath("piece.json"));
        QVERIFY(calibration.open(QIODevice::ReadOnly) && copied.open(QIODevice::ReadOnly));
        QCOMPARE(copied.readAll(), calibration.readAll());

        const QDateTime written = QFileInfo(out).lastModified();
        session.processor.slotCutSet(out, dir.path(), 2'050'000, 2'300'000, false, QRect());
        QTRY_COMPARE_WITH_TIMEOUT(session.tips.size(), 2, 30000);
        QVERIFY2(session.tips.last().contains("exists already"), qPrintable(session.tips.last()));
        QCOMPARE(QFileInfo(out).lastModified(), written);

        // A region marked on the image keeps the events shown in it: column 0 is readout 1279.
        const QString region = dir.filePath("region.raw");
        QFile::remove(region);
        session.processor.slotCutSet(region, dir.path(), 2'050'000, 2'560'000, true, QRect(0, 0, 10, 720));
        QTRY_COMPARE_WITH_TIMEOUT(session.tips.size(), 3, 30000);
        auto kept = DvsFileReader::createFileReader(region.toStdString());
        QVERIFY(kept && kept->loadFile());
        const auto inRegion = kept->getEventsByTime(0, 3'000'001);
        QVERIFY(inRegion && inRegion->size() == 1);
        QCOMPARE(inRegion->front().x, uint16_t(1279));
        QVERIFY(!session.processor.isBusy());
    }

    // Saved as a video, the open set gives the images the view type on screen shows as it plays
    // the range: one a frame step, the last at the range's end.
    void exportFollowsTheViewerType_data()
    {
        QTest::addColumn<int>("viewerType");
        QTest::newRow("fusion") << int(STREAM_ALL);
        QTest::newRow("APS") << int(STREAM_APS);
        QTest::newRow("DVS") << int(STREAM_DVS);
    }
    void exportFollowsTheViewerType()
    {
        QFETCH(int, viewerType);
        Session session;
        QVERIFY(session.loadPaused(base + ".raw"));
        session.processor.slotSetViewerType(STREAM_TYPE(viewerType));
        const QString out = dir.filePath("clip.mp4");
        QFile::remove(out);
        session.processor.slotExportSet(out, dir.path(), 2'050'000, 2'250'000, false, QRect());
        QTRY_COMPARE_WITH_TIMEOUT(session.tips.size(), 1, 30000);
        QCOMPARE(session.tips.first(), QString("Export video success!"));
        auto video = ApsFileReader::createFileReader(out.toStdString());
        std::vector<uint64_t> times;
        QVERIFY(video && video->getFrameTimestamps(times));
        const uint64_t step = session.processor.frameStep();
        // From the start by whole steps, and one more at the end.
        QCOMPARE(times.size(), size_t((200'000 + step - 1) / step + 1));
        ApsFrame image;
        for (size_t i = 0; i < times.size(); ++i) {
            QVERIFY(video->getNextFrame(image));
            const QImage shown = session.imageAt(i + 1 == times.size() ? 2'250'000 : 2'050'000 + i * step);
            const uint8_t* pixel = image.data() + (100 * 1280 + 900) * 3;
            QVERIFY2(isGrey(shown.pixel(900, 100), pixel[1]), qPrintable(QString("image %1: %2").arg(i).arg(pixel[1])));
        }
    }

    // The fusion camera records the sensor's readout; played back, an event lands on the column
    // the live view showed it in.
    void recordedEventShowsWhereItShowedLive_data()
    {
        QTest::addColumn<int>("x");
        QTest::newRow("left edge") << 0;
        QTest::newRow("second column") << 1;
        QTest::newRow("middle") << 640;
        QTest::newRow("right edge") << 1279;
    }
    void recordedEventShowsWhereItShowedLive()
    {
        QFETCH(int, x);
        const Event2D live(uint16_t(x), 7, 1, 1000);
        const QString path = dir.filePath(QString("mirror%1.raw").arg(x));
        {
            StreamRecorder recorder("mirror-test");
            RawHeaderInfo header;
            header.width = 1280;
            header.height = 720;
            QVERIFY(recorder.start(path.toStdString(), header, true));
            auto chunk = std::make_shared<StreamChunk>();
            chunk->end = 2000;
            chunk->events = {live};
            recorder.push(chunk);
            QVERIFY(recorder.stop());
        }
        auto reader = DvsFileReader::createFileReader(path.toStdString());
        QVERIFY(reader && reader->loadFile());
        const auto recorded = reader->getEventsByTime(0, 2000);
        QVERIFY(recorded && recorded->size() == 1);
        auto drawn = [](const Event2D* e, bool mirrored, const EventRegion* only = nullptr) {
            QImage image(1280, 720, QImage::Format_BGR888);
            image.fill(Qt::black);
            const sorvane::Palette colours = ConfigStore::instance()->eventColors().palette();
            sorvane::drawEventsOver(image.bits(), size_t(image.bytesPerLine()), e, e + 1, mirrored, colours.positive,
                                    colours.negative, only);
            return eventPixels(image);
        };
        const QStringList column{QString("%1,7+").arg(x)};
        QCOMPARE(drawn(&live, false), column);
        QCOMPARE(drawn(recorded->data(), true), column);
        // A region marked on the image is where the event shows, not where the sensor read it.
        const EventRegion around{uint32_t(x), 7, uint32_t(x), 7};
        QCOMPARE(drawn(recorded->data(), true, &around), column);
        const EventRegion beside{uint32_t(x == 0 ? 1 : x - 1), 0, uint32_t(x == 0 ? 1 : x - 1), 719};
        QCOMPARE(drawn(recorded->data(), true, &beside), QStringList{});
    }

    void secondOpenWhileLoadingIsRefused()
    {
        Session session;
        QVERIFY(session.processor.slotReadFusionFile(base + ".raw"));
        QVERIFY(!session.processor.slotReadFusionFile(base + ".raw"));
        QTRY_VERIFY(session.loadings.size() >= 2);
    }

    // Closed or destroyed while loading: the load is stopped, nothing is left running.
    void closedWhileLoading()
    {
        {
            SvFusionCameraDataProcessor processor;
            QVERIFY(processor.slotReadFusionFile(base + ".raw"));
        }
        Session session;
        QVERIFY(session.processor.slotReadFusionFile(base + ".raw"));
        QVERIFY(!session.processor.slotReadFusionFile(QString()));
        QVERIFY(!session.processor.isBusy());
        QVERIFY(session.load(base + ".mp4"));
    }

    // A calibration for another event sensor would map frames onto a grid that is not there: it
    // is refused with a tip.
    void calibrationOfAnotherSensorIsRefused()
    {
        Session session;
        CalibratorParameters other;
        other.dvsWidth = 640;
        other.dvsHeight = 720;
        other.apsWidth = 1920;
        other.apsHeight = 1080;
        session.processor.setCalibrationParameters(other);
        QTRY_COMPARE(session.tips.size(), 1);
        QVERIFY2(session.tips.first().contains("is not for a 1280 x 720 event sensor"), qPrintable(session.tips.first()));
    }

    void liveImagesFollowTheViewerType_data()
    {
        QTest::addColumn<int>("viewerType");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("frameGrey");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("nextEvents"); // of the frame after
        QTest::newRow("APS") << int(STREAM_APS) << true << 120 << QStringList() << QStringList();
        QTest::newRow("fusion") << int(STREAM_ALL) << true << 120 << QStringList{"5,6+", "1279,10-"}
                                << QStringList{"100,100+"};
        QTest::newRow("fusion, camera disconnected") << int(STREAM_ALL) << false << -1 << QStringList() << QStringList();
        // Counted events on the background; two events of one pixel and polarity count once, and
        // each image counts only the events since the one before.
        QTest::newRow("DVS") << int(STREAM_DVS) << true << -2 << QStringList{"5,6+", "1279,10-"}
                             << QStringList{"100,100+"};
    }
    void liveImagesFollowTheViewerType()
    {
        QFETCH(int, viewerType);
        QFETCH(bool, connected);
        QFETCH(int, frameGrey);
        QFETCH(QStringList, events);
        QFETCH(QStringList, nextEvents);
        const std::string serial = SimulatedCameraProvider::serialOf("Tandem");
        DvsCameraManager manager;
        Session session;
        auto camera = manager.openFusionCamera(serial);
        QVERIFY(camera);
        SimulatedCameraProvider::setPlugged(serial, connected);
        auto restore = qScopeGuard([&] { SimulatedCameraProvider::setPlugged(serial, true); });
        CalibratorParameters calibration;
        QVERIFY(camera->getCalibratorParameters(calibration));
        session.processor.setCalibrationParameters(calibration);
        session.processor.setFusionCamera(camera);
        session.processor.slotSetViewerType(STREAM_TYPE(viewerType));

        // The frame exposed from the sync edge at 700 to the next one at 800.
        ApsFrame frame(SimulatedFusionCamera::ApsWidth, SimulatedFusionCamera::ApsHeight, 0, 700);
        std::fill(frame.data(), frame.data() + frame.getDataSize(), uint8_t(120));
        // Live events are not mirrored.
        const std::vector<Event2D> batch{{5, 6, 1, 710}, {5, 6, 1, 720}, {1279, 10, 0, 730}};
        session.processor.addSyncSignal(EventTriggerIn(0, 1, 700));
        session.processor.addApsFrame(frame);
        session.processor.addDvsEvents(batch.data(), batch.data() + batch.size());
        session.processor.addSyncSignal(EventTriggerIn(0, 0, 750)); // falling edge: no sync
        session.processor.addSyncSignal(EventTriggerIn(0, 1, 800));
        if (frameGrey == -1) {
            QTest::qWait(200);
            QVERIFY(session.images.isEmpty());
            return;
        }
        QTRY_COMPARE(session.images.size(), 1);
        QCOMPARE(session.lastTime, uint64_t(700));
        const QImage image = session.images.first();
        QCOMPARE(image.size(), QSize(1280, 720));
        const QRgb centre = image.pixel(640, 360);
        if (frameGrey >= 0)
            QVERIFY(isGrey(centre, frameGrey));
        else
            QCOMPARE(centre | 0xFF000000, ConfigStore::instance()->backgroundColor.rgb());
        QCOMPARE(eventPixels(image), events);

        frame.setTimestamp(800);
        const Event2D next{100, 100, 1, 810};
        session.processor.addApsFrame(frame);
        session.processor.addDvsEvents(&next, &next + 1);
        session.processor.addSyncSignal(EventTriggerIn(0, 1, 900));
        QTRY_COMPARE(session.images.size(), 2);
        QCOMPARE(eventPixels(session.images.last()), nextEvents);
    }
};

QTEST_MAIN(TestFusionPlayback)
#include "tst_fusionplayback.moc"
