// Figures of the window itself (run offscreen: QT_QPA_PLATFORM=offscreen bench_window):
// listing a page of 1000 resources, and a batch failure box for a 16 MiB one-line reply with its
// details shown. For each, how long it takes, the CPU time it takes, the longest gap of a 10 ms
// timer meanwhile (the window's unresponsive time), and the peak resident memory. Then what one
// line of the activity log costs as the log grows. Prints; asserts nothing.
#include "app/activitylog.h"
#include "app/mainwindow.h"
#include "app/receiveflow.h"
#include "desktop/systemdesktop.h"
#include "giftlist/giftlistmodel.h"
#include "measure.h"
#include "nodesktop.h"
#include "sandbox/sandbox.h"
#include "wait.h"
#include "web/webclient.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTextStream>

using sandbox::Site;

namespace {

QTextStream out(stdout);

void thousandRows(sandbox::Sandbox &sites) {
    QByteArray page = "<html><body><ul>\n";
    for (int i = 0; i < 1000; ++i)
        page += "<li><a class=\"title\" target=\"_blank\">资源" + QByteArray::number(i) +
                "</a><small>文件大小：</small>1.5 GB<span class=\"info\"><a href=\"/libao/" +
                QByteArray::number(100000 + i) + ".html\">详情</a></span></li>\n";
    sites.setHandler(Site::Listing, "/libao/index_1.html", [page](const sandbox::Request &) {
        return sandbox::Response{200, "text/html", page, {}};
    });
    sites.setFault(QStringLiteral("^/libao/1\\d+\\.html"), sandbox::Fault::Hang); // the codes wait
    NoDesktop desktop;
    WebClient web;
    const SiteAddresses addresses{sites.address(Site::Listing),
                                  sites.address(Site::Share),
                                  sites.address(Site::CloudDisk),
                                  sites.address(Site::Update),
                                  {},
                                  {}};
    GiftSession session(web, desktop, addresses, nullptr);
    MainWindow window({&desktop, &session});
    window.start();
    waitUntil([&] { return window.ListingIdle(); });
    GiftTab *tab = window.tab(TabId::Libao);
    LoopWatch watch;
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuMs();
    tab->findChild<QPushButton *>(QStringLiteral("Command8"))->click();
    waitUntil([&] { return tab->list().rowCount() == 1000; });
    const qint64 listed = clock.elapsed();
    const double cpu = cpuMs() - cpuBefore;
    out << "1000-resource page in the window: listed in " << listed << " ms; CPU " << qRound(cpu) << " ms ("
        << cpu / 1000 << " ms a row, the stand-in sites' share included); longest gap of a 10 ms timer "
        << watch.longestGap() << " ms; peak " << peakResidentMiB() << " MiB\n";
    sites.clearFaults();
}

void hugeFailureReply() {
    // What the batch hands the box (its caps), then the box the user sees, details shown.
    const QString reply(16 * 1024 * 1024, u'x');
    LoopWatch watch;
    QElapsedTimer clock;
    clock.start();
    auto box = SystemDesktop::messageBox(nullptr, Desktop::Icon::None, QStringLiteral("Giftvane"),
                                         reply.left(ReceiveFlow::kBoxTextLimit),
                                         reply.left(ReceiveFlow::kBoxDetailsLimit));
    box->show();
    for (QAbstractButton *button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::ActionRole)
            button->click(); // "Show Details..."
    }
    waitFor(500);
    out << "16 MiB one-line failure reply, box with details shown: ready after " << clock.elapsed() - 500
        << " ms; longest gap of a 10 ms timer " << watch.longestGap() << " ms; peak " << peakResidentMiB()
        << " MiB\n";
}

// One log line, then the event loop drained (the view's layout and painting included), at a
// log of 100, 3000 and 10,000 lines: the mean and the worst of 100 lines at each.
void logLines() {
    NoDesktop desktop;
    WebClient web;
    GiftSession session(web, desktop, {}, nullptr);
    MainWindow window({&desktop, &session});
    window.show();
    const auto line = [&window](int i) {
        window.AppendLogLine(u"[资源" + QString::number(i) + u"]礼包成功接收");
    };
    int lines = 0;
    out << "activity log, one line then the event loop drained:";
    for (const int at : {100, 3000, 10000}) {
        for (; lines < at - 100; ++lines) {
            line(lines);
            if (lines % 100 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        double total = 0, worst = 0;
        for (; lines < at; ++lines) {
            QElapsedTimer clock;
            clock.start();
            line(lines);
            QCoreApplication::processEvents();
            const double ms = clock.nsecsElapsed() / 1e6;
            total += ms;
            worst = qMax(worst, ms);
        }
        out << " at " << at << " lines " << total / 100 << " ms a line (worst " << worst << " ms);";
    }
    out << " kept " << window.log()->count() << " lines, " << window.log()->movedOut() << " moved out\n";
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    sandbox::Sandbox sites;
    if (!sites.start())
        return 1;
    thousandRows(sites);
    hugeFailureReply();
    logLines();
    return 0;
}
