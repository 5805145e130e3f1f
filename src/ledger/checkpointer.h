#pragma once

#include <QAtomicInt>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

// Copies the write-ahead log back into the file on a thread of its own: a commit only appends
// to the log, but a checkpoint writes and syncs megabytes, which the thread that records (the
// window's) should not wait for.
class LedgerCheckpointer {
public:
    LedgerCheckpointer(const QString &path, const QString &connection);
    ~LedgerCheckpointer();
    Q_DISABLE_COPY_MOVE(LedgerCheckpointer)

    // Requests made while one waits are one.
    void request();

private:
    QThread m_thread;
    QObject *m_context; // lives in m_thread; deleted there when it ends
    std::function<void()> m_run;
    QAtomicInt m_waiting;
};
