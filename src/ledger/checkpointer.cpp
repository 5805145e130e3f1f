#include "ledger/checkpointer.h"

#include "ledger/sql.h"

LedgerCheckpointer::LedgerCheckpointer(const QString &path, const QString &connection)
    : m_context(new QObject) {
    m_context->moveToThread(&m_thread);
    // The connection belongs to the thread: made there, removed there.
    QObject::connect(&m_thread, &QThread::finished, m_context, [connection] {
        if (QSqlDatabase::contains(connection)) {
            QSqlDatabase::database(connection, false).close();
            QSqlDatabase::removeDatabase(connection);
        }
    });
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_run = [path, connection] {
        if (!QSqlDatabase::contains(connection))
            ledgersql::addConnection(path, connection, 0).open();
        // PASSIVE never waits for a lock. One that fails leaves the log to the next one, or to
        // the close of the file.
        ledgersql::run(QSqlDatabase::database(connection, false),
                       QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    };
    m_thread.start();
}

LedgerCheckpointer::~LedgerCheckpointer() {
    m_thread.quit();
    m_thread.wait();
}

void LedgerCheckpointer::request() {
    if (!m_waiting.testAndSetRelaxed(0, 1))
        return;
    QMetaObject::invokeMethod(m_context, [this] {
        m_waiting.storeRelaxed(0);
        m_run();
    });
}
