#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// Small helpers of the ledger's own SQL; nothing outside src/ledger uses them.
namespace ledgersql {

// Qt binds a null QString as SQL NULL; the text columns hold '' instead.
inline QString text(const QString &value) {
    return value.isNull() ? QStringLiteral("") : value;
}

// Searches run over case-folded copies: SQLite's own case folding knows only ASCII.
inline QString folded(const QString &value) {
    return text(value).toCaseFolded();
}

inline QString reasonOf(const QSqlError &error) {
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// Runs one statement; empty on success, else why it failed.
inline QString run(const QSqlDatabase &db, const QString &sql) {
    QSqlQuery query(db);
    return query.exec(sql) ? QString() : reasonOf(query.lastError());
}

// Runs a prepared statement with these values.
inline QString run(QSqlQuery &query, const QVariantList &values) {
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() ? QString() : reasonOf(query.lastError());
}

// A write transaction taken at once (not on the first write), so that a busy file is met
// within the busy time-out instead of failing half-way; rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(const QSqlDatabase &db)
        : m_db(db)
        , m_failure(run(db, QStringLiteral("BEGIN IMMEDIATE")))
        , m_open(m_failure.isEmpty()) {}
    ~WriteTransaction() {
        if (m_open)
            run(m_db, QStringLiteral("ROLLBACK"));
    }
    Q_DISABLE_COPY_MOVE(WriteTransaction)

    QString failure() const { return m_failure; }
    QString commit() {
        m_failure = run(m_db, QStringLiteral("COMMIT"));
        m_open = !m_failure.isEmpty();
        return m_failure;
    }

private:
    QSqlDatabase m_db;
    QString m_failure;
    bool m_open;
};

// A connection to the file under this name, waiting this long for a busy file.
QSqlDatabase addConnection(const QString &path, const QString &name, int busyTimeoutMs);

} // namespace ledgersql
