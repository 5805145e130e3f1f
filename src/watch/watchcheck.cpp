#include "watch/watchcheck.h"

#include "harvest/cutters.h"
#include "session/recorder.h"
#include "web/clouddisk.h"
#include "web/webclient.h"

#include <QPointer>

WatchCheck::WatchCheck(const NewGiftWatch::Context &context, QList<TabId> tabs,
                       QHash<TabId, Validators> validators, WatchMemory memory, bool autoReceive,
                       QDateTime at)
    : m_context(context)
    , m_tabs(std::move(tabs))
    , m_validators(std::move(validators))
    , m_memory(std::move(memory))
    , m_autoReceive(autoReceive)
    , m_at(std::move(at)) {}

QCoro::Task<> WatchCheck::work() {
    CheckOutcome outcome;
    outcome.report.at = m_at;
    outcome.memory = m_memory;
    // Recorded once the check is done: one called off leaves what it found new for the next.
    HarvestRecorder recorder(m_context.ledger, HarvestRecorder::Rule::WhenCommitted);
    for (const TabId tab : m_tabs) {
        const RunRequest request{&harvestKind(tab, false), 1, {}, m_validators.value(tab)};
        QPointer<HarvestRun> run = new HarvestRun(m_context.web, m_context.sites, request);
        run->setKnownCodes(knownCodesOf(m_context.ledger));
        QList<HarvestedRow> rows;
        HarvestRun::End end = HarvestRun::End::Unreadable;
        connect(run, &HarvestRun::rowResolved, this, [&rows](const HarvestedRow &row) { rows.append(row); });
        connect(run, &HarvestRun::finished, this, [&end](HarvestRun::End how) { end = how; });
        connect(&scope(), &RequestScope::aborted, run, &HarvestRun::cancel);
        run->start();
        co_await scope().until(run.data(), &HarvestRun::finished);
        if (isCancelled())
            co_return; // the run was cancelled with the check
        run->disconnect(this);

        CheckOutcome::Page &page = outcome.pages[tab];
        page.retryAfter = run->pageRetryAfter();
        page.read = end != HarvestRun::End::Unreadable;
        page.validators = end == HarvestRun::End::NotModified ? request.ifChanged : run->pageValidators();
        if (end == HarvestRun::End::NotModified)
            ++outcome.report.unchanged;
        if (end == HarvestRun::End::Unreadable)
            outcome.report.unreadable.append(tabCaption(tab) + u"：" + run->pageFailure());

        const std::optional<QHash<QString, QDateTime>> seenBefore = seenBeforeAmong(rows);
        // The share site gives no validity mark: a code new to the ledger has its gift page
        // read here, so that what is told is a gift that can be received.
        if (!request.kind->isListingSite()) {
            for (HarvestedRow &row : rows) {
                if (row.code.isEmpty() || !isUnseen(row.code, tab, seenBefore, outcome.memory))
                    continue;
                const Fetched gift = co_await m_context.web.FetchPageText(
                    clouddisk::giftPageAddress(m_context.sites.cloudDisk, row.code), &scope(),
                    WebClient::Size::Small);
                if (isCancelled())
                    co_return;
                row.mark = cutters::giftMark(gift.text);
                row.markKnown = gift.ok();
            }
        }
        pickNew(tab, rows, seenBefore, outcome);
        if (end == HarvestRun::End::Complete || end == HarvestRun::End::Empty)
            forgetUnlisted(tab, rows, outcome.memory);
        if (page.read)
            outcome.memory.read.insert(tab);
        for (const HarvestedRow &row : std::as_const(rows))
            recorder.add(row, request);
    }

    if (m_autoReceive) {
        co_await receive(outcome);
        if (isCancelled())
            co_return;
    }
    recorder.commit();
    finish(&WatchCheck::finished, outcome);
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
    for (const NewGift &gift : std::as_const(outcome.report.gifts))
        gifts.append({gift.row.code, gift.row.title, gift.row.mark});
    if (gifts.isEmpty())
        co_return;
    QPointer<ReceiveJob> job = new ReceiveJob(m_context.web, m_context.sites.cloudDisk, m_context.posts,
                                              gifts, ReceiveRules::automatic());
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
        outcome.memory.toReceive = summary->left;
}

bool WatchCheck::isUnseen(const QString &code, TabId tab,
                          const std::optional<QHash<QString, QDateTime>> &seenBefore,
                          const WatchMemory &memory) {
    if (memory.undecided.contains(code))
        return true;
    if (memory.seen.contains(code))
        return false;
    if (seenBefore)
        return !seenBefore->contains(code);
    // The ledger cannot tell: only what came after the watch's first look at the page is new.
    return memory.read.contains(tab);
}

void WatchCheck::forgetUnlisted(TabId tab, const QList<HarvestedRow> &rows, WatchMemory &memory) {
    QSet<QString> listed;
    for (const HarvestedRow &row : rows)
        listed.insert(row.code);
    memory.undecided.removeIf(
        [&](const auto &undecided) { return undecided.value() == tab && !listed.contains(undecided.key()); });
}

void WatchCheck::pickNew(TabId tab, const QList<HarvestedRow> &rows,
                         const std::optional<QHash<QString, QDateTime>> &seenBefore,
                         CheckOutcome &outcome) const {
    QSet<QString> picked;
    for (const NewGift &gift : std::as_const(outcome.report.gifts))
        picked.insert(gift.row.code);
    for (const HarvestedRow &row : rows) {
        if (row.code.isEmpty() || picked.contains(row.code) ||
            !isUnseen(row.code, tab, seenBefore, outcome.memory))
            continue;
        // New: never seen, or first seen when its gift page could not be read.
        if (!row.markKnown) {
            outcome.memory.undecided.insert(row.code, tab);
            continue;
        }
        outcome.memory.undecided.remove(row.code);
        if (row.mark == clouddisk::kValidMark) {
            outcome.report.gifts.append({row, tab});
            picked.insert(row.code);
        }
    }
    for (const HarvestedRow &row : rows) {
        if (!row.code.isEmpty())
            outcome.memory.seen.insert(row.code);
    }
}
