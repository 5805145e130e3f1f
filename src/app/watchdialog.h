#pragma once

#include "watch/newgiftwatch.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLayout;
class QListWidget;
class QPushButton;
class QSpinBox;
class SessionSettings;
class SubscriptionDialog;

// What a check found, as the tray's tooltip and the dialog say it after "新礼包提醒：": its local
// time and count, "14:05 发现3个新礼包" or "14:05 未发现新礼包", followed by the pages that could
// not be read; "正在检查" before the first check of a run.
QString watchSummary(const std::optional<CheckReport> &last);
// The log's line for a check: "新礼包提醒：" and what it found, received or could not read; empty
// for a check that found nothing and failed nowhere, which the log keeps quiet about.
QString watchLogLine(const CheckReport &report);

// 新礼包提醒: the subscriptions ("订阅": what to watch, each ticked or not, with "添加", "修改" and
// "删除"), how often, "登录时启动", and the buttons that start and stop the watch. Not modal. What
// is chosen is remembered as it is changed; "登录时启动" writes or removes the autostart entry at
// once. A subscription's "自动接收" can be ticked only while a sign-in is kept.
class WatchDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WatchDialog)

public:
    static inline const QString kNeedsKeptSignIn = QStringLiteral("需先在登录窗口勾选保持登录并登录");

    // Without settings nothing is remembered; signInKept is asked each time a subscription is edited.
    WatchDialog(SessionSettings *settings, std::function<bool()> signInKept, QWidget *parent = nullptr);

    // What the controls say now.
    WatchChoices choices() const;
    // Whether the watch runs and what its run's last check found; enables the controls that
    // make sense.
    void showState(bool running, const std::optional<CheckReport> &last);
    QString stateText() const;
    // "添加" (row < 0) or "修改" of the subscription at that row: the dialog that edits it.
    SubscriptionDialog *editSubscription(int row);
    // How a subscription reads in the list: "原神 — 资源①搜索 原神 (不包含：PV) 自动接收".
    static QString describe(const Subscription &subscription);

Q_SIGNALS:
    void startRequested(const WatchChoices &choices);
    void stopRequested();

private:
    QLayout *buildSubscriptionList();
    QLayout *buildInterval(int minutes);
    void buildAtLogin();
    void remember();
    void showSubscriptions();
    void enableControls();

    SessionSettings *m_settings;
    std::function<bool()> m_signInKept;
    QList<Subscription> m_subscriptions;
    QListWidget *m_list;
    QPushButton *m_add;
    QPushButton *m_edit;
    QPushButton *m_remove;
    QSpinBox *m_minutes;
    QCheckBox *m_atLogin;
    QLabel *m_state;
    QPushButton *m_start;
    QPushButton *m_stop;
    bool m_running = false;
};
