#pragma once

#include "harvest/harvestrun.h"
#include "receive/receive.h"
#include "web/job.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Ledger;
class WebClient;

// What one auto-receive did.
struct AutoReceiveSummary {
    int attempted = 0;
    int received = 0;
    bool signInExpired = false; // answered "登录帐号": stopped there
    bool membersOnly = false;   // answered "仅限VIP": stopped there
    bool noAnswer = false;      // the cloud disk did not answer: stopped there
    bool signedOut = false;     // the kept sign-in went (the user signed out): stopped there
    QStringList receivedCodes;
    // Not received for want of an answer or of a sign-in: to be tried again later.
    QList<HarvestedRow> left;

    int failed() const { return attempted - received; }
};

// Receives gifts into the cloud disk in the background, one after another, without a dialog:
// each with the receive request and the single receive's own success marker "成功接收", each
// attempt recorded in the ledger. A sign-in page ("登录帐号") or the members-only answer
// ("仅限VIP") stops it, as it stops a batch; so does a post that got no answer, since the next
// would wait as long for none; and so does the kept sign-in going away. It posts through the
// program's shared GiftPosts, and passes over a code the ledger holds as received by then. A job
// (see Job).
class AutoReceive final : public Job {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoReceive)

public:
    // `posts`: shared with the window's receives (none: its own); `signedIn`: whether the
    // sign-in is still kept.
    AutoReceive(WebClient &web, QString cloudDisk, Ledger *ledger, QList<HarvestedRow> gifts,
                GiftPosts *posts = nullptr, std::function<bool()> signedIn = {});

Q_SIGNALS:
    void finished(const AutoReceiveSummary &summary);

protected:
    QCoro::Task<> work() override;

private:
    WebClient &m_web;
    const QString m_cloudDisk;
    Ledger *m_ledger;
    const QList<HarvestedRow> m_gifts;
    GiftPosts m_ownPosts;
    GiftPosts &m_posts;
    const std::function<bool()> m_signedIn;
};
