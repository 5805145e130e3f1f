#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <coroutine>
#include <functional>
#include <memory>

// The requests and waits of one piece of work. Aborting the scope ends every request in
// flight (each then reads as empty text) and every wait at once, before abort() returns: a
// job's coroutine has run to its end by then, so the job may go. Later requests end without
// being sent.
class RequestScope final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RequestScope)

public:
    explicit RequestScope(QObject *parent = nullptr);
    ~RequestScope() override;

    void abort();
    bool isAborted() const { return m_aborted; }

    class Wait;
    // co_await scope.until(sender, &Sender::signal): resumes on that signal, or at once when
    // the scope is aborted; yields true when the work may go on.
    template <typename Sender, typename Signal> Wait until(Sender *sender, Signal signal);
    // co_await scope.nextTurn(): resumes on a later turn of the event loop, or at abort.
    Wait nextTurn();

    // Watching hosts, off until turned on: a host whose requests under this scope time out
    // `timeoutsInARow` times in a row (an answer in between starts the count again) is down
    // for the rest of the work. Its requests in flight end, later ones fail without being
    // sent, and hostDown() says so once, so a dead host costs one deadline, not one per
    // request. Hosts are named "host" or "host:port", as the address gives them.
    static constexpr int kTimeoutsBeforeDown = 3;
    // The name a host goes by here: "host", or "host:port" when the address gives a port.
    static QString hostOf(const QUrl &url) {
        return url.port() < 0 ? url.host() : url.host() + u':' + QString::number(url.port());
    }
    void watchHosts(int timeoutsInARow = kTimeoutsBeforeDown);
    bool isHostDown(const QString &host) const { return m_down.contains(host); }
    // What the web client tells the watch about each request.
    void noteTimeout(const QString &host);
    void noteAnswer(const QString &host);

Q_SIGNALS:
    void aborted();
    void hostDown(const QString &host);

private:
    bool m_aborted = false;
    int m_downAfter = 0; // 0: not watching
    QHash<QString, int> m_timeouts;
    QSet<QString> m_down;
};

class RequestScope::Wait {
public:
    // Connects `resume` to what ends the wait, with `guard` as the connections' context.
    using Hookup = std::function<void(QObject *guard, const std::function<void()> &resume)>;

    Wait(RequestScope *scope, Hookup hookup)
        : m_scope(scope)
        , m_hookup(std::move(hookup)) {}

    bool await_ready() const noexcept { return m_scope->isAborted(); }
    void await_suspend(std::coroutine_handle<> waiting);
    bool await_resume() const noexcept { return !m_scope->isAborted(); }

private:
    RequestScope *m_scope;
    Hookup m_hookup;
    // Every connection of the wait has it as context: the first to fire deletes it, so the
    // coroutine resumes once, and nothing fires after its frame has gone.
    std::unique_ptr<QObject> m_guard;
};

template <typename Sender, typename Signal>
RequestScope::Wait RequestScope::until(Sender *sender, Signal signal) {
    return Wait(this, [sender, signal](QObject *guard, const std::function<void()> &resume) {
        QObject::connect(sender, signal, guard, resume);
    });
}
