#pragma once

#include "app/tabstack.h"
#include "harvest/harvestrun.h"
#include "session/giftsession.h"
#include "web/sites.h"

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QTime>

#include <qcoro/qcorotask.h>

#include <array>
#include <functional>

class ActivityLog;
class Desktop;
class KeptSignIn;
class Ledger;
class LedgerOpener;
class QLabel;
class QMenu;
class QTimer;
class ReceiveFlow;
class Receiving;
class SelectionBar;
class SignInControl;
class SignInWindow;
class StatusBar;
class UpdateCheck;
struct UpdateVerdict;
class UserSettings;
class WatchControl;
class WebClient;

// What the main window needs from outside; tests pass their own desktop and clock.
struct Services {
    Desktop *desktop = nullptr;
    GiftSession *session = nullptr; // the program without its window; it outlives the window
    std::function<QTime()> clock = [] { return QTime::currentTime(); };
    int parallelism = HarvestRun::kDefaultParallelism;
    // What the user chose, remembered across runs; without it nothing is remembered.
    UserSettings *settings = nullptr;
    // The sign-in browser's plugin file; empty for the program's own (tests point elsewhere).
    QString signInPlugin = {};
    // Whether the desktop has a system tray for the new-gift watch; empty: ask Qt.
    std::function<bool()> trayAvailable = {};
};

// Form1: the chrome around the three tabs (menus, status bar, activity log, clock, tab bar,
// selection bar) and the wiring of each command to the part of the program that does it.
class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(Services services, QWidget *parent = nullptr);
    // Ends every job and lets go of the ledger before any member goes.
    ~MainWindow() override;

    // Shows the window where the user left it (not in a background start) and starts the update
    // check; start-up ends when it has answered. A kept sign-in is put back meanwhile.
    void start(StartMode mode = StartMode::Window);

    GiftTab *tab(TabId id) const { return m_tabs->tab(id); }
    GiftTab *currentTab() const { return m_tabs->current(); }
    int CurrentTab() const { return m_tabs->currentIndex(); }
    // False until start-up has ended and while a listing-site run resolves gift codes.
    bool ListingIdle() const;
    bool isReceiving() const;
    ReceiveFlow *receiving() const;
    QString statusText(int panel) const;
    ActivityLog *log() const { return m_log; }
    QMenu *popupMenu() const { return m_menu; }
    SignInWindow *signInWindow() const;
    KeptSignIn &keptSignIn() const { return m_session.kept(); }
    GiftSession &session() const { return m_session; }
    // The new-gift watch with its dialog and tray icon.
    WatchControl &watch() const { return *m_watch; }

    void AppendLogLine(const QString &message);
    void setStatusText(const QString &text);

    // Commands of the menus, also reachable from tests.
    void receiveSelected();
    void receiveChecked();
    // 接收记录's "接收": these codes, as a batch.
    void receiveCodes(const QStringList &codes);
    void openSignIn(bool modal);
    // Opens 接收记录: the whole ledger, or only these codes.
    void openLedger(const QStringList &codes = {});
    // Brings the window back from the tray or the task bar, in front.
    void showWindow();
    void showPopupMenu(const QPoint &globalPos);

Q_SIGNALS:
    // The program is to end now (exit, close box, failed update check).
    void programEnd();
    void startupFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void wireTab(GiftTab *tab);
    void rememberWindow();
    // What the session tells: the status bar, the log, or both.
    void say(Severity severity, const QString &text);
    void info(const QString &text, const QString &title = QStringLiteral("Corvane系列软件"));
    void updateChecked(const UpdateVerdict &verdict);
    void buildWatch();

    Services m_services;
    GiftSession &m_session;
    Desktop &m_desktop;
    WebClient &m_web;
    TabStack *m_tabs = nullptr;
    ActivityLog *m_log = nullptr;
    StatusBar *m_statusBar = nullptr;
    SelectionBar *m_selectionBar = nullptr;
    QMenu *m_menu = nullptr;
    SignInControl *m_signIn = nullptr;
    Receiving *m_receiving = nullptr; // the user's receives
    LedgerOpener *m_ledger = nullptr;
    WatchControl *m_watch = nullptr;
    bool m_startupDone = false;
    bool m_placed = false;
};
