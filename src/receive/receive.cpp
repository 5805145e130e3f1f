#include "receive/receive.h"

#include "web/clouddisk.h"
#include "web/webclient.h"

#include <QScopeGuard>

namespace {

// How the ledger keeps an outcome; a post that got no answer is unknown unless it never went.
ReceiveKind kindOf(ReceiveOutcome outcome, bool unsent) {
    switch (outcome) {
    case ReceiveOutcome::NotSignedIn:
        return ReceiveKind::NotSignedIn;
    case ReceiveOutcome::Received:
        return ReceiveKind::Received;
    case ReceiveOutcome::MembersOnly:
        return ReceiveKind::MembersOnly;
    case ReceiveOutcome::UnderReview:
        return ReceiveKind::UnderReview;
    case ReceiveOutcome::NoAnswer:
        return unsent ? ReceiveKind::NoAnswer : ReceiveKind::Unknown;
    case ReceiveOutcome::Failed:
        break;
    }
    return ReceiveKind::Failed;
}

} // namespace

QCoro::Task<Fetched> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code, RequestScope *scope) {
    co_return co_await web.PostFormSync(clouddisk::receiveAddress(cloudDiskHost),
                                        clouddisk::receiveBody(code), scope);
}

GiftPosts::GiftPosts(Ledger *ledger, QObject *parent)
    : QObject(parent)
    , m_ledger(ledger) {}

QCoro::Task<Receipt> GiftPosts::receive(WebClient &web, QString cloudDisk, Gift gift, QString successMarker,
                                        bool force, quint64 signOutsBefore, RequestScope &scope) {
    Receipt receipt;
    if (!co_await m_turn.take(scope))
        co_return receipt; // cancelled
    const auto giveBack = qScopeGuard([this] { m_turn.give(); });
    // Checked on the turn itself: the user may have signed out while this waited.
    if (m_signOuts != signOutsBefore) {
        receipt.kind = Receipt::Kind::SignedOut;
        co_return receipt;
    }
    if (keepsClaims()) {
        const Claim claim = m_ledger->claim(gift.code, gift.title, force);
        if (claim.result == Claim::Result::Held) {
            receipt.kind = Receipt::Kind::Held;
            receipt.held = claim.held;
            co_return receipt;
        }
        // Losing the record of a receive is worse than not receiving. (A file that this turned
        // off for good keeps no claims from now on, as one that was off from the start.)
        if (claim.result == Claim::Result::NotWritten) {
            receipt.kind = Receipt::Kind::NotRecorded;
            co_return receipt;
        }
    }
    m_posting = true;
    const Fetched reply = co_await PostGiftCode(web, cloudDisk, gift.code, &scope);
    m_posting = false;
    Q_EMIT postEnded();
    if (scope.isAborted()) {
        // Called off: a post that never went gives its claim back; one that may have gone is
        // unknown, and stays claimed.
        if (keepsClaims())
            m_ledger->recordReceive(gift.code, gift.title,
                                    reply.unsent ? ReceiveKind::NoAnswer : ReceiveKind::Unknown, {});
        co_return receipt;
    }
    receipt.kind = Receipt::Kind::Answered;
    receipt.outcome = readReceiveReply(reply.text, reply.ok(), successMarker);
    receipt.reply = reply.text;
    // Only the single receive's own marker proves a receive: a looser "成功" may be a failure's text.
    receipt.proven =
        receipt.outcome == ReceiveOutcome::Received && reply.text.contains(clouddisk::kReceivedMarker);
    if (m_ledger) {
        m_ledger->recordReceive(gift.code, gift.title, kindOf(receipt.outcome, reply.unsent),
                                receipt.proven ? clouddisk::kReceivedMarker.toString()
                                               : markerOf(receipt.outcome, successMarker),
                                receipt.proven);
    }
    Q_EMIT posted(gift.code, receipt.outcome, receipt.proven);
    if (receipt.outcome == ReceiveOutcome::NotSignedIn && m_signOuts == signOutsBefore)
        Q_EMIT signInRefused();
    co_return receipt;
}
