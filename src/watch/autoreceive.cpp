#include "watch/autoreceive.h"

#include "ledger/ledger.h"
#include "receive/receive.h"
#include "watch/receiverecords.h"
#include "web/clouddisk.h"

AutoReceive::AutoReceive(WebClient &web, QString cloudDisk, Ledger *ledger, QList<HarvestedRow> gifts,
                         GiftPosts *posts, std::function<bool()> signedIn)
    : m_web(web)
    , m_cloudDisk(std::move(cloudDisk))
    , m_ledger(ledger)
    , m_gifts(std::move(gifts))
    , m_posts(posts ? *posts : m_ownPosts)
    , m_signedIn(std::move(signedIn)) {}

QCoro::Task<> AutoReceive::work() {
    AutoReceiveSummary summary;
    const auto signedOut = [this] { return m_signedIn && !m_signedIn(); };
    // Never twice: a gift received since it was found, by hand or before a check was called off,
    // is passed over.
    const auto received = [this](const QString &code) {
        return m_ledger && m_ledger->confirmedAmong({code}).contains(code);
    };
    for (qsizetype i = 0; i < m_gifts.size(); ++i) {
        const HarvestedRow &gift = m_gifts[i];
        if (gift.code.isEmpty())
            continue;
        if (signedOut()) {
            summary.signedOut = true;
            summary.left = m_gifts.mid(i);
            break;
        }
        // Made before the co_await: GCC 12 may destroy a temporary made inside one twice.
        std::function<bool()> passOver = [&received, code = gift.code] { return received(code); };
        const std::optional<Fetched> reply =
            co_await m_posts.post(m_web, m_cloudDisk, gift.code, scope(), std::move(passOver));
        if (isCancelled())
            co_return;
        if (!reply)
            continue;
        const ReceiveOutcome outcome = readReceiveReply(reply->text, reply->ok(), clouddisk::kReceivedMarker);
        if (outcome == ReceiveOutcome::NotSignedIn && signedOut()) {
            // Signed out while the post was on its way: not the gift's failure, nor an expiry.
            summary.signedOut = true;
            summary.left = m_gifts.mid(i);
            break;
        }
        ++summary.attempted;
        recordAttempt(m_ledger, gift.code, gift.title, outcome,
                      markerOf(outcome, clouddisk::kReceivedMarker));
        if (outcome == ReceiveOutcome::Received) {
            ++summary.received;
            summary.receivedCodes.append(gift.code);
        }
        summary.signInExpired = outcome == ReceiveOutcome::NotSignedIn;
        summary.membersOnly = outcome == ReceiveOutcome::MembersOnly;
        summary.noAnswer = outcome == ReceiveOutcome::NoAnswer;
        // The members-only answer will not change; the others may, later.
        if (summary.signInExpired || summary.noAnswer)
            summary.left = m_gifts.mid(i);
        if (summary.signInExpired || summary.membersOnly || summary.noAnswer)
            break;
    }
    finish(&AutoReceive::finished, summary);
}
