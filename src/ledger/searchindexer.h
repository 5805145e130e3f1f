#pragma once

#include "ledger/worker.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QString>

// Brings the search index up to date on a thread of its own. A write to codes leaves its new
// rows above the index's mark and queues the changed ones (schema.cpp): indexing a code's
// trigrams costs several times its write, which the thread that records (the window's) should
// not pay. The index is brought up in slices of a few milliseconds, each its own transaction,
// once the program's own writes have paused for a moment: a commit from another connection
// empties the writer's page cache, and re-reading it after every slice would cost the writes
// more than the index did. A write never waits longer than a slice. Searches look at the new
// and queued rows too, so they find the same rows however far the index has come.
class LedgerSearchIndexer {
public:
    LedgerSearchIndexer(const QString &path, const QString &connection);
    // Stops after the slice under way; what is still queued stays in the file for next time.
    ~LedgerSearchIndexer();
    Q_DISABLE_COPY_MOVE(LedgerSearchIndexer)

    // Indexes what is queued, until nothing is. Requests made while one waits are one.
    void request();

    // Held around each of the program's own write transactions: no slice starts meanwhile.
    class WriteTurn {
    public:
        explicit WriteTurn(LedgerSearchIndexer *indexer)
            : m_indexer(indexer) {
            if (m_indexer)
                m_indexer->m_writing.ref();
        }
        ~WriteTurn() {
            if (!m_indexer)
                return;
            m_indexer->m_lastWrite.storeRelaxed(m_indexer->m_clock.elapsed());
            m_indexer->m_writing.deref();
        }
        Q_DISABLE_COPY_MOVE(WriteTurn)

    private:
        LedgerSearchIndexer *m_indexer;
    };

private:
    void run(const QSqlDatabase &db);

    QAtomicInt m_writing;
    QElapsedTimer m_clock;
    QAtomicInteger<qint64> m_lastWrite; // by m_clock, when the last write ended
    QAtomicInt m_stopping;
    LedgerWorker m_worker; // last: its thread ends before the rest goes
};
