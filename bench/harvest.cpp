// Harvest figures: parallel against one-row-at-a-time resolution, listing-phase cutting
// time by page size, and how late the event loop runs during a harvest. Prints; asserts
// nothing about time.
#include "harvest/cutters.h"
#include "harvest/harvestrun.h"
#include "ledger/ledger.h"
#include "measure.h"
#include "sandbox/sandbox.h"
#include "session/recorder.h"
#include "web/webclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

using sandbox::Site;

namespace {

QTextStream out(stdout);

// A listing page of n resources in the listing site's layout, linking to real detail pages.
QString listingPage(int n) {
    QString page = QStringLiteral("<html><body><ul>\n");
    for (int j = 0; j < n; ++j) {
        const QString link = u"/libao/" + QString::number(100000 + j) + u".html";
        page += u"<li><h2><a title=\"t\" href=\"" + link + u"\" class=\"title\" target=\"_blank\">资源" +
                QString::number(j) +
                u"</a></h2><p><small>文件大小：</small>1.5 GB</p><span class=\"info\"><a href=\"" + link +
                u"\">详情</a></span></li>\n";
    }
    return page + u"</ul></body></html>";
}

struct Harvest {
    qint64 wallMs = 0;
    qint64 worstLateMs = 0;
    int rows = 0;
    int peakListing = 0; // requests in flight at once, as the stand-in site saw them
    int peakCloud = 0;
};

Harvest harvest(sandbox::Sandbox &sites, int resources, int latencyMs, int parallelism) {
    const QByteArray page = listingPage(resources).toUtf8();
    sites.setHandler(Site::Listing, "/libao/index_1.html", [page](const sandbox::Request &) {
        return sandbox::Response{200, "text/html", page, {}};
    });
    sites.setLatency(latencyMs);
    sites.resetPeaks();
    WebClient web;
    const SiteAddresses addresses{sites.address(Site::Listing),
                                  sites.address(Site::Share),
                                  sites.address(Site::CloudDisk),
                                  sites.address(Site::Update),
                                  {},
                                  {}};
    auto *run = new HarvestRun(web, addresses, {harvestKindNamed(u"libao"), 1, {}});
    run->setParallelism(parallelism);
    bool done = false;
    int listed = 0, resolved = 0;
    QObject::connect(run, &HarvestRun::finished, [&] { done = true; });
    QObject::connect(run, &HarvestRun::rowsListed,
                     [&](const QList<HarvestedRow> &rows) { listed += rows.size(); });
    QObject::connect(run, &HarvestRun::rowResolved,
                     [&](const HarvestedRow &row) { resolved += !row.code.isEmpty(); });

    // A 10 ms timer: how late does it fire while the harvest runs?
    Harvest result;
    LoopWatch watch;
    QElapsedTimer clock;
    clock.start();
    run->start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    result.wallMs = clock.elapsed();
    result.worstLateMs = watch.worstLateness();
    result.rows = listed;
    result.peakListing = sites.peakInFlight(Site::Listing);
    result.peakCloud = sites.peakInFlight(Site::CloudDisk);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (qEnvironmentVariableIsSet("BENCH_TRACE")) {
        const QList<sandbox::Request> seen = sites.requests();
        for (const sandbox::Request &r : seen)
            out << seen.first().time.msecsTo(r.time) << ' ' << int(r.site) << ' ' << r.target << '\n';
    }
    sites.clearRequests();
    if (resolved != resources)
        out << "  (only " << resolved << " of " << resources << " rows resolved)\n";
    return result;
}

// One harvest of the stand-in's first gift page with a ledger, recorded as the window records
// it: its time, its requests and its rows.
struct Remembered {
    qint64 wallMs = 0;
    qsizetype requests = 0;
    QList<HarvestedRow> rows;
};

Remembered harvestWithLedger(sandbox::Sandbox &sites, Ledger &ledger) {
    WebClient web;
    const SiteAddresses addresses{sites.address(Site::Listing),
                                  sites.address(Site::Share),
                                  sites.address(Site::CloudDisk),
                                  sites.address(Site::Update),
                                  {},
                                  {}};
    const RunRequest request{harvestKindNamed(u"libao"), 1, {}};
    auto *run = new HarvestRun(web, addresses, request);
    run->setKnownCodes(knownCodesOf(&ledger));
    Remembered result;
    bool done = false;
    QObject::connect(run, &HarvestRun::rowResolved,
                     [&](const HarvestedRow &row) { result.rows.append(row); });
    QObject::connect(run, &HarvestRun::finished, [&] { done = true; });
    sites.clearRequests();
    QElapsedTimer clock;
    clock.start();
    run->start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    result.wallMs = clock.elapsed();
    result.requests = sites.requests().size();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<SeenCode> seen;
    for (const HarvestedRow &row : std::as_const(result.rows)) {
        if (const std::optional<SeenCode> code = seenCodeOf(row, request))
            seen.append(*code);
    }
    ledger.recordHarvest(seen);
    std::sort(result.rows.begin(), result.rows.end(),
              [](const HarvestedRow &a, const HarvestedRow &b) { return a.id < b.id; });
    return result;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    sandbox::Sandbox sites;
    if (!sites.start())
        return 1;

    const auto inFlight = [](const Harvest &h) -> QString {
        return u"at most " + QString::number(h.peakListing) + u" in flight to the listing site, " +
               QString::number(h.peakCloud) + u" to the cloud disk";
    };
    const Harvest serial = harvest(sites, 30, 50, 1);
    const Harvest parallel = harvest(sites, 30, 50, HarvestRun::kDefaultParallelism);
    out << "30-resource page, 50 ms per request (91 requests):\n";
    out << "  one request at a time: " << serial.wallMs << " ms (" << inFlight(serial) << ")\n";
    out << "  per host:              " << parallel.wallMs << " ms (" << inFlight(parallel) << ")\n";
    out << "  speed-up:              " << QString::number(double(serial.wallMs) / parallel.wallMs, 'f', 2)
        << "x\n";

    {
        // The same page harvested again: the ledger's codes are checked on their gift pages
        // instead of being resolved afresh.
        QTemporaryDir dir;
        Ledger ledger(dir.filePath(u"ledger.sqlite"_qs));
        if (!ledger.open())
            return 3;
        const QByteArray page = listingPage(30).toUtf8();
        sites.setHandler(Site::Listing, "/libao/index_1.html", [page](const sandbox::Request &) {
            return sandbox::Response{200, "text/html", page, {}};
        });
        sites.setLatency(50);
        const Remembered first = harvestWithLedger(sites, ledger);
        const Remembered again = harvestWithLedger(sites, ledger);
        bool same = first.rows.size() == again.rows.size();
        for (qsizetype i = 0; same && i < first.rows.size(); ++i)
            same = first.rows[i].code == again.rows[i].code && first.rows[i].mark == again.rows[i].mark &&
                   first.rows[i].title == again.rows[i].title;
        out << "30-resource page, 50 ms per request, harvested twice with the ledger:\n";
        out << "  first:  " << first.wallMs << " ms, " << first.requests << " requests\n";
        out << "  again:  " << again.wallMs << " ms, " << again.requests << " requests ("
            << QString::number(double(first.wallMs) / again.wallMs, 'f', 2) << "x faster), rows "
            << (same ? "the same" : "DIFFERENT") << '\n';
    }

    const Harvest hundred = harvest(sites, 100, 50, HarvestRun::kDefaultParallelism);
    out << "100-resource page, 50 ms per request: " << hundred.wallMs << " ms, " << inFlight(hundred)
        << ", event loop at most " << hundred.worstLateMs << " ms late (10 ms timer)\n";

    out << "listing-phase cutting:\n";
    double previous = 0;
    for (const int n : {100, 1000, 10000}) {
        const QString page = listingPage(n);
        QElapsedTimer clock;
        const int repeats = 100000 / n;
        qsizetype rows = 0;
        clock.start();
        for (int i = 0; i < repeats; ++i)
            rows += cutters::cutListingPage(page, u"http://listing"_qs, n).rows.size();
        const double us = clock.nsecsElapsed() / 1000.0 / repeats;
        out << "  " << n << " resources (" << page.size() / 1024 << " KiB): " << QString::number(us, 'f', 0)
            << " us per page";
        if (previous > 0)
            out << ", x" << QString::number(us / previous, 'f', 1) << " for 10x the page";
        out << '\n';
        previous = us;
        if (rows != qsizetype(n) * repeats)
            return 2;
    }
    return 0;
}
