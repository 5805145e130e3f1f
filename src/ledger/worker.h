#pragma once

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

// A thread with a connection of its own to the ledger file, for work that the thread that
// records (the window's) should not wait for: checkpoints, which write and sync megabytes, and
// the search index. The connection is made on the thread when it is first needed, with no busy
// time-out (the work sees a busy file at once and decides itself), and removed there when the
// thread ends.
class LedgerWorker {
public:
    using Work = std::function<void(const QSqlDatabase &)>;

    LedgerWorker(const QString &path, const QString &connection, const QStringList &pragmas, Work work,
                 QThread::Priority priority = QThread::InheritPriority);
    // Waits for the work under way.
    ~LedgerWorker();
    Q_DISABLE_COPY_MOVE(LedgerWorker)

    // Runs the work on the thread. Requests made while one waits are one.
    void request();

private:
    QThread m_thread;
    QObject *m_context; // lives in m_thread; deleted there when it ends
    QAtomicInt m_waiting;
    std::function<void()> m_run;
};
