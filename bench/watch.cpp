// The new-gift watch's figures: the requests one check makes when its pages are all new,
// unchanged (answered 304) and changed by one resource, and for five subscriptions with nothing new,
// beside the floor; the time from a gift's first listing in a watched search to its notification, on
// a stepped clock; and what the watch costs while it
// waits, with the window hidden: CPU time and resident memory over a span of minutes (10 by default; the
// first argument sets it). Prints; asserts nothing about time.
#include "app/mainwindow.h"
#include "app/watchcontrol.h"
#include "desktop/desktop.h"
#include "ledger/ledger.h"
#include "measure.h"
#include "nodesktop.h"
#include "sandbox/sandbox.h"
#include "wait.h"
#include "web/webclient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

using sandbox::Site;

namespace {

QTextStream out(stdout);

SiteAddresses addressesOf(const sandbox::Sandbox &sites) {
    return {sites.address(Site::Listing), sites.address(Site::Share),  sites.address(Site::CloudDisk),
            sites.address(Site::Update),  sites.address(Site::Update), sites.address(Site::Update)};
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A watch on a ledger of its own, on a stepped clock, with the reports of its checks.
struct WatchRig {
    explicit WatchRig(const sandbox::Sandbox &sites)
        : ledger(dir.filePath(u"ledger.sqlite"_qs))
        , posts(&ledger)
        , watch({web, addressesOf(sites), desktop, &ledger, [] { return false; }, posts}) {
        ledger.open();
        watch.setClock([this] { return clock; });
        QObject::connect(&watch, &NewGiftWatch::checked,
                         [this](const CheckReport &report) { reports.append(report); });
    }

    QTemporaryDir dir;
    Ledger ledger;
    NoDesktop desktop;
    WebClient web;
    GiftPosts posts;
    NewGiftWatch watch;
    QDateTime clock = QDateTime::currentDateTimeUtc();
    QList<CheckReport> reports;
};

void requestsPerCheck() {
    sandbox::Sandbox sites;
    sites.start();
    sites.setPageOneChangesEvery(2); // the third look at a page finds one resource more
    // A stepped clock: the watch spreads its pages over the interval, one a site at a time.
    WatchRig rig(sites);
    NewGiftWatch &watch = rig.watch;
    QList<CheckReport> &reports = rig.reports;
    QDateTime &clock = rig.clock;
    out << "requests per check of the three first pages (20 resources each):\n";
    // The floor: each page, and for each new row its own requests (detail, download and gift
    // page on the listing site; find and gift page on the share site).
    struct Case {
        const char *what;
        int floor;
    };
    const Case cases[] = {{"20 new rows a page (200), empty ledger", 3 + 2 * 20 * 3 + 20 * 2},
                          {"unchanged pages (304)", 3},
                          {"one new row a page (200), the others known", 3 + 2 * 3 + 2}};
    for (int i = 0; i < 3; ++i) {
        sites.clearRequests();
        const qsizetype before = reports.size();
        if (i == 0) {
            // The first page of each site at once; the third when it is due.
            watch.start({});
            waitUntil([&] { return reports.size() > before; });
            clock = watch.dueAt(int(TabId::Tiquma));
            watch.checkNow();
            waitUntil([&] { return reports.size() > before + 1; });
        } else {
            watch.checkNow(true);
            waitUntil([&] { return reports.size() > before; });
        }
        qsizetype gifts = 0;
        for (qsizetype r = before; r < reports.size(); ++r)
            gifts += reports[r].gifts.size();
        out << "  " << cases[i].what << ": " << sites.requests().size() << " requests (floor "
            << cases[i].floor << "), " << gifts << " new gifts\n";
    }
    // Five subscriptions: the three pages and a search on each site, nothing new since.
    WatchChoices five;
    for (const bool share : {false, true}) {
        Subscription search;
        search.tab = share ? TabId::Share : TabId::Libao;
        search.search = true;
        search.keyword = u"礼包"_qs;
        search.name = search.sourceCaption();
        five.subscriptions.append(search);
    }
    sites.setPageOneChangesEvery(0);
    watch.start(five);
    for (int round = 0; round < 3; ++round) {
        sites.clearRequests();
        const qsizetype before = reports.size();
        watch.checkNow(true);
        waitUntil([&] { return reports.size() > before; });
        if (qEnvironmentVariableIsSet("BENCH_WATCH_PATHS"))
            for (const auto &r : sites.requests())
                out << "    " << round << " " << r.path() << "\n";
        if (round == 2)
            out << "  five subscriptions (three pages, a search on each site), nothing new: "
                << sites.requests().size() << " requests (floor 5), " << reports.last().unchanged
                << " answered 304\n";
    }
    watch.stop();
}

// From a gift's first listing in a watched search to its notification, every 5 minutes, on a
// stepped clock: the wait until the search is due, and the check itself.
void searchToNotice() {
    sandbox::Sandbox sites;
    sites.start();
    int fresh = 100100; // a valid gift the search lists from a minute into the interval
    while (QStringLiteral("689").contains(sites.codeFor(fresh).back()))
        ++fresh;
    bool appeared = false;
    sites.setHandler(Site::Listing, "/plus/search.php", [&](const sandbox::Request &) {
        QByteArray body = "<html><body><div class=\"result\">搜索：礼包</div>\n";
        // Newest first: the fresh gift heads the hits once it is listed.
        for (int id = appeared ? fresh : fresh + 1; id <= fresh + 5; ++id)
            body += "<h3><a href=\"/libao/" + QByteArray::number(id) + ".html\">" +
                    sites.titleFor(id).toUtf8() + "</a><span class=\"date\">2026-11-01</span></h3>\n";
        return sandbox::Response{.body = body + "</body></html>"};
    });
    WatchChoices choices;
    Subscription search;
    search.search = true;
    search.keyword = u"礼包"_qs;
    search.name = u"礼包"_qs;
    choices.subscriptions = {search};
    choices.minutes = 5;
    out << "from a gift's first listing in a watched search to its notification (every 5 minutes, "
           "the spread at both ends):\n";
    for (const double spread : {0.9, 1.1}) {
        WatchRig rig(sites); // a ledger of its own: the gift is new to each
        NewGiftWatch &watch = rig.watch;
        QList<CheckReport> &reports = rig.reports;
        QDateTime &clock = rig.clock;
        watch.setSpread([spread] { return spread; });
        appeared = false;
        watch.start(choices);
        waitUntil([&] { return !reports.isEmpty(); });
        const QDateTime listed = clock.addSecs(60); // a minute after the check
        appeared = true;
        clock = watch.dueAt(0);
        QElapsedTimer checking;
        checking.start();
        watch.checkNow();
        waitUntil([&] { return reports.size() > 1; });
        const bool told = reports.value(1).codes().contains(sites.codeFor(fresh));
        out << "  spread " << spread << ": " << (told ? "told " : "NOT told ")
            << QString::number((listed.msecsTo(clock) + checking.elapsed()) / 1000.0, 'f', 1)
            << " s after it was listed (the check took " << checking.elapsed() << " ms)\n";
        watch.stop();
    }
}

void idleCost(int minutes) {
    sandbox::Sandbox sites;
    sites.start();
    QTemporaryDir dir;
    Ledger ledger(dir.filePath(u"ledger.sqlite"_qs));
    ledger.open();
    NoDesktop desktop;
    WebClient web;
    GiftSession session(web, desktop, addressesOf(sites), &ledger);
    Services services{&desktop, &session};
    services.trayAvailable = [] { return true; };
    MainWindow window(services);
    window.start();
    waitUntil([&] { return window.ListingIdle(); });
    WatchChoices choices;
    choices.minutes = WatchChoices::kFewestMinutes;
    window.watch().start(choices);
    waitUntil([&] { return window.watch().lastCheck().has_value(); });
    window.hide(); // as closed to the tray
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const double cpuBefore = cpuSeconds();
    const qint64 residentBefore = residentMiB();
    qint64 residentMost = residentBefore;
    // Waits as the program waits, in its event loop; a look at the memory once a second.
    QEventLoop loop;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { residentMost = qMax(residentMost, residentMiB()); });
    sample.start(1000);
    QTimer::singleShot(minutes * 60000, &loop, &QEventLoop::quit);
    loop.exec();
    out << "the watch for " << minutes << " minutes, checking every " << choices.minutes
        << " minutes, window hidden: " << QString::number(cpuSeconds() - cpuBefore, 'f', 2) << " s of CPU, "
        << "resident " << residentBefore << " MiB at the start, at most " << residentMost << " MiB, "
        << residentMiB() << " MiB at the end\n";
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    requestsPerCheck();
    searchToNotice();
    idleCost(argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10);
    return 0;
}
