#include "giftlist/giftlistmodel.h"

#include "text/text.h"

#include <QColor>
#include <QFont>

const GiftListModel::ColumnSpec GiftListModel::kColumns[ColumnCount] = {
    {"bh", u"编号", 67, Qt::AlignLeft | Qt::AlignVCenter},
    {"mc", u"名称", 367, Qt::AlignLeft | Qt::AlignVCenter},
    {"dx", u"大小", 96, Qt::AlignLeft | Qt::AlignVCenter},
    {"lb", u"礼包码", 133, Qt::AlignLeft | Qt::AlignVCenter},
    {"jm", u"加密码", 0, Qt::AlignLeft | Qt::AlignVCenter},
    {"zt", u"", 0, Qt::AlignCenter},
};

namespace {

// The validity mark's column is hidden: a void code shows as such in every column.
const QString kVoidMark = QStringLiteral("×");
const QString kVoidNote = QStringLiteral("礼包码已失效或已被查封");

// What a row's state adds to its look in every column, for the eye and for a screen reader: a
// code received before is greyed and says when; a void code is struck through in grey.
QVariant rowLook(const GiftEntry &row, int role) {
    const bool received = row.receivedAt.isValid();
    const bool isVoid = row.mark.contains(kVoidMark);
    switch (role) {
    case Qt::ForegroundRole:
        return received || isVoid ? QVariant(QColor(Qt::gray)) : QVariant();
    case Qt::FontRole: {
        if (!isVoid)
            return {};
        QFont struck;
        struck.setStrikeOut(true);
        return struck;
    }
    case Qt::ToolTipRole:
        if (received)
            return QString(u"已于" +
                           row.receivedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
                           u"接收过");
        return isVoid ? QVariant(kVoidNote) : QVariant();
    case Qt::AccessibleDescriptionRole: {
        QStringList said;
        if (received)
            said.append(QStringLiteral("已接收"));
        if (isVoid)
            said.append(kVoidNote);
        return said.isEmpty() ? QVariant() : QVariant(said.join(u'，'));
    }
    default:
        return {};
    }
}

const QList<int> kLookRoles{Qt::ForegroundRole, Qt::FontRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole};

} // namespace

GiftListModel::GiftListModel(QObject *parent)
    : QAbstractTableModel(parent) {}

int GiftListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int GiftListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant GiftListModel::data(const QModelIndex &index, int role) const {
    if (!isRow(index))
        return {};
    const GiftEntry &row = m_rows.at(index.row());
    if (role == Qt::CheckStateRole && index.column() == NumberColumn)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[index.column()].alignment);
    if (const QVariant look = rowLook(row, role); look.isValid())
        return look;
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    switch (static_cast<Column>(index.column())) {
    case NumberColumn:
        return row.number;
    // Text from a site is shown cut at a length no screen needs (the row keeps all of it).
    case TitleColumn:
        return text::shownText(row.title);
    case SizeColumn:
        return text::shownText(row.size);
    case CodeColumn:
        return text::shownText(row.code);
    case KeyColumn:
        return text::shownText(row.key);
    case MarkColumn:
        return row.mark;
    case ColumnCount:
        break;
    }
    return {};
}

bool GiftListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!isRow(index) || role != Qt::CheckStateRole || index.column() != NumberColumn)
        return false;
    const bool checked = value.value<Qt::CheckState>() == Qt::Checked;
    if (m_rows[index.row()].checked == checked)
        return true;
    setChecked(index.row(), checked);
    Q_EMIT checkToggled(index.row());
    return true;
}

QVariant GiftListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return kColumns[section].header.toString();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[section].alignment);
    return {};
}

Qt::ItemFlags GiftListModel::flags(const QModelIndex &index) const {
    if (!isRow(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == NumberColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

int GiftListModel::AppendGiftRow(const QString &title, const QString &size, const QString &key) {
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(GiftEntry{++m_lastId, QString::number(row + 1), title, size, {}, key, {}, false, {}});
    endInsertRows();
    Q_EMIT rowAppended(row);
    return row;
}

int GiftListModel::rowOf(quint64 id) const {
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].id == id)
            return row;
    }
    return -1;
}

void GiftListModel::clear() {
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void GiftListModel::setCode(int row, const QString &code) {
    m_rows[row].code = code;
    changed(row, CodeColumn);
}

void GiftListModel::setMark(int row, const QString &mark) {
    m_rows[row].mark = mark;
    changed(row, MarkColumn);
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), kLookRoles);
}

void GiftListModel::setReceivedAt(int row, const QDateTime &when) {
    m_rows[row].receivedAt = when;
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1), kLookRoles);
}

void GiftListModel::setChecked(int row, bool checked) {
    m_rows[row].checked = checked;
    changed(row, NumberColumn, {Qt::CheckStateRole});
}

void GiftListModel::setAllChecked(bool checked) {
    for (int row = rowCount() - 1; row >= 0; --row)
        setChecked(row, checked);
}

void GiftListModel::removeRowAt(int row) {
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

int GiftListModel::CheckedCount() const {
    return static_cast<int>(
        std::count_if(m_rows.cbegin(), m_rows.cend(), [](const GiftEntry &row) { return row.checked; }));
}

void GiftListModel::RenumberRows() {
    for (int row = 0; row < m_rows.size(); ++row)
        m_rows[row].number = QString::number(row + 1);
    if (!m_rows.isEmpty())
        Q_EMIT dataChanged(index(0, NumberColumn), index(static_cast<int>(m_rows.size()) - 1, NumberColumn),
                           {Qt::DisplayRole});
}

bool GiftListModel::isRow(const QModelIndex &index) const {
    // Views and the model tester ask about the invalid (root) index too; it has no data.
    return index.isValid() && index.model() == this && !index.parent().isValid() &&
           index.row() < m_rows.size() && index.column() < ColumnCount;
}

void GiftListModel::changed(int row, Column column, const QList<int> &roles) {
    const QModelIndex at = index(row, column);
    Q_EMIT dataChanged(at, at, roles);
}
