#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>

class Ledger;
class QWidget;

// Shows the ledger's one-time upgrade of an older file (building its search index, a minute at
// a million codes) in a progress dialog while Ledger::open() runs it, so that a start that
// takes long says why. The upgrade runs within open(), on this thread: the dialog is modal,
// and a modal QProgressDialog repaints from each step's setValue(). Nothing shows for a file
// that needs no upgrade. Make it before open() and keep it until open() has returned.
class LedgerMigration final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LedgerMigration)

public:
    // The dialog goes over the window when there is one; the ledger must outlive this.
    explicit LedgerMigration(Ledger &ledger, QWidget *over = nullptr);
    ~LedgerMigration() override;

    // The dialog while the upgrade runs; none before and after.
    QProgressDialog *dialog() const { return m_dialog; }

private:
    void show(qint64 done, qint64 total);

    QWidget *m_over;
    QPointer<QProgressDialog> m_dialog;
};
