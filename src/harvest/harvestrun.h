#pragma once

#include "harvest/harvestkinds.h"
#include "job/job.h"
#include "job/slots.h"
#include "web/sites.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include <memory>

#include <qcoro/qcorotask.h>

struct Fetched;
class WebClient;

// A row of a run, known by its place in the run's listing.
using RowId = int;

// The codes found before for resources of a site (its ledger name, such as "listing"), by their
// keys; a run asks once its page is listed.
using KnownCodes = std::function<QHash<QString, QString>(const QString &site, const QStringList &keys)>;

// One resource a run found: listed first, then resolved.
struct HarvestedRow {
    RowId id = -1;
    QString title, size, key; // as listed: key is the detail path or the resource id
    QString code;             // empty until resolved, and when it could not be found
    QString mark;             // "√" or "×" for listing-site rows; the share site gives none
    bool markKnown = false;   // the gift page was read: "√" may also mean "could not tell"
    QString sizeWritten;      // the size with its unit, where the list shows less (see ListedResource)
};

// The request slots of each host a harvest talks to. Runs that share them keep to one limit per
// host together: the pages of a multi-page harvest queue on one line per host. Runs that share
// them are cancelled together (a cancelled run keeps the slots it held).
class HostQueues final {
public:
    // 1 makes every request wait for the one before, whatever its host.
    explicit HostQueues(int requestsPerHost);
    Q_DISABLE_COPY_MOVE(HostQueues)

    Slots &listing() { return *m_listing; }
    Slots &share() { return *m_share; }
    Slots &cloudDisk() { return *m_cloudDisk; }

private:
    std::shared_ptr<Slots> m_listing, m_share, m_cloudDisk;
};

// One harvest: the listing phase, then the resolution of each row's gift code. It owns no list:
// it hands out the rows it listed, each row's code and resolution, and its end, as values.
//
// Rows resolve many at once, at most a few requests in flight to any one host; each row's own
// requests go in order, and a row is known by its id, not its place on a screen: a row forgotten
// meanwhile loses its remaining work and nothing else.
class HarvestRun final : public Job {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestRun)

public:
    // Requests in flight to one host at most, as browsers do.
    static constexpr int kDefaultParallelism = 6;
    // Rows are listed for at most this long between two turns of the event loop.
    static constexpr int kRowsSliceMs = 8;

    // How a run ended by itself.
    enum class End {
        Complete,     // every row resolved
        Empty,        // the page was read and gave no row
        NothingFound, // the share site said that the search found nothing
        Unreadable,   // the page could not be read (no connection, time-out, error status, too large)
        NotModified,  // asked only for a changed page, and the page had not changed
    };
    Q_ENUM(End)

    HarvestRun(WebClient &web, SiteAddresses sites, RunRequest request);
    ~HarvestRun() override;

    const RunRequest &request() const { return m_request; }
    bool isResolving() const { return m_resolving && !isCancelled(); }
    // Requests in flight to one host at most; 1 makes every request wait for the one before.
    void setParallelism(int requests) { m_parallelism = qMax(1, requests); }
    // Queues its requests on these slots, shared with other runs, in place of slots of its own
    // (the parallelism is then theirs). Set before start().
    void shareHosts(std::shared_ptr<HostQueues> hosts) { m_hosts = std::move(hosts); }
    // The hosts given up in this run because they kept timing out ("host" or "host:port").
    const QStringList &hostsDown() const { return m_hostsDown; }
    // What the listing or search page's answer said about itself: its validators for asking
    // again only if it changed, how long it asked to be left alone (-1: not said), and why it
    // could not be read (empty when it was).
    const Validators &pageValidators() const { return m_pageValidators; }
    int pageRetryAfter() const { return m_pageRetryAfter; }
    const QString &pageFailure() const { return m_pageFailure; }
    // A listing-site row whose resource has a known code goes straight to that code's gift page;
    // only when the page does not say it is valid is the row resolved afresh.
    void setKnownCodes(KnownCodes lookup) { m_knownCodes = std::move(lookup); }
    // The row is of no more interest (the user hid it): its remaining requests are not made and
    // no resolution is handed out for it; it still counts as done.
    void forget(RowId row);

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    void progressRange(int minimum, int maximum);
    void progressValue(int value);
    void resolvingChanged(bool resolving);
    // The page was read and gave rows, all listed now; their resolution comes next.
    void listed();
    // Rows of the page, in page order, a slice at a time.
    void rowsListed(const QList<HarvestedRow> &rows);
    // A listing-site row's code is known; its gift page is checked next.
    void codeFound(RowId row, const QString &code);
    // A row's requests are done.
    void rowResolved(const HarvestedRow &row);
    void finished(HarvestRun::End end);

protected:
    QCoro::Task<> work() override;

private:
    QCoro::Task<Fetched> fetchPage();
    QCoro::Task<End> listingPhase();
    QCoro::Task<> resolveRows();
    QCoro::Task<> resolveListingRow(RowId row);
    QCoro::Task<> resolveShareRow(RowId row);
    // One request of a row's chain, made once its host has a free slot.
    QCoro::Task<Fetched> request(Slots &host, RowId row, std::function<QCoro::Task<Fetched>()> make);
    bool isLive(RowId row) const { return !isCancelled() && !m_forgotten.at(row); }
    void rowDone(RowId row);
    void setResolving(bool resolving);

    WebClient &m_web;
    const SiteAddresses m_sites;
    const RunRequest m_request;
    int m_parallelism = kDefaultParallelism;
    KnownCodes m_knownCodes;
    QHash<QString, QString> m_known; // of this page's resources, by key
    bool m_resolving = false;
    QList<HarvestedRow> m_rows;
    QList<bool> m_foreign;   // the row's link leaves its site: no request
    QList<bool> m_forgotten; // the row was forgotten
    int m_finishedRows = 0;
    QStringList m_hostsDown;
    Validators m_pageValidators;
    int m_pageRetryAfter = -1;
    QString m_pageFailure;
    std::shared_ptr<HostQueues> m_hosts;
};
