#include "desktop/notifications.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A busy desktop's notification service may answer late; D-Bus's own 25 s would take its late
// answer for none, lose the click on what it did show, and show the notice again in the tray.
constexpr int kNotifyAnswerMs = 2 * 60 * 1000;

} // namespace

DesktopNotifications::DesktopNotifications(QObject *parent)
    : QObject(parent) {}

void DesktopNotifications::setTrayIcon(QSystemTrayIcon *tray) {
    if (m_tray)
        m_tray->disconnect(this);
    m_tray = tray;
    if (tray) {
        connect(tray, &QSystemTrayIcon::messageClicked, this, [this] {
            if (m_trayActivated)
                m_trayActivated();
        });
    }
}

bool DesktopNotifications::show(const QString &title, const QString &body, std::function<void()> activated,
                                const QString &action) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showInTray(title, body, std::move(activated));
        return m_tray != nullptr;
    }
    if (!m_listening) {
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(closed(uint, uint)));
        m_listening = true;
    }
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // The "default" action is what a click on the notification itself does.
    const QStringList actions =
        activated ? QStringList{u"default"_qs, action.isEmpty() ? u"显示"_qs : action} : QStringList();
    // The body may be read as markup: text from a site goes escaped, so it is shown as it is.
    notify << QStringLiteral("Giftvane") << uint(0) << QStringLiteral("io.github.giftvane.Giftvane") << title
           << body.toHtmlEscaped() << actions
           << QVariantMap{{u"desktop-entry"_qs, u"io.github.giftvane.Giftvane"_qs}} << int(-1);
    // Asked without waiting: a notification service that hangs must not hang the window.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(notify, kNotifyAnswerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, title, body, activated = std::move(activated)] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) {
                    showInTray(title, body, activated);
                    return;
                }
                if (activated)
                    m_shown.insert(reply.value(), activated);
            });
    return true;
}

void DesktopNotifications::showInTray(const QString &title, const QString &body,
                                      std::function<void()> activated) {
    if (!m_tray || !m_tray->isVisible())
        return;
    m_trayActivated = std::move(activated);
    m_tray->showMessage(title, body, QSystemTrayIcon::Information, kTimeoutMs);
}

void DesktopNotifications::actionInvoked(uint id, const QString &action) {
    const std::function<void()> activated = m_shown.value(id);
    // The service names the button by its key: the second of each pair we sent.
    if (activated && !action.isEmpty())
        activated();
}

void DesktopNotifications::closed(uint id, uint) {
    m_shown.remove(id);
}
