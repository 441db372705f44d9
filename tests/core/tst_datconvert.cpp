// `.dat` files, conversion, regions and many files at once, through svraw as a user runs it.
#include "RawTestData.h"
#include "SvrawRunner.h"

#include "SorvaneDriver/Raw/EventDecoders.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace sorvane;
using namespace svrawtest;
using namespace rawtest;

namespace {

QByteArray lines(const std::vector<Event2D>& events)
{
    QByteArray text;
    for (const Event2D& e : events)
        text += QByteArray::number(e.x) + ',' + QByteArray::number(e.y) + ',' + QByteArray::number(e.polarity) + ','
                + QByteArray::number(quint64(e.timestamp)) + '\n';
    return text;
}

// Records of a .dat file; polarity as given (a file may hold any of its 4 bits).
std::vector<uint8_t> datRecords(const std::vector<Event2D>& events)
{
    std::vector<uint8_t> bytes;
    for (const Event2D& e : events) {
        append(bytes, uint32_t(e.timestamp));
        append(bytes, uint32_t(e.x) | uint32_t(e.y) << 14 | uint32_t(e.polarity) << 28);
    }
    return bytes;
}

bool writeDat(const QString& path, const std::string& header, const std::vector<Event2D>& events,
              uint8_t type = 0, uint8_t size = 8)
{
    return writeFile(path.toStdString(), header + char(type) + char(size), datRecords(events));
}

QJsonObject json(const QByteArray& line)
{
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class TestDatConvert : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    Stream stream; // 1280x720 with trigger edges
    std::vector<Event2D> small; // inside 300x200

    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        stream.events = makeEvents(5, 30000, 1'000'000, 400);
        for (size_t i = 7; i < stream.events.size(); i += 900)
            stream.triggers.emplace_back(int16_t(i % 5), int16_t(i % 2), stream.events[i].timestamp);
        small = makeEvents(9, 20000, 500, 60, 300, 200);
    }

    void readsDat_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("from");
        QTest::newRow("Width and Height lines") << "wh.dat" << QByteArray("% Version 2\n% Width 304\n% Height 240\n")
                                                << 304 << 240 << "header";
        QTest::newRow("geometry line") << "g.dat" << QByteArray("% geometry 300x200\n") << 300 << 200 << "header";
        int maxX = 0, maxY = 0;
        for (const Event2D& e : small) {
            maxX = std::max(maxX, int(e.x));
            maxY = std::max(maxY, int(e.y));
        }
        QTest::newRow("size from the events") << "e.dat" << QByteArray("% Version 2\n% Date 2020-01-01\n") << maxX + 1
                                              << maxY + 1 << "events";
        QTest::newRow("known by its header") << "e.events" << QByteArray("% Date 2020-01-01\n") << maxX + 1 << maxY + 1
                                             << "events";
    }

    // A .dat opens as a .raw does: info, dump of all and of a range (through the seek index).
    void readsDat()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, header);
        QVERIFY(writeDat(path(name), header.toStdString(), small));
        const Run info = svraw({"info", "--no-cache", path(name)}, folder.path());
        QCOMPARE(info.status, 0);
        const QJsonObject object = json(info.out);
        QCOMPARE(object.value("encoding").toString(), QString("DAT"));
        QTEST(object.value("width").toInt(), "width");
        QTEST(object.value("height").toInt(), "height");
        QTEST(object.value("geometry_from").toString(), "from");
        QCOMPARE(object.value("events").toInteger(), qint64(small.size()));
        QCOMPARE(svraw({"dump", path(name)}, folder.path()).out, lines(small));
        const uint64_t from = small[7000].timestamp, to = small[9000].timestamp;
        std::vector<Event2D> part;
        std::copy_if(small.begin(), small.end(), std::back_inserter(part),
                     [&](const Event2D& e) { return e.timestamp >= from && e.timestamp <= to; });
        QCOMPARE(svraw({"dump", path(name), "--start", QString::number(from), "--end", QString::number(to)},
                       folder.path()).out, lines(part));
    }

    void damagedDat_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // after a "% Width 300\n% Height 200\n" header
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // on stderr, or the info member that tells
        const std::vector<uint8_t> records = datRecords(small);
        const QByteArray whole(reinterpret_cast<const char*>(records.data()), qsizetype(records.size()));
        QTest::newRow("all header") << QByteArray() << 1 << "has no end";
        QTest::newRow("other event type") << QByteArray("\x0c\x08", 2) + whole << 1 << "type 12 and size 8";
        QTest::newRow("other event size") << QByteArray("\x00\x10", 2) + whole << 1 << "type 0 and size 16";
        QTest::newRow("last event cut short") << QByteArray("\x00\x08", 2) + whole + "abc" << 0 << "trailing_bytes";
    }

    void damagedDat()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString file = path(QString("damaged-%1.dat").arg(QTest::currentDataTag()));
        QVERIFY(writeFile(file.toStdString(), "% Width 300\n% Height 200\n", {bytes.begin(), bytes.end()}));
        const Run run = svraw({"info", file}, folder.path());
        QTEST(run.status, "status");
        if (run.status != 0) {
            QVERIFY2(run.err.contains(message.toUtf8()), run.err);
            return;
        }
        QCOMPARE(json(run.out).value(message).toInt(), 3);
        QCOMPARE(json(run.out).value("events").toInteger(), qint64(small.size()));
    }

    void convertKeepsEveryEvent_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("gap"); // a 20 s pause between two events
        for (const char* encoding : {"EVT3.0", "EVT2.0", "EVT2.1", "DAT"})
            for (const char* format : {"evt3", "evt2"})
                QTest::addRow("%s to %s", encoding, format) << encoding << format << false;
        QTest::newRow("pause into evt2") << "EVT3.0" << "evt2" << true;
        QTest::newRow("pause into evt3") << "DAT" << "evt3" << true;
    }

    // Every event and trigger edge comes through, and the header keeps the sensor and serial.
    void convertKeepsEveryEvent()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, format);
        QFETCH(bool, gap);
        Stream in = stream;
        if (gap)
            for (size_t i = in.events.size() / 2; i < in.events.size(); ++i)
                in.events[i].timestamp += 20'000'000;
        if (encoding == "DAT")
            in.triggers.clear();
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
        const QString input = path(tag + (encoding == "DAT" ? ".dat" : ".raw"));
        const QString output = path(tag + ".out.raw");
        QVERIFY(encoding == "DAT" ? writeDat(input, "% Width 1280\n% Height 720\n", in.events)
                                  : encoding == "EVT3.0" ? writeRecording(input.toStdString(), in, 1280, 720, "S-42")
                                                         : writeEncoded(input.toStdString(), encoding.toStdString(), in));
        const Run run = svraw({"convert", input, output, "--format", format}, folder.path());
        QVERIFY2(run.status == 0, run.err);
        QCOMPARE(svraw({"dump", output}, folder.path()).out, lines(in.events));
        QCOMPARE(svraw({"dump", "--triggers", output}, folder.path()).out,
                 svraw({"dump", "--triggers", input}, folder.path()).out);
        const QJsonObject info = json(svraw({"info", output}, folder.path()).out);
        QCOMPARE(info.value("encoding").toString(), format == "evt3" ? QString("EVT3.0") : QString("EVT2.0"));
        QCOMPARE(info.value("width").toInt(), 1280);
        QCOMPARE(info.value("height").toInt(), 720);
        QCOMPARE(info.value("serial").toString(), encoding == "EVT3.0" ? QString("S-42") : QString());
        if (format == "evt3") {
            // Read as other tools read EVT 3.0 (vector words only in whole groups).
            QFile file(output);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            const qsizetype data = bytes.indexOf("% end\n") + 6;
            const Stream other = decodeGroupedEvt3(reinterpret_cast<const uint8_t*>(bytes.constData()) + data,
                                                   size_t(bytes.size() - data));
            QCOMPARE(other.events.size(), in.events.size());
            QVERIFY(other.events == in.events);
        }
    }

    void region_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "@in" the recording, "@out" an output
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QStringList roi{"--roi", "100,50,400,300"};
        QTest::newRow("dump") << QStringList{"dump", "@in"} + roi << 0 << "";
        QTest::newRow("cut") << QStringList{"cut", "@in", "@out", "--start", "0", "--end", "99999999"} + roi << 0 << "";
        QTest::newRow("convert") << QStringList{"convert", "@in", "@out"} + roi << 0 << "";
        QTest::newRow("outside") << QStringList{"dump", "@in", "--roi", "0,0,2000,10"} << 1
                                 << "the region 0,0,2000,10 lies outside the 1280×720 sensor";
        QTest::newRow("empty") << QStringList{"cut", "@in", "@out", "--start", "0", "--end", "9", "--roi", "9,0,5,9"}
                               << 1 << "is empty";
        QTest::newRow("malformed") << QStringList{"convert", "@in", "@out", "--roi", "1,2,3"} << 2 << "X0,Y0,X1,Y1";
    }

    // Only the events of the region, their coordinates as they were, bounds included.
    void region()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QString input = path("region.raw");
        const QString output = path(QString("region-%1.raw").arg(QTest::currentDataTag()));
        QVERIFY(writeRecording(input.toStdString(), stream));
        arguments.replaceInStrings("@in", input).replaceInStrings("@out", output);
        const Run run = svraw(arguments, folder.path());
        QTEST(run.status, "status");
        if (run.status != 0) {
            QVERIFY2(run.err.contains(message.toUtf8()), run.err);
            QVERIFY(!QFile::exists(output));
            return;
        }
        std::vector<Event2D> inside;
        std::copy_if(stream.events.begin(), stream.events.end(), std::back_inserter(inside),
                     [](const Event2D& e) { return e.x >= 100 && e.x <= 400 && e.y >= 50 && e.y <= 300; });
        QCOMPARE(arguments[0] == "dump" ? run.out : svraw({"dump", output}, folder.path()).out, lines(inside));
        if (arguments[0] != "dump")
            QCOMPARE(json(svraw({"info", output}, folder.path()).out).value("triggers").toInt(), int(stream.triggers.size()));
    }

    // Into a folder: each input on its own; one that fails leaves the others converted, an
    // output onto an input or an existing file is refused, and nothing half-written stays.
    void convertIntoFolder()
    {
        QTemporaryDir work;
        const QDir dir(work.path());
        QVERIFY(dir.mkdir("out"));
        const QDir out(dir.filePath("out"));
        QVERIFY(writeFile(dir.filePath("bad.raw").toStdString(), "% evt 9.9\n", {1, 2, 3, 4}));
        QVERIFY(writeRecording(dir.filePath("a.raw").toStdString(), stream));
        QVERIFY(writeDat(dir.filePath("b.dat"), "% Version 2\n", small));
        QVERIFY(writeDat(dir.filePath("c.dat"), "% Version 2\n", small));
        QVERIFY(writeFile(out.filePath("c.raw").toStdString(), "keep", {}));
        QVERIFY(writeDat(dir.filePath("d.dat"), "% Version 2\n", small));
        QVERIFY(writeRecording(out.filePath("d.raw").toStdString(), stream));

        const Run run = svraw({"convert", dir.filePath("bad.raw"), dir.filePath("a.raw"), dir.filePath("c.dat"),
                               dir.filePath("d.dat"), dir.filePath("b.dat"), out.filePath("d.raw"), "--into", out.path(),
                               "--force"},
                              work.path());
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("is the input " + out.filePath("d.raw").toUtf8()), run.err);
        QCOMPARE(svraw({"dump", out.filePath("a.raw")}, work.path()).out, lines(stream.events));
        QCOMPARE(svraw({"dump", out.filePath("b.raw")}, work.path()).out, lines(small));
        QCOMPARE(svraw({"dump", out.filePath("c.raw")}, work.path()).out, lines(small)); // --force
        QCOMPARE(svraw({"dump", out.filePath("d.raw")}, work.path()).out, lines(stream.events));
        QVERIFY(!QFile::exists(out.filePath("bad.raw")));
        QCOMPARE(out.entryList(QDir::Files | QDir::Hidden).size(), 4);

        QCOMPARE(svraw({"convert", dir.filePath("b.dat"), "--into", out.path()}, work.path()).status, 1);
        QCOMPARE(svraw({"dump", out.filePath("b.raw")}, work.path()).out, lines(small));
    }

    // One line a file, in order; a file that cannot be read says so and the others go on.
    void infoOfManyFiles()
    {
        QVERIFY(writeDat(path("many1.dat"), "% Width 300\n% Height 200\n", small));
        QVERIFY(writeRecording(path("many2.raw").toStdString(), stream));
        const Run run = svraw({"info", path("many1.dat"), path("none.raw"), path("many2.raw")}, folder.path());
        QCOMPARE(run.status, 1);
        const QList<QByteArray> objects = run.out.trimmed().split('\n');
        QCOMPARE(objects.size(), 3);
        QCOMPARE(json(objects[0]).value("events").toInteger(), qint64(small.size()));
        QCOMPARE(json(objects[1]).value("path").toString(), path("none.raw"));
        QVERIFY(json(objects[1]).value("error").toString().contains("cannot open"));
        QCOMPARE(json(objects[2]).value("events").toInteger(), qint64(stream.events.size()));
    }

    // Every decoder path gives the records as they are, those outside the sensor left out.
    void datDecodesAlikeOnEveryPath()
    {
        std::vector<Event2D> records = makeEvents(3, 5001, 10, 5, 400, 300);
        for (size_t i = 0; i < records.size(); i += 7)
            records[i].polarity = uint8_t(i % 16);
        const std::vector<uint8_t> bytes = datRecords(records);
        std::vector<Event2D> expected;
        for (const Event2D& e : records)
            if (e.x < 320 && e.y < 240)
                expected.emplace_back(e.x, e.y, uint8_t(e.polarity != 0), e.timestamp);
        const DecoderPath chosen = decoderPath();
        for (const DecoderPath decoder : availableDecoderPaths()) {
            QVERIFY(setDecoderPath(decoder));
            std::vector<Event2D> events(records.size());
            EventSink sink{events.data(), events.size(), 0, nullptr};
            DecoderState state;
            decodeEvents(EventEncoding::Dat, false, bytes, state, SensorGeometry{320, 240}, UINT64_MAX, sink);
            events.resize(sink.count);
            QVERIFY(events == expected);
        }
        QVERIFY(setDecoderPath(chosen));
    }
};

QTEST_GUILESS_MAIN(TestDatConvert)
#include "tst_datconvert.moc"
