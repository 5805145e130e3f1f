#include "app/ledgerwindow.h"

#include "desktop/desktop.h"
#include "ledger/ledgercsv.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// Replaces the file; on failure returns the system's reason, else empty.
QString writeFile(const QString &path, const QByteArray &content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString();
    return {};
}

} // namespace

LedgerWindow::LedgerWindow(Ledger &ledger, Desktop &desktop, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ledger(ledger)
    , m_desktop(desktop)
    , m_model(ledger)
    , m_search(new QLineEdit(this))
    , m_view(new QTableView(this))
    , m_counts(new QLabel(this))
    , m_export(new QPushButton(QStringLiteral("导出CSV"), this)) {
    setWindowTitle(QStringLiteral("接收记录"));
    resize(900, 520);

    auto *searchLabel = new QLabel(QStringLiteral("搜索："), this);
    searchLabel->setObjectName(QStringLiteral("searchLabel"));
    searchLabel->setTextFormat(Qt::PlainText);
    searchLabel->setBuddy(m_search);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setClearButtonEnabled(true);
    m_view->setObjectName(QStringLiteral("codes"));
    m_counts->setObjectName(QStringLiteral("counts"));
    m_counts->setTextFormat(Qt::PlainText);
    m_export->setObjectName(QStringLiteral("export"));

    m_view->setModel(&m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    // The order the model opened in; enabling sorting asks for it again, which costs nothing.
    m_view->horizontalHeader()->setSortIndicator(int(m_model.view().sortBy), m_model.view().order);
    m_view->setSortingEnabled(true);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(LedgerModel::CodeColumn, 140);
    m_view->setColumnWidth(LedgerModel::TitleColumn, 260);

    auto *top = new QHBoxLayout;
    top->addWidget(searchLabel);
    top->addWidget(m_search, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_counts, 1);
    bottom->addWidget(m_export);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);

    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(kSearchDelayMs);
    connect(m_search, &QLineEdit::textChanged, &m_searchDelay, qOverload<>(&QTimer::start));
    connect(&m_searchDelay, &QTimer::timeout, this, &LedgerWindow::search);
    connect(m_export, &QPushButton::clicked, this, &LedgerWindow::exportCsv);
    connect(&m_ledger, &Ledger::changed, this, &LedgerWindow::showCounts);
    connect(&m_ledger, &Ledger::turnedOff, this, &LedgerWindow::showCounts);
    showCounts();
}

QString LedgerWindow::countsText() const {
    return m_counts->text();
}

void LedgerWindow::search() {
    m_searchDelay.stop();
    m_model.setFilter(m_search->text());
}

void LedgerWindow::showCounts() {
    const Ledger::Counts counts = m_ledger.counts();
    m_counts->setText(QStringLiteral("已接收：%1  已失效：%2  待接收：%3")
                          .arg(counts.received)
                          .arg(counts.voided)
                          .arg(counts.pending));
}

void LedgerWindow::exportCsv() {
    // What is typed is what is exported, even if the search has not caught up yet.
    if (m_searchDelay.isActive())
        search();
    const QString path = m_desktop.saveFileName(
        this, QStringLiteral("导出接收记录"), QStringLiteral("CSV 文件 (*.csv)"), Desktop::SaveMode::Replace);
    if (path.isEmpty())
        return;
    const QString failure = writeFile(path, ledgerCsv(m_model.headers(), m_model.shownRows()));
    if (!failure.isEmpty()) {
        m_desktop.message(this, Desktop::Icon::Warning, QStringLiteral("Corvane软件"),
                          u"导出失败：" + failure);
        return;
    }
    m_desktop.information(this, QStringLiteral("Corvane系列软件"), QStringLiteral("成功导出接收记录"));
}
