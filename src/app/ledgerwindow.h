#pragma once

#include "ledger/ledgermodel.h"

#include <QTimer>
#include <QWidget>

class Desktop;
class QAction;
class Ledger;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// 接收记录: the ledger's codes with a search box, sortable columns, the counts of received,
// void and pending codes among the rows shown, and export of the shown rows to CSV. The
// selected rows can be acted on: copy their codes, open the current one's gift page, ask for
// them to be received (buttons, the table's context menu, Ctrl+C). Not modal; it opens centred
// over its parent window, with every column in view; Esc and Ctrl+W close it. A ledger that is
// off is shown as off, with its reason, in place of the table and the counts.
class LedgerWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LedgerWindow)

public:
    // Typing settles this long before the search runs.
    static constexpr int kSearchDelayMs = 150;
    // A search's rows are counted up to this many; beyond, the window says "超过…个结果":
    // counting a million matches would stall the window longer than showing them.
    static constexpr int kCountedAtMost = 10000;

    // The ledger and the desktop must outlive the window. Gift pages are on the cloud disk at
    // that base address.
    LedgerWindow(Ledger &ledger, Desktop &desktop, const QString &cloudDiskBase, QWidget *parent = nullptr);

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

    // The codes of the selected rows, in the shown order.
    QStringList selectedCodes() const;
    // "复制礼包码": the selected codes to the clipboard, one a line.
    void copyCodes();
    // "打开礼包": the gift page of the current row, in the user's browser.
    void openGiftPage();

    void setVisible(bool visible) override;

Q_SIGNALS:
    // "接收": the user asks for these codes to be received; the window receives nothing itself.
    void receiveRequested(const QStringList &codes);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpTable();
    void setUpCodesBar();
    void fitColumns();
    void search();
    void showCounts();
    void enableActions();
    QPushButton *addButton(QAction *action, const QString &name);

    Ledger &m_ledger;
    Desktop &m_desktop;
    QString m_cloudDisk;
    LedgerModel m_model;
    QLineEdit *m_search;
    QTableView *m_view;
    QLabel *m_counts;
    QWidget *m_codesBar; // the note and the button back, while only some codes are shown
    QLabel *m_codesNote;
    QLabel *m_off; // in the table's place while the ledger is off
    QPushButton *m_export;
    QAction *m_copy;
    QAction *m_open;
    QAction *m_receive;
    QTimer m_searchDelay;
};
