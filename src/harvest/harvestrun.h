#pragma once

#include "web/listingsite.h"
#include "web/requestscope.h"
#include "web/sites.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

class GiftListModel;
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
// code. A job: it owns its requests, its owner cancels it (the run then writes nothing more
// and sends no signal) and never deletes it while it runs; it deletes itself once its
// coroutine has ended.
class HarvestRun final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HarvestRun)

public:
    static constexpr int kDefaultParallelism = 6;

    HarvestRun(WebClient &web, SiteAddresses sites, GiftListModel &list, RunRequest request);
    // Cancels: every wait of the run ends before the run is gone.
    ~HarvestRun() override;

    const RunRequest &request() const { return m_request; }
    bool isListingSite() const;
    bool isResolving() const { return m_resolving; }
    bool isCancelled() const { return m_cancelled; }
    // Rows resolved at once; 1 resolves one row after another.
    void setParallelism(int rows) { m_parallelism = qMax(1, rows); }

    void start();
    // Aborts every request and wait in flight; the run then deletes itself without another
    // signal.
    void cancel();

Q_SIGNALS:
    void statusText(const QString &text);
    void progressRange(int minimum, int maximum);
    void progressValue(int value);
    void resolvingChanged(bool resolving);
    // The share site said that a search found nothing.
    void nothingFound();
    // The run has ended by itself: complete, or early when the page gave no row.
    void finished(bool complete);

private:
    QCoro::Task<> run();
    QCoro::Task<bool> listingPhase();
    QCoro::Task<> resolveRows();
    QCoro::Task<> resolveWorker();
    QCoro::Task<> resolveListingRow(int row);
    QCoro::Task<> resolveShareRow(int row);
    QCoro::Task<QString> fetchPage();
    bool rowStillThere(int row, const QString &key) const;
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
    int m_nextRow = 0;
    int m_rowTotal = 0;
    int m_finishedRows = 0;
    std::optional<QCoro::Task<>> m_task;
};
