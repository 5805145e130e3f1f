#include "app/subscriptiondialog.h"

#include "app/watchdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

struct Source {
    TabId tab;
    bool search;
};
constexpr Source kSources[] = {{TabId::Libao, false},
                               {TabId::Share, false},
                               {TabId::Tiquma, false},
                               {TabId::Libao, true},
                               {TabId::Share, true}};

QStringList words(const QLineEdit *edit) {
    return edit->text().simplified().replace(QChar(0x3000), u' ').split(u' ', Qt::SkipEmptyParts);
}

} // namespace

SubscriptionDialog::SubscriptionDialog(const Subscription &subscription, bool signInKept, QWidget *parent)
    : QDialog(parent)
    , m_start(subscription)
    , m_name(new QLineEdit(subscription.name, this))
    , m_source(new QComboBox(this))
    , m_keyword(new QLineEdit(subscription.keyword, this))
    , m_include(new QLineEdit(subscription.include.join(u' '), this))
    , m_exclude(new QLineEdit(subscription.exclude.join(u' '), this))
    , m_maxSize(new QDoubleSpinBox(this))
    , m_autoReceive(new QCheckBox(QStringLiteral("自动接收"), this))
    , m_problem(new QLabel(this)) {
    setObjectName(QStringLiteral("SubscriptionDialog"));
    setWindowTitle(QStringLiteral("订阅"));
    setWindowModality(Qt::WindowModal);
    m_name->setObjectName(QStringLiteral("name"));
    m_source->setObjectName(QStringLiteral("source"));
    for (const Source &source : kSources) {
        Subscription shown;
        shown.tab = source.tab;
        shown.search = source.search;
        m_source->addItem(shown.sourceCaption());
        if (source.tab == subscription.tab && source.search == subscription.search)
            m_source->setCurrentIndex(m_source->count() - 1);
    }
    connect(m_source, &QComboBox::currentIndexChanged, this, &SubscriptionDialog::sourceChanged);
    m_keyword->setObjectName(QStringLiteral("keyword"));
    m_include->setObjectName(QStringLiteral("include"));
    m_include->setPlaceholderText(QStringLiteral("标题须包含的词，以空格分隔"));
    m_exclude->setObjectName(QStringLiteral("exclude"));
    m_exclude->setPlaceholderText(QStringLiteral("标题不包含的词，以空格分隔"));
    m_maxSize->setObjectName(QStringLiteral("maxSize"));
    m_maxSize->setRange(0, 1024 * 1024);
    m_maxSize->setDecimals(1);
    m_maxSize->setSuffix(QStringLiteral(" GB"));
    m_maxSize->setSpecialValueText(QStringLiteral("不限")); // 0: no limit
    m_maxSize->setValue(subscription.maxSizeGb.value_or(0));
    m_autoReceive->setObjectName(QStringLiteral("autoReceive"));
    m_autoReceive->setChecked(subscription.autoReceive);
    m_autoReceive->setEnabled(signInKept);
    m_autoReceive->setToolTip(signInKept ? QString() : WatchDialog::kNeedsKeptSignIn);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout;
    // Each field is read as its label: QFormLayout makes the label its buddy.
    form->addRow(QStringLiteral("名称"), m_name);
    form->addRow(QStringLiteral("来源"), m_source);
    form->addRow(QStringLiteral("关键字"), m_keyword);
    form->addRow(QStringLiteral("包含"), m_include);
    form->addRow(QStringLiteral("不包含"), m_exclude);
    form->addRow(QStringLiteral("大小不超过"), m_maxSize);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SubscriptionDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SubscriptionDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_autoReceive);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
    sourceChanged();
}

void SubscriptionDialog::sourceChanged() {
    m_keyword->setEnabled(kSources[m_source->currentIndex()].search);
}

Subscription SubscriptionDialog::subscription() const {
    Subscription out = m_start;
    const Source &source = kSources[m_source->currentIndex()];
    out.tab = source.tab;
    out.search = source.search;
    out.keyword = source.search ? m_keyword->text().trimmed() : QString();
    out.name = m_name->text().trimmed();
    if (out.name.isEmpty())
        out.name = out.search ? out.keyword : out.sourceCaption();
    out.include = words(m_include);
    out.exclude = words(m_exclude);
    out.maxSizeGb = m_maxSize->value() > 0 ? std::optional(m_maxSize->value()) : std::nullopt;
    if (m_autoReceive->isEnabled())
        out.autoReceive = m_autoReceive->isChecked();
    if (out.tab != m_start.tab || out.search != m_start.search || out.keyword != m_start.keyword)
        out.state = {}; // another page: nothing learnt of the old one holds
    return out;
}

QString SubscriptionDialog::problem() const {
    // As the tabs' search boxes: a keyword of one character is no search.
    if (kSources[m_source->currentIndex()].search && m_keyword->text().trimmed().size() < 2)
        return QStringLiteral("关键字至少两个字符");
    return {};
}

void SubscriptionDialog::accept() {
    m_problem->setText(problem());
    // Read out where the user is sent to mend it.
    m_keyword->setAccessibleDescription(m_problem->text());
    if (!m_problem->text().isEmpty()) {
        m_keyword->setFocus();
        return;
    }
    Q_EMIT chosen(subscription());
    QDialog::accept();
}
