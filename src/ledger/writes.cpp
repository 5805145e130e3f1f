#include "ledger/checkpointer.h"
#include "ledger/ledger.h"
#include "ledger/sql.h"

using namespace ledgersql;

// The write path: one transaction per harvest and per receive, and a checkpoint now and then.

void Ledger::written(int rows) {
    m_unsynced += rows;
    if (m_unsynced >= kCheckpointRows) {
        m_unsynced = 0;
        m_checkpointer->request();
    }
}

void Ledger::recordHarvest(const QList<SeenCode> &rows) {
    if (!m_on)
        return;
    if (const QString failure = writeHarvest(rows); !failure.isEmpty())
        return turnOff(failure);
    written(int(rows.size()));
    Q_EMIT changed();
}

QString Ledger::writeHarvest(const QList<SeenCode> &rows) {
    const QSqlDatabase db = database();
    WriteTransaction transaction(db);
    if (!transaction.failure().isEmpty())
        return transaction.failure();
    // A field seen empty (a block without a title, a gift page that could not be read) keeps
    // what an earlier harvest knew.
    QString keep;
    for (const char *column : {"title", "size", "site", "tab", "source", "mark"})
        keep += QStringLiteral("%1 = CASE WHEN excluded.%1 = '' THEN %1 ELSE excluded.%1 END, ")
                    .arg(QLatin1StringView(column));
    QSqlQuery upsert(db);
    upsert.prepare(
        u"INSERT INTO codes(code, title, size, site, tab, source, mark, first_seen, last_seen,"
        u" code_folded, title_folded) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
        u" ON CONFLICT(code) DO UPDATE SET " +
        keep +
        u"title_folded = CASE WHEN excluded.title = '' THEN title_folded ELSE excluded.title_folded END,"
        u" last_seen = excluded.last_seen");
    const qint64 seen = now();
    for (const SeenCode &row : rows) {
        if (row.code.isEmpty())
            continue;
        if (const QString failure = run(upsert, {row.code, text(row.title), text(row.size), text(row.site),
                                                 text(row.tab), text(row.source), text(row.mark), seen, seen,
                                                 folded(row.code), folded(row.title)});
            !failure.isEmpty())
            return failure;
    }
    return transaction.commit();
}

void Ledger::recordReceive(const QString &code, const QString &title, ReceiveKind kind,
                           const QString &marker) {
    if (!m_on || code.isEmpty())
        return;
    if (const QString failure = writeReceive(code, title, kind, marker); !failure.isEmpty())
        return turnOff(failure);
    written(1);
    Q_EMIT changed();
}

QString Ledger::writeReceive(const QString &code, const QString &title, ReceiveKind kind,
                             const QString &marker) {
    const QSqlDatabase db = database();
    WriteTransaction transaction(db);
    if (!transaction.failure().isEmpty())
        return transaction.failure();
    const qint64 at = now();
    QSqlQuery upsert(db);
    upsert.prepare(QStringLiteral(
        "INSERT INTO codes(code, title, first_seen, last_seen, code_folded, title_folded, last_kind,"
        " last_tried, received_at) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(code) DO UPDATE SET"
        " title = CASE WHEN title = '' THEN excluded.title ELSE title END,"
        " title_folded = CASE WHEN title = '' THEN excluded.title_folded ELSE title_folded END,"
        " last_kind = excluded.last_kind, last_tried = excluded.last_tried,"
        " received_at = coalesce(excluded.received_at, received_at)"));
    const QVariant receivedAt =
        kind == ReceiveKind::Received ? QVariant(at) : QVariant(QMetaType::fromType<qint64>());
    if (const QString failure =
            run(upsert, {code, text(title), at, at, folded(code), folded(title), int(kind), at, receivedAt});
        !failure.isEmpty())
        return failure;
    QSqlQuery attempt(db);
    attempt.prepare(QStringLiteral("INSERT INTO receives(code, at, kind, marker) VALUES(?, ?, ?, ?)"));
    if (const QString failure = run(attempt, {code, at, int(kind), text(marker)}); !failure.isEmpty())
        return failure;
    return transaction.commit();
}
