// svraw end to end: the tool run as a user runs it, on recordings made here.
#include "RawTestData.h"
#include "SvrawRunner.h"

#include "SorvaneDriver/DvsFileReader.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

using namespace sorvane;
using namespace svrawtest;
using namespace rawtest;

namespace {

QByteArray eventLines(const std::vector<Event2D>& events, uint64_t start, uint64_t end)
{
    QByteArray lines;
    for (const Event2D& e : events)
        if (e.timestamp >= start && e.timestamp <= end)
            lines += QByteArray::number(e.x) + ',' + QByteArray::number(e.y) + ',' + QByteArray::number(e.polarity) + ','
                     + QByteArray::number(quint64(e.timestamp)) + '\n';
    return lines;
}

// What a run of generate killed while it writes leaves behind: a temporary of ours, a readable
// recording of some blocks. Empty when none appears.
QString leftoverOfAKilledRun(const QDir& dir)
{
    const pid_t run = startSvraw({"generate", dir.filePath("killed.raw"), "--duration-s", "3600"});
    const QString prefix = ".killed.raw.svtmp-";
    QString leftover;
    const bool found = QTest::qWaitFor([&] {
        for (const QFileInfo& file : dir.entryInfoList({prefix + "*"}, QDir::Files | QDir::Hidden))
            if (file.fileName().size() == prefix.size() + 16 && file.size() > (1 << 20))
                leftover = file.filePath();
        return !leftover.isEmpty();
    }, 60000);
    stopSvraw(run, SIGKILL);
    return found ? leftover : QString();
}

// Last written seconds ago (a negative age: in the future, so young however long the test takes).
bool setAge(const QString& path, int seconds)
{
    timespec when {};
    ::clock_gettime(CLOCK_REALTIME, &when);
    when.tv_sec -= seconds;
    const timespec times[2] = {when, when};
    return ::utimensat(AT_FDCWD, path.toLocal8Bit().constData(), times, 0) == 0;
}

// All of a file; empty when it cannot be read.
QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSvraw : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    Stream stream;
    QString recording;

private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        // The runs keep their indexes here, not in the user's cache.
        qputenv("XDG_CACHE_HOME", QDir(folder.path()).filePath("cache").toLocal8Bit());
        stream.events = makeEvents(17, 30000, 2'000'000, 900);
        for (size_t i = 3; i < stream.events.size(); i += 1000)
            stream.triggers.emplace_back(int16_t(i % 7), int16_t(i % 2), stream.events[i].timestamp);
        recording = QDir(folder.path()).filePath("in.raw");
        QVERIFY(writeRecording(recording.toStdString(), stream, 1280, 720, "CAM \"7\""));
        const QDir dir(folder.path());
        QVERIFY(dir.mkdir("sub"));
        QVERIFY(::mkfifo(dir.filePath("fifo").toLocal8Bit().constData(), 0644) == 0);
        QVERIFY(QFile::link(recording, dir.filePath("link.raw")));
        QVERIFY(QFile::link(dir.filePath("nowhere.raw"), dir.filePath("dangling.raw")));
    }

    void info()
    {
        const Run run = svraw({"info", recording}, folder.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QByteArray()); // no progress into a file
        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(run.out, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(json.value("encoding").toString(), QString("EVT3.0"));
        QCOMPARE(json.value("width").toInt(), 1280);
        QCOMPARE(json.value("height").toInt(), 720);
        QCOMPARE(json.value("events").toInteger(), qint64(stream.events.size()));
        QCOMPARE(json.value("triggers").toInteger(), qint64(stream.triggers.size()));
        QCOMPARE(json.value("first_timestamp_us").toInteger(), qint64(stream.events.front().timestamp));
        QCOMPARE(json.value("last_timestamp_us").toInteger(), qint64(stream.events.back().timestamp));
        QCOMPARE(json.value("duration_us").toInteger(),
                 qint64(stream.events.back().timestamp - stream.events.front().timestamp));
        QCOMPARE(json.value("size_bytes").toInteger(), QFileInfo(recording).size());
        QCOMPARE(json.value("serial").toString(), QString("CAM \"7\""));
    }

    // The index goes into the user's cache folder, never beside the recording; --no-cache keeps
    // nothing there. An open from the kept index answers as a scan does.
    void keepsTheIndexInTheUserCache()
    {
        QTemporaryDir cacheHome;
        const QByteArray previousCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
        const QDir recordings(QDir(cacheHome.path()).filePath("recordings"));
        QVERIFY(recordings.mkpath("."));
        const QString copy = recordings.filePath("copy.raw");
        QVERIFY(QFile::copy(recording, copy));
        // Settled: a file modified in the last seconds is not indexed for later.
        QVERIFY(setAge(copy, 60));
        const QDir index(QDir(cacheHome.path()).filePath("SorvaneViewer/index"));

        const Run uncached = svraw({"info", "--no-cache", copy}, folder.path());
        QCOMPARE(uncached.status, 0);
        QVERIFY(index.entryList(QDir::Files).isEmpty());
        for (const QStringList& arguments : {QStringList{"info", copy}, QStringList{"info", copy},
                                             QStringList{"info", "--rebuild-index", copy}}) {
            const Run run = svraw(arguments, folder.path());
            QCOMPARE(run.status, 0);
            QCOMPARE(run.out, uncached.out);
            QCOMPARE(index.entryList(QDir::Files).size(), 1);
        }
        QCOMPARE(svraw({"dump", copy}, folder.path()).out, eventLines(stream.events, 0, UINT64_MAX));
        QCOMPARE(svraw({"dump", "--triggers", copy}, folder.path()).out.count('\n'), qsizetype(stream.triggers.size()));
        QCOMPARE(recordings.entryList(QDir::Files | QDir::Hidden), QStringList{"copy.raw"});
        qputenv("XDG_CACHE_HOME", previousCache);
    }

    void dump_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<qint64>("start"); // -1: from the first event
        QTest::addColumn<qint64>("end");   // -1: to the last

        const qint64 a = qint64(makeEvents(17, 30000, 2'000'000, 900)[4000].timestamp);
        const qint64 b = qint64(makeEvents(17, 30000, 2'000'000, 900)[29000].timestamp);
        QTest::newRow("everything") << QStringList{} << qint64(-1) << qint64(-1);
        QTest::newRow("both ends inclusive") << QStringList{"--start", QString::number(a), "--end", QString::number(b)} << a << b;
        QTest::newRow("one timestamp") << QStringList{"--start", QString::number(a), "--end", QString::number(a)} << a << a;
        QTest::newRow("from a start on") << QStringList{"--start", QString::number(b)} << b << qint64(-1);
        QTest::newRow("before the recording") << QStringList{"--end", "5"} << qint64(-1) << qint64(5);
    }

    void dump()
    {
        QFETCH(QStringList, options);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        const Run run = svraw(QStringList{"dump", recording} + options, folder.path());
        QCOMPARE(run.status, 0);
        const uint64_t from = start < 0 ? 0 : uint64_t(start);
        const uint64_t to = end < 0 ? UINT64_MAX : uint64_t(end);
        QCOMPARE(run.out, eventLines(stream.events, from, to));
    }

    void dumpTriggers()
    {
        const Run run = svraw({"dump", recording, "--triggers"}, folder.path());
        QCOMPARE(run.status, 0);
        QByteArray expected;
        for (const EventTriggerIn& t : stream.triggers)
            expected += QByteArray::number(t.id) + ',' + QByteArray::number(t.polarity) + ','
                        + QByteArray::number(quint64(t.timestamp)) + '\n';
        QCOMPARE(run.out, expected);
    }

    void cut()
    {
        const uint64_t start = stream.events[1000].timestamp;
        const uint64_t end = stream.events[20000].timestamp;
        const QString out = QDir(folder.path()).filePath("cut.raw");
        const Run run = svraw({"cut", recording, out, "--start", QString::number(start), "--end", QString::number(end)},
                              folder.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QByteArray());
        const Run dumped = svraw({"dump", out}, folder.path());
        QCOMPARE(dumped.status, 0);
        QCOMPARE(dumped.out, eventLines(stream.events, start, end));
    }

    void refuses_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@in" is the recording, "@dir" the folder
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        QTest::newRow("no command") << QStringList{} << 2 << "usage: svraw";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << "unknown command 'frobnicate'";
        QTest::newRow("missing file") << QStringList{"info", "@dir/none.raw"} << 1 << "cannot open";
        QTest::newRow("not a recording") << QStringList{"info", "@dir/stdout.txt"} << 1 << "not an event recording";
        QTest::newRow("extra argument") << QStringList{"dump", "@in", "more"} << 2 << "expected 1 file argument";
        QTest::newRow("unknown option") << QStringList{"dump", "@in", "--colour", "red"} << 2 << "unknown option --colour";
        QTest::newRow("bad number") << QStringList{"dump", "@in", "--start", "12x"} << 2 << "non-negative whole number";
        QTest::newRow("negative number") << QStringList{"dump", "@in", "--end", "-5"} << 2 << "non-negative whole number";
        QTest::newRow("option without value") << QStringList{"dump", "@in", "--start"} << 2 << "--start needs a value";
        QTest::newRow("cut without range") << QStringList{"cut", "@in", "@dir/o.raw"} << 1 << "needs --start and --end";
        QTest::newRow("cut start after end") << QStringList{"cut", "@in", "@dir/o.raw", "--start", "9", "--end", "3"} << 1
                                             << "--start lies after --end";
        for (const char* command : {"cut", "export"}) {
            const QByteArray name(command);
            const QStringList range{"--start", "0", "--end", "99999999"};
            QTest::newRow(name + " into itself") << QStringList{command, "@in", "@in"} + range << 1 << "is the input itself";
            QTest::newRow(name + " into itself by another path")
                << QStringList{command, "@in", "@dir/sub/../in.raw"} + range << 1 << "is the input itself";
            QTest::newRow(name + " into itself through a link")
                << QStringList{command, "@in", "@dir/link.raw"} + range << 1 << "is the input itself";
            QTest::newRow(name + " into a link to nothing")
                << QStringList{command, "@in", "@dir/dangling.raw"} + range << 1 << "is a link to nothing";
            QTest::newRow(name + " into a folder") << QStringList{command, "@in", "@dir/sub"} + range << 1
                                                   << "is not a regular file";
            QTest::newRow(name + " into a FIFO") << QStringList{command, "@in", "@dir/fifo"} + range << 1
                                                 << "is not a regular file";
            QTest::newRow(name + " into a missing folder") << QStringList{command, "@in", "@dir/no/o.raw"} + range << 1
                                                           << "cannot write into";
            QTest::newRow(name + " of a range outside the recording")
                << QStringList{command, "@in", "@dir/o.raw", "--start", "0", "--end", "9"} << 1
                << "lies outside the recording, which spans [2000424, ";
        }
        QTest::newRow("info of a FIFO") << QStringList{"info", "@dir/fifo"} << 1 << "not a regular file";
        QTest::newRow("unknown palette") << QStringList{"export", "@in", "@dir/o.mp4", "--palette", "gray"} << 1
                                         << "unknown palette 'gray'";
        QTest::newRow("zero fps") << QStringList{"export", "@in", "@dir/o.mp4", "--fps", "0"} << 1 << "--fps must lie";
    }

    void refuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QByteArray before = contents(recording);
        for (QString& argument : arguments) {
            argument.replace("@in", recording);
            argument.replace("@dir", folder.path());
        }
        const Run run = svraw(arguments, folder.path());
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
        QVERIFY(run.out.isEmpty());
        QCOMPARE(contents(recording), before);
        const QDir dir(folder.path());
        QVERIFY(!QFile::exists(dir.filePath("o.raw")));
        QVERIFY(QFileInfo(dir.filePath("fifo")).isFile() == false && QFileInfo::exists(dir.filePath("fifo")));
        QVERIFY(QFileInfo(dir.filePath("sub")).isDir());
        QVERIFY(QFileInfo(dir.filePath("dangling.raw")).isSymLink());
        // No temporary is left behind.
        QVERIFY(dir.entryList({".*svtmp*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // Interrupted from the terminal or by the system, an export removes its temporary and leaves
    // no video.
    void interruptedExportLeavesNothing_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }

    void interruptedExportLeavesNothing()
    {
        QFETCH(int, signal);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        // Two minutes of sparse events: thousands of frames, far longer than the wait below.
        Stream sparse;
        sparse.events = makeEvents(5, 120'000, 0, 2000);
        const QString input = dir.filePath("long.raw");
        QVERIFY(writeRecording(input.toStdString(), sparse));
        const QString output = dir.filePath("video.mp4");
        const QByteArray err = dir.filePath("err.txt").toLocal8Bit();

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QByteArray program(SVRAW_PATH);
        QByteArray command("export");
        QByteArray in = input.toLocal8Bit();
        QByteArray out = output.toLocal8Bit();
        char* const argv[] = {program.data(), command.data(), in.data(), out.data(), nullptr};
        pid_t child = 0;
        QCOMPARE(posix_spawn(&child, program.constData(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Interrupted once it is encoding frames into its temporary.
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            const QFileInfoList written = dir.entryInfoList({"*.svtmp-*"}, QDir::Files | QDir::Hidden);
            return !written.isEmpty() && written.first().size() > 0;
        }(), 60000);
        QCOMPARE(::kill(child, signal), 0);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 1);
        QVERIFY(!QFile::exists(output));
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), (QStringList{"err.txt", "long.raw"}));
    }

    // What a header declares and what its words hold may differ: info says how many events fell
    // outside the sensor and how many damaged time words were ignored.
    void infoTellsWhatWasLeftOut()
    {
        const QDir dir(folder.path());
        Stream small;
        small.events = makeEvents(6, 4000, 1'000'000, 100);
        std::vector<uint8_t> words = encodeEvt2(small);
        // One time word a few hours ahead in the middle, as a flipped bit makes it.
        for (size_t at = words.size() / 2 & ~size_t(3); at + 4 <= words.size(); at += 4) {
            if (words[at + 3] >> 4 == 0x8) {
                words[at + 2] ^= 0x40;
                break;
            }
        }
        const QString tiny = dir.filePath("tiny.raw");
        QVERIFY(writeFile(tiny.toStdString(), "% evt 2.0\n% geometry 2x2\n% end\n", words));
        const Run run = svraw({"info", tiny}, folder.path());
        QCOMPARE(run.status, 0);
        const QJsonObject json = QJsonDocument::fromJson(run.out).object();
        const qint64 inside = qint64(std::count_if(small.events.begin(), small.events.end(),
                                                   [](const Event2D& e) { return e.x < 2 && e.y < 2; }));
        QCOMPARE(json.value("events").toInteger(), inside);
        QCOMPARE(json.value("events_outside_sensor").toInteger(), qint64(small.events.size()) - inside);
        QCOMPARE(json.value("time_repairs").toInteger(), qint64(1));
        QVERIFY(json.value("last_timestamp_us").toInteger() <= qint64(small.events.back().timestamp));
    }

    // An input whose name is what an export's temporary used to be called stays as it is.
    void exportKeepsAnInputNamedLikeAVideoInProgress()
    {
        const QDir dir(folder.path());
        const QString input = dir.filePath("v.mp4.part");
        QVERIFY(QFile::copy(recording, input));
        const QByteArray before = contents(input);
        const Run run = svraw({"export", input, dir.filePath("v.mp4"), "--end", QString::number(stream.events[3000].timestamp)},
                              folder.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(contents(input), before);
        QVERIFY(QFileInfo(dir.filePath("v.mp4")).size() > 0);
    }

    // What a killed run left behind goes at the next run that writes into its folder, with a
    // warning naming it. Files merely named alike stay, as do a leftover still young, one a run
    // holds, and the very file being read.
    void removesOnlyTemporariesItLeft_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("removed");
        QTest::newRow("a leftover") << "leftover" << true;
        QTest::newRow("a young leftover") << "young" << false;
        QTest::newRow("a leftover a run holds") << "held" << false;
        QTest::newRow("a leftover being cut") << "input" << false;
        QTest::newRow("a copy of a leftover") << "copy" << false;
        QTest::newRow("a user's file named like an old temporary") << "user .a.raw.svtmp-a1B2c3" << false;
        QTest::newRow("a user's file named like a temporary") << "user .a.raw.svtmp-0123456789abcdef" << false;
    }

    void removesOnlyTemporariesItLeft()
    {
        QFETCH(QString, file);
        QFETCH(bool, removed);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        QString path;
        if (file.startsWith("user ")) {
            path = dir.filePath(file.mid(5));
            QVERIFY(writeRecording(path.toStdString(), stream));
        } else {
            path = leftoverOfAKilledRun(dir);
            QVERIFY(!path.isEmpty());
        }
        if (file == "copy") {
            // The same bytes under a name of the same form, moved off the original's.
            const QString copy = dir.filePath(".copy.raw" + path.mid(path.indexOf(".svtmp-")));
            QVERIFY(QFile::rename(path, dir.filePath("original.raw")));
            QVERIFY(QFile::copy(dir.filePath("original.raw"), copy));
            path = copy;
        }
        QVERIFY(setAge(path, file == "young" ? -600 : 3600));
        QFile held(path);
        if (file == "held")
            QVERIFY(held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0);
        const QByteArray before = contents(path);

        const QString out = dir.filePath("out.raw");
        const Run run = file == "input" ? svraw({"cut", "--no-cache", path, out, "--start", "0", "--end", "99999999999"}, dir.path())
                                        : svraw({"generate", out, "--duration-s", "0.1"}, dir.path());
        QCOMPARE(run.status, 0);
        QVERIFY(QFileInfo(out).size() > 0);
        QCOMPARE(run.err.contains("removed " + path.toLocal8Bit()), removed);
        QCOMPARE(!QFile::exists(path), removed);
        if (!removed)
            QCOMPARE(contents(path), before);
    }

    // An existing output is replaced only with --force, and a member of the input's own set
    // (NAME.raw, NAME.mp4, NAME.json beside it) never, by whatever name or link it is reached.
    void replacesOnlyWhenForced_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("target"); // in a folder holding the set s2 (.raw and .mp4)
        QTest::addColumn<bool>("force");
        QTest::addColumn<QString>("message"); // empty: replaced
        for (const char* command : {"cut", "export", "generate", "frame"}) {
            const QByteArray name(command);
            QTest::newRow(name + ": an existing file") << QString(command) << "other" << false << "other exists already";
            QTest::newRow(name + ": an existing file, forced") << QString(command) << "other" << true << "";
        }
        const char* const member = "belongs to the input's own set";
        for (const char* command : {"cut", "export", "frame"}) {
            const QByteArray name(command);
            QTest::newRow(name + ": its set's video") << QString(command) << "s2.mp4" << true << member;
            QTest::newRow(name + ": its set's video by another path") << QString(command) << "sub/../s2.mp4" << true << member;
            QTest::newRow(name + ": its set's video through a link") << QString(command) << "link.mp4" << true << member;
            QTest::newRow(name + ": its set's video by a hard link") << QString(command) << "hard.mp4" << true << member;
            QTest::newRow(name + ": its set's calibration, not there yet") << QString(command) << "s2.json" << true << member;
            QTest::newRow(name + ": its set's calibration by another path") << QString(command) << "sub/../s2.json" << true
                                                                            << member;
        }
    }

    void replacesOnlyWhenForced()
    {
        QFETCH(QString, command);
        QFETCH(QString, target);
        QFETCH(bool, force);
        QFETCH(QString, message);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        QVERIFY(dir.mkdir("sub"));
        const QString input = dir.filePath("s2.raw");
        QVERIFY(QFile::copy(recording, input));
        for (const char* old : {"s2.mp4", "other"}) {
            QFile f(dir.filePath(old));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
        }
        QVERIFY(QFile::link(dir.filePath("s2.mp4"), dir.filePath("link.mp4")));
        QVERIFY(::link(dir.filePath("s2.mp4").toLocal8Bit().constData(), dir.filePath("hard.mp4").toLocal8Bit().constData()) == 0);
        const QStringList before = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);

        const QString out = dir.filePath(target);
        QStringList arguments{command};
        if (command == "generate")
            arguments << out << "--duration-s" << "0.1";
        else if (command == "frame")
            arguments << input << out << "--at" << QString::number(stream.events[500].timestamp);
        else
            arguments << input << out << "--start" << "0" << "--end" << QString::number(stream.events[500].timestamp);
        if (force)
            arguments << "--force";
        const Run run = svraw(arguments, folder.path());
        const QByteArray written = contents(out);
        if (message.isEmpty()) {
            QCOMPARE(run.status, 0);
            QVERIFY(written.size() > 100);
        } else {
            QCOMPARE(run.status, 1);
            QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
            QCOMPARE(run.err.contains("--force replaces it"), !force);
            QCOMPARE(written, QByteArray(QFileInfo::exists(out) ? "old" : ""));
            QCOMPARE(QFile(dir.filePath("s2.mp4")).size(), 3);
        }
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden | QDir::System), before);
    }

    // Output that cannot be written is an error with its cause, however little of it there is.
    void unwritableOutputFails_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@in" is the recording
        QTest::newRow("info") << QStringList{"info", "@in"};
        QTest::newRow("dump") << QStringList{"dump", "@in"};
        QTest::newRow("dump of a few events") << QStringList{"dump", "@in", "--end", "2001000"};
        QTest::newRow("dump --triggers") << QStringList{"dump", "@in", "--triggers"};
        QTest::newRow("cameras") << QStringList{"cameras"};
        QTest::newRow("help") << QStringList{"--help"};
    }

    void unwritableOutputFails()
    {
        QFETCH(QStringList, arguments);
        arguments.replaceInStrings("@in", recording);
        const Run run = svraw(arguments, folder.path(), "/dev/full");
        QCOMPARE(run.status, 1);
        const QByteArray& err = run.err;
        QVERIFY2(err.contains(QByteArray("cannot write the output: ") + std::strerror(ENOSPC)), err.constData());
    }

};

QTEST_GUILESS_MAIN(TestSvraw)
#include "tst_svraw.moc"
