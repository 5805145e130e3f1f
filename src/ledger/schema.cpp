#include "ledger/schema.h"

#include "ledger/ledger.h"
#include "ledger/sql.h"

#include <QSqlDatabase>

#include <QLoggingCategory>

#include <array>

Q_DECLARE_LOGGING_CATEGORY(lcLedger)

static_assert(ledgerschema::kVersion == Ledger::kSchemaVersion);

using namespace ledgersql;

namespace ledgerschema {

namespace {

// Version 1 kept codes and attempts only.
SqlResult createVersion1(const QSqlDatabase &db) {
    for (const QString &sql :
         {QStringLiteral("CREATE TABLE codes(code TEXT PRIMARY KEY NOT NULL,"
                         " title TEXT NOT NULL DEFAULT '', size TEXT NOT NULL DEFAULT '',"
                         " mark TEXT NOT NULL DEFAULT '', first_seen INTEGER NOT NULL,"
                         " last_seen INTEGER NOT NULL)"),
          QStringLiteral("CREATE TABLE receives(code TEXT NOT NULL, at INTEGER NOT NULL,"
                         " kind INTEGER NOT NULL, marker TEXT NOT NULL DEFAULT '')")}) {
        if (const SqlResult failure = run(db, sql); !failure.ok())
            return failure;
    }
    return {};
}

// Version 2: where a code was seen, folded copies for the search, and the last attempt and
// last success beside each code so that the window sorts and greys rows without a join.
SqlResult upgradeToVersion2(const QSqlDatabase &db) {
    for (const char *sql : {
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
         }) {
        if (const SqlResult failure = run(db, QString::fromLatin1(sql)); !failure.ok())
            return failure;
    }
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
    for (const char *sql : {"ALTER TABLE codes ADD COLUMN key TEXT NOT NULL DEFAULT ''",
                            "CREATE INDEX codes_by_key ON codes(site, key, last_seen)"}) {
        if (const SqlResult failure = run(db, QString::fromLatin1(sql)); !failure.ok())
            return failure;
    }
    return {};
}

// Version 4: each code's claim, so that every Giftvane on the file posts a code at most once
// without being asked to: a receive the reply proved ("成功接收" decided it) is the claim of
// codes received before.
SqlResult upgradeToVersion4(const QSqlDatabase &db) {
    for (const char *sql : {"ALTER TABLE codes ADD COLUMN claim INTEGER NOT NULL DEFAULT 0",
                            "ALTER TABLE codes ADD COLUMN claim_at INTEGER",
                            "ALTER TABLE codes ADD COLUMN claim_by TEXT NOT NULL DEFAULT ''",
                            "UPDATE codes SET claim = 3, claim_at = (SELECT max(at) FROM receives r"
                            " WHERE r.code = codes.code AND r.kind = 1 AND r.marker = '成功接收')"
                            " WHERE code IN (SELECT code FROM receives WHERE kind = 1"
                            " AND marker = '成功接收')"}) {
        if (const SqlResult failure = run(db, QString::fromUtf8(sql)); !failure.ok())
            return failure;
    }
    return {};
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
constexpr std::array<Migration, kVersion> kMigrations{createVersion1, upgradeToVersion2, upgradeToVersion3,
                                                      upgradeToVersion4};

} // namespace

SqlResult prepare(const QSqlDatabase &db) {
    // A file this program cannot read, or one from a newer program, is left as it is.
    int version = 0;
    if (const SqlResult failure = readVersion(db, version); !failure.ok())
        return failure;
    // WAL lets one program read while another writes. In WAL, NORMAL loses no commit when a
    // program is killed; a power cut may lose the last ones, but never corrupts the file.
    // Checkpoints are the checkpointer's; this connection checkpoints only if the log grows
    // far beyond what that one lets it. A log that grew is cut back when it starts over.
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
                               "PRAGMA wal_autocheckpoint=20000", "PRAGMA journal_size_limit=8388608"}) {
        if (const SqlResult failure = run(db, QString::fromLatin1(pragma)); !failure.ok())
            return failure;
    }
    // The version again, inside the write transaction.
    WriteTransaction transaction(db);
    if (!transaction.result().ok())
        return transaction.result();
    if (const SqlResult failure = readVersion(db, version); !failure.ok())
        return failure;
    if (version == kVersion)
        return transaction.commit();
    for (int step = version; step < kVersion; ++step) {
        if (const SqlResult failure = kMigrations[step](db); !failure.ok())
            return failure;
    }
    if (const SqlResult failure = run(db, u"PRAGMA user_version=" + QString::number(kVersion)); !failure.ok())
        return failure;
    qCDebug(lcLedger) << "schema" << version << "->" << kVersion << db.databaseName();
    return transaction.commit();
}

} // namespace ledgerschema
