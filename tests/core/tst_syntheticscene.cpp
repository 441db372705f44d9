// The synthetic scene and the sensor pipeline, driven without threads: determinism, readout
// order, rates, and the measured effect of every event-sensor tool on the stream.
#include "SorvaneDriver/Simulated/SimulatedSensor.h"
#include "SorvaneDriver/Simulated/SyntheticScene.h"

#include <QTest>

#include <algorithm>
#include <map>
#include <set>

using namespace sorvane;

Q_DECLARE_METATYPE(sorvane::SceneKind)

namespace {

std::vector<Event2D> generateAll(SceneKind kind, double rate, uint64_t seed, uint64_t until, uint64_t step)
{
    SyntheticScene scene(kind, rate, seed);
    std::vector<Event2D> out;
    for (uint64_t t = step; t < until + step; t += step)
        scene.generate(std::min(t, until), out);
    return out;
}

struct PipelineRun {
    SensorTools tools = SensorTools::create(1280, 720, false);
    std::unique_ptr<EventPipeline> pipeline;

    explicit PipelineRun(SceneKind kind, double rate = 2e6, uint64_t seed = 7)
        : pipeline(std::make_unique<EventPipeline>(kind, rate, seed, 1280, 720, tools))
    {
        pipeline->setTriggerSource(EventPipeline::externalInputs());
    }

    // Produces [position, position + duration) in 10 ms chunks.
    StreamChunk run(uint64_t duration)
    {
        StreamChunk all;
        all.begin = pipeline->position();
        const uint64_t end = all.begin + duration;
        while (pipeline->position() < end) {
            StreamChunk chunk;
            chunk.begin = pipeline->position();
            pipeline->produce(std::min(end, chunk.begin + 10000), chunk);
            all.events.insert(all.events.end(), chunk.events.begin(), chunk.events.end());
            all.triggers.insert(all.triggers.end(), chunk.triggers.begin(), chunk.triggers.end());
            all.end = chunk.end;
        }
        return all;
    }
};

uint64_t countInBox(const std::vector<Event2D>& events, int x0, int y0, int x1, int y1)
{
    return uint64_t(std::count_if(events.begin(), events.end(), [&](const Event2D& e) {
        return e.x >= x0 && e.x <= x1 && e.y >= y0 && e.y <= y1;
    }));
}

} // namespace

class TestSyntheticScene : public QObject {
    Q_OBJECT
private slots:
    void sameSeedSameEventsHoweverCut_data()
    {
        QTest::addColumn<SceneKind>("kind");
        QTest::addColumn<quint64>("step");
        for (SceneKind kind : {SceneKind::Edges, SceneKind::Bar, SceneKind::Flicker, SceneKind::Noise, SceneKind::Mixed})
            for (quint64 step : {1u, 333u, 33333u, 250000u})
                QTest::addRow("%s step %llu", sceneKindName(kind), static_cast<unsigned long long>(step)) << kind << step;
    }

    void sameSeedSameEventsHoweverCut()
    {
        QFETCH(SceneKind, kind);
        QFETCH(quint64, step);
        const uint64_t until = step == 1 ? 20000 : 300000;
        const auto reference = generateAll(kind, 1.5e6, 42, until, 1000);
        const auto cut = generateAll(kind, 1.5e6, 42, until, step);
        QVERIFY(!reference.empty());
        QCOMPARE(cut.size(), reference.size());
        QVERIFY(cut == reference);
    }

    // Within one readout slice, rows then columns ascend and the events of a row share its time;
    // timestamps never go back.
    void readoutOrder()
    {
        const auto events = generateAll(SceneKind::Mixed, 5e6, 3, 200000, 7000);
        QVERIFY(events.size() > 100000);
        for (size_t i = 1; i < events.size(); ++i) {
            const Event2D& a = events[i - 1];
            const Event2D& b = events[i];
            QVERIFY(b.timestamp >= a.timestamp);
            if (a.timestamp / SyntheticScene::SliceUs == b.timestamp / SyntheticScene::SliceUs) {
                QVERIFY2(a.y < b.y || (a.y == b.y && a.x <= b.x), qPrintable(QString("at %1").arg(i)));
                // A row is read at once.
                if (a.y == b.y)
                    QCOMPARE(a.timestamp, b.timestamp);
            }
        }
        for (const Event2D& e : events) {
            QVERIFY(e.x < 1280 && e.y < 720);
            QVERIFY(e.polarity <= 1);
        }
    }

    void rateHolds_data()
    {
        QTest::addColumn<SceneKind>("kind");
        QTest::addColumn<double>("rate");
        for (SceneKind kind : {SceneKind::Edges, SceneKind::Bar, SceneKind::Flicker, SceneKind::Noise, SceneKind::Mixed})
            for (double rate : {2e5, 2e6, 2e7})
                QTest::addRow("%s %.0f", sceneKindName(kind), rate) << kind << rate;
    }

    void rateHolds()
    {
        QFETCH(SceneKind, kind);
        QFETCH(double, rate);
        // One second: a whole number of band crossings, flicker periods and bar positions.
        const auto events = generateAll(kind, rate, 9, 1000000, 50000);
        const double measured = double(events.size());
        QVERIFY2(measured > rate * 0.85 && measured < rate * 1.15,
                 qPrintable(QString("%1 events for %2").arg(measured).arg(rate)));
    }

    void rateChangesFromTheNextMillisecond()
    {
        SyntheticScene scene(SceneKind::Noise, 1e6, 5);
        std::vector<Event2D> first;
        scene.generate(200000, first);
        scene.setEventRate(4e6);
        std::vector<Event2D> second;
        scene.generate(400000, second);
        QVERIFY(second.size() > first.size() * 3.5 && second.size() < first.size() * 4.5);
    }

    // Higher contrast thresholds need bigger brightness steps: fewer events of that polarity.
    void biasesMoveThresholdsAndNoise_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("value");
        QTest::addColumn<SceneKind>("kind");
        QTest::addColumn<int>("polarity"); // -1 both
        QTest::addColumn<bool>("more");
        QTest::newRow("diff on up") << "bias_diff_on" << 60 << SceneKind::Edges << 1 << false;
        QTest::newRow("diff on down") << "bias_diff_on" << -60 << SceneKind::Edges << 1 << true;
        QTest::newRow("diff off up") << "bias_diff_off" << 90 << SceneKind::Bar << 0 << false;
        QTest::newRow("fo up, more noise") << "bias_fo" << 40 << SceneKind::Noise << -1 << true;
        QTest::newRow("hpf up, less noise") << "bias_hpf" << 100 << SceneKind::Noise << -1 << false;
        QTest::newRow("refr up, shorter bursts") << "bias_refr" << 200 << SceneKind::Edges << -1 << false;
    }

    void biasesMoveThresholdsAndNoise()
    {
        QFETCH(QString, name);
        QFETCH(int, value);
        QFETCH(SceneKind, kind);
        QFETCH(int, polarity);
        QFETCH(bool, more);
        auto count = [&](const StreamChunk& chunk) {
            return uint64_t(std::count_if(chunk.events.begin(), chunk.events.end(), [&](const Event2D& e) {
                return polarity < 0 || e.polarity == polarity;
            }));
        };
        PipelineRun plain(kind);
        const uint64_t base = count(plain.run(500000));
        PipelineRun biased(kind);
        QVERIFY(biased.tools.biases->setIntParameter(name.toStdString(), value));
        const uint64_t changed = count(biased.run(500000));
        QVERIFY(base > 1000);
        if (more)
            QVERIFY2(changed > base * 1.3, qPrintable(QString("%1 -> %2").arg(base).arg(changed)));
        else
            QVERIFY2(changed < base * 0.7, qPrintable(QString("%1 -> %2").arg(base).arg(changed)));
    }

    void roiBoundsEveryEvent_data()
    {
        QTest::addColumn<int>("x0");
        QTest::addColumn<int>("y0");
        QTest::addColumn<int>("x1");
        QTest::addColumn<int>("y1");
        QTest::newRow("centre") << 400 << 200 << 800 << 500;
        QTest::newRow("one pixel") << 640 << 360 << 640 << 360;
        QTest::newRow("corner") << 0 << 0 << 99 << 49;
        QTest::newRow("last column") << 1279 << 0 << 1279 << 719;
    }

    void roiBoundsEveryEvent()
    {
        QFETCH(int, x0);
        QFETCH(int, y0);
        QFETCH(int, x1);
        QFETCH(int, y1);
        PipelineRun run(SceneKind::Mixed, 5e6);
        const auto all = run.run(200000);
        const uint64_t expected = countInBox(all.events, x0, y0, x1, y1);
        auto& roi = *run.tools.roi;
        QVERIFY(roi.setIntParameter("roi_x0", x0) && roi.setIntParameter("roi_y0", y0));
        QVERIFY(roi.setIntParameter("roi_x1", x1) && roi.setIntParameter("roi_y1", y1));
        QVERIFY(roi.setBoolParameter("enable", true));
        const auto kept = run.run(200000);
        for (const Event2D& e : kept.events)
            QVERIFY(e.x >= x0 && e.x <= x1 && e.y >= y0 && e.y <= y1);
        if (expected > 200)
            QVERIFY(kept.events.size() > expected / 3);
        QVERIFY(kept.events.size() < all.events.size());
    }

    void rateControlCapsTheRate_data()
    {
        QTest::addColumn<int>("maxKevPerSecond");
        QTest::newRow("100 kEv/s") << 100;
        QTest::newRow("1000 kEv/s") << 1000;
        QTest::newRow("3000 kEv/s") << 3000;
    }

    void rateControlCapsTheRate()
    {
        QFETCH(int, maxKevPerSecond);
        PipelineRun run(SceneKind::Mixed, 8e6);
        QVERIFY(run.tools.rateControl->setIntParameter("max_event_rate", maxKevPerSecond));
        QVERIFY(run.tools.rateControl->setBoolParameter("enable", true));
        const auto kept = run.run(500000);
        // Every millisecond, and so every second, stays under the cap.
        std::map<uint64_t, uint64_t> perMillisecond;
        for (const Event2D& e : kept.events)
            ++perMillisecond[e.timestamp / 1000];
        for (const auto& [ms, n] : perMillisecond)
            QVERIFY2(n <= uint64_t(maxKevPerSecond), qPrintable(QString("%1 events in ms %2").arg(n).arg(ms)));
        const double rate = double(kept.events.size()) / 0.5;
        QVERIFY(rate <= maxKevPerSecond * 1000.0);
        QVERIFY(rate > maxKevPerSecond * 1000.0 * 0.95); // the cap is below the scene's rate
        // Drops are spread over the millisecond, not taken from its end.
        uint64_t secondHalf = 0;
        for (const Event2D& e : kept.events)
            secondHalf += (e.timestamp % 1000) >= 500;
        QVERIFY(secondHalf > kept.events.size() / 3);
    }

    void rateControlOffLetsEverythingThrough()
    {
        PipelineRun a(SceneKind::Mixed, 3e6);
        PipelineRun b(SceneKind::Mixed, 3e6);
        QVERIFY(b.tools.rateControl->setIntParameter("max_event_rate", 100));
        QVERIFY(a.run(100000).events == b.run(100000).events);
    }

    void antiFlickerRemovesTheFlicker_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<double>("keptShareMin");
        QTest::addColumn<double>("keptShareMax");
        QTest::newRow("band stop over 100 Hz") << 50 << 520 << "Band Stop" << 0.0 << 0.05;
        QTest::newRow("band stop 90..110 Hz") << 90 << 110 << "Band Stop" << 0.0 << 0.05;
        QTest::newRow("band stop above the lamp") << 200 << 520 << "Band Stop" << 0.95 << 1.0;
        QTest::newRow("band pass over 100 Hz") << 50 << 520 << "Band Pass" << 0.95 << 1.0;
        QTest::newRow("band pass above the lamp") << 200 << 520 << "Band Pass" << 0.0 << 0.05;
    }

    void antiFlickerRemovesTheFlicker()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(QString, mode);
        QFETCH(double, keptShareMin);
        QFETCH(double, keptShareMax);
        PipelineRun plain(SceneKind::Flicker, 2e6);
        plain.run(100000);
        const size_t base = plain.run(400000).events.size();

        PipelineRun run(SceneKind::Flicker, 2e6);
        auto& afk = *run.tools.antiFlicker;
        QVERIFY(afk.setIntParameter("high_frequency", high) && afk.setIntParameter("low_frequency", low));
        QVERIFY(afk.setEnumParameter("filtering_mode", mode.toStdString()));
        QVERIFY(afk.setBoolParameter("enable", true));
        run.run(100000); // the filter learns the lamp over a few periods
        const size_t kept = run.run(400000).events.size();
        const double share = double(kept) / double(base);
        QVERIFY2(share >= keptShareMin && share <= keptShareMax, qPrintable(QString("kept %1").arg(share)));
    }

    // In the mixed scene the filter takes the lamp away and leaves the rest.
    void antiFlickerKeepsTheRestOfTheScene()
    {
        PipelineRun run(SceneKind::Mixed, 4e6);
        run.tools.antiFlicker->setBoolParameter("enable", true);
        run.run(100000);
        const auto kept = run.run(500000);
        PipelineRun plain(SceneKind::Mixed, 4e6);
        plain.run(100000);
        const auto all = plain.run(500000);
        const SceneLayout layout = SyntheticScene(SceneKind::Mixed, 1, 1).layoutAt(0);
        const int r = int(layout.lampRadius) - 2;
        const int lx = int(layout.lampX);
        const int ly = int(layout.lampY);
        const uint64_t lampBefore = countInBox(all.events, lx - r / 2, ly - r / 2, lx + r / 2, ly + r / 2);
        const uint64_t lampAfter = countInBox(kept.events, lx - r / 2, ly - r / 2, lx + r / 2, ly + r / 2);
        QVERIFY(lampBefore > 5000);
        QVERIFY2(lampAfter < lampBefore / 10, qPrintable(QString("%1 -> %2").arg(lampBefore).arg(lampAfter)));
        const uint64_t restBefore = all.events.size() - lampBefore;
        const uint64_t restAfter = kept.events.size() - lampAfter;
        QVERIFY(restAfter > restBefore * 0.85);
    }

    void antiFlickerDutyCycle()
    {
        PipelineRun full(SceneKind::Flicker, 2e6);
        full.tools.antiFlicker->setBoolParameter("enable", true);
        full.run(100000);
        const size_t fullKept = full.run(300000).events.size();
        PipelineRun half(SceneKind::Flicker, 2e6);
        half.tools.antiFlicker->setFloatParameter("duty_cycle", 50.0f);
        half.tools.antiFlicker->setBoolParameter("enable", true);
        half.run(100000);
        const auto halfKept = half.run(300000);
        // Only the first half of each period after the rising edge is filtered: the falling half stays.
        QVERIFY(halfKept.events.size() > fullKept * 5);
        const uint64_t off = uint64_t(std::count_if(halfKept.events.begin(), halfKept.events.end(),
                                                    [](const Event2D& e) { return e.polarity == 0; }));
        QVERIFY(off > halfKept.events.size() * 0.8);
    }

    void trailFilterRemovesBursts_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("burstIndexKept"); // 0 first only, 1 second only, 2 all but the first
        QTest::newRow("trail") << "Trail" << 0;
        QTest::newRow("stc cut trail") << "STC Cut Trail" << 1;
        QTest::newRow("stc keep trail") << "STC Keep Trail" << 2;
    }

    void trailFilterRemovesBursts()
    {
        QFETCH(QString, type);
        QFETCH(int, burstIndexKept);
        const uint64_t threshold = 10000;
        PipelineRun plain(SceneKind::Edges, 2e6);
        const auto all = plain.run(400000);
        PipelineRun run(SceneKind::Edges, 2e6);
        auto& trail = *run.tools.trailFilter;
        QVERIFY(trail.setEnumParameter("filtering_type", type.toStdString()));
        QVERIFY(trail.setBoolParameter("enable", true));
        const auto kept = run.run(400000);

        // Classify every event of the unfiltered stream by its place in its pixel's burst.
        std::map<uint32_t, std::pair<uint64_t, int>> last; // pixel -> time, polarity
        std::map<uint32_t, int> burst;
        std::vector<int> index(all.events.size());
        for (size_t i = 0; i < all.events.size(); ++i) {
            const Event2D& e = all.events[i];
            const uint32_t pixel = uint32_t(e.y) * 1280 + e.x;
            auto it = last.find(pixel);
            const bool follows = it != last.end() && it->second.second == e.polarity && e.timestamp - it->second.first < threshold;
            burst[pixel] = follows ? burst[pixel] + 1 : 0;
            last[pixel] = {e.timestamp, e.polarity};
            index[i] = burst[pixel];
        }
        size_t expected = 0;
        size_t trailing = 0;
        for (int i : index) {
            const bool keep = burstIndexKept == 0 ? i == 0 : burstIndexKept == 1 ? i == 1 : i >= 1;
            expected += keep;
            trailing += i >= 1;
        }
        QVERIFY(trailing > all.events.size() / 3); // edges do leave bursts behind them
        QCOMPARE(kept.events.size(), expected);
    }

    void triggerInputsSwitchOnAndOff()
    {
        PipelineRun run(SceneKind::Noise, 1e5);
        const auto first = run.run(3000000);
        // Channel 0 only: once a second the input goes high at 0.5 s and low at 0.6 s. The viewer
        // reads polarity 0 as the rising edge and 1 as the falling one.
        QCOMPARE(first.triggers.size(), size_t(6));
        for (size_t i = 0; i < first.triggers.size(); ++i) {
            const EventTriggerIn& t = first.triggers[i];
            const bool rising = i % 2 == 0;
            QCOMPARE(t.id, int16_t(0));
            QCOMPARE(t.timestamp, uint64_t(i / 2) * 1000000 + (rising ? 500000 : 600000));
            QCOMPARE(t.polarity, int16_t(rising ? 0 : 1));
        }
        QVERIFY(run.tools.triggerIn->setBoolParameter("channel_0", false));
        QVERIFY(run.tools.triggerIn->setBoolParameter("channel_1", true));
        const auto second = run.run(1000000);
        QCOMPARE(second.triggers.size(), size_t(20));
        for (size_t i = 0; i < second.triggers.size(); ++i) {
            QCOMPARE(second.triggers[i].id, int16_t(1));
            if (i > 0)
                QVERIFY(second.triggers[i].timestamp > second.triggers[i - 1].timestamp);
        }
        QVERIFY(run.tools.triggerIn->setBoolParameter("channel_1", false));
        QVERIFY(run.run(1000000).triggers.empty());
    }

    void evt3SizeCountsAddressAndTimeWords()
    {
        Evt3SizeCounter counter;
        const std::vector<Event2D> sameRowSameTime = {{1, 5, 1, 100}, {2, 5, 1, 100}, {3, 5, 0, 100}};
        // TIME_HIGH, TIME_LOW, ADDR_Y, then one ADDR_X each.
        QCOMPARE(counter.add(sameRowSameTime.data(), sameRowSameTime.data() + 3), uint64_t(2 * 6));
        const std::vector<Event2D> newRowNewLow = {{1, 6, 1, 101}};
        QCOMPARE(counter.add(newRowNewLow.data(), newRowNewLow.data() + 1), uint64_t(2 * 3));
        const std::vector<Event2D> newHigh = {{1, 6, 1, 101 + 4096}};
        QCOMPARE(counter.add(newHigh.data(), newHigh.data() + 1), uint64_t(2 * 3));
    }
};

QTEST_APPLESS_MAIN(TestSyntheticScene)
#include "tst_syntheticscene.moc"
