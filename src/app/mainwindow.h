#pragma once

#include "harvestrun.h"
#include "receive.h"
#include "sites.h"

#include <QMainWindow>
#include <QPointer>
#include <QTime>

#include <array>
#include <functional>

#include <qcoro/qcorotask.h>

class Desktop;
class GiftListModel;
struct GiftEntry;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabBar;
class QTimer;
class QTreeView;
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

// Form1: the three tabs with their gift lists and harvest controls, the activity log, the
// status bar, the menus. It wires each control to the subsystem that does the work.
class MainWindow final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    static constexpr int kTabs = 3;
    static constexpr QStringView kVersionText = u"1.6.5";

    explicit MainWindow(Services services, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Shows the window, runs the update check, then makes the harvests idle.
    QCoro::Task<> start();

    int CurrentTab() const { return m_currentTab; }
    bool ListingIdle() const;
    GiftListModel *model(int tab) const { return m_models[tab]; }
    QTreeView *listView(int tab) const { return m_lists[tab]; }
    QString statusText(int panel) const;
    QListWidget *log() const { return m_log; }
    QMenu *popupMenu() const { return m_menu; }
    SignInWindow *signInWindow() const;
    int pageNumber(int tab) const { return m_pages[tab]; }
    bool isHarvesting(int tab) const { return m_runs[tab] != nullptr; }
    bool isReceiving() const { return m_receiving; }

    void AppendLogLine(const QString &message);
    void setStatusText(const QString &text);

    // The menu commands, also reachable from tests.
    void receiveSelected();
    void receiveChecked();
    void copySelected();
    void openSelected();
    void exportCurrentList();
    void hideSelectedRow();
    void openSignIn(bool modal);
    void showPopupMenu(const QPoint &globalPos);

Q_SIGNALS:
    // The program is to end now (exit, close box, failed update check).
    void programEnd();
    void startupFinished();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void buildTab(int tab, QWidget *page);
    void buildMenus();
    void wireTab(int tab);
    void tick();
    void showInfo(const QString &text, const QString &title = QStringLiteral("Corvane系列软件"));
    QWidget *control(const QString &name) const;
    void setControlsEnabled(const QStringList &names, bool enabled);

    // Page controls and harvests.
    void fetchChosenPage(int tab);
    void fetchNextPage(int tab);
    void fetchPreviousPage(int tab);
    void harvestPage(int tab);
    void searchListing(int tab);
    void searchShare();
    bool keywordAccepted(const QString &keyword);
    void startRun(RunRequest request, bool lockTabControl);
    void runEnded(HarvestRun *run, bool complete);
    void updateCheckCount();
    void checkAll();
    void uncheckAll();
    int selectedRow() const;
    // The selected row of the current list; an empty entry when none is selected.
    GiftEntry selectedEntry() const;

    QCoro::Task<> receiveSelectedTask();
    QCoro::Task<> receiveCheckedTask();

    Services m_services;
    Desktop &m_desktop;
    WebClient &m_web;
    std::array<GiftListModel *, kTabs> m_models{};
    std::array<QTreeView *, kTabs> m_lists{};
    std::array<QProgressBar *, kTabs> m_progress{};
    std::array<QSlider *, kTabs> m_sliders{};
    std::array<QPointer<HarvestRun>, kTabs> m_runs;
    std::array<int, kTabs> m_pages{1, 0, 0}; // LibaoPage, SharePage, TiqumaPage
    QWidget *m_tabControl = nullptr;
    QTabBar *m_tabBar = nullptr;
    std::array<QWidget *, kTabs> m_pagesWidgets{};
    QListWidget *m_log = nullptr;
    std::array<QLabel *, 4> m_panels{};
    QWidget *m_selectionBar = nullptr;
    QLabel *m_selectionLabel = nullptr;
    std::array<QRadioButton *, 2> m_options{};
    QMenu *m_menu = nullptr;
    QTimer *m_clock = nullptr;
    QPointer<SignInWindow> m_signIn;
    int m_currentTab = 0;
    bool m_startupDone = false;
    bool m_receiving = false;
};
