#include "app/ledgeropener.h"

#include "app/ledgerwindow.h"
#include "desktop/desktop.h"
#include "ledger/ledger.h"
#include "session/giftsession.h"

LedgerOpener::LedgerOpener(GiftSession &session, QWidget *window)
    : QObject(window)
    , m_session(session)
    , m_window(window) {}

void LedgerOpener::open(const QStringList &codes) {
    Ledger *ledger = m_session.ledger();
    // A ledger that waits for a file another program holds is shown as far as it can be.
    if (!ledger || ledger->isOff()) {
        m_session.desktop().information(m_window, QStringLiteral("Corvane软件"),
                                        u"接收记录不可用：" + (ledger ? ledger->whyOff() : QString()));
        return;
    }
    if (!m_ledgerWindow) {
        m_ledgerWindow =
            new LedgerWindow(*ledger, m_session.desktop(), m_session.sites().cloudDisk, m_window);
        connect(m_ledgerWindow, &LedgerWindow::receiveRequested, this, &LedgerOpener::receiveRequested);
    }
    m_ledgerWindow->showCodes(codes);
    m_ledgerWindow->show();
    m_ledgerWindow->raise();
    m_ledgerWindow->activateWindow();
}
