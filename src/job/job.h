#pragma once

#include "web/requestscope.h"

#include <QObject>
#include <QtGlobal>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

// One piece of work with its requests, in KJob's sense. The owner connects to the job's result
// signal, calls start() once, and may cancel() it; it never deletes a job. The job deletes
// itself once its coroutine has ended.
//
// - start() never delivers the result before it returns: a job that ends at once announces its
//   result on the next turn of the event loop.
// - cancel() is quiet: it aborts every request and wait of the job (its coroutine then runs to
//   its end at once) and no result is announced.
// - A derived job announces its result with finish(&Derived::signal, values...), once.
class Job : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Job)

public:
    ~Job() override;

    void start();
    void cancel();
    bool isCancelled() const { return m_cancelled; }
    // Started and not yet finished or cancelled.
    bool isRunning() const { return m_started && !m_finished && !m_cancelled; }
    // Why the job did not do all it was asked (0: it did), in the job's own numbers and words.
    int error() const { return m_error; }
    QString errorString() const { return m_errorString; }
    // How far it got: units done of the total (0 of 0 before it knows).
    int processed() const { return m_processed; }
    int total() const { return m_total; }

Q_SIGNALS:
    void progress(int processed, int total);

protected:
    explicit Job(QObject *parent = nullptr);

    // The work itself; it ends with finish(), or early when cancelled.
    virtual QCoro::Task<> work() = 0;
    // The requests and waits of the job; cancel() aborts them.
    RequestScope &scope() { return m_scope; }

    void setError(int error, const QString &text) {
        m_error = error;
        m_errorString = text;
    }
    void setProgress(int processed, int total) {
        m_processed = processed;
        m_total = total;
        Q_EMIT progress(processed, total);
    }

    template <typename Signal, typename... Args> void finish(Signal signal, Args... values) {
        using Derived = typename QtPrivate::FunctionPointer<Signal>::Object;
        announce([this, signal, values...] { Q_EMIT(static_cast<Derived *>(this)->*signal)(values...); });
    }

private:
    QCoro::Task<> lifetime();
    void announce(std::function<void()> emitResult);
    void ended();

    RequestScope m_scope;
    std::optional<QCoro::Task<>> m_task;
    bool m_started = false;
    bool m_starting = false; // inside start(): a result waits for the next turn
    bool m_finished = false; // the result is decided
    bool m_pending = false;  // a result waits for the next turn
    bool m_cancelled = false;
    bool m_destroying = false;
    bool m_workEnded = false;
    int m_error = 0;
    QString m_errorString;
    int m_processed = 0;
    int m_total = 0;
};
