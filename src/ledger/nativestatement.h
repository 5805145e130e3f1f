#pragma once

#include "ledger/sql.h"

#include <QSqlDatabase>
#include <QString>

#include <initializer_list>

struct sqlite3;
struct sqlite3_stmt;

namespace ledgersql {

// A statement run by SQLite itself on a Qt connection, for the one statement run for every code
// of a harvest: Qt's binding of each value through a QVariant was, at a million codes, about a
// seventh of a code's write. Text is handed over as Qt hands it (UTF-16, for SQLite to turn into
// UTF-8), so that a code is stored byte for byte as every other statement looks it up.
class NativeStatement {
public:
    // A text or a whole number.
    class Value {
    public:
        Value(const QString &value)
            : m_text(value) {}
        Value(qint64 value)
            : m_number(value)
            , m_isNumber(true) {}

    private:
        friend class NativeStatement;
        QString m_text;
        qint64 m_number = 0;
        bool m_isNumber = false;
    };

    NativeStatement() = default;
    ~NativeStatement();
    Q_DISABLE_COPY_MOVE(NativeStatement)

    bool isPrepared() const { return m_statement != nullptr; }
    // On this connection; must be finalized before it closes.
    SqlResult prepare(const QSqlDatabase &db, const QString &sql);
    // Runs it to its end with these values, one for each parameter.
    SqlResult run(std::initializer_list<Value> values);
    void finalize();

private:
    SqlResult failure(int code) const;

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
};

} // namespace ledgersql
