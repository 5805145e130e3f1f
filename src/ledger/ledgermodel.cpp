#include "ledger/ledgermodel.h"

#include "text/text.h"

namespace {

constexpr QStringView kHeaders[LedgerModel::ColumnCount] = {
    u"礼包码", u"名称",     u"大小",     u"列表",     u"页码/关键字",
    u"标记",   u"首次发现", u"最近发现", u"接收结果", u"接收时间",
};

QString timeText(const QDateTime &time) {
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

} // namespace

LedgerModel::LedgerModel(Ledger &ledger, QObject *parent)
    : QAbstractTableModel(parent)
    , m_ledger(ledger) {
    // A batch records a row every post: the window reads the ledger again once things settle,
    // not once per row.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshDelayMs);
    connect(&m_refresh, &QTimer::timeout, this, &LedgerModel::refresh);
    connect(&m_ledger, &Ledger::changed, &m_refresh, [this] {
        if (!m_refresh.isActive())
            m_refresh.start();
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
    m_refresh.stop();
    // As many whole batches as were read, so that what was in view stays there.
    reload(qMax(1, int((m_rows.size() + kBatch - 1) / kBatch)) * kBatch);
}

void LedgerModel::reload(int atLeast) {
    beginResetModel();
    m_rows = m_ledger.rows(m_view, 0, atLeast);
    m_more = m_rows.size() == atLeast;
    endResetModel();
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
