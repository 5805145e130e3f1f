#pragma once

#include "app/receiveflow.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class GiftSession;
class QWidget;
enum class Severity;

// The user's receives in the window, one at a time: the selected gift, the ticked rows of a list,
// or codes picked in 接收记录. While one runs, its dialog keeps the window's commands away.
class Receiving final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Receiving)

public:
    // The session must outlive this; the window is the parent of the dialog and the boxes.
    Receiving(GiftSession &session, QWidget *window);
    // Calls off the receive going on, which then says nothing more.
    ~Receiving() override;

    bool isBusy() const { return !m_flow.isNull(); }
    ReceiveFlow *flow() const { return m_flow; }

    void receiveOne(const GiftEntry &selected);
    void receiveBatch(const QList<GiftEntry> &rows);
    // The codes as the ledger knows them, as a batch: what was received is passed over.
    void receiveCodes(const QStringList &codes);
    // A warning during a receive is held until the receive has said its own messages, so that it
    // is what the status bar shows: warned() then. True when it is held.
    bool holds(Severity severity, const QString &text);

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    // A warning held while the receive ran, once it has ended by itself.
    void warned(const QString &text);

private:
    ReceiveFlow *startFlow();

    GiftSession &m_session;
    QPointer<QWidget> m_window;
    QPointer<ReceiveFlow> m_flow;
    QStringList m_heldWarnings;
};
