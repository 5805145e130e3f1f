#include "app/ledgermigration.h"
#include "app/mainwindow.h"
#include "desktop/accessibility.h"
#include "desktop/autostart.h"
#include "desktop/singleinstance.h"
#include "desktop/systemdesktop.h"
#include "desktop/usersettings.h"
#include "ledger/ledger.h"
#include "session/giftsession.h"
#include "session/sessionsettings.h"
#include "version.h"
#include "web/cookiejar.h"
#include "web/sites.h"
#include "web/webclient.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QSettings>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcStart, "giftvane.start", QtInfoMsg)

constexpr const char kUsage[] =
    "用法 Usage: giftvane [--background | -h | --help | -v | --version]\n"
    "\n"
    "打开 Giftvane 窗口：采集115网盘礼包码，并把礼包接收到您的账号。\n"
    "Opens the Giftvane window: harvests 115 cloud-disk gift codes and receives the gifts into\n"
    "your account. One Giftvane runs per desktop session: starting it again shows its window.\n"
    "giftvane-harvest runs the harvests and the new-gift watch without a window.\n"
    "\n"
    "  --background    不显示窗口启动，按上次的设置运行新礼包提醒（登录时启动）\n"
    "                  start without the window, the new-gift watch as last left\n"
    "  -h, --help      显示本说明 show this text\n"
    "  -v, --version   显示版本 show the version\n"
    "\n"
    "设置 Settings: ~/.config/Giftvane/Giftvane.ini (under $XDG_CONFIG_HOME when set);\n"
    "site addresses in its group [sites], replaced by the GIFTVANE_… variables.\n";

constexpr int kUpdateNoticeMs = 10 * 60 * 1000;

// --help and --version are answered before Qt looks for a display, so they work without one.
std::optional<int> answerCommandLine(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::fputs("giftvane " GIFTVANE_VERSION "\n", stdout);
            return 0;
        }
    }
    return std::nullopt;
}

bool startsInBackground(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (QLatin1String(argv[i]) == autostart::kBackgroundOption)
            return true;
    }
    return false;
}

// Notes the main window's first frame on the screen, for start-up timing:
// QT_LOGGING_RULES="giftvane.start.debug=true" QT_MESSAGE_PATTERN="%{time process} %{message}".
class FirstFrame final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FirstFrame)

public:
    explicit FirstFrame(QWidget &window)
        : m_window(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && watched == m_window.windowHandle() &&
            m_window.windowHandle()->isExposed()) {
            qCDebug(lcStart, "main window shown");
            qApp->removeEventFilter(this);
        }
        return false;
    }

private:
    QWidget &m_window;
};

} // namespace

int main(int argc, char *argv[]) {
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;
    // Started at login with no watch to run: nothing to do, not even a display to ask for.
    if (startsInBackground(argc, argv) && !SessionSettings(*openUserSettings()).watchRunning())
        return 0;
    // Chromium's sandbox refuses to start as root; off only then.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Before the application exists: a screen reader asks about it as soon as it does.
    presentApplication();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Giftvane"));
    QApplication::setApplicationVersion(QStringLiteral(GIFTVANE_VERSION));
    // Launchers match the window to its installed entry, and so show the entry's icon; the
    // window's own icon stays cleared.
    QApplication::setDesktopFileName(QStringLiteral("io.github.giftvane.Giftvane"));
    // The program speaks Chinese throughout, Qt's own buttons and dialogs included.
    SystemDesktop::loadQtChinese(app);
    // The program ends by programEnd alone: with the new-gift watch in the tray, it outlives
    // its last visible window.
    QApplication::setQuitOnLastWindowClosed(false);

    const StartMode mode = startsInBackground(argc, argv) ? StartMode::Background : StartMode::Window;
    const std::unique_ptr<QSettings> settingsFile = openUserSettings();
    UserSettings settings(*settingsFile);
    SessionSettings sessionSettings(*settingsFile);
    // A program already running shows its window instead (a background start asks nothing).
    SingleInstance instance;
    if (instance.claim(mode == StartMode::Window) == SingleInstance::Claim::Handed)
        return 0;

    SystemDesktop desktop;
    WebClient web;
    Ledger ledger(Ledger::defaultPath());
    // Outlives the window: the store may answer after the window has gone.
    GiftSession session(web, desktop, sessionSettings.sites(), &ledger, &sessionSettings);
    int status = 0;
    {
        Services services{&desktop, &session};
        services.settings = &settings;
        MainWindow window(services);
        // Wired before the ledger's upgrade, whose progress dialog answers the bus: a start
        // meanwhile is not lost. A background start told of another version: a later start opens
        // the update page, as the notification's button does; the program ends then, or after a
        // while.
        bool ending = false;
        QObject::connect(&session, &GiftSession::endRequested, &app, [&ending] {
            ending = true;
            QTimer::singleShot(kUpdateNoticeMs, qApp, [] { QCoreApplication::exit(0); });
        });
        QObject::connect(&instance, &SingleInstance::activationRequested, &window, [&] {
            if (!ending) {
                session.toWindow(); // a check still unanswered is said, as to a window start
                window.showWindow();
                return;
            }
            desktop.openUrl(QUrl(updatePageAddress(session.sites().forum)));
            QCoreApplication::exit(0);
        });
        FirstFrame firstFrame(window);
        if (lcStart().isDebugEnabled())
            app.installEventFilter(&firstFrame);
        {
            // After the window, whose log says so when the ledger cannot be used; a one-time
            // upgrade of a large ledger shows its progress.
            LedgerMigration migration(ledger, &window);
            session.open();
        }
        // An address that is none, or that would hand a password to every page, is said at once
        // rather than only as pages that cannot be read.
        if (const QString why = sessionSettings.whySitesUnusable(); !why.isEmpty())
            window.AppendLogLine(u"站点地址不可用：" + why);
        QObject::connect(
            &window, &MainWindow::programEnd, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        window.start(mode);
        status = QApplication::exec();
    }
    // The window cancelled its jobs; each has ended and asked to be deleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}

#include "main.moc"
