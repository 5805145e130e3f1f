// giftvane-harvest figures: `giftvane-harvest libao 1-10` against the stand-in sites at 50 ms
// per request, with the default requests per host and with one request at a time. Prints;
// asserts nothing about time.
#include "sandbox/sandbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

QTextStream out(stdout);

struct Timed {
    qint64 wallMs = 0;
    int rows = 0;
    int status = -1;
};

Timed harvest(const sandbox::Sandbox &sites, const QStringList &options) {
    QTemporaryDir home; // the ledger is recorded as usual, but not into the user's
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &line : sites.environmentLines())
        environment.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    QProcess command;
    command.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    command.start(QStringLiteral(HARVEST_COMMAND), options + QStringList{u"libao"_qs, u"1-10"_qs});
    // The stand-in sites answer from this loop.
    while (command.state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Timed timed;
    timed.wallMs = clock.elapsed();
    timed.status = command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
    timed.rows = int(command.readAllStandardOutput().count('\n'));
    return timed;
}

void report(const char *what, const Timed &timed) {
    out << what << timed.wallMs << " ms";
    if (timed.status != 0 || timed.rows != 200)
        out << " (status " << timed.status << ", " << timed.rows << " of 200 rows)";
    out << '\n';
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    sandbox::Sandbox sites;
    if (!sites.start())
        return 1;
    sites.setLatency(50);

    const Timed parallel = harvest(sites, {});
    const Timed serial = harvest(sites, {u"--requests-per-host"_qs, u"1"_qs});
    out << "giftvane-harvest libao 1-10 (200 rows), 50 ms per request:\n";
    report("  6 requests per host (default): ", parallel);
    report("  one request at a time:         ", serial);
    out << "  ratio:                         "
        << QString::number(double(serial.wallMs) / parallel.wallMs, 'f', 2) << "x\n";
    return 0;
}
