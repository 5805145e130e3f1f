#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// Small helpers of the ledger's own SQL; nothing outside src/ledger uses them.
namespace ledgersql {

// Qt binds a null QString as SQL NULL; the text columns hold '' instead. A field from a site
// is kept up to 64 KiB: more is no title or code anyone needs, and would only fill the file.
inline constexpr qsizetype kFieldLimit = 64 * 1024;
inline QString text(const QString &value) {
    return value.isNull() ? QStringLiteral("") : value.left(kFieldLimit);
}

// Searches run over case-folded copies: SQLite's own case folding knows only ASCII.
inline QString folded(const QString &value) {
    return text(value).toCaseFolded();
}

inline QString reasonOf(const QSqlError &error) {
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// How a statement went: why it failed, if it did, and whether the same may succeed later.
struct SqlResult {
    QString failure;        // empty on success
    bool transient = false; // another program holds the file, or the disk is full

    bool ok() const { return failure.isEmpty(); }
};

// What may succeed later, by SQLite's result code: SQLITE_BUSY, SQLITE_LOCKED, SQLITE_FULL.
inline bool isTransient(int sqliteCode) {
    const int primary = sqliteCode & 0xFF;
    return primary == 5 || primary == 6 || primary == 13;
}

inline SqlResult resultOf(const QSqlError &error) {
    return {reasonOf(error), isTransient(error.nativeErrorCode().toInt())};
}

// Runs one statement.
inline SqlResult run(const QSqlDatabase &db, const QString &sql) {
    QSqlQuery query(db);
    return query.exec(sql) ? SqlResult() : resultOf(query.lastError());
}

// Runs the statements in turn; the first that fails ends it.
inline SqlResult runEach(const QSqlDatabase &db, const QStringList &statements) {
    for (const QString &sql : statements) {
        if (const SqlResult failure = run(db, sql); !failure.ok())
            return failure;
    }
    return {};
}
inline SqlResult runEach(const QSqlDatabase &db, std::initializer_list<const char *> statements) {
    QStringList all;
    for (const char *sql : statements)
        all.append(QString::fromUtf8(sql));
    return runEach(db, all);
}

// Runs a prepared statement with these values.
inline SqlResult run(QSqlQuery &query, const QVariantList &values) {
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() ? SqlResult() : resultOf(query.lastError());
}

// A write transaction taken at once (not on the first write), so that a busy file is met
// within the busy time-out instead of failing half-way; rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(const QSqlDatabase &db)
        : m_db(db)
        , m_failure(run(db, QStringLiteral("BEGIN IMMEDIATE")))
        , m_open(m_failure.ok()) {}
    ~WriteTransaction() {
        if (m_open)
            run(m_db, QStringLiteral("ROLLBACK"));
    }
    Q_DISABLE_COPY_MOVE(WriteTransaction)

    SqlResult result() const { return m_failure; }
    SqlResult commit() {
        m_failure = run(m_db, QStringLiteral("COMMIT"));
        m_open = !m_failure.ok();
        return m_failure;
    }

private:
    QSqlDatabase m_db;
    SqlResult m_failure;
    bool m_open;
};

// A connection to the file under this name, waiting this long for a busy file.
QSqlDatabase addConnection(const QString &path, const QString &name, int busyTimeoutMs);

} // namespace ledgersql
