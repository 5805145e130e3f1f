#include "ledger/searchindexer.h"

#include "ledger/schema.h"
#include "ledger/sql.h"

#include <QElapsedTimer>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLedger)

namespace {

// A slice holds the file this long, about: a write of the window's waits no longer.
constexpr qint64 kSliceNs = 3'000'000;
// Writes this close together are a burst (a harvest's pages, a batch of receives): the index
// waits for its end.
constexpr qint64 kQuietMs = 100;
// Another program holding the file is waited for, up to this between tries.
constexpr int kLongestWaitMs = 100;

} // namespace

LedgerSearchIndexer::LedgerSearchIndexer(const QString &path, const QString &connection)
    // As the writing connection's (schema.cpp): a slice's commit appends to the log without
    // waiting for the disk. The index's pages that the slices go back to stay in the cache.
    : m_worker(
          path, connection,
          {QStringLiteral("PRAGMA synchronous=NORMAL"), QStringLiteral("PRAGMA cache_size=-16384")},
          [this](const QSqlDatabase &db) { run(db); }, QThread::LowPriority) {
    m_clock.start();
    m_lastWrite.storeRelaxed(-kQuietMs);
}

LedgerSearchIndexer::~LedgerSearchIndexer() {
    m_stopping.storeRelaxed(1);
}

void LedgerSearchIndexer::request() {
    m_worker.request();
}

// A file another program holds is tried again below, without SQLite's sleeps in between, so
// that the stop is heard.
void LedgerSearchIndexer::run(const QSqlDatabase &db) {
    int slice = 32; // rows; fitted to kSliceNs as it goes
    int waitMs = 1;
    while (!m_stopping.loadRelaxed()) {
        if (m_writing.loadAcquire() > 0) {
            QThread::usleep(200);
            continue;
        }
        if (const qint64 quiet = m_lastWrite.loadRelaxed() + kQuietMs - m_clock.elapsed(); quiet > 0) {
            QThread::msleep(quiet);
            continue;
        }
        QElapsedTimer clock;
        clock.start();
        int done = 0;
        const ledgersql::SqlResult result = ledgerschema::indexQueued(db, slice, done);
        if (result.transient) {
            QThread::msleep(waitMs);
            waitMs = qMin(waitMs * 2, kLongestWaitMs);
            continue;
        }
        if (!result.ok()) {
            // Left queued: searches still find those rows; the next request tries again.
            qCDebug(lcLedger) << "indexing failed:" << db.databaseName() << result.failure;
            return;
        }
        if (done == 0)
            return;
        waitMs = 1;
        slice =
            int(qBound(qint64(8), slice * kSliceNs / qMax(clock.nsecsElapsed(), qint64(1)), qint64(4096)));
    }
}
