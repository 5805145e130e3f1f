#include "app/ledgerwindow.h"

#include "desktop/accessibility.h"
#include "desktop/desktop.h"
#include "desktop/usersettings.h"
#include "ledger/ledgercsv.h"
#include "web/clouddisk.h"

#include <QAction>
#include <QFileInfo>
#include <QShortcut>

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Replaces the file; on failure returns the system's reason, else empty.
QString writeFile(const QString &path, const QByteArray &content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return {};
}

// What a column usually holds at its widest; the title column takes the room that is left.
QString widestText(int column) {
    switch (LedgerModel::Column(column)) {
    case LedgerModel::CodeColumn:
        return QStringLiteral("abcdefghijklmnop");
    case LedgerModel::SizeColumn:
        return QStringLiteral("1023.9 MB");
    case LedgerModel::TabColumn:
        return QStringLiteral("资源③");
    case LedgerModel::SourceColumn:
        return QStringLiteral("关键字关键字");
    case LedgerModel::MarkColumn:
        return QStringLiteral("√");
    case LedgerModel::FirstSeenColumn:
    case LedgerModel::LastSeenColumn:
    case LedgerModel::LastTriedColumn:
        return QStringLiteral("2000-12-31 23:59:59");
    case LedgerModel::OutcomeColumn:
        return QStringLiteral("成功接收");
    case LedgerModel::TitleColumn:
    case LedgerModel::ColumnCount:
        break;
    }
    return {};
}

constexpr int kTitleWidth = 200;

} // namespace

LedgerWindow::LedgerWindow(Ledger &ledger, Desktop &desktop, const QString &cloudDiskBase, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ledger(ledger)
    , m_desktop(desktop)
    , m_cloudDisk(cloudDiskBase)
    , m_model(ledger)
    , m_search(new QLineEdit(this))
    , m_view(new QTableView(this))
    , m_counts(new QLabel(this))
    , m_codesBar(new QWidget(this))
    , m_codesNote(new QLabel(m_codesBar))
    , m_off(new QLabel(this))
    , m_export(new QPushButton(QStringLiteral("导出CSV"), this))
    , m_copy(new QAction(QStringLiteral("复制礼包码"), this))
    , m_open(new QAction(QStringLiteral("打开礼包"), this))
    , m_receive(new QAction(QStringLiteral("接收"), this)) {
    presentAsWindow("LedgerWindow");
    setWindowTitle(QStringLiteral("接收记录"));

    auto *searchLabel = new QLabel(QStringLiteral("搜索："), this);
    searchLabel->setObjectName(QStringLiteral("searchLabel"));
    searchLabel->setTextFormat(Qt::PlainText);
    searchLabel->setBuddy(m_search);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setClearButtonEnabled(true);
    m_view->setObjectName(QStringLiteral("codes"));
    m_view->setAccessibleName(QStringLiteral("接收记录"));
    // Tab leaves the table for the search box and the buttons; Ctrl+Tab too (below).
    m_view->setTabKeyNavigation(false);
    m_view->installEventFilter(this);
    m_counts->setObjectName(QStringLiteral("counts"));
    m_counts->setTextFormat(Qt::PlainText);
    m_export->setObjectName(QStringLiteral("export"));
    m_off->setObjectName(QStringLiteral("off"));
    m_off->setTextFormat(Qt::PlainText);
    m_off->setWordWrap(true);
    m_off->setAlignment(Qt::AlignCenter);
    m_off->setTextInteractionFlags(Qt::TextSelectableByMouse); // the file's path, to be copied
    m_off->hide();

    setUpTable();

    setUpCodesBar();

    auto *top = new QHBoxLayout;
    top->addWidget(searchLabel);
    top->addWidget(m_search, 1);
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_counts, 1);
    // Tab goes from the table along the buttons as they stand.
    QWidget *before = m_view;
    for (QWidget *button :
         {addButton(m_copy, QStringLiteral("copy")), addButton(m_open, QStringLiteral("open")),
          addButton(m_receive, QStringLiteral("receive")), m_export}) {
        bottom->addWidget(button);
        setTabOrder(before, button);
        before = button;
    }
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_codesBar);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_off, 1);
    layout->addLayout(bottom);
    // Every column in view: the fixed ones, the title's share, the scroll bar and the margins.
    int columns = kTitleWidth + m_view->verticalScrollBar()->sizeHint().width() + 2 * m_view->frameWidth();
    for (int column = 0; column < LedgerModel::ColumnCount; ++column)
        columns += column == LedgerModel::TitleColumn ? 0 : m_view->columnWidth(column);
    const QMargins margins = layout->contentsMargins();
    resize(qMax(900, columns + margins.left() + margins.right()), 520);

    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(kSearchDelayMs);
    connect(m_search, &QLineEdit::textChanged, &m_searchDelay, qOverload<>(&QTimer::start));
    connect(&m_searchDelay, &QTimer::timeout, this, &LedgerWindow::search);
    connect(m_export, &QPushButton::clicked, this, &LedgerWindow::exportCsv);
    // After the model has followed a record: the counts of what it shows, read once per burst.
    connect(&m_model, &LedgerModel::updated, this, &LedgerWindow::showCounts);
    connect(&m_ledger, &Ledger::turnedOff, this, &LedgerWindow::showCounts);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LedgerWindow::enableActions);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &LedgerWindow::enableActions);
    showCounts();
    enableActions();
}

// The table over the model, with the row commands as its actions.
void LedgerWindow::setUpTable() {
    m_view->setModel(&m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    // The order the model opened in; enabling sorting asks for it again, which costs nothing.
    m_view->horizontalHeader()->setSortIndicator(int(m_model.view().sortBy), m_model.view().order);
    m_view->setSortingEnabled(true);
    fitColumns();
    // Ctrl+C while the table has the focus: the search box keeps its own.
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetShortcut);
    connect(m_copy, &QAction::triggered, this, &LedgerWindow::copyCodes);
    connect(m_open, &QAction::triggered, this, &LedgerWindow::openGiftPage);
    connect(m_receive, &QAction::triggered, this, [this] { Q_EMIT receiveRequested(selectedCodes()); });
    m_view->addActions({m_copy, m_open, m_receive});
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
}

// Shown while only some codes are: what they are, and the way back to all of them.
void LedgerWindow::setUpCodesBar() {
    m_codesNote->setObjectName(QStringLiteral("codesNote"));
    m_codesNote->setTextFormat(Qt::PlainText);
    auto *showAll = new QPushButton(QStringLiteral("显示全部"), m_codesBar);
    showAll->setObjectName(QStringLiteral("showAll"));
    connect(showAll, &QPushButton::clicked, this, [this] { showCodes({}); });
    auto *codesLayout = new QHBoxLayout(m_codesBar);
    codesLayout->setContentsMargins(QMargins());
    codesLayout->addWidget(m_codesNote, 1);
    codesLayout->addWidget(showAll);
    m_codesBar->hide();
}

QPushButton *LedgerWindow::addButton(QAction *action, const QString &name) {
    auto *button = new QPushButton(action->text(), this);
    button->setObjectName(name);
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::enabledChanged, button, &QPushButton::setEnabled);
    return button;
}

void LedgerWindow::enableActions() {
    const bool any = m_view->selectionModel()->hasSelection();
    m_copy->setEnabled(any);
    m_receive->setEnabled(any);
    m_open->setEnabled(m_view->currentIndex().isValid() && any);
}

QStringList LedgerWindow::selectedCodes() const {
    QList<int> rows;
    for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QStringList out;
    for (const int row : std::as_const(rows))
        out.append(m_model.codeAt(row));
    return out;
}

void LedgerWindow::copyCodes() {
    if (const QStringList codes = selectedCodes(); !codes.isEmpty())
        m_desktop.setClipboardText(codes.join(u'\n'));
}

void LedgerWindow::openGiftPage() {
    const QString code = m_model.codeAt(m_view->currentIndex().row());
    if (code.isEmpty())
        return;
    const QUrl page(clouddisk::giftPageAddress(m_cloudDisk, code), QUrl::TolerantMode);
    if (!m_desktop.tryOpenUrl(page))
        m_desktop.message(this, Desktop::Icon::Warning, QStringLiteral("Corvane软件"),
                          QStringLiteral("无法打开礼包页面"));
}

void LedgerWindow::fitColumns() {
    QHeaderView *header = m_view->horizontalHeader();
    const QFontMetrics metrics = m_view->fontMetrics();
    // Room around the text, as the view's own sizing leaves it.
    const int padding =
        2 * (m_view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 1) + 8;
    header->setStretchLastSection(false);
    for (int column = 0; column < LedgerModel::ColumnCount; ++column) {
        if (column == LedgerModel::TitleColumn)
            continue;
        m_view->setColumnWidth(column, qMax(header->sectionSizeHint(column),
                                            metrics.horizontalAdvance(widestText(column)) + padding));
    }
    m_view->setColumnWidth(LedgerModel::TitleColumn, kTitleWidth);
    header->setSectionResizeMode(LedgerModel::TitleColumn, QHeaderView::Stretch);
}

void LedgerWindow::setVisible(bool visible) {
    // Centred over the parent when first shown, as a dialog is; kept on the parent's screen.
    QWidget *over = parentWidget() ? parentWidget()->window() : nullptr;
    if (visible && over && !testAttribute(Qt::WA_Moved)) {
        // Our frame is not known before the first show: the parent's stands in for it.
        const QMargins frame(over->geometry().left() - over->frameGeometry().left(),
                             over->geometry().top() - over->frameGeometry().top(),
                             over->frameGeometry().right() - over->geometry().right(),
                             over->frameGeometry().bottom() - over->geometry().bottom());
        QRect placed(QPoint(), size());
        placed.moveCenter(over->geometry().center());
        placed = placed.marginsAdded(frame);
        QList<QRect> screens;
        if (const QScreen *screen = over->screen())
            screens.append(screen->availableGeometry());
        move(placeOnScreens(placed, screens).value_or(placed).topLeft());
    }
    QWidget::setVisible(visible);
}

bool LedgerWindow::eventFilter(QObject *watched, QEvent *event) {
    // A table takes Ctrl+Tab for itself; here it moves on, as Tab does.
    if (watched == m_view && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & Qt::ControlModifier &&
            (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            focusNextPrevChild(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString LedgerWindow::countsText() const {
    return m_counts->text();
}

void LedgerWindow::search() {
    m_searchDelay.stop();
    m_model.setFilter(m_search->text());
}

void LedgerWindow::showCodes(const QStringList &codes) {
    // The search of an earlier visit would hide some of them.
    if (!codes.isEmpty())
        m_search->clear();
    search();
    m_model.setCodes(codes);
    m_codesNote->setText(codes.isEmpty()
                             ? QString()
                             : u"只显示新礼包提醒发现的" + QString::number(codes.size()) + u"个礼包码");
    m_codesBar->setVisible(!codes.isEmpty() && offText().isEmpty());
}

QString LedgerWindow::codesText() const {
    return m_codesNote->text();
}

QString LedgerWindow::offText() const {
    return m_ledger.isOff() ? u"接收记录不可用：" + m_ledger.whyOff() : QString();
}

void LedgerWindow::showCounts() {
    // Off, the ledger reads as empty: zero counts and no rows would say nothing was recorded.
    const QString off = offText();
    m_off->setText(off);
    m_off->setVisible(!off.isEmpty());
    m_view->setVisible(off.isEmpty());
    m_counts->setVisible(off.isEmpty());
    m_codesBar->setVisible(off.isEmpty() && !m_model.codes().isEmpty());
    m_search->setEnabled(off.isEmpty());
    if (!off.isEmpty())
        return;
    const Ledger::Counts counts = m_ledger.counts(m_model.view(), kCountedAtMost);
    if (counts.more) {
        m_counts->setText(u"超过" + QString::number(kCountedAtMost) + u"个结果");
        return;
    }
    m_counts->setText(QStringLiteral("已接收：%1  已失效：%2  待接收：%3")
                          .arg(counts.received)
                          .arg(counts.voided)
                          .arg(counts.pending));
}

void LedgerWindow::exportCsv() {
    // What is typed is what is exported, even if the search has not caught up yet.
    if (m_searchDelay.isActive())
        search();
    if (const QString off = offText(); !off.isEmpty()) {
        m_desktop.message(this, Desktop::Icon::Warning, QStringLiteral("Corvane软件"), off);
        return;
    }
    QString path = m_desktop.saveFileNameProposing(
        this, QStringLiteral("导出接收记录"), QStringLiteral("CSV 文件 (*.csv)"), Desktop::SaveMode::Replace,
        QStringLiteral("接收记录.csv"));
    if (path.isEmpty())
        return;
    // A name typed without a type would make a file that no spreadsheet program offers to open.
    if (QFileInfo(path).suffix().isEmpty())
        path += u".csv";
    const QString failure = writeFile(path, ledgerCsv(m_model.headers(), m_model.shownRows()));
    if (!failure.isEmpty()) {
        m_desktop.message(this, Desktop::Icon::Warning, QStringLiteral("Corvane软件"),
                          u"导出失败：" + failure);
        return;
    }
    m_desktop.information(this, QStringLiteral("Corvane系列软件"), QStringLiteral("成功导出接收记录"));
}
