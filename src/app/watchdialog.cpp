#include "app/watchdialog.h"

#include "app/subscriptiondialog.h"
#include "desktop/autostart.h"
#include "session/sessionsettings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

QString watchSummary(const std::optional<CheckReport> &last) {
    if (!last)
        return QStringLiteral("正在检查");
    QString out = last->at.toLocalTime().toString(QStringLiteral("H:mm")) + u' ' +
                  (last->gifts.isEmpty() ? QStringLiteral("未发现新礼包")
                                         : u"发现" + QString::number(last->gifts.size()) + u"个新礼包（" +
                                               last->bySubscription() + u"）");
    for (const QString &unreadable : last->unreadable)
        out += u"，" + unreadable;
    return out;
}

QString watchLogLine(const CheckReport &report) {
    QStringList parts;
    if (!report.gifts.isEmpty())
        parts.append(u"发现" + QString::number(report.gifts.size()) + u"个新礼包（" +
                     report.bySubscription() + u"）");
    if (const std::optional<ReceiveSummary> &received = report.received;
        received && received->attempted > 0) {
        parts.append(u"自动接收" + QString::number(received->attempted) + u"个礼包：成功" +
                     QString::number(received->received) + u"个,失败" + QString::number(received->failed()) +
                     u"个");
    }
    parts.append(report.unreadable);
    return parts.isEmpty() ? QString() : u"新礼包提醒：" + parts.join(u"，");
}

WatchDialog::WatchDialog(SessionSettings *settings, std::function<bool()> signInKept, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_signInKept(std::move(signInKept))
    , m_list(new QListWidget(this))
    , m_add(new QPushButton(QStringLiteral("添加"), this))
    , m_edit(new QPushButton(QStringLiteral("修改"), this))
    , m_remove(new QPushButton(QStringLiteral("删除"), this))
    , m_minutes(new QSpinBox(this))
    , m_atLogin(new QCheckBox(QStringLiteral("登录时启动"), this))
    , m_state(new QLabel(this))
    , m_start(new QPushButton(QStringLiteral("开始提醒"), this))
    , m_stop(new QPushButton(QStringLiteral("停止提醒"), this)) {
    setObjectName(QStringLiteral("WatchDialog"));
    setWindowTitle(QStringLiteral("新礼包提醒"));
    const WatchChoices saved = settings ? settings->watch() : WatchChoices();
    m_subscriptions = saved.subscriptions;

    auto *listLabel = new QLabel(QStringLiteral("订阅"), this);
    listLabel->setBuddy(m_list); // the list is read as "订阅"
    QLayout *list = buildSubscriptionList();
    QLayout *interval = buildInterval(saved.minutes);
    buildAtLogin();

    m_state->setObjectName(QStringLiteral("watchState"));
    m_state->setTextFormat(Qt::PlainText); // it names pages that failed, in a site's words
    m_state->setWordWrap(true);
    m_start->setObjectName(QStringLiteral("startWatch"));
    m_stop->setObjectName(QStringLiteral("stopWatch"));
    connect(m_start, &QPushButton::clicked, this, [this] { Q_EMIT startRequested(choices()); });
    connect(m_stop, &QPushButton::clicked, this, &WatchDialog::stopRequested);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(listLabel);
    layout->addLayout(list);
    layout->addLayout(interval);
    layout->addWidget(m_atLogin);
    layout->addWidget(m_state);
    layout->addLayout(buttons);
    showSubscriptions();
    showState(false, std::nullopt);
}

// The subscriptions with their check boxes, and the buttons that change them.
QLayout *WatchDialog::buildSubscriptionList() {
    m_list->setObjectName(QStringLiteral("subscriptions"));
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        const int row = m_list->row(item);
        if (row < 0 || row >= m_subscriptions.size())
            return;
        m_subscriptions[row].enabled = item->checkState() == Qt::Checked;
        remember();
        enableControls();
    });
    connect(m_list, &QListWidget::currentRowChanged, this, &WatchDialog::enableControls);
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { m_edit->click(); });
    m_add->setObjectName(QStringLiteral("addSubscription"));
    m_edit->setObjectName(QStringLiteral("editSubscription"));
    m_remove->setObjectName(QStringLiteral("removeSubscription"));
    connect(m_add, &QPushButton::clicked, this, [this] { editSubscription(-1); });
    connect(m_edit, &QPushButton::clicked, this, [this] { editSubscription(m_list->currentRow()); });
    connect(m_remove, &QPushButton::clicked, this, [this] {
        const int row = m_list->currentRow();
        if (row < 0 || row >= m_subscriptions.size())
            return;
        m_subscriptions.removeAt(row);
        remember();
        showSubscriptions();
    });
    auto *listButtons = new QVBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_edit);
    listButtons->addWidget(m_remove);
    listButtons->addStretch(1);
    auto *list = new QHBoxLayout;
    list->addWidget(m_list, 1);
    list->addLayout(listButtons);
    return list;
}

// How often the subscriptions are checked.
QLayout *WatchDialog::buildInterval(int minutes) {
    auto *every = new QLabel(QStringLiteral("每隔"), this);
    every->setBuddy(m_minutes); // the spin box is read as "每隔"
    m_minutes->setObjectName(QStringLiteral("minutes"));
    m_minutes->setRange(WatchChoices::kFewestMinutes, WatchChoices::kMostMinutes);
    m_minutes->setValue(minutes);
    connect(m_minutes, &QSpinBox::valueChanged, this, &WatchDialog::remember);
    auto *interval = new QHBoxLayout;
    interval->addWidget(every);
    interval->addWidget(m_minutes);
    interval->addWidget(new QLabel(QStringLiteral("分钟"), this));
    interval->addStretch(1);
    return interval;
}

// The login entry is the file itself: the box shows what is there, not what was asked.
void WatchDialog::buildAtLogin() {
    m_atLogin->setObjectName(QStringLiteral("atLogin"));
    m_atLogin->setChecked(autostart::isOn());
    m_atLogin->setToolTip(QStringLiteral("登录桌面时在后台启动，按上次的设置提醒"));
    connect(m_atLogin, &QCheckBox::clicked, this, [this](bool on) {
        const QString why = autostart::setOn(on, QCoreApplication::applicationFilePath());
        const QSignalBlocker quiet(m_atLogin);
        m_atLogin->setChecked(autostart::isOn());
        m_atLogin->setToolTip(why.isEmpty() ? QString() : u"无法设置登录时启动：" + why);
    });
}

QString WatchDialog::describe(const Subscription &subscription) {
    QString out = subscription.shownName() + u" — " + subscription.sourceCaption();
    if (subscription.search)
        out += u' ' + subscription.keyword;
    QStringList rules;
    if (!subscription.include.isEmpty())
        rules.append(u"包含：" + subscription.include.join(u' '));
    if (!subscription.exclude.isEmpty())
        rules.append(u"不包含：" + subscription.exclude.join(u' '));
    if (subscription.maxSizeGb)
        rules.append(u"大小不超过" + QString::number(*subscription.maxSizeGb) + u" GB");
    if (!rules.isEmpty())
        out += u" (" + rules.join(u"，") + u')';
    if (subscription.autoReceive)
        out += QStringLiteral(" 自动接收");
    return out;
}

void WatchDialog::showSubscriptions() {
    const int current = m_list->currentRow();
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    for (const Subscription &subscription : std::as_const(m_subscriptions)) {
        auto *item = new QListWidgetItem(describe(subscription), m_list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(subscription.enabled ? Qt::Checked : Qt::Unchecked);
    }
    m_list->setCurrentRow(qMin(current, int(m_subscriptions.size()) - 1));
    enableControls();
}

SubscriptionDialog *WatchDialog::editSubscription(int row) {
    const bool adding = row < 0 || row >= m_subscriptions.size();
    Subscription start;
    if (!adding)
        start = m_subscriptions[row];
    else
        start.name.clear();
    auto *dialog = new SubscriptionDialog(start, m_signInKept && m_signInKept(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &SubscriptionDialog::chosen, this, [this, adding, row](const Subscription &chosen) {
        if (adding)
            m_subscriptions.append(chosen);
        else if (row < m_subscriptions.size())
            m_subscriptions[row] = chosen;
        remember();
        showSubscriptions();
        m_list->setCurrentRow(adding ? int(m_subscriptions.size()) - 1 : row);
    });
    dialog->open();
    return dialog;
}

WatchChoices WatchDialog::choices() const {
    WatchChoices out;
    out.subscriptions = m_subscriptions;
    out.minutes = m_minutes->value();
    // What the watch learnt of each page since the dialog read the file is the file's, not this
    // copy's.
    if (m_settings) {
        QHash<QString, SubscriptionState> learnt;
        for (const Subscription &saved : m_settings->watch().subscriptions)
            learnt.insert(saved.sourceKey(), saved.state);
        for (Subscription &subscription : out.subscriptions)
            subscription.state = learnt.value(subscription.sourceKey());
    }
    return out;
}

void WatchDialog::showState(bool running, const std::optional<CheckReport> &last) {
    m_running = running;
    if (running)
        m_state->setText(u"正在提醒：" + watchSummary(last));
    else if (last)
        m_state->setText(u"未在提醒，上次检查：" + watchSummary(last));
    else
        m_state->setText(QStringLiteral("未在提醒"));
    enableControls();
}

QString WatchDialog::stateText() const {
    return m_state->text();
}

void WatchDialog::enableControls() {
    // The choices of a running watch are shown as it runs; they change from its next start.
    m_list->setEnabled(!m_running);
    m_add->setEnabled(!m_running && m_subscriptions.size() < kMostSubscriptions);
    const bool chosen = m_list->currentRow() >= 0;
    m_edit->setEnabled(!m_running && chosen);
    m_remove->setEnabled(!m_running && chosen);
    m_minutes->setEnabled(!m_running);
    // The choices as the list has them, without what the file learnt: only whether any is on.
    WatchChoices listed;
    listed.subscriptions = m_subscriptions;
    m_start->setEnabled(!m_running && listed.watchesAny());
    m_stop->setEnabled(m_running);
}

void WatchDialog::remember() {
    if (m_settings)
        m_settings->setWatch(choices());
}
