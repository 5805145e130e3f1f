#include "mainwindow.h"

#include "clouddisk.h"
#include "desktop.h"
#include "export.h"
#include "giftlistmodel.h"
#include "signinwindow.h"
#include "updatecheck.h"
#include "webclient.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTabBar>
#include <QTimer>
#include <QTreeView>

Q_LOGGING_CATEGORY(lcApp, "giftvane.app")

namespace {

const QString kTitle = QStringLiteral("Corvane系列软件");
const QString kShortTitle = QStringLiteral("Corvane软件");
const QString kNotice =
    QStringLiteral("本程序只用于信息的采集与整理，获取到的资源均来自网络，内容与Corvane及开发者无关");
constexpr int kClientWidth = 978;
constexpr int kClientHeight = 590;
constexpr int kBatchBoxLimit = 1000;

// Positions are given in twips (1/15 pixel at the window's design resolution).
QRect twips(int left, int top, int width, int height) {
    const auto px = [](int value) { return qRound(value / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

// The controls of one tab, by object name; every tab has the same layout.
struct TabNames {
    const char *next, *previous, *chosen, *slider, *pageLabel, *exportButton, *progress, *keyword, *search,
        *prompt, *notice, *hiddenStart;
};
constexpr TabNames kTabNames[MainWindow::kTabs] = {
    {"Command2", "Command3", "Command8", "Slider1", "Label3", "Command4", "ProgressBar1", "Text1", "Command7",
     "Label1", "Label6", "Command1"},
    {"Command9", "Command16", "Command11", "Slider2", "Label11", "Command15", "ProgressBar2", "Text2",
     "Command12", "Label9", "Label8", "Command17"},
    {"Command20", "Command5", "Command18", "Slider3", "Label16", "Command13", "ProgressBar3", "Text3",
     "Command14", "Label13", "Label14", nullptr},
};

QString name(const char *text) {
    return QString::fromLatin1(text);
}

// A label that reports clicks, for the notice marks "?".
class ClickLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && onClick)
            onClick();
    }
};

template <typename Widget>
Widget *place(Widget *widget, const char *objectName, const QRect &geometry, const QString &caption = {}) {
    widget->setObjectName(name(objectName));
    widget->setGeometry(geometry);
    if (!caption.isEmpty())
        widget->setAccessibleName(caption);
    return widget;
}

QPushButton *button(QWidget *parent, const char *objectName, const QString &caption, const QRect &geometry) {
    return place(new QPushButton(caption, parent), objectName, geometry, caption);
}

QLabel *label(QWidget *parent, const char *objectName, const QString &caption, const QRect &geometry) {
    return place(new QLabel(caption, parent), objectName, geometry, caption);
}

} // namespace

MainWindow::MainWindow(Services services, QWidget *parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
    , m_desktop(*m_services.desktop)
    , m_web(*m_services.web) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Giftvane"));
    buildWindow();
    buildMenus();

    // Start-up up to showing the window.
    setWindowIcon(QIcon());
    m_panels[2]->setText(kVersionText.toString());
    AppendLogLine(QStringLiteral("正在检测更新.."));
}

MainWindow::~MainWindow() {
    for (const auto &run : m_runs) {
        if (run)
            run->cancel();
    }
    delete m_signIn;
}

void MainWindow::buildWindow() {
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    // The tab control: children of each page are placed relative to the tab control itself.
    m_tabControl = place(new QWidget(client), "SSTab1", twips(120, 120, 10935, 7815));
    m_tabControl->setEnabled(false); // the update check enables it
    m_tabBar = new QTabBar(m_tabControl);
    m_tabBar->setObjectName(QStringLiteral("SSTab1Tabs"));
    m_tabBar->setExpanding(true);
    m_tabBar->setDrawBase(false);
    const QString captions[kTabs] = {QStringLiteral("资源①"), QStringLiteral("资源②"),
                                     QStringLiteral("资源③")};
    for (const QString &caption : captions)
        m_tabBar->addTab(caption);
    m_tabBar->setGeometry(0, 0, m_tabControl->width(), 28);
    auto *frame = new QFrame(m_tabControl);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setGeometry(0, 27, m_tabControl->width(), m_tabControl->height() - 27);
    for (int tab = 0; tab < kTabs; ++tab) {
        auto *page = new QWidget(m_tabControl);
        page->setObjectName(QStringLiteral("SSTab1Page%1").arg(tab));
        page->setGeometry(0, 0, m_tabControl->width(), m_tabControl->height());
        page->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        m_pagesWidgets[tab] = page;
        buildTab(tab, page);
        page->setVisible(tab == 0);
    }
    m_tabBar->raise();
    connect(m_tabBar, &QTabBar::currentChanged, this, [this](int tab) {
        for (int i = 0; i < kTabs; ++i)
            m_pagesWidgets[i]->setVisible(i == tab);
        m_tabBar->raise();
        m_currentTab = tab;
        setStatusText(m_tabBar->tabText(tab));
    });

    m_log = place(new QListWidget(client), "List1", twips(11280, 480, 3135, 7440));
    connect(m_log, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { m_log->setToolTip(item->text()); });
    connect(m_log, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem *item) { showInfo(item->text()); });

    // The selection bar lies above the tab control.
    m_selectionBar = place(new QFrame(client), "mee", twips(7680, 1080, 2655, 1575));
    static_cast<QFrame *>(m_selectionBar)->setFrameShape(QFrame::Panel);
    m_selectionBar->setAutoFillBackground(true);
    m_selectionLabel =
        label(m_selectionBar, "Label4", QStringLiteral("当前已选择：NONE个礼包"), twips(120, 150, 2415, 375));
    m_options[0] = place(new QRadioButton(QStringLiteral("全选"), m_selectionBar), "Option3",
                         twips(120, 840, 1095, 495), QStringLiteral("全选"));
    m_options[1] = place(new QRadioButton(QStringLiteral("取消"), m_selectionBar), "Option3",
                         twips(1320, 840, 1095, 495), QStringLiteral("取消"));
    for (int i = 0; i < 2; ++i)
        m_options[i]->setProperty("index", i);
    connect(m_options[0], &QRadioButton::clicked, this, &MainWindow::checkAll);
    connect(m_options[1], &QRadioButton::clicked, this, &MainWindow::uncheckAll);
    m_selectionBar->hide();
    m_selectionBar->raise();

    auto *statusBar = place(new QFrame(client), "S1", twips(0, 8235, 14670, 615));
    const int widths[4] = {1440, 10275, 1440, 1440};
    const QString starts[4] = {QStringLiteral("运行提示："), QStringLiteral("检测更新中.."), QString(),
                               QStringLiteral("Time")};
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        const QRect geometry(qRound(left / 15.0), 2, qRound(widths[i] / 15.0), statusBar->height() - 4);
        m_panels[i] = new QLabel(starts[i], statusBar);
        m_panels[i]->setObjectName(QStringLiteral("S1Panel%1").arg(i + 1));
        m_panels[i]->setGeometry(geometry);
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        left += widths[i];
    }

    m_clock = new QTimer(this);
    m_clock->setObjectName(QStringLiteral("Timer1"));
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &MainWindow::tick);
    m_clock->start();
}

void MainWindow::buildTab(int tab, QWidget *page) {
    const TabNames &n = kTabNames[tab];

    if (n.hiddenStart) // under the gift list, out of the user's reach
        button(page, n.hiddenStart, QStringLiteral("开始获取"), twips(4560, 4200, 2175, 855));
    if (tab == 0)
        label(page, "Label2", kNotice, twips(4560, 1200, 2175, 855));

    auto *model = new GiftListModel(this);
    model->setObjectName(QStringLiteral("GiftList%1").arg(tab));
    m_models[tab] = model;
    auto *list = place(new QTreeView(page), "ListView1", twips(120, 480, 10455, 4815));
    list->setProperty("index", tab);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont font;
    font.setFamilies(
        {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(9.75);
    list->setFont(font);
    list->header()->setStretchLastSection(false);
    list->header()->setMinimumSectionSize(0);
    for (int column = 0; column < GiftListModel::ColumnCount; ++column) {
        const int width = GiftListModel::kColumns[column].widthPx;
        list->setColumnWidth(column, width);
        if (width == 0)
            list->setColumnHidden(column, true);
    }
    list->installEventFilter(this);
    connect(model, &GiftListModel::rowAppended, list,
            [list, model](int row) { list->scrollTo(model->index(row, 0)); });
    m_lists[tab] = list;

    auto *panel = place(new QFrame(page), "SearchPanel", twips(120, 5400, 3855, 2055));
    static_cast<QFrame *>(panel)->setFrameShape(QFrame::StyledPanel);
    label(panel, n.prompt, QStringLiteral("请输入您要搜索的资源："), twips(120, 180, 3135, 315));
    place(new QLineEdit(panel), n.keyword, twips(120, 600, 3495, 420),
          QStringLiteral("请输入您要搜索的资源："));
    button(panel, n.search, QStringLiteral("开始搜索"), twips(120, 1320, 3495, 495));
    auto *notice = place(new ClickLabel(QStringLiteral("?"), panel), n.notice, twips(3360, 90, 240, 210),
                         QStringLiteral("?"));
    notice->setToolTip(QStringLiteral("软件说明"));
    notice->setCursor(Qt::PointingHandCursor);
    notice->onClick = [this] { showInfo(kNotice); };

    button(page, n.next, QStringLiteral("直接获取"), twips(4080, 5400, 1095, 975));
    button(page, n.previous, QStringLiteral("上一页"), twips(5280, 5400, 1095, 975));
    button(page, n.exportButton, QStringLiteral("导出礼包"), twips(4080, 6480, 2295, 975));
    label(page, n.pageLabel, QStringLiteral("获取第1页："), twips(6600, 5520, 1695, 255));
    button(page, n.chosen, QStringLiteral("获取"), twips(8400, 5400, 2175, 375));
    auto *slider = place(new QSlider(Qt::Horizontal, page), n.slider, twips(6360, 6000, 4335, 495),
                         QStringLiteral("获取第1页："));
    slider->setRange(1, 150);
    slider->setValue(1);
    m_sliders[tab] = slider;
    auto *progress = place(new QProgressBar(page), n.progress, twips(6600, 6720, 4095, 735));
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);
    m_progress[tab] = progress;

    wireTab(tab);
}

void MainWindow::buildMenus() {
    struct Item {
        const char *objectName;
        QString caption;
        std::function<void()> action;
    };
    const Item items[] = {
        {"dl115", QStringLiteral("登录115"),
         [this] {
             m_desktop.information(this, kShortTitle, QStringLiteral("请使用移动端app进行扫描登录"));
             openSignIn(false);
         }},
        {"sj", QStringLiteral("软件说明"),
         [this] {
             showInfo(QStringLiteral("本程序仅做采集整理服务，内容均为网友提供，\r\n\r\n"
                                     "如有任何问题与Corvane及开发者无关,请勿将程序用于非法用途"),
                      kShortTitle);
         }},
        {"kf", QStringLiteral("客服中心"), [this] { m_desktop.openUrl(QUrl(m_services.sites.support)); }},
        {"bbs", QStringLiteral("官方论坛"), [this] { m_desktop.openUrl(QUrl(m_services.sites.forum)); }},
        {"tuichu", QStringLiteral("退出程序"), [this] { Q_EMIT programEnd(); }},
    };
    for (const Item &item : items) {
        QAction *action = menuBar()->addAction(item.caption);
        action->setObjectName(name(item.objectName));
        connect(action, &QAction::triggered, this, item.action);
    }

    m_menu = new QMenu(QStringLiteral("程序菜单"), this);
    m_menu->setObjectName(QStringLiteral("menu"));
    const Item popup[] = {
        {"jieshou", QStringLiteral("接收礼包"), [this] { receiveSelected(); }},
        {"fz", QStringLiteral("复制礼包"), [this] { copySelected(); }},
        {"dk", QStringLiteral("打开礼包"), [this] { openSelected(); }},
        {"pljs", QStringLiteral("批量接收"), [this] { receiveChecked(); }},
    };
    for (const Item &item : popup) {
        if (!m_menu->isEmpty())
            m_menu->addSeparator();
        QAction *action = m_menu->addAction(item.caption);
        action->setObjectName(name(item.objectName));
        connect(action, &QAction::triggered, this, item.action);
    }

    // The client area keeps its fixed size below the menu bar.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void MainWindow::wireTab(int tab) {
    const TabNames &n = kTabNames[tab];
    const auto clicked = [this](const char *objectName, auto handler) {
        connect(static_cast<QPushButton *>(control(name(objectName))), &QPushButton::clicked, this, handler);
    };
    clicked(n.chosen, [this, tab] { fetchChosenPage(tab); });
    clicked(n.next, [this, tab] { fetchNextPage(tab); });
    if (tab == 2)
        clicked(n.previous, [this] { openSignIn(true); });
    else
        clicked(n.previous, [this, tab] { fetchPreviousPage(tab); });
    clicked(n.exportButton, [this] { exportCurrentList(); });
    if (tab == 1)
        clicked(n.search, [this] { searchShare(); });
    else
        clicked(n.search, [this, tab] { searchListing(tab); });
    if (n.hiddenStart)
        clicked(n.hiddenStart, [this, tab] { harvestPage(tab); });

    if (tab != 2) { // the third tab's slider has no routine of its own
        auto *pageLabel = static_cast<QLabel *>(control(name(n.pageLabel)));
        connect(m_sliders[tab], &QSlider::valueChanged, this, [this, pageLabel](int value) {
            pageLabel->setText(u"获取第" + QString::number(value) + u"页：");
            setStatusText(u"准备获取第" + QString::number(value) + u"页");
        });
    }

    connect(m_models[tab], &GiftListModel::checkToggled, this, &MainWindow::updateCheckCount);
    connect(m_lists[tab], &QTreeView::customContextMenuRequested, this,
            [this, tab](const QPoint &pos) { showPopupMenu(m_lists[tab]->viewport()->mapToGlobal(pos)); });
    connect(m_lists[tab], &QTreeView::doubleClicked, this, [this] {
        if (!ListingIdle()) {
            showInfo(QStringLiteral("请先等待礼包码获取完毕"));
            return;
        }
        receiveSelected();
    });
}

QCoro::Task<> MainWindow::start() {
    QPointer<MainWindow> self(this);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();

    const UpdateVerdict verdict = co_await checkForUpdate(m_web, m_services.sites.update);
    if (!self)
        co_return;
    switch (verdict.kind) {
    case UpdateVerdict::NoAnswer:
        m_desktop.message(this, Desktop::Icon::Warning, kTitle, QStringLiteral("检测更新失败!请您稍后再试"));
        Q_EMIT programEnd();
        co_return;
    case UpdateVerdict::Different:
        showInfo(u"发现最新版本![" + verdict.latest + u"]\r\n \r\n确定后自动打开更新地址!");
        m_desktop.openUrl(QUrl(updatePageAddress(m_services.sites.forum)));
        Q_EMIT programEnd();
        co_return;
    case UpdateVerdict::Current:
        m_tabControl->setEnabled(true);
        setStatusText(QStringLiteral("欢迎使用Corvane系列软件"));
        AppendLogLine(QStringLiteral("当前为最新版本.."));
        break;
    }

    m_startupDone = true;
    m_pages[0] = 1;
    m_currentTab = m_tabBar->currentIndex();
    Q_EMIT startupFinished();
}

SignInWindow *MainWindow::signInWindow() const {
    return m_signIn;
}

bool MainWindow::ListingIdle() const {
    if (!m_startupDone)
        return false;
    return std::none_of(m_runs.begin(), m_runs.end(), [](const QPointer<HarvestRun> &run) {
        return run && run->isListingSite() && run->isResolving();
    });
}

QString MainWindow::statusText(int panel) const {
    return m_panels.at(panel - 1)->text();
}

void MainWindow::AppendLogLine(const QString &message) {
    m_log->addItem(u"[" + m_services.clock().toString(QStringLiteral("H:m:s")) + u"]" + message);
    m_log->setCurrentRow(m_log->count() - 1);
    m_log->scrollToBottom();
}

void MainWindow::setStatusText(const QString &text) {
    m_panels[1]->setText(text);
}

void MainWindow::tick() {
    m_panels[3]->setText(m_services.clock().toString(QStringLiteral("H:m:s")));
}

void MainWindow::showInfo(const QString &text, const QString &title) {
    m_desktop.information(this, title, text);
}

QWidget *MainWindow::control(const QString &objectName) const {
    if (objectName == u"SSTab1")
        return m_tabControl;
    return m_tabControl->findChild<QWidget *>(objectName);
}

void MainWindow::setControlsEnabled(const QStringList &names, bool enabled) {
    for (const QString &objectName : names) {
        if (QWidget *widget = control(objectName))
            widget->setEnabled(enabled);
    }
}

void MainWindow::closeEvent(QCloseEvent *event) {
    event->accept();
    Q_EMIT programEnd();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_F6 &&
        std::find(m_lists.begin(), m_lists.end(), watched) != m_lists.end()) {
        hideSelectedRow();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- Page controls and harvests -------------------------------------------------------------

void MainWindow::fetchChosenPage(int tab) {
    m_pages[tab] = m_sliders[tab]->value();
    harvestPage(tab);
}

void MainWindow::fetchNextPage(int tab) {
    static_cast<QPushButton *>(control(name(kTabNames[tab].next)))->setText(QStringLiteral("下一页"));
    m_pages[tab] = qMin(m_pages[tab] + 1, int(std::numeric_limits<qint16>::max()));
    startRun({tab == 1 ? RunKind::SharePage : RunKind::ListingPage, tab, m_pages[tab], {}}, true);
}

void MainWindow::fetchPreviousPage(int tab) {
    if (m_pages[tab] != 0) {
        --m_pages[tab];
        harvestPage(tab);
        return;
    }
    static_cast<QPushButton *>(control(name(kTabNames[tab].next)))->setText(QStringLiteral("直接获取"));
    showInfo(QStringLiteral("已经是第一页了"));
}

void MainWindow::harvestPage(int tab) {
    startRun({tab == 1 ? RunKind::SharePage : RunKind::ListingPage, tab, m_pages[tab], {}}, false);
}

bool MainWindow::keywordAccepted(const QString &keyword) {
    QString refusal;
    if (keyword.isEmpty())
        refusal = QStringLiteral("请输入要搜索的关键字");
    else if (keyword.size() < 2)
        refusal = QStringLiteral("请输入最少两个字符");
    if (refusal.isEmpty())
        return true;
    setStatusText(refusal);
    showInfo(refusal);
    return false;
}

void MainWindow::searchListing(int tab) {
    const QString keyword = static_cast<QLineEdit *>(control(name(kTabNames[tab].keyword)))->text();
    if (keywordAccepted(keyword))
        startRun({RunKind::ListingSearch, tab, m_pages[tab], keyword}, false);
}

void MainWindow::searchShare() {
    const QString keyword = static_cast<QLineEdit *>(control(name(kTabNames[1].keyword)))->text();
    if (keywordAccepted(keyword))
        startRun({RunKind::ShareSearch, 1, m_pages[1], keyword}, false);
}

void MainWindow::startRun(RunRequest request, bool lockTabControl) {
    const int tab = request.tab;
    if (HarvestRun *old = m_runs[tab]) {
        // The new run replaces the old one, which gives back what it had locked.
        old->disconnect(this);
        old->cancel();
        setControlsEnabled(runLocks(old->request().kind, tab).enabledAtAnyEnd, true);
        m_runs[tab] = nullptr;
    }
    if (lockTabControl)
        m_tabControl->setEnabled(false);
    setControlsEnabled(runLocks(request.kind, tab).disabledAtStart, false);

    auto *run = new HarvestRun(m_web, m_services.sites, *m_models[tab], request, this);
    run->setParallelism(m_services.parallelism);
    QProgressBar *progress = m_progress[tab];
    connect(run, &HarvestRun::statusText, this, &MainWindow::setStatusText);
    connect(run, &HarvestRun::progressRange, progress, [progress](int minimum, int maximum) {
        // A range the bar cannot show (one row gives 1 to 1) is left as it was.
        if (minimum < maximum || (minimum == 0 && maximum == 0))
            progress->setRange(minimum, maximum == 0 ? 1 : maximum);
    });
    connect(run, &HarvestRun::progressValue, progress, &QProgressBar::setValue);
    connect(run, &HarvestRun::nothingFound, this,
            [this] { showInfo(QStringLiteral("抱歉!未找到相关资源!"), kShortTitle); });
    connect(run, &HarvestRun::finished, this, [this, run](bool complete) { runEnded(run, complete); });
    m_runs[tab] = run;
    run->start();
}

void MainWindow::runEnded(HarvestRun *run, bool complete) {
    const int tab = run->request().tab;
    const RunLocks locks = runLocks(run->request().kind, tab);
    setControlsEnabled(locks.enabledAtAnyEnd, true);
    if (complete)
        setControlsEnabled(locks.enabledAtCompleteEnd, true);
    if (m_runs[tab] == run)
        m_runs[tab] = nullptr;
}

// --- Selection and row commands -------------------------------------------------------------

GiftEntry MainWindow::selectedEntry() const {
    const int row = selectedRow();
    return row < 0 ? GiftEntry{} : m_models[m_currentTab]->entry(row);
}

int MainWindow::selectedRow() const {
    const QModelIndexList rows = m_lists[m_currentTab]->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::updateCheckCount() {
    const int count = m_models[m_currentTab]->CheckedCount();
    if (count != 0) {
        m_selectionBar->show();
        const QString text = u"当前已选择：" + QString::number(count) + u"个礼包";
        m_selectionLabel->setText(text);
        setStatusText(text);
    } else {
        m_selectionBar->hide();
        setStatusText(QStringLiteral("已取消全部礼包"));
    }
}

void MainWindow::checkAll() {
    GiftListModel *list = m_models[m_currentTab];
    const QString text = u"当前已选择：" + QString::number(list->rowCount()) + u"个礼包";
    for (int row = list->rowCount() - 1; row >= 0; --row) {
        list->setChecked(row, true);
        m_selectionLabel->setText(text);
        setStatusText(text);
    }
}

void MainWindow::uncheckAll() {
    GiftListModel *list = m_models[m_currentTab];
    for (int row = list->rowCount() - 1; row >= 0; --row)
        list->setChecked(row, false);
    m_options[1]->setAutoExclusive(false);
    m_options[1]->setChecked(false);
    m_options[1]->setAutoExclusive(true);
    m_selectionBar->hide();
}

void MainWindow::hideSelectedRow() {
    if (selectedEntry().code.isEmpty()) {
        showInfo(QStringLiteral("请获取礼包后再进行隐藏"));
        return;
    }
    GiftListModel *list = m_models[m_currentTab];
    list->removeRowAt(selectedRow());
    list->RenumberRows();
    setStatusText(QStringLiteral("礼包已隐藏"));
}

void MainWindow::showPopupMenu(const QPoint &globalPos) {
    if (ListingIdle())
        m_menu->popup(globalPos);
}

void MainWindow::copySelected() {
    const QString code = selectedEntry().code;
    if (code.isEmpty()) {
        showInfo(QStringLiteral("请先获取礼包"));
        return;
    }
    m_desktop.setClipboardText(code);
    setStatusText(QStringLiteral("礼包码已复制.."));
}

void MainWindow::openSelected() {
    const GiftEntry entry = selectedEntry();
    if (entry.code.isEmpty()) {
        showInfo(QStringLiteral("请先获取礼包"));
        return;
    }
    if (entry.mark.contains(clouddisk::kVoidMark)) {
        showInfo(QStringLiteral("该礼包码已失效或已被查封!"));
        return;
    }
    m_desktop.openUrl(
        QUrl(clouddisk::giftPageAddress(m_services.sites.cloudDisk, entry.code), QUrl::TolerantMode));
}

void MainWindow::exportCurrentList() {
    const GiftListModel &list = *m_models[m_currentTab];
    if (list.rowCount() == 0) {
        showInfo(QStringLiteral("没有可导出的礼包码"), kShortTitle);
        return;
    }
    const QString path = m_desktop.saveFileName(this, QStringLiteral("请选择要导出的路径"),
                                                QStringLiteral("文本文件 (*.txt)"));
    if (path.isEmpty())
        return;
    const QString failure = giftexport::appendToFile(path, giftexport::exportBlock(list));
    if (!failure.isEmpty()) {
        m_desktop.message(this, Desktop::Icon::Warning, kShortTitle, u"导出失败：" + failure);
        return;
    }
    showInfo(QStringLiteral("成功导出礼包数据"));
}

// --- Receiving ------------------------------------------------------------------------------

void MainWindow::openSignIn(bool modal) {
    if (!m_signIn) {
        m_signIn = createSignInWindow(m_web, m_services.sites.cloudDisk);
        if (!m_signIn)
            return;
        connect(m_signIn, &SignInWindow::signedIn, this, [this] {
            setStatusText(QStringLiteral("您已成功登录115网盘，现在可以直接进行礼包接收了。"));
        });
    }
    m_signIn->open(modal);
}

void MainWindow::receiveSelected() {
    receiveSelectedTask();
}

void MainWindow::receiveChecked() {
    receiveCheckedTask();
}

QCoro::Task<> MainWindow::receiveSelectedTask() {
    using namespace receivetexts;
    const GiftEntry entry = selectedEntry();
    if (entry.code.isEmpty()) {
        showInfo(QStringLiteral("请获取礼包后再进行接收"));
        co_return;
    }
    if (entry.mark.contains(clouddisk::kVoidMark)) {
        showInfo(kFailed.toString());
        co_return;
    }

    // The window takes no other command until the reply is in.
    QPointer<MainWindow> self(this);
    QPointer<QProgressDialog> waiting =
        new QProgressDialog(QStringLiteral("正在接收礼包.."), QString(), 0, 0, this);
    waiting->setWindowModality(Qt::WindowModal);
    waiting->setMinimumDuration(0);
    waiting->setCancelButton(nullptr);
    waiting->show();
    m_receiving = true;
    const QString reply = co_await PostGiftCode(m_web, m_services.sites.cloudDisk, entry.code);
    if (!self)
        co_return;
    m_receiving = false;
    delete waiting.data();

    switch (ClassifyReceiveReply(reply, clouddisk::kReceivedMarker)) {
    case ReceiveOutcome::NotSignedIn:
        showInfo(kNotSignedIn.toString());
        break;
    case ReceiveOutcome::Received:
        setStatusText(kReceivedStatus.toString());
        showInfo(kReceivedMessage.toString());
        break;
    case ReceiveOutcome::MembersOnly:
        setStatusText(kMembersOnly.toString());
        showInfo(kMembersOnly.toString());
        break;
    case ReceiveOutcome::UnderReview:
        showInfo(kUnderReview.toString());
        break;
    case ReceiveOutcome::Failed:
        showInfo(kFailed.toString());
        break;
    }
}

QCoro::Task<> MainWindow::receiveCheckedTask() {
    using namespace receivetexts;
    GiftListModel *list = m_models[m_currentTab];
    if (list->rowCount() == 0) {
        showInfo(QStringLiteral("请先获取礼包"));
        co_return;
    }

    QPointer<MainWindow> self(this);
    QPointer<GiftListModel> guardedList(list);
    const int total = list->rowCount();
    // "停止" ends the batch after the row in flight.
    QPointer<QProgressDialog> progress =
        new QProgressDialog(QStringLiteral("正在批量接收礼包.."), QStringLiteral("停止"), 0, total, this);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    progress->show();
    m_receiving = true;
    for (int row = 0; row < total; ++row) {
        if (!progress || progress->wasCanceled() || !guardedList || row >= list->rowCount())
            break;
        progress->setValue(row);
        const GiftEntry entry = list->entry(row);
        if (!entry.checked)
            continue;
        const QString reply = co_await PostGiftCode(m_web, m_services.sites.cloudDisk, entry.code);
        if (!self)
            co_return;
        const QString name = u"[" + entry.title + u"]";
        const ReceiveOutcome outcome = ClassifyReceiveReply(reply, clouddisk::kBatchReceivedMarker);
        if (outcome == ReceiveOutcome::NotSignedIn) {
            setStatusText(kNotSignedIn.toString());
            AppendLogLine(QStringLiteral("请先登录115.."));
            break;
        }
        if (outcome == ReceiveOutcome::MembersOnly) {
            setStatusText(kMembersOnly.toString());
            AppendLogLine(QStringLiteral("此功能仅限115VIP用户"));
            showInfo(kMembersOnly.toString());
            break;
        }
        if (outcome == ReceiveOutcome::Received) {
            setStatusText(name + kReceivedStatus);
            AppendLogLine(u"[成功]" + name);
        } else if (outcome == ReceiveOutcome::UnderReview) {
            setStatusText(name + kUnderReview);
            AppendLogLine(u"[需审核]" + name);
        } else {
            // A long reply shows its beginning; the whole of it is in the box's details.
            const bool longReply = reply.size() > kBatchBoxLimit;
            m_desktop.message(this, Desktop::Icon::None, QStringLiteral("Giftvane"),
                              longReply ? reply.left(kBatchBoxLimit) : reply, longReply ? reply : QString());
            if (!self)
                co_return;
            setStatusText(name + kFailed);
            AppendLogLine(u"[失败]" + name);
        }
    }
    m_receiving = false;
    delete progress.data();
}
