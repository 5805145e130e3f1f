#include "job/job.h"

#include <QTimer>

Job::Job(QObject *parent)
    : QObject(parent) {}

Job::~Job() {
    // Jobs delete themselves once their coroutine has ended; deleting one that still waits
    // would resume it inside a half-destroyed object.
    Q_ASSERT(!m_started || m_workEnded);
    m_destroying = true;
    m_scope.abort();
}

void Job::start() {
    if (m_started || m_cancelled)
        return;
    m_started = true;
    m_starting = true;
    m_task.emplace(lifetime());
    m_starting = false;
}

void Job::cancel() {
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_scope.abort(); // every wait ends now, and so does the coroutine
    if (!m_started && !m_destroying)
        deleteLater(); // never started: nothing else will delete it
}

QCoro::Task<> Job::lifetime() {
    co_await work();
    ended();
}

void Job::announce(std::function<void()> emitResult) {
    if (m_finished || m_cancelled)
        return;
    m_finished = true;
    if (!m_starting) {
        emitResult();
        return;
    }
    // Ended before start() returned: the owner hears of it on the next turn, as it would of a
    // job that waited for something.
    m_pending = true;
    QTimer::singleShot(0, this, [this, emitResult = std::move(emitResult)] {
        m_pending = false;
        if (!m_cancelled)
            emitResult();
        if (m_workEnded && !m_destroying)
            deleteLater();
    });
}

void Job::ended() {
    m_workEnded = true;
    if (!m_pending && !m_destroying)
        deleteLater();
}
