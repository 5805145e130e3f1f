#include "ledger/nativestatement.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace ledgersql {

NativeStatement::~NativeStatement() {
    finalize();
}

SqlResult NativeStatement::prepare(const QSqlDatabase &db, const QString &sql) {
    finalize();
    // The driver hands out its connection as a sqlite3* (QSqlDriver::handle()).
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        m_db = *static_cast<sqlite3 *const *>(handle.constData());
    if (!m_db)
        return {QStringLiteral("the SQLite driver of Qt gives no connection")};
    const QByteArray text = sql.toUtf8();
    const int code = sqlite3_prepare_v3(m_db, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT,
                                        &m_statement, nullptr);
    if (code == SQLITE_OK)
        return {};
    const SqlResult why = failure(code);
    finalize();
    return why;
}

SqlResult NativeStatement::run(std::initializer_list<Value> values) {
    if (!m_statement)
        return {QStringLiteral("statement not prepared")};
    int index = 0;
    for (const Value &value : values) {
        ++index;
        // The values outlive the step: SQLite may use them where they are.
        const int code = value.m_isNumber ? sqlite3_bind_int64(m_statement, index, value.m_number)
                                          : sqlite3_bind_text16(m_statement, index, value.m_text.utf16(),
                                                                int(value.m_text.size() * sizeof(char16_t)),
                                                                SQLITE_STATIC);
        if (code != SQLITE_OK) {
            sqlite3_reset(m_statement);
            return failure(code);
        }
    }
    int code = SQLITE_ROW;
    while (code == SQLITE_ROW)
        code = sqlite3_step(m_statement);
    const SqlResult result = code == SQLITE_DONE ? SqlResult() : failure(code);
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    return result;
}

void NativeStatement::finalize() {
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
    m_db = nullptr;
}

SqlResult NativeStatement::failure(int code) const {
    const char *why = m_db ? sqlite3_errmsg(m_db) : nullptr;
    return {QString::fromUtf8(why && *why ? why : sqlite3_errstr(code)), isTransient(code)};
}

} // namespace ledgersql
