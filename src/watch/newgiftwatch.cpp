#include "watch/newgiftwatch.h"

#include "desktop/desktop.h"
#include "ledger/ledger.h"
#include "text/text.h"
#include "watch/watchcheck.h"

#include <QRandomGenerator>

#include <cmath>
#include <limits>

namespace {

// A Retry-After is honoured up to a day.
constexpr int kLongestRetryAfterMinutes = 24 * 60;
constexpr int kTitlesShown = 3;

// How long until a page is asked for again: its interval spread by the factor, and never sooner
// than it asked (the spread only adds to a Retry-After, so that many users still part).
qint64 waitMs(int minutes, int retryAfterSeconds, double spread) {
    qint64 ms = std::llround(minutes * 60000.0 * spread);
    if (retryAfterSeconds > 0) {
        const qint64 floor = qMin<qint64>(retryAfterSeconds, qint64(kLongestRetryAfterMinutes) * 60) * 1000;
        ms = qMax(ms, floor + std::llround(floor * qMax(0.0, spread - 1.0)));
    }
    return ms;
}

} // namespace

QStringList CheckReport::codes() const {
    QStringList out;
    for (const NewGift &gift : gifts)
        out.append(gift.row.code);
    return out;
}

QString CheckReport::bySubscription() const {
    QStringList names;
    QHash<QString, int> counts;
    for (const NewGift &gift : gifts) {
        if (counts[gift.subscription]++ == 0)
            names.append(gift.subscription);
    }
    QStringList parts;
    for (const QString &name : std::as_const(names))
        parts.append(name + u"：" + QString::number(counts.value(name)) + u"个");
    return parts.join(u"；");
}

QList<Subscription> WatchChoices::pages(const std::array<bool, kTabCount> &tabs, bool autoReceive) {
    QList<Subscription> out;
    for (int i = 0; i < kTabCount; ++i) {
        Subscription page;
        page.tab = TabId(i);
        page.name = page.sourceCaption();
        page.enabled = tabs[i];
        page.autoReceive = autoReceive;
        out.append(page);
    }
    return out;
}

bool WatchChoices::watchesAny() const {
    return std::any_of(subscriptions.cbegin(), subscriptions.cend(),
                       [](const Subscription &subscription) { return subscription.enabled; });
}

NewGiftWatch::NewGiftWatch(Context context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_clock([] { return QDateTime::currentDateTimeUtc(); })
    , m_spread([] { return 0.9 + QRandomGenerator::global()->bounded(0.2); }) {
    m_timer.setSingleShot(true);
    // A coarse timer may fire a twentieth early; a tab is never asked for before it is due.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { checkNow(); });
}

NewGiftWatch::~NewGiftWatch() {
    stop();
}

QDateTime NewGiftWatch::now() const {
    return m_clock();
}

void NewGiftWatch::start(const WatchChoices &choices, bool all) {
    stop();
    // What was learnt of a page in this run holds for the same page when the watch starts again.
    QHash<QString, SubscriptionState> learnt;
    for (const Subscription &subscription : std::as_const(m_choices.subscriptions))
        learnt.insert(subscription.sourceKey(), subscription.state);
    m_choices = choices;
    for (Subscription &subscription : m_choices.subscriptions) {
        if (subscription.state.validators.isEmpty() && subscription.state.failures == 0)
            subscription.state = learnt.value(subscription.sourceKey(), subscription.state);
    }
    m_choices.minutes = qBound(WatchChoices::kFewestMinutes, choices.minutes, WatchChoices::kMostMinutes);
    m_running = true;
    m_siteStarted = {};
    // Spread over the interval, site by site: the first of each site now, the others after it.
    const QDateTime at = now();
    std::array<int, 2> onSite{};
    for (const Subscription &subscription : std::as_const(m_choices.subscriptions))
        onSite[subscription.kind().isListingSite()] += subscription.enabled;
    std::array<int, 2> placed{};
    for (Subscription &subscription : m_choices.subscriptions) {
        const int site = subscription.kind().isListingSite();
        const qint64 apart =
            qMax<qint64>(kSiteSpacingMs, m_choices.minutes * 60000LL / qMax(1, onSite[site]));
        subscription.state.minutes = qMax(m_choices.minutes, subscription.state.minutes);
        subscription.state.due = at.addMSecs(apart * (subscription.enabled ? placed[site]++ : 0));
    }
    checkNow(all);
}

void NewGiftWatch::stop() {
    m_running = false;
    m_timer.stop();
    if (WatchCheck *check = m_check) {
        check->disconnect(this);
        check->cancel(); // it deletes itself
    }
    m_check = nullptr;
}

QDateTime NewGiftWatch::dueAt(int subscription) const {
    if (!m_running || subscription < 0 || subscription >= m_choices.subscriptions.size() ||
        !m_choices.subscriptions[subscription].enabled)
        return {};
    return m_choices.subscriptions[subscription].state.due;
}

QList<SubscriptionState> NewGiftWatch::states() const {
    QList<SubscriptionState> out;
    for (const Subscription &subscription : m_choices.subscriptions)
        out.append(subscription.state);
    return out;
}

QDateTime NewGiftWatch::siteFree(const Subscription &subscription) const {
    const QDateTime &started = m_siteStarted[subscription.kind().isListingSite()];
    return started.isValid() ? started.addMSecs(kSiteSpacingMs) : QDateTime();
}

void NewGiftWatch::checkNow(bool all) {
    if (!m_running || m_check)
        return;
    const QDateTime at = now();
    // Of each site, the subscription that has waited longest, once the site's minute is over.
    std::array<int, 2> chosen{-1, -1};
    for (int i = 0; i < m_choices.subscriptions.size(); ++i) {
        const Subscription &subscription = m_choices.subscriptions[i];
        const int site = subscription.kind().isListingSite();
        const QDateTime free = siteFree(subscription);
        if (!subscription.enabled || (!all && (subscription.state.due > at || (free.isValid() && free > at))))
            continue;
        if (chosen[site] < 0 || subscription.state.due < m_choices.subscriptions[chosen[site]].state.due)
            chosen[site] = i;
    }
    // Every subscription of a chosen page reads it with the chosen one: a row one of them turns
    // down is seen, and would be no news to the others later.
    QMap<int, Subscription> due;
    for (int i = 0; i < m_choices.subscriptions.size(); ++i) {
        const Subscription &subscription = m_choices.subscriptions[i];
        const int site = subscription.kind().isListingSite();
        if (!subscription.enabled ||
            (!all && (chosen[site] < 0 ||
                      subscription.sourceKey() != m_choices.subscriptions[chosen[site]].sourceKey())))
            continue;
        Subscription asked = subscription;
        // While a new code waits for its gift page to be read, its page is read whole: an
        // unchanged one would answer with no rows.
        if (m_memory.decidesOn(subscription.sourceKey()))
            asked.state.validators = {};
        due.insert(i, asked);
    }
    if (due.isEmpty())
        return schedule();
    for (auto it = due.cbegin(); it != due.cend(); ++it)
        m_siteStarted[it->kind().isListingSite()] = at;
    // Never twice: only while the ledger keeps what was received, across runs of the program too.
    const bool autoReceive =
        m_context.signInKept && m_context.signInKept() && m_context.ledger && m_context.ledger->isOn();
    auto *check = new WatchCheck(m_context, due, m_memory,
                                 autoReceive ? std::optional(m_receiveRules) : std::nullopt, at);
    connect(check, &WatchCheck::finished, this, [this](const CheckOutcome &outcome) {
        m_check = nullptr; // it deletes itself
        const QDateTime at = now();
        for (auto page = outcome.pages.cbegin(); page != outcome.pages.cend(); ++page) {
            if (page.key() >= m_choices.subscriptions.size())
                continue;
            SubscriptionState &state = m_choices.subscriptions[page.key()].state;
            state.lastCheck = at;
            if (page->read) {
                state.failures = 0;
                state.minutes = m_choices.minutes;
                state.validators = page->validators;
            } else {
                // A page that cannot be read is asked for less often, up to six hours apart (never
                // more often than chosen), or as much later as it asked.
                ++state.failures;
                state.minutes = qMax(m_choices.minutes, qMin(kLongestMinutes, state.minutes * 2));
                if (page->retryAfter > 0) {
                    const qint64 seconds =
                        qMin<qint64>(page->retryAfter, qint64(kLongestRetryAfterMinutes) * 60);
                    state.minutes = qMax(state.minutes, int((seconds + 59) / 60));
                }
            }
            state.due = at.addMSecs(waitMs(state.minutes, page->read ? -1 : page->retryAfter, m_spread()));
        }
        m_memory = outcome.memory;
        m_last = outcome.report;
        schedule();
        Q_EMIT checked(outcome.report);
        tell(outcome.report);
    });
    m_check = check;
    Q_EMIT checkStarted();
    check->start();
}

void NewGiftWatch::schedule() {
    m_timer.stop();
    if (!m_running || m_check)
        return;
    QDateTime next;
    for (const Subscription &subscription : std::as_const(m_choices.subscriptions)) {
        if (!subscription.enabled)
            continue;
        const QDateTime free = siteFree(subscription);
        const QDateTime at = free.isValid() && free > subscription.state.due ? free : subscription.state.due;
        if (!next.isValid() || at < next)
            next = at;
    }
    if (next.isValid())
        m_timer.start(int(qBound(qint64(0), now().msecsTo(next), qint64(std::numeric_limits<int>::max()))));
}

void NewGiftWatch::tell(const CheckReport &report) {
    Desktop &desktop = m_context.desktop;
    if (!report.gifts.isEmpty()) {
        QStringList lines{report.bySubscription()};
        for (qsizetype i = 0; i < report.gifts.size() && i < kTitlesShown; ++i)
            lines.append(text::shownText(report.gifts[i].row.title, 100));
        const QStringList codes = report.codes();
        // Clicked perhaps long after: only if the watch is still there.
        desktop.notify(u"发现" + QString::number(report.gifts.size()) + u"个新礼包", lines.join(u'\n'),
                       [watch = QPointer<NewGiftWatch>(this), codes] {
                           if (watch)
                               Q_EMIT watch->giftsActivated(codes);
                       });
    }
    // Nothing posted (all received meanwhile, or signed out first): nothing to sum up.
    if (const std::optional<ReceiveSummary> &received = report.received;
        received && received->attempted > 0) {
        QString body;
        if (received->stop == ReceiveStop::NotSignedIn)
            body = QStringLiteral("登录已过期,请重新登录");
        else if (received->stop == ReceiveStop::MembersOnly)
            body = QStringLiteral("抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用");
        QString summary = u"自动接收" + QString::number(received->attempted) + u"个礼包：成功" +
                          QString::number(received->received) + u"个,失败" +
                          QString::number(received->failed()) + u"个";
        // As many as may go at once went; the others wait for the next check.
        if (received->stop == ReceiveStop::Limit && !received->left.isEmpty())
            summary += u"，其余" + QString::number(received->left.size()) + u"个下次接收";
        desktop.notify(summary, body);
        if (received->stop == ReceiveStop::NotSignedIn)
            Q_EMIT signInExpired();
    }
}
