// giftvane-harvest: the window's harvests for scripts, without a window or a display.
#include "cli/arguments.h"
#include "cli/harvestcommand.h"
#include "cli/interrupts.h"
#include "cli/watchcommand.h"
#include "desktop/desktop.h"
#include "desktop/secretstore.h"
#include "session/giftsession.h"
#include "session/sessionsettings.h"
#include "version.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSettings>

#include <cstdio>
#include <unistd.h>

namespace {

void print(std::FILE *stream, const QString &text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The command's desktop: nobody sits before a message box or a file dialog, so a message goes to
// stderr and everything else is declined but the secret store (the watch receives with the kept
// sign-in); no notifications.
class CommandLineDesktop final : public Desktop {
public:
    void message(QWidget *, Icon, const QString &title, const QString &text, const QString &) override {
        print(stderr, u"giftvane-harvest: " + title + u": " + text + u"\n");
    }
    QString saveFileName(QWidget *, const QString &, const QString &, SaveMode) override { return {}; }
    void openUrl(const QUrl &) override {}
    void setClipboardText(const QString &) override {}
    QCoro::Task<SecretAnswer> writeSecret(const QString &key, const QByteArray &secret) override {
        return secretstore::write(key, secret);
    }
    QCoro::Task<SecretAnswer> readSecret(const QString &key) override { return secretstore::read(key); }
    QCoro::Task<SecretAnswer> deleteSecret(const QString &key) override { return secretstore::remove(key); }
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // The window's name: the same ledger file under the user's data folder.
    QCoreApplication::setApplicationName(QStringLiteral("Giftvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GIFTVANE_VERSION));
    // stderr is for the command's own lines; QT_LOGGING_RULES still turns the libraries'
    // debugging notes back on.
    QLoggingCategory::setFilterRules(QStringLiteral("giftvane.*.debug=false"));

    const CommandLine line = harvestcommand::parseCommandLine(QCoreApplication::arguments());
    if (!line.error.isEmpty()) {
        print(stderr, u"giftvane-harvest: " + line.error + u" (see giftvane-harvest --help)\n");
        return HarvestCommand::BadArguments;
    }
    if (line.help) {
        print(stdout, harvestcommand::usage());
        return 0;
    }
    if (line.version) {
        print(stdout, QStringLiteral("giftvane-harvest " GIFTVANE_VERSION "\n"));
        return 0;
    }

    // An address that is none, or that would hand a password to every page, is the user's to
    // mend before anything is asked of the sites.
    const std::unique_ptr<QSettings> settingsFile = openUserSettings();
    SessionSettings settings(*settingsFile);
    if (const QString why = settings.whySitesUnusable(); !why.isEmpty()) {
        print(stderr, u"giftvane-harvest: " + why + u"\n");
        return HarvestCommand::BadArguments;
    }

    if (line.listSubscriptions) {
        for (const Subscription &subscription : settings.watch().subscriptions)
            std::fputs(harvestcommand::subscriptionLine(subscription).constData(), stdout);
        return 0;
    }

    int status = 0;
    Interrupts interrupts;
    {
        WebClient web;
        // Without a window to keep answering, a busy file is worth waiting for a while.
        std::unique_ptr<Ledger> ledger;
        if (line.order.ledger)
            ledger = std::make_unique<Ledger>(Ledger::defaultPath(), nullptr,
                                              HarvestCommand::kLedgerBusyTimeoutMs);
        CommandLineDesktop desktop;
        GiftSession session(web, desktop, settings.sites(), ledger.get(), &settings);
        const auto exit = [](int code) { QCoreApplication::exit(code); };
        if (line.watch) {
            session.open();
            WatchCommand watch(*line.watch, line.order.json, line.order.header, session);
            QObject::connect(&interrupts, &Interrupts::raised, &watch, &WatchCommand::interrupt);
            QObject::connect(&watch, &WatchCommand::finished, &app, exit, Qt::QueuedConnection);
            watch.start();
            status = QCoreApplication::exec();
        } else {
            HarvestCommand command(line.order, session, isatty(STDERR_FILENO) == 1);
            QObject::connect(&interrupts, &Interrupts::raised, &command, &HarvestCommand::interrupt);
            QObject::connect(&command, &HarvestCommand::finished, &app, exit, Qt::QueuedConnection);
            command.start();
            status = QCoreApplication::exec();
        }
    }
    // The runs were cancelled or have ended; each has asked to be deleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    interrupts.endBySignal();
    return status;
}
