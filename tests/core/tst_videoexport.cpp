// Event video export, over an in-memory recording, read back through the APS frame reader.
#include "ErrorLog.h"

#include <SorvaneDriver/Video/ApsFileReader.h>
#include <SorvaneDriver/Video/VideoExport.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace sorvane;

Q_DECLARE_METATYPE(sorvane::Rgb)

namespace {

// A recording held in memory: events sorted by time, answered the way the file reader does.
class MemoryRecording final : public DvsFileReader {
public:
    MemoryRecording(std::vector<Event2D> events_, int width_, int height_, bool knowsGeometry_ = true)
        : events(std::move(events_)), width(width_), height(height_), knowsGeometry(knowsGeometry_)
    {
        std::stable_sort(events.begin(), events.end(),
                         [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
    }

    bool loadFile() override { return true; }
    bool getStartTimestamp(uint64_t& t) override
    {
        if (events.empty())
            return false;
        t = events.front().timestamp;
        return true;
    }
    bool getEndTimestamp(uint64_t& t) override
    {
        if (events.empty())
            return false;
        t = events.back().timestamp;
        return true;
    }
    bool seekTime(uint64_t t) override
    {
        position = firstAtOrAfter(t);
        return position < events.size();
    }
    std::shared_ptr<EventBuffer> getNTimeEvents(uint64_t duration) override
    {
        if (position >= events.size())
            return nullptr;
        return getEventsByTime(events[position].timestamp, duration);
    }
    std::shared_ptr<EventBuffer> getEventsByTime(uint64_t start, uint64_t duration) override
    {
        if (events.empty() || start > events.back().timestamp)
            return nullptr;
        const size_t from = firstAtOrAfter(start);
        const size_t to = firstAtOrAfter(start + duration);
        position = to;
        return std::make_shared<EventBuffer>(events.begin() + long(from), events.begin() + long(to));
    }
    bool readEvents(uint64_t start, uint64_t end, const EventBlockSink& sink) override
    {
        const size_t from = firstAtOrAfter(start);
        const size_t to = end == UINT64_MAX ? events.size() : firstAtOrAfter(end + 1);
        return from >= to || sink(std::span<const Event2D>(events.data() + from, to - from));
    }
    bool exportEventData(uint64_t, uint64_t, const std::string&, ExistingFile) override { return false; }
    bool exportVideo(uint64_t start, uint64_t end, const std::string& path, ExistingFile = ExistingFile::Refuse) override
    {
        return exportEventVideo(*this, start, end, path, options, progress, cancelled, error);
    }
    std::string lastError() const override { return error; }
    bool getFileInfo(DvsFileInfo& info) override
    {
        if (!knowsGeometry)
            return false;
        info.encoding = "EVT3.0";
        info.width = width;
        info.height = height;
        info.eventCount = events.size();
        return true;
    }
    bool readTriggerEvents(uint64_t, uint64_t, const TriggerBlockSink&) override { return true; }
    void setVideoExportOptions(const VideoExportOptions& value) override { options = value; }
    void setProgressCallback(ProgressCallback callback) override { progress = std::move(callback); }
    void cancel() override { cancelled = true; }
    void resetCancel() override { cancelled = false; }

private:
    size_t firstAtOrAfter(uint64_t t) const
    {
        return size_t(std::lower_bound(events.begin(), events.end(), t,
                                       [](const Event2D& e, uint64_t value) { return e.timestamp < value; })
                      - events.begin());
    }

    std::vector<Event2D> events;
    int width;
    int height;
    bool knowsGeometry;
    size_t position = 0;
    VideoExportOptions options;
    ProgressCallback progress;
    std::atomic<bool> cancelled{false};
    std::string error;
};

// A square block of events, each pixel getting `positives` polarity-1 and `negatives`
// polarity-0 events at time t.
void addBlock(std::vector<Event2D>& events, int x0, int y0, int size, int positives, int negatives, uint64_t t)
{
    for (int y = y0; y < y0 + size; ++y)
        for (int x = x0; x < x0 + size; ++x) {
            for (int i = 0; i < positives; ++i)
                events.emplace_back(uint16_t(x), uint16_t(y), 1, t);
            for (int i = 0; i < negatives; ++i)
                events.emplace_back(uint16_t(x), uint16_t(y), 0, t);
        }
}

// Flat colours survive the encoder to within this at a block's centre.
constexpr int tolerance = 14;

bool pixelIs(const ApsFrame& frame, int x, int y, const Rgb& want, QString* why)
{
    const uint8_t* pixel = frame.data() + (size_t(y) * size_t(frame.getWidth()) + size_t(x)) * 3;
    if (std::abs(pixel[2] - want.r) <= tolerance && std::abs(pixel[1] - want.g) <= tolerance
        && std::abs(pixel[0] - want.b) <= tolerance)
        return true;
    *why = QString("pixel (%1, %2) of frame %3 is %4,%5,%6, not %7,%8,%9")
               .arg(x).arg(y).arg(frame.getHeader()).arg(pixel[2]).arg(pixel[1]).arg(pixel[0])
               .arg(want.r).arg(want.g).arg(want.b);
    return false;
}

std::vector<ApsFrame> readAll(const std::string& path)
{
    std::vector<ApsFrame> frames;
    auto reader = ApsFileReader::createFileReader(path);
    if (!reader)
        return frames;
    ApsFrame frame;
    while (reader->getNextFrame(frame))
        frames.push_back(frame);
    return frames;
}

// One event every millisecond for a second, somewhere on the sensor.
std::vector<Event2D> steadyStream(uint64_t from = 0)
{
    std::vector<Event2D> events;
    for (uint64_t t = 0; t < 1000000; t += 1000)
        events.emplace_back(uint16_t(t / 1000 % 640), uint16_t(t / 7000 % 480), uint8_t(t / 1000 % 2), from + t);
    return events;
}

QStringList entriesOf(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TestVideoExport : public QObject {
    Q_OBJECT

private slots:
    // Frames at start, start + step, ... up to and including end; an export that cannot be made
    // fails loudly and leaves nothing.
    void frameCount_data()
    {
        QTest::addColumn<qulonglong>("start");
        QTest::addColumn<qulonglong>("end");
        QTest::addColumn<qulonglong>("frameStep");
        QTest::addColumn<qulonglong>("accTime");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("frames"); // 0: refused
        QTest::addColumn<qulonglong>("firstEvent"); // all ones: no events
        QTest::addColumn<QString>("target");
        QTest::newRow("whole second") << 0ull << 999000ull << 33333ull << 33333ull << 30 << 30 << 0ull << "v.mp4";
        QTest::newRow("end on a frame") << 0ull << 99999ull << 33333ull << 33333ull << 30 << 4 << 0ull << "v.mp4";
        QTest::newRow("single instant") << 500000ull << 500000ull << 33333ull << 33333ull << 30 << 1 << 0ull << "v.mp4";
        QTest::newRow("overlapping windows") << 0ull << 999000ull << 50000ull << 100000ull << 30 << 20 << 0ull << "v.mp4";
        QTest::newRow("slow motion at 60 fps") << 100000ull << 299000ull << 10000ull << 10000ull << 60 << 20 << 0ull << "v.mp4";
        // A start long before the first event (at 10 s) moves on by whole frame steps:
        // frames at 9 999 900, ..., 10 099 899 µs.
        QTest::newRow("leading gap skipped") << 0ull << 10100000ull << 33333ull << 33333ull << 30 << 4 << 10000000ull << "v.mp4";
        // The range is held to the recorded events (0 .. 999000 µs).
        QTest::newRow("range beyond the events") << 900000ull << 50000000000ull << 33333ull << 33333ull << 30 << 3 << 0ull << "v.mp4";
        QTest::newRow("start after end") << 600000ull << 500000ull << 33333ull << 33333ull << 30 << 0 << 0ull << "v.mp4";
        QTest::newRow("after the last event") << 2000000ull << 3000000ull << 33333ull << 33333ull << 30 << 0 << 0ull << "v.mp4";
        QTest::newRow("zero frame step") << 0ull << 500000ull << 0ull << 33333ull << 30 << 0 << 0ull << "v.mp4";
        QTest::newRow("zero accumulation") << 0ull << 500000ull << 33333ull << 0ull << 30 << 0 << 0ull << "v.mp4";
        QTest::newRow("zero fps") << 0ull << 500000ull << 33333ull << 33333ull << 0 << 0 << 0ull << "v.mp4";
        QTest::newRow("missing folder") << 0ull << 500000ull << 33333ull << 33333ull << 30 << 0 << 0ull << "no/such/v.mp4";
        QTest::newRow("recording without events") << 0ull << 500000ull << 33333ull << 33333ull << 30 << 0 << ~0ull << "v.mp4";
    }

    void frameCount()
    {
        QFETCH(qulonglong, start);
        QFETCH(qulonglong, end);
        QFETCH(qulonglong, frameStep);
        QFETCH(qulonglong, accTime);
        QFETCH(int, fps);
        QFETCH(int, frames);
        QFETCH(qulonglong, firstEvent);
        QFETCH(QString, target);
        QTemporaryDir dir;
        const std::string path = dir.filePath(target).toStdString();
        MemoryRecording recording(firstEvent == ~0ull ? std::vector<Event2D>{} : steadyStream(firstEvent), 640, 480);
        VideoExportOptions options;
        options.frameStep = frameStep;
        options.accTime = accTime;
        options.fps = fps;
        recording.setVideoExportOptions(options);
        ErrorLog log;
        QCOMPARE(recording.exportVideo(start, end, path), frames > 0);
        if (frames == 0) {
            QVERIFY(!log.errors.empty());
            QVERIFY(entriesOf(dir).isEmpty());
            return;
        }
        auto reader = ApsFileReader::createFileReader(path);
        QVERIFY(reader);
        QCOMPARE(reader->getWidth(), 640);
        QCOMPARE(reader->getHeight(), 480);
        std::vector<uint64_t> timestamps;
        QVERIFY(reader->getFrameTimestamps(timestamps));
        QCOMPARE(int(timestamps.size()), frames);
        QCOMPARE(timestamps.back(), uint64_t(std::llround((frames - 1) * 1e6 / fps)));
        QCOMPARE(entriesOf(dir), QStringList{"v.mp4"});
    }

    void paintingRule_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("knowsGeometry");
        QTest::addColumn<Rgb>("positive");
        QTest::addColumn<Rgb>("negative");
        QTest::addColumn<Rgb>("background");
        QTest::newRow("Gray") << 640 << 480 << true << Rgb{191, 188, 180} << Rgb{64, 61, 51} << Rgb{112, 112, 112};
        QTest::newRow("RedBlue") << 640 << 480 << true << Rgb{255, 0, 0} << Rgb{0, 0, 255} << Rgb{112, 112, 112};
        QTest::newRow("Dark") << 640 << 480 << true << Rgb{216, 223, 236} << Rgb{64, 126, 201} << Rgb{30, 37, 52};
        QTest::newRow("Light") << 640 << 480 << true << Rgb{0, 0, 0} << Rgb{64, 126, 201} << Rgb{255, 255, 255};
        QTest::newRow("unknown geometry: 1280 x 720")
            << 1280 << 720 << false << Rgb{255, 0, 0} << Rgb{0, 255, 0} << Rgb{112, 112, 112};
    }

    void paintingRule()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, knowsGeometry);
        QFETCH(Rgb, positive);
        QFETCH(Rgb, negative);
        QFETCH(Rgb, background);

        // Frames at 0, 40000 and 80000 µs, each accumulating 40000 µs; the range ends at 80000.
        std::vector<Event2D> events;
        addBlock(events, 0, 0, 64, 3, 3, 100);         // tie: polarity 1 wins
        addBlock(events, 96, 0, 64, 2, 3, 200);        // more polarity 0
        addBlock(events, 192, 0, 64, 1, 0, 39999);     // last instant of the first window
        addBlock(events, 288, 0, 64, 0, 1, 300);       // polarity 0 alone
        addBlock(events, 384, 0, 64, 11, 12, 400);     // both saturate at 10: a tie
        addBlock(events, 480, 0, 64, 1, 0, 40000);     // first instant of the second window
        addBlock(events, 0, 128, 64, 0, 2, 80000);     // at the end of the range: still in
        // Off the sensor: must neither paint nor wrap into the next row.
        for (int y = 200; y < 264; ++y)
            for (int x = width; x < width + 64; ++x)
                events.emplace_back(uint16_t(x), uint16_t(y), 1, 500);
        for (int x = 0; x < 64; ++x)
            events.emplace_back(uint16_t(x), uint16_t(height), 1, 500);

        QTemporaryDir dir;
        const std::string path = dir.filePath("rule.mp4").toStdString();
        MemoryRecording recording(events, width, height, knowsGeometry);
        VideoExportOptions options;
        options.frameStep = 40000;
        options.accTime = 40000;
        options.positiveColor = positive;
        options.negativeColor = negative;
        options.backgroundColor = background;
        recording.setVideoExportOptions(options);
        QVERIFY(recording.exportVideo(0, 80000, path));

        const std::vector<ApsFrame> frames = readAll(path);
        QCOMPARE(int(frames.size()), 3);
        QCOMPARE(frames[0].getWidth(), width);
        QCOMPARE(frames[0].getHeight(), height);
        struct Expectation {
            int frame, x, y;
            Rgb colour;
        };
        const Expectation expectations[] = {
            {0, 32, 32, positive},    {0, 128, 32, negative},   {0, 224, 32, positive},
            {0, 320, 32, negative},   {0, 416, 32, positive},   {0, 512, 32, background},
            {0, 32, 232, background}, {0, 32, 160, background}, {0, 600, 400, background},
            {1, 32, 32, background},  {1, 512, 32, positive},   {1, 224, 32, background},
            {2, 32, 160, negative},   {2, 512, 32, background},
        };
        for (const Expectation& e : expectations) {
            QString why;
            QVERIFY2(pixelIs(frames[size_t(e.frame)], e.x, e.y, e.colour, &why), qPrintable(why));
        }
        // The last column and row lie on the sensor: nothing off it reached them.
        QString why;
        QVERIFY2(pixelIs(frames[0], width - 8, 232, background, &why), qPrintable(why));
        QVERIFY2(pixelIs(frames[0], 32, height - 8, background, &why), qPrintable(why));
    }

    // Progress rises to 1; a cancel stops at the next frame and leaves no file, and holds until
    // reset.
    void progressAndCancel()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("cancelled.mp4").toStdString();
        MemoryRecording recording(steadyStream(), 640, 480);
        double last = 0;
        recording.setProgressCallback([&](double fraction) {
            last = fraction;
            if (fraction >= 0.2)
                recording.cancel();
        });
        VideoExportOptions options;
        options.frameStep = 5000; // 200 frames
        recording.setVideoExportOptions(options);
        QVERIFY(!recording.exportVideo(0, 999000, path));
        QVERIFY(last < 0.25); // stopped at the next frame, not at the end
        QVERIFY(entriesOf(dir).isEmpty());
        QVERIFY(!recording.exportVideo(0, 999000, path));

        recording.resetCancel();
        std::vector<double> fractions;
        recording.setProgressCallback([&](double fraction) { fractions.push_back(fraction); });
        QVERIFY(recording.exportVideo(0, 999000, path));
        QCOMPARE(entriesOf(dir), QStringList{"cancelled.mp4"});
        QVERIFY(fractions.size() >= 10 && fractions.size() <= 102);
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QCOMPARE(fractions.back(), 1.0);
    }
};

QTEST_APPLESS_MAIN(TestVideoExport)
#include "tst_videoexport.moc"
