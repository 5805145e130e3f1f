#pragma once

#include "giftlist/giftentry.h"
#include "web/listingsite.h"
#include "web/requestscope.h"
#include "web/sites.h"

#include <QObject>
#include <QPointer>

#include <memory>

#include <qcoro/qcorotask.h>

class GiftListModel;
class HostSlots;
struct Fetched;
class WebClient;

// The harvests a tab can run.
enum class RunKind {
    ListingPage,   // a listing-site page of gifts (tab 1) or codes (tab 3)
    ListingSearch, // a listing-site keyword search (tabs 1 and 3)
    SharePage,     // a share-site new-resource page (tab 2)
    ShareSearch,   // a share-site keyword search (tab 2)
};

struct RunRequest {
    RunKind kind = RunKind::ListingPage;
    listingsite::Section section = listingsite::Section::Gifts; // of a listing-site page
    int page = 0;
    QString keyword;
};

// One harvest run on one list: the listing phase, then the resolution of each row's gift
// code. Rows resolve many at once, at most a few requests in flight to any one host; each
// row's own requests go in order, and a row is known by itself, not by its place, so rows
// removed meanwhile lose their work and nothing else.
//
// A job: it owns its requests, its owner cancels it (the run then writes nothing more and
// sends no signal) and never deletes it while it runs; it deletes itself once its coroutine
// has ended.
class HarvestRun final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestRun)

public:
    // Requests in flight to one host at most, as browsers do.
    static constexpr int kDefaultParallelism = 6;
    // Rows are added for at most this long between two turns of the event loop.
    static constexpr int kRowsSliceMs = 8;

    // How a run ended by itself.
    enum class End {
        Complete,   // every row resolved
        Empty,      // the page was read and gave no row
        Unreadable, // the page could not be read (no connection, time-out, error status, too large)
    };
    Q_ENUM(End)

    HarvestRun(WebClient &web, SiteAddresses sites, GiftListModel &list, RunRequest request);
    // Cancels: every wait of the run ends before the run is gone.
    ~HarvestRun() override;

    const RunRequest &request() const { return m_request; }
    bool isListingSite() const;
    bool isResolving() const { return m_resolving; }
    bool isCancelled() const { return m_cancelled; }
    // Requests in flight to one host at most; 1 makes every request wait for the one before.
    void setParallelism(int requests) { m_parallelism = qMax(1, requests); }

    void start();
    // Aborts every request and wait in flight; the run then deletes itself without another
    // signal.
    void cancel();

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    void progressRange(int minimum, int maximum);
    void progressValue(int value);
    void resolvingChanged(bool resolving);
    // The share site said that a search found nothing.
    void nothingFound();
    // A row's requests are done; whether its gift page could be read to judge its mark.
    void rowResolved(const GiftEntry &row, bool markKnown);
    void finished(HarvestRun::End end);

private:
    struct Planned {
        quint64 id;
        QString key;
        bool foreign; // its link leaves its site: no request
    };

    QCoro::Task<> run();
    QCoro::Task<Fetched> fetchPage();
    QCoro::Task<bool> listingPhase(End &early);
    QCoro::Task<> resolveRows();
    QCoro::Task<> resolveListingRow(qsizetype place);
    QCoro::Task<> resolveShareRow(qsizetype place);
    // One request of a row's chain, made once its host has a free slot.
    QCoro::Task<Fetched> request(HostSlots &host, qsizetype place,
                                 std::function<QCoro::Task<Fetched>()> make);
    int rowOf(const Planned &row) const;
    void rowDone(const Planned &row, bool markKnown);
    void setResolving(bool resolving);
    void end();

    WebClient &m_web;
    const SiteAddresses m_sites;
    QPointer<GiftListModel> m_list;
    const RunRequest m_request;
    RequestScope m_scope;
    int m_parallelism = kDefaultParallelism;
    bool m_cancelled = false;
    bool m_destroying = false;
    bool m_resolving = false;
    QList<Planned> m_plan;
    int m_finishedRows = 0;
    std::unique_ptr<HostSlots> m_listingHost;
    std::unique_ptr<HostSlots> m_otherHost; // the cloud disk, or the share site
    std::optional<QCoro::Task<>> m_task;
};
