// What a user sees when a site fails, for every fault kind of the stand-in sites on every route
// a harvest takes, and what it costs: how long until the run ends, the longest stall of the
// event loop, the peak resident memory, and what stays resident once the run has gone. Each case
// runs in a process of its own against the stand-in sites in another process (giftvane-sandbox),
// so that its memory and stall figures are the program's own. Prints a table; asserts nothing
// about time.
//
//   bench_faults           all cases, each a harvest run as giftvane-harvest runs it (the
//                          request deadline is cut to 3 s, from 60)
//   bench_faults --window  all cases, each in the window (offscreen), started by its "获取"
//   bench_faults [--window] ROUTE  one case against the sites named by the GIFTVANE_… variables
#include "app/activitylog.h"
#include "app/mainwindow.h"
#include "desktop/desktop.h"
#include "giftlist/giftlistmodel.h"
#include "harvest/harvestrun.h"
#include "measure.h"
#include "nodesktop.h"
#include "wait.h"
#include "web/webclient.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr int kDeadlineMs = 3000;

struct Route {
    const char *name;
    const char *pattern;
    const char16_t *harvest;
};
const Route kRoutes[] = {
    {"listing-page", "^/libao/index_1\\.html", u"libao"},
    {"detail-pages", "^/libao/100\\d+\\.html", u"libao"},
    {"download-pages", "^/plus/download", u"libao"},
    {"gift-pages", "^/lb/", u"libao"},
    {"share-page", "^/new/1\\.html", u"share"},
    {"find-replies", "^/api/find", u"share"},
};
const char *const kKinds[] = {
    "hang",      "reset",         "404",          "truncated",      "oversized",
    "flood",     "slow-redirect", "garbage-gzip", "truncated-gzip", "truncated-gzip-chunked",
    "gzip-bomb", "endless",       "503",          "huge-title"};

int runCase(const Route &route) {
    WebClient web;
    web.setTimeouts(kDeadlineMs, kDeadlineMs);
    auto *run =
        new HarvestRun(web, SiteAddresses::fromEnvironment(), {harvestKindNamed(route.harvest), 1, {}});
    int rows = 0, codes = 0;
    QObject::connect(run, &HarvestRun::rowsListed,
                     [&](const QList<HarvestedRow> &listed) { rows += listed.size(); });
    QObject::connect(run, &HarvestRun::rowResolved,
                     [&](const HarvestedRow &row) { codes += !row.code.isEmpty(); });
    QString status;
    QStringList log;
    QString end = QStringLiteral("-");
    QObject::connect(run, &HarvestRun::statusText, [&](const QString &text) { status = text; });
    QObject::connect(run, &HarvestRun::logLine, [&](const QString &line) { log.append(line); });
    QObject::connect(run, &HarvestRun::finished, [&](HarvestRun::End how) {
        end = QString::fromLatin1(QMetaEnum::fromType<HarvestRun::End>().valueToKey(int(how))).toLower();
    });

    LoopWatch watch;
    QElapsedTimer clock;
    clock.start();
    run->start();
    waitUntil([&] { return end != u"-"; }, 120000);
    const qint64 elapsed = clock.elapsed();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the run, gone
    QTextStream(stdout) << route.name << '\t' << elapsed << '\t' << end << '\t' << rows << '\t' << codes
                        << '\t' << watch.longestGap() << '\t' << peakResidentMiB() << '\t' << residentMiB()
                        << '\t' << status << '\t' << log.join(u" | ") << '\n';
    return 0;
}

// The same case in the window: the tab's "获取" starts it, and what the window shows is read.
int runWindowCase(const Route &route) {
    NoDesktop desktop;
    WebClient web;
    web.setTimeouts(kDeadlineMs, kDeadlineMs);
    QString end = QStringLiteral("-");
    qint64 elapsed = 0, gap = 0, peak = 0;
    int rows = 0, codes = 0;
    QString status, log;
    {
        GiftSession session(web, desktop, SiteAddresses::fromEnvironment(), nullptr);
        MainWindow window({&desktop, &session});
        window.start();
        waitUntil([&] { return window.ListingIdle(); }, 10000);
        const TabId tabId = harvestKindNamed(route.harvest)->tab;
        GiftTab *tab = window.tab(tabId);
        const int logBefore = window.log()->count();
        LoopWatch watch;
        QElapsedTimer clock;
        clock.start();
        tab->findChild<QAbstractButton *>(tabId == TabId::Share ? u"Command11"_qs : u"Command8"_qs)->click();
        waitUntil([&] { return !tab->isHarvesting(); }, 120000);
        elapsed = clock.elapsed();
        gap = watch.longestGap();
        end = tab->isHarvesting() ? QStringLiteral("still running") : QStringLiteral("ended");
        rows = tab->list().rowCount();
        for (const GiftEntry &entry : tab->list().entries())
            codes += !entry.code.isEmpty();
        status = window.statusText(2);
        for (int i = logBefore; i < window.log()->count(); ++i)
            log += window.log()->line(i) + u" | ";
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the run, gone
        peak = peakResidentMiB();
    }
    QTextStream(stdout) << route.name << '\t' << elapsed << '\t' << end << '\t' << rows << '\t' << codes
                        << '\t' << gap << '\t' << peak << '\t' << residentMiB() << '\t' << status << '\t'
                        << log << '\n';
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    const bool inWindow = argc > 1 && qstrcmp(argv[1], "--window") == 0;
    if (inWindow)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The harvest alone runs as giftvane-harvest does, without a GUI.
    const std::unique_ptr<QCoreApplication> application =
        inWindow ? std::make_unique<QApplication>(argc, argv)
                 : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication &app = *application;
    QStringList args = app.arguments();
    if (inWindow)
        args.removeAt(1);
    if (args.size() == 2) {
        for (const Route &route : kRoutes) {
            if (args[1] == QLatin1String(route.name))
                return inWindow ? runWindowCase(route) : runCase(route);
        }
        return 2;
    }
    QTextStream out(stdout);
    out << "request deadline " << kDeadlineMs << " ms (the program's is 60 s); 20 resources a page\n";
    out << "route\tfault\tms\tend\trows\tcodes\tlongest gap of a 10 ms timer\tpeak MiB\t"
           "after MiB\tstatus\tlog\n";
    for (const Route &route : kRoutes) {
        for (const char *name : kKinds) {
            QProcess sites;
            sites.start(
                QCoreApplication::applicationDirPath() + u"/giftvane-sandbox",
                {u"--fault"_qs, QString::fromLatin1(route.pattern) + u"=" + QString::fromLatin1(name)});
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            while (sites.waitForReadyRead(5000)) {
                while (sites.canReadLine()) {
                    const QString line = QString::fromUtf8(sites.readLine()).trimmed();
                    environment.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
                }
                if (environment.contains(u"GIFTVANE_SUPPORT_SITE"_qs))
                    break;
            }
            QProcess child;
            child.setProcessEnvironment(environment);
            QStringList caseArgs{QString::fromLatin1(route.name)};
            if (inWindow)
                caseArgs.prepend(u"--window"_qs);
            child.start(app.applicationFilePath(), caseArgs);
            child.waitForFinished(180000);
            sites.terminate();
            sites.waitForFinished();
            const QString line = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
            out << line.section(u'\t', 0, 0) << '\t' << name << '\t' << line.section(u'\t', 1) << '\n';
            out.flush();
        }
    }
    return 0;
}
