#include "ledger/ledger.h"
#include "ledger/nativestatement.h"
#include "ledger/searchindexer.h"
#include "ledger/sql.h"
#include "ledger/worker.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLedger)

using namespace ledgersql;

// The write path: one transaction per harvest and per receive; what the file cannot take now
// waits and is tried again; a checkpoint now and then.

void Ledger::recordHarvest(const QList<SeenCode> &rows) {
    // Cut as they will be kept now: what waits for a busy file holds no more than that.
    QList<SeenCode> kept = rows;
    for (SeenCode &row : kept) {
        for (QString *field : {&row.code, &row.title, &row.size, &row.source, &row.key})
            *field = text(*field);
    }
    enqueue({now(), kept, {}, {}, {}, {}});
}

void Ledger::recordReceive(const QString &code, const QString &title, ReceiveKind kind, const QString &marker,
                           bool proven) {
    if (!code.isEmpty())
        enqueue({now(),
                 {},
                 text(code),
                 text(title),
                 text(marker),
                 kind,
                 proven && kind == ReceiveKind::Received});
}

Claim Ledger::claim(const QString &code, const QString &title, bool force) {
    Claim claim;
    if (m_gaveUp) {
        claim.why = m_whyOff;
        return claim;
    }
    // What waits goes first: an earlier post's outcome must not land after this claim.
    if (!flush()) {
        claim.why = m_gaveUp ? m_whyOff : QStringLiteral("busy");
        return claim;
    }
    const SqlResult result = [&] {
        const LedgerSearchIndexer::WriteTurn turn(m_indexer.get());
        return writeClaim(text(code), text(title), force, claim);
    }();
    if (!result.ok()) {
        claim.result = Claim::Result::NotWritten;
        claim.why = result.failure;
        if (!result.transient)
            turnOff(result.failure);
        return claim;
    }
    if (claim.result == Claim::Result::Taken) {
        m_indexer->request();
        Q_EMIT changed();
    }
    return claim;
}

SqlResult Ledger::writeClaim(const QString &code, const QString &title, bool force, Claim &claim) {
    const QSqlDatabase db = database();
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    QSqlQuery read(db);
    read.prepare(QStringLiteral("SELECT claim FROM codes WHERE code = ?"));
    if (const SqlResult failure = run(read, {code}); !failure.ok())
        return failure;
    const ClaimState held = read.next() ? ClaimState(read.value(0).toInt()) : ClaimState::Free;
    read.finish();
    if (held != ClaimState::Free && !force) {
        claim.result = Claim::Result::Held;
        claim.held = held;
        return {};
    }
    const qint64 at = now();
    QSqlQuery upsert(db);
    upsert.prepare(QStringLiteral(
        "INSERT INTO codes(code, title, first_seen, last_seen, code_folded, title_folded, claim, claim_at,"
        " claim_by) VALUES(?, ?, ?, ?, ?, ?, 1, ?, ?) ON CONFLICT(code) DO UPDATE SET"
        " claim = 1, claim_at = excluded.claim_at, claim_by = excluded.claim_by"));
    if (const SqlResult failure =
            run(upsert, {code, text(title), at, at, folded(code), folded(title), at, m_process});
        !failure.ok())
        return failure;
    if (const SqlResult failure = transaction.commit(); !failure.ok())
        return failure;
    claim.result = Claim::Result::Taken;
    return {};
}

SqlResult Ledger::settleAbandonedClaims() {
    const QSqlDatabase db = database();
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    QSqlQuery settle(db);
    settle.prepare(
        QStringLiteral("UPDATE codes SET claim = 2, last_kind = ? WHERE claim = 1 AND claim_at < ?"));
    if (const SqlResult failure = run(settle, {int(ReceiveKind::Unknown), now() - kClaimLifetimeMs});
        !failure.ok())
        return failure;
    const int settled = settle.numRowsAffected();
    if (const SqlResult failure = transaction.commit(); !failure.ok())
        return failure;
    m_claimsLeftUnknown = settled;
    return {};
}

void Ledger::enqueue(Write write) {
    if (m_gaveUp)
        return;
    m_waiting.append(std::move(write));
    // Behind writes that wait already, in order; the retry timer brings them.
    if (!m_retry.isActive())
        flush();
}

bool Ledger::flush() {
    if (m_gaveUp)
        m_waiting.clear();
    if (m_waiting.isEmpty())
        return true;
    if (!m_on && !open())
        return false;
    while (!m_waiting.isEmpty()) {
        const SqlResult result = [&] {
            const LedgerSearchIndexer::WriteTurn turn(m_indexer.get());
            return write(m_waiting.first());
        }();
        if (result.transient) {
            qCDebug(lcLedger) << "busy, trying again later:" << m_path << result.failure;
            retryLater();
            return false;
        }
        if (!result.ok()) {
            turnOff(result.failure);
            return false;
        }
        const Write done = m_waiting.takeFirst();
        m_indexer->request();
        m_unsynced += done.harvest.isEmpty() ? 1 : int(done.harvest.size());
        if (m_unsynced >= kCheckpointRows) {
            m_unsynced = 0;
            m_checkpointer->request();
        }
        QStringList codes;
        if (done.harvest.isEmpty())
            codes.append(done.code);
        for (const SeenCode &row : done.harvest) {
            if (!row.code.isEmpty())
                codes.append(row.code);
        }
        Q_EMIT changed();
        Q_EMIT recorded(codes);
    }
    m_retry.stop();
    m_retryMs = kFirstRetryMs;
    return true;
}

void Ledger::retryLater() {
    m_retry.start(m_retryMs);
    m_retryMs = qMin(m_retryMs * 2, kLongestRetryMs);
}

SqlResult Ledger::write(const Write &write) {
    return write.harvest.isEmpty() ? writeReceive(write) : writeHarvest(write.harvest, write.at);
}

SqlResult Ledger::writeHarvest(const QList<SeenCode> &rows, qint64 seen) {
    const QSqlDatabase db = database();
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    if (!m_seen)
        m_seen = std::make_unique<NativeStatement>();
    if (!m_seen->isPrepared()) {
        // A field seen empty (a block without a title, a gift page that could not be read)
        // keeps what an earlier harvest knew.
        QString keep;
        for (const char *column : {"title", "size", "site", "tab", "source", "mark", "key"})
            keep += QStringLiteral("%1 = CASE WHEN excluded.%1 = '' THEN %1 ELSE excluded.%1 END, ")
                        .arg(QLatin1StringView(column));
        keep +=
            u"title_folded = CASE WHEN excluded.title = '' THEN title_folded ELSE excluded.title_folded END";
        // Prepared again next time when the file is busy now.
        if (const SqlResult failure = m_seen->prepare(
                db,
                u"INSERT INTO codes(code, title, size, site, tab, source, mark, key, first_seen, last_seen,"
                u" code_folded, title_folded) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                u" ON CONFLICT(code) DO UPDATE SET " +
                    keep + u", last_seen = excluded.last_seen");
            !failure.ok())
            return failure;
    }
    for (const SeenCode &row : rows) {
        if (row.code.isEmpty())
            continue;
        if (const SqlResult failure =
                m_seen->run({text(row.code), text(row.title), text(row.size), text(row.site), text(row.tab),
                             text(row.source), text(row.mark), text(row.key), seen, seen, folded(row.code),
                             folded(row.title)});
            !failure.ok())
            return failure;
    }
    return transaction.commit();
}

SqlResult Ledger::writeReceive(const Write &attempt) {
    const QSqlDatabase db = database();
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    const qint64 at = attempt.at;
    const QString code = text(attempt.code);
    // The outcome settles the claim: proven stays proven (a later failure by hand does not undo
    // a receive), a post without an answer stays unknown, anything else sets the code free.
    if (const SqlResult failure = prepared(
            m_tried,
            QStringLiteral(
                "INSERT INTO codes(code, title, first_seen, last_seen, code_folded, title_folded, last_kind,"
                " last_tried, received_at, claim, claim_at) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                " ON CONFLICT(code) DO UPDATE SET"
                " title = CASE WHEN title = '' THEN excluded.title ELSE title END,"
                " title_folded = CASE WHEN title = '' THEN excluded.title_folded ELSE title_folded END,"
                " last_kind = excluded.last_kind, last_tried = excluded.last_tried,"
                " received_at = coalesce(excluded.received_at, received_at),"
                " claim = CASE WHEN claim = 3 AND excluded.claim = 0 THEN 3 ELSE excluded.claim END,"
                " claim_at = CASE WHEN claim = 3 AND excluded.claim = 0 THEN claim_at ELSE excluded.claim_at "
                "END"));
        !failure.ok())
        return failure;
    const QVariant receivedAt =
        attempt.kind == ReceiveKind::Received ? QVariant(at) : QVariant(QMetaType::fromType<qint64>());
    const ClaimState settled = attempt.proven                         ? ClaimState::Proven
                               : attempt.kind == ReceiveKind::Unknown ? ClaimState::Unknown
                                                                      : ClaimState::Free;
    if (const SqlResult failure =
            run(*m_tried, {code, text(attempt.title), at, at, folded(code), folded(attempt.title),
                           int(attempt.kind), at, receivedAt, int(settled), at});
        !failure.ok())
        return failure;
    if (const SqlResult failure = prepared(
            m_attempt, QStringLiteral("INSERT INTO receives(code, at, kind, marker) VALUES(?, ?, ?, ?)"));
        !failure.ok())
        return failure;
    if (const SqlResult failure = run(*m_attempt, {code, at, int(attempt.kind), text(attempt.marker)});
        !failure.ok())
        return failure;
    return transaction.commit();
}

SqlResult Ledger::prepared(std::unique_ptr<QSqlQuery> &kept, const QString &sql) {
    if (kept)
        return {};
    kept = std::make_unique<QSqlQuery>(database());
    if (kept->prepare(sql))
        return {};
    // Prepared again next time: the file may be busy now.
    const SqlResult failure = resultOf(kept->lastError());
    kept.reset();
    return failure;
}
