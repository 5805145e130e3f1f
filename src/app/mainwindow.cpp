#include "app/mainwindow.h"

#include "app/activitylog.h"
#include "app/controls.h"
#include "app/ledgeropener.h"
#include "app/menus.h"
#include "app/receiveflow.h"
#include "app/receiving.h"
#include "app/selectionbar.h"
#include "app/signincontrol.h"
#include "app/signinwindow.h"
#include "app/statusbar.h"
#include "app/updatereply.h"
#include "app/watchcontrol.h"
#include "desktop/desktop.h"
#include "desktop/usersettings.h"
#include "giftlist/giftlistmodel.h"
#include "ledger/ledger.h"
#include "session/sessionsettings.h"
#include "session/updatecheck.h"
#include "text/text.h"
#include "version.h"
#include "web/webclient.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>

#include <utility>

using controls::place;
using controls::twips;

namespace {

const QString kShortTitle = QStringLiteral("Corvane软件");
constexpr int kClientWidth = 978;
constexpr int kClientHeight = 590;

} // namespace

MainWindow::MainWindow(Services services, QWidget *parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
    , m_session(*m_services.session)
    , m_desktop(m_session.desktop())
    , m_web(m_session.web()) {
    setObjectName(QStringLiteral("Form1"));
    m_receiving = new Receiving(m_session, this);
    connect(m_receiving, &Receiving::statusText, this, &MainWindow::setStatusText);
    connect(m_receiving, &Receiving::logLine, this, &MainWindow::AppendLogLine);
    connect(m_receiving, &Receiving::warned, this,
            [this](const QString &text) { say(Severity::Warning, text); });
    // What the session tells, in the window's words.
    connect(&m_session, &GiftSession::codeReceived, this,
            [this](const QString &code) { m_tabs->markReceived(code); });
    connect(&m_session, &GiftSession::message, this, &MainWindow::say);
    connect(&m_session, &GiftSession::updateChecked, this, &MainWindow::updateChecked);
    connect(&m_session, &GiftSession::ledgerOff, this,
            [this](const QString &why) { AppendLogLine(u"接收记录不可用,本次不作记录：" + why); });
    setWindowTitle(QStringLiteral("Giftvane"));
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);
    m_tabs = new TabStack({m_web, m_session.sites(), m_services.parallelism, m_session.ledger()}, m_desktop,
                          client);
    for (GiftTab *tab : m_tabs->tabs())
        wireTab(tab);
    connect(m_tabs, &TabStack::chosen, this, [this](int current) {
        if (UserSettings *settings = m_services.settings)
            settings->setCurrentTab(current);
        setStatusText(tabCaption(TabId(current)));
    });
    m_log = place(new ActivityLog(m_desktop, client), "List1", twips(11280, 480, 3135, 7440));
    // The selection bar lies above the tab control.
    m_selectionBar = new SelectionBar(client);
    m_selectionBar->setGeometry(twips(7680, 1080, 2655, 1575));
    m_selectionBar->setList(&currentTab()->list());
    m_selectionBar->raise();
    connect(m_tabs, &TabStack::shown, this, [this](GiftTab *tab) { m_selectionBar->setList(&tab->list()); });
    connect(m_selectionBar, &SelectionBar::statusText, this, &MainWindow::setStatusText);
    m_statusBar = new StatusBar(client, m_services.clock);
    m_signIn = new SignInControl(m_session, m_services.signInPlugin, this);
    connect(m_signIn, &SignInControl::statusText, this, &MainWindow::setStatusText);
    m_ledger = new LedgerOpener(m_session, this);
    connect(m_ledger, &LedgerOpener::receiveRequested, this, &MainWindow::receiveCodes);
    buildWatch();
    buildMenus();
    // The tab the user left open; the status bar keeps its start text. The pages follow when
    // start-up has set its own.
    if (const UserSettings *settings = m_services.settings)
        m_tabs->showQuietly(settings->currentTab());
    connect(this, &MainWindow::programEnd, this, &MainWindow::rememberWindow);

    // Start-up up to showing the window.
    setWindowIcon(QIcon());
    m_statusBar->setText(3, QStringLiteral(GIFTVANE_VERSION));
    AppendLogLine(QStringLiteral("正在检测更新.."));
}

MainWindow::~MainWindow() {
    // Here, while every member is still there: the tabs' runs record what they resolved, and
    // whatever the ledger says about it no longer reaches this window.
    m_session.disconnect(this);
    for (GiftTab *tab : m_tabs->tabs())
        tab->harvests().stop();
    m_watch->watch().stop(); // quietly: no window comes back from the tray now
    delete m_receiving;      // calls off the receive going on
    delete m_signIn;         // with the browser
}

void MainWindow::wireTab(GiftTab *tab) {
    connect(tab, &GiftTab::statusText, this, &MainWindow::setStatusText);
    connect(tab, &GiftTab::logLine, this, &MainWindow::AppendLogLine);
    connect(tab, &GiftTab::checkToggled, this, [this] { m_selectionBar->recount(); });
    connect(tab, &GiftTab::menuRequested, this, &MainWindow::showPopupMenu);
    connect(tab, &GiftTab::signInRequested, this, [this] { m_signIn->open(true); });
    connect(tab, &GiftTab::pageChanged, this, [this, tab](int page) {
        if (SessionSettings *settings = m_session.settings())
            settings->setPage(tab->id(), page);
    });
    connect(tab, &GiftTab::receiveRequested, this, [this](bool onRow) {
        if (!ListingIdle())
            info(QStringLiteral("请先等待礼包码获取完毕"));
        else if (onRow)
            receiveSelected();
        else
            m_receiving->receiveOne(GiftEntry{});
    });
}

void MainWindow::buildMenus() {
    menus::fillBar(
        menuBar(),
        {
            {"dl115", QStringLiteral("登录115"),
             [this] {
                 info(QStringLiteral("请使用移动端app进行扫描登录"), kShortTitle);
                 m_signIn->open(false);
             }},
            {"tcdl", QStringLiteral("退出登录"), [this] { m_signIn->signOut(); }},
            {"jsjl", QStringLiteral("接收记录"), [this] { openLedger(); }},
            {"xlbtx", QStringLiteral("新礼包提醒"), [this] { m_watch->openDialog(); }},
            {"sj", QStringLiteral("软件说明"),
             [this] {
                 info(QStringLiteral("本程序仅做采集整理服务，内容均为网友提供，\r\n\r\n"
                                     "如有任何问题与Corvane及开发者无关,请勿将程序用于非法用途"),
                      kShortTitle);
             }},
            {"kf", QStringLiteral("客服中心"),
             [this] { m_desktop.openUrl(QUrl(m_session.sites().support)); }},
            {"bbs", QStringLiteral("官方论坛"), [this] { m_desktop.openUrl(QUrl(m_session.sites().forum)); }},
            {"tuichu", QStringLiteral("退出程序"), [this] { Q_EMIT programEnd(); }},
        },
        this);
    m_menu = menus::popup(
        {
            {"jieshou", QStringLiteral("接收礼包"), [this] { receiveSelected(); }},
            {"fz", QStringLiteral("复制礼包"), [this] { currentTab()->copySelected(); }},
            {"dk", QStringLiteral("打开礼包"), [this] { currentTab()->openSelected(); }},
            {"pljs", QStringLiteral("批量接收"), [this] { receiveChecked(); }},
        },
        this);
    // The client area keeps its fixed size below the menu bar.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void MainWindow::start(StartMode mode) {
    if (mode == StartMode::Window)
        showWindow();
    m_signIn->restoreKept();
    m_session.start(mode);
}

void MainWindow::updateChecked(const UpdateVerdict &verdict) {
    if (!acceptUpdateVerdict(verdict, m_desktop, this, m_session.sites().forum)) {
        Q_EMIT programEnd();
        return;
    }
    m_tabs->setEnabled(true);
    setStatusText(QStringLiteral("欢迎使用Corvane系列软件"));
    AppendLogLine(QStringLiteral("当前为最新版本.."));
    m_startupDone = true;
    m_tabs->restorePages(m_session.settings());
    m_signIn->startupFinished();
    Q_EMIT startupFinished();
}

void MainWindow::rememberWindow() {
    if (m_services.settings && isVisible())
        m_services.settings->saveWindow(*this);
}

void MainWindow::say(Severity severity, const QString &text) {
    if (m_receiving->holds(severity, text))
        return;
    if (severity != Severity::Progress)
        AppendLogLine(text);
    if (severity != Severity::Info)
        setStatusText(text);
}

void MainWindow::openSignIn(bool modal) {
    m_signIn->open(modal);
}

SignInWindow *MainWindow::signInWindow() const {
    return m_signIn->window();
}

bool MainWindow::ListingIdle() const {
    return m_startupDone && !m_tabs->isResolving();
}

bool MainWindow::isReceiving() const {
    return m_receiving->isBusy();
}

ReceiveFlow *MainWindow::receiving() const {
    return m_receiving->flow();
}

QString MainWindow::statusText(int panel) const {
    return m_statusBar->text(panel);
}

void MainWindow::AppendLogLine(const QString &message) {
    // Log lines and status texts carry titles from outside sites: shown cut at a sane length.
    m_log->append(u"[" + m_services.clock().toString(QStringLiteral("H:m:s")) + u"]" +
                  text::shownText(message));
}

void MainWindow::setStatusText(const QString &text) {
    m_statusBar->setText(2, text::shownText(text));
}

void MainWindow::info(const QString &text, const QString &title) {
    m_desktop.information(this, title, text);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    // While the watch runs in the tray, the window only goes out of sight; it is remembered
    // now, since it will not be visible when the program ends.
    if (m_watch->keepsRunning()) {
        rememberWindow();
        event->ignore();
        hide();
        return;
    }
    event->accept();
    Q_EMIT programEnd();
}

void MainWindow::showWindow() {
    // First shown where the user left it, kept whole on its screen.
    if (!std::exchange(m_placed, true))
        placeWindow(*this, m_services.settings);
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::buildWatch() {
    WatchControl::Context context{m_session, m_desktop,
                                  [this] { return m_session.signInState() == SignInState::Kept; },
                                  m_services.trayAvailable, this};
    m_watch = new WatchControl(std::move(context), this);
    connect(m_watch, &WatchControl::logLine, this, &MainWindow::AppendLogLine);
    connect(m_watch, &WatchControl::showWindowRequested, this, &MainWindow::showWindow);
    connect(m_watch, &WatchControl::quitRequested, this, &MainWindow::programEnd);
    connect(m_watch, &WatchControl::giftsActivated, this, [this](const QStringList &codes) {
        showWindow();
        openLedger(codes);
    });
    // The dialog's auto-receive box follows the sign-in.
    connect(&m_session, &GiftSession::signInChanged, m_watch, &WatchControl::showState);
    // The watch the session resumed at start, shown in the tray.
    connect(&m_session, &GiftSession::watchResumed, m_watch, &WatchControl::showRunning);
}

void MainWindow::showPopupMenu(const QPoint &globalPos) {
    if (ListingIdle())
        m_menu->popup(globalPos);
}

void MainWindow::openLedger(const QStringList &codes) {
    m_ledger->open(codes);
}

void MainWindow::receiveSelected() {
    m_receiving->receiveOne(currentTab()->selectedEntry());
}

void MainWindow::receiveCodes(const QStringList &codes) {
    m_receiving->receiveCodes(codes);
}

void MainWindow::receiveChecked() {
    m_receiving->receiveBatch(currentTab()->list().entries());
}
