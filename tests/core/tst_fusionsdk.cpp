// The fusion camera's SDK side: pairing frames with event batches, the calibration file and the
// mapping of APS frames onto the DVS grid.
#include "sdk/Calibrator.h"
#include "sdk/DvsApsFusionProccessor.h"
#include "sdk/Utils/Json/JsonUtils.h"

#include <SorvaneBase/Logger.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

using namespace sorvane;

namespace {

// Runs a script through a processor and returns the pairs as "frame time:event times" joined by
// spaces. Script words: eN an event at time N, F@N a frame stamped N, S@N a sync signal at N,
// s@N a polarity-0 signal at N, C clear.
QString runPairing(const QString& script, DvsApsFusionProccessor& processor)
{
    QStringList pairs;
    processor.addFusionDataCallback([&pairs](ApsFrame& frame, Event2D* begin, Event2D* end) {
        QStringList times;
        for (Event2D* e = begin; e != end; ++e)
            times << QString::number(e->timestamp);
        pairs << QString("%1:%2").arg(frame.getTimestamp()).arg(times.join(','));
    });
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        const uint64_t time = word.mid(word.indexOf('@') + 1).toULongLong();
        if (word.startsWith('e')) {
            const Event2D event(1, 2, 1, word.mid(1).toULongLong());
            processor.addDvsData(&event, &event + 1);
        } else if (word.startsWith("F@")) {
            processor.addApsData(ApsFrame(4, 2, 0, time));
        } else if (word.startsWith("S@") || word.startsWith("s@")) {
            processor.addSyncSignal(EventTriggerIn(0, word.startsWith('S') ? 1 : 0, time));
        } else if (word == "C") {
            processor.clear();
        }
    }
    return pairs.join(' ');
}

// Every APS pixel gets a colour no other pixel has, and none is black.
ApsFrame codedApsFrame(int width, int height)
{
    ApsFrame frame(width, height, 7, 1234);
    for (int v = 0; v < height; ++v)
        for (int u = 0; u < width; ++u) {
            uint8_t* p = frame.data() + (size_t(v) * width + u) * 3;
            p[0] = uint8_t(1 + u % 250);
            p[1] = uint8_t(1 + v % 250);
            p[2] = uint8_t(1 + u / 250 + 16 * (v / 250));
        }
    return frame;
}

// The APS position a mapped pixel came from, or (-1, -1) for a black pixel.
QPoint sourceOf(const ApsFrame& mapped, int x, int y)
{
    const uint8_t* p = mapped.data() + (size_t(y) * mapped.getWidth() + x) * 3;
    if (p[0] == 0 && p[1] == 0 && p[2] == 0)
        return {-1, -1};
    const int high = p[2] - 1;
    return {(high % 16) * 250 + p[0] - 1, (high / 16) * 250 + p[1] - 1};
}

const char* const validCalibration = R"({
  "0": {"camera_serial": "TD1", "frame_size": {"cols": 1280, "rows": 720},
        "camera_matrix": {"rows": 3, "cols": 3, "type": 6, "data": [1, 0, 0, 0, 1, 0, 0, 0, 1]},
        "dist_coeffs": {"rows": 1, "cols": 5, "type": 6, "data": [0, 0, 0, 0, 0]},
        "affine_matrix": {"1": {"rows": 2, "cols": 3, "type": 6, "data": [1.5, 0, 10, 0, 1.5, 20]}},
        "rotation": [1, 2, 3], "translation": [0.5]},
  "1": {"frame_size": {"cols": 1920, "rows": 1080},
        "affine_matrix": {"0": {"rows": 2, "cols": 3, "type": 6, "data": [0.5, 0, -5, 0, 0.5, -10]}}}
})";

QString withReplaced(const QString& from, const QString& to)
{
    QString text = validCalibration;
    Q_ASSERT(text.contains(from));
    return text.replace(from, to);
}

} // namespace

class TestFusionSdk : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        logged.clear();
        Logger::Instance().setSink([this](int level, const char*, int, const std::string& message) {
            if (level == Logger::Error)
                logged += QString::fromStdString(message);
        });
    }
    void cleanup() { Logger::Instance().setSink({}); }

    // Frames every 100 us, each stamped with the sync edge that opens its batch; the next edge
    // closes it.
    void pairsByTime_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("pairs");
        QTest::addColumn<uint64_t>("droppedBatches");
        QTest::addColumn<uint64_t>("droppedFrames");
        const auto row = [](const char* name, const QString& script, const char* pairs, uint64_t batches = 0,
                            uint64_t frames = 0) { QTest::newRow(name) << script << pairs << batches << frames; };
        row("in step", "F@0 e10 S@100 F@100 e150 S@200 F@200 e250 S@300 F@300 e350 S@400",
            "0:10 100:150 200:250 300:350");
        row("a polarity-0 signal changes nothing", "F@0 e10 s@50 e20 S@100 F@100 e150 S@200", "0:10,20 100:150");
        // The edge closing frame 200 is lost: that frame goes, the next one gets its own events.
        row("a lost sync", "F@0 e10 S@100 F@100 e150 S@200 F@200 e250 F@300 e350 S@400 F@400 e450 S@500",
            "0:10 100:150 300:350 400:450", 0, 1);
        row("a lost frame", "F@0 e10 S@100 F@100 e150 S@200 e250 S@300 F@300 e350 S@400 F@400 e450 S@500",
            "0:10 100:150 300:350 400:450", 1, 0);
        row("a duplicated sync", "F@0 e10 S@100 S@100 F@100 e150 S@200 F@200 e250 S@300", "0:10 100:150 200:250");
        row("frames after their signals", "e10 S@100 e150 S@200 e250 S@300 F@0 F@100 F@200", "0:10 100:150 200:250");
        row("frames before their signals", "F@0 F@100 F@200 e10 S@100 e150 S@200 e250 S@300", "0:10 100:150 200:250");
        row("two frames swapped", "e10 S@100 e150 S@200 F@100 F@0 e250 S@300 F@200", "100:150 0:10 200:250");
        row("clear between a frame and its signal", "F@0 e10 C e120 S@200 F@200 e250 S@300", "200:250");
        // The first batch has no opening edge: it holds the period before its closing edge.
        row("events long before the first signal", "e700 e950 F@900 e980 S@1000 F@1000 e1050 S@1100",
            "900:950,980 1000:1050");
        // The first frame after the pause shows its own period, not the events of the pause.
        row("the signals pause, events go on",
            "F@0 e10 S@100 F@100 e150 S@200 e300 e500 e700 S@800 F@700 e850 S@900 F@800 e950 S@1000",
            "0:10 100:150 700:700 800:850");

        // Twenty periods with one stream stalled: the queue keeps the newest eight, and those
        // left behind by the first match after the stall go too.
        QString syncs;
        QString frames;
        for (int i = 0; i < 20; ++i) {
            syncs += QString(" e%1 S@%2").arg(i * 100 + 10).arg((i + 1) * 100);
            frames += QString(" F@%1").arg(i * 100);
        }
        row("frames stop, signals go on", syncs + " F@1900", "1900:1910", 18, 0);
        row("signals stop, frames go on", frames + " e1850 S@1900 e1950 S@2000", "1800:1850 1900:1950", 0, 18);
    }
    void pairsByTime()
    {
        QFETCH(QString, script);
        QFETCH(QString, pairs);
        QFETCH(uint64_t, droppedBatches);
        QFETCH(uint64_t, droppedFrames);
        DvsApsFusionProccessor processor;
        QCOMPARE(runPairing(script, processor), pairs);
        QCOMPARE(processor.droppedBatches(), droppedBatches);
        QCOMPARE(processor.droppedFrames(), droppedFrames);
        QCOMPARE(logged.isEmpty(), droppedBatches + droppedFrames == 0);
    }

    void pairsAreFormedWithoutCallback()
    {
        DvsApsFusionProccessor processor;
        for (uint64_t i = 0; i < 50; ++i) {
            processor.addApsData(ApsFrame(4, 2, 0, i * 100));
            processor.addSyncSignal(EventTriggerIn(0, 1, (i + 1) * 100));
        }
        // Nothing queued: the next frame pairs with the batch completed after it.
        QCOMPARE(runPairing("F@5000 e5010 S@5100", processor), QString("5000:5010"));
        QCOMPARE(processor.droppedBatches() + processor.droppedFrames(), uint64_t(0));
    }

    // Frames on one thread, events and sync signals on another, as a camera delivers them: every
    // frame gets the events of its own period.
    void pairsAcrossCameraThreads()
    {
        constexpr int frames = 300;
        constexpr uint64_t period = 1000;
        DvsApsFusionProccessor processor;
        std::atomic<int> framesSent{0};
        std::atomic<int> signalsSent{0};
        int paired = 0;
        int mismatched = 0;
        processor.addFusionDataCallback([&](ApsFrame& frame, Event2D* begin, Event2D* end) {
            const auto k = int(frame.getHeader());
            const uint64_t t = uint64_t(k) * period + 1;
            if (end - begin != k % 7 || std::any_of(begin, end, [t](const Event2D& e) { return e.timestamp != t; }))
                ++mismatched;
            ++paired;
        });
        std::thread frameThread([&] {
            for (int k = 0; k < frames; ++k) {
                // Neither stream runs ahead of the other by the whole queue.
                while (signalsSent.load() < k - 4)
                    std::this_thread::yield();
                processor.addApsData(ApsFrame(8, 4, uint64_t(k), uint64_t(k) * period));
                framesSent.store(k + 1);
            }
        });
        std::thread eventThread([&] {
            for (int k = 0; k < frames; ++k) {
                while (framesSent.load() < k - 4)
                    std::this_thread::yield();
                const std::vector<Event2D> batch(size_t(k % 7), Event2D(1, 1, 1, uint64_t(k) * period + 1));
                processor.addDvsData(batch.data(), batch.data() + batch.size());
                processor.addSyncSignal(EventTriggerIn(0, 1, uint64_t(k + 1) * period));
                signalsSent.store(k + 1);
            }
        });
        frameThread.join();
        eventThread.join();
        QCOMPARE(paired, frames);
        QCOMPARE(mismatched, 0);
        QCOMPARE(processor.droppedBatches() + processor.droppedFrames(), uint64_t(0));
    }

    // Events without sync signals fill the open batch only up to a pooled vector's room; the
    // oldest make way and are counted, the newest are kept in order.
    void openBatchIsBounded()
    {
        constexpr uint64_t fed = 4'000'000;
        DvsApsFusionProccessor processor;
        std::vector<Event2D> delivery(100'000);
        for (uint64_t t = 0; t < fed;) {
            for (Event2D& e : delivery)
                e = Event2D(1, 1, 1, t++);
            processor.addDvsData(delivery.data(), delivery.data() + delivery.size());
        }
        uint64_t kept = 0;
        uint64_t first = 0;
        uint64_t last = 0;
        processor.addFusionDataCallback([&](ApsFrame&, Event2D* begin, Event2D* end) {
            kept = uint64_t(end - begin);
            first = begin->timestamp;
            last = (end - 1)->timestamp;
        });
        processor.addApsData(ApsFrame(4, 2, 0, 0));
        processor.addSyncSignal(EventTriggerIn(0, 1, fed));
        processor.addSyncSignal(EventTriggerIn(0, 1, 2 * fed));
        QVERIFY(kept > 0);
        QVERIFY(kept <= uint64_t(DvsApsFusionProccessor::batchCapacity));
        QCOMPARE(kept + processor.droppedEvents(), fed);
        QCOMPARE(last, fed - 1);
        QCOMPARE(first, fed - kept);
        QVERIFY(!logged.isEmpty());
    }

    void parseCalibration_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("message");
        QTest::newRow("valid") << QString(validCalibration) << true << "";
        QTest::newRow("no camera 0") << withReplaced("\"0\": {", "\"2\": {") << false
                                     << "Error: No camera with ID '0' found in calibration data.\n";
        QTest::newRow("frame_size without rows")
            << withReplaced(R"("cols": 1280, "rows": 720)", R"("cols": 1280)") << false
            << "Error: Invalid 'frame_size' in JSON.\n";
        QTest::newRow("no camera_matrix") << withReplaced("\"camera_matrix\"", "\"matrix\"") << false
                                          << "Error: Missing 'camera_matrix'.\n";
        QTest::newRow("no dist_coeffs") << withReplaced("\"dist_coeffs\"", "\"coeffs\"") << false
                                        << "Error: Missing 'dist_coeffs'.\n";
        QTest::newRow("no APS frame_size") << withReplaced(R"("1": {"frame_size")", R"("1": {"size")") << false
                                           << "Error: Missing 'frame_size' field.\n";
        QTest::newRow("malformed") << withReplaced("\"rotation\": [1, 2, 3],", "\"rotation\": [1, 2, 3") << false
                                   << "";
        QTest::newRow("comments are not JSON") << QString("// calibration\n") + validCalibration << false << "";
        QTest::newRow("serial is a number") << withReplaced("\"TD1\"", "17") << false << "";
        QTest::newRow("size is text") << withReplaced("\"cols\": 1920", "\"cols\": \"1920\"") << false << "";
        QTest::newRow("size too large for any integer") << withReplaced("\"cols\": 1920", "\"cols\": 1e300") << false
                                                        << "";
        QTest::newRow("matrix data is text") << withReplaced("[1.5, 0, 10", "[\"1.5\", 0, 10") << false << "";
        QTest::newRow("matrix is a number") << withReplaced(R"("camera_matrix": {"rows": 3, "cols": 3, "type": 6, "data": [1, 0, 0, 0, 1, 0, 0, 0, 1]})",
                                                            R"("camera_matrix": 3)")
                                            << false << "";
        QTest::newRow("root is an array") << QString("[1, 2]") << false
                                          << "Error: No camera with ID '0' found in calibration data.\n";
        QTest::newRow("empty") << QString() << false << "";
    }
    void parseCalibration()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, message);
        CalibratorParameters parameters;
        QCOMPARE(sorvane::parseCalibration(text.toStdString(), parameters), ok);
        if (!message.isEmpty())
            QCOMPARE(logged, message);
        if (!ok)
            QVERIFY(!logged.isEmpty());
    }

    void calibrationValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("apsWidth");
        QTest::addColumn<int>("rotationSize");
        QTest::addColumn<double>("apsToDvsScale");
        QTest::newRow("as written") << QString(validCalibration) << 1920 << 3 << 0.5;
        QTest::newRow("a fraction is cut off") << withReplaced("\"cols\": 1920", "\"cols\": 1280.9") << 1280 << 3 << 0.5;
        QTest::newRow("low 16 bits") << withReplaced("\"cols\": 1920", "\"cols\": 65537") << 1 << 3 << 0.5;
        QTest::newRow("rotation not an array") << withReplaced("[1, 2, 3]", "4") << 1920 << 0 << 0.5;
        QTest::newRow("camera 1 overrides camera 0")
            << withReplaced(R"("affine_matrix": {"1")", R"("affine_matrix": {"0": {"data": [9, 0, 0, 0, 9, 0]}, "1")")
            << 1920 << 3 << 0.5;
        QTest::newRow("camera 0 alone")
            << withReplaced(R"("affine_matrix": {"0": {"rows": 2, "cols": 3, "type": 6, "data": [0.5, 0, -5, 0, 0.5, -10]}})",
                            R"("affine_matrix": null)")
            << 1920 << 3 << 0.0;
    }
    void calibrationValues()
    {
        QFETCH(QString, text);
        QFETCH(int, apsWidth);
        QFETCH(int, rotationSize);
        QFETCH(double, apsToDvsScale);
        QTemporaryDir dir;
        const std::string path = (dir.path() + "/rec.json").toStdString();
        std::ofstream(path) << text.toStdString();
        CalibratorParameters parameters;
        QVERIFY(readCalibrationFile(path, parameters));
        QCOMPARE(parameters.cameraSerial, std::string("TD1"));
        QCOMPARE(int(parameters.dvsWidth), 1280);
        QCOMPARE(int(parameters.dvsHeight), 720);
        QCOMPARE(int(parameters.apsWidth), apsWidth);
        QCOMPARE(int(parameters.apsHeight), 1080);
        QCOMPARE(int(parameters.rotation.size()), rotationSize);
        QCOMPARE(parameters.cameraMatrix.data.size(), size_t(9));
        QCOMPARE(parameters.affineMatrices["1"].data.at(0), 1.5);
        const auto& apsToDvs = parameters.affineMatrices["0"].data;
        QCOMPARE(apsToDvs.empty() ? 0.0 : apsToDvs.at(0), apsToDvsScale);
    }

    void unreadableFileFails_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing" << "Error: open %1 failed.";
        QTest::newRow("folder") << "folder" << "Error: read %1 failed.";
        // Opening one for reading would wait for a writer forever.
        QTest::newRow("FIFO") << "fifo" << "Error: read %1 failed.";
    }
    void unreadableFileFails()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("rec.json");
        if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir("rec.json"));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        CalibratorParameters parameters;
        QVERIFY(!readCalibrationFile(path.toStdString(), parameters));
        QVERIFY2(logged.startsWith(message.arg(path)), qPrintable(logged));
    }

    void defaultMappingAtTheEdges_data()
    {
        QTest::addColumn<QPoint>("dvs");
        QTest::addColumn<QPoint>("aps");
        QTest::newRow("corner lands outside") << QPoint(0, 0) << QPoint(-1, -1);
        QTest::newRow("centre to centre") << QPoint(640, 360) << QPoint(1920, 1080);
        QTest::newRow("small negatives truncate to 0") << QPoint(67, 38) << QPoint(0, 0);
        QTest::newRow("one row above stays outside") << QPoint(67, 37) << QPoint(-1, -1);
        QTest::newRow("far corner") << QPoint(1279, 719) << QPoint(-1, -1);
    }
    void defaultMappingAtTheEdges()
    {
        QFETCH(QPoint, dvs);
        QFETCH(QPoint, aps);
        static ApsFrame source = codedApsFrame(3840, 2160);
        Calibrator calibrator;
        const ApsFrame mapped = calibrator.mapApsToDvs(source);
        QCOMPARE(mapped.getWidth(), 1280);
        QCOMPARE(mapped.getHeight(), 720);
        QCOMPARE(mapped.getTimestamp(), uint64_t(1234));
        QCOMPARE(mapped.getHeader(), uint64_t(7));
        QCOMPARE(sourceOf(mapped, dvs.x(), dvs.y()), aps);
    }

    // Every pixel against the formula itself, for the fast axis-aligned path and the general one.
    void mappingMatchesTheFormula_data()
    {
        QTest::addColumn<QList<double>>("matrix");
        QTest::addColumn<QSize>("apsSize");
        QTest::addColumn<QSize>("frameSize");
        QTest::newRow("default") << QList<double>{3.351724137931035, 0, -225.10344827586232, 0, 3.351724137931035, -126.62068965517255}
                                 << QSize(3840, 2160) << QSize(3840, 2160);
        QTest::newRow("tandem") << QList<double>{1.4, 0, 64, 0, 1.4, 36} << QSize(1920, 1080) << QSize(1920, 1080);
        QTest::newRow("rotated") << QList<double>{1.2, 0.3, -50, -0.25, 1.1, 120} << QSize(1920, 1080)
                                 << QSize(1920, 1080);
        QTest::newRow("frame smaller than calibrated") << QList<double>{1.4, 0, 64, 0, 1.4, 36} << QSize(1920, 1080)
                                                       << QSize(700, 300);
        QTest::newRow("rotated, frame smaller") << QList<double>{1.2, 0.3, -50, -0.25, 1.1, 120} << QSize(1920, 1080)
                                                << QSize(640, 480);
    }
    void mappingMatchesTheFormula()
    {
        QFETCH(QList<double>, matrix);
        QFETCH(QSize, apsSize);
        QFETCH(QSize, frameSize);
        CalibratorParameters parameters;
        parameters.dvsWidth = 1280;
        parameters.dvsHeight = 720;
        parameters.apsWidth = uint16_t(apsSize.width());
        parameters.apsHeight = uint16_t(apsSize.height());
        parameters.affineMatrices["1"].data.assign(matrix.begin(), matrix.end());
        Calibrator calibrator;
        calibrator.loadCalibrationParam(parameters);
        ApsFrame source = codedApsFrame(frameSize.width(), frameSize.height());
        const ApsFrame mapped = calibrator.mapApsToDvs(source);
        const int width = std::min(apsSize.width(), frameSize.width());
        const int height = std::min(apsSize.height(), frameSize.height());
        const double* m = matrix.constData();
        int inside = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const int u = int(std::trunc((m[1] * y + m[0] * x) + m[2]));
                const int v = int(std::trunc((m[4] * y + m[3] * x) + m[5]));
                const bool in = u >= 0 && u < width && v >= 0 && v < height;
                inside += in;
                if (sourceOf(mapped, x, y) != (in ? QPoint(u, v) : QPoint(-1, -1)))
                    QFAIL(qPrintable(QString("pixel %1, %2").arg(x).arg(y)));
            }
        QVERIFY(inside > 0);
    }

    void recordWithoutAffineKeepsTheMapping()
    {
        Calibrator calibrator;
        CalibratorParameters tandem;
        tandem.dvsWidth = 1280;
        tandem.dvsHeight = 720;
        tandem.apsWidth = 1920;
        tandem.apsHeight = 1080;
        tandem.affineMatrices["1"].data = {1.4, 0, 64, 0, 1.4, 36};
        calibrator.loadCalibrationParam(tandem);
        CalibratorParameters failedRead;
        failedRead.affineMatrices["1"].data = {1.0, 2.0}; // fewer than six
        QVERIFY(calibrator.loadCalibrationParam(failedRead));
        QVERIFY(failedRead.affineMatrices.count("0")); // the missing key is inserted
        QCOMPARE(calibrator.dvsToAps(), std::vector<double>({1.4, 0, 64, 0, 1.4, 36}));
    }

    void eventsMapOntoTheApsGrid_data()
    {
        QTest::addColumn<QList<double>>("matrix"); // empty: the default mapping
        QTest::addColumn<QPoint>("dvs");
        QTest::addColumn<QPoint>("aps"); // kept to 16 bits
        QTest::newRow("centre") << QList<double>() << QPoint(640, 360) << QPoint(1920, 1080);
        // -225.1 truncates to -225.
        QTest::newRow("corner") << QList<double>() << QPoint(0, 0) << QPoint(-225, -126);
        // Beyond any integer: the outside mark, never a wrapped place on the grid.
        QTest::newRow("far beyond the grid") << QList<double>{1, 0, 3e9, 0, 1, -3e9} << QPoint(5, 5) << QPoint(-1, -1);
    }
    void eventsMapOntoTheApsGrid()
    {
        QFETCH(QList<double>, matrix);
        QFETCH(QPoint, dvs);
        QFETCH(QPoint, aps);
        Calibrator calibrator;
        if (!matrix.isEmpty()) {
            CalibratorParameters parameters;
            parameters.affineMatrices["1"].data.assign(matrix.begin(), matrix.end());
            calibrator.loadCalibrationParam(parameters);
        }
        Event2D event(uint16_t(dvs.x()), uint16_t(dvs.y()), 1, 5);
        calibrator.mapDvsToAps(&event, &event + 1);
        QCOMPARE(event.x, uint16_t(aps.x()));
        QCOMPARE(event.y, uint16_t(aps.y()));
    }

private:
    QString logged;
};

QTEST_APPLESS_MAIN(TestFusionSdk)
#include "tst_fusionsdk.moc"
