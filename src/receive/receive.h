#pragma once

#include "job/slots.h"
#include "ledger/ledger.h"
#include "receive/replies.h"
#include "web/webclient.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

class RequestScope;
class WebClient;

// Posts one gift code to the cloud disk's receive endpoint; empty text when the request fails
// (no connection, time-out, a reply too large or sent on to another host), and the failure's
// reason with it.
QCoro::Task<Fetched> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code,
                                  RequestScope *scope = nullptr);

// A gift to receive, as the caller holds it.
struct Gift {
    QString code;
    QString title;
    QString mark; // "×" when the cloud disk called the code void
};

// What one turn at the cloud disk gave.
struct Receipt {
    enum class Kind {
        Answered,    // posted; the outcome says how it went
        Held,        // claimed or proven received already (here or by another Giftvane): not posted
        NotRecorded, // the ledger could not take the claim now: not posted
        SignedOut,   // the user signed out since the receive was asked for: not posted
        Cancelled,   // called off before it went
    };
    Kind kind = Kind::Cancelled;
    ReceiveOutcome outcome = ReceiveOutcome::NoAnswer; // of an answered post
    QString reply;                                     // the reply's text
    bool proven = false;                               // the reply proved the receive ("成功接收")
    ClaimState held = ClaimState::Free;                // what held the code back
};

// Gift codes go to the cloud disk one at a time in the whole program, the user's receives and the
// new-gift watch's alike, and each only after its claim is in the ledger, so that no code is ever
// posted twice without the user asking, by this program or another on the same ledger; the
// post's outcome settles the claim. A ledger that is off (or none) keeps no claims: codes are
// posted as the user asks. What each post gave is announced once, here, for whoever keeps the
// sign-in or shows the codes.
class GiftPosts final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GiftPosts)

public:
    // The ledger must outlive this.
    explicit GiftPosts(Ledger *ledger = nullptr, QObject *parent = nullptr);

    // The user signed out: no post asked for before now goes out.
    void signOut() { ++m_signOuts; }
    quint64 signOuts() const { return m_signOuts; }
    // A post has gone out and its answer is awaited.
    bool isPosting() const { return m_posting; }

    // Posts the gift's code on its turn, unless a sign-out came after `signOutsBefore`, the claim
    // is held (never for `force`, the user's own receive of one gift) or cannot be written. The
    // reply is read with `successMarker`.
    QCoro::Task<Receipt> receive(WebClient &web, QString cloudDisk, Gift gift, QString successMarker,
                                 bool force, quint64 signOutsBefore, RequestScope &scope);

Q_SIGNALS:
    // A post was answered (or went unanswered) and its outcome recorded.
    void posted(const QString &code, ReceiveOutcome outcome, bool proven);
    // A post was answered with the sign-in page although the user had not signed out: the
    // sign-in the cookies carried has expired.
    void signInRefused();
    // The post in flight was answered, went unanswered, or was called off.
    void postEnded();

private:
    bool keepsClaims() const { return m_ledger && !m_ledger->isOff(); }

    Ledger *m_ledger;
    Slots m_turn{1};
    bool m_posting = false;
    quint64 m_signOuts = 0;
};
