#include "receive/receivejob.h"

#include "web/clouddisk.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>

ReceiveRules ReceiveRules::one() {
    return {clouddisk::kReceivedMarker.toString(), true, true, -1};
}

ReceiveRules ReceiveRules::batch() {
    return {clouddisk::kBatchReceivedMarker.toString(), false, true, -1};
}

ReceiveRules ReceiveRules::automatic() {
    // Unattended, a page of a thousand gifts must not become a burst of posts: one each 2 s, 50
    // at most, and the rest at the next check.
    return {clouddisk::kReceivedMarker.toString(), false, true, 50, 2000};
}

ReceiveJob::ReceiveJob(WebClient &web, QString cloudDisk, GiftPosts &posts, QList<Gift> gifts,
                       ReceiveRules rules, QObject *parent)
    : Job(parent)
    , m_web(web)
    , m_cloudDisk(std::move(cloudDisk))
    , m_posts(posts)
    , m_gifts(std::move(gifts))
    , m_rules(std::move(rules))
    , m_signOutsBefore(posts.signOuts()) {}

std::optional<PassReason> ReceiveJob::passOverAtOnce(const Gift &gift,
                                                     const QSet<QString> &receivedNow) const {
    if (gift.code.isEmpty())
        return PassReason::NoCode;
    if (m_rules.skipVoid && gift.mark.contains(clouddisk::kVoidMark))
        return PassReason::Void;
    if (receivedNow.contains(gift.code))
        return PassReason::Received;
    return std::nullopt;
}

ReceiveStop ReceiveJob::stopAfter(ReceiveOutcome outcome) {
    switch (outcome) {
    case ReceiveOutcome::NotSignedIn:
        return ReceiveStop::NotSignedIn;
    case ReceiveOutcome::MembersOnly:
        return ReceiveStop::MembersOnly;
    case ReceiveOutcome::NoAnswer:
        return ReceiveStop::NoAnswer;
    case ReceiveOutcome::Received:
    case ReceiveOutcome::UnderReview:
    case ReceiveOutcome::Failed:
        break;
    }
    return ReceiveStop::None;
}

QCoro::Task<bool> ReceiveJob::keepPace(const QElapsedTimer &sinceLastPost) {
    if (!sinceLastPost.isValid() || sinceLastPost.elapsed() >= m_rules.paceMs)
        co_return true;
    // A cancel ends the wait at once, with the job's scope.
    QTimer pace;
    pace.setSingleShot(true);
    pace.start(int(m_rules.paceMs - sinceLastPost.elapsed()));
    co_return co_await scope().until(&pace, &QTimer::timeout);
}

QCoro::Task<> ReceiveJob::work() {
    ReceiveSummary summary;
    const int total = int(m_gifts.size());
    QSet<QString> receivedNow; // a code listed twice is posted once, with a ledger or without
    const auto pass = [&](const Gift &gift, PassReason reason) {
        ++summary.skipped;
        Q_EMIT passedOver(gift, reason);
    };
    QElapsedTimer sinceLastPost; // invalid until the first post
    qsizetype i = 0;
    for (; i < m_gifts.size(); setProgress(int(++i), total)) {
        const Gift &gift = m_gifts[i];
        if (m_stopAsked) {
            summary.stop = ReceiveStop::Asked;
            break;
        }
        if (const std::optional<PassReason> reason = passOverAtOnce(gift, receivedNow)) {
            pass(gift, *reason);
            continue;
        }
        if (m_rules.most >= 0 && summary.attempted >= m_rules.most) {
            summary.stop = ReceiveStop::Limit;
            break;
        }
        if (!co_await keepPace(sinceLastPost))
            co_return;
        const Receipt receipt = co_await m_posts.receive(m_web, m_cloudDisk, gift, m_rules.successMarker,
                                                         m_rules.force, m_signOutsBefore, scope());
        if (isCancelled())
            co_return;
        switch (receipt.kind) {
        case Receipt::Kind::Cancelled:
            co_return;
        case Receipt::Kind::SignedOut:
            summary.stop = ReceiveStop::SignedOut;
            break;
        case Receipt::Kind::Held:
            pass(gift, receipt.held == ClaimState::Proven ? PassReason::Received : PassReason::Unknown);
            continue;
        case Receipt::Kind::NotRecorded:
            summary.left.append(gift);
            pass(gift, PassReason::NotRecorded);
            continue;
        case Receipt::Kind::Answered:
            sinceLastPost.start();
            ++summary.attempted;
            if (receipt.outcome == ReceiveOutcome::Received) {
                ++summary.received;
                summary.receivedCodes.append(gift.code);
                if (receipt.proven)
                    receivedNow.insert(gift.code);
            }
            Q_EMIT answered(gift, receipt.outcome, receipt.reply, receipt.proven);
            if (isCancelled())
                co_return; // the window went while a message box was up
            summary.stop = stopAfter(receipt.outcome);
            break;
        }
        if (summary.stop != ReceiveStop::None)
            break;
    }
    // What is left for later: the gift that stopped it and all after it (their claims decide
    // whether they may go then). The members-only answer will not change; a stop the user asked
    // for leaves nothing.
    if (summary.stop != ReceiveStop::None && summary.stop != ReceiveStop::Asked &&
        summary.stop != ReceiveStop::MembersOnly)
        summary.left += m_gifts.mid(i);
    finish(&ReceiveJob::finished, summary);
}
