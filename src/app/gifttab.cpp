#include "app/gifttab.h"

#include "app/controls.h"
#include "desktop/accessibility.h"
#include "desktop/desktop.h"
#include "giftlist/giftexport.h"
#include "giftlist/giftlistmodel.h"
#include "web/clouddisk.h"

#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

using controls::place;
using controls::twips;

namespace {

const QString kNotice =
    QStringLiteral("本程序只用于信息的采集与整理，获取到的资源均来自网络，内容与Corvane及开发者无关");

// Object names of one tab's controls; every tab has the same layout.
struct TabNames {
    const char *next, *previous, *fetch, *slider, *pageLabel, *exportButton, *progress, *keyword, *search,
        *prompt, *help, *hiddenStart;
};
constexpr TabNames kNames[kTabCount] = {
    {"Command2", "Command3", "Command8", "Slider1", "Label3", "Command4", "ProgressBar1", "Text1", "Command7",
     "Label1", "Label6", "Command1"},
    {"Command9", "Command16", "Command11", "Slider2", "Label11", "Command15", "ProgressBar2", "Text2",
     "Command12", "Label9", "Label8", "Command17"},
    {"Command20", "Command5", "Command18", "Slider3", "Label16", "Command13", "ProgressBar3", "Text3",
     "Command14", "Label13", "Label14", nullptr},
};

QPushButton *button(QWidget *parent, const char *objectName, const QString &caption, const QRect &geometry) {
    return place(new QPushButton(caption, parent), objectName, geometry);
}

} // namespace

GiftTab::GiftTab(TabId id, TabContext context, QWidget *parent)
    : QWidget(parent)
    , m_id(id)
    , m_context(std::move(context))
    , m_model(new GiftListModel(this))
    , m_harvests(new HarvestController(m_context.harvests, *m_model, this))
    , m_page(id == TabId::Libao ? 1 : 0) { // LibaoPage, SharePage, TiqumaPage
    setObjectName(QStringLiteral("SSTab1Page%1").arg(int(id)));
    m_model->setObjectName(QStringLiteral("GiftList%1").arg(int(id)));
    const TabNames &n = kNames[int(id)];
    if (n.hiddenStart) { // under the gift list, out of the user's reach
        m_hiddenStart = button(this, n.hiddenStart, QStringLiteral("开始获取"), twips(4560, 4200, 2175, 855));
        m_hiddenStart->setFocusPolicy(Qt::NoFocus); // Tab must not land on what nobody sees
        leaveOutOfTree(m_hiddenStart);              // nor a screen reader
        connect(m_hiddenStart, &QPushButton::clicked, this, [this] { startPageRun(false); });
    }
    if (id == TabId::Libao)
        m_notice = place(new QLabel(kNotice, this), "Label2", twips(4560, 1200, 2175, 855));
    buildList();
    buildSearchPanel();
    buildPageControls();

    connect(m_harvests, &HarvestController::statusText, this, &GiftTab::statusText);
    connect(m_harvests, &HarvestController::logLine, this, &GiftTab::logLine);
    connect(m_harvests, &HarvestController::progressRange, m_progress, [this](int minimum, int maximum) {
        // A range the bar cannot show (one row gives 1 to 1) is left as it was.
        if (minimum < maximum)
            m_progress->setRange(minimum, maximum);
    });
    connect(m_harvests, &HarvestController::progressValue, m_progress, &QProgressBar::setValue);
    connect(m_harvests, &HarvestController::ended, this, &GiftTab::runEnded);
}

GiftTab::~GiftTab() {
    // The run writes into this tab's list: it must end before the list goes.
    m_harvests->stop();
}

void GiftTab::buildList() {
    m_list = place(new QTreeView(this), "ListView1", twips(120, 480, 10455, 4815));
    m_list->setProperty("index", int(m_id));
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    // Several rows may be selected for Ctrl+C; commands on one gift take the current row.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont font;
    font.setFamilies(
        {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(9.75);
    m_list->setFont(font);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setMinimumSectionSize(0);
    for (int column = 0; column < GiftListModel::ColumnCount; ++column) {
        const int width = GiftListModel::kColumns[column].widthPx;
        m_list->setColumnWidth(column, width);
        m_list->setColumnHidden(column, width == 0);
    }
    m_list->installEventFilter(this);
    // The newest row is scrolled into view, but not once per row when rows come faster than
    // the eye follows: a long page would spend its time scrolling.
    m_scroll = new QTimer(this);
    m_scroll->setSingleShot(true);
    m_scroll->setInterval(40);
    connect(m_scroll, &QTimer::timeout, m_list, [this] {
        if (const int rows = m_model->rowCount())
            m_list->scrollTo(m_model->index(rows - 1, 0));
    });
    connect(m_model, &GiftListModel::rowAppended, m_scroll, [this] {
        if (!m_scroll->isActive())
            m_scroll->start();
    });
    connect(m_model, &GiftListModel::checkToggled, this, &GiftTab::checkToggled);
    connect(m_list, &QTreeView::customContextMenuRequested, this,
            [this](const QPoint &pos) { Q_EMIT menuRequested(m_list->viewport()->mapToGlobal(pos)); });
    // A double-click anywhere in the list asks to receive: on a row, that row; on blank space
    // or an empty list, no row (which the receive refuses with its message).
    m_list->viewport()->installEventFilter(this);
}

void GiftTab::buildSearchPanel() {
    const TabNames &n = kNames[int(m_id)];
    auto *panel = place(new QFrame(this), "SearchPanel", twips(120, 5400, 3855, 2055));
    panel->setFrameShape(QFrame::StyledPanel);
    m_prompt = place(new QLabel(QStringLiteral("请输入您要搜索的资源："), panel), n.prompt,
                     twips(120, 180, 3135, 315));
    m_keyword = place(new QLineEdit(panel), n.keyword, twips(120, 600, 3495, 420));
    m_prompt->setBuddy(m_keyword);
    m_search = button(panel, n.search, QStringLiteral("开始搜索"), twips(120, 1320, 3495, 495));
    m_help = place(new controls::ClickLabel(QStringLiteral("?"), panel), n.help, twips(3360, 90, 240, 210));
    m_help->setToolTip(QStringLiteral("软件说明"));
    m_help->setCursor(Qt::PointingHandCursor);
    m_help->onClick = [this] { info(kNotice); };
    connect(m_search, &QPushButton::clicked, this, &GiftTab::search);
    // Enter searches as the button does, and not while the button is locked.
    connect(m_keyword, &QLineEdit::returnPressed, m_search, &QPushButton::click);
}

void GiftTab::buildPageControls() {
    const TabNames &n = kNames[int(m_id)];
    m_next = button(this, n.next, QStringLiteral("直接获取"), twips(4080, 5400, 1095, 975));
    m_previous = button(this, n.previous, QStringLiteral("上一页"), twips(5280, 5400, 1095, 975));
    m_export = button(this, n.exportButton, QStringLiteral("导出礼包"), twips(4080, 6480, 2295, 975));
    m_pageLabel =
        place(new QLabel(QStringLiteral("获取第1页："), this), n.pageLabel, twips(6600, 5520, 1695, 255));
    m_fetch = button(this, n.fetch, QStringLiteral("获取"), twips(8400, 5400, 2175, 375));
    m_slider = place(new QSlider(Qt::Horizontal, this), n.slider, twips(6360, 6000, 4335, 495));
    m_slider->setRange(1, 150);
    m_slider->setValue(1);
    m_pageLabel->setBuddy(m_slider);
    m_progress = place(new QProgressBar(this), n.progress, twips(6600, 6720, 4095, 735));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("获取进度")); // no label on screen: named by what it shows

    connect(m_fetch, &QPushButton::clicked, this, &GiftTab::fetchChosenPage);
    connect(m_next, &QPushButton::clicked, this, &GiftTab::fetchNextPage);
    if (m_id == TabId::Tiquma) // kept as the window has it: the third tab's "上一页" signs in
        connect(m_previous, &QPushButton::clicked, this, &GiftTab::signInRequested);
    else
        connect(m_previous, &QPushButton::clicked, this, &GiftTab::fetchPreviousPage);
    connect(m_export, &QPushButton::clicked, this, &GiftTab::exportList);
    if (m_id != TabId::Tiquma) { // the third tab's slider has no routine of its own
        connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
            m_pageLabel->setText(u"获取第" + QString::number(value) + u"页：");
            Q_EMIT statusText(u"准备获取第" + QString::number(value) + u"页");
        });
    }
}

void GiftTab::info(const QString &text, const QString &title) {
    m_context.desktop.information(window(), title, text);
}

bool GiftTab::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F6) {
            hideSelectedRow();
            return true;
        }
        // The view's own copy would take the current cell's text, whatever the column.
        if (key->matches(QKeySequence::Copy)) {
            copySelectedRows();
            return true;
        }
    }
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto *click = static_cast<QMouseEvent *>(event);
        if (click->button() == Qt::LeftButton) {
            const QModelIndex at = m_list->indexAt(click->position().toPoint());
            if (at.isValid())
                m_list->setCurrentIndex(at);
            Q_EMIT receiveRequested(at.isValid());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- Page controls and harvests -------------------------------------------------------------

void GiftTab::startPageRun(bool lockTabControl) {
    startRun({&harvestKind(m_id, false), m_page, {}}, lockTabControl);
}

void GiftTab::changePage(int page) {
    m_page = page;
    Q_EMIT pageChanged(page);
}

void GiftTab::fetchChosenPage() {
    changePage(m_slider->value());
    startPageRun(false);
}

void GiftTab::fetchNextPage() {
    m_next->setText(QStringLiteral("下一页"));
    changePage(qMin(m_page + 1, int(std::numeric_limits<qint16>::max())));
    startPageRun(true);
}

void GiftTab::fetchPreviousPage() {
    if (m_page != 0) {
        changePage(m_page - 1);
        startPageRun(false);
        return;
    }
    m_next->setText(QStringLiteral("直接获取"));
    info(QStringLiteral("已经是第一页了"));
}

bool GiftTab::keywordAccepted(const QString &keyword) {
    QString refusal;
    if (keyword.isEmpty())
        refusal = QStringLiteral("请输入要搜索的关键字");
    else if (keyword.size() < 2)
        refusal = QStringLiteral("请输入最少两个字符");
    if (refusal.isEmpty())
        return true;
    Q_EMIT statusText(refusal);
    info(refusal);
    return false;
}

void GiftTab::search() {
    const QString keyword = m_keyword->text();
    if (!keywordAccepted(keyword))
        return;
    startRun({&harvestKind(m_id, true), m_page, keyword}, false);
}

void GiftTab::startRun(const RunRequest &request, bool lockTabControl) {
    // A new run replaces the one going on, which gives back what it had locked.
    if (const std::optional<RunRequest> old = m_harvests->current())
        setControlsEnabled(runLocks(*old->kind).enabledAtAnyEnd, true);
    if (lockTabControl)
        m_context.tabControl->setEnabled(false);
    setControlsEnabled(runLocks(*request.kind).disabledAtStart, false);
    m_harvests->start(request);
}

void GiftTab::runEnded(const RunRequest &request, HarvestRun::End end) {
    if (end == HarvestRun::End::NothingFound)
        info(QStringLiteral("抱歉!未找到相关资源!"), QStringLiteral("Corvane软件"));
    const RunLocks locks = runLocks(*request.kind);
    setControlsEnabled(locks.enabledAtAnyEnd, true);
    if (end == HarvestRun::End::Complete)
        setControlsEnabled(locks.enabledAtCompleteEnd, true);
}

void GiftTab::setControlsEnabled(TabControls which, bool enabled) {
    const std::pair<TabControl, QWidget *> widgets[] = {{TabControl::TabBar, m_context.tabControl},
                                                        {TabControl::NextPage, m_next},
                                                        {TabControl::PreviousPage, m_previous},
                                                        {TabControl::Export, m_export},
                                                        {TabControl::Search, m_search}};
    for (const auto &[control, widget] : widgets) {
        if (which.testFlag(control))
            widget->setEnabled(enabled);
    }
}

// --- Row commands ---------------------------------------------------------------------------

int GiftTab::selectedRow() const {
    const QItemSelectionModel *selection = m_list->selectionModel();
    const QModelIndex current = m_list->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row()))
        return current.row();
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : std::min_element(rows.begin(), rows.end())->row();
}

GiftEntry GiftTab::selectedEntry() const {
    const int row = selectedRow();
    return row < 0 ? GiftEntry{} : m_model->entry(row);
}

void GiftTab::hideSelectedRow() {
    if (selectedEntry().code.isEmpty()) {
        info(QStringLiteral("请获取礼包后再进行隐藏"));
        return;
    }
    m_harvests->forget(selectedEntry().id);
    m_model->removeRowAt(selectedRow());
    m_model->RenumberRows();
    Q_EMIT statusText(QStringLiteral("礼包已隐藏"));
}

void GiftTab::copySelected() {
    const QString code = selectedEntry().code;
    if (code.isEmpty()) {
        info(QStringLiteral("请先获取礼包"));
        return;
    }
    m_context.desktop.setClipboardText(code);
    Q_EMIT statusText(QStringLiteral("礼包码已复制.."));
}

void GiftTab::copySelectedRows() {
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList codes;
    for (const QModelIndex &row : rows) {
        if (const QString code = m_model->entry(row.row()).code; !code.isEmpty())
            codes.append(code);
    }
    if (codes.isEmpty()) {
        info(QStringLiteral("请先获取礼包"));
        return;
    }
    m_context.desktop.setClipboardText(codes.join(u'\n'));
    Q_EMIT statusText(QStringLiteral("礼包码已复制.."));
}

void GiftTab::openSelected() {
    const GiftEntry entry = selectedEntry();
    if (entry.code.isEmpty()) {
        info(QStringLiteral("请先获取礼包"));
        return;
    }
    if (entry.mark.contains(clouddisk::kVoidMark)) {
        info(QStringLiteral("该礼包码已失效或已被查封!"));
        return;
    }
    const QUrl page(clouddisk::giftPageAddress(m_context.harvests.sites.cloudDisk, entry.code),
                    QUrl::TolerantMode);
    if (!m_context.desktop.tryOpenUrl(page)) {
        m_context.desktop.message(window(), Desktop::Icon::Warning, QStringLiteral("Corvane软件"),
                                  QStringLiteral("无法打开礼包页面"));
    }
}

void GiftTab::exportList() {
    giftexport::exportList(m_context.desktop, window(), *m_model);
}
