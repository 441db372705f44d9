// Recordings end to end: written by our writer or the test encoders, read back through
// DvsFileReader, windows, seeks and cuts.
#include "RawTestData.h"

#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/IndexScan.h"
#include "SorvaneDriver/Raw/RawEventWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace sorvane;
using namespace rawtest;

Q_DECLARE_METATYPE(std::vector<Event2D>)

namespace {

QString describe(const Event2D& e)
{
    return QStringLiteral("(%1,%2,%3,%4)").arg(e.x).arg(e.y).arg(e.polarity).arg(e.timestamp);
}

// Empty when equal, else where they first differ.
QString difference(const std::vector<Event2D>& actual, const std::vector<Event2D>& expected)
{
    for (size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
        if (!(actual[i] == expected[i]))
            return QStringLiteral("event %1: got %2, expected %3").arg(i).arg(describe(actual[i]), describe(expected[i]));
    if (actual.size() != expected.size())
        return QStringLiteral("got %1 events, expected %2").arg(actual.size()).arg(expected.size());
    return {};
}

// The events or trigger edges of [start, end].
template <typename Item>
std::vector<Item> within(const std::vector<Item>& items, uint64_t start, uint64_t end)
{
    std::vector<Item> found;
    std::copy_if(items.begin(), items.end(), std::back_inserter(found),
                 [&](const Item& item) { return item.timestamp >= start && item.timestamp <= end; });
    return found;
}

Stream makeStream(uint32_t seed, size_t count, uint64_t startTime, uint32_t maxStep, bool withTriggers, int idBits = 4)
{
    Stream stream;
    stream.events = makeEvents(seed, count, startTime, maxStep);
    if (withTriggers) {
        for (size_t i = 5; i < stream.events.size(); i += 97)
            stream.triggers.emplace_back(int16_t((i / 97) % (1 << idBits)), int16_t((i / 97) % 2),
                                         stream.events[i].timestamp);
    }
    return stream;
}

std::unique_ptr<DvsFileReader> load(const std::string& path)
{
    auto reader = DvsFileReader::createFileReader(path);
    if (reader && !reader->loadFile())
        return nullptr;
    return reader;
}

std::vector<Event2D> readAll(DvsFileReader& reader)
{
    uint64_t first = 0;
    uint64_t last = 0;
    if (!reader.getStartTimestamp(first) || !reader.getEndTimestamp(last))
        return {};
    auto events = reader.getEventsByTime(first, last - first + 1);
    return events ? *events : std::vector<Event2D>{};
}

std::vector<Event2D> readInFileOrder(DvsFileReader& reader)
{
    std::vector<Event2D> all;
    reader.readEvents(0, UINT64_MAX, [&](std::span<const Event2D> events) {
        all.insert(all.end(), events.begin(), events.end());
        return true;
    });
    return all;
}

} // namespace

class TestRawRecording : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    std::string file(const char* name) const { return QDir(folder.path()).filePath(name).toStdString(); }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<quint64>("startTime");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("maxStep");

        const quint64 evt2Wrap = quint64(1) << 34;
        for (const char* encoding : {"EVT3.0", "EVT2.0", "EVT2.1", "EVT2.1 legacy"}) {
            const QByteArray name(encoding);
            QTest::newRow(name + " short") << QString(encoding) << quint64(12) << 3000 << 20;
            QTest::newRow(name + " 40 s, over EVT 3.0 wraps") << QString(encoding) << quint64(5'000'000) << 20000 << 4000;
            QTest::newRow(name + " starting after an hour") << QString(encoding) << quint64(3'600'000'000) << 5000 << 500;
        }
        QTest::newRow("EVT2.1 legacy on a line of its own") << QString("EVT2.1 legacy line") << quint64(12) << 3000 << 20;
        QTest::newRow("EVT3.0 gaps longer than a wrap") << QString("EVT3.0") << quint64(0) << 60 << 60'000'000;
        // Half a second before the wrap: the events span well over a second.
        QTest::newRow("EVT2.0 over the 34-bit wrap") << QString("EVT2.0") << evt2Wrap - 500'000 << 20000 << 400;
        QTest::newRow("EVT2.1 over the 34-bit wrap") << QString("EVT2.1") << evt2Wrap - 500'000 << 20000 << 400;
    }

    void roundTrip()
    {
        QFETCH(QString, encoding);
        QFETCH(quint64, startTime);
        QFETCH(int, count);
        QFETCH(int, maxStep);

        const Stream stream = makeStream(7, size_t(count), startTime, uint32_t(maxStep), true, encoding == "EVT3.0" ? 4 : 5);
        const std::string path = file("roundtrip.raw");
        QVERIFY(writeEncoded(path, encoding.toStdString(), stream));

        auto reader = load(path);
        QVERIFY(reader);
        const QString diff = difference(readAll(*reader), stream.events);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(reader->getTriggerEvents(0, UINT64_MAX) == stream.triggers);

        DvsFileInfo info;
        QVERIFY(reader->getFileInfo(info));
        QCOMPARE(QString::fromStdString(info.encoding), encoding.left(6));
        QCOMPARE(info.width, 1280);
        QCOMPARE(info.height, 720);
        QCOMPARE(info.eventCount, uint64_t(stream.events.size()));
        QCOMPARE(info.triggerCount, uint64_t(stream.triggers.size()));
        QCOMPARE(info.firstTimestamp, stream.events.front().timestamp);
        QCOMPARE(info.lastTimestamp, stream.events.back().timestamp);
        QCOMPARE(info.fileSize, uint64_t(QFileInfo(QString::fromStdString(path)).size()));
    }

    void windowBoundaries_data()
    {
        QTest::addColumn<quint64>("start");
        QTest::addColumn<quint64>("duration");
        QTest::addColumn<bool>("null");
        QTest::addColumn<QList<quint64>>("times");

        using Times = QList<quint64>;
        QTest::newRow("event at start is in, at start + d out") << quint64(1000) << quint64(2000) << false
                                                                << Times{1000, 1000, 1500, 2000, 2999};
        QTest::newRow("one microsecond") << quint64(2999) << quint64(1) << false << Times{2999};
        QTest::newRow("window between events") << quint64(3001) << quint64(1000) << false << Times{};
        QTest::newRow("window before the first event") << quint64(0) << quint64(1000) << false << Times{};
        QTest::newRow("zero duration") << quint64(1500) << quint64(0) << false << Times{};
        QTest::newRow("last event") << quint64(5000) << quint64(1) << false << Times{5000};
        QTest::newRow("past the last event") << quint64(5001) << quint64(10) << true << Times{};
        QTest::newRow("huge duration") << quint64(2000) << quint64(UINT64_MAX) << false
                                       << Times{2000, 2999, 3000, 5000};
    }

    void windowBoundaries()
    {
        QFETCH(quint64, start);
        QFETCH(quint64, duration);
        QFETCH(bool, null);
        QFETCH(QList<quint64>, times);

        Stream stream;
        for (uint64_t t : {1000, 1000, 1500, 2000, 2999, 3000, 5000})
            stream.events.emplace_back(uint16_t(t % 1280), uint16_t(t % 720), uint8_t(t % 2), t);
        const std::string path = file("window.raw");
        QVERIFY(writeRecording(path, stream));
        auto reader = load(path);
        QVERIFY(reader);

        // Once after a seek elsewhere, once continuing from a window that ends at start.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 0)
                QVERIFY(reader->seekTime(4000));
            else if (start > 0)
                QVERIFY(reader->getEventsByTime(0, start));
            auto events = reader->getEventsByTime(start, duration);
            QCOMPARE(events == nullptr, null);
            if (!events)
                continue;
            QList<quint64> got;
            for (const Event2D& e : *events)
                got.append(e.timestamp);
            QCOMPARE(got, times);
        }
    }

    void windowsMatchBruteForce_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::newRow("EVT3.0") << QString("EVT3.0");
        QTest::newRow("EVT2.0") << QString("EVT2.0");
        QTest::newRow("EVT2.1") << QString("EVT2.1");
    }

    void windowsMatchBruteForce()
    {
        QFETCH(QString, encoding);
        // Many index checkpoints, and a wrap of EVT 3.0 time in the middle.
        const Stream stream = makeStream(11, 300'000, 16'000'000, 12, false);
        const std::string path = file("windows.raw");
        QVERIFY(writeEncoded(path, encoding.toStdString(), stream));
        auto reader = load(path);
        QVERIFY(reader);
        const uint64_t first = stream.events.front().timestamp;
        const uint64_t last = stream.events.back().timestamp;

        std::mt19937 random(3);
        for (int i = 0; i < 300; ++i) {
            const uint64_t start = first + random() % (last - first + 1);
            const uint64_t duration = random() % 40'000;
            auto events = reader->getEventsByTime(start, duration);
            QVERIFY(events);
            const QString diff = difference(*events, within(stream.events, start, start + duration - 1));
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("window %1+%2: ").arg(start).arg(duration) + diff));
        }

        // Consecutive windows from the start cover every event exactly once.
        QVERIFY(reader->seekTime(first));
        std::vector<Event2D> all;
        while (auto events = reader->getNTimeEvents(33'333))
            all.insert(all.end(), events->begin(), events->end());
        const QString diff = difference(all, stream.events);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    // A recording whose time leaves its order: a stretch of events far ahead in the middle (as a
    // damaged time word makes), or one time word damaged in place. Nothing after it may be hidden:
    // windows, the whole read and cuts all find every event the index counts.
    void timeOutOfOrderHidesNothing_data()
    {
        QTest::addColumn<bool>("damageWord"); // else: events written ahead of time

        QTest::newRow("events written three seconds ahead") << false;
        QTest::newRow("a time word damaged in place") << true;
    }

    void timeOutOfOrderHidesNothing()
    {
        QFETCH(bool, damageWord);
        Stream stream = makeStream(12, 200'000, 2'000'000, 12, true);
        if (!damageWord)
            for (size_t i = 100'000; i < 100'050; ++i)
                stream.events[i].timestamp += 3'000'000;
        const std::string path = file("out-of-order.raw");
        QVERIFY(writeRecording(path, stream));
        if (damageWord) {
            // The first TIME_HIGH past the middle of the data jumps a thousand steps (4 s) ahead.
            QFile f(QString::fromStdString(path));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            qsizetype at = bytes.indexOf("% end\n") + 6 + (bytes.size() / 2 & ~qsizetype(1));
            while (at + 1 < bytes.size() && (uchar(bytes[at + 1]) >> 4) != 0x8)
                at += 2;
            QVERIFY(at + 1 < bytes.size());
            const uint16_t word = uint16_t(uchar(bytes[at]) | uchar(bytes[at + 1]) << 8);
            const uint16_t damaged = uint16_t(0x8000 | (((word & 0xfff) + 1000) & 0xfff));
            bytes[at] = char(damaged & 0xff);
            bytes[at + 1] = char(damaged >> 8);
            QVERIFY(f.seek(0));
            QCOMPARE(f.write(bytes), bytes.size());
        }
        auto reader = load(path);
        QVERIFY(reader);
        DvsFileInfo info;
        QVERIFY(reader->getFileInfo(info));
        QCOMPARE(info.eventCount, uint64_t(stream.events.size()));

        const std::vector<Event2D> whole = readInFileOrder(*reader);
        QCOMPARE(uint64_t(whole.size()), info.eventCount);
        if (!damageWord)
            QVERIFY(whole == stream.events);

        // Windows of a frame each, from the first event to the last, see every event once.
        uint64_t windowed = 0;
        QVERIFY(reader->seekTime(info.firstTimestamp));
        while (auto events = reader->getNTimeEvents(33'333))
            windowed += events->size();
        QCOMPARE(windowed, info.eventCount);

        // A cut of a range that the events ahead of time fall into holds all of that range; a
        // cut of only the events ahead holds none of the earlier ones that follow them.
        const auto byTime = [](const Event2D& a, const Event2D& b) {
            return std::tie(a.timestamp, a.y, a.x, a.polarity) < std::tie(b.timestamp, b.y, b.x, b.polarity);
        };
        const std::pair<uint64_t, uint64_t> ranges[] = {{whole[150'000].timestamp, whole[190'000].timestamp},
                                                         {whole.back().timestamp + 1, UINT64_MAX}};
        for (const auto& [start, end] : ranges) {
            const std::string cutPath = file("out-of-order-cut.raw");
            QVERIFY(reader->exportEventData(start, end, cutPath, ExistingFile::Replace));
            auto cut = load(cutPath);
            QVERIFY(cut);
            std::vector<Event2D> expected = within(whole, start, end);
            std::vector<Event2D> actual = readInFileOrder(*cut);
            QVERIFY(!expected.empty());
            std::sort(expected.begin(), expected.end(), byTime);
            std::sort(actual.begin(), actual.end(), byTime);
            const QString diff = difference(actual, expected);
            QVERIFY2(diff.isEmpty(), qPrintable(diff));
        }
    }

    void cutIsExact_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("startIndex"); // event whose time starts the range; -1: before all
        QTest::addColumn<int>("endIndex");   // event whose time ends it; -1: after all

        for (const char* encoding : {"EVT3.0", "EVT2.0", "EVT2.1"}) {
            const QByteArray name(encoding);
            QTest::newRow(name + " middle") << QString(encoding) << 1234 << 15000;
            QTest::newRow(name + " one timestamp") << QString(encoding) << 5000 << 5000;
            QTest::newRow(name + " everything") << QString(encoding) << -1 << -1;
            QTest::newRow(name + " up to the first event") << QString(encoding) << -1 << 0;
        }
    }

    void cutIsExact()
    {
        QFETCH(QString, encoding);
        QFETCH(int, startIndex);
        QFETCH(int, endIndex);

        // EVT 3.0 has four bits of trigger id, so the cut keeps ids below 16.
        const Stream stream = makeStream(5, 20000, 10'000'000, 3000, true);
        const std::string source = file("cut-source.raw");
        const std::string target = file("cut.raw");
        QVERIFY(writeEncoded(source, encoding.toStdString(), stream));
        auto reader = load(source);
        QVERIFY(reader);
        const uint64_t start = startIndex < 0 ? 0 : stream.events[size_t(startIndex)].timestamp;
        const uint64_t end = endIndex < 0 ? UINT64_MAX : stream.events[size_t(endIndex)].timestamp;
        // Every row cuts into the same file.
        QVERIFY(reader->exportEventData(start, end, target, ExistingFile::Replace));

        auto cut = load(target);
        QVERIFY(cut);
        DvsFileInfo info;
        QVERIFY(cut->getFileInfo(info));
        QCOMPARE(info.encoding, std::string("EVT3.0"));
        QCOMPARE(info.serial, std::string(encoding == "EVT3.0" ? "SV0001" : ""));
        const std::vector<Event2D> expected = within(stream.events, start, end);
        const QString diff = difference(readAll(*cut), expected);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(cut->getTriggerEvents(0, UINT64_MAX) == within(stream.triggers, start, end));
    }

    // Cuts read the same in a decoder that takes every VECT_12 as the start of a full group, and
    // time never runs back there: the copied words of an EVT 3.0 source, the re-encoded events of
    // the others, and of sources whose vector groups are broken (damaged files, other writers).
    // Wraps before the range are written as a sensor's counter makes them.
    void cutsReadTheSameEverywhere_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<quint64>("startTime");
        QTest::addColumn<QString>("damage");
        for (const char* encoding : {"EVT3.0", "EVT2.0", "EVT2.1"})
            QTest::newRow(encoding) << QString(encoding) << quint64(1'000'000) << "";
        QTest::newRow("EVT3.0 after three wraps") << "EVT3.0" << quint64(52'000'000) << "";
        QTest::newRow("EVT3.0 with lone and partial vector groups") << "EVT3.0" << quint64(1'000'000) << "groups";
        // Cut to the end, the last words are a group without its VECT_8.
        QTest::newRow("EVT3.0 ending in an open group") << "EVT3.0" << quint64(1'000'000) << "open end";
    }

    void cutsReadTheSameEverywhere()
    {
        QFETCH(QString, encoding);
        QFETCH(quint64, startTime);
        QFETCH(QString, damage);
        const Stream stream = makeStream(21, 60000, startTime, 40, true);
        const std::string source = file("everywhere-source.raw");
        const std::string target = file("everywhere-cut.raw");
        QFile::remove(QString::fromStdString(target));
        QVERIFY(writeEncoded(source, encoding.toStdString(), stream));
        if (damage == "groups") {
            // After every 50th TIME_LOW: a lone VECT_12 off the 32-pixel grid, a lone VECT_8, or a
            // group without its VECT_8.
            QFile f(QString::fromStdString(source));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            QByteArray damaged = bytes.left(bytes.indexOf("% end\n") + 6);
            const std::vector<std::vector<uint16_t>> breaks = {
                {0x3805, 0x40ff}, {0x500f}, {0x3040, 0x4abc, 0x4123}};
            int lows = 0;
            for (qsizetype at = damaged.size(); at + 1 < bytes.size(); at += 2) {
                damaged += bytes.mid(at, 2);
                if ((uchar(bytes[at + 1]) >> 4) == 0x6 && ++lows % 50 == 0)
                    for (uint16_t word : breaks[size_t(lows / 50) % breaks.size()])
                        damaged += QByteArray(reinterpret_cast<const char*>(&word), 2);
            }
            QVERIFY(f.seek(0) && f.write(damaged) == damaged.size());
        } else if (damage == "open end") {
            QFile f(QString::fromStdString(source));
            QVERIFY(f.open(QIODevice::Append));
            for (uint16_t word : {0x3040, 0x4abc, 0x4123})
                QCOMPARE(f.write(reinterpret_cast<const char*>(&word), 2), 2);
        }
        auto reader = load(source);
        QVERIFY(reader);
        const uint64_t start = stream.events[777].timestamp;
        const uint64_t end = damage == "open end" ? UINT64_MAX : stream.events[55555].timestamp;
        std::vector<Event2D> expected;
        QVERIFY(reader->readEvents(start, end, [&](std::span<const Event2D> events) {
            expected.insert(expected.end(), events.begin(), events.end());
            return true;
        }));
        QVERIFY(reader->exportEventData(start, end, target));
        auto cut = load(target);
        QVERIFY(cut);
        const QString same = difference(readAll(*cut), expected);
        QVERIFY2(same.isEmpty(), qPrintable(same));

        QFile f(QString::fromStdString(target));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const qsizetype data = bytes.indexOf("% end\n") + 6;
        uint64_t timeErrors = 0;
        std::vector<size_t> eventsBefore;
        const Stream grouped = decodeGroupedEvt3(reinterpret_cast<const uint8_t*>(bytes.constData()) + data,
                                                 size_t(bytes.size() - data), &timeErrors, &eventsBefore);
        const QString diff = difference(grouped.events, expected);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(grouped.triggers == cut->getTriggerEvents(0, UINT64_MAX));
        QCOMPARE(timeErrors, uint64_t(0));
        // Each trigger edge comes after the events of its time, copied or re-encoded.
        for (size_t k = 0; k < grouped.triggers.size(); ++k) {
            const uint64_t t = grouped.triggers[k].timestamp;
            const auto upTo = std::upper_bound(expected.begin(), expected.end(), t,
                                               [](uint64_t time, const Event2D& e) { return time < e.timestamp; });
            QCOMPARE(eventsBefore[k], size_t(upTo - expected.begin()));
        }
    }

    void cutRefuses_data()
    {
        QTest::addColumn<QString>("target"); // relative to the folder; "@source" is the source itself
        QTest::addColumn<quint64>("start");
        QTest::addColumn<quint64>("end");

        QTest::newRow("start after end") << "out.raw" << quint64(2'000'000) << quint64(1'000'000);
        QTest::newRow("its own file") << "@source" << quint64(0) << quint64(UINT64_MAX);
        QTest::newRow("its own file by another path") << "sub/../refuse-source.raw" << quint64(0) << quint64(UINT64_MAX);
        QTest::newRow("its own file through a link") << "link.raw" << quint64(0) << quint64(UINT64_MAX);
        QTest::newRow("missing folder") << "missing/out.raw" << quint64(0) << quint64(UINT64_MAX);
        QTest::newRow("no path") << "" << quint64(0) << quint64(UINT64_MAX);
    }

    void cutRefuses()
    {
        QFETCH(QString, target);
        QFETCH(quint64, start);
        QFETCH(quint64, end);

        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        QVERIFY(dir.mkpath("sub"));
        const std::string source = dir.filePath("refuse-source.raw").toStdString();
        QVERIFY(writeRecording(source, makeStream(1, 5000, 1'000'000, 400, true)));
        QVERIFY(::symlink(source.c_str(), dir.filePath("link.raw").toLocal8Bit().constData()) == 0);
        const QByteArray before = [&] { QFile f(QString::fromStdString(source)); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        const QStringList filesBefore = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);

        auto reader = load(source);
        QVERIFY(reader);
        const std::string out = target == "@source" ? source : target.isEmpty() ? std::string() : dir.filePath(target).toStdString();
        QVERIFY(!reader->exportEventData(start, end, out));

        QFile f(QString::fromStdString(source));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden | QDir::System), filesBefore);
    }

    void cutIntoReadOnlyFolderLeavesNothing()
    {
        if (::geteuid() == 0)
            QSKIP("permissions do not bind root");
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        QVERIFY(dir.mkdir("locked"));
        const std::string source = dir.filePath("source.raw").toStdString();
        QVERIFY(writeRecording(source, makeStream(1, 500, 1000, 400, false)));
        QVERIFY(::chmod(dir.filePath("locked").toLocal8Bit().constData(), 0555) == 0);
        auto reader = load(source);
        QVERIFY(reader);
        QVERIFY(!reader->exportEventData(0, UINT64_MAX, dir.filePath("locked/out.raw").toStdString()));
        QVERIFY(QDir(dir.filePath("locked")).entryList(QDir::Files | QDir::Hidden).isEmpty());
        ::chmod(dir.filePath("locked").toLocal8Bit().constData(), 0755);
    }

    // A source that shrinks while it is cut is a failure with its cause, and leaves no output.
    void cutOfAShrinkingSourceFails_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::newRow("EVT3.0, words copied") << QString("EVT3.0");
        QTest::newRow("EVT2.0, events re-encoded") << QString("EVT2.0");
    }

    void cutOfAShrinkingSourceFails()
    {
        QFETCH(QString, encoding);
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        const std::string source = dir.filePath("shrinking.raw").toStdString();
        QVERIFY(writeEncoded(source, encoding.toStdString(), makeStream(4, 1'500'000, 0, 3, false)));
        auto reader = load(source);
        QVERIFY(reader);
        bool truncated = false;
        reader->setProgressCallback([&](double) {
            if (!truncated)
                truncated = ::truncate(source.c_str(), off_t(QFileInfo(QString::fromStdString(source)).size() / 4)) == 0;
        });
        QVERIFY(!reader->exportEventData(0, UINT64_MAX, dir.filePath("out.raw").toStdString()));
        QVERIFY(truncated);
        QVERIFY2(reader->lastError().find("became shorter") != std::string::npos, reader->lastError().c_str());
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), QStringList{"shrinking.raw"});
    }

    // A target that is a link to a recording: the new file replaces the one it names, the link stays.
    void cutWritesThroughALink()
    {
        QTemporaryDir scratch;
        const QDir dir(scratch.path());
        const std::string source = dir.filePath("source.raw").toStdString();
        const Stream stream = makeStream(3, 2000, 1000, 400, false);
        QVERIFY(writeRecording(source, stream));
        QVERIFY(writeFile(dir.filePath("old.raw").toStdString(), "old", {}));
        QVERIFY(QFile::link(dir.filePath("old.raw"), dir.filePath("link.raw")));
        auto reader = load(source);
        QVERIFY(reader);
        QVERIFY(reader->exportEventData(0, UINT64_MAX, dir.filePath("link.raw").toStdString(), ExistingFile::Replace));
        QVERIFY(QFileInfo(dir.filePath("link.raw")).isSymLink());
        auto cut = load(dir.filePath("old.raw").toStdString());
        QVERIFY(cut);
        QVERIFY(readAll(*cut) == stream.events);
    }

    // Loading reports rising progress. A cancel stops a cut, which leaves the target alone, and
    // a load, which leaves nothing loaded; cancelled stays cancelled until reset.
    void progressAndCancel()
    {
        const std::string source = file("progress.raw");
        const std::string target = file("cancel-target.raw");
        QVERIFY(writeRecording(source, makeStream(4, 2'000'000, 0, 10, false)));
        QVERIFY(writeFile(target, "keep me", {}));
        auto reader = DvsFileReader::createFileReader(source);
        QVERIFY(reader);
        std::vector<double> fractions;
        reader->setProgressCallback([&](double f) { fractions.push_back(f); });
        QVERIFY(reader->loadFile());
        QVERIFY(fractions.size() >= 3 && fractions.size() <= 101);
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QCOMPARE(fractions.back(), 1.0);

        reader->setProgressCallback([&](double) { reader->cancel(); });
        QVERIFY(!reader->exportEventData(0, UINT64_MAX, target, ExistingFile::Replace));
        const auto kept = [&] { QFile f(QString::fromStdString(target)); return f.open(QIODevice::ReadOnly) && f.readAll() == "keep me"; };
        QVERIFY(kept());
        QVERIFY(!reader->loadFile());
        reader->resetCancel();
        reader->setProgressCallback([&](double f) {
            if (f > 0)
                reader->cancel();
        });
        QVERIFY(!reader->loadFile());
        uint64_t t = 0;
        QVERIFY(!reader->getStartTimestamp(t));
        reader->resetCancel();
        reader->setProgressCallback({});
        QVERIFY(reader->loadFile());
        // Replaced only when asked to.
        QVERIFY(!reader->exportEventData(0, UINT64_MAX, target));
        QVERIFY2(reader->lastError().ends_with("cancel-target.raw exists already"), reader->lastError().c_str());
        QVERIFY(kept());
        QVERIFY(reader->exportEventData(0, UINT64_MAX, target, ExistingFile::Replace));
        QVERIFY(!kept());
    }

    void writerFlushesWhileOpen()
    {
        const std::string path = file("flush.raw");
        RawEventWriter writer;
        QVERIFY(writer.open(path, RawHeaderInfo{}));
        const auto events = makeEvents(9, 1000, 100, 10);
        QVERIFY(writer.write(events.data(), events.data() + events.size()));
        // A killed program keeps what the flusher handed to the system; it does so within a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        std::vector<Event2D> read;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto reader = load(path))
                read = readAll(*reader);
            if (read.size() == events.size())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const QString diff = difference(read, events);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(writer.close());
    }

    void writerHeaderAndExtraKeys()
    {
        const std::string path = file("header.raw");
        RawEventWriter writer;
        RawHeaderInfo header;
        header.width = 640;
        header.height = 480;
        header.serial = "ABC123";
        header.extraKeys = {{"apsTimeOffset", "-1234"}, {"format", "must not replace ours"}};
        QVERIFY(writer.open(path, header));
        const Event2D event(639, 479, 1, 77);
        QVERIFY(writer.write(&event, &event + 1));
        QVERIFY(writer.close());

        QFile f(QString::fromStdString(path));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QVERIFY(lines[0].startsWith("% date "));
        QCOMPARE(lines[1], QByteArray("% evt 3.0"));
        QCOMPARE(lines[2], QByteArray("% format EVT3;height=480;width=640"));
        QCOMPARE(lines[3], QByteArray("% geometry 640x480"));
        QCOMPARE(lines[4], QByteArray("% serial_number ABC123"));
        QCOMPARE(lines[5], QByteArray("% apsTimeOffset -1234"));
        QCOMPARE(lines[6], QByteArray("% end"));

        auto reader = load(path);
        QVERIFY(reader);
        DvsFileInfo info;
        QVERIFY(reader->getFileInfo(info));
        QCOMPARE(info.apsTimeOffset, int64_t(-1234));
        QCOMPARE(info.serial, std::string("ABC123"));
        QCOMPARE(readAll(*reader), std::vector<Event2D>{event});
    }

    // A late event up to the longest step back keeps its time; one further back is written at
    // the latest time, as a step back that far reads as damage.
    void writerLateEvent_data()
    {
        QTest::addColumn<quint64>("late");
        QTest::addColumn<quint64>("read");
        QTest::newRow("8 s back") << quint64(8'000'000) << quint64(8'000'000);
        QTest::newRow("9 s back") << quint64(7'000'000) << quint64(16'000'000);
    }

    void writerLateEvent()
    {
        QFETCH(quint64, late);
        QFETCH(quint64, read);
        Stream stream;
        stream.events = {Event2D(1, 1, 1, 16'000'000), Event2D(2, 1, 1, late)};
        const std::string path = file("late.raw");
        QVERIFY(writeRecording(path, stream));
        auto reader = load(path);
        QVERIFY(reader);
        const std::vector<Event2D> events = readInFileOrder(*reader);
        QCOMPARE(events.size(), size_t(2));
        QCOMPARE(events[1].timestamp, uint64_t(read));
        DvsFileInfo info;
        QVERIFY(reader->getFileInfo(info));
        QCOMPARE(info.timeRepairs, uint64_t(0));
    }

    void writerRefusesImpossibleSensors_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("taken");
        QTest::newRow("largest") << 2048 << 2048 << true;
        QTest::newRow("no width") << 0 << 720 << false;
        QTest::newRow("too wide") << 2049 << 720 << false;
        QTest::newRow("negative height") << 1280 << -1 << false;
        QTest::newRow("too tall") << 1280 << 2049 << false;
    }

    void writerRefusesImpossibleSensors()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, taken);
        const std::string path = file("sensor.raw");
        QFile::remove(QString::fromStdString(path));
        RawHeaderInfo header;
        header.width = width;
        header.height = height;
        RawEventWriter writer;
        QCOMPARE(writer.open(path, header), taken);
        QCOMPARE(QFileInfo::exists(QString::fromStdString(path)), taken);
        writer.close();
    }

    // More edges than an index keeps: they are read from the file and handed on block by block,
    // in file order, so memory does not grow with their number.
    void triggerEdgesComeInBoundedBlocks()
    {
        Stream stream;
        stream.events = makeEvents(3, 1000, 0, 10);
        for (uint64_t i = 0; i < kMaxKeptTriggers + 100'000; ++i)
            stream.triggers.emplace_back(int16_t(i % 3), int16_t(i % 2), 20'000 + i / 4);
        const std::string path = file("edges.raw");
        QVERIFY(writeRecording(path, stream));
        auto reader = load(path);
        QVERIFY(reader);
        size_t seen = 0;
        size_t largest = 0;
        bool same = true;
        QVERIFY(reader->readTriggerEvents(0, UINT64_MAX, [&](std::span<const EventTriggerIn> edges) {
            largest = std::max(largest, edges.size());
            for (const EventTriggerIn& edge : edges)
                same = same && seen < stream.triggers.size() && edge == stream.triggers[seen++];
            return true;
        }));
        QVERIFY(same);
        QCOMPARE(seen, stream.triggers.size());
        QVERIFY2(largest <= stream.triggers.size() / 8, qPrintable(QString("a block of %1 edges").arg(largest)));
    }

    void notARecording_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // null: do not create

        QTest::newRow("empty path") << QString() << QByteArray();
        QTest::newRow("missing file") << "missing.raw" << QByteArray();
        QTest::newRow("a folder") << "." << QByteArray();
        QTest::newRow("another encoding") << "other.raw" << QByteArray("% evt 4.0\n% end\n\x01\x02");
        QTest::newRow("another format key") << "other2.raw" << QByteArray("% format HVT9;width=10;height=10\n% end\n");
        QTest::newRow("no encoding named") << "plain.raw" << QByteArray("% date 2020-01-01\n% end\n");
        QTest::newRow("not a header") << "text.raw" << QByteArray("hello\n");
        QTest::newRow("empty file") << "empty.raw" << QByteArray("");
    }

    void notARecording()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QString path;
        if (!name.isEmpty())
            path = QDir(folder.path()).filePath(name);
        if (!content.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QVERIFY(!DvsFileReader::createFileReader(path.toStdString()));
    }
};

QTEST_APPLESS_MAIN(TestRawRecording)
#include "tst_rawrecording.moc"
