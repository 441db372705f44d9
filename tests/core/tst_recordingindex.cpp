// The index of a recording: the scan spread over threads gives what one sequential scan gives,
// and an index kept in the cache is used only for the very file it was made from.
#include "RawTestData.h"

#include "SorvaneDriver/Raw/IndexCache.h"
#include "SorvaneDriver/Raw/IndexScan.h"
#include "SorvaneDriver/Raw/RawFileReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <numeric>
#include <random>

using namespace sorvane;
using namespace rawtest;

namespace {

Stream makeStream(uint32_t seed, size_t count, uint32_t maxStep)
{
    Stream stream;
    stream.events = makeEvents(seed, count, 1000, maxStep);
    for (size_t i = 7; i < stream.events.size(); i += 113)
        stream.triggers.emplace_back(int16_t(i % 5), int16_t(i % 2), stream.events[i].timestamp);
    return stream;
}

// Random bytes on both sides of every multiple of edge in the data.
bool damageAround(const std::string& path, size_t dataOffset, size_t edge)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    std::mt19937 random(9);
    for (size_t at = dataOffset + edge - 24; at + 48 < size_t(bytes.size()); at += edge)
        for (size_t i = at; i < at + 48; ++i)
            bytes[qsizetype(i)] = char(random());
    return f.seek(0) && f.write(bytes) == bytes.size();
}

bool scanWith(const std::string& path, const ScanLayout& layout, bool cancel, RecordingScan& scan)
{
    const auto reader = RawFileReader::open(path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (!reader || fd < 0 || ::fstat(fd, &status) != 0)
        return false;
    const uint64_t wordSize = encodingWordSize(reader->header().encoding);
    const uint64_t dataBytes = uint64_t(status.st_size) - reader->header().dataOffset;
    const std::atomic<bool> cancelled{cancel};
    std::string error;
    const bool ok = scanRecording(fd, reader->header(), dataBytes - dataBytes % wordSize, layout, cancelled, {},
                                  scan, error);
    ::close(fd);
    return ok;
}

// Empty when equal, else the first difference.
QString difference(const RecordingScan& a, const RecordingScan& b)
{
    if (a.index.size() != b.index.size())
        return QStringLiteral("%1 checkpoints against %2").arg(a.index.size()).arg(b.index.size());
    for (size_t i = 0; i < a.index.size(); ++i) {
        const Checkpoint& x = a.index[i];
        const Checkpoint& y = b.index[i];
        if (x.offset != y.offset || !(x.state == y.state) || x.eventsBefore != y.eventsBefore
            || x.maxTimeBefore != y.maxTimeBefore || x.minTime != y.minTime || x.maxTime != y.maxTime
            || x.minTimeFrom != y.minTimeFrom)
            return QStringLiteral("checkpoint %1 differs").arg(i);
    }
    const ScanStats& s = a.totals;
    const ScanStats& t = b.totals;
    if (s.events != t.events || s.triggers != t.triggers || s.maxTime != t.maxTime || s.minTime != t.minTime
        || s.outside != t.outside || s.timeRepairs != t.timeRepairs || a.dataEnd != b.dataEnd)
        return QStringLiteral("totals differ");
    if (a.triggersKept != b.triggersKept || a.triggers.size() != b.triggers.size())
        return QStringLiteral("trigger edges differ");
    for (size_t i = 0; i < a.triggers.size(); ++i)
        if (a.triggers[i].timestamp != b.triggers[i].timestamp || a.triggers[i].id != b.triggers[i].id
            || a.triggers[i].polarity != b.triggers[i].polarity)
            return QStringLiteral("trigger edge %1 differs").arg(i);
    return {};
}

void setModified(const std::string& path, const timespec& time)
{
    const timespec times[2] = {time, time};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// A time long enough ago for the file to count as settled.
timespec anHourAgo()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= 3600;
    return now;
}

DvsFileInfo loadInfo(const std::string& path, const IndexCache& cache, IndexCaching caching = IndexCaching::Use)
{
    DvsFileInfo info;
    auto reader = RawFileReader::open(path);
    if (!reader)
        return info;
    reader->setIndexCache(cache);
    reader->setIndexCaching(caching);
    if (reader->loadFile())
        reader->getFileInfo(info);
    return info;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestRecordingIndex : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    std::string file(const QString& name) const { return QDir(folder.path()).filePath(name).toStdString(); }

private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        qputenv("XDG_CACHE_HOME", QDir(folder.path()).filePath("user-cache").toLocal8Bit());
    }

    void parallelScanIsTheSequentialScan_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<uint32_t>("maxStep"); // µs between events
        QTest::addColumn<bool>("damaged");

        // Times 2 ms apart on average: minutes, several EVT 3.0 wraps of 16.8 s.
        QTest::newRow("EVT 3.0, several wraps") << "EVT3.0" << 4000u << false;
        QTest::newRow("EVT 3.0, damage at chunk edges") << "EVT3.0" << 4000u << true;
        // 2 s apart: several EVT 2.x wraps of 2^34 µs.
        QTest::newRow("EVT 2.0, several wraps") << "EVT2.0" << 4'000'000u << false;
        QTest::newRow("EVT 2.0, damage at chunk edges") << "EVT2.0" << 4'000'000u << true;
        QTest::newRow("EVT 2.1 legacy, damage at chunk edges") << "EVT2.1 legacy" << 4'000'000u << true;
    }

    void parallelScanIsTheSequentialScan()
    {
        QFETCH(QString, encoding);
        QFETCH(uint32_t, maxStep);
        QFETCH(bool, damaged);
        const Stream stream = makeStream(5, encoding == "EVT3.0" ? 300'000 : 200'000, maxStep);
        const std::string path = file("scan.raw");
        QVERIFY(writeEncoded(path, encoding.toStdString(), stream));
        if (damaged)
            QVERIFY(damageAround(path, RawFileReader::open(path)->header().dataOffset, 64 * 1024));

        RecordingScan sequential;
        QVERIFY(scanWith(path, ScanLayout{1, 0}, false, sequential));
        QVERIFY(sequential.index.size() > 4);
        if (!damaged) {
            QCOMPARE(sequential.totals.events, uint64_t(stream.events.size()));
            QCOMPARE(sequential.triggers.size(), stream.triggers.size());
            QVERIFY(sequential.index.back().state.timeBase >= 3 * (encoding == "EVT3.0" ? 1ull << 24 : 1ull << 34));
        }
        for (const ScanLayout& layout : {ScanLayout{2, 64 * 1024}, ScanLayout{3, 192 * 1024}, ScanLayout{2, 100'000}}) {
            RecordingScan parallel;
            QVERIFY(scanWith(path, layout, false, parallel));
            const QString diff = difference(parallel, sequential);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("chunks of %1: %2").arg(layout.chunkBytes).arg(diff)));
        }
        RecordingScan cancelled;
        QVERIFY(!scanWith(path, ScanLayout{2, 64 * 1024}, true, cancelled));
    }

    // The index kept from the first open is used while the file is the same, and not once it has
    // changed in any way its identity shows, or the index itself is not sound.
    void keptIndexOnlyForTheSameFile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("kept");

        QTest::newRow("none") << "none" << true;
        QTest::newRow("middle rewritten, size and time put back") << "middle rewritten" << false;
        QTest::newRow("appended to") << "appended" << false;
        QTest::newRow("truncated") << "truncated" << false;
        QTest::newRow("touched") << "touched" << false;
        QTest::newRow("end rewritten, same size and time") << "end rewritten" << false;
        QTest::newRow("replaced by a file of the same size and time") << "replaced" << false;
        QTest::newRow("index damaged") << "index damaged" << false;
        QTest::newRow("index of another version") << "index version" << false;
        QTest::newRow("index replaced by a FIFO") << "index fifo" << false;
    }

    void keptIndexOnlyForTheSameFile()
    {
        QFETCH(QString, change);
        QFETCH(bool, kept);
        QTemporaryDir scratch;
        const IndexCache cache(QDir(scratch.path()).filePath("index").toStdString());
        const std::string path = QDir(scratch.path()).filePath("kept.raw").toStdString();
        QVERIFY(writeRecording(path, makeStream(3, 200'000, 50)));
        if (change == "none") {
            // Written a moment ago, it may be written again within the same timestamp, unseen by
            // its identity: its index is kept only once it has settled.
            QCOMPARE(loadInfo(path, cache).eventCount, uint64_t(200'000));
            QVERIFY(entries(QString::fromStdString(cache.folder())).isEmpty());
        }
        const timespec settled = anHourAgo();
        setModified(path, settled);
        const DvsFileInfo first = loadInfo(path, cache);
        QCOMPARE(first.eventCount, uint64_t(200'000));
        const QStringList kept1 = entries(QString::fromStdString(cache.folder()));
        QCOMPARE(kept1.size(), 1);

        const QString entry = QDir(QString::fromStdString(cache.folder())).filePath(kept1.first());
        if (change == "none" || change.startsWith("index")) {
            // The recording stays as it is; an entry that cannot be trusted is replaced by a
            // fresh scan's (another inode), one that is used stays (the same inode).
            if (change == "index fifo") {
                // Opening it for reading would wait for a writer forever.
                QVERIFY(QFile::remove(entry));
                QCOMPARE(::mkfifo(entry.toLocal8Bit().constData(), 0600), 0);
            } else if (change != "none") {
                QFile index(entry);
                QVERIFY(index.open(QIODevice::ReadWrite));
                QByteArray bytes = index.readAll();
                bytes[change == "index version" ? 8 : bytes.size() - 100] ^= 1;
                QVERIFY(index.seek(0));
                QCOMPARE(index.write(bytes), bytes.size());
            }
            struct stat before {};
            QCOMPARE(::stat(entry.toLocal8Bit().constData(), &before), 0);
            QCOMPARE(loadInfo(path, cache).eventCount, first.eventCount);
            struct stat after {};
            QCOMPARE(::stat(entry.toLocal8Bit().constData(), &after), 0);
            QCOMPARE(after.st_ino == before.st_ino, kept);
            QCOMPARE(entries(QString::fromStdString(cache.folder())), kept1);
            return;
        }
        // Words in the middle, which the content hash does not look at, are blanked: a rescan
        // counts fewer events than the kept index says.
        QFile f(QString::fromStdString(path));
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        QVERIFY(f.seek(size / 2 & ~qint64(1)));
        QVERIFY(f.write(QByteArray(512, '\0')) == 512);
        if (change == "appended") {
            QVERIFY(f.seek(size));
            QVERIFY(f.write(QByteArray(4096, '\0')) == 4096);
        } else if (change == "truncated") {
            QVERIFY(f.resize(size - 4096));
        } else if (change == "end rewritten") {
            QVERIFY(f.seek(size - 2048));
            QVERIFY(f.write(QByteArray(512, '\0')) == 512);
        }
        f.close();
        if (change == "replaced") {
            const QString other = QDir(scratch.path()).filePath("other.raw");
            QVERIFY(QFile::copy(QString::fromStdString(path), other));
            QVERIFY(::rename(other.toLocal8Bit().constData(), path.c_str()) == 0);
        }
        timespec time = settled;
        time.tv_sec += change == "touched" ? 1 : 0;
        setModified(path, time);

        const DvsFileInfo rescanned = loadInfo(path, cache, IndexCaching::Off);
        QVERIFY(rescanned.eventCount < first.eventCount);
        const DvsFileInfo info = loadInfo(path, cache);
        const DvsFileInfo& expected = kept ? first : rescanned;
        QCOMPARE(info.eventCount, expected.eventCount);
        QCOMPARE(info.triggerCount, expected.triggerCount);
        QCOMPARE(info.firstTimestamp, expected.firstTimestamp);
        QCOMPARE(info.lastTimestamp, expected.lastTimestamp);
        QCOMPARE(info.fileSize, expected.fileSize);
        // A rebuild always scans.
        QCOMPARE(loadInfo(path, cache, IndexCaching::Rebuild).eventCount, rescanned.eventCount);
    }

    void cacheKeepsTheRecentlyUsedWithinItsCap()
    {
        QTemporaryDir scratch;
        const QString folderPath = QDir(scratch.path()).filePath("index");
        std::string paths[3];
        for (int i = 0; i < 3; ++i) {
            paths[i] = QDir(scratch.path()).filePath(QStringLiteral("%1.raw").arg(i)).toStdString();
            QVERIFY(writeRecording(paths[i], makeStream(uint32_t(i), 100'000, 50)));
            setModified(paths[i], anHourAgo());
        }
        QVERIFY(loadInfo(paths[0], IndexCache(folderPath.toStdString())).eventCount > 0);
        const QStringList first = entries(folderPath);
        QCOMPARE(first.size(), 1);
        const QString a = QDir(folderPath).filePath(first.first());
        // Room for two entries of this size, not three.
        const IndexCache cache(folderPath.toStdString(), uint64_t(QFileInfo(a).size()) * 5 / 2);
        QVERIFY(loadInfo(paths[1], cache).eventCount > 0);
        QStringList both = entries(folderPath);
        QCOMPARE(both.size(), 2);
        both.removeOne(first.first());
        const QString b = QDir(folderPath).filePath(both.first());

        // b was used after a, then a is opened again from the cache: b is the least recently used.
        timespec time = anHourAgo();
        setModified(a.toStdString(), time);
        time.tv_sec += 60;
        setModified(b.toStdString(), time);
        QVERIFY(loadInfo(paths[0], cache).eventCount > 0);
        QVERIFY(loadInfo(paths[2], cache).eventCount > 0);
        QCOMPARE(entries(folderPath).size(), 2);
        QVERIFY(QFile::exists(a));
        QVERIFY(!QFile::exists(b));
    }

    // A cache that cannot be written (here its folder cannot be made, which binds root too) only
    // costs the next open a scan.
    // The profile the window draws under its time slider: events per time bin from the index
    // alone. The recording runs 200 ms at 1 M events/s, is silent for 1 s, then runs 200 ms at
    // 2 M events/s.
    void rateProfileFollowsTheRecordedRate_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::newRow("EVT 3.0") << "EVT3.0";
        QTest::newRow("EVT 2.0") << "EVT2.0";
    }
    void rateProfileFollowsTheRecordedRate()
    {
        QFETCH(QString, encoding);
        Stream stream;
        std::mt19937 random(5);
        auto run = [&](uint64_t from, uint64_t to, int perUs) {
            for (uint64_t t = from; t < to; ++t)
                for (int i = 0; i < perUs; ++i)
                    stream.events.emplace_back(uint16_t(random() % 1280), uint16_t(random() % 720), uint8_t(i & 1), t);
        };
        run(1'000'000, 1'200'000, 1);
        run(2'200'000, 2'400'000, 2);
        const std::string path = file("rate-" + encoding + ".raw");
        QVERIFY(writeEncoded(path, encoding.toStdString(), stream));
        setModified(path, anHourAgo());
        const IndexCache cache(file("rate-index-" + encoding));
        const auto reader = RawFileReader::open(path);
        QVERIFY(reader);
        QVERIFY(reader->getEventRateProfile(140).empty());
        reader->setIndexCache(cache);
        QVERIFY(reader->loadFile());
        // The window's profile is kept with the index: a reopen reads the same one.
        const auto reopened = RawFileReader::open(path);
        reopened->setIndexCache(cache);
        QVERIFY(reopened->loadFile());
        const std::vector<uint64_t> kept = reopened->getEventRateProfile(DvsFileReader::kRateProfileBins);
        QCOMPARE(kept.size(), DvsFileReader::kRateProfileBins);
        QVERIFY(kept == reader->getEventRateProfile(DvsFileReader::kRateProfileBins));

        // 10 ms bins from the first event to the last.
        const std::vector<uint64_t> bins = reader->getEventRateProfile(140);
        QCOMPARE(bins.size(), size_t(140));
        const uint64_t total = std::accumulate(bins.begin(), bins.end(), uint64_t(0));
        QVERIFY2(total + 140 >= stream.events.size() && total <= stream.events.size() + 140,
                 qPrintable(QString::number(total)));
        // A stretch of the index (64 KB, some 16 ms here) spreads its events over its time
        // bounds: bins away from the changes of rate hold their 10 ms of events, and the one
        // stretch that spans the silence leaves it nearly empty.
        auto check = [&](size_t from, size_t to, int64_t want, int64_t tolerance) {
            for (size_t bin = from; bin < to; ++bin)
                QVERIFY2(std::abs(int64_t(bins[bin]) - want) <= tolerance,
                         qPrintable(QString("bin %1: %2 events, expected %3").arg(bin).arg(bins[bin]).arg(want)));
        };
        check(4, 16, 10'000, 500);
        check(25, 115, 0, 200);
        check(124, 136, 20'000, 1'000);
    }

    void unwritableCacheFallsBackToScanning()
    {
        QTemporaryDir scratch;
        const QString blocker = QDir(scratch.path()).filePath("not-a-folder");
        QVERIFY(writeFile(blocker.toStdString(), "x", {}));
        const IndexCache cache(QDir(blocker).filePath("index").toStdString());
        const std::string path = QDir(scratch.path()).filePath("r.raw").toStdString();
        QVERIFY(writeRecording(path, makeStream(4, 50'000, 50)));
        setModified(path, anHourAgo());
        for (int open = 0; open < 2; ++open)
            QCOMPARE(loadInfo(path, cache).eventCount, uint64_t(50'000));
    }
};

QTEST_APPLESS_MAIN(TestRecordingIndex)
#include "tst_recordingindex.moc"
