// svraw's camera commands run as a user runs them: cameras, record with settings, generate.
#include "RawTestData.h"
#include "SvrawRunner.h"

#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/RawHeader.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "SorvaneDriver/Video/ApsFileReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <signal.h>

using namespace sorvane;
using namespace svrawtest;

namespace {

std::vector<Event2D> eventsOf(const QString& path, std::vector<EventTriggerIn>* triggers = nullptr)
{
    auto reader = DvsFileReader::createFileReader(path.toStdString());
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader || !reader->loadFile() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last))
        return {};
    if (triggers)
        *triggers = reader->getTriggerEvents(0, UINT64_MAX);
    auto events = reader->getEventsByTime(first, last - first + 1);
    return events ? *events : std::vector<Event2D>{};
}

// The file decoded by a reader that takes every VECT_12 as the start of a full vector group.
rawtest::Stream groupedEventsOf(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    RawHeader header;
    std::string error;
    if (!parseRawHeader(std::span(data, size_t(bytes.size())), true, header, error))
        return {};
    return rawtest::decodeGroupedEvt3(data + header.dataOffset, size_t(bytes.size()) - header.dataOffset);
}

} // namespace

class TestSvrawCameras : public QObject {
    Q_OBJECT
    QTemporaryDir folder;

    QString path(const QString& name) const { return folder.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }

    void listsTheCameras()
    {
        const Run run = svraw({"cameras"}, folder.path());
        QCOMPARE(run.status, 0);
        QByteArray expected;
        for (const auto& model : SimulatedCameraProvider::models())
            expected += QByteArray::fromStdString(model.serial) + ' ' + QByteArray::fromStdString(model.product) + '\n';
        QCOMPARE(run.out, expected);
        QCOMPARE(svraw({"cameras", "extra"}, folder.path()).status, 2);
    }

    // Same arguments, same events; another seed, other events.
    void generateIsDeterministic_data()
    {
        QTest::addColumn<QString>("scene");
        for (const char* scene : {"edges", "bar", "flicker", "noise", "mixed"})
            QTest::newRow(scene) << QString(scene);
    }

    void generateIsDeterministic()
    {
        QFETCH(QString, scene);
        const QStringList common = {"--scene", scene, "--duration-s", "0.5", "--rate-ev-s", "1e6", "--force"};
        QCOMPARE(svraw(QStringList{"generate", path("a.raw"), "--seed", "3"} + common, folder.path()).status, 0);
        QCOMPARE(svraw(QStringList{"generate", path("b.raw"), "--seed", "3"} + common, folder.path()).status, 0);
        QCOMPARE(svraw(QStringList{"generate", path("c.raw"), "--seed", "4"} + common, folder.path()).status, 0);
        std::vector<EventTriggerIn> triggers;
        const auto a = eventsOf(path("a.raw"), &triggers);
        const auto b = eventsOf(path("b.raw"));
        const auto c = eventsOf(path("c.raw"));
        QVERIFY(a.size() > 400000 && a.size() < 600000);
        QVERIFY(a == b);
        QVERIFY(a != c);
        QVERIFY(a.back().timestamp < 500000);
        // The trigger input of a camera: a rising edge at 0.5 s is just past the end.
        QVERIFY(triggers.empty());
    }

    // Generated and recorded files read the same in other tools' decoders, which take vectors
    // only as full groups.
    void filesReadTheSameEverywhere_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after the output path

        QTest::newRow("generated flicker") << QStringList{"generate", "--scene", "flicker", "--duration-s", "1"};
        QTest::newRow("generated edges") << QStringList{"generate", "--scene", "edges", "--duration-s", "0.5"};
        QTest::newRow("recorded camera") << QStringList{"record", "--seconds", "0.6"};
    }

    void filesReadTheSameEverywhere()
    {
        QFETCH(QStringList, arguments);
        const QString out = path("everywhere.raw");
        QFile::remove(out);
        QStringList all{arguments.takeFirst()};
        if (all.front() == "record")
            all << QString::fromStdString(SimulatedCameraProvider::models().front().serial);
        const Run run = svraw(all + QStringList{out} + arguments, folder.path());
        QCOMPARE(run.status, 0);
        std::vector<EventTriggerIn> triggers;
        const std::vector<Event2D> ours = eventsOf(out, &triggers);
        QVERIFY(ours.size() > 10000);
        const rawtest::Stream grouped = groupedEventsOf(out);
        QCOMPARE(grouped.events.size(), ours.size());
        QVERIFY(grouped.events == ours);
        QVERIFY(grouped.triggers == triggers);
    }

    // A headless recording with the camera set up on the command line: the ROI bounds every event.
    void recordWithSettings()
    {
        const QString out = path("roi.raw");
        const QString serial = QString::fromStdString(SimulatedCameraProvider::models().front().serial);
        const Run run = svraw({"record", serial, out, "--seconds", "0.6", "--set", "roi.roi_x1=200", "--set",
                               "roi.roi_y0=100", "--set", "roi.enable=true", "--set", "trigger_in.channel_0=off"},
                              folder.path());
        QCOMPARE(run.status, 0);
        std::vector<EventTriggerIn> triggers;
        const auto events = eventsOf(out, &triggers);
        QVERIFY(events.size() > 1000);
        for (const Event2D& e : events)
            QVERIFY(e.x <= 200 && e.y >= 100);
        QVERIFY(triggers.empty());
    }

    // A fusion recording killed midway keeps its video under its own name: every frame up to
    // about a second before the last events that reached the disk plays. Both are measured on the
    // camera's clock, which a slow (sanitized) build may run behind the wall clock.
    void killedFusionRecordingKeepsItsVideo_data()
    {
        QTest::addColumn<int>("fps");
        QTest::newRow("10 fps") << 10;
        QTest::newRow("5 fps") << 5;
    }

    void killedFusionRecordingKeepsItsVideo()
    {
#if defined(__SANITIZE_THREAD__)
        QSKIP("under the thread sanitizer the camera renders its frames far slower than they are due");
#endif
        QFETCH(int, fps);
        const QString base = path(QString("killed_%1").arg(fps));
        const QString serial = QString::fromStdString(SimulatedCameraProvider::serialOf("Tandem"));
        const pid_t child = startSvraw({"record", serial, base + ".raw", "--seconds", "60", "--set",
                                        QString("aps.frame_rate=%1").arg(fps)});
        QVERIFY(child > 0);
        auto reap = [child] {
            ::kill(child, SIGKILL);
            int status = 0;
            return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        };
        // The video is written under its final name from the start.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(base + ".mp4"), 30000);
        QTest::qWait(5000);
        QVERIFY(!QFileInfo::exists(base + ".mp4.part"));
        QVERIFY(reap());

        auto events = DvsFileReader::createFileReader((base + ".raw").toStdString());
        QVERIFY(events && events->loadFile());
        DvsFileInfo info;
        QVERIFY(events->getFileInfo(info));
        QVERIFY(info.eventCount > 100000);
        auto video = ApsFileReader::createFileReader((base + ".mp4").toStdString());
        QVERIFY(video);
        std::vector<uint64_t> stamps;
        QVERIFY(video->getFrameTimestamps(stamps));
        QVERIFY(!stamps.empty());
        QCOMPARE(stamps.front(), uint64_t(0));
        QVERIFY(stamps.size() >= 2);
        // Frame times count from the event clock's apsTimeOffset.
        const uint64_t lastFrame = stamps.back() + uint64_t(std::max<int64_t>(info.apsTimeOffset, 0));
        const uint64_t lost = info.lastTimestamp - std::min(info.lastTimestamp, lastFrame);
        QVERIFY2(lost <= 1500000, qPrintable(QString("frames up to %1 us, events up to %2 us").arg(lastFrame).arg(info.lastTimestamp)));
        ApsFrame frame;
        for (size_t i = 0; i < stamps.size(); ++i)
            QVERIFY2(video->getNextFrame(frame), qPrintable(QString("frame %1 of %2").arg(i).arg(stamps.size())));
        QCOMPARE(frame.getWidth(), 1920);

        // info tells the frames of the set along with its events.
        const Run run = svraw({"info", base + ".raw"}, folder.path());
        QCOMPARE(run.status, 0);
        const QJsonObject json = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(json.value("aps_frames").toInteger(), qint64(stamps.size()));
        QCOMPARE(json.value("aps_width").toInt(), 1920);
        QCOMPARE(json.value("aps_height").toInt(), 1080);
        QCOMPARE(json.value("aps_time_offset_us").toInteger(), qint64(info.apsTimeOffset));
    }

    // Bad arguments are refused with a reason, and nothing is written.
    // Bad arguments are refused with their cause and write nothing. A folder is no name for a
    // recording either: a fusion camera would write the hidden, nameless set .raw, .mp4 and .json
    // into it.
    void refusesBadArguments_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("camera"); // for record: a product, or a serial of none
        QTest::addColumn<QString>("out");    // in a folder holding the folder "adir"
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status"); // 0: any failure
        QTest::addColumn<QString>("message");
        const auto generate = [](const char* name, const QStringList& arguments) {
            QTest::newRow(name) << "generate" << "" << "refused.raw" << arguments << 0 << "";
        };
        generate("generate: unknown scene", {"--scene", "waves"});
        generate("generate: zero duration", {"--duration-s", "0"});
        generate("generate: negative rate", {"--rate-ev-s", "-5"});
        generate("generate: rate not a number", {"--rate-ev-s", "fast"});
        generate("generate: seed not whole", {"--seed", "1.5"});
        generate("generate: unknown option", {"--colour", "red"});
        const auto record = [](const char* name, const QString& camera, const QString& out, const QStringList& arguments,
                               int status, const QString& message = {}) {
            QTest::newRow(name) << "record" << camera << out << arguments << status << message;
        };
        record("record: value out of range", "Orion4", "refused.raw", {"--set", "biases.bias_diff_on=500"}, 1);
        record("record: unknown tool", "Orion4", "refused.raw", {"--set", "lens.focus=3"}, 1);
        record("record: unknown parameter", "Orion4", "refused.raw", {"--set", "biases.gain=3"}, 1);
        record("record: not a setting", "Orion4", "refused.raw", {"--set", "biases"}, 1);
        record("record: no seconds", "Orion4", "refused.raw", {}, 2);
        record("record: no aps on an event camera", "Orion4", "refused.raw", {"--set", "aps.exposure_time=1000"}, 1);
        record("record: unknown camera", "NO-SUCH-CAMERA", "refused.raw", {}, 1);
        for (const char* product : {"Orion4", "Tandem"}) {
            record(qPrintable(QString("%1: into a folder").arg(product)), product, "adir/", {}, 1, "is a folder");
            record(qPrintable(QString("%1: into a folder without its slash").arg(product)), product, "adir", {}, 1, "is a folder");
            record(qPrintable(QString("%1: a path ending in a slash").arg(product)), product, "newdir/", {}, 1, "is a folder");
        }
        record("Tandem: a set without a name", "Tandem", "adir/.raw", {}, 1, "needs a name");
    }

    void refusesBadArguments()
    {
        QFETCH(QString, command);
        QFETCH(QString, camera);
        QFETCH(QString, out);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        QVERIFY(dir.mkdir("adir"));
        QStringList all{command};
        if (command == "record") {
            const std::string serial = SimulatedCameraProvider::serialOf(camera.toStdString());
            all << (serial.empty() ? camera : QString::fromStdString(serial));
        }
        all << dir.filePath(out);
        if (command == "record" && status != 2)
            all << "--seconds" << "0.2";
        const Run run = svraw(all + arguments, folder.path());
        if (status == 0)
            QVERIFY(run.status != 0);
        else
            QCOMPARE(run.status, status);
        QVERIFY2(!run.err.isEmpty() && run.err.contains(message.toUtf8()), run.err.constData());
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"adir"});
        QCOMPARE(QDir(dir.filePath("adir")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
    }

    // Interrupted from the terminal or by the system, generate removes its temporary and leaves no
    // recording.
    void interruptedGenerateLeavesNothing_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }

    void interruptedGenerateLeavesNothing()
    {
        QFETCH(int, signal);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        // An hour of events: far longer than the wait below.
        const pid_t run = startSvraw({"generate", dir.filePath("long.raw"), "--duration-s", "3600"});
        QVERIFY(run > 0);
        int status = -2;
        const auto killOnFailure = qScopeGuard([&] {
            if (status == -2)
                stopSvraw(run, SIGKILL);
        });
        QTRY_VERIFY_WITH_TIMEOUT(!dir.entryList({".long.raw.svtmp-*"}, QDir::Files | QDir::Hidden).isEmpty(), 60000);
        status = stopSvraw(run, signal);
        QCOMPARE(status, 1);
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestSvrawCameras)
#include "tst_svrawcameras.moc"
