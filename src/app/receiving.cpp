#include "app/receiving.h"

#include "ledger/ledger.h"
#include "session/giftsession.h"

#include <QWidget>

#include <utility>

Receiving::Receiving(GiftSession &session, QWidget *window)
    : QObject(window)
    , m_session(session)
    , m_window(window) {}

Receiving::~Receiving() {
    if (m_flow)
        m_flow->cancel(); // it deletes itself
}

ReceiveFlow *Receiving::startFlow() {
    if (m_flow)
        return nullptr; // one receive at a time; its dialog keeps the window's commands away meanwhile
    auto *flow = new ReceiveFlow(
        {m_session.web(), m_session.sites().cloudDisk, m_session.desktop(), m_session.posts()}, m_window);
    connect(flow, &ReceiveFlow::statusText, this, &Receiving::statusText);
    connect(flow, &ReceiveFlow::logLine, this, &Receiving::logLine);
    connect(flow, &ReceiveFlow::finished, this, [this] {
        m_flow = nullptr;
        for (const QString &warning : std::exchange(m_heldWarnings, {}))
            Q_EMIT warned(warning);
    });
    m_flow = flow;
    return flow;
}

void Receiving::receiveOne(const GiftEntry &selected) {
    if (ReceiveFlow *flow = startFlow())
        flow->receiveOne(selected);
}

void Receiving::receiveBatch(const QList<GiftEntry> &rows) {
    if (ReceiveFlow *flow = startFlow())
        flow->receiveBatch(rows);
}

void Receiving::receiveCodes(const QStringList &codes) {
    LedgerView view;
    view.codes = codes;
    QList<GiftEntry> rows;
    if (const Ledger *ledger = m_session.ledger()) {
        for (const LedgerRow &known : ledger->rows(view)) {
            GiftEntry row;
            row.title = known.title;
            row.code = known.code;
            row.mark = known.mark;
            row.checked = true;
            rows.append(row);
        }
    }
    receiveBatch(rows);
}

bool Receiving::holds(Severity severity, const QString &text) {
    if (severity != Severity::Warning || !isBusy())
        return false;
    m_heldWarnings.append(text);
    return true;
}
