// giftvane-harvest figures: `giftvane-harvest libao 1-10` against the stand-in sites at 50 ms
// per request, with the default requests per host and with one request at a time; then page
// ranges beside their floor. Prints; asserts nothing about time.
#include "sandbox/sandbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

QTextStream out(stdout);

constexpr int kLatencyMs = 50;
constexpr int kInFlightPerHost = 6; // the command's default, as browsers do

struct Timed {
    qint64 wallMs = 0;
    int rows = 0;
    int status = -1;
};

Timed harvest(sandbox::Sandbox &sites, const QStringList &arguments) {
    QTemporaryDir home; // the ledger is recorded as usual, but not into the user's
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &line : sites.environmentLines())
        environment.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    QProcess command;
    command.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    sites.clearRequests();
    command.start(QStringLiteral(HARVEST_COMMAND), arguments);
    // The stand-in sites answer from this loop.
    while (command.state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Timed timed;
    timed.wallMs = clock.elapsed();
    timed.status = command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
    timed.rows = int(command.readAllStandardOutput().count('\n'));
    return timed;
}

void report(const char *what, const Timed &timed, int rows) {
    out << what << timed.wallMs << " ms";
    if (timed.status != 0 || timed.rows != rows)
        out << " (status " << timed.status << ", " << timed.rows << " of " << rows << " rows)";
    out << '\n';
}

// What the stand-in sites could not answer faster, each host taking kInFlightPerHost requests
// at a time: the busiest host's requests, after the first page's listing, which
// nothing overlaps.
qint64 floorMs(const sandbox::Sandbox &sites) {
    qsizetype busiest = 0;
    for (const sandbox::Site site : {sandbox::Site::Listing, sandbox::Site::Share, sandbox::Site::CloudDisk})
        busiest = qMax(busiest, sites.requests(site).size());
    return busiest * kLatencyMs / kInFlightPerHost + kLatencyMs;
}

void pageRange(sandbox::Sandbox &sites, const QString &pages, int rows) {
    const Timed timed = harvest(sites, {u"libao"_qs, pages});
    const qint64 floor = floorMs(sites);
    out << "giftvane-harvest libao " << pages << ": " << timed.wallMs << " ms, floor " << floor << " ms ("
        << QString::number(double(timed.wallMs) / floor, 'f', 2) << "x)";
    if (timed.status != 0 || timed.rows != rows)
        out << " (status " << timed.status << ", " << timed.rows << " of " << rows << " rows)";
    out << '\n';
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    sandbox::Sandbox sites;
    if (!sites.start())
        return 1;
    sites.setLatency(kLatencyMs);

    const QStringList tenPages{u"libao"_qs, u"1-10"_qs};
    const Timed parallel = harvest(sites, tenPages);
    const Timed serial = harvest(sites, QStringList{u"--requests-per-host"_qs, u"1"_qs} + tenPages);
    out << "giftvane-harvest libao 1-10 (200 rows), 50 ms per request:\n";
    report("  6 requests per host (default): ", parallel, 200);
    report("  one request at a time:         ", serial, 200);
    out << "  ratio:                         "
        << QString::number(double(serial.wallMs) / parallel.wallMs, 'f', 2) << "x\n";

    // Pages overlap: the floor is the busiest host kept full from the first listing on.
    out << "page ranges, 50 ms per request, beside the per-host floor:\n";
    pageRange(sites, u"1-20"_qs, 400);
    pageRange(sites, u"1-150"_qs, 3000);
    return 0;
}
