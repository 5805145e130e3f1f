#pragma once

#include "watch/newgiftwatch.h"

#include <QObject>

#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;

// The tray icon that shows the new-gift watch running: its tooltip says what the last check
// found, its menu shows the window, stops the watch or ends the program, and a click on it
// shows the window.
class WatchTray final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WatchTray)

public:
    explicit WatchTray(QObject *parent = nullptr);
    ~WatchTray() override;

    QSystemTrayIcon *icon() const { return m_icon; }
    QMenu *menu() const { return m_menu.get(); }
    // "新礼包提醒：" and what the run's last check found.
    void showState(const std::optional<CheckReport> &last);

Q_SIGNALS:
    void showWindowRequested();
    void stopRequested();
    void quitRequested();

private:
    std::unique_ptr<QMenu> m_menu; // a tray's menu has no parent window
    QSystemTrayIcon *m_icon;
};
