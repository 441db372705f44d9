#include "sdk/SvEventRecords.h"

#include <SorvaneBase/ApsFrame.h>
#include <SorvaneBase/SvObjectPool.h>

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace sorvane;

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void triggerArgumentOrder()
    {
        const EventTriggerIn trigger(3, 1, 500);
        QCOMPARE(trigger.id, 3);
        QCOMPARE(trigger.polarity, 1);
        QCOMPARE(trigger.timestamp, uint64_t(500));
    }

    void apsFrameCopiesShareClonesDoNot()
    {
        ApsFrame frame(4, 2, 9, 1234);
        QCOMPARE(frame.getDataSize(), size_t(4 * 2 * 3));
        ApsFrame shared = frame;
        ApsFrame cloned = frame.clone();
        frame.data()[0] = 200;
        QCOMPARE(shared.data()[0], uint8_t(200));
        QCOMPARE(cloned.data()[0], uint8_t(0));
        QCOMPARE(cloned.getTimestamp(), uint64_t(1234));
    }

    void poolReturnsObjectsOnLastRelease()
    {
        auto pool = SvObjectPoolFactory::createUniqueSvObjectPoolWithArgs<std::vector<Event2D>>(2, 1000);
        QCOMPARE(pool->available(), size_t(2));
        {
            auto a = pool->acquire();
            QVERIFY(a->capacity() >= 1000);
            QVERIFY(a->empty());
            auto alias = a;
            a.reset();
            QCOMPARE(pool->available(), size_t(1));
        }
        QCOMPARE(pool->available(), size_t(2));
        // One that outgrew its room gives the memory back and returns empty with that room.
        pool->acquire()->resize(5000);
        auto again = pool->acquire();
        QVERIFY(again->empty());
        QVERIFY(again->capacity() >= 1000 && again->capacity() < 5000);
    }

    void exhaustedPoolAllocatesAndOutlivedPoolFrees()
    {
        auto pool = SvObjectPoolFactory::createUniqueSvObjectPoolWithArgs<std::vector<Event2D>>(1, 16);
        auto first = pool->acquire();
        auto second = pool->acquire(); // pool is empty: must not block
        QVERIFY(first.get() != second.get());
        QCOMPARE(pool->capacity(), size_t(2));
        pool.reset();
        first->push_back(Event2D(1, 2, 1, 3)); // still valid after the pool is gone
        first.reset();
        second.reset();
    }

    void poolIsThreadSafe()
    {
        auto pool = SvObjectPoolFactory::createUniqueSvObjectPoolWithArgs<std::vector<Event2D>>(4, 64);
        std::atomic<int> acquired{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 2000; ++i) {
                    auto v = pool->acquire();
                    v->push_back(Event2D());
                    v->clear();
                    ++acquired;
                }
            });
        for (auto& thread : threads)
            thread.join();
        QCOMPARE(acquired.load(), 8000);
        QCOMPARE(pool->available(), pool->capacity());
    }
};

QTEST_APPLESS_MAIN(TestRecords)
#include "tst_records.moc"
