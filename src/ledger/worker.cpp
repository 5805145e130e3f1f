#include "ledger/worker.h"

#include "ledger/sql.h"

LedgerWorker::LedgerWorker(const QString &path, const QString &connection, const QStringList &pragmas,
                           Work work, QThread::Priority priority)
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
    m_run = [path, connection, pragmas, work = std::move(work)] {
        QSqlDatabase db = QSqlDatabase::contains(connection) ? QSqlDatabase::database(connection, false)
                                                             : ledgersql::addConnection(path, connection, 0);
        // A file that cannot be opened now is tried again at the next request.
        if (!db.isOpen()) {
            if (!db.open())
                return;
            ledgersql::runEach(db, pragmas);
        }
        work(db);
    };
    m_thread.start(priority);
}

LedgerWorker::~LedgerWorker() {
    m_thread.quit();
    m_thread.wait();
}

void LedgerWorker::request() {
    if (!m_waiting.testAndSetRelaxed(0, 1))
        return;
    QMetaObject::invokeMethod(m_context, [this] {
        m_waiting.storeRelaxed(0);
        m_run();
    });
}
