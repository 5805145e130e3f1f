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
