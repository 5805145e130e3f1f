#include "ledger/ledgermodel.h"

#include "text/text.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace {

constexpr QStringView kHeaders[LedgerModel::ColumnCount] = {
    u"礼包码", u"名称",     u"大小",     u"列表",     u"页码/关键字",
    u"标记",   u"首次发现", u"最近发现", u"接收结果", u"接收时间",
};

// The time zone's offset from UTC at that hour; zones change offsets only on whole hours, so an
// export of a hundred thousand rows asks the system a few hundred times, not three times a row.
int localOffsetSecs(qint64 msecs) {
    static QHash<qint64, int> offsets;
    const qint64 hour = msecs / 3600000;
    if (const auto known = offsets.constFind(hour); known != offsets.cend())
        return *known;
    if (offsets.size() > 4096)
        offsets.clear();
    const int offset = QDateTime::fromMSecsSinceEpoch(hour * 3600000, Qt::LocalTime).offsetFromUtc();
    offsets.insert(hour, offset);
    return offset;
}

// "yyyy-MM-dd HH:mm:ss" in local time, written out by hand: QDateTime's own formatting parses
// its pattern and looks up the zone for every call, which is most of an export's time.
QString timeText(const QDateTime &time) {
    if (!time.isValid())
        return {};
    const qint64 msecs = time.toMSecsSinceEpoch();
    const qint64 secs = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0) + localOffsetSecs(msecs);
    const qint64 days = secs / 86400 - (secs % 86400 < 0 ? 1 : 0);
    const qint64 inDay = secs - days * 86400;
    const QDate date = QDate::fromJulianDay(days + 2440588); // 1970-01-01
    if (date.year() < 1000 || date.year() > 9999)
        return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // Into one buffer: a string per field cost a dozen allocations a time, three times a row.
    char16_t out[] = u"0000-00-00 00:00:00";
    const auto put = [&out](int at, qint64 value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            out[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, date.year(), 4);
    put(5, date.month(), 2);
    put(8, date.day(), 2);
    put(11, inDay / 3600, 2);
    put(14, inDay / 60 % 60, 2);
    put(17, inDay % 60, 2);
    return QString(reinterpret_cast<const QChar *>(out), 19);
}

} // namespace

LedgerModel::LedgerModel(Ledger &ledger, QObject *parent)
    : QAbstractTableModel(parent)
    , m_ledger(ledger) {
    // A batch records a row every post: the window follows once things settle, not per row.
    m_follow.setSingleShot(true);
    m_follow.setInterval(kRefreshDelayMs);
    connect(&m_follow, &QTimer::timeout, this, &LedgerModel::follow);
    connect(&m_ledger, &Ledger::recorded, this, [this](const QStringList &codes) {
        for (const QString &code : codes)
            m_recorded.insert(code);
        if (!m_follow.isActive())
            m_follow.start();
    });
    connect(&m_ledger, &Ledger::turnedOff, this, &LedgerModel::refresh);
    reload(kBatch);
}

int LedgerModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LedgerModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString LedgerModel::cellText(const LedgerRow &row, int column) {
    switch (Column(column)) {
    case CodeColumn:
        return row.code;
    case TitleColumn:
        return row.title;
    case SizeColumn:
        return row.size;
    case TabColumn:
        return row.tab;
    case SourceColumn:
        return row.source;
    case MarkColumn:
        return row.mark;
    case FirstSeenColumn:
        return timeText(row.firstSeen);
    case LastSeenColumn:
        return timeText(row.lastSeen);
    case OutcomeColumn:
        return row.lastKind ? receiveKindText(*row.lastKind) : QString();
    case LastTriedColumn:
        return timeText(row.lastTried);
    case ColumnCount:
        break;
    }
    return {};
}

QVariant LedgerModel::data(const QModelIndex &index, int role) const {
    // Views ask about the root index too; it has no data.
    if (!index.isValid() || index.parent().isValid() || index.row() >= m_rows.size() ||
        index.column() >= ColumnCount)
        return {};
    // No tool tip: Qt would guess that a title holding tags is rich text and render it.
    if (role != Qt::DisplayRole)
        return {};
    // Cut as the gift lists cut it: the file keeps up to 64 KiB, the CSV all of that.
    return text::shownText(cellText(m_rows.at(index.row()), index.column()));
}

QVariant LedgerModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return kHeaders[section].toString();
}

QStringList LedgerModel::headers() const {
    QStringList out;
    for (QStringView header : kHeaders)
        out.append(header.toString());
    return out;
}

bool LedgerModel::canFetchMore(const QModelIndex &parent) const {
    return !parent.isValid() && m_more;
}

void LedgerModel::fetchMore(const QModelIndex &parent) {
    if (!canFetchMore(parent))
        return;
    const QList<LedgerRow> batch = m_ledger.rows(m_view, int(m_rows.size()), kBatch);
    m_more = batch.size() == kBatch;
    if (batch.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + batch.size() - 1));
    m_rows.append(batch);
    endInsertRows();
}

void LedgerModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount)
        return;
    const auto field = LedgerField(column);
    if (field == m_view.sortBy && order == m_view.order)
        return;
    m_view.sortBy = field;
    m_view.order = order;
    reload(kBatch);
}

void LedgerModel::setFilter(const QString &text) {
    if (text == m_view.filter)
        return;
    m_view.filter = text;
    reload(kBatch);
}

void LedgerModel::setCodes(const QStringList &codes) {
    if (codes == m_view.codes)
        return;
    m_view.codes = codes;
    reload(kBatch);
}

void LedgerModel::refresh() {
    m_follow.stop();
    m_recorded.clear();
    // As many whole batches as were read, so that what was in view stays there.
    reload(qMax(1, int((m_rows.size() + kBatch - 1) / kBatch)) * kBatch);
}

void LedgerModel::reload(int atLeast) {
    beginResetModel();
    m_rows = m_ledger.rows(m_view, 0, atLeast);
    m_more = m_rows.size() == atLeast;
    endResetModel();
    Q_EMIT updated();
}

namespace {

// SQLite's order of values: null, then numbers, then text by its UTF-8 bytes.
int compareValues(const QVariant &a, const QVariant &b) {
    const auto rank = [](const QVariant &value) {
        if (value.isNull())
            return 0;
        return value.typeId() == QMetaType::QString ? 2 : 1;
    };
    if (rank(a) != rank(b))
        return rank(a) - rank(b);
    if (rank(a) == 0)
        return 0;
    if (rank(a) == 2)
        return a.toString().toUtf8().compare(b.toString().toUtf8());
    if (a.typeId() == QMetaType::Double || b.typeId() == QMetaType::Double)
        return a.toDouble() < b.toDouble() ? -1 : a.toDouble() > b.toDouble() ? 1 : 0;
    return a.toLongLong() < b.toLongLong() ? -1 : a.toLongLong() > b.toLongLong() ? 1 : 0;
}

} // namespace

bool LedgerModel::before(const LedgerRow &row, const LedgerRow &other) const {
    int order = compareValues(row.sortKey, other.sortKey);
    if (order == 0)
        order = row.id < other.id ? -1 : row.id > other.id ? 1 : 0;
    return m_view.order == Qt::AscendingOrder ? order < 0 : order > 0;
}

void LedgerModel::place(const LedgerRow &row) {
    // Rows past the last one read come with fetchMore(), which reads on from the count read.
    if (m_more && (m_rows.isEmpty() || !before(row, m_rows.last())))
        return;
    const auto at =
        int(std::lower_bound(m_rows.cbegin(), m_rows.cend(), row,
                             [this](const LedgerRow &a, const LedgerRow &b) { return before(a, b); }) -
            m_rows.cbegin());
    beginInsertRows({}, at, at);
    m_rows.insert(at, row);
    endInsertRows();
}

void LedgerModel::follow() {
    m_follow.stop();
    if (m_recorded.isEmpty())
        return;
    LedgerView view = m_view;
    view.codes.clear();
    for (const QString &code : std::as_const(m_recorded)) {
        if (m_view.codes.isEmpty() || m_view.codes.contains(code))
            view.codes.append(code);
    }
    const QSet<QString> recorded = std::exchange(m_recorded, {});
    if (view.codes.isEmpty())
        return;
    // Only the recorded codes are read: those that still match, as they are now.
    QHash<QString, LedgerRow> now;
    for (const LedgerRow &row : m_ledger.rows(view))
        now.insert(row.code, row);
    // A row that stays where it was changes in place (the selection stays on it); one that
    // moves, or no longer matches, leaves its place.
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        if (!recorded.contains(m_rows.at(i).code))
            continue;
        const auto fresh = now.constFind(m_rows.at(i).code);
        if (fresh != now.cend() && compareValues(fresh->sortKey, m_rows.at(i).sortKey) == 0) {
            m_rows[i] = *fresh;
            now.erase(fresh);
            Q_EMIT dataChanged(index(i, 0), index(i, ColumnCount - 1));
            continue;
        }
        beginRemoveRows({}, i, i);
        m_rows.removeAt(i);
        endRemoveRows();
    }
    for (const LedgerRow &row : std::as_const(now))
        place(row);
    Q_EMIT updated();
}

QList<QStringList> LedgerModel::shownRows() const {
    QList<QStringList> out;
    for (const LedgerRow &row : m_ledger.rows(m_view)) {
        QStringList cells;
        for (int column = 0; column < ColumnCount; ++column)
            cells.append(cellText(row, column));
        out.append(cells);
    }
    return out;
}
