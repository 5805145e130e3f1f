#include "ledger/schema.h"

#include "ledger/ledger.h"
#include "ledger/sql.h"

#include <QSqlDatabase>

#include <QLoggingCategory>
#include <QScopeGuard>

#include <array>

Q_DECLARE_LOGGING_CATEGORY(lcLedger)

static_assert(ledgerschema::kVersion == Ledger::kSchemaVersion);

using namespace ledgersql;

namespace ledgerschema {

namespace {

// Version 1 kept codes and attempts only.
SqlResult createVersion1(const QSqlDatabase &db) {
    return runEach(db, {QStringLiteral("CREATE TABLE codes(code TEXT PRIMARY KEY NOT NULL,"
                                       " title TEXT NOT NULL DEFAULT '', size TEXT NOT NULL DEFAULT '',"
                                       " mark TEXT NOT NULL DEFAULT '', first_seen INTEGER NOT NULL,"
                                       " last_seen INTEGER NOT NULL)"),
                        QStringLiteral("CREATE TABLE receives(code TEXT NOT NULL, at INTEGER NOT NULL,"
                                       " kind INTEGER NOT NULL, marker TEXT NOT NULL DEFAULT '')")});
}

// Version 2: where a code was seen, folded copies for the search, and the last attempt and
// last success beside each code so that the window sorts and greys rows without a join.
SqlResult upgradeToVersion2(const QSqlDatabase &db) {
    if (const SqlResult failure = runEach(
            db,
            {
                "ALTER TABLE codes ADD COLUMN site TEXT NOT NULL DEFAULT ''",
                "ALTER TABLE codes ADD COLUMN tab TEXT NOT NULL DEFAULT ''",
                "ALTER TABLE codes ADD COLUMN source TEXT NOT NULL DEFAULT ''",
                "ALTER TABLE codes ADD COLUMN code_folded TEXT NOT NULL DEFAULT ''",
                "ALTER TABLE codes ADD COLUMN title_folded TEXT NOT NULL DEFAULT ''",
                "ALTER TABLE codes ADD COLUMN last_kind INTEGER",
                "ALTER TABLE codes ADD COLUMN last_tried INTEGER",
                "ALTER TABLE codes ADD COLUMN received_at INTEGER",
                "CREATE INDEX codes_by_last_seen ON codes(last_seen)",
                "CREATE INDEX receives_by_code ON receives(code, at)",
                // Version 1 could record an attempt for a code it had not seen.
                "INSERT OR IGNORE INTO codes(code, first_seen, last_seen)"
                " SELECT code, min(at), max(at) FROM receives GROUP BY code",
                "UPDATE codes SET"
                " last_tried = (SELECT max(at) FROM receives r WHERE r.code = codes.code),"
                " last_kind = (SELECT kind FROM receives r WHERE r.code = codes.code"
                "  ORDER BY at DESC, rowid DESC LIMIT 1),"
                " received_at = (SELECT max(at) FROM receives r WHERE r.code = codes.code AND kind = 1)",
            });
        !failure.ok())
        return failure;
    QSqlQuery read(db);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT rowid, code, title FROM codes")))
        return resultOf(read.lastError());
    QSqlQuery fold(db);
    fold.prepare(QStringLiteral("UPDATE codes SET code_folded = ?, title_folded = ? WHERE rowid = ?"));
    while (read.next()) {
        if (const SqlResult failure = run(
                fold, {folded(read.value(1).toString()), folded(read.value(2).toString()), read.value(0)});
            !failure.ok())
            return failure;
    }
    return read.lastError().isValid() ? resultOf(read.lastError()) : SqlResult();
}

// Version 3: the resource each code was found for (its detail path or resource id, on its site),
// so that a harvest can take a known code for a resource instead of resolving it afresh.
SqlResult upgradeToVersion3(const QSqlDatabase &db) {
    return runEach(db, {"ALTER TABLE codes ADD COLUMN key TEXT NOT NULL DEFAULT ''",
                        "CREATE INDEX codes_by_key ON codes(site, key, last_seen)"});
}

// Version 4: each code's claim, so that every Giftvane on the file posts a code at most once
// without being asked to: a receive the reply proved ("成功接收" decided it) is the claim of
// codes received before.
SqlResult upgradeToVersion4(const QSqlDatabase &db) {
    return runEach(db, {"ALTER TABLE codes ADD COLUMN claim INTEGER NOT NULL DEFAULT 0",
                        "ALTER TABLE codes ADD COLUMN claim_at INTEGER",
                        "ALTER TABLE codes ADD COLUMN claim_by TEXT NOT NULL DEFAULT ''",
                        "UPDATE codes SET claim = 3, claim_at = (SELECT max(at) FROM receives r"
                        " WHERE r.code = codes.code AND r.kind = 1 AND r.marker = '成功接收')"
                        " WHERE code IN (SELECT code FROM receives WHERE kind = 1"
                        " AND marker = '成功接收')"});
}

// Where prepare() reports a long migration's progress; set only while it runs, so that every
// migration keeps the one signature.
const Progress *migrationProgress = nullptr;

void reportProgress(qint64 done, qint64 total) {
    if (migrationProgress && *migrationProgress)
        (*migrationProgress)(done, total);
}

// Version 5: the counts that 接收记录 shows and a trigram index for its search, both kept by
// triggers, so that they follow every write to codes, whoever makes it and whatever columns
// codes gains later. The search index refers to codes by rowid: codes has no INTEGER PRIMARY
// KEY, so a VACUUM (which may renumber rowids) must rebuild it ('rebuild').
SqlResult addCountsAndSearch(const QSqlDatabase &db) {
    // The same split as a full count: received, else void by its mark, else pending.
    const auto counted = [](const char *row) {
        return QStringLiteral("received = received + (%1.received_at IS NOT NULL) * %2,"
                              " voided = voided + (%1.received_at IS NULL AND instr(%1.mark, '×') > 0) * %2")
            .arg(QLatin1StringView(row));
    };
    if (const SqlResult failure = runEach(
            db,
            QStringList{
                QStringLiteral("CREATE TABLE code_counts(received INTEGER NOT NULL, voided INTEGER NOT NULL,"
                               " total INTEGER NOT NULL)"),
                QStringLiteral(
                    "INSERT INTO code_counts SELECT count(received_at),"
                    " coalesce(sum(received_at IS NULL AND instr(mark, '×') > 0), 0), count(*) FROM codes"),
                u"CREATE TRIGGER codes_counted_in AFTER INSERT ON codes BEGIN UPDATE code_counts SET " +
                    counted("new").arg(1) + u", total = total + 1; END",
                u"CREATE TRIGGER codes_counted_out AFTER DELETE ON codes BEGIN UPDATE code_counts SET " +
                    counted("old").arg(-1) + u", total = total - 1; END",
                // Most updates (a code seen again) move no count: they leave the counts table alone.
                u"CREATE TRIGGER codes_recounted AFTER UPDATE OF received_at, mark ON codes"
                u" WHEN (old.received_at IS NULL) != (new.received_at IS NULL)"
                u" OR instr(old.mark, '×') > 0 != instr(new.mark, '×') > 0"
                u" BEGIN UPDATE code_counts SET " +
                    counted("old").arg(-1) + u"; UPDATE code_counts SET " + counted("new").arg(1) + u"; END",
                // The texts are folded by the program (SQLite folds only ASCII), so the index keeps
                // them as they are; a phrase of trigrams then finds exactly the substrings.
                QStringLiteral(
                    "CREATE VIRTUAL TABLE codes_search USING fts5(code_folded, title_folded,"
                    " content='codes', content_rowid='rowid', tokenize='trigram case_sensitive 1')"),
                QStringLiteral("CREATE TRIGGER codes_searched_in AFTER INSERT ON codes BEGIN"
                               " INSERT INTO codes_search(rowid, code_folded, title_folded)"
                               " VALUES(new.rowid, new.code_folded, new.title_folded); END"),
                QStringLiteral("CREATE TRIGGER codes_searched_out AFTER DELETE ON codes BEGIN"
                               " INSERT INTO codes_search(codes_search, rowid, code_folded, title_folded)"
                               " VALUES('delete', old.rowid, old.code_folded, old.title_folded); END"),
                QStringLiteral(
                    "CREATE TRIGGER codes_researched AFTER UPDATE OF code_folded, title_folded ON codes"
                    " WHEN old.code_folded != new.code_folded OR old.title_folded != new.title_folded"
                    " BEGIN INSERT INTO codes_search(codes_search, rowid, code_folded, title_folded)"
                    " VALUES('delete', old.rowid, old.code_folded, old.title_folded);"
                    " INSERT INTO codes_search(rowid, code_folded, title_folded)"
                    " VALUES(new.rowid, new.code_folded, new.title_folded); END"),
            });
        !failure.ok())
        return failure;
    // The codes so far, a slice at a time, so that the user sees how far it is.
    QSqlQuery count(db);
    if (!count.exec(QStringLiteral("SELECT count(*), coalesce(max(rowid), 0) FROM codes")) || !count.next())
        return resultOf(count.lastError());
    const qint64 total = count.value(0).toLongLong();
    const qint64 last = count.value(1).toLongLong();
    QSqlQuery slice(db);
    slice.prepare(
        QStringLiteral("INSERT INTO codes_search(rowid, code_folded, title_folded)"
                       " SELECT rowid, code_folded, title_folded FROM codes WHERE rowid > ? AND rowid <= ?"));
    constexpr qint64 kSlice = 20000;
    reportProgress(0, total);
    qint64 done = 0;
    for (qint64 from = 0; from < last; from += kSlice) {
        if (const SqlResult failure = run(slice, {from, from + kSlice}); !failure.ok())
            return failure;
        done += slice.numRowsAffected();
        reportProgress(qMin(done, total), total);
    }
    return {};
}

// Version 6: the search index is no longer kept by the writes themselves. Indexing a code's
// trigrams cost several times its write; now a write only queues the changed row in
// codes_unindexed, with what the index holds for it (nothing for a new row, the old texts
// otherwise: an external-content index can only forget the texts it was given), and
// LedgerSearchIndexer brings the index up from the queue in the background. A row is either
// queued or indexed as it stands, so searches that look at the queue too find what a plain
// search finds. A row queued already stays as it was queued: the index still holds what it held
// before the first change. (Not OR IGNORE: an upsert's own conflict handling overrides a
// trigger's.)
SqlResult queueSearchIndexing(const QSqlDatabase &db) {
    return runEach(
        db, {
                "DROP TRIGGER codes_searched_in",
                "DROP TRIGGER codes_searched_out",
                "DROP TRIGGER codes_researched",
                "CREATE TABLE codes_unindexed(id INTEGER PRIMARY KEY, code_folded TEXT, title_folded TEXT)",
                "CREATE TRIGGER codes_unindexed_in AFTER INSERT ON codes BEGIN"
                " INSERT INTO codes_unindexed(id) SELECT new.rowid"
                " WHERE NOT EXISTS (SELECT 1 FROM codes_unindexed WHERE id = new.rowid); END",
                "CREATE TRIGGER codes_unindexed_out AFTER DELETE ON codes BEGIN"
                " INSERT INTO codes_unindexed SELECT old.rowid, old.code_folded, old.title_folded"
                " WHERE NOT EXISTS (SELECT 1 FROM codes_unindexed WHERE id = old.rowid); END",
                "CREATE TRIGGER codes_unindexed_changed AFTER UPDATE OF code_folded, title_folded ON codes"
                " WHEN old.code_folded != new.code_folded OR old.title_folded != new.title_folded BEGIN"
                " INSERT INTO codes_unindexed SELECT old.rowid, old.code_folded, old.title_folded"
                " WHERE NOT EXISTS (SELECT 1 FROM codes_unindexed WHERE id = old.rowid); END",
            });
}

// Version 7: a new row is no longer queued by a trigger of its own, which cost about a fifth
// of its write; the rows above codes_index_mark are the ones the index has not taken yet, and
// LedgerSearchIndexer moves the mark as it takes them. The queue keeps the changes to rows at
// or below the mark: a row changed or deleted there, and a row that takes a deleted row's rowid
// again. A row above the mark is indexed as it stands whatever happens to it before, so its
// changes are not queued (the index must never be told to forget texts it was not given).
SqlResult indexAboveAMark(const QSqlDatabase &db) {
    const QString belowMark = QStringLiteral("%1.rowid <= (SELECT upto FROM codes_index_mark)");
    const QString queueOld = QStringLiteral(
        " BEGIN INSERT INTO codes_unindexed SELECT old.rowid, old.code_folded, old.title_folded"
        " WHERE NOT EXISTS (SELECT 1 FROM codes_unindexed WHERE id = old.rowid); END");
    return runEach(
        db, QStringList{
                QStringLiteral("CREATE TABLE codes_index_mark(upto INTEGER NOT NULL)"),
                // Past the rowids still queued too (a version 6 queue keeps rows since deleted): a row
                // that takes one of them again must join its queued entry, not be indexed twice.
                QStringLiteral(
                    "INSERT INTO codes_index_mark SELECT max(coalesce((SELECT max(rowid) FROM codes), 0),"
                    " coalesce((SELECT max(id) FROM codes_unindexed), 0))"),
                QStringLiteral("DROP TRIGGER codes_unindexed_in"),
                QStringLiteral("DROP TRIGGER codes_unindexed_out"),
                QStringLiteral("DROP TRIGGER codes_unindexed_changed"),
                u"CREATE TRIGGER codes_unindexed_in AFTER INSERT ON codes WHEN " + belowMark.arg(u"new") +
                    u" BEGIN INSERT INTO codes_unindexed(id) SELECT new.rowid"
                    u" WHERE NOT EXISTS (SELECT 1 FROM codes_unindexed WHERE id = new.rowid); END",
                u"CREATE TRIGGER codes_unindexed_out AFTER DELETE ON codes WHEN " + belowMark.arg(u"old") +
                    queueOld,
                u"CREATE TRIGGER codes_unindexed_changed AFTER UPDATE OF code_folded, title_folded ON codes"
                u" WHEN (old.code_folded != new.code_folded OR old.title_folded != new.title_folded) AND " +
                    belowMark.arg(u"old") + queueOld,
            });
}

// The file's schema version; a file from a newer program is refused, never written.
SqlResult readVersion(const QSqlDatabase &db, int &version) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return resultOf(query.lastError());
    version = query.value(0).toInt();
    if (version > kVersion)
        return {u"written by a newer Giftvane (schema " + QString::number(version) + u")"};
    return {};
}

using Migration = SqlResult (*)(const QSqlDatabase &);
// kMigrations[n] takes a file from version n to n + 1.
constexpr std::array<Migration, kVersion> kMigrations{
    createVersion1,     upgradeToVersion2,   upgradeToVersion3, upgradeToVersion4,
    addCountsAndSearch, queueSearchIndexing, indexAboveAMark};

} // namespace

SqlResult prepare(const QSqlDatabase &db, const Progress &progress, int upTo) {
    migrationProgress = &progress;
    const auto reported = qScopeGuard([] { migrationProgress = nullptr; });
    // A file this program cannot read, or one from a newer program, is left as it is.
    int version = 0;
    if (const SqlResult failure = readVersion(db, version); !failure.ok())
        return failure;
    // WAL lets one program read while another writes. In WAL, NORMAL loses no commit when a
    // program is killed; a power cut may lose the last ones, but never corrupts the file.
    // Checkpoints are the checkpointer's; this connection checkpoints only if the log grows
    // far beyond what that one lets it. A log is reused from its start, and cut back only past
    // 64 MiB: cutting tens of megabytes drops their cached pages in the kernel, tens of
    // milliseconds the writing thread (the window's) would wait at every start-over, while a
    // program left running for weeks must not keep a log of any size it once reached. A
    // harvest's new codes land all over the code index: at a million codes its pages no longer
    // fit SQLite's default 2 MiB cache, and each write would read them back from the system;
    // 32 MiB keeps most of them.
    if (const SqlResult failure = runEach(
            db, {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA wal_autocheckpoint=20000",
                 "PRAGMA journal_size_limit=67108864", "PRAGMA cache_size=-32768"});
        !failure.ok())
        return failure;
    // The version again, inside the write transaction.
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    if (const SqlResult failure = readVersion(db, version); !failure.ok())
        return failure;
    if (version >= upTo)
        return transaction.commit();
    for (int step = version; step < upTo; ++step) {
        if (const SqlResult failure = kMigrations[step](db); !failure.ok())
            return failure;
    }
    if (const SqlResult failure = run(db, u"PRAGMA user_version=" + QString::number(upTo)); !failure.ok())
        return failure;
    qCDebug(lcLedger) << "schema" << version << "->" << upTo << db.databaseName();
    return transaction.commit();
}

namespace {

// The oldest queued changes, at most atMost: what the index holds for them goes, then what the
// rows hold now (none, for a row that went) comes in.
SqlResult indexChanges(const QSqlDatabase &db, int atMost, int &done) {
    QSqlQuery last(db);
    last.prepare(QStringLiteral("SELECT max(id), count(*) FROM"
                                " (SELECT id FROM codes_unindexed ORDER BY id LIMIT ?)"));
    if (const SqlResult failure = run(last, {atMost}); !failure.ok())
        return failure;
    const qint64 upTo = last.next() ? last.value(0).toLongLong() : 0;
    done = last.value(1).toInt();
    last.finish();
    if (done == 0)
        return {};
    for (const char *sql : {
             "INSERT INTO codes_search(codes_search, rowid, code_folded, title_folded)"
             " SELECT 'delete', id, code_folded, title_folded FROM codes_unindexed"
             " WHERE id <= ? AND code_folded IS NOT NULL",
             "INSERT INTO codes_search(rowid, code_folded, title_folded)"
             " SELECT codes.rowid, codes.code_folded, codes.title_folded"
             " FROM codes_unindexed CROSS JOIN codes ON codes.rowid = codes_unindexed.id"
             " WHERE codes_unindexed.id <= ?",
             "DELETE FROM codes_unindexed WHERE id <= ?",
         }) {
        QSqlQuery step(db);
        step.prepare(QString::fromLatin1(sql));
        if (const SqlResult failure = run(step, {upTo}); !failure.ok())
            return failure;
    }
    return {};
}

// The new rows just above the mark, at most atMost, and the mark past them.
SqlResult indexNewRows(const QSqlDatabase &db, int atMost, int &done) {
    done = 0;
    QSqlQuery next(db);
    next.prepare(QStringLiteral("SELECT max(rowid), count(*), (SELECT upto FROM codes_index_mark) FROM"
                                " (SELECT rowid FROM codes WHERE rowid > (SELECT upto FROM codes_index_mark)"
                                " ORDER BY rowid LIMIT ?)"));
    if (const SqlResult failure = run(next, {atMost}); !failure.ok())
        return failure;
    if (!next.next() || next.value(1).toInt() == 0)
        return {};
    const qint64 upTo = next.value(0).toLongLong();
    const qint64 from = next.value(2).toLongLong();
    done = next.value(1).toInt();
    next.finish();
    QSqlQuery add(db);
    add.prepare(
        QStringLiteral("INSERT INTO codes_search(rowid, code_folded, title_folded)"
                       " SELECT rowid, code_folded, title_folded FROM codes WHERE rowid > ? AND rowid <= ?"));
    if (const SqlResult failure = run(add, {from, upTo}); !failure.ok())
        return failure;
    QSqlQuery move(db);
    move.prepare(QStringLiteral("UPDATE codes_index_mark SET upto = ?"));
    return run(move, {upTo});
}

} // namespace

SqlResult indexQueued(const QSqlDatabase &db, int atMost, int &done) {
    done = 0;
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    int changes = 0, added = 0;
    if (const SqlResult failure = indexChanges(db, atMost, changes); !failure.ok())
        return failure;
    if (const SqlResult failure = indexNewRows(db, atMost - changes, added); !failure.ok())
        return failure;
    done = changes + added;
    return done == 0 ? SqlResult() : transaction.commit();
}

} // namespace ledgerschema
