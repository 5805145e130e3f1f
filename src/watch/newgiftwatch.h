#pragma once

#include "harvest/harvestrun.h"
#include "receive/receivejob.h"
#include "watch/subscription.h"
#include "web/sites.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

class Desktop;
class GiftPosts;
class Ledger;
class WatchCheck;
class WebClient;

// What the user chose to watch.
struct WatchChoices {
    static constexpr int kFewestMinutes = 5;
    static constexpr int kMostMinutes = 1440;
    static constexpr int kDefaultMinutes = 30;

    // What is watched: those enabled, each checked once an interval, auto-receive as each says
    // (only while a sign-in is kept).
    QList<Subscription> subscriptions = pages({true, true, true}, false);
    int minutes = kDefaultMinutes; // between a subscription's checks

    // The first pages of the tabs ticked, named as the tabs are.
    static QList<Subscription> pages(const std::array<bool, kTabCount> &tabs, bool autoReceive);
    bool watchesAny() const;
};

// A gift a check found that was new: the ledger had never seen its code, its gift page said it
// was valid, and a subscription's rules let it through (the first that found it, if two did).
struct NewGift {
    HarvestedRow row;
    TabId tab;            // whose site it is on
    QString subscription; // its name
    bool autoReceive = false;
};

// What the watch carries from one check to the next, in memory.
struct WatchMemory {
    // Codes the watched pages list, as their last checks found them: not new again, also where the
    // ledger cannot tell (off, busy) or has not written them yet.
    QSet<QString> seen;
    // What each page (by Subscription::sourceKey) listed at its last reading: codes by resource
    // key (empty: a row whose "code" is none). Only what is on the pages is kept, so the memory
    // stays their size, and a row known here needs no request.
    QHash<QString, QHash<QString, QString>> listed;
    // New codes whose gift page could not be read, to decide later, with the page that lists them.
    QHash<QString, QString> undecided;
    // Pages the watch has read in this run. Where the ledger cannot tell what it has seen, a
    // page is where the watch starts from: none of what it first lists is told as new.
    QSet<QString> read;
    QList<Gift> toReceive; // told, but not received for want of an answer, a sign-in or a claim

    bool decidesOn(const QString &source) const {
        return std::find(undecided.cbegin(), undecided.cend(), source) != undecided.cend();
    }
    // What the pages list now, and no more.
    void keepOnlyListed() {
        seen.clear();
        for (const QHash<QString, QString> &codes : std::as_const(listed)) {
            for (const QString &code : codes) {
                if (!code.isEmpty())
                    seen.insert(code);
            }
        }
    }
};

// What one check found.
struct CheckReport {
    QDateTime at;
    QList<NewGift> gifts;
    QStringList unreadable; // "原神：连接超时", a line a subscription whose page could not be read
    int unchanged = 0;      // pages that answered that they had not changed
    std::optional<ReceiveSummary> received;

    QStringList codes() const;
    // "原神：3个；崩坏：1个", the subscriptions that found new gifts, in the order they found them.
    QString bySubscription() const;
};

// The new-gift watch: each subscription's page (a tab's first page, or a keyword search) checked
// in the background every N minutes (give or take a tenth, so that many users do not ask at the
// same second), one check at a time, through the same harvests as the window's tabs, none of
// whose lists or controls it touches. Checks are spread over the interval: at most one starts
// per site a minute. A page is asked for only if it changed since its last answer. A page that
// cannot be read is asked for at twice the interval, up to six hours, or later when it said so
// (Retry-After), until it is read again. What is found is recorded in the ledger like any
// harvest; what is new and passes a subscription's rules is told through a desktop
// notification, and with its auto-receive chosen and a sign-in kept, received.
class NewGiftWatch final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NewGiftWatch)

public:
    static constexpr int kLongestMinutes = 6 * 60;
    static constexpr int kSiteSpacingMs = 60 * 1000;

    struct Context {
        WebClient &web;
        SiteAddresses sites;
        Desktop &desktop;
        Ledger *ledger = nullptr;
        std::function<bool()> signInKept; // auto-receive only while this holds
        GiftPosts &posts;                 // the program's one queue of posts, with the ledger's claims
    };

    explicit NewGiftWatch(Context context, QObject *parent = nullptr);
    // Ends a check in flight.
    ~NewGiftWatch() override;

    // Checks at once, then on its schedule.
    // `all`: the first check reads every page at once (one look, for cron), not spread.
    void start(const WatchChoices &choices, bool all = false);
    void stop();
    bool isRunning() const { return m_running; }
    bool isChecking() const { return !m_check.isNull(); }
    const WatchChoices &choices() const { return m_choices; }
    // When the n-th subscription's page is asked for next; invalid when it is not watched.
    QDateTime dueAt(int subscription) const;
    // Each subscription's state: validators, back-off, next and last check.
    QList<SubscriptionState> states() const;
    // The last check's time and what it found; none before the first.
    const std::optional<CheckReport> &lastCheck() const { return m_last; }

    // For tests: the time, and the factor that spreads the interval (0.9 to 1.1).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setSpread(std::function<double()> spread) { m_spread = std::move(spread); }
    // For tests: auto-receive posts at most so many gifts a check, so many milliseconds apart.
    void setReceivePace(int most, int paceMs) {
        m_receiveRules.most = most;
        m_receiveRules.paceMs = paceMs;
    }
    // Checks the pages due now, at most one per site a minute (all watched ones at once when
    // `all`), unless a check is in flight.
    void checkNow(bool all = false);

Q_SIGNALS:
    void checkStarted();
    void checked(const CheckReport &report);
    // The user clicked the notification of new gifts: these codes.
    void giftsActivated(const QStringList &codes);
    // An auto-receive was answered with the sign-in page: the kept sign-in has expired.
    void signInExpired();

private:
    void schedule();
    // The site's next check may start then at the earliest.
    QDateTime siteFree(const Subscription &subscription) const;
    void tell(const CheckReport &report);
    QDateTime now() const;

    Context m_context;
    WatchChoices m_choices;
    bool m_running = false;
    std::array<QDateTime, 2> m_siteStarted; // the last check's start on the listing and share sites
    WatchMemory m_memory;
    QPointer<WatchCheck> m_check;
    std::optional<CheckReport> m_last;
    QTimer m_timer;
    std::function<QDateTime()> m_clock;
    std::function<double()> m_spread;
    ReceiveRules m_receiveRules = ReceiveRules::automatic();
};
