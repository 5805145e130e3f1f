#pragma once

#include "cli/arguments.h"

#include <QHash>
#include <QObject>

#include <qcoro/qcorotask.h>

class GiftSession;
struct CheckReport;

// giftvane-harvest watch: the window's new-gift watch without a window, on the same ledger and
// claims, with the same conditional requests, back-off and Retry-After. Each new gift is written
// to stdout as a row when its check has found it; with `receive`, gifts are received with the
// sign-in kept in the secret store. It ends after one check (`once`) or when interrupted, after
// the post in flight.
class WatchCommand final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WatchCommand)

public:
    // Exit status: as the harvests'.
    enum Status { Read = 0, Unreadable = 1, Interrupted = 130, OutputGone = 141 };

    // The session must outlive this; rows as TSV or JSON lines as `json` says.
    WatchCommand(WatchOrder order, bool json, bool header, GiftSession &session, QObject *parent = nullptr);

    void start();
    // SIGINT or SIGTERM: ends once no post is in flight.
    void interrupt();

Q_SIGNALS:
    void finished(int status);

private:
    QCoro::Task<> run();
    void checked(const CheckReport &report);
    void end(int status);

    const WatchOrder m_order;
    const bool m_json;
    const bool m_header;
    GiftSession &m_session;
    QHash<QString, Subscription> m_watched; // by name
    bool m_ending = false;
    bool m_ended = false;
};
