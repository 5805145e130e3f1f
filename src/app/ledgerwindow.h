#pragma once

#include "ledger/ledgermodel.h"

#include <QTimer>
#include <QWidget>

class Desktop;
class Ledger;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// 接收记录: the ledger's codes with a search box, sortable columns, the counts of received,
// void and pending codes, and export of the shown rows to CSV. Not modal; it opens centred
// over its parent window, with every column in view. A ledger that is off is shown as off,
// with its reason, in place of the table and the counts.
class LedgerWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LedgerWindow)

public:
    // Typing settles this long before the search runs.
    static constexpr int kSearchDelayMs = 150;

    // The ledger and the desktop must outlive the window.
    LedgerWindow(Ledger &ledger, Desktop &desktop, QWidget *parent = nullptr);

    LedgerModel &model() { return m_model; }
    QString countsText() const;
    // "接收记录不可用：" and the reason while the ledger is off; empty otherwise.
    QString offText() const;

    // The export command: asks for a file and writes the shown rows to it; refused while the
    // ledger is off.
    void exportCsv();

    // Shows only these codes, the search box cleared, with a note that says so and a button
    // back to the whole ledger; none: the whole ledger.
    void showCodes(const QStringList &codes);
    // The note over the table while only some codes are shown; empty otherwise.
    QString codesText() const;

    void setVisible(bool visible) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitColumns();
    void search();
    void showCounts();

    Ledger &m_ledger;
    Desktop &m_desktop;
    LedgerModel m_model;
    QLineEdit *m_search;
    QTableView *m_view;
    QLabel *m_counts;
    QWidget *m_codesBar; // the note and the button back, while only some codes are shown
    QLabel *m_codesNote;
    QLabel *m_off; // in the table's place while the ledger is off
    QPushButton *m_export;
    QTimer m_searchDelay;
};
