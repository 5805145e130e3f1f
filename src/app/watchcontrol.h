#pragma once

#include "session/giftsession.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <optional>

class Desktop;
class WatchDialog;
class WatchTray;
class QWidget;

// The new-gift watch in the window: its dialog, its tray icon while it runs, and what it tells
// the main window (log lines, a clicked notification). The main window stays what ends the
// program: a close box while the watch runs only hides it, into the tray where there is one.
class WatchControl final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WatchControl)

public:
    static inline const QString kStillRunning = QStringLiteral("新礼包提醒仍在运行，可从托盘图标打开窗口");
    static inline const QString kStillInBackground = QStringLiteral("新礼包提醒仍在后台运行");

    struct Context {
        GiftSession &session;                // whose watch this is; its settings remember the choices
        Desktop &desktop;                    // for the tray's messages and notifications
        std::function<bool()> signInKept;    // whether auto-receive may be offered
        std::function<bool()> trayAvailable; // whether the desktop has a tray; empty: ask Qt
        QWidget *window = nullptr;           // the main window: the dialog's parent
    };

    explicit WatchControl(Context context, QObject *parent = nullptr);
    // Stops the watch and takes the tray icon back from the desktop.
    ~WatchControl() override;

    NewGiftWatch &watch() { return m_context.session.watch(); }
    bool isRunning() const { return m_context.session.watch().isRunning(); }
    // What the run's last check found; none before its first.
    const std::optional<CheckReport> &lastCheck() const { return m_last; }
    WatchDialog *dialog() const;
    // The tray icon, once the watch has run where there is a tray.
    WatchTray *tray() const { return m_tray; }

    // "新礼包提醒": opens the dialog, or brings it to the front.
    void openDialog();
    void start(const WatchChoices &choices);
    void stop();
    // Shows the state again in the dialog and the tray, the kept sign-in read afresh.
    void showState();
    // Where the tray icon and the dialog show a watch that runs: the tray icon only where there
    // is a tray. For a watch the session resumed at start.
    void showRunning();
    // The window's close box: true when the program goes on without it, because the watch runs
    // (in the tray where there is one, else in the background), said once per run of the program
    // in a notification whose button brings the window back.
    bool keepsRunning();

Q_SIGNALS:
    // The tray's "显示窗口", a click on it or on a notification; also when the tray goes away
    // while the window is hidden, so that the program is never left without either.
    void showWindowRequested();
    // The tray's "退出程序".
    void quitRequested();
    void logLine(const QString &line);
    // The user clicked the notification of new gifts: these codes.
    void giftsActivated(const QStringList &codes);

private:
    bool trayAvailable() const;
    void checked(const CheckReport &report);

    Context m_context;
    std::optional<CheckReport> m_last;
    QPointer<WatchDialog> m_dialog;
    WatchTray *m_tray = nullptr;
    bool m_toldStillRunning = false;
};
