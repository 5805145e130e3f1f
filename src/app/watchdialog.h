#pragma once

#include "watch/newgiftwatch.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class SessionSettings;

// What a check found, as the tray's tooltip and the dialog say it after "新礼包提醒：": its local
// time and count, "14:05 发现3个新礼包" or "14:05 未发现新礼包", followed by the pages that could
// not be read; "正在检查" before the first check of a run.
QString watchSummary(const std::optional<CheckReport> &last);
// The log's line for a check: "新礼包提醒：" and what it found, received or could not read; empty
// for a check that found nothing and failed nowhere, which the log keeps quiet about.
QString watchLogLine(const CheckReport &report);

// 新礼包提醒: which tabs' first page to watch, how often, whether to receive what is new, and the
// buttons that start and stop the watch. Not modal. What is chosen is remembered as it is
// changed; "登录时启动" writes or removes the autostart entry at once; "自动接收新礼包" only while a sign-in
// is kept, and otherwise shown cleared (what was chosen stays remembered for when a sign-in is kept again).
class WatchDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WatchDialog)

public:
    static inline const QString kNeedsKeptSignIn = QStringLiteral("需先在登录窗口勾选保持登录并登录");

    // Without settings nothing is remembered; signInKept is asked each time the state is shown.
    WatchDialog(SessionSettings *settings, std::function<bool()> signInKept, QWidget *parent = nullptr);

    // What the controls say now.
    WatchChoices choices() const;
    // Whether the watch runs and what its run's last check found; enables the controls that
    // make sense and reads the kept sign-in again.
    void showState(bool running, const std::optional<CheckReport> &last);
    QString stateText() const;

Q_SIGNALS:
    void startRequested(const WatchChoices &choices);
    void stopRequested();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void remember();
    void enableControls();

    SessionSettings *m_settings;
    std::function<bool()> m_signInKept;
    std::array<QCheckBox *, kTabCount> m_tabs{};
    QSpinBox *m_minutes;
    QCheckBox *m_autoReceive;
    QCheckBox *m_atLogin;
    QLabel *m_state;
    QPushButton *m_start;
    QPushButton *m_stop;
    bool m_running = false;
    bool m_autoReceiveChosen = false; // as the user left the box while it could be ticked
};
