// Recordings of the simulated cameras read back with the raw reader: nothing dropped, the cache
// seam exact, the fusion set: calibration, video and the raw file in the sensor's own column order.
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "SorvaneDriver/Video/ApsFileReader.h"

#include <nlohmann/json.hpp>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <chrono>
#include <signal.h>
#include <unistd.h>
#include <mutex>
#include <thread>

using namespace sorvane;
using namespace std::chrono_literals;

namespace {

const SimulatedCameraModel& modelOf(const std::string& product)
{
    for (const auto& model : SimulatedCameraProvider::models())
        if (model.product == product)
            return model;
    static SimulatedCameraModel none;
    return none;
}

struct Recording {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    DvsFileInfo info;
    bool ok = false;
};

Recording readBack(const QString& path)
{
    Recording r;
    auto reader = DvsFileReader::createFileReader(path.toStdString());
    if (!reader || !reader->loadFile())
        return r;
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return r;
    auto events = reader->getEventsByTime(first, last - first + 1);
    if (!events)
        return r;
    r.events = *events;
    r.triggers = reader->getTriggerEvents(0, UINT64_MAX);
    r.ok = reader->getFileInfo(r.info);
    return r;
}

// The stream the camera produces with its default tools over [0, until): the same scene, the
// same seed.
StreamChunk expectedStream(const SimulatedCameraModel& model, uint64_t until)
{
    EventPipeline pipeline(model.scene, model.eventRate, model.seed, 1280, 720, SensorTools::create(1280, 720, false));
    pipeline.setTriggerSource(EventPipeline::externalInputs());
    StreamChunk all;
    pipeline.produce(until, all);
    return all;
}

// Events of stream with timestamps in [from, to].
std::vector<Event2D> window(const std::vector<Event2D>& stream, uint64_t from, uint64_t to)
{
    std::vector<Event2D> out;
    for (const Event2D& e : stream)
        if (e.timestamp >= from && e.timestamp <= to)
            out.push_back(e);
    return out;
}

void waitForCameraTime(SimulatedDvsCamera& camera, uint64_t t)
{
    for (int i = 0; i < 2000 && camera.cameraTime() < t; ++i)
        std::this_thread::sleep_for(5ms);
}

} // namespace

class TestCameraRecording : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // Every event and trigger edge of the recorded stretch is in the file, in order.
    void recordingHoldsTheWholeStream()
    {
        const auto& model = modelOf("Orion4");
        DvsCameraManager manager;
        auto camera = manager.openCamera(model.serial);
        QVERIFY(camera);
        auto& sim = dynamic_cast<SimulatedDvsCamera&>(*camera);
        QCOMPARE(camera->start(), 0);
        waitForCameraTime(sim, 300000);
        const QString path = dir.filePath("whole.raw");
        QVERIFY(camera->startRecording(path.toStdString()));
        QVERIFY(!camera->startRecording(dir.filePath("other.raw").toStdString()));
        waitForCameraTime(sim, 1300000);
        QVERIFY(camera->stopRecording());
        QVERIFY(!camera->stopRecording());
        camera->stop();

        const Recording r = readBack(path);
        QVERIFY(r.ok);
        QCOMPARE(r.info.encoding, std::string("EVT3.0"));
        QCOMPARE(r.info.serial, model.serial);
        QCOMPARE(r.info.width, 1280);
        QVERIFY(r.events.size() > 1000000);
        QCOMPARE(r.info.eventCount, uint64_t(r.events.size()));
        QCOMPARE(sim.recordedEvents(), uint64_t(r.events.size()));
        // The recording started at a chunk boundary and ran for about a second.
        const uint64_t first = r.events.front().timestamp;
        const uint64_t last = r.events.back().timestamp;
        QVERIFY(last - first > 900000);
        const StreamChunk expected = expectedStream(model, last + 1000);
        const auto want = window(expected.events, first, last);
        QCOMPARE(r.events.size(), want.size());
        QVERIFY(r.events == want);
        // The trigger edge at 0.5 s of every second, rising then falling 100 ms later.
        std::vector<EventTriggerIn> wantTriggers;
        for (const EventTriggerIn& t : expected.triggers)
            if (t.timestamp >= first && t.timestamp <= last)
                wantTriggers.push_back(t);
        QVERIFY(!wantTriggers.empty());
        QVERIFY(r.triggers == wantTriggers);
    }

    // The cache heads the recording: the file starts the cached seconds before the start, or at
    // a moment of the camera clock asked for (also further back than the cached seconds, when
    // the start came late, and at the stream's start when the moment lies before it), and runs
    // on without a seam. Switched off, the cache leaves nothing behind and a recording starts at
    // once.
    void recordingStartsInTheCache_data()
    {
        QTest::addColumn<int>("cacheSeconds"); // 0: switched off after streaming with 1 s
        QTest::addColumn<quint64>("streamBefore"); // camera time before the recording starts
        QTest::addColumn<qint64>("back");          // how far before that the file is to begin; -1: not asked
        QTest::newRow("1 s cached of 1.5 s") << 1 << quint64(1500000) << qint64(-1);
        QTest::newRow("2 s asked, 1 s streamed") << 2 << quint64(1000000) << qint64(-1);
        QTest::newRow("switched off") << 0 << quint64(1500000) << qint64(-1);
        QTest::newRow("from inside the cached second") << 1 << quint64(1500000) << qint64(600000);
        QTest::newRow("from 1 s before a late start") << 1 << quint64(2500000) << qint64(2000000);
        QTest::newRow("from before the stream") << 2 << quint64(500000) << qint64(4000000);
    }

    void recordingStartsInTheCache()
    {
        QFETCH(int, cacheSeconds);
        QFETCH(quint64, streamBefore);
        QFETCH(qint64, back);
        const auto& model = modelOf("Vesper");
        DvsCameraManager manager;
        auto camera = manager.openCamera(model.serial);
        QVERIFY(camera);
        auto& sim = dynamic_cast<SimulatedDvsCamera&>(*camera);
        QTemporaryDir cacheFolder;
        QVERIFY(camera->setRecordCacheTime(uint16_t(std::max(cacheSeconds, 1)), cacheFolder.path().toStdString()));
        QCOMPARE(camera->start(), 0);
        const auto stopCamera = qScopeGuard([&] { camera->stop(); });
        waitForCameraTime(sim, streamBefore);
        if (cacheSeconds == 0) {
            camera->stop();
            QVERIFY(camera->setRecordCacheTime(0, "."));
            QCOMPARE(camera->start(), 0);
            QTRY_VERIFY(QDir(cacheFolder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        }
        const uint64_t now = sim.cameraTime();
        const uint64_t cached = uint64_t(cacheSeconds) * 1000000;
        const uint64_t from = back >= 0 ? (now > uint64_t(back) ? now - uint64_t(back) : 0) : (now > cached ? now - cached : 0);
        const QString path = dir.filePath(QString("cached %1.raw").arg(QTest::currentDataTag()));
        QVERIFY(back >= 0 ? camera->startRecordingFrom(path.toStdString(), from) : camera->startRecording(path.toStdString()));
        waitForCameraTime(sim, now + 300000);
        QVERIFY(camera->stopRecording());
        camera->stop();
        // The cache keeps only its own files in the folder.
        for (const QString& name : QDir(cacheFolder.path()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(name.startsWith(".sv_cache_"), qPrintable(name));

        const Recording r = readBack(path);
        QVERIFY(r.ok);
        const uint64_t first = r.events.front().timestamp;
        const uint64_t last = r.events.back().timestamp;
        QVERIFY(last >= now + 200000);
        // Chunks are a few milliseconds long: without a moment asked, the file starts within one
        // of the point expected; with one, exactly there.
        QVERIFY2(first <= from + 20000 && first + 20000 >= from,
                 qPrintable(QString("first %1, expected about %2").arg(first).arg(from)));
        const StreamChunk expected = expectedStream(model, last + 1000);
        const auto want = window(expected.events, back >= 0 ? from : first, last);
        QCOMPARE(r.events.size(), want.size());
        QVERIFY(r.events == want);
    }

    // A damaged record ends the replay of its cached second: the recording starts with the next
    // second rather than with events the record does not hold.
    void damagedCacheRecordIsNotReplayed()
    {
        DvsCameraManager manager;
        auto camera = manager.openCamera(modelOf("Vesper").serial);
        QVERIFY(camera);
        auto& sim = dynamic_cast<SimulatedDvsCamera&>(*camera);
        QTemporaryDir cacheFolder;
        QVERIFY(camera->setRecordCacheTime(2, cacheFolder.path().toStdString()));
        QCOMPARE(camera->start(), 0);
        const auto stopCamera = qScopeGuard([&] { camera->stop(); });
        waitForCameraTime(sim, 1500000);
        // The first cached second is complete; its first record now claims more events than words.
        const QStringList first = QDir(cacheFolder.path()).entryList({".sv_cache_*_0.bin"}, QDir::Files | QDir::Hidden);
        QCOMPARE(first.size(), 1);
        QFile segment(cacheFolder.filePath(first.first()));
        QVERIFY(segment.open(QIODevice::ReadWrite));
        uint32_t header[3] = {}; // magic, events, words
        QCOMPARE(segment.read(reinterpret_cast<char*>(header), sizeof header), qint64(sizeof header));
        header[1] = header[2] + 1;
        QVERIFY(segment.seek(0));
        QCOMPARE(segment.write(reinterpret_cast<const char*>(header), sizeof header), qint64(sizeof header));
        segment.close();
        const QString path = dir.filePath("after-damage.raw");
        QVERIFY(camera->startRecording(path.toStdString()));
        waitForCameraTime(sim, sim.cameraTime() + 200000);
        QVERIFY(camera->stopRecording());
        const Recording r = readBack(path);
        QVERIFY(r.ok);
        QVERIFY2(r.events.front().timestamp >= 900000, qPrintable(QString::number(r.events.front().timestamp)));
    }

    void unwritableCacheFolderIsRefused()
    {
        DvsCameraManager manager;
        auto camera = manager.openCamera(modelOf("Orion4").serial);
        QVERIFY(camera);
        QVERIFY(!camera->setRecordCacheTime(5, dir.filePath("no/such/folder").toStdString()));
        QVERIFY(!camera->startRecording(dir.filePath("no/such/folder/x.raw").toStdString()));
    }

    // Cache files a crashed process left behind go when a cache is set up in that folder; those
    // of live processes and other files stay.
    void staleCacheFilesAreRemoved()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        pid_t dead = 4194000;
        while (dead > 1000 && ::kill(dead, 0) == 0)
            --dead;
        const QString stale = folder.filePath(QString(".sv_cache_O4S0021_%1_0_3.bin").arg(dead));
        const QString own = folder.filePath(QString(".sv_cache_O4S0021_%1_9_0.bin").arg(::getpid()));
        const QString other = folder.filePath("notes.bin");
        for (const QString& path : {stale, own, other}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        DvsCameraManager manager;
        auto camera = manager.openCamera(modelOf("Orion4").serial);
        QVERIFY(camera);
        QVERIFY(camera->setRecordCacheTime(1, folder.path().toStdString()));
        QVERIFY(!QFile::exists(stale));
        QVERIFY(QFile::exists(own));
        QVERIFY(QFile::exists(other));
        QVERIFY(camera->setRecordCacheTime(0, "."));
    }

    // A fusion set: set.json holds the calibration, set.mp4 the frames from the raw header's
    // apsTimeOffset on, set.raw the events in the sensor's own column order (live column x is
    // recorded as 1279 - x) and the sync edges.
    void fusionRecordingSet()
    {
        const auto& model = modelOf("Tandem");
        DvsCameraManager manager;
        auto camera = manager.openFusionCamera(model.serial);
        QVERIFY(camera);
        std::mutex mutex;
        std::vector<Event2D> live;
        std::vector<uint64_t> frameTimes;
        camera->addEventsCallback([&](const Event2D* b, const Event2D* e) {
            std::lock_guard lock(mutex);
            live.insert(live.end(), b, e);
        });
        camera->addApsFrameCallback([&](ApsFrame& frame) {
            std::lock_guard lock(mutex);
            frameTimes.push_back(frame.getTimestamp());
        });
        QCOMPARE(camera->start(STREAM_ALL), 0);
        const auto stopCamera = qScopeGuard([&] {
            camera->stopRecording(STREAM_ALL);
            camera->stop(STREAM_ALL);
        });
        QTRY_VERIFY([&] { std::lock_guard lock(mutex); return frameTimes.size() >= 3; }());
        const std::string folder = dir.path().toStdString();
        const uint64_t startedAt = dynamic_cast<SimulatedFusionCamera&>(*camera).cameraTime();
        QVERIFY(camera->startRecording(folder, "set", STREAM_ALL));
        QVERIFY(!camera->startRecording(folder, "again", STREAM_ALL));
        // Frames are rendered behind the stream (far behind in a sanitizer build): wait for
        // frames well into the recording.
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            std::lock_guard lock(mutex);
            return !frameTimes.empty() && frameTimes.back() > startedAt + 700000;
        }(), 60000);
        QVERIFY(camera->stopRecording(STREAM_ALL));
        camera->stop(STREAM_ALL);

        QFile json(dir.filePath("set.json"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        const auto root = nlohmann::json::parse(json.readAll().toStdString());
        QCOMPARE(root["0"]["camera_serial"].get<std::string>(), model.serial);
        QCOMPARE(root["0"]["frame_size"]["cols"].get<int>(), 1280);
        QCOMPARE(root["1"]["frame_size"]["rows"].get<int>(), 1080);
        QCOMPARE(root["0"]["affine_matrix"]["1"]["data"].size(), size_t(6));
        QCOMPARE(root["0"]["affine_matrix"]["1"]["data"][0].get<double>(), 1.4);
        QCOMPARE(root["1"]["affine_matrix"]["0"]["data"][2].get<double>(), -64 / 1.4);
        QCOMPARE(root["0"]["camera_matrix"]["rows"].get<int>(), 3);
        QCOMPARE(root["0"]["dist_coeffs"]["data"].size(), size_t(5));

        const Recording r = readBack(dir.filePath("set.raw"));
        QVERIFY(r.ok);
        QVERIFY(r.info.apsTimeOffset > 0);
        QVERIFY(uint64_t(r.info.apsTimeOffset) >= r.events.front().timestamp);
        std::lock_guard lock(mutex);
        const auto shown = window(live, r.events.front().timestamp, r.events.back().timestamp);
        QCOMPARE(shown.size(), r.events.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            QCOMPARE(r.events[i].x, uint16_t(1279 - shown[i].x));
            QCOMPARE(r.events[i].y, shown[i].y);
            QCOMPARE(r.events[i].timestamp, shown[i].timestamp);
        }
        // The sync edges, one per frame, on the frame period's beat. (A slow build's sensor skips
        // most of them, but never the first.)
        std::vector<uint64_t> rising;
        for (const EventTriggerIn& t : r.triggers)
            if (t.polarity == RisingEdge)
                rising.push_back(t.timestamp);
        QVERIFY(!rising.empty());
        for (size_t i = 1; i < rising.size(); ++i) {
            QVERIFY(rising[i] > rising[i - 1]);
            QCOMPARE((rising[i] - rising[i - 1]) % 33333, uint64_t(0));
        }

        auto video = ApsFileReader::createFileReader(dir.filePath("set.mp4").toStdString());
        QVERIFY(video && video->isOpen());
        QCOMPARE(video->getWidth(), 1920);
        QCOMPARE(video->getHeight(), 1080);
        std::vector<uint64_t> stamps;
        QVERIFY(video->getFrameTimestamps(stamps));
        QVERIFY(stamps.size() >= 2);
        QCOMPARE(stamps.front(), uint64_t(0));
        // The first recorded frame is a delivered frame that starts at the offset, and the video
        // keeps the frames' spacing (an encoder that falls behind leaves whole frames out).
        QVERIFY(std::find(frameTimes.begin(), frameTimes.end(), uint64_t(r.info.apsTimeOffset)) != frameTimes.end());
        for (size_t i = 1; i < stamps.size(); ++i) {
            const uint64_t step = stamps[i] - stamps[i - 1];
            QVERIFY2(step >= 33000 && (step + 700) % 33333 <= 1400, qPrintable(QString::number(step)));
        }
    }

    // The statistics' bandwidth is what EVT 3.0 needs without vector words; the writer, which
    // packs neighbours into vectors, never needs more.
    void bandwidthBoundsTheWrittenSize()
    {
        const auto& model = modelOf("Orion4");
        const StreamChunk second = expectedStream(model, 1000000);
        Evt3SizeCounter counter;
        const uint64_t needed = counter.add(second.events.data(), second.events.data() + second.events.size());
        const QString path = dir.filePath("second.raw");
        RawEventWriter writer;
        RawHeaderInfo header;
        QVERIFY(writer.open(path.toStdString(), header));
        QVERIFY(writer.write(second.events.data(), second.events.data() + second.events.size()));
        QVERIFY(writer.close());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        qint64 headerBytes = 0;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (!line.startsWith("% "))
                break;
            headerBytes += line.size();
        }
        const uint64_t written = uint64_t(file.size() - headerBytes);
        QVERIFY2(written <= needed + 64, qPrintable(QString("%1 written, %2 counted").arg(written).arg(needed)));
        QVERIFY2(written * 3 >= needed, qPrintable(QString("%1 written, %2 counted").arg(written).arg(needed)));
    }
};

QTEST_APPLESS_MAIN(TestCameraRecording)
#include "tst_camerarecording.moc"
