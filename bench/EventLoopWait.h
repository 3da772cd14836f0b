#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the calling thread's event loop until `done` holds or `timeoutMs` pass; answers whether it
// held. Unlike QTest::qWaitFor, which sleeps 10 ms between turns of the loop, every event is
// handled as soon as it arrives, so a benchmark that stamps times inside event handlers measures
// the app and not its own waiting. `done` is looked at every 20 ms: when the wait ends is not
// what is timed.
inline bool runEventLoopUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QDeadlineTimer deadline(timeoutMs);
    QTimer check;
    check.setInterval(20);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    check.start();
    loop.exec();
    return done();
}
