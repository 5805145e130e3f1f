#include "app/watchtray.h"

#include "app/watchdialog.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

namespace {

// The program's emblem, drawn from its SVG when the program is built; the installed theme's, or
// the style's, where the build had no drawing of it.
QIcon emblem() {
    const QString drawn = QStringLiteral(":/giftvane/emblem.png");
    if (QFile::exists(drawn))
        return QIcon(drawn);
    return QIcon::fromTheme(QStringLiteral("io.github.giftvane.Giftvane"),
                            QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
}

} // namespace

WatchTray::WatchTray(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(new QSystemTrayIcon(emblem(), this)) {
    m_icon->setObjectName(QStringLiteral("watchTray"));
    m_menu->setObjectName(QStringLiteral("watchTrayMenu"));
    struct Item {
        const char *objectName;
        QString caption;
        void (WatchTray::*signal)();
    };
    const Item items[] = {
        {"trayShow", QStringLiteral("显示窗口"), &WatchTray::showWindowRequested},
        {"trayStop", QStringLiteral("停止提醒"), &WatchTray::stopRequested},
        {"trayQuit", QStringLiteral("退出程序"), &WatchTray::quitRequested},
    };
    for (const Item &item : items) {
        QAction *action = m_menu->addAction(item.caption);
        action->setObjectName(QString::fromLatin1(item.objectName));
        connect(action, &QAction::triggered, this, item.signal);
    }
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT showWindowRequested();
    });
    showState(std::nullopt);
}

WatchTray::~WatchTray() {
    // The icon goes first: it holds the menu.
    delete m_icon;
}

void WatchTray::showState(const std::optional<CheckReport> &last) {
    m_icon->setToolTip(u"新礼包提醒：" + watchSummary(last));
}
