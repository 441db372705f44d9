#include "TestHome.h"
#include "ProcessorRelay.h"

#include "app/ConfigStore.h"
#include "processing/SvEventProcessor.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using sorvane::Event2D;

Q_DECLARE_METATYPE(std::vector<Event2D>)

namespace {

enum class Paint { Background, Positive, Negative };

struct Pixel {
    int x;
    int y;
};

QColor colourOf(Paint paint)
{
    const ConfigStore* config = ConfigStore::instance();
    switch (paint) {
    case Paint::Positive: return config->positiveColor;
    case Paint::Negative: return config->negativeColor;
    case Paint::Background: break;
    }
    return config->backgroundColor;
}

// Positions of every pixel that differs from background.
QList<QPoint> paintedPixels(const QImage& image, const QColor& background)
{
    QList<QPoint> painted;
    const QRgb bg = background.rgb();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != bg)
                painted.append(QPoint(x, y));
    return painted;
}

} // namespace

class TestFrameBuilder : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    // Counts events into a fresh frame of processor and returns the image painted from it.
    static QImage frameOf(SvEventProcessor& processor, const std::vector<Event2D>& events)
    {
        ProcessorRelay relay(processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        processor.accumulateEvents(events.data(), events.data() + events.size());
        processor.commitFrame();
        if (!images.wait(5000))
            return QImage();
        return images.takeLast().at(0).value<QImage>();
    }

    static void usePalette(const QString& name)
    {
        ConfigStore* config = ConfigStore::instance();
        config->colorType = name;
        config->save();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qRegisterMetaType<std::vector<Event2D>>();
    }
    void init() { usePalette("Gray"); }

    void paintingRule_data()
    {
        QTest::addColumn<int>("positives");
        QTest::addColumn<int>("negatives");
        QTest::addColumn<Paint>("expected");
        QTest::newRow("tie goes to polarity 1") << 3 << 3 << Paint::Positive;
        QTest::newRow("polarity 0 outnumbers") << 2 << 3 << Paint::Negative;
        QTest::newRow("no events") << 0 << 0 << Paint::Background;
        QTest::newRow("single positive") << 1 << 0 << Paint::Positive;
        QTest::newRow("single negative") << 0 << 1 << Paint::Negative;
        // The cap of 10 makes 10 against 15 a tie.
        QTest::newRow("capped negatives tie") << 10 << 15 << Paint::Positive;
        QTest::newRow("twelve positives capped, tie") << 12 << 10 << Paint::Positive;
        QTest::newRow("capped negatives still win") << 9 << 15 << Paint::Negative;
    }
    void paintingRule()
    {
        QFETCH(int, positives);
        QFETCH(int, negatives);
        QFETCH(Paint, expected);
        // Interleaved, as a flickering pixel reports them.
        std::vector<Event2D> events;
        for (int i = 0; i < std::max(positives, negatives); ++i) {
            if (i < negatives)
                events.emplace_back(640, 360, 0, 1000 + i);
            if (i < positives)
                events.emplace_back(640, 360, 1, 1000 + i);
        }
        SvEventProcessor processor;
        const QImage image = frameOf(processor, events);
        QCOMPARE(image.size(), QSize(1280, 720));
        QCOMPARE(image.format(), QImage::Format_RGB888);
        QCOMPARE(image.pixelColor(640, 360), colourOf(expected));
        QCOMPARE(image.pixelColor(641, 360), colourOf(Paint::Background));
        QCOMPARE(image.pixelColor(639, 360), colourOf(Paint::Background));
    }

    void bounds_data()
    {
        QTest::addColumn<std::vector<Event2D>>("events");
        QTest::addColumn<QList<QPoint>>("painted");
        QTest::newRow("x = 1280 is dropped, not wrapped into the next row")
            << std::vector<Event2D>{{1280, 0, 1, 1}} << QList<QPoint>{};
        QTest::newRow("y = 720 is dropped") << std::vector<Event2D>{{5, 720, 1, 1}} << QList<QPoint>{};
        QTest::newRow("far outside is dropped")
            << std::vector<Event2D>{{65535, 65535, 0, 1}, {2000, 3, 1, 2}} << QList<QPoint>{};
        QTest::newRow("polarity other than 0 and 1 is dropped")
            << std::vector<Event2D>{{10, 10, 2, 1}, {1279, 719, 255, 2}} << QList<QPoint>{};
        QTest::newRow("corners are kept")
            << std::vector<Event2D>{{0, 0, 1, 1}, {1279, 0, 0, 2}, {0, 719, 1, 3}, {1279, 719, 0, 4}}
            << QList<QPoint>{{0, 0}, {1279, 0}, {0, 719}, {1279, 719}};
        QTest::newRow("valid next to invalid")
            << std::vector<Event2D>{{1280, 5, 1, 1}, {3, 5, 1, 2}, {3, 720, 1, 3}}
            << QList<QPoint>{{3, 5}};
    }
    void bounds()
    {
        QFETCH(std::vector<Event2D>, events);
        QFETCH(QList<QPoint>, painted);
        SvEventProcessor processor;
        const QImage image = frameOf(processor, events);
        QVERIFY(!image.isNull());
        QCOMPARE(paintedPixels(image, colourOf(Paint::Background)), painted);
    }

    void emptyRangeCountsNothing()
    {
        SvEventProcessor processor;
        ProcessorRelay relay(processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        QSignalSpy times(&processor, &SvEventProcessor::signalRealTimeTimeStamp);
        const Event2D first[] = {{7, 8, 1, 4'000'000'000ull}, {9, 8, 1, 4'000'000'100ull}};
        processor.accumulateEvents(std::begin(first), std::end(first));
        processor.showEvents();
        QVERIFY(images.wait(5000));
        processor.accumulateEvents(std::end(first), std::end(first));
        processor.accumulateEvents(nullptr, nullptr);
        processor.showEvents();
        QVERIFY(images.wait(5000));
        QCOMPARE(times.count(), 2);
        QCOMPARE(times.at(0).at(0).value<uint64_t>(), uint64_t(4'000'000'000ull));
        QCOMPARE(times.at(1).at(0).value<uint64_t>(), uint64_t(4'000'000'000ull));
        const QColor background = colourOf(Paint::Background);
        QCOMPARE(paintedPixels(images.at(0).at(0).value<QImage>(), background).size(), 2);
        QVERIFY(paintedPixels(images.at(1).at(0).value<QImage>(), background).isEmpty());
    }

    // The GUI thread may handle two show requests in a row when it was busy; the second, with no
    // batch behind it, must not put an empty frame on screen.
    void aRequestWithoutABatchShowsNothing()
    {
        SvEventProcessor processor;
        ProcessorRelay relay(processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        const Event2D first[] = {{7, 8, 1, 1000}};
        const Event2D second[] = {{9, 8, 1, 2000}, {10, 8, 1, 2001}};
        processor.accumulateEvents(std::begin(first), std::end(first));
        processor.showEvents();
        QTRY_COMPARE(images.count(), 1);
        processor.showEvents();
        processor.accumulateEvents(std::begin(second), std::end(second));
        processor.showEvents();
        QTRY_VERIFY(images.count() >= 2);
        QCOMPARE(paintedPixels(images.at(1).at(0).value<QImage>(), colourOf(Paint::Background)).size(), 2);
    }

    void nothingCarriesOverBetweenFrames()
    {
        SvEventProcessor processor;
        const QColor background = colourOf(Paint::Background);
        QImage image = frameOf(processor, {{1, 1, 1, 1}, {2, 2, 0, 2}});
        QCOMPARE(paintedPixels(image, background).size(), 2);
        // Two commits without events in between: both plain.
        image = frameOf(processor, {});
        QVERIFY(paintedPixels(image, background).isEmpty());
        image = frameOf(processor, {});
        QVERIFY(paintedPixels(image, background).isEmpty());
        image = frameOf(processor, {{3, 3, 1, 3}});
        QCOMPARE(paintedPixels(image, background), QList<QPoint>{QPoint(3, 3)});
    }

    // A capture thread counts while this thread commits: every event must appear in exactly
    // one frame, never lost to a clear nor written into a plane being painted.
    void countingConcurrentWithCommits()
    {
        constexpr int pixelLimit = 1280 * 720;
        constexpr int batchSize = 16;
        constexpr int commitsWanted = 100;
        SvEventProcessor processor;
        std::vector<uint8_t> hits(pixelLimit, 0);
        std::mutex hitsMutex; // guards hits, written on the render thread
        QSemaphore rendered;
        const QColor background = colourOf(Paint::Background);
        connect(&processor, &SvEventProcessor::signalEventImage, &processor, [&](const QImage& image) {
            std::lock_guard lock(hitsMutex);
            for (int y = 0; y < image.height(); ++y) {
                const uchar* line = image.constScanLine(y);
                for (int x = 0; x < image.width(); ++x) {
                    const uchar* p = line + 3 * x;
                    if (p[0] != background.red() || p[1] != background.green() || p[2] != background.blue())
                        ++hits[size_t(y) * 1280 + x];
                }
            }
            rendered.release();
        }, Qt::DirectConnection);

        std::atomic<int> commits{0};
        std::atomic<int> pixelsSent{0};
        std::atomic<bool> captureDone{false};
        std::thread capture([&] {
            std::vector<Event2D> batch(batchSize);
            int first = 0;
            for (; commits < commitsWanted && first + batchSize <= pixelLimit; first += batchSize) {
                for (int i = 0; i < batchSize; ++i) {
                    const int pixel = first + i;
                    batch[i] = Event2D(uint16_t(pixel % 1280), uint16_t(pixel / 1280), 1, uint64_t(pixel));
                }
                processor.accumulateEvents(batch.data(), batch.data() + batch.size());
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
            pixelsSent = first;
            captureDone = true;
        });
        bool allRendered = true;
        while (!captureDone && allRendered) {
            processor.commitFrame();
            ++commits;
            allRendered = rendered.tryAcquire(1, 5000);
        }
        capture.join();
        QVERIFY(allRendered);
        processor.commitFrame();
        QVERIFY(rendered.tryAcquire(1, 5000));
        QVERIFY2(commits > 10, "the capture ended before commits overlapped it");

        const int sent = pixelsSent;
        QVERIFY(sent > 0);
        std::lock_guard lock(hitsMutex);
        const auto shownOnce = std::count(hits.begin(), hits.begin() + sent, uint8_t(1));
        QCOMPARE(shownOnce, std::ptrdiff_t(sent));
        QCOMPARE(std::count(hits.begin() + sent, hits.end(), uint8_t(0)), std::ptrdiff_t(pixelLimit - sent));
    }

    // The render thread must end even when destruction follows a commit at once (a lost
    // wake-up would hang the join).
    void destructionRightAfterCommit()
    {
        auto done = std::async(std::launch::async, [] {
            for (int i = 0; i < 50; ++i) {
                SvEventProcessor processor;
                const Event2D event(1, 1, 1, 1);
                processor.accumulateEvents(&event, &event + 1);
                processor.commitFrame();
            }
        });
        QVERIFY2(done.wait_for(std::chrono::seconds(30)) == std::future_status::ready,
                 "destroying a processor hung");
    }
};

QTEST_GUILESS_MAIN(TestFrameBuilder)
#include "tst_framebuilder.moc"
