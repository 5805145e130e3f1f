#pragma once

#include "app/gifttab.h"
#include "harvest/harvestrun.h"
#include "web/requestscope.h"
#include "web/sites.h"

#include <QMainWindow>
#include <QPointer>
#include <QTime>

#include <array>
#include <functional>

#include <qcoro/qcorotask.h>

class Desktop;
class QLabel;
class QListWidget;
class QMenu;
class QRadioButton;
class QTabBar;
class QTimer;
class ReceiveFlow;
class SignInWindow;
class WebClient;

// What the main window needs from outside; tests pass their own desktop and clock.
struct Services {
    Desktop *desktop = nullptr;
    WebClient *web = nullptr;
    SiteAddresses sites;
    std::function<QTime()> clock = [] { return QTime::currentTime(); };
    int parallelism = HarvestRun::kDefaultParallelism;
};

// Form1: the chrome around the three tabs (menus, status bar, activity log, clock, tab bar,
// selection bar) and the wiring of each command to the part of the program that does it.
class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(Services services, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows the window, runs the update check, then makes the harvests idle.
    QCoro::Task<> start();

    GiftTab *tab(TabId id) const { return m_tabs[int(id)]; }
    GiftTab *currentTab() const { return m_tabs[m_currentTab]; }
    int CurrentTab() const { return m_currentTab; }
    // False until start-up has ended and while a listing-site run resolves gift codes.
    bool ListingIdle() const;
    bool isReceiving() const;
    ReceiveFlow *receiving() const;
    QString statusText(int panel) const;
    QListWidget *log() const { return m_log; }
    QMenu *popupMenu() const { return m_menu; }
    SignInWindow *signInWindow() const;

    void AppendLogLine(const QString &message);
    void setStatusText(const QString &text);

    // Commands of the menus, also reachable from tests.
    void receiveSelected();
    void receiveChecked();
    void openSignIn(bool modal);
    void showPopupMenu(const QPoint &globalPos);

Q_SIGNALS:
    // The program is to end now (exit, close box, failed update check).
    void programEnd();
    void startupFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildTabs(QWidget *client);
    void buildSelectionBar(QWidget *client);
    void buildStatusBar(QWidget *client);
    void buildMenus();
    void wireTab(GiftTab *tab);
    void info(const QString &text, const QString &title = QStringLiteral("Corvane系列软件"));
    void updateCheckCount();
    void startReceive(const std::function<void(ReceiveFlow &)> &start);

    Services m_services;
    Desktop &m_desktop;
    WebClient &m_web;
    RequestScope m_startScope; // the update check's request
    std::array<GiftTab *, kTabCount> m_tabs{};
    QWidget *m_tabControl = nullptr;
    QTabBar *m_tabBar = nullptr;
    QListWidget *m_log = nullptr;
    std::array<QLabel *, 4> m_panels{};
    QWidget *m_selectionBar = nullptr;
    QLabel *m_selectionLabel = nullptr;
    std::array<QRadioButton *, 2> m_options{};
    QMenu *m_menu = nullptr;
    QTimer *m_clock = nullptr;
    QPointer<SignInWindow> m_signIn;
    QPointer<ReceiveFlow> m_receive;
    int m_currentTab = 0;
    bool m_startupDone = false;
};
