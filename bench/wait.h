#pragma once

// Waiting in the benchmarks. QCoreApplication::processEvents(WaitForMoreEvents, ms) does not
// wait: with a time limit Qt drops WaitForMoreEvents and spins, so the process's CPU time would
// count the spinning. These waits sleep until an event comes.

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the event loop, asleep between events, until the condition holds or the time is up;
// true when it holds. The condition is asked each time the loop is about to sleep, that is once
// everything pending has been handled, and at least every 50 ms.
inline bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000) {
    if (done())
        return true;
    QEventLoop loop;
    const auto ask = [&] {
        if (done())
            loop.quit();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, ask);
    poll.start(50);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    const QMetaObject::Connection beforeSleep = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, ask);
    loop.exec();
    QObject::disconnect(beforeSleep);
    return done();
}

// Runs the event loop for this long, asleep between events.
inline void waitFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
