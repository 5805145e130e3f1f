#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QSystemTrayIcon;

// Desktop notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications), asked without blocking; where there is no such service,
// the tray icon's message. Clicking a notification runs what it was shown with.
class DesktopNotifications final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopNotifications)

public:
    static constexpr int kTimeoutMs = 10000; // for the tray icon's message

    explicit DesktopNotifications(QObject *parent = nullptr);

    // Where notifications go when the service is not there; none: they are not shown.
    void setTrayIcon(QSystemTrayIcon *tray);
    // False when it could not be handed to anything.
    bool show(const QString &title, const QString &body, std::function<void()> activated,
              const QString &action = {});

private Q_SLOTS:
    void actionInvoked(uint id, const QString &action);
    void closed(uint id, uint reason);

private:
    void showInTray(const QString &title, const QString &body, std::function<void()> activated);

    QPointer<QSystemTrayIcon> m_tray;
    QHash<uint, std::function<void()>> m_shown; // by the service's id, until closed
    std::function<void()> m_trayActivated;      // of the tray's last message
    bool m_listening = false;
};
