#include "app/ledgermigration.h"

#include "ledger/ledger.h"

#include <QProgressDialog>

namespace {

// The dialog's range is in thousandths: a count of codes need not fit an int.
constexpr int kSteps = 1000;

} // namespace

LedgerMigration::LedgerMigration(Ledger &ledger, QWidget *over)
    : m_over(over) {
    connect(&ledger, &Ledger::migrating, this, &LedgerMigration::show);
}

LedgerMigration::~LedgerMigration() {
    delete m_dialog;
}

void LedgerMigration::show(qint64 done, qint64 total) {
    if (!m_dialog) {
        if (done >= total)
            return; // nothing to wait for
        m_dialog = new QProgressDialog(QStringLiteral("正在升级接收记录，只需这一次……"), QString(), 0, kSteps,
                                       m_over);
        m_dialog->setWindowTitle(QStringLiteral("接收记录"));
        // The upgrade is one transaction: stopping it half-way would only start it over.
        m_dialog->setCancelButton(nullptr);
        m_dialog->setWindowModality(m_over ? Qt::WindowModal : Qt::ApplicationModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
    }
    m_dialog->setValue(total > 0 ? int(done * kSteps / total) : kSteps);
    if (done >= total)
        delete m_dialog;
}
