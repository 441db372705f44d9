// The header parser and the three decoders over memory: documented word layouts, wraps,
// resuming from saved state, and damaged input.
#include "RawTestData.h"

#include "SorvaneDriver/DvsFileReader.h"
#include "SorvaneDriver/Raw/EventDecoders.h"
#include "SorvaneDriver/Raw/Evt3Encoder.h"
#include "SorvaneDriver/Raw/RawHeader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace sorvane;
using namespace rawtest;

namespace {

// Words in little-endian byte order, as the files hold them.
template <typename Word>
std::vector<uint8_t> bytesOf(std::initializer_list<Word> words)
{
    std::vector<uint8_t> bytes;
    for (Word w : words)
        append(bytes, w);
    return bytes;
}

struct Decoded {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
};

// Decodes bytes in pieces of at most piece bytes, each piece resumed from the previous state.
Decoded decodeAll(EventEncoding encoding, const std::vector<uint8_t>& bytes, SensorGeometry geometry = {},
                  bool legacy = false, size_t piece = SIZE_MAX, size_t capacity = 4096)
{
    Decoded out;
    DecoderState state;
    std::vector<Event2D> buffer(capacity);
    const size_t word = encodingWordSize(encoding);
    size_t offset = 0;
    while (offset + word <= bytes.size()) {
        size_t length = std::min(piece, bytes.size() - offset);
        length = std::max(length - length % word, word);
        EventSink sink{buffer.data(), buffer.size(), 0, &out.triggers};
        const DecodeResult result = decodeEvents(encoding, legacy, std::span(bytes.data() + offset, length), state,
                                                 geometry, UINT64_MAX, sink);
        out.events.insert(out.events.end(), buffer.begin(), buffer.begin() + ptrdiff_t(sink.count));
        if (result.bytesUsed == 0 && sink.count == 0)
            break;
        offset += result.bytesUsed;
    }
    return out;
}

// Events with a trigger every fifty.
Stream makeStream(uint32_t seed, size_t count, uint32_t maxStep)
{
    Stream stream;
    stream.events = makeEvents(seed, count, 16'700'000, maxStep);
    for (size_t i = 0; i < stream.events.size(); i += 50)
        stream.triggers.emplace_back(int16_t(i % 16), int16_t(1), stream.events[i].timestamp);
    return stream;
}

std::vector<uint8_t> encode(EventEncoding encoding, const Stream& stream)
{
    if (encoding != EventEncoding::Evt3)
        return encoding == EventEncoding::Evt2 ? encodeEvt2(stream) : encodeEvt21(stream, false);
    Evt3Encoder encoder;
    std::vector<uint16_t> words;
    size_t next = 0;
    for (const EventTriggerIn& trigger : stream.triggers) {
        size_t upTo = next;
        while (upTo < stream.events.size() && stream.events[upTo].timestamp <= trigger.timestamp)
            ++upTo;
        encoder.encode(stream.events.data() + next, stream.events.data() + upTo, words);
        encoder.encodeTrigger(trigger, words);
        next = upTo;
    }
    encoder.encode(stream.events.data() + next, stream.events.data() + stream.events.size(), words);
    std::vector<uint8_t> bytes;
    for (uint16_t w : words)
        append(bytes, w);
    return bytes;
}

// EVT 3.0 words dense in whole vector groups, at every position among runs of ADDR_X words, rows
// and times, with masks from empty to full, and now and then a vector word outside a group.
std::vector<uint8_t> denseVectorWords(uint32_t seed, size_t count)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes;
    append(bytes, uint16_t(0x8000));
    uint32_t low = 0;
    while (bytes.size() < 2 * count) {
        const uint32_t polarity = (random() & 1) << 11;
        switch (random() % 8) {
        case 0: append(bytes, uint16_t(0x6000 | (++low & 0xfff))); break;
        case 1: append(bytes, uint16_t(random() % 720)); break;
        case 2:
        case 3:
            for (uint32_t run = random() % 32; run > 0; --run)
                append(bytes, uint16_t(0x2000 | polarity | random() % 1280));
            break;
        case 7: append(bytes, uint16_t(0x3000 + 0x1000 * (random() % 3) + (random() & 0xfff))); break;
        default: {
            const uint32_t mask = random() % 4 == 0 ? ~uint32_t(0) : uint32_t(random());
            for (uint32_t word : {0x3000 | polarity | uint32_t(random() % 40) * 32, 0x4000 | (mask & 0xfff),
                                  0x4000 | ((mask >> 12) & 0xfff), 0x5000 | (mask >> 24)})
                append(bytes, uint16_t(word));
        }
        }
    }
    return bytes;
}

QString describe(const std::vector<Event2D>& events)
{
    QStringList parts;
    for (const Event2D& e : events)
        parts << QStringLiteral("(%1,%2,%3,%4)").arg(e.x).arg(e.y).arg(e.polarity).arg(e.timestamp);
    return parts.join(' ');
}

} // namespace

Q_DECLARE_METATYPE(EventEncoding)
Q_DECLARE_METATYPE(std::vector<uint8_t>)
Q_DECLARE_METATYPE(std::vector<Event2D>)

class TestEventDecoders : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void header_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<int>("dataOffset"); // -1: the whole text

        const int evt3 = int(EventEncoding::Evt3);
        const int evt2 = int(EventEncoding::Evt2);
        const int evt21 = int(EventEncoding::Evt21);
        QTest::newRow("writer's header") << QByteArray("% date 2024-01-01 10:00:00\n% evt 3.0\n% format EVT3;height=720;width=1280\n"
                                                       "% geometry 1280x720\n% serial_number X\n% end\n")
                                         << evt3 << 1280 << 720 << false << -1;
        QTest::newRow("format wins over evt") << QByteArray("% evt 3.0\n% format EVT2;height=480;width=640\n% end\n")
                                              << evt2 << 640 << 480 << false << -1;
        QTest::newRow("EVT21 legacy") << QByteArray("% format EVT21;height=720;width=1280;endianness=legacy\n% end\n")
                                      << evt21 << 1280 << 720 << true << -1;
        QTest::newRow("legacy means nothing to EVT 3.0")
            << QByteArray("% format EVT3;height=720;width=1280;endianness=legacy\n% end\n") << evt3 << 1280 << 720 << false << -1;
        QTest::newRow("geometry without format") << QByteArray("% evt 2.0\n% geometry 320x240\n% end\n")
                                                 << evt2 << 320 << 240 << false << -1;
        QTest::newRow("gen3 plugin") << QByteArray("% Date 2019-05-01\n% evt 2.0\n% plugin_name hal_plugin_gen31_fx3\n")
                                     << evt2 << 640 << 480 << false << -1;
        QTest::newRow("gen41 plugin") << QByteArray("% evt 3.0\n% plugin_name hal_plugin_gen41_evk3\n")
                                      << evt3 << 1280 << 720 << false << -1;
        QTest::newRow("nothing to go by") << QByteArray("% evt 2.1\n") << evt21 << 1280 << 720 << false << -1;
        QTest::newRow("largest sensor") << QByteArray("% evt 3.0\n% geometry 2048x2048\n% end\n")
                                        << evt3 << 2048 << 2048 << false << -1;
        QTest::newRow("impossible format size falls back to geometry")
            << QByteArray("% format EVT3;height=0;width=99999\n% geometry 640x480\n% end\n") << evt3 << 640 << 480 << false << -1;
        QTest::newRow("no end: data at the first other line")
            << QByteArray("% evt 3.0\n% geometry 640x480\n\x01\x20\x02\x20") << evt3 << 640 << 480 << false << 29;
        QTest::newRow("data after end that looks like a header line")
            << QByteArray("% evt 3.0\n% end\n% x\n") << evt3 << 1280 << 720 << false << 16;
        QTest::newRow("carriage returns") << QByteArray("% evt 2.0\r\n% geometry 640x480\r\n% end\r\n")
                                          << evt2 << 640 << 480 << false << -1;
        QTest::newRow("header only, no final newline") << QByteArray("% evt 3.0\n% end") << evt3 << 1280 << 720 << false << -1;
    }

    void header()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, encoding);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, legacy);
        QFETCH(int, dataOffset);

        RawHeader header;
        std::string error;
        QVERIFY2(parseRawHeader(std::span(reinterpret_cast<const uint8_t*>(text.constData()), size_t(text.size())), true,
                                header, error),
                 error.c_str());
        QCOMPARE(int(header.encoding), encoding);
        QCOMPARE(header.width, width);
        QCOMPARE(header.height, height);
        QCOMPARE(header.legacyEndianness, legacy);
        QCOMPARE(qsizetype(header.dataOffset), dataOffset < 0 ? text.size() : qsizetype(dataOffset));
    }

    void headerNeedsMoreBytes()
    {
        const QByteArray text("% evt 3.0\n% serial_number 12");
        RawHeader header;
        std::string error;
        QVERIFY(!parseRawHeader(std::span(reinterpret_cast<const uint8_t*>(text.constData()), size_t(text.size())), false,
                                header, error));
        QVERIFY(!error.empty());
    }

    void documentedWords_data()
    {
        QTest::addColumn<EventEncoding>("encoding");
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<std::vector<uint8_t>>("bytes");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("triggers");

        QTest::newRow("EVT3 ADDR_X after row and time")
            << EventEncoding::Evt3 << false
            << bytesOf<uint16_t>({0x0005, 0x8001, 0x6002, 0x2807, 0x2008})
            << "(7,5,1,4098) (8,5,0,4098)" << "";
        QTest::newRow("EVT3 vectors")
            << EventEncoding::Evt3 << false
            << bytesOf<uint16_t>({0x8000, 0x0010, 0x6064, 0x3864, 0x4805, 0x5081, 0x2001})
            << "(100,16,1,100) (102,16,1,100) (111,16,1,100) (112,16,1,100) (119,16,1,100) (1,16,0,100)" << "";
        QTest::newRow("EVT3 padding, others, continuations and trigger")
            << EventEncoding::Evt3 << false
            << bytesOf<uint16_t>({0x8002, 0x9999, 0xE014, 0xF123, 0xF456, 0x7001, 0xA301, 0xA300, 0x0003, 0x2004})
            << "(4,3,0,8192)" << "3:1@8192 3:0@8192";
        QTest::newRow("EVT2 events, time high, trigger")
            << EventEncoding::Evt2 << false
            << bytesOf<uint32_t>({0x80000002, (0x1u << 28) | (5u << 22) | (640u << 11) | 479u,
                          (0u << 28) | (63u << 22) | (1u << 11) | 2u, 0xA0000000u | (7u << 22) | (9u << 8) | 1u,
                          0xD0000000u, 0xF0000000u})
            << "(640,479,1,133) (1,2,0,191)" << "9:1@135";
        QTest::newRow("EVT2.1 mask word")
            << EventEncoding::Evt21 << false
            << bytesOf<uint64_t>({uint64_t(0x8) << 60 | uint64_t(3) << 32,
                          uint64_t(1) << 60 | uint64_t(10) << 54 | uint64_t(50) << 43 | uint64_t(7) << 32 | 0x80000005ull,
                          uint64_t(0xA) << 60 | uint64_t(2) << 54 | uint64_t(17) << 40 | uint64_t(1) << 32})
            << "(50,7,1,202) (52,7,1,202) (81,7,1,202)" << "17:1@194";
        QTest::newRow("EVT2.1 legacy halves")
            << EventEncoding::Evt21 << true
            << bytesOf<uint64_t>({uint64_t(0x8) << 28, (uint64_t(0x0) << 28 | uint64_t(1) << 22 | uint64_t(4) << 11 | 6) | (uint64_t(0x1) << 32)})
            << "(4,6,0,1)" << "";
        QTest::newRow("EVT3 events before the first time high have no time")
            << EventEncoding::Evt3 << false
            << bytesOf<uint16_t>({0x0004, 0x2001, 0x3000, 0x4fff, 0xA301, 0x8003, 0x2002, 0x0005, 0x2003})
            << "(2,4,0,12288) (3,5,0,12288)" << "";
        QTest::newRow("EVT2 events before the first time high have no time")
            << EventEncoding::Evt2 << false
            << bytesOf<uint32_t>({(0x1u << 28) | (5u << 22) | (7u << 11) | 8u, 0xA0000000u | (9u << 8) | 1u, 0x80000010,
                          (0x0u << 28) | (2u << 22) | (3u << 11) | 4u})
            << "(3,4,0,1026)" << "";
        QTest::newRow("EVT2 time high jumping hours ahead is damage")
            << EventEncoding::Evt2 << false
            << bytesOf<uint32_t>({0x80000010, (0x1u << 28) | (1u << 22) | (1u << 11) | 1u, 0x80000001,
                          (0x1u << 28) | (2u << 22) | (2u << 11) | 2u, 0x80ffffff, (0x1u << 28) | (3u << 22) | (3u << 11) | 3u,
                          0x80000011, (0x1u << 28) | (4u << 22) | (4u << 11) | 4u})
            << "(1,1,1,1025) (2,2,1,1026) (3,3,1,1027) (4,4,1,1092)" << "";
    }

    void documentedWords()
    {
        QFETCH(EventEncoding, encoding);
        QFETCH(bool, legacy);
        QFETCH(std::vector<uint8_t>, bytes);
        QFETCH(QString, events);
        QFETCH(QString, triggers);

        const Decoded decoded = decodeAll(encoding, bytes, {}, legacy);
        QCOMPARE(describe(decoded.events), events);
        QStringList edges;
        for (const EventTriggerIn& t : decoded.triggers)
            edges << QStringLiteral("%1:%2@%3").arg(t.id).arg(t.polarity).arg(t.timestamp);
        QCOMPARE(edges.join(' '), triggers);
    }

    // The 12-bit TIME_HIGH counter wraps only by running over its top; any other large drop is
    // damage, counted and taken as it is, so that no pair of words adds 16.8 s.
    void evt3Wraps_data()
    {
        QTest::addColumn<QList<int>>("highs");
        QTest::addColumn<quint64>("time");
        QTest::addColumn<int>("repairs");

        const quint64 wrap = quint64(1) << 24;
        QTest::newRow("rising") << QList<int>{1, 2, 3000} << quint64(3000) * 4096 << 0;
        QTest::newRow("keep-alive repeats") << QList<int>{7, 7, 7} << quint64(7) * 4096 << 0;
        QTest::newRow("wrap") << QList<int>{4095, 0, 1} << wrap + 4096 << 0;
        QTest::newRow("wrap skipping a few steps") << QList<int>{4090, 5} << wrap + 5 * 4096 << 0;
        QTest::newRow("drop from near the top to past zero") << QList<int>{4090, 6} << quint64(6) * 4096 << 1;
        QTest::newRow("drop of 2048 is damage") << QList<int>{2048, 0} << quint64(0) << 1;
        QTest::newRow("drop of 2047 steps back") << QList<int>{2047, 0} << quint64(0) << 0;
        QTest::newRow("three wraps") << QList<int>{4095, 10, 4000, 4095, 0, 4095, 3} << 3 * wrap + 3 * 4096 << 0;
        QTest::newRow("alternating damage") << QList<int>{4000, 10, 4000, 10, 4000, 10} << quint64(10) * 4096 << 3;
    }

    void evt3Wraps()
    {
        QFETCH(QList<int>, highs);
        QFETCH(quint64, time);
        QFETCH(int, repairs);
        std::vector<uint8_t> bytes;
        for (int high : highs)
            append(bytes, uint16_t(0x8000 | high));
        append(bytes, uint16_t(0x2001));
        const Decoded decoded = decodeAll(EventEncoding::Evt3, bytes);
        QCOMPARE(decoded.events.size(), size_t(1));
        QCOMPARE(decoded.events[0].timestamp, uint64_t(time));
        DecoderState state;
        ScanStats stats;
        scanEvents(EventEncoding::Evt3, false, bytes, state, {}, UINT64_MAX, stats, nullptr);
        QCOMPARE(stats.timeRepairs, uint64_t(repairs));
    }

    void resumesAcrossPieces_data()
    {
        QTest::addColumn<EventEncoding>("encoding");
        QTest::addColumn<int>("piece");
        QTest::addColumn<int>("capacity");

        for (const auto& [name, encoding] : {std::pair{"EVT3", EventEncoding::Evt3}, std::pair{"EVT2", EventEncoding::Evt2},
                                             std::pair{"EVT2.1", EventEncoding::Evt21}}) {
            QTest::newRow((QByteArray(name) + " one word at a time").constData()) << encoding << 1 << 64;
            QTest::newRow((QByteArray(name) + " odd pieces").constData()) << encoding << 1001 << 64;
            QTest::newRow((QByteArray(name) + " tiny sink").constData()) << encoding << INT_MAX << 32;
        }
    }

    void resumesAcrossPieces()
    {
        QFETCH(EventEncoding, encoding);
        QFETCH(int, piece);
        QFETCH(int, capacity);

        const Stream stream = makeStream(21, 5000, 300);
        const std::vector<uint8_t> bytes = encode(encoding, stream);
        const Decoded decoded = decodeAll(encoding, bytes, {}, false, size_t(piece), size_t(capacity));
        QCOMPARE(decoded.events.size(), stream.events.size());
        QVERIFY(decoded.events == stream.events);
        QVERIFY(decoded.triggers == stream.triggers);
    }

    // What the writer makes must read the same in a decoder that takes every VECT_12 as the start
    // of a full group, and stay compact where events lie close together.
    void writtenVectorsComeInGroups_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<std::vector<Event2D>>("events");
        QTest::addColumn<int>("maxWords"); // 0: no bound

        std::vector<Event2D> fullRow;
        for (uint16_t x = 0; x < 1280; ++x)
            fullRow.emplace_back(x, 9, 1, 5000);
        std::vector<Event2D> everyOther;
        for (uint16_t x = 100; x < 160; x += 2)
            everyOther.emplace_back(x, 9, 1, 5000);
        std::vector<Event2D> acrossBlocks; // runs that straddle 32-pixel blocks and the right edge
        for (uint16_t x : {27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 330, 331, 332, 333, 334, 335, 336, 337, 338, 339, 340, 341, 342, 343, 344, 345})
            acrossBlocks.emplace_back(x, 3, 0, 7000);
        std::vector<Event2D> scattered; // one event to a block: a word each, no group
        for (uint16_t x = 0; x < 1280; x += 40)
            scattered.emplace_back(x, 9, 1, 5000);
        QTest::newRow("full row") << 1280 << fullRow << 200;
        QTest::newRow("one event to a block") << 1280 << scattered << 40;
        QTest::newRow("every other pixel") << 1280 << everyOther << 20;
        QTest::newRow("runs across blocks, 346 wide") << 346 << acrossBlocks << 0;
        QTest::newRow("runs across blocks, 340 wide") << 340 << acrossBlocks << 0;
        QTest::newRow("random, 1280 wide") << 1280 << rawtest::makeEvents(7, 50000, 1000, 40) << 0;
        QTest::newRow("random, 640 wide") << 640 << rawtest::makeEvents(8, 50000, 1000, 40, 640, 480) << 0;
        QTest::newRow("random, 33 wide") << 33 << rawtest::makeEvents(9, 20000, 1000, 40, 33, 20) << 0;
    }

    void writtenVectorsComeInGroups()
    {
        QFETCH(int, width);
        QFETCH(std::vector<Event2D>, events);
        QFETCH(int, maxWords);
        const SensorGeometry geometry{uint32_t(width), 720};
        Evt3Encoder encoder(geometry);
        std::vector<uint16_t> words;
        encoder.encode(events.data(), events.data() + events.size(), words);
        std::vector<uint8_t> bytes;
        for (uint16_t w : words)
            append(bytes, w);
        const Decoded ours = decodeAll(EventEncoding::Evt3, bytes, geometry);
        QCOMPARE(ours.events.size(), events.size() - encoder.droppedEvents());
        const rawtest::Stream grouped = rawtest::decodeGroupedEvt3(bytes.data(), bytes.size());
        QVERIFY(grouped.events == ours.events);
        if (maxWords > 0)
            QVERIFY2(int(words.size()) <= maxWords, qPrintable(QString::number(words.size())));
    }

    void stopsBeforeStopTime()
    {
        // stopTime lands between TIME_HIGH and TIME_LOW: the overshoot of the high part alone must
        // not end the window early.
        const std::vector<uint8_t> bytes = bytesOf<uint16_t>({0x8001, 0x6ffe, 0x2001, 0x8002, 0x6001, 0x2002, 0x6003, 0x2003});
        DecoderState state;
        std::vector<Event2D> buffer(64);
        EventSink sink{buffer.data(), buffer.size(), 0, nullptr};
        const DecodeResult result = decodeEvt3(bytes, state, {}, 8192 + 2, sink);
        QVERIFY(result.reachedStop);
        QCOMPARE(sink.count, size_t(2));
        QCOMPARE(buffer[1].timestamp, uint64_t(8193));
        QCOMPARE(result.bytesUsed, size_t(14));
    }

    void damagedNeverLeavesTheSensor_data()
    {
        QTest::addColumn<EventEncoding>("encoding");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<quint32>("seed");

        for (const auto& [name, encoding] : {std::pair{"EVT3", EventEncoding::Evt3}, std::pair{"EVT2", EventEncoding::Evt2},
                                             std::pair{"EVT2.1", EventEncoding::Evt21}}) {
            for (quint32 seed : {1u, 2u, 3u}) {
                QTest::newRow(QStringLiteral("%1 640x480 %2").arg(name).arg(seed).toLatin1()) << encoding << 640 << 480 << seed;
                QTest::newRow(QStringLiteral("%1 1x1 %2").arg(name).arg(seed).toLatin1()) << encoding << 1 << 1 << seed;
            }
        }
    }

    void damagedNeverLeavesTheSensor()
    {
        QFETCH(EventEncoding, encoding);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(quint32, seed);

        std::mt19937 random(seed);
        std::vector<uint8_t> bytes(200'003);
        for (uint8_t& b : bytes)
            b = uint8_t(random());
        const SensorGeometry geometry{uint32_t(width), uint32_t(height)};
        const Decoded decoded = decodeAll(encoding, bytes, geometry, false, 4099, 100);
        QVERIFY(!decoded.events.empty() || width == 1);
        for (const Event2D& e : decoded.events)
            QVERIFY(e.x < width && e.y < height && e.polarity <= 1);

        ScanStats stats;
        DecoderState state;
        scanEvents(encoding, false, bytes, state, geometry, UINT64_MAX, stats, nullptr);
        QCOMPARE(stats.events, uint64_t(decoded.events.size()));
        QCOMPARE(stats.triggers, uint64_t(decoded.triggers.size()));
        if (!decoded.events.empty()) {
            const auto [least, most] = std::minmax_element(decoded.events.begin(), decoded.events.end(),
                                                           [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
            QVERIFY(stats.maxEventTime >= most->timestamp && stats.maxEventTime < most->timestamp + 4096);
            QVERIFY(stats.minTime <= least->timestamp);
            QVERIFY(stats.maxTime >= most->timestamp);
        }
    }

    // Every instruction set the processor has gives the same events and counts, over clean
    // streams, streams with flipped bytes, and sinks too small for the wide paths.
    void decoderPathsAgree_data()
    {
        QTest::addColumn<EventEncoding>("encoding");
        QTest::addColumn<bool>("denseVectors");
        QTest::addColumn<int>("flips");
        QTest::addColumn<int>("capacity");

        for (const auto& [name, encoding, dense] :
             {std::tuple{"EVT3", EventEncoding::Evt3, false}, std::tuple{"EVT3 dense vectors", EventEncoding::Evt3, true},
              std::tuple{"EVT2", EventEncoding::Evt2, false}, std::tuple{"EVT2.1", EventEncoding::Evt21, false}}) {
            for (int flips : {0, 300})
                for (int capacity : {40, 65536})
                    QTest::newRow(QStringLiteral("%1 %2 flips sink %3").arg(name).arg(flips).arg(capacity).toLatin1())
                        << encoding << dense << flips << capacity;
        }
    }

    void decoderPathsAgree()
    {
        QFETCH(EventEncoding, encoding);
        QFETCH(bool, denseVectors);
        QFETCH(int, flips);
        QFETCH(int, capacity);

        std::vector<uint8_t> bytes =
            denseVectors ? denseVectorWords(5, 200'000) : encode(encoding, makeStream(5, 200'000, 3));
        std::mt19937 random{uint32_t(flips)};
        for (int i = 0; i < flips; ++i)
            bytes[random() % bytes.size()] ^= uint8_t(1 << (random() % 8));
        // Smaller than the stream's sensor, so that some rows and columns lie outside.
        const SensorGeometry geometry{1000, 600};

        const DecoderPath best = decoderPath();
        QVERIFY(setDecoderPath(DecoderPath::Portable));
        const Decoded expected = decodeAll(encoding, bytes, geometry, false, 100'001, size_t(capacity));
        ScanStats expectedStats;
        DecoderState expectedState;
        scanEvents(encoding, false, bytes, expectedState, geometry, UINT64_MAX, expectedStats, nullptr);
        QVERIFY(expected.events.size() > 100'000);
        QCOMPARE(expectedStats.events, uint64_t(expected.events.size()));
        for (DecoderPath path : availableDecoderPaths()) {
            QVERIFY(setDecoderPath(path));
            const Decoded decoded = decodeAll(encoding, bytes, geometry, false, 100'001, size_t(capacity));
            ScanStats stats;
            DecoderState state;
            scanEvents(encoding, false, bytes, state, geometry, UINT64_MAX, stats, nullptr);
            setDecoderPath(best);
            QCOMPARE(decoded.events.size(), expected.events.size());
            QVERIFY(decoded.events == expected.events);
            QVERIFY(decoded.triggers == expected.triggers);
            QCOMPARE(stats.events, expectedStats.events);
            QCOMPARE(stats.outside, expectedStats.outside);
            if (encoding == EventEncoding::Evt2) // exact on every path (EVT 3.0's fast bounds may be wide)
                QVERIFY(stats.minTime == expectedStats.minTime && stats.maxEventTime == expectedStats.maxEventTime);
            QVERIFY(state == expectedState);
        }
    }

    void vectorsRunningOffTheRow()
    {
        // A broken rhythm: vectors without a base, and a base near the edge that runs past it.
        const std::vector<uint8_t> bytes = bytesOf<uint16_t>({0x8000, 0x0001, 0x4fff, 0x327a, 0x4fff, 0x4fff, 0x5fff, 0x0300, 0x2010, 0x0002, 0x2010});
        const Decoded decoded = decodeAll(EventEncoding::Evt3, bytes, SensorGeometry{640, 480});
        QStringList xs;
        for (const Event2D& e : decoded.events) {
            QVERIFY(e.x < 640 && e.y < 480);
            xs << QString::number(e.x);
        }
        // Base 0 vector, then 634..639 from base 634, nothing beyond; row 768 dropped; row 2 kept.
        QCOMPARE(xs.join(','), QString("0,1,2,3,4,5,6,7,8,9,10,11,634,635,636,637,638,639,16"));
    }

    void damagedFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("events");

        const QByteArray header("% evt 3.0\n% format EVT3;height=480;width=640\n% end\n");
        const QByteArray good = QByteArray::fromHex("0100" "0280" "0560" "0520" "0620");
        QTest::newRow("header only") << header << 0;
        QTest::newRow("truncated last word") << header + good + QByteArray("\x07", 1) << 2;
        QTest::newRow("events outside the sensor") << header + QByteArray::fromHex("e001" "0280" "0520" "0100" "ff27" "0520") << 1;
        QByteArray garbage = header;
        std::mt19937 random(8);
        for (int i = 0; i < 300'000; ++i)
            garbage.append(char(random()));
        QTest::newRow("garbage") << garbage << -1;
    }

    void damagedFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, events);
        const QString path = QDir(folder.path()).filePath("damaged.raw");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();

        auto reader = DvsFileReader::createFileReader(path.toStdString());
        QVERIFY(reader);
        QVERIFY(reader->loadFile());
        DvsFileInfo info;
        QVERIFY(reader->getFileInfo(info));
        if (events >= 0)
            QCOMPARE(info.eventCount, uint64_t(events));
        uint64_t first = 0;
        uint64_t last = 0;
        if (info.eventCount == 0) {
            QVERIFY(!reader->getStartTimestamp(first));
            QVERIFY(!reader->getEventsByTime(0, 1000));
            QVERIFY(!reader->seekTime(0));
            return;
        }
        QVERIFY(reader->getStartTimestamp(first) && reader->getEndTimestamp(last));
        // Whatever the time order of the words, windows stay inside the sensor and inside the window.
        uint64_t seen = 0;
        std::mt19937 random(1);
        for (int i = 0; i < 50; ++i) {
            const uint64_t start = first + random() % (last - first + 1);
            const uint64_t duration = random() % 100'000;
            auto window = reader->getEventsByTime(start, duration);
            QVERIFY(window);
            for (const Event2D& e : *window) {
                QVERIFY(e.x < 640 && e.y < 480);
                QVERIFY(e.timestamp >= start && e.timestamp < start + duration);
            }
            seen += window->size();
        }
        const QString cut = QDir(folder.path()).filePath("damaged-cut.raw");
        QVERIFY(reader->exportEventData(first, last, cut.toStdString(), ExistingFile::Replace));
        auto cutReader = DvsFileReader::createFileReader(cut.toStdString());
        QVERIFY(cutReader && cutReader->loadFile());
        DvsFileInfo cutInfo;
        QVERIFY(cutReader->getFileInfo(cutInfo));
        QVERIFY(cutInfo.eventCount <= info.eventCount);
        if (events >= 0)
            QCOMPARE(cutInfo.eventCount, info.eventCount);
        QVERIFY(seen > 0 || events < 0);
    }
};

QTEST_APPLESS_MAIN(TestEventDecoders)
#include "tst_eventdecoders.moc"
