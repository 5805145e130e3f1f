#include "web/requestscope.h"

#include <QTimer>

RequestScope::RequestScope(QObject *parent)
    : QObject(parent) {}

RequestScope::~RequestScope() {
    // Whoever still waits on this scope must not wait for ever.
    abort();
}

void RequestScope::abort() {
    if (m_aborted)
        return;
    m_aborted = true;
    Q_EMIT aborted();
}

void RequestScope::watchHosts(int timeoutsInARow) {
    m_downAfter = qMax(1, timeoutsInARow);
}

void RequestScope::noteTimeout(const QString &host) {
    if (m_downAfter == 0 || m_down.contains(host))
        return;
    if (++m_timeouts[host] < m_downAfter)
        return;
    m_down.insert(host);
    Q_EMIT hostDown(host);
}

void RequestScope::noteAnswer(const QString &host) {
    m_timeouts.remove(host);
}

RequestScope::Wait RequestScope::nextTurn() {
    return Wait(this, [](QObject *guard, const std::function<void()> &resume) {
        QTimer::singleShot(0, guard, resume);
    });
}

void RequestScope::Wait::await_suspend(std::coroutine_handle<> waiting) {
    m_guard = std::make_unique<QObject>();
    const std::function<void()> resume = [this, waiting] {
        m_guard.reset();
        waiting.resume();
    };
    QObject::connect(m_scope, &RequestScope::aborted, m_guard.get(), resume);
    m_hookup(m_guard.get(), resume);
}
