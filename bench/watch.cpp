// The new-gift watch's figures: the requests one check makes when its pages are all new,
// unchanged (answered 304) and changed by one resource, beside the floor; and what the watch costs while it
// waits, with the window hidden: CPU time and resident memory over a span of minutes (10 by default; the
// first argument sets it). Prints; asserts nothing about time.
#include "app/mainwindow.h"
#include "app/watchcontrol.h"
#include "desktop/desktop.h"
#include "ledger/ledger.h"
#include "measure.h"
#include "nodesktop.h"
#include "sandbox/sandbox.h"
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

void waitUntil(const std::function<bool()> &done, int ms = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void requestsPerCheck() {
    sandbox::Sandbox sites;
    sites.start();
    sites.setPageOneChangesEvery(2); // the third look at a page finds one resource more
    QTemporaryDir dir;
    Ledger ledger(dir.filePath(u"ledger.sqlite"_qs));
    ledger.open();
    NoDesktop desktop;
    WebClient web;
    GiftPosts posts(&ledger);
    NewGiftWatch watch({web, addressesOf(sites), desktop, &ledger, [] { return false; }, posts});
    QList<CheckReport> reports;
    QObject::connect(&watch, &NewGiftWatch::checked,
                     [&](const CheckReport &report) { reports.append(report); });
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
        if (i == 0)
            watch.start({});
        else
            watch.checkNow(true);
        waitUntil([&] { return reports.size() > i; });
        out << "  " << cases[i].what << ": " << sites.requests().size() << " requests (floor "
            << cases[i].floor << "), " << reports.value(i).gifts.size() << " new gifts\n";
    }
    watch.stop();
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
    idleCost(argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10);
    return 0;
}
