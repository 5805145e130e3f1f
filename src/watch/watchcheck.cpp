#include "watch/watchcheck.h"

#include "harvest/cutters.h"
#include "session/recorder.h"
#include "web/clouddisk.h"
#include "web/webclient.h"

#include <QPointer>

namespace {

// Longer than any gift code: what a page holds there is no code, and is neither kept nor posted.
constexpr qsizetype kLongestCode = 256;

// Gifts left for a later auto-receive, at most: a site that lists more new gifts each check than
// may be posted in one must not grow the watch without end. Those told first go first; the rest
// were told and can be received by hand.
constexpr qsizetype kMostWaiting = 1000;

// Nothing more is to be learnt of the row: it has no link to follow, or its code is known and,
// for a code not seen before, whether it can be received.
bool isDecided(const HarvestedRow &row, bool unseen) {
    return row.key.isEmpty() || (!row.code.isEmpty() && (row.markKnown || !unseen));
}

} // namespace

WatchCheck::WatchCheck(const NewGiftWatch::Context &context, QMap<int, Subscription> subscriptions,
                       WatchMemory memory, std::optional<ReceiveRules> receive, QDateTime at)
    : m_context(context)
    , m_subscriptions(std::move(subscriptions))
    , m_memory(std::move(memory))
    , m_receive(std::move(receive))
    , m_at(std::move(at)) {}

QCoro::Task<> WatchCheck::work() {
    CheckOutcome outcome;
    outcome.report.at = m_at;
    outcome.memory = m_memory;
    // Recorded once the check is done: one called off leaves what it found new for the next.
    HarvestRecorder recorder(m_context.ledger, HarvestRecorder::Rule::WhenCommitted);
    // Each page once, for every subscription that reads it, in the order they come.
    QList<QString> sources;
    QHash<QString, QList<int>> readers;
    for (auto subscription = m_subscriptions.cbegin(); subscription != m_subscriptions.cend();
         ++subscription) {
        if (!readers.contains(subscription->sourceKey()))
            sources.append(subscription->sourceKey());
        readers[subscription->sourceKey()].append(subscription.key());
    }
    for (const QString &source : std::as_const(sources)) {
        const QList<int> &places = readers[source];
        RunRequest request = m_subscriptions[places[0]].request();
        // The whole page where one of them has not read it before.
        for (const int place : places) {
            if (m_subscriptions[place].state.validators.isEmpty())
                request.ifChanged = {};
        }
        std::optional<PageRead> page = co_await readPage(request, outcome.memory);
        if (!page)
            co_return; // called off
        const std::optional<QHash<QString, QDateTime>> seenBefore = seenBeforeAmong(page->rows);
        // The share site gives no validity mark: a code new to the ledger has its gift page
        // read here, so that what is told is a gift that can be received.
        if (!request.kind->isListingSite()) {
            const bool read = co_await readGiftMarks(*page, source, seenBefore, outcome.memory);
            if (!read)
                co_return;
        }
        settle(places, *page, seenBefore, outcome);
        for (const HarvestedRow &row : std::as_const(page->rows))
            recorder.add(row, request);
    }
    outcome.memory.keepOnlyListed();

    if (m_receive) {
        co_await receive(outcome);
        if (isCancelled())
            co_return;
    }
    recorder.commit();
    finish(&WatchCheck::finished, outcome);
}

QCoro::Task<std::optional<WatchCheck::PageRead>> WatchCheck::readPage(const RunRequest &request,
                                                                      const WatchMemory &memory) {
    QPointer<HarvestRun> run = new HarvestRun(m_context.web, m_context.sites, request);
    // The rows in page order. A row whose code is known already is not new, so it needs no
    // request; one whose "code" is too long to be one is settled as having none.
    PageRead page;
    connect(run, &HarvestRun::rowsListed, this, [&](const QList<HarvestedRow> &listed) {
        QStringList keys;
        for (const HarvestedRow &row : listed)
            keys.append(row.key);
        const QHash<QString, QString> known = knownCodes(*request.kind, keys, memory);
        for (HarvestedRow row : listed) {
            if (const auto code = known.constFind(row.key); !row.key.isEmpty() && code != known.cend()) {
                row.code = *code;
                page.settled.insert(row.id);
                run->forget(row.id);
            }
            page.rows.append(row);
        }
    });
    connect(run, &HarvestRun::rowResolved, this, [&](HarvestedRow row) {
        if (row.code.size() > kLongestCode) {
            row.code.clear();
            page.settled.insert(row.id);
        }
        if (row.id >= 0 && row.id < page.rows.size())
            page.rows[row.id] = row;
    });
    connect(run, &HarvestRun::finished, this, [&page](HarvestRun::End how) { page.end = how; });
    connect(&scope(), &RequestScope::aborted, run, &HarvestRun::cancel);
    run->start();
    co_await scope().until(run.data(), &HarvestRun::finished);
    if (isCancelled())
        co_return std::nullopt; // the run was cancelled with the check
    run->disconnect(this);
    // Taken now: the run goes once its end is handled.
    page.retryAfter = run->pageRetryAfter();
    page.validators = run->pageValidators();
    page.failure = run->pageFailure();
    page.asked = request.ifChanged;
    co_return page;
}

QCoro::Task<bool> WatchCheck::readGiftMarks(PageRead &page, const QString &source,
                                            const std::optional<QHash<QString, QDateTime>> &seenBefore,
                                            const WatchMemory &memory) {
    for (HarvestedRow &row : page.rows) {
        if (row.code.isEmpty() || page.settled.contains(row.id) ||
            !isUnseen(row.code, source, seenBefore, memory))
            continue;
        const Fetched gift = co_await m_context.web.FetchPageText(
            clouddisk::giftPageAddress(m_context.sites.cloudDisk, row.code), &scope(),
            WebClient::Size::Small);
        if (isCancelled())
            co_return false;
        row.mark = cutters::giftMark(gift.text);
        row.markKnown = gift.ok();
    }
    co_return true;
}

void WatchCheck::settle(const QList<int> &places, const PageRead &read,
                        const std::optional<QHash<QString, QDateTime>> &seenBefore,
                        CheckOutcome &outcome) const {
    const QString source = m_subscriptions[places[0]].sourceKey();
    CheckOutcome::Page page;
    page.retryAfter = read.retryAfter;
    page.read = read.end != HarvestRun::End::Unreadable;
    if (read.end == HarvestRun::End::NotModified)
        ++outcome.report.unchanged;
    for (const int place : places) {
        if (!page.read)
            outcome.report.unreadable.append(m_subscriptions[place].shownName() + u"：" + read.failure);
    }
    // The page is asked for again only if it changed once every row of it is decided: a row
    // whose pages failed is otherwise never seen again while the page stands.
    bool decided = true;
    for (const HarvestedRow &row : read.rows)
        decided = decided && (read.settled.contains(row.id) ||
                              isDecided(row, isUnseen(row.code, source, seenBefore, outcome.memory)));
    if (read.end == HarvestRun::End::NotModified)
        page.validators = read.asked;
    else if (decided)
        page.validators = read.validators;
    for (const int place : places) {
        outcome.pages.insert(place, page);
        // A row known by its key is no news, whatever the ledger answers about its code now,
        // unless another subscription found it new in this check: whether it is received is for both.
        const QStringList told = outcome.report.codes();
        QList<HarvestedRow> looked;
        for (const HarvestedRow &row : read.rows) {
            if (!read.settled.contains(row.id) || told.contains(row.code))
                looked.append(row);
        }
        pickNew(m_subscriptions[place], looked, seenBefore, outcome);
    }
    if (read.end == HarvestRun::End::Complete || read.end == HarvestRun::End::Empty) {
        forgetUnlisted(source, read.rows, outcome.memory);
        QHash<QString, QString> &listed = outcome.memory.listed[source];
        listed.clear();
        for (const HarvestedRow &row : read.rows) {
            if (!row.key.isEmpty() && (!row.code.isEmpty() || read.settled.contains(row.id)))
                listed.insert(row.key, row.code);
        }
    }
    if (page.read)
        outcome.memory.read.insert(source);
}

QHash<QString, QString> WatchCheck::knownCodes(const HarvestKind &kind, const QStringList &keys,
                                               const WatchMemory &memory) const {
    const QStringView site = kind.ledgerSite;
    QHash<QString, QString> known;
    if (m_context.ledger)
        known = m_context.ledger->knownCodes(site.toString(), keys);
    for (auto listed = memory.listed.cbegin(); listed != memory.listed.cend(); ++listed) {
        const HarvestKind *other = harvestKindNamed(listed.key().section(u'\n', 0, 0));
        if (!other || other->ledgerSite != site)
            continue;
        for (const QString &key : keys) {
            if (const auto code = listed->constFind(key); code != listed->cend())
                known.insert(key, *code);
        }
    }
    known.removeIf([&](const auto &code) { return memory.undecided.contains(code.value()); });
    return known;
}

std::optional<QHash<QString, QDateTime>> WatchCheck::seenBeforeAmong(const QList<HarvestedRow> &rows) const {
    QStringList codes;
    for (const HarvestedRow &row : rows)
        codes.append(row.code);
    std::optional<QHash<QString, QDateTime>> seen =
        m_context.ledger ? m_context.ledger->firstSeenAmong(codes) : std::nullopt;
    // A code received already (the harvest that found it perhaps called off) is no news.
    if (seen) {
        const QHash<QString, QDateTime> received = m_context.ledger->confirmedAmong(codes);
        for (auto code = received.cbegin(); code != received.cend(); ++code)
            seen->insert(code.key(), code.value());
    }
    return seen;
}

QCoro::Task<> WatchCheck::receive(CheckOutcome &outcome) {
    // What was told but not received last time goes first; the claims keep anything from going twice.
    QList<Gift> gifts = std::exchange(outcome.memory.toReceive, {});
    for (const NewGift &gift : std::as_const(outcome.report.gifts)) {
        if (gift.autoReceive)
            gifts.append({gift.row.code, gift.row.title, gift.row.mark});
    }
    if (gifts.isEmpty())
        co_return;
    QPointer<ReceiveJob> job =
        new ReceiveJob(m_context.web, m_context.sites.cloudDisk, m_context.posts, gifts, *m_receive);
    std::optional<ReceiveSummary> summary;
    connect(job, &ReceiveJob::finished, this, [&summary](const ReceiveSummary &done) { summary = done; });
    connect(&scope(), &RequestScope::aborted, job, &ReceiveJob::cancel);
    job->start();
    co_await scope().until(job.data(), &ReceiveJob::finished);
    if (isCancelled())
        co_return;
    job->disconnect(this);
    outcome.report.received = summary;
    if (summary)
        outcome.memory.toReceive = summary->left.mid(0, kMostWaiting);
}

bool WatchCheck::isUnseen(const QString &code, const QString &source,
                          const std::optional<QHash<QString, QDateTime>> &seenBefore,
                          const WatchMemory &memory) {
    if (memory.undecided.contains(code))
        return true;
    if (memory.seen.contains(code))
        return false;
    if (seenBefore)
        return !seenBefore->contains(code);
    // The ledger cannot tell: only what came after the watch's first look at the page is new.
    return memory.read.contains(source);
}

void WatchCheck::forgetUnlisted(const QString &source, const QList<HarvestedRow> &rows, WatchMemory &memory) {
    QSet<QString> listed;
    for (const HarvestedRow &row : rows)
        listed.insert(row.code);
    memory.undecided.removeIf([&](const auto &undecided) {
        return undecided.value() == source && !listed.contains(undecided.key());
    });
}

void WatchCheck::pickNew(const Subscription &subscription, const QList<HarvestedRow> &rows,
                         const std::optional<QHash<QString, QDateTime>> &seenBefore,
                         CheckOutcome &outcome) const {
    QHash<QString, qsizetype> picked;
    for (qsizetype i = 0; i < outcome.report.gifts.size(); ++i)
        picked.insert(outcome.report.gifts[i].row.code, i);
    const QString source = subscription.sourceKey();
    for (const HarvestedRow &row : rows) {
        if (row.code.isEmpty() || !isUnseen(row.code, source, seenBefore, outcome.memory))
            continue;
        // Told once, for the first subscription that wants it; received if any of them says so.
        if (const auto told = picked.constFind(row.code); told != picked.cend()) {
            if (passes(subscription, row.title, row.sizeWritten))
                outcome.report.gifts[*told].autoReceive |= subscription.autoReceive;
            continue;
        }
        // New: never seen, or first seen when its gift page could not be read.
        if (!row.markKnown) {
            outcome.memory.undecided.insert(row.code, source);
            continue;
        }
        outcome.memory.undecided.remove(row.code);
        if (row.mark == clouddisk::kValidMark && passes(subscription, row.title, row.sizeWritten)) {
            picked.insert(row.code, outcome.report.gifts.size());
            outcome.report.gifts.append(
                {row, subscription.kind().tab, subscription.shownName(), subscription.autoReceive});
        }
    }
    // What the pages list is seen from now on: the check keeps it (WatchMemory::keepOnlyListed),
    // once every subscription of the check has looked, since two may read the same page.
}
