#include "TestMain.h"

#include "common/Clock.h"
#include "common/SerialQueue.h"

#include <QMutex>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <vector>

class SerialQueueTest final : public QObject {
    Q_OBJECT

private slots:
    void runsWorkInOrderOnItsThread()
    {
        SerialQueue queue(QStringLiteral("test.order"));
        std::vector<int> seen;
        std::atomic<bool> wrongThread = false;
        for (int i = 0; i < 1000; ++i) {
            queue.async([&, i] {
                if (!queue.isCurrent())
                    wrongThread = true;
                seen.push_back(i);
            });
        }
        queue.sync([] {});
        QCOMPARE(int(seen.size()), 1000);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(seen[size_t(i)], i);
        QVERIFY(!wrongThread);
        QVERIFY(!queue.isCurrent());
        QCOMPARE(queue.thread()->objectName(), QStringLiteral("test.order"));
    }

    void syncFromTheQueueItselfDoesNotDeadlock()
    {
        SerialQueue queue(QStringLiteral("test.reentrant"));
        bool inner = false;
        queue.sync([&] { queue.sync([&] { inner = true; }); });
        QVERIFY(inner);
    }

    void timersFireOnTheQueue()
    {
        SerialQueue queue(QStringLiteral("test.timer"));
        std::atomic<bool> onQueue = false;
        std::atomic<bool> fired = false;
        queue.async([&] {
            auto *timer = new QTimer(queue.context());
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, timer, [&] {
                onQueue = queue.isCurrent();
                fired = true;
            });
            timer->start(1);
        });
        QTRY_VERIFY(fired.load());
        QVERIFY(onQueue.load());
    }

    void stopRunsQueuedWorkAndDestroysChildrenOnTheQueue()
    {
        auto queue = std::make_unique<SerialQueue>(QStringLiteral("test.stop"));
        std::atomic<int> ran = 0;
        std::atomic<bool> destroyedOnQueue = false;
        QThread *queueThread = queue->thread();
        queue->async([&] {
            auto *child = new QObject(queue->context());
            QObject::connect(child, &QObject::destroyed, [&, queueThread] {
                destroyedOnQueue = QThread::currentThread() == queueThread;
            });
        });
        for (int i = 0; i < 50; ++i)
            queue->async([&] { ++ran; });
        queue->stop();
        QCOMPARE(ran.load(), 50);
        QVERIFY(destroyedOnQueue.load());
        // Work posted after a stop is dropped, and a second stop is harmless.
        queue->async([&] { ++ran; });
        queue->stop();
        queue.reset();
        QCOMPARE(ran.load(), 50);
    }

    void clockSourceIsReplaceable()
    {
        const double real = Clock::uptime();
        QVERIFY(real > 0);
        double fake = 100.0;
        Clock::source = [&] { return fake; };
        QCOMPARE(Clock::uptime(), 100.0);
        fake += 2.5;
        QCOMPARE(Clock::uptime(), 102.5);
        Clock::reset();
        QVERIFY(Clock::uptime() >= real);
    }
};

DODEDAROV_TEST(SerialQueueTest)
#include "SerialQueueTest.moc"
