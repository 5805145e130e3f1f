#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class GiftSession;
class LedgerWindow;
class QWidget;

// 接收记录 as the main window opens it: one window, made on first use and brought back in front
// after, or the reason the ledger cannot be shown.
class LedgerOpener final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LedgerOpener)

public:
    // The session must outlive this; the window is the parent of the ledger window and the boxes.
    LedgerOpener(GiftSession &session, QWidget *window);

    // The whole ledger, or only these codes.
    void open(const QStringList &codes = {});

Q_SIGNALS:
    // The ledger window's "接收": these codes, as a batch.
    void receiveRequested(const QStringList &codes);

private:
    GiftSession &m_session;
    QWidget *m_window;
    QPointer<LedgerWindow> m_ledgerWindow;
};
