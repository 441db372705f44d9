#include "widgets/SvSlider.h"
#include "widgets/SvThreeHandleSlider.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <memory>

// The slider is 1036 px wide, so the value span (width - 12) is 1024 px and one pixel is
// 1000 us of a 1 024 000 us range: every expected value below is exact in floating point.
namespace {
constexpr int sliderWidth = 1036;
constexpr int sliderHeight = 30;
constexpr uint64_t rangeLength = 1'024'000;
constexpr int midLine = sliderHeight / 2;

// Positions in range mode for lower 0.2, centre 0.5 and upper 0.8 of the range:
// lower x = 1004 * 0.2 = 200, centre x = 1004 * 0.5 + 6 = 508, upper x = 1004 * 0.8 + 26 = 829.
constexpr uint64_t lowerAt = 204'800;
constexpr uint64_t centerAt = 512'000;
constexpr uint64_t upperAt = 819'200;

// Above 2^32 us, which no 32-bit value could carry: a base of 0 or 2^31 shows nothing more.
constexpr uint64_t bigBase = 5'000'000'000'000ULL;

uint64_t firstValue(const QSignalSpy& spy, int index = 0)
{
    return spy.at(index).at(0).value<uint64_t>();
}
}

class TestTimeSlider : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<SvThreeHandleSlider> slider;

    void makeSlider(uint64_t base, int mode)
    {
        slider = std::make_unique<SvThreeHandleSlider>(nullptr, Qt::Horizontal, 1);
        slider->resize(sliderWidth, sliderHeight);
        slider->setMinimum(base);
        slider->setMaximum(base + rangeLength);
        if (mode == SvThreeHandleSlider::RangeMode) {
            slider->setHandleMode(mode);
            slider->setCenterValue(base + centerAt);
            slider->setLowerValue(base + lowerAt);
            slider->setUpperValue(base + upperAt);
        }
        slider->show();
        QVERIFY(QTest::qWaitForWindowExposed(slider.get()));
    }
    void press(int x) { QTest::mousePress(slider.get(), Qt::LeftButton, {}, QPoint(x, midLine)); }
    void moveTo(int x) { QTest::mouseMove(slider.get(), QPoint(x, midLine)); }
    void release(int x) { QTest::mouseRelease(slider.get(), Qt::LeftButton, {}, QPoint(x, midLine)); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { slider.reset(); }

    void trackClickIsLimitedToTheSpan_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<uint64_t>("center");
        QTest::addColumn<int>("clickX");
        QTest::addColumn<uint64_t>("expected");
        // value = minimum + (x - 13) px
        QTest::newRow("centre only, middle") << 1 << uint64_t(102'400) << 513 << uint64_t(500'000);
        QTest::newRow("centre only, near the end") << 1 << uint64_t(102'400) << 1000 << uint64_t(987'000);
        QTest::newRow("range, left of lower") << 3 << centerAt << 100 << lowerAt;
        QTest::newRow("range, right of upper") << 3 << centerAt << 950 << upperAt;
        QTest::newRow("range, between") << 3 << centerAt << 313 << uint64_t(300'000);
    }
    void trackClickIsLimitedToTheSpan()
    {
        const uint64_t base = bigBase;
        QFETCH(int, mode);
        QFETCH(uint64_t, center);
        QFETCH(int, clickX);
        QFETCH(uint64_t, expected);
        makeSlider(base, mode);
        slider->setCenterValue(base + center);
        QSignalSpy clicks(slider.get(), &SvThreeHandleSlider::centerValueTrackClick);
        QSignalSpy moves(slider.get(), &SvThreeHandleSlider::centerValueMove);
        press(clickX);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(firstValue(clicks), base + expected);
        QCOMPARE(slider->center(), base + expected);
        // A track click does not start a drag.
        moveTo(clickX + 100);
        QCOMPARE(moves.count(), 0);
        QCOMPARE(slider->center(), base + expected);
    }

    void hiddenSideHandlesCatchPressesInCentreOnlyMode_data()
    {
        QTest::addColumn<int>("x");
        QTest::newRow("lower zone at the left end") << 2;
        QTest::newRow("upper zone at the right end") << sliderWidth - 4;
    }
    void hiddenSideHandlesCatchPressesInCentreOnlyMode()
    {
        QFETCH(int, x);
        makeSlider(0, 1);
        slider->setCenterValue(centerAt);
        QSignalSpy clicks(slider.get(), &SvThreeHandleSlider::centerValueTrackClick);
        QSignalSpy lowers(slider.get(), &SvThreeHandleSlider::lowerValueChanged);
        QSignalSpy uppers(slider.get(), &SvThreeHandleSlider::upperValueChanged);
        press(x);
        moveTo(sliderWidth / 2);
        release(sliderWidth / 2);
        QCOMPARE(clicks.count() + lowers.count() + uppers.count(), 0);
        QCOMPARE(slider->center(), centerAt);
        QCOMPARE(slider->lower(), uint64_t(0));
        QCOMPARE(slider->upper(), rangeLength);
    }

    // Side handles follow a drag, held between the ends of the range and the centre; the
    // release lets go of them.
    void sideHandleDrags_data()
    {
        QTest::addColumn<bool>("lower");
        QTest::addColumn<int>("toX");
        QTest::addColumn<uint64_t>("expected");
        // Pressed 2 px into the lower handle at 200: the value follows x - 2; the upper handle at
        // 829 is pressed at 831 and follows x - 8.
        QTest::newRow("lower follows") << true << 302 << uint64_t(300'000);
        QTest::newRow("lower held at the centre") << true << 700 << centerAt;
        QTest::newRow("lower held at the minimum") << true << 1 << uint64_t(0);
        QTest::newRow("upper follows") << false << 931 << uint64_t(923'000);
        QTest::newRow("upper held at the centre") << false << 300 << centerAt;
        QTest::newRow("upper held at the maximum") << false << 1100 << rangeLength;
    }
    void sideHandleDrags()
    {
        QFETCH(bool, lower);
        QFETCH(int, toX);
        QFETCH(uint64_t, expected);
        const uint64_t base = bigBase;
        makeSlider(base, 3);
        QCOMPARE(slider->lowerHandleRect().x(), 200);
        QCOMPARE(slider->upperHandleRect().x(), 829);
        QSignalSpy changes(slider.get(), lower ? &SvThreeHandleSlider::lowerValueChanged : &SvThreeHandleSlider::upperValueChanged);
        press(lower ? 202 : 831);
        moveTo(toX);
        release(toX);
        QCOMPARE(lower ? slider->lower() : slider->upper(), base + expected);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(firstValue(changes), base + expected);
        QCOMPARE(slider->center(), base + centerAt);
        moveTo(500);
        QCOMPARE(changes.count(), 1);
    }

    // The centre follows a drag, within the side handles in range mode; moves outside the
    // widget or past a side handle are ignored, and a drag is no track click.
    void centreDrag_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("pressX");
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<QList<quint64>>("reported");
        // Centre only, at 102 400 (x = 104): pressed at 114, the offset is -3.
        QTest::newRow("centre only") << 1 << 114 << QList<int>{214, sliderWidth + 10, 0}
                                     << QList<quint64>{204'000, 0};
        // Range mode, at 512 000 (x = 508): pressed at 518, the offset is -3.
        QTest::newRow("range, held between the side handles") << 3 << 518 << QList<int>{600, 840, 203}
                                                               << QList<quint64>{590'000};
    }
    void centreDrag()
    {
        QFETCH(int, mode);
        QFETCH(int, pressX);
        QFETCH(QList<int>, moves);
        QFETCH(QList<quint64>, reported);
        const uint64_t base = bigBase;
        makeSlider(base, mode);
        if (mode == 1)
            slider->setCenterValue(base + 102'400);
        QSignalSpy changes(slider.get(), &SvThreeHandleSlider::centerValueMove);
        QSignalSpy clicks(slider.get(), &SvThreeHandleSlider::centerValueTrackClick);
        press(pressX);
        for (int x : moves)
            moveTo(x);
        release(moves.last());
        QList<quint64> got;
        for (int i = 0; i < changes.count(); ++i)
            got << firstValue(changes, i) - base;
        QCOMPARE(got, reported);
        QCOMPARE(clicks.count(), 0);
        QCOMPARE(slider->center(), base + reported.last());
    }

    void modeSwitchReportsTheBounds()
    {
        makeSlider(3'000'000'000ULL, 1);
        QStringList reports;
        connect(slider.get(), &SvThreeHandleSlider::lowerValueChanged, this,
            [&](uint64_t v) { reports << QString("lower %1").arg(v); });
        connect(slider.get(), &SvThreeHandleSlider::upperValueChanged, this,
            [&](uint64_t v) { reports << QString("upper %1").arg(v); });
        const QStringList expected {"lower 3000000000", "upper 3001024000"};

        slider->setHandleMode(3);
        QCOMPARE(reports, expected);
        slider->setCenterValue(3'000'500'000ULL);
        slider->setLowerValue(3'000'200'000ULL);
        slider->setUpperValue(3'000'800'000ULL);
        QCOMPARE(slider->lowerBound(), 3'000'200'000ULL);
        QCOMPARE(slider->upperBound(), 3'000'800'000ULL);

        reports.clear();
        slider->setHandleMode(1);
        QCOMPARE(reports, expected);
        QCOMPARE(slider->lower(), 3'000'000'000ULL);
        QCOMPARE(slider->upper(), 3'001'024'000ULL);
        QCOMPARE(slider->lowerBound(), 3'000'000'000ULL);
        QCOMPARE(slider->upperBound(), 3'001'024'000ULL);
    }

    void valueSlotsLimitAndStaySilent_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<qint64>("input");    // relative to the minimum
        QTest::addColumn<qint64>("expected"); // relative to the minimum
        const qint64 len = rangeLength;
        QTest::newRow("range: lower above centre") << 3 << "lower" << qint64(700'000) << qint64(centerAt);
        QTest::newRow("range: lower below minimum") << 3 << "lower" << qint64(-5) << qint64(0);
        QTest::newRow("range: upper below centre") << 3 << "upper" << qint64(100'000) << qint64(centerAt);
        QTest::newRow("range: upper above maximum") << 3 << "upper" << len + 7 << len;
        QTest::newRow("range: centre above upper") << 3 << "center" << qint64(900'000) << qint64(upperAt);
        QTest::newRow("range: centre below lower") << 3 << "center" << qint64(1) << qint64(lowerAt);
        QTest::newRow("centre only: lower above maximum") << 1 << "lower" << len + 1 << len;
        QTest::newRow("centre only: upper below minimum") << 1 << "upper" << qint64(-1) << qint64(0);
        QTest::newRow("centre only: centre above maximum") << 1 << "center" << len + 1 << len;
        QTest::newRow("centre only: centre inside") << 1 << "center" << qint64(777) << qint64(777);
    }
    void valueSlotsLimitAndStaySilent()
    {
        QFETCH(int, mode);
        QFETCH(QString, slot);
        QFETCH(qint64, input);
        QFETCH(qint64, expected);
        const uint64_t base = bigBase;
        makeSlider(base, mode);
        QSignalSpy lowers(slider.get(), &SvThreeHandleSlider::lowerValueChanged);
        QSignalSpy uppers(slider.get(), &SvThreeHandleSlider::upperValueChanged);
        QSignalSpy ranges(slider.get(), &SvThreeHandleSlider::rangeChanged);
        QSignalSpy clicks(slider.get(), &SvThreeHandleSlider::centerValueTrackClick);
        QSignalSpy moves(slider.get(), &SvThreeHandleSlider::centerValueMove);
        QSignalSpy changes(slider.get(), &SvThreeHandleSlider::centerValueChanged);
        const uint64_t value = base + input;
        if (slot == "lower") {
            slider->setLowerValue(value);
            QCOMPARE(slider->lower(), base + expected);
        } else if (slot == "upper") {
            slider->setUpperValue(value);
            QCOMPARE(slider->upper(), base + expected);
        } else {
            slider->setCenterValue(value);
            QCOMPARE(slider->center(), base + expected);
        }
        QCOMPARE(lowers.count() + uppers.count() + ranges.count() + clicks.count() + moves.count()
                + changes.count(),
            0);
    }

    void boundsAreReportedWithoutTruncation()
    {
        slider = std::make_unique<SvThreeHandleSlider>(nullptr, Qt::Horizontal, 1);
        QSignalSpy ranges(slider.get(), &SvThreeHandleSlider::rangeChanged);
        slider->setMaximum(9'000'000'000ULL);
        slider->setMinimum(4'294'967'296ULL + 17); // 2^32 + 17: nothing of it fits in 32 bits
        QCOMPARE(ranges.count(), 2);
        QCOMPARE(ranges.at(1).at(0).value<uint64_t>(), 4'294'967'313ULL);
        QCOMPARE(ranges.at(1).at(1).value<uint64_t>(), 9'000'000'000ULL);
        QCOMPARE(slider->lowerBound(), 4'294'967'313ULL);
        QCOMPARE(slider->upperBound(), 9'000'000'000ULL);
        QCOMPARE(slider->lower(), 4'294'967'313ULL);
        QCOMPARE(slider->upper(), 9'000'000'000ULL);
    }

    void handleGeometry_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<uint64_t>("value"); // lower, centre and upper all here
        QTest::addColumn<int>("lowerX");
        QTest::addColumn<int>("centerX");
        QTest::addColumn<int>("upperX");
        // Centre only: centre x = 1010 r + 3, lower 1024 r, upper 1024 r + 6.
        QTest::newRow("centre only at the start") << 1 << uint64_t(0) << 0 << 3 << 6;
        QTest::newRow("centre only at the end") << 1 << rangeLength << 1024 << 1013 << 1030;
        QTest::newRow("centre only in the middle") << 1 << uint64_t(512'000) << 512 << 508 << 518;
        // Range: equal values put lower, centre and upper side by side.
        QTest::newRow("range at the start") << 3 << uint64_t(0) << 0 << 6 << 26;
        QTest::newRow("range at the end") << 3 << rangeLength << 1004 << 1010 << 1030;
        QTest::newRow("range in the middle") << 3 << uint64_t(512'000) << 502 << 508 << 528;
    }
    void handleGeometry()
    {
        QFETCH(int, mode);
        QFETCH(uint64_t, value);
        QFETCH(int, lowerX);
        QFETCH(int, centerX);
        QFETCH(int, upperX);
        const uint64_t base = 3'000'000'000ULL;
        makeSlider(base, 1);
        slider->setHandleMode(mode);
        // In range mode the centre must move first: lower and upper are held on its sides.
        slider->setCenterValue(base + value);
        slider->setLowerValue(base + value);
        slider->setUpperValue(base + value);
        slider->setCenterValue(base + value);
        QCOMPARE(slider->lowerHandleRect(), QRect(lowerX, 1, 6, 27));
        QCOMPARE(slider->centerHandleRect(), QRect(centerX, 5, 20, 20));
        QCOMPARE(slider->upperHandleRect(), QRect(upperX, 1, 6, 27));
    }

    void equalBoundsKeepHandlesAtTheStart()
    {
        makeSlider(7, 1);
        slider->setMaximum(7);
        slider->setHandleMode(3);
        slider->setCenterValue(7);
        QCOMPARE(slider->centerHandleRect().x(), 6);
        QCOMPARE(slider->lowerHandleRect().x(), 0);
        QSignalSpy clicks(slider.get(), &SvThreeHandleSlider::centerValueTrackClick);
        press(700);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(firstValue(clicks), uint64_t(7));
        slider->grab(); // paints without dividing by the empty interval
    }

    // ---- click-to-jump slider ----

    void jumpSliderClicks_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("two thirds along") << "two thirds";
        QTest::newRow("left end") << "left end";
    }
    void jumpSliderClicks()
    {
        QFETCH(QString, where);
        SvSlider jump(Qt::Horizontal);
        jump.setRange(0, 300);
        jump.setValue(0);
        QStyleOptionSlider option;
        option.initFrom(&jump);
        option.orientation = Qt::Horizontal;
        option.minimum = 0;
        option.maximum = 300;
        const int len = jump.style()->pixelMetric(QStyle::PM_SliderLength, &option, &jump);
        jump.resize(300 + len, 24);
        jump.show();
        QVERIFY(QTest::qWaitForWindowExposed(&jump));
        QSignalSpy clicks(&jump, &SvSlider::trackClicked);

        if (where == "two thirds") {
            // x - len / 2 = 200 px of a 300 px span over a 0..300 range.
            QTest::mousePress(&jump, Qt::LeftButton, {}, QPoint(200 + len / 2, 12));
            const int expected = len % 2 ? 199 : 200;
            QCOMPARE(clicks.count(), 1);
            QCOMPARE(clicks.at(0).at(0).toInt(), expected);
            QCOMPARE(jump.value(), expected);
            QVERIFY(!jump.isSliderDown());
        } else {
            QTest::mousePress(&jump, Qt::LeftButton, {}, QPoint(0, 12));
            QCOMPARE(clicks.count(), 1);
            QVERIFY(clicks.at(0).at(0).toInt() < 0);
            QCOMPARE(jump.value(), 0);
        }
    }

    void jumpSliderHandleStillDrags()
    {
        SvSlider jump(Qt::Horizontal);
        jump.setRange(0, 300);
        jump.resize(340, 24);
        jump.show();
        QVERIFY(QTest::qWaitForWindowExposed(&jump));
        jump.setValue(150);
        QStyleOptionSlider option;
        option.initFrom(&jump);
        option.orientation = Qt::Horizontal;
        option.minimum = 0;
        option.maximum = 300;
        option.sliderPosition = 150;
        option.sliderValue = 150;
        const QRect handle = jump.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &jump);
        QSignalSpy clicks(&jump, &SvSlider::trackClicked);
        QTest::mousePress(&jump, Qt::LeftButton, {}, handle.center());
        QVERIFY(jump.isSliderDown());
        QCOMPARE(clicks.count(), 1);
        const int before = jump.value();
        QTest::mouseMove(&jump, handle.center() + QPoint(60, 0));
        QVERIFY(jump.value() > before);
        QTest::mouseRelease(&jump, Qt::LeftButton, {}, handle.center() + QPoint(60, 0));

        QTest::mousePress(&jump, Qt::RightButton, {}, QPoint(5, 12));
        QCOMPARE(clicks.count(), 1);
    }
};

QTEST_MAIN(TestTimeSlider)
#include "tst_timeslider.moc"
