#include "sandbox/sandbox.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Giftvane's stand-in sites on loopback"));
    parser.addHelpOption();
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("content seed"), QStringLiteral("N"),
                                  QStringLiteral("1"));
    const QCommandLineOption latency(QStringLiteral("latency"), QStringLiteral("delay per request"),
                                     QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption version(QStringLiteral("version-answer"),
                                     QStringLiteral("version the update server names"),
                                     QStringLiteral("VERSION"), QStringLiteral(GIFTVANE_VERSION_TAG));
    const QCommandLineOption fault(
        QStringLiteral("fault"),
        QStringLiteral("PATTERN=hang|reset|404|truncated|oversized|flood|slow-redirect|garbage-gzip|"
                       "truncated-gzip|truncated-gzip-chunked|gzip-bomb|endless|503|huge-title (repeatable)"),
        QStringLiteral("RULE"));
    const QCommandLineOption changes(
        QStringLiteral("page-one-changes-every"),
        QStringLiteral("page 1 of each listing gains a resource every K requests"), QStringLiteral("K"),
        QStringLiteral("0"));
    parser.addOptions({seed, latency, version, fault, changes});
    parser.process(app);

    sandbox::Sandbox sites(parser.value(seed).toUInt());
    sites.setLatency(parser.value(latency).toInt());
    sites.setVersion(parser.value(version));
    sites.setPageOneChangesEvery(parser.value(changes).toInt());
    const QHash<QString, sandbox::Fault> kinds = {
        {QStringLiteral("hang"), sandbox::Fault::Hang},
        {QStringLiteral("reset"), sandbox::Fault::Reset},
        {QStringLiteral("404"), sandbox::Fault::NotFound},
        {QStringLiteral("truncated"), sandbox::Fault::Truncated},
        {QStringLiteral("oversized"), sandbox::Fault::Oversized},
        {QStringLiteral("flood"), sandbox::Fault::Flood},
        {QStringLiteral("slow-redirect"), sandbox::Fault::SlowRedirect},
        {QStringLiteral("garbage-gzip"), sandbox::Fault::GarbageGzip},
        {QStringLiteral("truncated-gzip"), sandbox::Fault::TruncatedGzip},
        {QStringLiteral("truncated-gzip-chunked"), sandbox::Fault::TruncatedGzipChunked},
        {QStringLiteral("gzip-bomb"), sandbox::Fault::GzipBomb},
        {QStringLiteral("endless"), sandbox::Fault::Endless},
        {QStringLiteral("503"), sandbox::Fault::Unavailable},
        {QStringLiteral("huge-title"), sandbox::Fault::HugeTitle},
        {QStringLiteral("drop-kept"), sandbox::Fault::DropKept}};
    for (const QString &rule : parser.values(fault)) {
        const qsizetype eq = rule.lastIndexOf(QLatin1Char('='));
        if (eq < 0 || !kinds.contains(rule.mid(eq + 1))) {
            QTextStream(stderr) << "bad --fault rule: " << rule << '\n';
            return 2;
        }
        sites.setFault(rule.left(eq), kinds.value(rule.mid(eq + 1)));
    }
    if (!sites.start()) {
        QTextStream(stderr) << "could not bind the loopback addresses 127.0.0.2-5\n";
        return 1;
    }
    QTextStream out(stdout);
    for (const QString &line : sites.environmentLines())
        out << line << '\n';
    out.flush();
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    return QCoreApplication::exec();
}
