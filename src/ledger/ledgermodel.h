#pragma once

#include "ledger/ledger.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QTimer>

// The ledger's codes as a table, filtered and sorted by the ledger's own queries and read a
// batch at a time as the view scrolls, so that it opens at once over any number of codes. What
// is recorded meanwhile is read back by code and put in its place among the rows read so far,
// so that following the ledger costs the same at a hundred codes or a million.
class LedgerModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LedgerModel)

public:
    // The columns are the ledger's fields, in the same order.
    enum Column {
        CodeColumn = int(LedgerField::Code),
        TitleColumn = int(LedgerField::Title),
        SizeColumn = int(LedgerField::Size),
        TabColumn = int(LedgerField::Tab),
        SourceColumn = int(LedgerField::Source),
        MarkColumn = int(LedgerField::Mark),
        FirstSeenColumn = int(LedgerField::FirstSeen),
        LastSeenColumn = int(LedgerField::LastSeen),
        OutcomeColumn = int(LedgerField::Outcome),
        LastTriedColumn = int(LedgerField::LastTried),
        ColumnCount
    };
    static constexpr int kBatch = 256;
    // How long after a change the changed rows are read again.
    static constexpr int kRefreshDelayMs = 250;

    // The ledger must outlive the model.
    explicit LedgerModel(Ledger &ledger, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Shows the codes whose code, title or outcome (as shown) holds the text, regardless of case.
    void setFilter(const QString &text);
    QString filter() const { return m_view.filter; }
    // Shows only these codes (the filter applies within them); none: every code.
    void setCodes(const QStringList &codes);
    QStringList codes() const { return m_view.codes; }
    const LedgerView &view() const { return m_view; }
    // Reads the rows again, as many batches as were read before.
    void refresh();
    // Reads the rows of the codes recorded since the last time and puts them in place now.
    void follow();

    // The code of a row read, as recorded (not cut for the screen); empty for no such row.
    QString codeAt(int row) const {
        return row >= 0 && row < m_rows.size() ? m_rows.at(row).code : QString();
    }

    QStringList headers() const;
    // Every row that matches the filter, in the shown order, as the view shows it: not only
    // the rows read so far.
    QList<QStringList> shownRows() const;

    // The text of one field of a row, as shown.
    static QString cellText(const LedgerRow &row, int column);

Q_SIGNALS:
    // The rows were read again or followed the ledger: the counts may have moved.
    void updated();

private:
    void reload(int atLeast);
    // Whether the row comes before the other in the view's order.
    bool before(const LedgerRow &row, const LedgerRow &other) const;
    void place(const LedgerRow &row);

    Ledger &m_ledger;
    LedgerView m_view;
    QList<LedgerRow> m_rows;
    bool m_more = false;
    // A burst of records (a batch receive) is followed once.
    QSet<QString> m_recorded;
    QTimer m_follow;
};
