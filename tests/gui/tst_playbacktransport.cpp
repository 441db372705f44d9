// The playback transport's rules, driven by hand (no thread, no clock) for an owner that records
// what it was asked to build and show.
#include "processing/PlaybackTransport.h"

#include <QTest>

namespace {

class RecordingOwner : public PlaybackOwner {
public:
    bool buildImage(uint64_t t, uint64_t accumulation) override
    {
        calls << QString("build %1/%2").arg(t).arg(accumulation);
        return buildable;
    }
    void showImage(uint64_t t) override { calls << QString("show %1").arg(t); }
    void dropImage() override { calls << "drop"; }
    void playbackFinished() override { calls << "finished"; }

    // Only the shown positions and the ends, in order.
    QStringList shown() const
    {
        QStringList found;
        for (const QString& call : calls)
            if (!call.startsWith("build"))
                found << call;
        return found;
    }

    QStringList calls;
    bool buildable = true;
};

// Plays until the transport stops by itself, at most limit frames.
void playOut(PlaybackTransport& transport, int limit = 100)
{
    for (int i = 0; i < limit && transport.playOne(); ++i) {
    }
}

} // namespace

class TestPlaybackTransport : public QObject {
    Q_OBJECT

private slots:
    // Playing steps by the frame step from the position; the last frame is the upper end
    // itself; then the position is back at the lower end and playback stops, or goes on.
    void playsToTheRangeEnd_data()
    {
        QTest::addColumn<uint64_t>("upper");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("stops at the end")
            << uint64_t(1250) << false << QStringList{"show 1100", "show 1200", "show 1250", "finished"};
        QTest::newRow("range a multiple of the step")
            << uint64_t(1300) << false << QStringList{"show 1100", "show 1200", "show 1300", "finished"};
        QTest::newRow("loops from the lower end")
            << uint64_t(1250) << true
            << QStringList{"show 1100", "show 1200", "show 1250", "show 1100", "show 1200", "show 1250", "show 1100"};
        QTest::newRow("range of one position") << uint64_t(1000) << false << QStringList{"show 1000", "finished"};
    }
    void playsToTheRangeEnd()
    {
        QFETCH(uint64_t, upper);
        QFETCH(bool, loop);
        QFETCH(QStringList, shown);
        RecordingOwner owner;
        PlaybackTransport transport(owner);
        transport.setFps(10'000); // a step of 100
        transport.setLoop(loop);
        transport.open(1000, upper);
        QVERIFY(transport.play());
        playOut(transport, int(shown.size()));
        QCOMPARE(owner.shown(), shown);
        QCOMPARE(transport.isPlaying(), loop);
        if (!loop)
            QCOMPARE(transport.position(), uint64_t(1000));
        // A finished playback starts again from the lower end.
        if (!loop) {
            owner.calls.clear();
            QVERIFY(transport.play());
            QVERIFY(transport.playOne());
            QCOMPARE(owner.shown().first(), QString("show %1").arg(std::min<uint64_t>(1100, upper)));
        }
    }

    // The owner is asked for the window that ends at each position, with the accumulation time
    // of the moment; fps of 0 or below keep the step.
    void buildsTheWindowEndingAtThePosition()
    {
        RecordingOwner owner;
        PlaybackTransport transport(owner);
        transport.open(5'000'000'000ull, 6'000'000'000ull);
        transport.setFps(20);
        transport.setFps(0);
        transport.setFps(-4);
        transport.setAccumulation(7000);
        QCOMPARE(transport.frameStep(), uint64_t(50'000));
        transport.play();
        transport.playOne();
        transport.setAccumulation(900);
        transport.playOne();
        QCOMPARE(owner.calls, (QStringList{"build 5000050000/7000", "show 5000050000", "build 5000100000/900",
                                           "show 5000100000"}));
    }

    // Steps and jumps pause, move within the range and show the new position; at the upper end a
    // step ahead does nothing, at the lower end a step back shows it again.
    void stepsAndJumps_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<uint64_t>("position");
        QTest::newRow("ahead") << QStringList{"next", "next"} << QStringList{"show 1100", "show 1200"} << uint64_t(1200);
        QTest::newRow("ahead stops at the end")
            << QStringList{"jump 1430", "next", "next"} << QStringList{"show 1430", "show 1450"} << uint64_t(1450);
        QTest::newRow("back") << QStringList{"jump 1300", "prev"} << QStringList{"show 1300", "show 1200"} << uint64_t(1200);
        QTest::newRow("back stops at the start")
            << QStringList{"jump 1050", "prev", "prev"} << QStringList{"show 1050", "show 1000", "show 1000"}
            << uint64_t(1000);
        QTest::newRow("jump to either end")
            << QStringList{"jump 1450", "jump 1000"} << QStringList{"show 1450", "show 1000"} << uint64_t(1000);
        QTest::newRow("jumps outside are ignored")
            << QStringList{"jump 1200", "jump 999", "jump 1451"} << QStringList{"show 1200"} << uint64_t(1200);
        QTest::newRow("reset") << QStringList{"jump 1300", "reset"} << QStringList{"show 1300", "show 1000"}
                               << uint64_t(1000);
        QTest::newRow("narrowed range")
            << QStringList{"lower 1200", "upper 1260", "jump 1100", "jump 1250", "next", "prev", "prev", "prev"}
            << QStringList{"show 1250", "show 1260", "show 1200", "show 1200", "show 1200"} << uint64_t(1200);
    }
    void stepsAndJumps()
    {
        QFETCH(QStringList, commands);
        QFETCH(QStringList, shown);
        QFETCH(uint64_t, position);
        RecordingOwner owner;
        PlaybackTransport transport(owner);
        transport.setFps(10'000);
        transport.open(1000, 1450);
        transport.play();
        for (const QString& command : commands) {
            const QStringList parts = command.split(' ');
            const uint64_t value = parts.value(1).toULongLong();
            if (parts[0] == "next")
                transport.stepForward();
            else if (parts[0] == "prev")
                transport.stepBack();
            else if (parts[0] == "jump")
                transport.jumpTo(value);
            else if (parts[0] == "reset")
                transport.reset();
            else if (parts[0] == "lower")
                transport.setLowerBound(value);
            else if (parts[0] == "upper")
                transport.setUpperBound(value);
            transport.runPending();
        }
        QCOMPARE(owner.shown(), shown);
        QCOMPARE(transport.position(), position);
        QVERIFY(!transport.isPlaying());
    }

    // A range end moved under a playing position: the next frame is the new end, and it ends
    // there. A lower end moved above it: playing starts from the new lower end.
    void rangeMovedUnderThePosition()
    {
        RecordingOwner owner;
        PlaybackTransport transport(owner);
        transport.setFps(10'000);
        transport.open(1000, 2000);
        transport.jumpTo(1500);
        transport.runPending();
        transport.setUpperBound(1400);
        transport.play();
        playOut(transport);
        QCOMPARE(owner.shown(), (QStringList{"show 1500", "show 1400", "finished"}));
        owner.calls.clear();
        transport.setLowerBound(1300);
        transport.setFps(20'000);
        transport.play();
        transport.playOne();
        QCOMPARE(owner.shown(), QStringList{"show 1350"});
        QCOMPARE(transport.position(), uint64_t(1350));
    }

    // Jumps faster than images are built: only the last one asked for is built and shown.
    void theLatestRequestWins()
    {
        RecordingOwner owner;
        PlaybackTransport transport(owner);
        transport.open(0, 10'000);
        for (uint64_t t = 0; t <= 9000; t += 1000)
            transport.jumpTo(t);
        QVERIFY(transport.runPending());
        QVERIFY(!transport.runPending());
        QCOMPARE(owner.shown(), QStringList{"show 9000"});
    }

    // Nothing is played or shown without a recording, and a request made for the recording
    // before is not shown for the next one.
    void closedAndReopened()
    {
        RecordingOwner owner;
        PlaybackTransport transport(owner);
        QVERIFY(!transport.play());
        transport.stepForward();
        transport.jumpTo(0);
        QVERIFY(!transport.runPending());
        transport.open(0, 1000);
        transport.close();
        QVERIFY(!transport.play());
        QVERIFY(!transport.playOne());
        QVERIFY(owner.calls.isEmpty());
        transport.open(500, 1000);
        QCOMPARE(transport.position(), uint64_t(500));
        QVERIFY(transport.play());
        QVERIFY(transport.pause());
        QVERIFY(!transport.pause());
        QVERIFY(!transport.playOne());
    }

    // An image that could not be built is neither shown nor dropped; the position moves on.
    void unbuildableImagesAreSkipped()
    {
        RecordingOwner owner;
        owner.buildable = false;
        PlaybackTransport transport(owner);
        transport.setFps(10'000);
        transport.open(1000, 1200);
        transport.play();
        playOut(transport);
        QCOMPARE(owner.shown(), QStringList{"finished"});
        transport.jumpTo(1100);
        transport.runPending();
        QCOMPARE(owner.shown(), QStringList{"finished"});
        QCOMPARE(transport.position(), uint64_t(1100));
    }

    // With the thread running: frames come one step apart, a jump pauses and shows its
    // position, and the thread ends with the transport.
    void threadPlaysAndStops()
    {
        RecordingOwner owner;
        {
            PlaybackTransport transport(owner);
            transport.start();
            transport.setFps(1000);
            transport.open(0, 1'000'000);
            transport.play();
            QTRY_VERIFY(owner.shown().size() >= 3);
            transport.jumpTo(500'000);
            QTRY_COMPARE(owner.shown().last(), QString("show 500000"));
            QVERIFY(!transport.isPlaying());
        }
        QCOMPARE(owner.shown().mid(0, 3), (QStringList{"show 1000", "show 2000", "show 3000"}));
    }
};

QTEST_APPLESS_MAIN(TestPlaybackTransport)
#include "tst_playbacktransport.moc"
