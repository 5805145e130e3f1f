#pragma once

#include "job/job.h"
#include "watch/newgiftwatch.h"

// What one check of the watch did, for the watch to plan the next.
struct CheckOutcome {
    CheckReport report;
    struct Page {
        bool read = false;     // read, or answered unchanged
        int retryAfter = -1;   // seconds it asked to be left alone; -1: not said
        Validators validators; // for asking again only if it changed
    };
    QMap<int, Page> pages; // by the subscription's place in the watch's choices
    WatchMemory memory;
};

// One check of the new-gift watch: the page of each subscription given, one after another, each
// only if it changed; its rows recorded in the ledger; what is new and passes the subscription's
// rules picked out; then, where its subscription says so, received. A job (see Job).
class WatchCheck final : public Job {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WatchCheck)

public:
    // `subscriptions` by their place in the watch's choices, each with the validators to ask with.
    WatchCheck(const NewGiftWatch::Context &context, QMap<int, Subscription> subscriptions,
               WatchMemory memory, std::optional<ReceiveRules> receive, QDateTime at);

Q_SIGNALS:
    void finished(const CheckOutcome &outcome);

protected:
    QCoro::Task<> work() override;

private:
    // One page as its run left it.
    struct PageRead {
        QList<HarvestedRow> rows; // in page order
        QSet<RowId> settled;      // rows whose code was known, or that have none
        HarvestRun::End end = HarvestRun::End::Unreadable;
        int retryAfter = -1;
        Validators validators; // of its answer
        Validators asked;      // sent with the request
        QString failure;
    };

    // Reads the subscription's page, known rows taken from what the watch or the ledger knows;
    // nothing when the check was called off.
    QCoro::Task<std::optional<PageRead>> readPage(const RunRequest &request, const WatchMemory &memory);
    // Reads the gift page of each row not seen before; false when the check was called off.
    QCoro::Task<bool> readGiftMarks(PageRead &page, const QString &source,
                                    const std::optional<QHash<QString, QDateTime>> &seenBefore,
                                    const WatchMemory &memory);
    // What the page read means to the subscriptions at these places, which all read it: its
    // validators and back-off, the new gifts each wants, what the watch keeps of it.
    void settle(const QList<int> &places, const PageRead &read,
                const std::optional<QHash<QString, QDateTime>> &seenBefore, CheckOutcome &outcome) const;
    // When the ledger first saw each row's code, counting a received one as seen; none when it
    // cannot tell.
    std::optional<QHash<QString, QDateTime>> seenBeforeAmong(const QList<HarvestedRow> &rows) const;
    // Receives what was told but not received last time, then the new gifts; nothing twice.
    QCoro::Task<> receive(CheckOutcome &outcome);
    // Picks out the new gifts of one page's rows that the subscription wants, given what the
    // ledger had seen before (none when it cannot tell).
    void pickNew(const Subscription &subscription, const QList<HarvestedRow> &rows,
                 const std::optional<QHash<QString, QDateTime>> &seenBefore, CheckOutcome &outcome) const;
    // A code neither the ledger nor the watch has seen before, or one still to be decided.
    static bool isUnseen(const QString &code, const QString &source,
                         const std::optional<QHash<QString, QDateTime>> &seenBefore,
                         const WatchMemory &memory);
    // A code left undecided that its page no longer lists is not waited for any more.
    static void forgetUnlisted(const QString &source, const QList<HarvestedRow> &rows, WatchMemory &memory);
    // The codes known for these keys of the site, to the watch (on any page of the site) or to
    // the ledger; a code still to be decided is not known.
    QHash<QString, QString> knownCodes(const HarvestKind &kind, const QStringList &keys,
                                       const WatchMemory &memory) const;

    const NewGiftWatch::Context m_context;
    const QMap<int, Subscription> m_subscriptions;
    const WatchMemory m_memory;
    const std::optional<ReceiveRules> m_receive; // none: no auto-receive
    const QDateTime m_at;
};
