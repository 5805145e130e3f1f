#include "app/watchdialog.h"

#include "desktop/autostart.h"
#include "session/sessionsettings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

QString watchSummary(const std::optional<CheckReport> &last) {
    if (!last)
        return QStringLiteral("正在检查");
    QString out = last->at.toLocalTime().toString(QStringLiteral("H:mm")) + u' ' +
                  (last->gifts.isEmpty() ? QStringLiteral("未发现新礼包")
                                         : u"发现" + QString::number(last->gifts.size()) + u"个新礼包");
    for (const QString &unreadable : last->unreadable)
        out += u"，" + unreadable;
    return out;
}

QString watchLogLine(const CheckReport &report) {
    QStringList parts;
    if (!report.gifts.isEmpty())
        parts.append(u"发现" + QString::number(report.gifts.size()) + u"个新礼包");
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
    , m_minutes(new QSpinBox(this))
    , m_autoReceive(new QCheckBox(QStringLiteral("自动接收新礼包"), this))
    , m_atLogin(new QCheckBox(QStringLiteral("登录时启动"), this))
    , m_state(new QLabel(this))
    , m_start(new QPushButton(QStringLiteral("开始提醒"), this))
    , m_stop(new QPushButton(QStringLiteral("停止提醒"), this)) {
    setObjectName(QStringLiteral("WatchDialog"));
    setWindowTitle(QStringLiteral("新礼包提醒"));
    const WatchChoices saved = settings ? settings->watch() : WatchChoices();

    auto *tabsLabel = new QLabel(QStringLiteral("检查第1页："), this);
    auto *tabs = new QHBoxLayout;
    tabs->addWidget(tabsLabel);
    for (int i = 0; i < kTabCount; ++i) {
        m_tabs[i] = new QCheckBox(tabCaption(TabId(i)), this);
        m_tabs[i]->setObjectName(QStringLiteral("watchTab%1").arg(i));
        m_tabs[i]->setChecked(saved.tabs[i]);
        tabs->addWidget(m_tabs[i]);
        connect(m_tabs[i], &QCheckBox::toggled, this, [this] {
            remember();
            enableControls();
        });
    }
    tabs->addStretch(1);

    auto *every = new QLabel(QStringLiteral("每隔"), this);
    every->setBuddy(m_minutes); // the spin box is read as "每隔"
    m_minutes->setObjectName(QStringLiteral("minutes"));
    m_minutes->setRange(WatchChoices::kFewestMinutes, WatchChoices::kMostMinutes);
    m_minutes->setValue(saved.minutes);
    connect(m_minutes, &QSpinBox::valueChanged, this, &WatchDialog::remember);
    auto *interval = new QHBoxLayout;
    interval->addWidget(every);
    interval->addWidget(m_minutes);
    interval->addWidget(new QLabel(QStringLiteral("分钟"), this));
    interval->addStretch(1);

    m_autoReceive->setObjectName(QStringLiteral("autoReceive"));
    m_autoReceiveChosen = saved.autoReceive;
    // Only the user's own clicks change the choice: the box is cleared while it cannot be had.
    connect(m_autoReceive, &QCheckBox::clicked, this, [this](bool checked) {
        m_autoReceiveChosen = checked;
        remember();
    });

    m_atLogin->setObjectName(QStringLiteral("atLogin"));
    m_atLogin->setChecked(autostart::isOn());
    m_atLogin->setToolTip(QStringLiteral("登录桌面时在后台启动，按上次的设置提醒"));
    connect(m_atLogin, &QCheckBox::clicked, this, [this](bool on) {
        const QString why = autostart::setOn(on, QCoreApplication::applicationFilePath());
        const QSignalBlocker quiet(m_atLogin);
        m_atLogin->setChecked(autostart::isOn());
        m_atLogin->setToolTip(why.isEmpty() ? QString() : u"无法设置登录时启动：" + why);
    });

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
    layout->addLayout(tabs);
    layout->addLayout(interval);
    layout->addWidget(m_autoReceive);
    layout->addWidget(m_atLogin);
    layout->addWidget(m_state);
    layout->addLayout(buttons);
    showState(false, std::nullopt);
}

WatchChoices WatchDialog::choices() const {
    WatchChoices out;
    for (int i = 0; i < kTabCount; ++i)
        out.tabs[i] = m_tabs[i]->isChecked();
    out.minutes = m_minutes->value();
    out.autoReceive = m_autoReceive->isEnabled() && m_autoReceive->isChecked();
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
    for (QCheckBox *tab : m_tabs)
        tab->setEnabled(!m_running);
    m_minutes->setEnabled(!m_running);
    const bool kept = m_signInKept && m_signInKept();
    m_autoReceive->setEnabled(kept && !m_running);
    m_autoReceive->setToolTip(kept ? QString() : kNeedsKeptSignIn);
    if (!m_running) {
        const QSignalBlocker quiet(m_autoReceive);
        m_autoReceive->setChecked(kept && m_autoReceiveChosen);
    }
    const bool anyTab =
        std::any_of(m_tabs.begin(), m_tabs.end(), [](QCheckBox *tab) { return tab->isChecked(); });
    m_start->setEnabled(!m_running && anyTab);
    m_stop->setEnabled(m_running);
}

void WatchDialog::remember() {
    if (!m_settings)
        return;
    WatchChoices watch;
    for (int i = 0; i < kTabCount; ++i)
        watch.tabs[i] = m_tabs[i]->isChecked();
    watch.minutes = m_minutes->value();
    watch.autoReceive = m_autoReceiveChosen;
    m_settings->setWatch(watch);
}

void WatchDialog::showEvent(QShowEvent *event) {
    enableControls(); // the sign-in may have been kept or forgotten meanwhile
    QDialog::showEvent(event);
}

void WatchDialog::changeEvent(QEvent *event) {
    // Back from the sign-in window, say: whether a sign-in is kept may have changed.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        enableControls();
    QDialog::changeEvent(event);
}
