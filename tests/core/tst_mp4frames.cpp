// Round trips through the .mp4 frame writer and the APS frame reader.
#include "ErrorLog.h"

#include <SorvaneDriver/Video/ApsFileReader.h>
#include <SorvaneDriver/Video/Mp4FrameWriter.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace sorvane;

namespace {

struct Bgr {
    int b, g, r;
};

// Frame i in four flat quadrants: a grey level that encodes i, and pure blue, green and red,
// which catch a swapped channel order.
Bgr quadrantColour(int index, int quadrant)
{
    switch (quadrant) {
    case 0: {
        const int level = 16 + (index * 23) % 224;
        return {level, level, level};
    }
    case 1:
        return {220, 30, 30};
    case 2:
        return {30, 220, 30};
    default:
        return {30, 30, 220};
    }
}

std::vector<uint8_t> makeFrame(int width, int height, int index)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int quadrant = (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0);
            const Bgr colour = quadrantColour(index, quadrant);
            uint8_t* pixel = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 3];
            pixel[0] = uint8_t(colour.b);
            pixel[1] = uint8_t(colour.g);
            pixel[2] = uint8_t(colour.r);
        }
    return pixels;
}

// Compares the centre of each quadrant; lossy coding and yuv420p rounding stay well inside this.
constexpr int tolerance = 12;

bool frameShows(const ApsFrame& frame, int index, QString* why)
{
    const int width = frame.getWidth();
    const int height = frame.getHeight();
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        const int x = (quadrant & 1) ? width * 3 / 4 : width / 4;
        const int y = (quadrant & 2) ? height * 3 / 4 : height / 4;
        const uint8_t* pixel = frame.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
        const Bgr want = quadrantColour(index, quadrant);
        if (std::abs(pixel[0] - want.b) > tolerance || std::abs(pixel[1] - want.g) > tolerance
            || std::abs(pixel[2] - want.r) > tolerance) {
            *why = QString("frame %1 quadrant %2: got %3,%4,%5 want %6,%7,%8")
                       .arg(index).arg(quadrant).arg(pixel[0]).arg(pixel[1]).arg(pixel[2])
                       .arg(want.b).arg(want.g).arg(want.r);
            return false;
        }
    }
    return true;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class TestMp4Frames : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    std::string pathOf(const char* name) const { return dir.filePath(name).toStdString(); }

    // A timestamped video of APS frames: frame i at timestamps[i] with header i, keyframe every
    // keyInterval frames. A frame of another size is refused on the way.
    std::string writeTimestamped(const char* name, const std::vector<uint64_t>& timestamps, int keyInterval)
    {
        Mp4FrameWriter writer;
        Mp4FrameWriter::Options options;
        options.timestamped = true;
        options.keyframeInterval = keyInterval;
        const std::string path = pathOf(name);
        if (!writer.open(path, 160, 96, 30, options))
            return {};
        for (size_t i = 0; i < timestamps.size(); ++i) {
            ApsFrame frame(160, 96, uint64_t(i), timestamps[i]);
            const std::vector<uint8_t> pixels = makeFrame(160, 96, int(i));
            std::copy(pixels.begin(), pixels.end(), frame.data());
            if (!writer.writeFrame(frame))
                return {};
        }
        if (writer.writeFrame(ApsFrame(64, 64, 0, timestamps.back() + 50000)))
            return {};
        return writer.close() ? path : std::string();
    }

    static std::vector<uint64_t> irregularTimes()
    {
        // Gaps of one to several frames, as an APS sensor with a varying exposure delivers, from
        // 40 ms on.
        std::vector<uint64_t> times;
        uint64_t t = 40000;
        for (int i = 0; i < 40; ++i) {
            times.push_back(t);
            t += 20000 + uint64_t((i * 7919) % 5) * 9000;
        }
        return times;
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void constantRateRoundTrip_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("pixelOrder");
        QTest::newRow("30 fps") << 320 << 240 << 30 << 45 << int(Mp4FrameWriter::PixelOrder::Bgr);
        QTest::newRow("25 fps") << 320 << 240 << 25 << 30 << int(Mp4FrameWriter::PixelOrder::Bgr);
        QTest::newRow("odd size") << 321 << 241 << 30 << 10 << int(Mp4FrameWriter::PixelOrder::Bgr);
        QTest::newRow("rgb input") << 320 << 240 << 30 << 10 << int(Mp4FrameWriter::PixelOrder::Rgb);
        QTest::newRow("one frame") << 64 << 64 << 30 << 1 << int(Mp4FrameWriter::PixelOrder::Bgr);
    }

    void constantRateRoundTrip()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, fps);
        QFETCH(int, frames);
        QFETCH(int, pixelOrder);
        const auto order = Mp4FrameWriter::PixelOrder(pixelOrder);
        const std::string path = pathOf(QTest::currentDataTag());

        Mp4FrameWriter writer;
        Mp4FrameWriter::Options options;
        options.pixelOrder = order;
        QVERIFY(writer.open(path, width, height, fps, options));
        QCOMPARE(writer.encoderName(), std::string("libx264"));
        for (int i = 0; i < frames; ++i) {
            std::vector<uint8_t> pixels = makeFrame(width, height, i);
            if (order == Mp4FrameWriter::PixelOrder::Rgb)
                for (size_t p = 0; p < pixels.size(); p += 3)
                    std::swap(pixels[p], pixels[p + 2]);
            QVERIFY(writer.writeFrame(pixels.data()));
        }
        QVERIFY(!writer.writeFrame(makeFrame(width, height, 0).data(), 5)); // not a timestamped video
        QVERIFY(writer.close());
        QVERIFY(QDir(QFileInfo(QString::fromStdString(path)).absolutePath()).entryList({"*svtmp*"}, QDir::Files | QDir::Hidden).isEmpty());

        auto reader = ApsFileReader::createFileReader(path);
        QVERIFY(reader);
        QVERIFY(reader->isOpen());
        QCOMPARE(reader->getWidth(), width & ~1);
        QCOMPARE(reader->getHeight(), height & ~1);
        std::vector<uint64_t> timestamps;
        QVERIFY(reader->getFrameTimestamps(timestamps));
        QCOMPARE(int(timestamps.size()), frames);
        for (int i = 0; i < frames; ++i)
            QVERIFY2(std::llabs(int64_t(timestamps[size_t(i)]) - std::llround(i * 1e6 / fps)) <= 1,
                     qPrintable(QString("frame %1 at %2").arg(i).arg(timestamps[size_t(i)])));

        ApsFrame frame;
        for (int i = 0; i < frames; ++i) {
            QVERIFY(reader->getNextFrame(frame));
            QCOMPARE(frame.getWidth(), width & ~1);
            QCOMPARE(frame.getDataSize(), size_t(width & ~1) * size_t(height & ~1) * 3);
            QCOMPARE(frame.getTimestamp(), timestamps[size_t(i)]);
            QString why;
            QVERIFY2(frameShows(frame, i, &why), qPrintable(why));
        }
        QVERIFY(!reader->getNextFrame(frame));
    }

    void timestampsMustAdvance()
    {
        ErrorLog log;
        Mp4FrameWriter writer;
        Mp4FrameWriter::Options options;
        options.timestamped = true;
        const std::string path = pathOf("advance.mp4");
        QVERIFY(writer.open(path, 64, 64, 30, options));
        const std::vector<uint8_t> pixels = makeFrame(64, 64, 0);
        QVERIFY(writer.writeFrame(pixels.data(), 1000));
        QVERIFY(!writer.writeFrame(pixels.data(), 1000));
        QVERIFY(!writer.writeFrame(pixels.data(), 500));
        QVERIFY(!log.errors.empty());
        QVERIFY(writer.writeFrame(pixels.data(), 2000)); // the writer stays usable
        QCOMPARE(writer.framesWritten(), int64_t(2));
        QVERIFY(writer.close());
    }

    void frameByTime_data()
    {
        // Frames of irregularTimes(), keyframes every 8 frames.
        const std::vector<uint64_t> times = irregularTimes();
        QTest::addColumn<qulonglong>("t");
        QTest::addColumn<int>("expected"); // -1: no frame is shown yet
        QTest::newRow("before the first") << qulonglong(times[0] - 1) << -1;
        QTest::newRow("at the first") << qulonglong(times[0]) << 0;
        QTest::newRow("exactly at a frame") << qulonglong(times[5]) << 5;
        QTest::newRow("just before a frame") << qulonglong(times[5] - 1) << 4;
        QTest::newRow("between frames") << qulonglong((times[12] + times[13]) / 2) << 12;
        QTest::newRow("on a keyframe") << qulonglong(times[16]) << 16;
        QTest::newRow("just before a keyframe") << qulonglong(times[16] - 1) << 15;
        QTest::newRow("at the last") << qulonglong(times.back()) << int(times.size() - 1);
        QTest::newRow("after the last") << qulonglong(times.back() + 10000000) << int(times.size() - 1);
    }

    void frameByTime()
    {
        QFETCH(qulonglong, t);
        QFETCH(int, expected);
        static const std::vector<uint64_t> times = irregularTimes();
        static const std::string path = writeTimestamped("bytime.mp4", times, 8);
        QVERIFY(!path.empty());
        auto reader = ApsFileReader::createFileReader(path);
        QVERIFY(reader);

        // From a fresh reader, then after moving past the frame (a jump backwards), then from
        // just before it (a short step forward).
        const int starts[] = {-1, int(times.size()) - 1, std::max(0, expected - 2)};
        for (int from : starts) {
            ApsFrame frame(8, 8, 0, 77);
            if (from >= 0)
                QVERIFY(reader->seekFrame(from));
            QCOMPARE(reader->getFrameByTime(t, frame), expected >= 0);
            if (expected < 0) {
                QCOMPARE(frame.getTimestamp(), uint64_t(77)); // left alone
                continue;
            }
            QCOMPARE(frame.getTimestamp(), times[size_t(expected)]);
            QString why;
            QVERIFY2(frameShows(frame, expected, &why), qPrintable(why));
            // Reading goes on after the frame returned.
            if (expected + 1 < int(times.size())) {
                QVERIFY(reader->getNextFrame(frame));
                QCOMPARE(frame.getTimestamp(), times[size_t(expected) + 1]);
                QVERIFY2(frameShows(frame, expected + 1, &why), qPrintable(why));
            } else {
                QVERIFY(!reader->getNextFrame(frame));
            }
        }
    }

    void seekThenNext_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("valid");
        QTest::newRow("first") << 0 << true;
        QTest::newRow("middle") << 13 << true;
        QTest::newRow("keyframe") << 24 << true;
        QTest::newRow("before keyframe") << 23 << true;
        QTest::newRow("last") << 39 << true;
        QTest::newRow("past the end") << 40 << false;
        QTest::newRow("negative") << -1 << false;
    }

    void seekThenNext()
    {
        QFETCH(int, index);
        QFETCH(bool, valid);
        static const std::vector<uint64_t> times = irregularTimes();
        static const std::string path = writeTimestamped("seek.mp4", times, 8);
        QVERIFY(!path.empty());
        auto reader = ApsFileReader::createFileReader(path);
        QVERIFY(reader);
        std::vector<uint64_t> timestamps;
        QVERIFY(reader->getFrameTimestamps(timestamps));
        QCOMPARE(timestamps, times);
        ApsFrame frame;
        for (int i = 0; i < 30; ++i) // somewhere in the middle, so a seek has to go back
            QVERIFY(reader->getNextFrame(frame));
        ErrorLog log;
        QCOMPARE(reader->seekFrame(index), valid);
        if (!valid) {
            QVERIFY(!log.errors.empty());
            QVERIFY(reader->getNextFrame(frame)); // position unchanged
            QCOMPARE(frame.getTimestamp(), times[30]);
            return;
        }
        for (int i = index; i < std::min(index + 3, int(times.size())); ++i) {
            QVERIFY(reader->getNextFrame(frame));
            QCOMPARE(frame.getTimestamp(), times[size_t(i)]);
            QCOMPARE(frame.getHeader(), uint64_t(i));
            QString why;
            QVERIFY2(frameShows(frame, i, &why), qPrintable(why));
        }
    }

    void unreadableFiles_data()
    {
        QTest::addColumn<QByteArray>("content"); // written to the file unless one of the words below
        QTest::newRow("empty path") << QByteArray("no path");
        QTest::newRow("missing") << QByteArray("missing");
        QTest::newRow("folder") << QByteArray("folder");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("text") << QByteArray("% evt 3.0\n% geometry 1280x720\n% end\n");
        std::mt19937 random(7);
        QByteArray noise(64 * 1024, '\0');
        for (char& byte : noise)
            byte = char(random());
        QTest::newRow("noise") << noise;
        QTest::newRow("mp4 header only") << QByteArray("\0\0\0\x20" "ftypisom\0\0\x02\0isomiso2avc1mp41", 32);
        // Opening one for reading would wait for a writer forever.
        QTest::newRow("FIFO") << QByteArray("fifo");
    }

    void unreadableFiles()
    {
        QFETCH(QByteArray, content);
        const QString path = content == "no path"
            ? QString()
            : dir.filePath(QString("bad_%1.mp4").arg(QTest::currentDataTag()).replace(' ', '_'));
        if (content == "folder") {
            QVERIFY(QDir(dir.path()).mkdir(QFileInfo(path).fileName()));
        } else if (content == "fifo") {
            QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        } else if (content != "missing" && content != "no path") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        ErrorLog log;
        QVERIFY(!ApsFileReader::createFileReader(path.toStdString()));
        QVERIFY(!log.errors.empty());
    }

    void truncatedVideoKeepsItsHead()
    {
        static const std::vector<uint64_t> times = irregularTimes();
        const std::string path = writeTimestamped("whole.mp4", times, 8);
        QFile whole(QString::fromStdString(path));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const QString cutPath = dir.filePath("truncated.mp4");
        QFile cut(cutPath);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(bytes.left(bytes.size() * 2 / 3));
        cut.close();

        ErrorLog log;
        auto reader = ApsFileReader::createFileReader(cutPath.toStdString());
        if (!reader) {
            QVERIFY(!log.errors.empty());
            return;
        }
        // Whatever is left decodes; reading ends instead of running past the data.
        ApsFrame frame;
        int count = 0;
        while (count <= int(times.size()) && reader->getNextFrame(frame)) {
            QString why;
            QVERIFY2(frameShows(frame, count, &why), qPrintable(why));
            ++count;
        }
        QVERIFY(count > 0);
        QVERIFY(count < int(times.size()));
    }

    // Refused or failing at its end, a video leaves nothing behind.
    void unwritableTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("fps");
        QTest::newRow("missing folder") << "no/such/folder/out.mp4" << 64 << 64 << 30;
        QTest::newRow("folder is a file") << "plain.txt/out.mp4" << 64 << 64 << 30;
        QTest::newRow("target is a folder") << "folder.mp4" << 64 << 64 << 30;
        QTest::newRow("zero width") << "x.mp4" << 0 << 64 << 30;
        QTest::newRow("one row") << "x.mp4" << 64 << 1 << 30;
        QTest::newRow("zero fps") << "x.mp4" << 64 << 64 << 0;
        QTest::newRow("negative fps") << "x.mp4" << 64 << 64 << -5;
    }

    void unwritableTargets()
    {
        QFETCH(QString, target);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, fps);
        QTemporaryDir folder;
        QFile plain(folder.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QDir(folder.path()).mkdir("folder.mp4"));
        const QStringList before = QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

        ErrorLog log;
        Mp4FrameWriter writer;
        if (writer.open(folder.filePath(target).toStdString(), width, height, fps)) {
            // Only the final move can fail here: it must fail loudly and leave nothing behind.
            QVERIFY(writer.writeFrame(makeFrame(64, 64, 0).data()));
            QVERIFY(!writer.close());
        }
        QVERIFY(!log.errors.empty());
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY(filesIn(folder.filePath("folder.mp4")).isEmpty());
    }

    void abandonedVideoLeavesNoFile_data()
    {
        QTest::addColumn<bool>("explicitDiscard");
        QTest::newRow("destroyed") << false;
        QTest::newRow("discarded") << true;
    }

    void abandonedVideoLeavesNoFile()
    {
        QFETCH(bool, explicitDiscard);
        QTemporaryDir folder;
        const std::string path = folder.filePath("abandoned.mp4").toStdString();
        {
            Mp4FrameWriter writer;
            QVERIFY(writer.open(path, 64, 64, 30));
            for (int i = 0; i < 5; ++i)
                QVERIFY(writer.writeFrame(makeFrame(64, 64, i).data()));
            QVERIFY(!filesIn(folder.path()).isEmpty()); // the work in progress exists...
            QVERIFY(!QFile::exists(QString::fromStdString(path))); // ...but not under the target name
            if (explicitDiscard) {
                writer.discard();
                QVERIFY(!writer.isOpen());
                QVERIFY(!writer.close());
            }
        }
        QVERIFY(filesIn(folder.path()).isEmpty());
    }

    // A finished video replaces an older one of the same name only when asked to; a fragmented
    // (live) one never does. A refused video leaves the older one alone.
    void existingTarget_data()
    {
        QTest::addColumn<bool>("fragmented");
        QTest::addColumn<bool>("replace");
        QTest::newRow("temporary, then renamed") << false << false;
        QTest::newRow("temporary, then renamed, asked to replace") << false << true;
        QTest::newRow("fragmented, asked to replace") << true << true;
    }

    void existingTarget()
    {
        QFETCH(bool, fragmented);
        QFETCH(bool, replace);
        const std::string path = pathOf(qPrintable(QTest::currentDataTag() + QString(".mp4")));
        QFile::remove(QString::fromStdString(path));
        Mp4FrameWriter::Options options;
        options.fragmented = fragmented;
        options.existing = replace ? ExistingFile::Replace : ExistingFile::Refuse;
        const bool replaced = replace && !fragmented;
        for (int frames : {8, 3}) {
            Mp4FrameWriter writer;
            ErrorLog log;
            const bool opened = writer.open(path, 64, 64, 30, options);
            if (frames == 3 && !replaced) {
                QVERIFY(!opened);
                QVERIFY(!log.errors.empty());
                break;
            }
            QVERIFY(opened);
            for (int i = 0; i < frames; ++i)
                QVERIFY(writer.writeFrame(makeFrame(64, 64, i).data()));
            QVERIFY(writer.close());
        }
        auto reader = ApsFileReader::createFileReader(path);
        QVERIFY(reader);
        std::vector<uint64_t> timestamps;
        QVERIFY(reader->getFrameTimestamps(timestamps));
        QCOMPARE(timestamps.size(), size_t(replaced ? 3 : 8));
    }

    // What a fragmented video has on disk while it is being written, which is what a killed
    // process leaves behind, plays: every frame but about the last second's, in order.
    void fragmentedVideoPlaysWhileWritten_data()
    {
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("frames");
        QTest::newRow("30 fps, 3 s") << 30 << 90;
        QTest::newRow("10 fps, 4 s") << 10 << 40;
        QTest::newRow("60 fps, 2 s") << 60 << 120;
    }

    void fragmentedVideoPlaysWhileWritten()
    {
        QFETCH(int, fps);
        QFETCH(int, frames);
        const std::string path = pathOf(QTest::currentDataTag());
        Mp4FrameWriter writer;
        Mp4FrameWriter::Options options;
        options.timestamped = true;
        options.fragmented = true;
        QVERIFY(writer.open(path, 160, 96, fps, options));
        std::vector<uint64_t> times;
        for (int i = 0; i < frames; ++i) {
            times.push_back(uint64_t(i) * 1000000 / uint64_t(fps));
            QVERIFY(writer.writeFrame(makeFrame(160, 96, i).data(), times.back()));
        }
        // The file as it is now, before close() finishes it.
        const QString snapshot = dir.filePath(QString(QTest::currentDataTag()) + " snapshot.mp4");
        QVERIFY(QFile::copy(QString::fromStdString(path), snapshot));
        QVERIFY(writer.close());

        auto reader = ApsFileReader::createFileReader(snapshot.toStdString());
        QVERIFY(reader);
        std::vector<uint64_t> timestamps;
        QVERIFY(reader->getFrameTimestamps(timestamps));
        QVERIFY(!timestamps.empty());
        const uint64_t end = times.back() + 1000000 / uint64_t(fps);
        QVERIFY2(timestamps.back() + 1100000 >= end,
                 qPrintable(QString("frames up to %1 us of %2 us").arg(timestamps.back()).arg(end)));
        QVERIFY(timestamps.size() <= times.size());
        ApsFrame frame;
        for (size_t i = 0; i < timestamps.size(); ++i) {
            QCOMPARE(timestamps[i], times[i]);
            QVERIFY(reader->getNextFrame(frame));
            QString why;
            QVERIFY2(frameShows(frame, int(i), &why), qPrintable(why));
        }

        // Finished, it holds them all.
        reader = ApsFileReader::createFileReader(path);
        QVERIFY(reader);
        QVERIFY(reader->getFrameTimestamps(timestamps));
        QCOMPARE(timestamps, times);
    }

    // One sample count raised in a 30-frame video: the demuxer would allocate its tables for
    // every sample the count claims.
    void damagedSizeFieldCostsNoMemory()
    {
        Mp4FrameWriter writer;
        Mp4FrameWriter::Options options;
        options.timestamped = true;
        options.fragmented = true;
        const std::string path = pathOf("damaged count.mp4");
        QVERIFY(writer.open(path, 160, 96, 30, options));
        for (int i = 0; i < 30; ++i)
            QVERIFY(writer.writeFrame(makeFrame(160, 96, i).data(), uint64_t(i) * 33333));
        QVERIFY(writer.close());
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype run = bytes.indexOf("trun");
        QVERIFY(run > 4);
        const uchar count[4] = {0x04, 0, 0, 0}; // 2^26 samples, big-endian, after version and flags
        bytes.replace(run + 8, 4, reinterpret_cast<const char*>(count), 4);
        QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
        file.close();

        ErrorLog log;
        rusage before {};
        QCOMPARE(::getrusage(RUSAGE_SELF, &before), 0);
        const auto reader = ApsFileReader::createFileReader(path);
        rusage after {};
        QCOMPARE(::getrusage(RUSAGE_SELF, &after), 0);
        // The peak of the process grows by what the open took at its most (ru_maxrss is in KB).
        const long grownMb = (after.ru_maxrss - before.ru_maxrss) / 1024;
        QVERIFY2(grownMb < 128, qPrintable(QString("the peak grew by %1 MB").arg(grownMb)));
    }
};

QTEST_APPLESS_MAIN(TestMp4Frames)
#include "tst_mp4frames.moc"
