// Play-bar time and recording clock formats.
#include "app/SvTimeFormat.h"

#include <QTest>

class TestTimeFormat : public QObject {
    Q_OBJECT
private slots:
    void timestamp_data()
    {
        QTest::addColumn<quint64>("us");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "00:00:000000";
        QTest::newRow("minute and a half second") << quint64(61'500'000) << "01:01:500000";
        QTest::newRow("last microsecond of a minute") << quint64(59'999'999) << "00:59:999999";
        QTest::newRow("minutes past 99 are not wrapped") << quint64(6'000'000'000) << "100:00:000000";
        // 2^31 us: where an int slider value would overflow.
        QTest::newRow("past 2^31") << quint64(2'147'483'648) << "35:47:483648";
        QTest::newRow("a day of sensor time") << quint64(86'400'000'001) << "1440:00:000001";
    }

    void timestamp()
    {
        QFETCH(quint64, us);
        QFETCH(QString, text);
        QCOMPARE(formatTimestamp(us), text);
    }

    void duration_data()
    {
        QTest::addColumn<quint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "00:00:00";
        QTest::newRow("an hour, two minutes, five seconds") << quint64(3725) << "01:02:05";
        QTest::newRow("one below an hour") << quint64(3599) << "00:59:59";
        QTest::newRow("hours past 99 are not wrapped") << quint64(360'000) << "100:00:00";
    }

    void duration()
    {
        QFETCH(quint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(formatDuration(seconds), text);
    }
};

QTEST_APPLESS_MAIN(TestTimeFormat)
#include "tst_timeformat.moc"
