#pragma once

#include "job/job.h"
#include "receive/receive.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// How a receive goes: what differs between the user's receive of one gift, a batch of ticked
// rows and the new-gift watch's receive is data, not another loop.
struct ReceiveRules {
    QString successMarker; // what a reply must hold to count as received
    bool force = false;    // the user's own receive of one gift: posted whatever the ledger holds
    bool skipVoid = true;  // a code the cloud disk called void ("×") is not posted
    int most = -1;         // posts at most (the rest are left for later); -1: no limit
    int paceMs = 0;        // between one post and the next, at least

    static ReceiveRules one();       // "成功接收", forced
    static ReceiveRules batch();     // "成功"
    static ReceiveRules automatic(); // "成功接收", 50 at most, 2 s apart
};

// Why a gift was not posted.
enum class PassReason {
    NoCode,      // no code to post
    Void,        // the cloud disk called it void
    Received,    // proven received before, here or by another Giftvane
    Unknown,     // posted before without a known result, or being posted by another Giftvane
    NotRecorded, // the ledger could not take its claim now
};

// Why a receive ended before its last gift.
enum class ReceiveStop {
    None,
    NotSignedIn, // answered with the sign-in page
    MembersOnly, // answered that receiving is for members only
    NoAnswer,    // the cloud disk did not answer: the next would wait as long for none
    SignedOut,   // the user signed out meanwhile
    Asked,       // the user stopped it
    Limit,       // it posted as many as it may at once
};

// What one receive did.
struct ReceiveSummary {
    int attempted = 0; // posts answered or gone unanswered
    int received = 0;  // of them
    int skipped = 0;   // gifts passed over
    ReceiveStop stop = ReceiveStop::None;
    QStringList receivedCodes;
    // Not posted for want of an answer, a sign-in, a claim or a turn: to be tried again later.
    QList<Gift> left;

    int failed() const { return attempted - received; }
};

// Receives gifts into the cloud disk one after another, each through the program's GiftPosts
// (its claim first, one post at a time in the whole program), and tells what each did. The
// answer to a post is announced before the next is asked for: a handler may show a message box
// and the job waits for it. A sign-in page, the members-only answer, no answer at all, or a
// sign-out since the job was made end it. A job (see Job); its progress counts gifts.
class ReceiveJob final : public Job {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReceiveJob)

public:
    ReceiveJob(WebClient &web, QString cloudDisk, GiftPosts &posts, QList<Gift> gifts, ReceiveRules rules,
               QObject *parent = nullptr);

    // Ends the job after the post in flight.
    void stopAfterCurrent() { m_stopAsked = true; }
    const QList<Gift> &gifts() const { return m_gifts; }

Q_SIGNALS:
    void passedOver(const Gift &gift, PassReason reason);
    void answered(const Gift &gift, ReceiveOutcome outcome, const QString &reply, bool proven);
    void finished(const ReceiveSummary &summary);

protected:
    QCoro::Task<> work() override;

private:
    // Why the gift is passed over without asking the cloud disk or the ledger; none: it is not.
    std::optional<PassReason> passOverAtOnce(const Gift &gift, const QSet<QString> &receivedNow) const;
    // Which answers end the job: the ones the next post would meet again.
    static ReceiveStop stopAfter(ReceiveOutcome outcome);
    // Waits out the pace since the last post; false when the job was cancelled meanwhile.
    QCoro::Task<bool> keepPace(const QElapsedTimer &sinceLastPost);

    WebClient &m_web;
    const QString m_cloudDisk;
    GiftPosts &m_posts;
    const QList<Gift> m_gifts;
    const ReceiveRules m_rules;
    const quint64 m_signOutsBefore;
    bool m_stopAsked = false;
};
