// Request throughput against the stand-in sites, one at a time and six at once; CPU per form
// post over 200 posts; how long 20
// requests to a host that never answers take, six at a time, with and without the host watch;
// and the time to cut the 1000th piece of a 5 MB page. Prints; asserts nothing about time.
#include "sandbox/sandbox.h"
#include "text/text.h"
#include "web/requestscope.h"
#include "web/webclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <sys/resource.h>

#include <functional>

#include <qcoro/qcorotask.h>

using sandbox::Site;

namespace {

QCoro::Task<> worker(WebClient &web, QString url, int &remaining, int &failed, RequestScope *scope) {
    while (remaining > 0) {
        --remaining;
        const QString page = (co_await web.OpenUrlDecoded(url, scope)).text;
        failed += page.isEmpty();
    }
}

// Milliseconds for `total` requests, `concurrent` at a time.
qint64 runRequests(WebClient &web, const QString &url, int total, int concurrent, int &failed,
                   RequestScope *scope = nullptr) {
    int remaining = total;
    failed = 0;
    QElapsedTimer clock;
    clock.start();
    std::vector<QCoro::Task<>> workers;
    for (int i = 0; i < concurrent; ++i)
        workers.push_back(worker(web, url, remaining, failed, scope));
    while (std::any_of(workers.begin(), workers.end(), [](const auto &task) { return !task.isReady(); }))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return clock.elapsed();
}

double requestsPerSecond(WebClient &web, const QString &url, int total, int concurrent, int &failed) {
    return total * 1000.0 / qMax<qint64>(1, runRequests(web, url, total, concurrent, failed));
}

// CPU time of the whole process (every thread, the in-process sites too) in milliseconds.
double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// CPU milliseconds per operation over `count` of them, one after another.
double cpuPerRequest(int count, int &failed, const std::function<QCoro::Task<Fetched>()> &operation) {
    failed = 0;
    const double before = cpuMs();
    auto run = [&]() -> QCoro::Task<> {
        for (int i = 0; i < count; ++i)
            failed += !(co_await operation()).ok();
    }();
    while (!run.isReady())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return (cpuMs() - before) / count;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    sandbox::Sandbox sites;
    if (!sites.start())
        return 1;
    WebClient web;
    const QString url = sites.address(Site::Listing) + u"/libao/100003.html";
    int failed = 0;
    requestsPerSecond(web, url, 200, 6, failed); // warm the connections
    for (const int concurrent : {1, 6}) {
        const double rate = requestsPerSecond(web, url, 3000, concurrent, failed);
        out << concurrent << " at a time: " << QString::number(rate, 'f', 0) << " requests/s (" << failed
            << " failed)\n";
    }

    // Form posts one after another, over the posts' kept connections; the floor is a GET of the
    // same reply over a kept connection (the sites' own work is in both).
    const QString find = sites.address(Site::Share) + u"/api/find.aspx";
    int postsFailed = 0;
    cpuPerRequest(10, postsFailed, [&] { return web.PostFormSync(find, u"hidfileid=300101"_qs); });
    const double perPost =
        cpuPerRequest(200, postsFailed, [&] { return web.PostFormSync(find, u"hidfileid=300101"_qs); });
    const QString found = find + u"?hidfileid=300101";
    const double perGet = cpuPerRequest(200, failed, [&] { return web.OpenUrlDecoded(found); });
    out << "200 form posts, one at a time: " << QString::number(perPost, 'f', 2) << " ms CPU per post ("
        << postsFailed << " failed; floor, a GET over a kept connection: " << QString::number(perGet, 'f', 2)
        << " ms)\n";

    // A dead host: 20 gift pages that hang, six at a time, at a 1 s deadline.
    sites.setFault(QStringLiteral("^/lb/"), sandbox::Fault::Hang);
    web.setTimeouts(1000, 1000);
    const QString dead = sites.address(Site::CloudDisk) + u"/lb/gv1";
    for (const bool watched : {false, true}) {
        RequestScope scope;
        if (watched)
            scope.watchHosts();
        const qint64 ms = runRequests(web, dead, 20, 6, failed, &scope);
        out << "20 requests to a host that never answers, 6 at a time, deadline 1 s, "
            << (watched ? "host watch on: " : "no host watch: ") << ms << " ms\n";
    }

    QString page;
    const QString piece = QString(5 * 1024 * 1024 / 2000, QLatin1Char('x'));
    for (int i = 0; i < 2000; ++i)
        page += piece + u"<em>";
    QElapsedTimer clock;
    clock.start();
    qsizetype total = 0;
    const int repeats = 200;
    for (int i = 0; i < repeats; ++i)
        total += text::PieceAt(page, u"<em>", 1000).size();
    out << "PieceAt, piece 1000 of a " << page.size() / (1024 * 1024)
        << " M-character page: " << QString::number(clock.nsecsElapsed() / 1000.0 / repeats, 'f', 0)
        << " us\n";
    return total == qsizetype(piece.size()) * repeats ? 0 : 2;
}
