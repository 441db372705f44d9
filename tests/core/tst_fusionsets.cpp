// Fusion sets (NAME.raw, NAME.mp4, NAME.json): svraw info, cut and export of a set, and the core's
// cut and export.
#include "RawTestData.h"
#include "SvrawRunner.h"

#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Video/ApsFileReader.h"
#include "SorvaneDriver/Video/Mp4FrameWriter.h"
#include "SorvaneDriver/Video/SetCut.h"
#include "SorvaneDriver/Video/VideoExport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace sorvane;
using namespace svrawtest;

namespace {

// Events over [0, ~2 s] with trigger edges; 30 frames from kOffset on, one every kStep, so the
// video ends long before the events. Frame i is grey level 8 * i.
constexpr int64_t kOffset = 150000;
constexpr uint64_t kStep = 40000;
constexpr int kFrames = 30;
const QByteArray kCalibration = R"({"serial": "TD1", "affine_matrix": {"0": {"data": [0.5, 0, -5, 0, 0.5, -10]}}})";

bool makeSet(const QString& folder)
{
    rawtest::Stream stream;
    stream.events = rawtest::makeEvents(7, 20000, 0, 800);
    for (uint64_t t = 25000; t < stream.events.back().timestamp; t += 50000)
        stream.triggers.emplace_back(int16_t(0), int16_t(t / 50000 % 2), t);
    RawEventWriter events;
    RawHeaderInfo header;
    header.extraKeys["apsTimeOffset"] = std::to_string(kOffset);
    bool ok = events.open((folder + "/set.raw").toStdString(), header);
    for (const EventTriggerIn& edge : stream.triggers) {
        auto upTo = std::find_if(stream.events.begin(), stream.events.end(),
                                 [&](const Event2D& e) { return e.timestamp > edge.timestamp; });
        ok = ok && events.write(stream.events.data(), &*upTo) && events.writeTrigger(edge);
        stream.events.erase(stream.events.begin(), upTo);
    }
    ok = ok && events.write(stream.events.data(), stream.events.data() + stream.events.size()) && events.close();
    Mp4FrameWriter frames;
    Mp4FrameWriter::Options options;
    options.timestamped = true;
    options.keyframeInterval = 8;
    ok = ok && frames.open((folder + "/set.mp4").toStdString(), 64, 48, 25, options);
    for (int i = 0; ok && i < kFrames; ++i)
        ok = frames.writeFrame(std::vector<uint8_t>(64 * 48 * 3, uint8_t(8 * i)).data(), i * kStep);
    QFile json(folder + "/set.json");
    return ok && frames.close() && json.open(QIODevice::WriteOnly) && json.write(kCalibration) == kCalibration.size();
}

// A set painted to be seen: 10 flat frames of 64 x 36, frame k of grey 20 + 10 k at 100 ms + k
// 100 ms, mapped over the whole event grid; a 32 x 32 block of positive events read out at
// x 100..131, y 200..231 (shown at columns 1148..1179) at 480 ms; the last event at 1 s.
constexpr uint64_t kPaintedOffset = 100000;
constexpr uint64_t kPaintedStep = 100000;
constexpr uint64_t kBlockTime = 480000;

int paintedGrey(uint64_t t)
{
    return 20 + 10 * int((t - kPaintedOffset) / kPaintedStep);
}

bool makePaintedSet(const QString& folder)
{
    std::vector<Event2D> events;
    for (uint16_t y = 200; y < 232; ++y)
        for (uint16_t x = 100; x < 132; ++x)
            events.push_back({x, y, 1, kBlockTime});
    events.push_back({0, 0, 0, 1000000});
    RawEventWriter writer;
    RawHeaderInfo header;
    header.extraKeys["apsTimeOffset"] = std::to_string(kPaintedOffset);
    bool ok = writer.open((folder + "/set.raw").toStdString(), header)
        && writer.write(events.data(), events.data() + events.size()) && writer.close();
    Mp4FrameWriter frames;
    Mp4FrameWriter::Options options;
    options.timestamped = true;
    ok = ok && frames.open((folder + "/set.mp4").toStdString(), 64, 36, 10, options);
    for (uint64_t k = 0; ok && k < 10; ++k)
        ok = frames.writeFrame(std::vector<uint8_t>(64 * 36 * 3, uint8_t(paintedGrey(kPaintedOffset + k * kPaintedStep))).data(),
                               k * kPaintedStep);
    const QByteArray calibration = R"({
      "0": {"camera_serial": "TD1", "frame_size": {"cols": 1280, "rows": 720},
            "camera_matrix": {"rows": 3, "cols": 3, "type": 6, "data": [1, 0, 0, 0, 1, 0, 0, 0, 1]},
            "dist_coeffs": {"rows": 1, "cols": 5, "type": 6, "data": [0, 0, 0, 0, 0]},
            "affine_matrix": {"1": {"rows": 2, "cols": 3, "type": 6, "data": [0.05, 0, 0, 0, 0.05, 0]}}},
      "1": {"frame_size": {"cols": 64, "rows": 36}}})";
    QFile json(folder + "/set.json");
    return ok && frames.close() && json.open(QIODevice::WriteOnly) && json.write(calibration) == calibration.size();
}

// Whether a decoded BGR pixel is near colour.
bool near(const ApsFrame& frame, int x, int y, Rgb colour, int tolerance)
{
    const uint8_t* p = frame.data() + (size_t(y) * size_t(frame.getWidth()) + size_t(x)) * 3;
    return std::abs(p[2] - colour.r) <= tolerance && std::abs(p[1] - colour.g) <= tolerance
        && std::abs(p[0] - colour.b) <= tolerance;
}

QJsonObject info(const QString& path, const QString& folder)
{
    const Run run = svraw({"info", "--no-cache", path}, folder);
    return QJsonDocument::fromJson(run.out).object();
}

// Every event and trigger edge of [start, end], in order, as text to compare.
QByteArray contents(const std::string& path, uint64_t start, uint64_t end)
{
    auto reader = DvsFileReader::createFileReader(path);
    QByteArray text;
    if (!reader)
        return text;
    reader->setIndexCaching(IndexCaching::Off);
    reader->loadFile();
    reader->readEvents(start, end, [&](std::span<const Event2D> events) {
        for (const Event2D& e : events)
            text += QByteArray::number(e.x) + ',' + QByteArray::number(e.y) + ',' + QByteArray::number(e.polarity) + ','
                + QByteArray::number(qulonglong(e.timestamp)) + '\n';
        return true;
    });
    for (const EventTriggerIn& edge : reader->getTriggerEvents(start, end))
        text += "edge " + QByteArray::number(edge.id) + ',' + QByteArray::number(edge.polarity) + ','
            + QByteArray::number(qulonglong(edge.timestamp)) + '\n';
    return text;
}

QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList({"*svtmp*", "out.*"}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestFusionSets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void cutKeepsTheFramesOfTheRange_data()
    {
        QTest::addColumn<qulonglong>("start");
        QTest::addColumn<qulonglong>("end");
        QTest::addColumn<int>("first"); // first frame kept
        QTest::addColumn<int>("count");
        QTest::newRow("ends between two frames") << 200000ULL << 405000ULL << 2 << 5;
        QTest::newRow("starts and ends on frames") << 190000ULL << 390000ULL << 1 << 6;
        QTest::newRow("the video ends first") << 1000000ULL << 1900000ULL << 22 << 8;
        QTest::newRow("one frame") << 1310000ULL << 1310000ULL << 29 << 1;
    }
    void cutKeepsTheFramesOfTheRange()
    {
        QFETCH(qulonglong, start);
        QFETCH(qulonglong, end);
        QFETCH(int, first);
        QFETCH(int, count);
        QTemporaryDir dir;
        QVERIFY(makeSet(dir.path()));
        const QString out = dir.filePath("out.raw");
        const Run run = svraw({"cut", "--no-cache", dir.filePath("set.raw"), out, "--start", QString::number(start),
                               "--end", QString::number(end)}, dir.path());
        QVERIFY2(run.status == 0, run.err.constData());
        QCOMPARE(contents(out.toStdString(), 0, UINT64_MAX), contents(dir.filePath("set.raw").toStdString(), start, end));
        const QJsonObject set = info(out, dir.path());
        QCOMPARE(set["aps_frames"].toInt(), count);
        QCOMPARE(set["aps_time_offset_us"].toInteger(), kOffset + first * int64_t(kStep));
        auto video = ApsFileReader::createFileReader(dir.filePath("out.mp4").toStdString());
        std::vector<uint64_t> pts;
        QVERIFY(video && video->getFrameTimestamps(pts));
        QCOMPARE(int(pts.size()), count);
        ApsFrame frame;
        for (int i = 0; i < count; ++i) {
            QCOMPARE(pts[size_t(i)], uint64_t(i) * kStep);
            QVERIFY(video->getNextFrame(frame));
            QVERIFY2(std::abs(int(frame.data()[0]) - 8 * (first + i)) <= 3, qPrintable(QString::number(frame.data()[0])));
        }
        QFile json(dir.filePath("out.json"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        QCOMPARE(json.readAll(), kCalibration);
    }

    void infoOfASet()
    {
        QTemporaryDir dir;
        QVERIFY(makeSet(dir.path()));
        // Known from any member.
        for (const char* member : {"set.raw", "set.mp4", "set.json"}) {
            const QJsonObject set = info(dir.filePath(member), dir.path());
            QCOMPARE(set["path"].toString(), dir.filePath("set.raw"));
            QCOMPARE(set["aps_frames"].toInt(), kFrames);
            QCOMPARE(set["aps_fps"].toDouble(), 25.0);
            QCOMPARE(set["aps_first_frame_us"].toInteger(), kOffset);
            QCOMPARE(set["aps_last_frame_us"].toInteger(), kOffset + (kFrames - 1) * int64_t(kStep));
        }
    }

    void cutRefused_data()
    {
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("existing"); // a file there before, left as it is
        QTest::addColumn<QString>("message");
        QTest::newRow("after the events") << "out.raw" << "5000000,6000000" << "" << "lies outside the set, which spans [";
        QTest::newRow("before the first frame") << "out.raw" << "0,140000" << "" << "no frame lies in [0, 140000]";
        QTest::newRow("start after end") << "out.raw" << "300000,200000" << "" << "lies after";
        QTest::newRow("a member exists") << "out.raw" << "0,900000" << "out.mp4" << "out.mp4 exists already";
        QTest::newRow("calibration exists") << "out.raw" << "0,900000" << "out.json" << "out.json exists already";
        QTest::newRow("the input's own set") << "set.raw" << "0,900000" << "" << "belongs to the input's own set";
    }
    void cutRefused()
    {
        QFETCH(QString, out);
        QFETCH(QString, range);
        QFETCH(QString, existing);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(makeSet(dir.path()));
        QFile before(dir.filePath(existing));
        QVERIFY(existing.isEmpty() || (before.open(QIODevice::WriteOnly) && before.write("mine") == 4));
        before.close();
        const QByteArray input = contents(dir.filePath("set.raw").toStdString(), 0, UINT64_MAX);
        const QStringList bounds = range.split(',');
        const Run run = svraw({"cut", "--no-cache", dir.filePath("set.raw"), dir.filePath(out), "--start", bounds[0],
                               "--end", bounds[1]}, dir.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
        QCOMPARE(leftovers(dir.path()), existing.isEmpty() ? QStringList() : QStringList{existing});
        QVERIFY(existing.isEmpty() || (before.open(QIODevice::ReadOnly) && before.readAll() == "mine"));
        QCOMPARE(contents(dir.filePath("set.raw").toStdString(), 0, UINT64_MAX), input);
    }

    void forceReplacesTheWholeSet()
    {
        QTemporaryDir dir;
        QVERIFY(makeSet(dir.path()));
        for (const char* name : {"out.raw", "out.mp4", "out.json"}) {
            QFile old(dir.filePath(name));
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        }
        const QStringList cut{"cut", "--no-cache", dir.filePath("set.raw"), dir.filePath("out.raw"), "--start", "0",
                              "--end", "500000"};
        QCOMPARE(svraw(cut, dir.path()).status, 1);
        QCOMPARE(QFileInfo(dir.filePath("out.mp4")).size(), 3);
        QCOMPARE(svraw(cut + QStringList{"--force"}, dir.path()).status, 0);
        QCOMPARE(info(dir.filePath("out.raw"), dir.path())["aps_frames"].toInt(), 9);
        QCOMPARE(QFileInfo(dir.filePath("out.json")).size(), kCalibration.size());
    }

    // Each image is the picture the view shows as it plays the range: the frame whose time has
    // come, under the events of the accumulation before it where the view shows them.
    void exportPaintsWhatTheViewShows_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<qulonglong>("start"); // the range held to the set
        QTest::addColumn<qulonglong>("end");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("blockFrom"); // first shown column of the block; 0: none shown
        const QStringList all{"--start", "0", "--end", "2000000"};
        QTest::newRow("fusion") << "fusion" << all << 100000ULL << 1000000ULL << 10 << 1148;
        QTest::newRow("frames alone") << "aps" << all << 100000ULL << 1000000ULL << 10 << 0;
        QTest::newRow("events alone") << "dvs" << all << 100000ULL << 1000000ULL << 10 << 1148;
        QTest::newRow("region of the readout") << "fusion" << (all + QStringList{"--roi", "100,200,115,231"})
                                               << 100000ULL << 1000000ULL << 10 << 1164;
        // 100, 200, 300, 400 and 450 ms.
        QTest::newRow("ends between two frames") << "fusion" << QStringList{"--end", "450000"} << 100000ULL
                                                 << 450000ULL << 5 << 1148;
    }
    void exportPaintsWhatTheViewShows()
    {
        QFETCH(QString, view);
        QFETCH(QStringList, extra);
        QFETCH(qulonglong, start);
        QFETCH(qulonglong, end);
        QFETCH(int, count);
        QFETCH(int, blockFrom);
        QTemporaryDir dir;
        QVERIFY(makePaintedSet(dir.path()));
        const QString out = dir.filePath("out.mp4");
        const Run run = svraw(QStringList{"export", "--no-cache", dir.filePath("set.raw"), out, "--view", view, "--fps",
                                          "10", "--acc-us", "50000"} + extra, dir.path());
        QVERIFY2(run.status == 0, run.err.constData());
        QVERIFY2(run.err.contains("writing " + QByteArray::number(count) + " frames"), run.err.constData());
        auto video = ApsFileReader::createFileReader(out.toStdString());
        std::vector<uint64_t> pts;
        QVERIFY(video && video->getFrameTimestamps(pts));
        QCOMPARE(pts.size(), size_t(count));
        const Palette& gray = *paletteNamed("Gray");
        ApsFrame image;
        for (int i = 0; i < count; ++i) {
            QVERIFY(video->getNextFrame(image));
            QCOMPARE(image.getWidth(), 1280);
            const uint64_t t = i + 1 == count ? end : start + uint64_t(i) * kPaintedStep;
            const int grey = paintedGrey(t);
            const Rgb frame = view == "dvs" ? gray.background : Rgb{uint8_t(grey), uint8_t(grey), uint8_t(grey)};
            const bool blockShown = blockFrom > 0 && view != "aps" && t - 50000 < kBlockTime && kBlockTime <= t;
            const QByteArray where = QByteArray::number(qulonglong(t));
            QVERIFY2(near(image, 600, 400, frame, 8), where);
            QVERIFY2(near(image, 1172, 215, blockShown ? gray.positive : frame, 24), where);
            // Left of the region, or where the readout's own columns would put the block.
            QVERIFY2(near(image, 1150, 215, blockShown && blockFrom == 1148 ? gray.positive : frame, 24), where);
            QVERIFY2(near(image, 115, 215, frame, 24), where);
        }
        QCOMPARE(leftovers(dir.path()), QStringList{"out.mp4"});
    }

    // A video cut short: its index names frames its bytes no longer hold. Each image the damage
    // took shows the last frame that could be decoded, as the view goes on showing it.
    void damagedFramesHoldTheLastGoodOne()
    {
        QTemporaryDir dir;
        QVERIFY(makePaintedSet(dir.path()));
        QFile video(dir.filePath("set.mp4"));
        // The last frames' bytes: each of these flat frames takes a few bytes.
        QVERIFY(video.resize(video.size() - 40));
        const QString out = dir.filePath("out.mp4");
        const Run run = svraw({"export", "--no-cache", dir.filePath("set.raw"), out, "--view", "aps", "--fps", "10"},
                              dir.path());
        QVERIFY2(run.status == 0, run.err.constData());
        auto exported = ApsFileReader::createFileReader(out.toStdString());
        std::vector<uint64_t> pts;
        QVERIFY(exported && exported->getFrameTimestamps(pts));
        QCOMPARE(pts.size(), size_t(10));
        QList<int> greys;
        ApsFrame image;
        while (exported->getNextFrame(image))
            greys << image.data()[(400 * 1280 + 600) * 3];
        QCOMPARE(greys.size(), 10);
        // Each image shows its own frame or an earlier one, never a later one or black; the lost
        // last frame's image shows one before it.
        int shown = 0;
        for (int k = 0; k < 10; ++k) {
            int frame = k;
            while (frame >= 0 && std::abs(greys[k] - paintedGrey(kPaintedOffset + uint64_t(frame) * kPaintedStep)) > 4)
                --frame;
            QVERIFY2(frame >= shown, qPrintable(QString("image %1: grey %2").arg(k).arg(greys[k])));
            shown = frame;
        }
        QVERIFY(shown < 9);
    }

    void exportRefused_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after export IN
        QTest::addColumn<QString>("existing");      // a file there before, left as it is
        QTest::addColumn<QString>("message");
        QTest::newRow("before the first frame") << QStringList{"out.mp4", "--view", "fusion", "--end", "50000"} << ""
                                                << "lies outside the recording, which spans [100000, 1000000]";
        QTest::newRow("onto the set's video") << QStringList{"set.mp4", "--view", "aps"} << "" << "the input's own set";
        QTest::newRow("over a file") << QStringList{"out.mp4", "--view", "dvs"} << "out.mp4" << "exists already";
        QTest::newRow("unknown view") << QStringList{"out.mp4", "--view", "both"} << "" << "unknown view 'both'";
        QTest::newRow("an unreadable calibration") << QStringList{"out.mp4", "--view", "fusion"} << "set.json"
                                                   << "set.json cannot be read";
    }
    void exportRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, existing);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(makePaintedSet(dir.path()));
        QFile before(dir.filePath(existing));
        QVERIFY(existing.isEmpty() || (before.open(QIODevice::WriteOnly) && before.write(R"({"0": {}})") == 9));
        before.close();
        arguments[0] = dir.filePath(arguments[0]);
        const Run run = svraw(QStringList{"export", "--no-cache", dir.filePath("set.raw")} + arguments, dir.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
        QCOMPARE(leftovers(dir.path()), existing == "out.mp4" ? QStringList{existing} : QStringList());
        QVERIFY(existing.isEmpty() || (before.open(QIODevice::ReadOnly) && before.readAll() == R"({"0": {}})"));
        QVERIFY(QFileInfo(dir.filePath("set.mp4")).size() > 1000);
    }

    // A plain recording has nothing but events to paint.
    void viewNeedsASet()
    {
        QTemporaryDir dir;
        QVERIFY(makePaintedSet(dir.path()));
        QVERIFY(QFile::rename(dir.filePath("set.mp4"), dir.filePath("frames.mp4")));
        const Run run = svraw({"export", dir.filePath("set.raw"), dir.filePath("out.mp4"), "--view", "fusion"}, dir.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("has no NAME.mp4 beside it"), run.err.constData());
    }

    void exportCancelLeavesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(makePaintedSet(dir.path()));
        const std::string path = dir.filePath("set.raw").toStdString();
        auto reader = DvsFileReader::createFileReader(path);
        reader->setIndexCaching(IndexCaching::Off);
        QVERIFY(reader->loadFile());
        std::atomic<bool> cancelled{false};
        std::string error;
        FusionExportOptions options;
        options.video.frameStep = 10000;
        QVERIFY(!exportFusionVideo(*reader, path, 0, 1000000, dir.filePath("out.mp4").toStdString(), ExistingFile::Refuse,
                                   options, [&](double f) { cancelled.store(f >= 0.5); }, cancelled, error));
        QVERIFY2(error.ends_with("cancelled"), error.c_str());
        QCOMPARE(leftovers(dir.path()), QStringList());
    }

    // Cancelled before anything, after the events, and as the frames are written.
    void cancelLeavesNothing_data()
    {
        QTest::addColumn<double>("at");
        QTest::newRow("before") << -1.0;
        QTest::newRow("among the events") << 0.0;
        QTest::newRow("after the events") << 0.2;
        QTest::newRow("among the frames") << 0.5;
    }
    void cancelLeavesNothing()
    {
        QFETCH(double, at);
        QTemporaryDir dir;
        QVERIFY(makeSet(dir.path()));
        const std::string path = dir.filePath("set.raw").toStdString();
        auto reader = DvsFileReader::createFileReader(path);
        reader->setIndexCaching(IndexCaching::Off);
        QVERIFY(reader->loadFile());
        std::atomic<bool> cancelled{at < 0};
        std::string error;
        QVERIFY(!cutFusionSet(*reader, path, 0, 1500000, dir.filePath("out.raw").toStdString(), ExistingFile::Refuse,
                              [&](double f) { cancelled.store(cancelled.load() || f >= at); }, cancelled, error));
        QVERIFY2(error.ends_with("cancelled"), error.c_str());
        QCOMPARE(leftovers(dir.path()), QStringList());
        // The reader goes on working.
        QVERIFY(!reader->getTriggerEvents(0, 1000000).empty());
        QVERIFY(reader->exportEventData(0, 1000000, dir.filePath("after.raw").toStdString()));
    }
};

QTEST_GUILESS_MAIN(TestFusionSets)
#include "tst_fusionsets.moc"
