#include "ledger/ledger.h"

#include "ledger/nativestatement.h"
#include "ledger/schema.h"
#include "ledger/searchindexer.h"
#include "ledger/sql.h"
#include "ledger/worker.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QSysInfo>

Q_LOGGING_CATEGORY(lcLedger, "giftvane.ledger", QtInfoMsg)

using namespace ledgersql;

namespace {

// The columns a row is read from, in LedgerRow's order.
constexpr const char *kRowColumns = "code, title, size, site, tab, source, mark, first_seen, last_seen,"
                                    " last_kind, last_tried";

QDateTime timeOf(const QVariant &value) {
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

LedgerRow rowOf(const QSqlQuery &query) {
    LedgerRow row{query.value(0).toString(),   query.value(1).toString(),
                  query.value(2).toString(),   query.value(3).toString(),
                  query.value(4).toString(),   query.value(5).toString(),
                  query.value(6).toString(),   timeOf(query.value(7)),
                  timeOf(query.value(8)),      std::nullopt,
                  timeOf(query.value(10)),     query.value(11),
                  query.value(12).toLongLong()};
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

} // namespace

QSqlDatabase ledgersql::addConnection(const QString &path, const QString &name, int busyTimeoutMs) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=" + QString::number(busyTimeoutMs));
    return db;
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
    case ReceiveKind::NoAnswer:
        return QStringLiteral("无应答");
    case ReceiveKind::Unknown:
        return QStringLiteral("结果未知");
    case ReceiveKind::Failed:
        break;
    }
    return QStringLiteral("失败");
}

Ledger::Ledger(const QString &path, QObject *parent, int busyTimeoutMs)
    : QObject(parent)
    , m_path(path)
    , m_connection(u"giftvane-ledger-" + QString::number(connectionCount.fetchAndAddRelaxed(1)))
    , m_busyTimeoutMs(busyTimeoutMs)
    , m_whyOff(QStringLiteral("not opened"))
    , m_process(QSysInfo::machineHostName() + u':' + QString::number(QCoreApplication::applicationPid())) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_on || open())
            flush();
    });
}

Ledger::~Ledger() {
    if (!m_waiting.isEmpty() && (m_on || open()) && !flush())
        qCDebug(lcLedger) << m_waiting.size() << "records not written to" << m_path;
    m_indexer.reset();
    m_checkpointer.reset();
    m_seen.reset();
    for (auto *kept : {&m_tried, &m_attempt})
        kept->reset();
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

void Ledger::turnOff(const QString &reason) {
    if (m_gaveUp)
        return;
    m_gaveUp = true;
    m_on = false;
    m_retry.stop();
    m_waiting.clear();
    m_whyOff = reason + u"（" + QDir::toNativeSeparators(m_path) + u"）";
    qCDebug(lcLedger) << "off:" << m_whyOff;
    Q_EMIT turnedOff(m_whyOff);
}

qint64 Ledger::now() const {
    return (m_clock ? m_clock() : QDateTime::currentDateTimeUtc()).toMSecsSinceEpoch();
}

bool Ledger::open() {
    // An upgrade's progress dialog lets events in meanwhile: what they record waits.
    if (m_on || m_gaveUp || m_opening)
        return m_on;
    const SqlResult result = [this] {
        const QScopedValueRollback opening(m_opening, true);
        return openFile();
    }();
    if (result.transient) {
        // Another program holds the file: recording waits until it can be had.
        qCDebug(lcLedger) << "busy at open, trying again later:" << m_path << result.failure;
        retryLater();
        return false;
    }
    if (!result.ok()) {
        turnOff(result.failure);
        return false;
    }
    if (const SqlResult settled = settleAbandonedClaims(); !settled.ok() && !settled.transient) {
        turnOff(settled.failure);
        return false;
    }
    m_on = true;
    m_whyOff.clear();
    // PASSIVE never waits for a lock. One that fails leaves the log to the next one, or to the
    // close of the file.
    m_checkpointer = std::make_unique<LedgerWorker>(
        m_path, m_connection + u"-checkpoint", QStringList(),
        [](const QSqlDatabase &db) { run(db, QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")); });
    m_indexer = std::make_unique<LedgerSearchIndexer>(m_path, m_connection + u"-index");
    // What an earlier run left queued (it ended, or it was another program's).
    if (unindexed() != 0)
        m_indexer->request();
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &Ledger::flush);
    return true;
}

SqlResult Ledger::openFile() {
    // A connection made by an attempt that found the file busy is used again.
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? database()
                          : addConnection(m_path, m_connection, m_busyTimeoutMs);
    if (!db.isValid())
        return {QStringLiteral("the SQLite driver of Qt is missing")};
    if (!db.isOpen() && !db.open())
        return resultOf(db.lastError());
    return ledgerschema::prepare(db, [this](qint64 done, qint64 total) { Q_EMIT migrating(done, total); });
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
    // A read that fails (a busy file, say) reads as nothing; the next one may succeed.
    qCDebug(lcLedger) << "read failed:" << m_path << failure;
    return false;
}

std::optional<QHash<QString, QVariant>> Ledger::pairsAmong(const QString &sql, QVariantList values,
                                                           const QStringList &among) const {
    if (!m_on)
        return std::nullopt;
    QHash<QString, QVariant> out;
    if (among.isEmpty())
        return out;
    // The values travel as one JSON array: one statement, whatever their number.
    values.append(
        QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(among)).toJson(QJsonDocument::Compact)));
    if (!select(QString(sql).replace(u"%among"_qs, u"(SELECT value FROM json_each(?))"_qs), values,
                [&](const QSqlQuery &row) { out.insert(row.value(0).toString(), row.value(1)); }))
        return std::nullopt;
    return out;
}

namespace {

QHash<QString, QDateTime> timesOf(const std::optional<QHash<QString, QVariant>> &pairs) {
    QHash<QString, QDateTime> out;
    if (!pairs)
        return out;
    for (auto pair = pairs->cbegin(); pair != pairs->cend(); ++pair)
        out.insert(pair.key(), timeOf(pair.value()));
    return out;
}

} // namespace

QHash<QString, QDateTime> Ledger::receivedAmong(const QStringList &codes) const {
    return timesOf(pairsAmong(
        QStringLiteral(
            "SELECT code, received_at FROM codes WHERE received_at IS NOT NULL AND code IN %among"),
        {}, codes));
}

QHash<QString, QDateTime> Ledger::confirmedAmong(const QStringList &codes) const {
    return timesOf(
        pairsAmong(QStringLiteral("SELECT code, claim_at FROM codes WHERE claim = ? AND code IN %among"),
                   {int(ClaimState::Proven)}, codes));
}

QHash<QString, std::pair<ClaimState, QDateTime>> Ledger::claimsAmong(const QStringList &codes) const {
    QHash<QString, std::pair<ClaimState, QDateTime>> out;
    const auto pairs = pairsAmong(
        QStringLiteral(
            "SELECT code, json_array(claim, claim_at) FROM codes WHERE claim != 0 AND code IN %among"),
        {}, codes);
    if (!pairs)
        return out;
    for (auto pair = pairs->cbegin(); pair != pairs->cend(); ++pair) {
        const QJsonArray claim = QJsonDocument::fromJson(pair.value().toString().toUtf8()).array();
        out.insert(pair.key(), {ClaimState(claim.at(0).toInt()),
                                claim.at(1).isDouble()
                                    ? QDateTime::fromMSecsSinceEpoch(qint64(claim.at(1).toDouble()), Qt::UTC)
                                    : QDateTime()});
    }
    return out;
}

QHash<QString, QString> Ledger::knownCodes(const QString &site, const QStringList &keys) const {
    // Oldest first: a key seen with several codes keeps the newest.
    const QHash<QString, QVariant> pairs =
        pairsAmong(
            QStringLiteral("SELECT key, code FROM codes WHERE site = ? AND key != '' AND instr(mark, '×') = 0"
                           " AND key IN %among ORDER BY last_seen, rowid"),
            {site}, keys)
            .value_or(QHash<QString, QVariant>());
    QHash<QString, QString> out;
    for (auto pair = pairs.cbegin(); pair != pairs.cend(); ++pair)
        out.insert(pair.key(), pair.value().toString());
    return out;
}

std::optional<QHash<QString, QDateTime>> Ledger::firstSeenAmong(const QStringList &codes) const {
    const auto pairs =
        pairsAmong(QStringLiteral("SELECT code, first_seen FROM codes WHERE code IN %among"), {}, codes);
    return pairs ? std::optional(timesOf(pairs)) : std::nullopt;
}

namespace {

// Where a view's rows come from and which of them it keeps; values for the ?s, in order.
struct Selection {
    QString from = QStringLiteral("codes");
    QStringList where;
    QVariantList values;

    QString sql() const {
        return u" FROM " + from + (where.isEmpty() ? QString() : u" WHERE " + where.join(u" AND "));
    }
};

// The trigram index finds substrings of three characters or more.
bool indexed(const QString &needle) {
    int characters = 0;
    for (const char32_t c : QStringView(needle).toUcs4()) {
        Q_UNUSED(c)
        if (++characters >= 3)
            return true;
    }
    return false;
}

Selection selectionOf(const LedgerView &view) {
    Selection out;
    if (!view.codes.isEmpty()) {
        // As one JSON array: one statement, whatever their number.
        out.where.append(QStringLiteral("code IN (SELECT value FROM json_each(?))"));
        out.values.append(QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(view.codes)).toJson(QJsonDocument::Compact)));
    }
    const QString needle = folded(view.filter);
    if (needle.isEmpty())
        return out;
    // The outcome as the window shows it: "成功" finds the codes whose outcome is 成功接收.
    QStringList kinds;
    for (const ReceiveKind kind : kReceiveKinds) {
        if (folded(receiveKindText(kind)).contains(needle))
            kinds.append(QString::number(int(kind)));
    }
    if (kinds.isEmpty() && indexed(needle)) {
        // The index's matches and the rows it is behind on first (CROSS JOIN keeps that order
        // of loops), each checked as the plain search checks it: the same rows, found without
        // reading every code.
        out.from = QStringLiteral("(SELECT rowid AS hit FROM codes_search WHERE codes_search MATCH ?"
                                  " UNION SELECT id FROM codes_unindexed UNION SELECT rowid FROM codes"
                                  " WHERE rowid > (SELECT upto FROM codes_index_mark)) AS found"
                                  " CROSS JOIN codes ON codes.rowid = found.hit");
        out.values.prepend(QString(u'"' + QString(needle).replace(u'"', u"\"\""_qs) + u'"'));
    }
    // instr() takes the text literally: "%" and "_" are no wildcards here.
    QString matches = QStringLiteral("instr(code_folded, ?) > 0 OR instr(title_folded, ?) > 0");
    out.values << needle << needle;
    if (!kinds.isEmpty())
        matches += u" OR last_kind IN (" + kinds.join(u',') + u')';
    out.where.append(u'(' + matches + u')');
    return out;
}

} // namespace

Ledger::Counts Ledger::counts(const LedgerView &view, int atMost) const {
    Counts out;
    const auto take = [&](const QSqlQuery &row) {
        out.received = row.value(0).toInt();
        out.voided = row.value(1).toInt();
        out.pending = row.value(2).toInt() - out.received - out.voided;
    };
    // The whole ledger's counts are kept by the write path; a view's are counted among its rows.
    if (view.filter.isEmpty() && view.codes.isEmpty()) {
        if (!select(QStringLiteral("SELECT received, voided, total FROM code_counts"), {}, take))
            return {};
        return out;
    }
    Selection selection = selectionOf(view);
    selection.values.append(atMost < 0 ? -1 : atMost + 1);
    if (!select(u"SELECT count(received_at), coalesce(sum(received_at IS NULL AND instr(mark, '×') > 0), 0),"
                u" count(*) FROM (SELECT received_at, mark" +
                    selection.sql() + u" LIMIT ?)",
                selection.values, take))
        return {};
    if (atMost >= 0 && out.received + out.voided + out.pending > atMost)
        return {0, 0, 0, true};
    return out;
}

QList<LedgerRow> Ledger::rows(const LedgerView &view, int offset, int limit) const {
    QList<LedgerRow> out;
    Selection selection = selectionOf(view);
    const QString direction =
        view.order == Qt::AscendingOrder ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    // rowid breaks ties, so that pages read one after another neither repeat nor skip rows.
    const QString sql = u"SELECT " + QLatin1StringView(kRowColumns) + u", " + sortColumn(view.sortBy) +
                        u", codes.rowid" + selection.sql() + u" ORDER BY " + sortColumn(view.sortBy) +
                        direction + u", codes.rowid" + direction + u" LIMIT ? OFFSET ?";
    selection.values << (limit < 0 ? -1 : limit) << qMax(0, offset);
    if (!select(sql, selection.values, [&](const QSqlQuery &row) { out.append(rowOf(row)); }))
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

int Ledger::unindexed() const {
    int out = -1;
    // Rows above the mark by their rowids: counting them one by one would read every one.
    select(QStringLiteral("SELECT (SELECT count(*) FROM codes_unindexed) + max(0, coalesce((SELECT max(rowid)"
                          " FROM codes), 0) - (SELECT upto FROM codes_index_mark))"),
           {}, [&](const QSqlQuery &row) { out = row.value(0).toInt(); });
    return out;
}
