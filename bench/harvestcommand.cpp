// giftvane-harvest figures: `giftvane-harvest libao 1-10` against the stand-in sites at 50 ms
// per request, with the default requests per host and with one request at a time; page ranges
// beside their floor; and its resident memory over 150 pages. Prints; asserts nothing about time.
#include "sandbox/sandbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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

// The command pointed at the stand-in sites, its ledger in `home`, not the user's.
QProcessEnvironment commandEnvironment(const sandbox::Sandbox &sites, const QTemporaryDir &home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &line : sites.environmentLines())
        environment.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    return environment;
}

Timed harvest(sandbox::Sandbox &sites, const QStringList &arguments) {
    QTemporaryDir home; // the ledger is recorded as usual, but not into the user's
    QProcess command;
    command.setProcessEnvironment(commandEnvironment(sites, home));
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

// The resident memory of another process in KiB; -1 when it cannot be read.
qint64 residentKiB(qint64 pid) {
    QFile status(u"/proc/" + QString::number(pid) + u"/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// `giftvane-harvest libao 1-150` without latency, its resident memory taken every `every`
// rows as they come: a request that leaves anything behind (a timer, a buffer) shows as growth
// from page to page.
void memoryOverALongRun(const sandbox::Sandbox &sites) {
    constexpr int kPages = 150;
    constexpr int kRowsPerPage = sandbox::Sandbox::kResourcesPerPage;
    constexpr int kEvery = 25 * kRowsPerPage;
    QTemporaryDir home;
    QProcess command;
    command.setProcessEnvironment(commandEnvironment(sites, home));
    int rows = 0;
    QList<QPair<int, qint64>> samples; // rows so far, resident KiB
    // Read as the rows come, so the pipe never fills and holds the command up.
    QObject::connect(&command, &QProcess::readyReadStandardOutput, [&] {
        rows += int(command.readAllStandardOutput().count('\n'));
        while (rows >= (samples.size() + 1) * kEvery)
            samples.append({(samples.size() + 1) * kEvery, residentKiB(command.processId())});
    });
    QElapsedTimer clock;
    clock.start();
    command.start(QStringLiteral(HARVEST_COMMAND),
                  {u"--no-ledger"_qs, u"libao"_qs, u"1-"_qs + QString::number(kPages)});
    while (command.state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 wallMs = clock.elapsed();
    out << "giftvane-harvest --no-ledger libao 1-" << kPages
        << ", no latency: resident memory as rows come\n";
    for (const auto &[after, kib] : samples)
        out << "  after page " << qSetFieldWidth(3) << after / kRowsPerPage << qSetFieldWidth(0) << ": "
            << QString::number(kib / 1024.0, 'f', 1) << " MiB\n";
    if (samples.size() >= 3) {
        // From the second sample on: the first holds what any run starts with.
        const auto &[firstRows, firstKiB] = samples[1];
        const auto &[lastRows, lastKiB] = samples.last();
        out << "  growth from page " << firstRows / kRowsPerPage << " to " << lastRows / kRowsPerPage << ": "
            << QString::number(double(lastKiB - firstKiB) * kRowsPerPage / (lastRows - firstRows), 'f', 1)
            << " KiB per page (flat: 0)\n";
    }
    out << "  " << rows << " of " << kPages * kRowsPerPage << " rows, status " << command.exitCode() << ", "
        << wallMs << " ms\n";
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
    out.flush();

    sites.setLatency(0);
    memoryOverALongRun(sites);

    // Pages overlap: the floor is the busiest host kept full from the first listing on.
    sites.setLatency(kLatencyMs);
    out << "page ranges, 50 ms per request, beside the per-host floor:\n";
    pageRange(sites, u"1-20"_qs, 400);
    pageRange(sites, u"1-150"_qs, 3000);
    return 0;
}
