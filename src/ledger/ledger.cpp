#include "ledger/ledger.h"

#include "giftlist/giftlistmodel.h"

#include <QAtomicInt>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>

#include <array>

Q_LOGGING_CATEGORY(lcLedger, "giftvane.ledger", QtInfoMsg)

namespace {

// Qt binds a null QString as SQL NULL; the text columns hold '' instead.
QString text(const QString &value) {
    return value.isNull() ? QStringLiteral("") : value;
}

// Searches run over case-folded copies: SQLite's own case folding knows only ASCII.
QString folded(const QString &value) {
    return text(value).toCaseFolded();
}

QString reasonOf(const QSqlError &error) {
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// Runs one statement; empty on success, else why it failed.
QString run(const QSqlDatabase &db, const QString &sql) {
    QSqlQuery query(db);
    return query.exec(sql) ? QString() : reasonOf(query.lastError());
}

// Runs a prepared statement with these values.
QString run(QSqlQuery &query, const QVariantList &values) {
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() ? QString() : reasonOf(query.lastError());
}

// A write transaction taken at once (not on the first write), so that a busy file is met
// within the busy timeout instead of failing half-way; rolled back unless committed.
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

// Version 1 kept codes and attempts only.
QString createVersion1(const QSqlDatabase &db) {
    for (const QString &sql :
         {QStringLiteral("CREATE TABLE codes(code TEXT PRIMARY KEY NOT NULL,"
                         " title TEXT NOT NULL DEFAULT '', size TEXT NOT NULL DEFAULT '',"
                         " mark TEXT NOT NULL DEFAULT '', first_seen INTEGER NOT NULL,"
                         " last_seen INTEGER NOT NULL)"),
          QStringLiteral("CREATE TABLE receives(code TEXT NOT NULL, at INTEGER NOT NULL,"
                         " kind INTEGER NOT NULL, marker TEXT NOT NULL DEFAULT '')")}) {
        if (const QString failure = run(db, sql); !failure.isEmpty())
            return failure;
    }
    return {};
}

// Version 2: where a code was seen, folded copies for the search, and the last attempt and
// last success beside each code so that the window sorts and greys rows without a join.
QString upgradeToVersion2(const QSqlDatabase &db) {
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
        if (const QString failure = run(db, QString::fromLatin1(sql)); !failure.isEmpty())
            return failure;
    }
    QSqlQuery read(db);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT rowid, code, title FROM codes")))
        return reasonOf(read.lastError());
    QSqlQuery fold(db);
    fold.prepare(QStringLiteral("UPDATE codes SET code_folded = ?, title_folded = ? WHERE rowid = ?"));
    while (read.next()) {
        if (const QString failure = run(
                fold, {folded(read.value(1).toString()), folded(read.value(2).toString()), read.value(0)});
            !failure.isEmpty())
            return failure;
    }
    return read.lastError().isValid() ? reasonOf(read.lastError()) : QString();
}

// The file's schema version; a file from a newer program is refused, never written.
QString readVersion(const QSqlDatabase &db, int &version) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return reasonOf(query.lastError());
    version = query.value(0).toInt();
    if (version > Ledger::kSchemaVersion)
        return u"written by a newer Giftvane (schema " + QString::number(version) + u")";
    return {};
}

using Migration = QString (*)(const QSqlDatabase &);
// migrations[n] takes a file from version n to n + 1.
constexpr std::array<Migration, Ledger::kSchemaVersion> kMigrations{createVersion1, upgradeToVersion2};

// The columns a row is read from, in LedgerRow's order.
constexpr const char *kRowColumns = "code, title, size, site, tab, source, mark, first_seen, last_seen,"
                                    " last_kind, last_tried";

QDateTime timeOf(const QVariant &value) {
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

LedgerRow rowOf(const QSqlQuery &query) {
    LedgerRow row{query.value(0).toString(), query.value(1).toString(),
                  query.value(2).toString(), query.value(3).toString(),
                  query.value(4).toString(), query.value(5).toString(),
                  query.value(6).toString(), timeOf(query.value(7)),
                  timeOf(query.value(8)),    std::nullopt,
                  timeOf(query.value(10))};
    if (!query.value(9).isNull())
        row.lastKind = ReceiveKind(query.value(9).toInt());
    return row;
}

// Sort keys by field; never text from the user. Code and title sort without regard to case.
QString sortColumn(LedgerField field) {
    switch (field) {
    case LedgerField::Code:
        return QStringLiteral("code_folded");
    case LedgerField::Title:
        return QStringLiteral("title_folded");
    case LedgerField::Size:
        // By value: "1.5 GB" after "900 MB", "12.2" after "4.9"; a number without a unit as
        // it stands; no number ("未知") first.
        return QStringLiteral("CASE WHEN ltrim(size) GLOB '[0-9]*' OR ltrim(size) GLOB '.[0-9]*'"
                              " THEN CAST(ltrim(size) AS REAL) * CASE"
                              " WHEN instr(upper(size), 'T') THEN 1099511627776.0"
                              " WHEN instr(upper(size), 'G') THEN 1073741824.0"
                              " WHEN instr(upper(size), 'M') THEN 1048576.0"
                              " WHEN instr(upper(size), 'K') THEN 1024.0 ELSE 1.0 END END");
    case LedgerField::Tab:
        return QStringLiteral("tab");
    case LedgerField::Source:
        return QStringLiteral("source");
    case LedgerField::Mark:
        return QStringLiteral("mark");
    case LedgerField::FirstSeen:
        return QStringLiteral("first_seen");
    case LedgerField::LastSeen:
        break;
    case LedgerField::Outcome:
        return QStringLiteral("last_kind");
    case LedgerField::LastTried:
        return QStringLiteral("last_tried");
    }
    return QStringLiteral("last_seen");
}

QAtomicInt connectionCount;

QSqlDatabase addConnection(const QString &path, const QString &name) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=" + QString::number(Ledger::kBusyTimeoutMs));
    return db;
}

} // namespace

// Copies the write-ahead log back into the file on a thread of its own: a commit only appends
// to the log, but a checkpoint writes and syncs megabytes, which the thread that records (the
// window's) should not wait for.
class LedgerCheckpointer {
public:
    LedgerCheckpointer(const QString &path, const QString &connection)
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
                addConnection(path, connection).open();
            // PASSIVE never waits for a lock. One that fails leaves the log to the next one, or
            // to the close of the file.
            run(QSqlDatabase::database(connection, false), QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        };
        m_thread.start();
    }
    ~LedgerCheckpointer() {
        m_thread.quit();
        m_thread.wait();
    }
    Q_DISABLE_COPY_MOVE(LedgerCheckpointer)

    // Requests made while one waits are one.
    void request() {
        if (!m_waiting.testAndSetRelaxed(0, 1))
            return;
        QMetaObject::invokeMethod(m_context, [this] {
            m_waiting.storeRelaxed(0);
            m_run();
        });
    }

private:
    QThread m_thread;
    QObject *m_context; // lives in m_thread; deleted there when it ends
    std::function<void()> m_run;
    QAtomicInt m_waiting;
};

QList<SeenCode> seenCodesOf(const GiftListModel &list, const QString &site, const QString &tab,
                            const QString &source) {
    QList<SeenCode> out;
    for (const GiftEntry &entry : list.entries()) {
        if (!entry.code.isEmpty())
            out.append({entry.code, entry.title, entry.size, site, tab, source, entry.mark});
    }
    return out;
}

QString receiveKindText(ReceiveKind kind) {
    switch (kind) {
    case ReceiveKind::Received:
        return QStringLiteral("成功接收");
    case ReceiveKind::NotSignedIn:
        return QStringLiteral("未登录");
    case ReceiveKind::MembersOnly:
        return QStringLiteral("仅限VIP");
    case ReceiveKind::UnderReview:
        return QStringLiteral("审核中");
    case ReceiveKind::Failed:
        break;
    }
    return QStringLiteral("失败");
}

Ledger::Ledger(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
    , m_connection(u"giftvane-ledger-" + QString::number(connectionCount.fetchAndAddRelaxed(1)))
    , m_whyOff(QStringLiteral("not opened")) {}

Ledger::~Ledger() {
    m_checkpointer.reset();
    if (QSqlDatabase::contains(m_connection)) {
        database().close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

QString Ledger::defaultPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(folder);
    return folder + u"/ledger.sqlite";
}

QSqlDatabase Ledger::database() const {
    return QSqlDatabase::database(m_connection, false);
}

void Ledger::turnOff(const QString &reason) const {
    if (m_gaveUp)
        return;
    m_gaveUp = true;
    m_on = false;
    m_whyOff = reason;
    qCDebug(lcLedger) << "off:" << m_path << reason;
    Q_EMIT const_cast<Ledger *>(this)->turnedOff(reason);
}

void Ledger::written(int rows) {
    m_unsynced += rows;
    if (m_unsynced >= kCheckpointRows) {
        m_unsynced = 0;
        m_checkpointer->request();
    }
}

qint64 Ledger::now() const {
    return (m_clock ? m_clock() : QDateTime::currentDateTimeUtc()).toMSecsSinceEpoch();
}

bool Ledger::open() {
    if (m_on || m_gaveUp)
        return m_on;
    const QString failure = openFile();
    if (!failure.isEmpty()) {
        turnOff(failure);
        return false;
    }
    m_on = true;
    m_whyOff.clear();
    m_checkpointer = std::make_unique<LedgerCheckpointer>(m_path, m_connection + u"-checkpoint");
    return true;
}

QString Ledger::openFile() {
    QSqlDatabase db = addConnection(m_path, m_connection);
    if (!db.isValid())
        return QStringLiteral("the SQLite driver of Qt is missing");
    if (!db.open())
        return reasonOf(db.lastError());
    // A file this program cannot read, or one from a newer program, is left as it is.
    int version = 0;
    if (const QString failure = readVersion(db, version); !failure.isEmpty())
        return failure;
    // WAL lets one program read while another writes. In WAL, NORMAL loses no commit when a
    // program is killed; a power cut may lose the last ones, but never corrupts the file.
    // Checkpoints are the checkpointer's; this connection checkpoints only if the log grows
    // far beyond what that one lets it. A log that grew is cut back when it starts over.
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
                               "PRAGMA wal_autocheckpoint=20000", "PRAGMA journal_size_limit=8388608"}) {
        if (const QString failure = run(db, QString::fromLatin1(pragma)); !failure.isEmpty())
            return failure;
    }
    // The version again, inside the write transaction: two programs never upgrade the same
    // file at once.
    WriteTransaction transaction(db);
    if (!transaction.failure().isEmpty())
        return transaction.failure();
    if (const QString failure = readVersion(db, version); !failure.isEmpty())
        return failure;
    if (version == kSchemaVersion)
        return transaction.commit();
    for (int step = version; step < kSchemaVersion; ++step) {
        if (const QString failure = kMigrations[step](db); !failure.isEmpty())
            return failure;
    }
    if (const QString failure = run(db, u"PRAGMA user_version=" + QString::number(kSchemaVersion));
        !failure.isEmpty())
        return failure;
    qCDebug(lcLedger) << "schema" << version << "->" << kSchemaVersion << m_path;
    return transaction.commit();
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

bool Ledger::select(const QString &sql, const QVariantList &values,
                    const std::function<void(const QSqlQuery &)> &take) const {
    if (!m_on)
        return false;
    QString failure;
    {
        QSqlQuery query(database());
        query.setForwardOnly(true);
        if (query.prepare(sql)) {
            for (const QVariant &value : values)
                query.addBindValue(value);
            if (query.exec()) {
                while (query.next())
                    take(query);
            }
        }
        if (query.lastError().isValid())
            failure = reasonOf(query.lastError());
    }
    if (failure.isEmpty())
        return true;
    turnOff(failure);
    return false;
}

QHash<QString, QDateTime> Ledger::receivedAmong(const QStringList &codes) const {
    QHash<QString, QDateTime> out;
    if (codes.isEmpty())
        return out;
    // The codes travel as one JSON array: one statement, whatever their number.
    const QString array =
        QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(codes)).toJson(QJsonDocument::Compact));
    if (!select(QStringLiteral("SELECT code, received_at FROM codes WHERE received_at IS NOT NULL"
                               " AND code IN (SELECT value FROM json_each(?))"),
                {array},
                [&](const QSqlQuery &row) { out.insert(row.value(0).toString(), timeOf(row.value(1))); }))
        return {};
    return out;
}

Ledger::Counts Ledger::counts() const {
    Counts out;
    if (!select(QStringLiteral("SELECT count(received_at),"
                               " coalesce(sum(received_at IS NULL AND instr(mark, '×') > 0), 0),"
                               " count(*) FROM codes"),
                {}, [&](const QSqlQuery &row) {
                    out.received = row.value(0).toInt();
                    out.voided = row.value(1).toInt();
                    out.pending = row.value(2).toInt() - out.received - out.voided;
                }))
        return {};
    return out;
}

QList<LedgerRow> Ledger::rows(const LedgerView &view, int offset, int limit) const {
    QList<LedgerRow> out;
    QString sql = u"SELECT " + QLatin1StringView(kRowColumns) + u" FROM codes";
    QVariantList values;
    // instr() takes the text literally: "%" and "_" are no wildcards here.
    if (const QString needle = folded(view.filter); !needle.isEmpty()) {
        sql += u" WHERE instr(code_folded, ?) > 0 OR instr(title_folded, ?) > 0";
        values = {needle, needle};
        // The outcome as the window shows it: "成功" finds the codes whose outcome is 成功接收.
        QStringList kinds;
        for (ReceiveKind kind : {ReceiveKind::Received, ReceiveKind::NotSignedIn, ReceiveKind::MembersOnly,
                                 ReceiveKind::UnderReview, ReceiveKind::Failed}) {
            if (folded(receiveKindText(kind)).contains(needle))
                kinds.append(QString::number(int(kind)));
        }
        if (!kinds.isEmpty())
            sql += u" OR last_kind IN (" + kinds.join(u',') + u')';
    }
    const QString direction =
        view.order == Qt::AscendingOrder ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    // rowid breaks ties, so that pages read one after another neither repeat nor skip rows.
    sql +=
        u" ORDER BY " + sortColumn(view.sortBy) + direction + u", rowid" + direction + u" LIMIT ? OFFSET ?";
    values << (limit < 0 ? -1 : limit) << qMax(0, offset);
    if (!select(sql, values, [&](const QSqlQuery &row) { out.append(rowOf(row)); }))
        return {};
    return out;
}

QList<ReceiveAttempt> Ledger::attempts(const QString &code) const {
    QList<ReceiveAttempt> out;
    if (!select(QStringLiteral("SELECT at, kind, marker FROM receives WHERE code = ? ORDER BY at, rowid"),
                {code}, [&](const QSqlQuery &row) {
                    out.append(
                        {timeOf(row.value(0)), ReceiveKind(row.value(1).toInt()), row.value(2).toString()});
                }))
        return {};
    return out;
}
