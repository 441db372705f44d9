// Playback of real `.raw` recordings written by the SDK's writer, driven through the processor's
// slots the way the main window drives them, including the play button's loop.
#include "PlayButton.h"
#include "TestHome.h"
#include "ProcessorRelay.h"

#include "app/ConfigStore.h"
#include "processing/SvEventProcessor.h"

#include <SorvaneBase/ApsFrame.h>
#include <SorvaneDriver/Video/ApsFileReader.h>
#include <SorvaneDriver/DvsFileReader.h>
#include <SorvaneDriver/Raw/RawEventWriter.h>

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>
#include <vector>

using sorvane::Event2D;

namespace {

std::string toStd(const QString& path)
{
    return std::string(path.toLocal8Bit().constData());
}

// Event k of a recording lies at first + k * spacing on pixel k (row by row), polarity 1, so an
// image tells exactly which events its window held.
struct Recording {
    QString path;
    uint64_t first = 0;
    uint64_t spacing = 100;
    int count = 0;

    uint64_t timeOf(int k) const { return first + uint64_t(k) * spacing; }
    uint64_t last() const { return timeOf(count - 1); }
    std::vector<Event2D> events() const
    {
        std::vector<Event2D> all;
        all.reserve(size_t(count));
        for (int k = 0; k < count; ++k)
            all.emplace_back(uint16_t(k % 1280), uint16_t(k / 1280 % 720), 1, timeOf(k));
        return all;
    }
    // "events a..b" for the events of [start, start + duration), "nothing" when none.
    QString window(uint64_t start, uint64_t duration) const
    {
        const uint64_t end = start + duration;
        auto firstAtOrAfter = [this](uint64_t t) {
            if (t <= first)
                return int64_t(0);
            return std::min<int64_t>(count, int64_t((t - first + spacing - 1) / spacing));
        };
        const int64_t from = firstAtOrAfter(start);
        const int64_t to = firstAtOrAfter(end);
        if (from >= to)
            return "nothing";
        return QString("events %1..%2").arg(from).arg(to - 1);
    }
};

bool writeRecording(const Recording& recording)
{
    sorvane::RawEventWriter writer;
    sorvane::RawHeaderInfo header;
    header.serial = "SVTEST01";
    const std::vector<Event2D> events = recording.events();
    // The writer never replaces a file; a fixture is written afresh.
    QFile::remove(recording.path);
    return writer.open(toStd(recording.path), header) && writer.write(events.data(), events.data() + events.size())
        && writer.close();
}

// Big enough that its scan is still running a moment after the load starts.
bool writeBigRecording(const QString& path)
{
    QFile::remove(path);
    sorvane::RawEventWriter writer;
    if (!writer.open(toStd(path), sorvane::RawHeaderInfo{}))
        return false;
    std::vector<Event2D> chunk(1 << 20);
    uint64_t t = 1'000'000;
    for (int block = 0; block < 24; ++block) {
        for (Event2D& e : chunk) {
            e = Event2D(uint16_t(t % 1280), uint16_t(t / 7 % 720), uint8_t(t & 1), t);
            ++t;
        }
        if (!writer.write(chunk.data(), chunk.data() + chunk.size()))
            return false;
    }
    return writer.close();
}

// The painted pixels of image read back as event numbers, in the form Recording::window gives.
QString shownEvents(const QImage& image)
{
    const QRgb background = ConfigStore::instance()->backgroundColor.rgb();
    int first = -1;
    int last = -1;
    int painted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == background)
                continue;
            const int k = y * 1280 + x;
            if (first < 0)
                first = k;
            last = k;
            ++painted;
        }
    }
    if (painted == 0)
        return "nothing";
    if (painted != last - first + 1)
        return QString("scattered events %1..%2 (%3)").arg(first).arg(last).arg(painted);
    return QString("events %1..%2").arg(first).arg(last);
}

// How far into expected the shown windows reach when matched in order, or -1 when one of them is
// not there. A frame the render thread had not painted yet is replaced by the next one on a busy
// machine, so playback may leave windows out, but never shows one out of order.
qsizetype reachedInOrder(const QStringList& shown, const QStringList& expected)
{
    qsizetype next = 0;
    for (const QString& window : shown) {
        while (next < expected.size() && expected.at(next) != window)
            ++next;
        if (next == expected.size())
            return -1;
        ++next;
    }
    return next;
}

std::vector<Event2D> readBack(const QString& path, uint64_t start, uint64_t end)
{
    auto reader = sorvane::DvsFileReader::createFileReader(toStd(path));
    if (!reader || !reader->loadFile())
        return {};
    auto events = reader->getEventsByTime(start, end - start + 1);
    return events ? *events : std::vector<Event2D>{};
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

// A processor wired as the main window wires it, with spies on every signal.
struct Session {
    SvEventProcessor processor;
    ProcessorRelay relay{processor};
    PlayButton playButton;
    QSignalSpy images{&relay, &ProcessorRelay::image};
    QSignalSpy times{&relay, &ProcessorRelay::time};
    QSignalSpy starts{&relay, &ProcessorRelay::start};
    QSignalSpy ends{&relay, &ProcessorRelay::end};
    QSignalSpy plays{&relay, &ProcessorRelay::play};
    QSignalSpy loadings{&relay, &ProcessorRelay::loading};
    QSignalSpy progress{&relay, &ProcessorRelay::progress};
    QSignalSpy tips{&relay, &ProcessorRelay::tip};
    // Names of the range, time, play and loading signals in arrival order.
    QStringList order;

    Session()
    {
        QObject::connect(&processor, &SvEventProcessor::signalPlayStatus, &playButton, &PlayButton::setChecked);
        QObject::connect(&playButton, &PlayButton::toggled, &processor, &SvEventProcessor::slotPlaybackCtrl);
        QObject::connect(&relay, &ProcessorRelay::start, &relay, [this] { order << "start"; });
        QObject::connect(&relay, &ProcessorRelay::end, &relay, [this] { order << "end"; });
        QObject::connect(&relay, &ProcessorRelay::time, &relay, [this] { order << "time"; });
        QObject::connect(&relay, &ProcessorRelay::play, &relay, [this](bool on) { order << QString("play %1").arg(on); });
        QObject::connect(&relay, &ProcessorRelay::loading, &relay,
                         [this](bool on) { order << QString("loading %1").arg(on); });
    }

    // Loads path and waits until the load has ended; playback then runs through the button.
    bool load(const QString& path)
    {
        const qsizetype before = loadings.count();
        processor.loadFile(path);
        return QTest::qWaitFor([&] { return loadings.count() >= before + 2; }, 20000)
            && !loadings.last().at(0).toBool();
    }
    // Loads, pauses and resets to the range start, with the spies cleared: the state every
    // step test starts from.
    bool loadPaused(const QString& path)
    {
        if (!load(path))
            return false;
        playButton.setChecked(false);
        const uint64_t first = starts.isEmpty() ? 0 : starts.last().at(0).value<uint64_t>();
        processor.slotPlaybackReset();
        // Let the frames of the short playback and of the reset arrive before clearing.
        const bool reset = QTest::qWaitFor([&] { return lastTime() == first; }, 5000);
        QTest::qWait(200);
        clear();
        return reset && !playButton.checked;
    }
    void clear()
    {
        for (QSignalSpy* spy : {&images, &times, &starts, &ends, &plays, &loadings, &progress, &tips})
            spy->clear();
        order.clear();
    }
    bool waitImages(qsizetype count) { return QTest::qWaitFor([&] { return images.count() >= count; }, 5000); }
    QImage lastImage() const { return images.isEmpty() ? QImage() : images.last().at(0).value<QImage>(); }
    uint64_t lastTime() const { return times.isEmpty() ? 0 : times.last().at(0).value<uint64_t>(); }
    QStringList allImages() const
    {
        QStringList all;
        for (const QList<QVariant>& args : images)
            all << shownEvents(args.at(0).value<QImage>());
        return all;
    }
};

class TestRawPlayback : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    QTemporaryDir dir;
    // 1 000 000 .. 1 200 000 µs, an event every 100 µs.
    Recording shortRecording;
    // 1 000 000 .. 5 000 000 µs.
    Recording longRange;
    // Cross 2^31 and lie past 2^32 µs.
    Recording past31;
    Recording past32;

    QString pathFor(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        registerSvMetaTypes();
        ConfigStore* config = ConfigStore::instance();
        config->colorType = "Gray";
        config->save();
        QVERIFY(dir.isValid());
        shortRecording = {pathFor("short.raw"), 1'000'000, 100, 2001};
        longRange = {pathFor("long.raw"), 1'000'000, 1000, 4001};
        past31 = {pathFor("past31.raw"), 2'147'400'000ull, 100, 2001};
        past32 = {pathFor("past32.raw"), 5'000'000'000ull, 100, 2001};
        for (const Recording* recording : {&shortRecording, &longRange, &past31, &past32})
            QVERIFY2(writeRecording(*recording), qPrintable(recording->path));
    }

    void loadReportsRangeAndStartsPlayback()
    {
        Session s;
        QVERIFY(s.load(longRange.path));
        QCOMPARE(s.ends.count(), 1);
        QCOMPARE(s.ends.first().at(0).value<uint64_t>(), uint64_t(5'000'000));
        QCOMPARE(s.starts.count(), 1);
        QCOMPARE(s.starts.first().at(0).value<uint64_t>(), uint64_t(1'000'000));
        QCOMPARE(s.times.first().at(0).value<uint64_t>(), uint64_t(1'000'000));
        QCOMPARE(s.order.mid(0, 7), (QStringList{"play 0", "loading 1", "end", "start", "time", "play 1", "loading 0"}));
        QVERIFY(s.playButton.checked);
        // Playback runs by itself: frames follow.
        QVERIFY(s.waitImages(2));
        QVERIFY(s.lastTime() > 1'000'000);

        QVERIFY(!s.progress.isEmpty());
        int previous = -1;
        for (const QList<QVariant>& args : s.progress) {
            const int percent = args.at(0).toInt();
            QVERIFY(percent >= previous && percent <= 100);
            previous = percent;
        }
        s.playButton.setChecked(false);
    }

    // A jump while playing pauses, and its frame stays.
    void jumpWhilePlayingPauses()
    {
        const Recording& r = longRange;
        Session s;
        QVERIFY(s.load(r.path));
        QVERIFY(s.waitImages(1));
        s.processor.setPlayPos(3'000'000);
        QVERIFY(!s.playButton.checked);
        QTRY_COMPARE(shownEvents(s.lastImage()), r.window(3'000'000 - 33333 + 1, 33333));
        const qsizetype count = s.images.count();
        QTest::qWait(150);
        QCOMPARE(s.images.count(), count);
    }

    void timestampsBeyond32Bits_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<uint64_t>("position");
        QTest::newRow("crossing 2^31 us") << 31 << uint64_t(2'147'483'648ull + 50);
        // Off the frame grid: no played frame shows the window the jump shows.
        QTest::newRow("past 2^32 us") << 32 << uint64_t(5'000'100'050ull);
    }
    void timestampsBeyond32Bits()
    {
        QFETCH(int, which);
        QFETCH(uint64_t, position);
        const Recording& r = which == 31 ? past31 : past32;
        Session s;
        s.processor.setFps(30);
        s.processor.setAccTime(10000);
        QVERIFY(s.load(r.path));
        QCOMPARE(s.starts.first().at(0).value<uint64_t>(), r.first);
        QCOMPARE(s.ends.first().at(0).value<uint64_t>(), r.last());
        // Playback advances in 64-bit time: the frames after the first show the windows one
        // step apart.
        QStringList steps;
        for (uint64_t t = r.first + 33333; t < r.last(); t += 33333)
            steps << r.window(t - 9999, 10000);
        QTRY_VERIFY(reachedInOrder(s.allImages(), steps) >= 2);
        s.playButton.setChecked(false);

        // A frame of the playback may still be on its way; the jump's frame comes after it.
        s.processor.setPlayPos(position);
        QTRY_COMPARE(shownEvents(s.lastImage()), r.window(position - 9999, 10000));
        QCOMPARE(s.lastTime(), position);
    }

    void cutWritesTheRangeAndASecondCutWaits()
    {
        const Recording& r = shortRecording;
        Session s;
        QVERIFY(s.loadPaused(r.path));
        const QString first = pathFor("cut-first.raw");
        const QString second = pathFor("cut-second.raw");
        s.processor.slotCutRawFile(first, dir.path(), 1'050'000, 1'100'000);
        s.processor.slotCutRawFile(second, dir.path(), 1'120'050, 1'180'000);
        QTRY_COMPARE_WITH_TIMEOUT(s.loadings.count(), 4, 20000);
        // The second began only after the first had ended.
        QCOMPARE(s.order, (QStringList{"loading 1", "loading 0", "loading 1", "loading 0"}));
        QCOMPARE(s.tips.count(), 2);
        for (const QList<QVariant>& tip : s.tips) {
            QCOMPARE(tip.at(0).toString(), QString("Export raw file success!"));
            QCOMPARE(tip.at(1).value<SvMessageType>(), Success);
            QCOMPARE(tip.at(2).toString(), dir.path());
        }

        auto inRange = [&](uint64_t start, uint64_t end) {
            std::vector<Event2D> expected;
            for (const Event2D& e : r.events())
                if (e.timestamp >= start && e.timestamp <= end)
                    expected.push_back(e);
            return expected;
        };
        const std::vector<Event2D> firstEvents = readBack(first, 0, 2'000'000);
        QCOMPARE(firstEvents.size(), size_t(501));
        QVERIFY(firstEvents == inRange(1'050'000, 1'100'000));
        const std::vector<Event2D> secondEvents = readBack(second, 0, 2'000'000);
        QCOMPARE(secondEvents.size(), size_t(600));
        QVERIFY(secondEvents == inRange(1'120'050, 1'180'000));

        // The open recording still plays.
        s.processor.nextFrame();
        QVERIFY(s.waitImages(1));
    }

    // A recording with events beyond the sensor its header declares still plays, and the user
    // is told how many are not shown.
    void eventsOutsideTheSensorAreReported()
    {
        const QString path = pathFor("small-sensor.raw");
        QFile::remove(path);
        sorvane::RawEventWriter writer;
        sorvane::RawHeaderInfo header;
        header.width = 64;
        header.height = 48;
        QVERIFY(writer.open(toStd(path), header));
        writer.close();
        // The words of a 1280 x 720 recording after a header that declares 64 x 48.
        const std::vector<Event2D> events = shortRecording.events();
        const QString wide = pathFor("wide-sensor.raw");
        Recording big = shortRecording;
        big.path = wide;
        QVERIFY(writeRecording(big));
        QFile in(wide);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        QFile out(path);
        QVERIFY(out.open(QIODevice::Append));
        out.write(bytes.mid(bytes.indexOf("% end\n") + 6));
        out.close();
        const qint64 outside = std::count_if(events.begin(), events.end(), [](const Event2D& e) { return e.x >= 64 || e.y >= 48; });
        QVERIFY(outside > 0 && outside < qint64(events.size()));

        Session s;
        QVERIFY(s.load(path));
        QVERIFY(!s.tips.isEmpty());
        QCOMPARE(s.tips.first().at(0).toString(),
                 QString("%1 events lie outside the 64 x 48 sensor its header declares and are not shown.").arg(outside));
        QCOMPARE(s.tips.first().at(1).value<SvMessageType>(), Warning);
    }

    // A cut or export that cannot be written says what failed and why; one onto the open
    // recording, however its path is spelled, is refused before any work. Either way the
    // recording is left as it was and still plays.
    void refusedOrFailedCutSaysWhat_data()
    {
        QTest::addColumn<QString>("spelling");
        QTest::addColumn<bool>("video");
        QTest::addColumn<QString>("message");
        QTest::newRow("cut into a missing folder") << "missing" << false << "Cut recording failed.";
        QTest::newRow("export into a missing folder") << "missing" << true << "Export video failed.";
        QTest::newRow("cut onto the same path") << "same" << false << "refused";
        QTest::newRow("other spelling") << "dot" << false << "refused";
        QTest::newRow("symbolic link") << "symlink" << false << "refused";
        QTest::newRow("hard link") << "hardlink" << false << "refused";
        QTest::newRow("video export onto it") << "same" << true << "refused";
    }
    void refusedOrFailedCutSaysWhat()
    {
        QFETCH(QString, spelling);
        QFETCH(bool, video);
        QFETCH(QString, message);
        Recording r = shortRecording;
        r.path = pathFor("open-" + spelling + ".raw");
        QVERIFY(writeRecording(r));
        QString folder = dir.path();
        QString target = r.path;
        if (spelling == "missing") {
            folder = pathFor("no-such-folder");
            target = folder + (video ? "/out.mp4" : "/out.raw");
        } else if (spelling == "dot") {
            target = dir.path() + "/./" + QFileInfo(r.path).fileName();
        } else if (spelling == "symlink") {
            target = pathFor("link-to-open.raw");
            QFile::remove(target);
            QVERIFY(QFile::link(r.path, target));
        } else if (spelling == "hardlink") {
            target = pathFor("hard-link-to-open.raw");
            QFile::remove(target);
            std::filesystem::create_hard_link(toStd(r.path), toStd(target));
        }
        const QByteArray before = fileHash(r.path);
        Session s;
        QVERIFY(s.loadPaused(r.path));
        if (video)
            s.processor.slotExportVideo(target, folder, 1'000'000, 1'100'000);
        else
            s.processor.slotCutRawFile(target, folder, 1'000'000, 1'100'000);
        QTRY_COMPARE_WITH_TIMEOUT(s.tips.count(), 1, 20000);
        const QString tip = s.tips.first().at(0).toString();
        QCOMPARE(s.tips.first().at(1).value<SvMessageType>(), Error);
        if (spelling == "missing") {
            // What failed, then why, after the work's loading state.
            QTRY_COMPARE(s.order, (QStringList{"loading 1", "loading 0"}));
            QVERIFY2(tip.startsWith(message) && tip.contains("cannot write into " + folder), qPrintable(tip));
            QVERIFY(!QFile::exists(target));
        } else {
            QVERIFY2(tip.contains(message), qPrintable(tip));
            QTest::qWait(100);
            QCOMPARE(s.loadings.count(), 0);
        }
        QCOMPARE(fileHash(r.path), before);
        s.processor.setFps(30);
        s.processor.nextFrame();
        QVERIFY(s.waitImages(1));
        QCOMPARE(shownEvents(s.lastImage()), r.window(r.first + 1, 33333));
    }

    void exportUsesTheDisplaySettings()
    {
        ConfigStore* config = ConfigStore::instance();
        config->colorType = "Dark";
        config->save();
        Session s;
        QVERIFY(s.loadPaused(shortRecording.path));
        s.processor.setFps(60);
        s.processor.setAccTime(10000);
        const QString target = pathFor("dark.mp4");
        s.processor.slotExportVideo(target, dir.path(), 1'000'000, 1'100'000);
        QTRY_COMPARE_WITH_TIMEOUT(s.loadings.count(), 2, 30000);
        config->colorType = "Gray";
        config->save();
        QCOMPARE(s.tips.count(), 1);
        QCOMPARE(s.tips.first().at(0).toString(), QString("Export video success!"));
        QCOMPARE(s.tips.first().at(2).toString(), dir.path());

        auto video = sorvane::ApsFileReader::createFileReader(toStd(target));
        QVERIFY(video);
        std::vector<uint64_t> frameTimes;
        QVERIFY(video->getFrameTimestamps(frameTimes));
        // One frame per 16 666 µs step over 100 000 µs.
        QVERIFY2(frameTimes.size() >= 6 && frameTimes.size() <= 7, qPrintable(QString::number(frameTimes.size())));
        sorvane::ApsFrame frame;
        QVERIFY(video->seekFrame(0));
        QVERIFY(video->getNextFrame(frame));
        // Far from any event: the Dark background (30, 37, 52), within coding error.
        const uint8_t* pixel = frame.data() + (size_t(600) * size_t(frame.getWidth()) + 1000) * 3;
        QVERIFY2(std::abs(pixel[2] - 30) <= 6 && std::abs(pixel[1] - 37) <= 6 && std::abs(pixel[0] - 52) <= 6,
                 qPrintable(QString("%1 %2 %3").arg(pixel[2]).arg(pixel[1]).arg(pixel[0])));
    }

    void unplayableFilesAndClosing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<SvMessageType>("tipType");
        QTest::newRow("plain text") << QByteArray("just some text, no recording header\n") << Error;
        QTest::newRow("header only")
            << QByteArray("% evt 3.0\n% format EVT3;height=720;width=1280\n% end\n") << Warning;
        QTest::newRow("header and time words only")
            << QByteArray("% evt 3.0\n% end\n").append(QByteArray::fromHex("00800000")) << Warning;
    }
    void unplayableFilesAndClosing()
    {
        QFETCH(QByteArray, content);
        QFETCH(SvMessageType, tipType);
        const QString unplayable = pathFor("unplayable.raw");
        {
            QFile file(unplayable);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
        }
        Session s;
        s.processor.loadFile(unplayable);
        QTRY_COMPARE(s.tips.count(), 1);
        QCOMPARE(s.tips.first().at(1).value<SvMessageType>(), tipType);
        QVERIFY(!s.order.contains("play 1"));
        QVERIFY(!s.playButton.checked);
        s.playButton.setChecked(true);
        QTRY_VERIFY(!s.playButton.checked);
        s.processor.nextFrame();
        s.processor.setPlayPos(1'000'000);
        QTest::qWait(100);
        QCOMPARE(s.images.count(), 0);

        // An empty path closes what is open: commands do nothing afterwards.
        QVERIFY(s.load(shortRecording.path));
        s.playButton.setChecked(false);
        s.processor.loadFile(QString());
        QVERIFY(!s.playButton.checked);
        s.clear();
        s.processor.nextFrame();
        s.processor.setPlayPos(1'100'000);
        s.processor.slotPlaybackCtrl(true);
        QTest::qWait(150);
        QCOMPARE(s.images.count(), 0);
        QCOMPARE(s.tips.count(), 0);
    }

    // Without the play button nothing else stops the playback thread before the reader is
    // replaced; the processor must do it itself.
    void loadWhilePlayingWithoutTheButton()
    {
        SvEventProcessor processor;
        ProcessorRelay relay(processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        QSignalSpy starts(&relay, &ProcessorRelay::start);
        QSignalSpy loadings(&relay, &ProcessorRelay::loading);
        processor.loadFile(longRange.path);
        QTRY_COMPARE(loadings.count(), 2);
        processor.slotPlaybackCtrl(true);
        QTRY_VERIFY(images.count() >= 2);
        processor.loadFile(past32.path);
        QTRY_COMPARE(loadings.count(), 4);
        QCOMPARE(starts.last().at(0).value<uint64_t>(), past32.first);
        // The old playback is gone: no frames arrive until asked for.
        QTest::qWait(100);
        images.clear();
        QTest::qWait(150);
        QCOMPARE(images.count(), 0);
        processor.setPlayPos(past32.first);
        QTRY_COMPARE(images.count(), 1);
        QCOMPARE(shownEvents(images.last().at(0).value<QImage>()), QString("events 0..0"));
    }

    // Cancel stops a load: no range, no playback, a tip, and nothing counts as open.
    void cancelledLoadOpensNothing()
    {
        const QString big = pathFor("big-cancel.raw");
        QVERIFY(writeBigRecording(big));
        Session s;
        QSignalSpy opened(&s.processor, &SvEventProcessor::signalRecordingOpened);
        s.processor.loadFile(big);
        QVERIFY(s.processor.isBusy());
        s.processor.slotCancelWork();
        QTRY_COMPARE_WITH_TIMEOUT(s.loadings.count(), 2, 20000);
        QCOMPARE(s.starts.count(), 0);
        QVERIFY(!s.playButton.checked);
        QCOMPARE(s.tips.count(), 1);
        QCOMPARE(s.tips.first().at(0).toString(), QString("Loading cancelled."));
        QCOMPARE(opened.count(), 2);
        QCOMPARE(opened.first().at(0).toString(), big);
        QCOMPARE(opened.last().at(0).toString(), QString());
        QVERIFY(!s.processor.isBusy());
        // The next load goes through.
        QVERIFY(s.load(shortRecording.path));
        QCOMPARE(s.starts.count(), 1);
        QFile::remove(big);
    }

    void destructionDuringLoad()
    {
        Recording big{pathFor("big.raw"), 1'000'000, 1, 0};
        QVERIFY(writeBigRecording(big.path));
        for (int round = 0; round < 3; ++round) {
            auto processor = std::make_unique<SvEventProcessor>();
            ProcessorRelay relay(*processor);
            QSignalSpy starts(&relay, &ProcessorRelay::start);
            QSignalSpy loadings(&relay, &ProcessorRelay::loading);
            // Destroyed at once: the scan of the big file is surely still running.
            processor->loadFile(big.path);
            processor.reset();
            QTRY_VERIFY(loadings.count() >= 2);
            // Cancelled: the range was never reported, and the load ended.
            QCOMPARE(starts.count(), 0);
            QCOMPARE(loadings.last().at(0).toBool(), false);
        }
        QFile::remove(big.path);
    }
};

QTEST_GUILESS_MAIN(TestRawPlayback)
#include "tst_rawplayback.moc"
