#pragma once

#include "ledger/sql.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

#include <initializer_list>

struct sqlite3;
struct sqlite3_stmt;

namespace ledgersql {

// A statement run by SQLite itself on a Qt connection, for the one statement run for every code
// of a harvest. Qt binds each value as a QVariant and hands text over as UTF-16 for SQLite to
// turn back into UTF-8: at a million codes, about a seventh of a code's write.
class NativeStatement {
public:
    // A text (kept as UTF-8 for the run) or a whole number.
    class Value {
    public:
        Value(const QString &value)
            : m_text(value.toUtf8()) {}
        Value(qint64 value)
            : m_number(value)
            , m_isNumber(true) {}

    private:
        friend class NativeStatement;
        QByteArray m_text;
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
