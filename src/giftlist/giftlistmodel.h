#pragma once

#include "giftlist/giftentry.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

// The rows of one tab's gift list, shown by a report-style view with a check box per row.
class GiftListModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GiftListModel)

public:
    enum Column { NumberColumn, TitleColumn, SizeColumn, CodeColumn, KeyColumn, MarkColumn, ColumnCount };
    struct ColumnSpec {
        const char *key;
        QStringView header;
        int widthPx; // twips ÷ 15; 0 for the hidden columns
        Qt::Alignment alignment;
    };
    static const ColumnSpec kColumns[ColumnCount];

    explicit GiftListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Row positions here are 0-based; the row number shown is position + 1.
    const GiftEntry &entry(int row) const { return m_rows.at(row); }
    // The row's place now, or -1 when it is no longer in the list.
    int rowOf(quint64 id) const;
    const QList<GiftEntry> &entries() const { return m_rows; }

    // Adds a row with the new row count as its number; returns its position.
    int AppendGiftRow(const QString &title, const QString &size, const QString &key);
    void clear();
    void setCode(int row, const QString &code);
    void setMark(int row, const QString &mark);
    void setChecked(int row, bool checked);
    void setReceivedAt(int row, const QDateTime &when);
    // Sets or clears every row's check box, from the last row to the first.
    void setAllChecked(bool checked);
    void removeRowAt(int row);
    int CheckedCount() const;
    void RenumberRows();

Q_SIGNALS:
    // The user ticked or cleared a row's check box.
    void checkToggled(int row);
    void rowAppended(int row);

private:
    bool isRow(const QModelIndex &index) const;
    void changed(int row, Column column, const QList<int> &roles = {Qt::DisplayRole});

    QList<GiftEntry> m_rows;
    quint64 m_lastId = 0;
};
