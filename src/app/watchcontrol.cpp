#include "app/watchcontrol.h"

#include "app/watchdialog.h"
#include "app/watchtray.h"
#include "desktop/desktop.h"

#include <QSystemTrayIcon>
#include <QWidget>

WatchControl::WatchControl(Context context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context)) {
    connect(&m_context.session.watch(), &NewGiftWatch::checked, this, &WatchControl::checked);
    connect(&m_context.session.watch(), &NewGiftWatch::giftsActivated, this, &WatchControl::giftsActivated);
}

WatchControl::~WatchControl() {
    m_context.session.watch().stop();
    if (m_tray)
        m_context.desktop.setTrayIcon(nullptr); // the desktop outlives it
}

WatchDialog *WatchControl::dialog() const {
    return m_dialog;
}

bool WatchControl::trayAvailable() const {
    return m_context.trayAvailable ? m_context.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void WatchControl::openDialog() {
    if (!m_dialog) {
        m_dialog = new WatchDialog(m_context.session.settings(), m_context.signInKept, m_context.window);
        connect(m_dialog, &WatchDialog::startRequested, this, &WatchControl::start);
        connect(m_dialog, &WatchDialog::stopRequested, this, &WatchControl::stop);
    }
    showState(); // a sign-in may have been kept or forgotten since it was last shown
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

void WatchControl::start(const WatchChoices &choices) {
    m_last.reset();
    m_context.session.startWatch(choices); // it checks at once, answering later: "正在检查" meanwhile
    showRunning();
}

void WatchControl::showRunning() {
    if (trayAvailable()) {
        if (!m_tray) {
            m_tray = new WatchTray(this);
            connect(m_tray, &WatchTray::showWindowRequested, this, &WatchControl::showWindowRequested);
            connect(m_tray, &WatchTray::stopRequested, this, &WatchControl::stop);
            connect(m_tray, &WatchTray::quitRequested, this, &WatchControl::quitRequested);
            // Where there is no notification service, notifications are the tray's messages.
            m_context.desktop.setTrayIcon(m_tray->icon());
        }
        m_tray->icon()->show();
    }
    showState();
}

void WatchControl::stop() {
    m_context.session.stopWatch();
    if (m_tray)
        m_tray->icon()->hide();
    showState();
    // Stopped from the tray while the window was in it: the window comes back, or nothing of
    // the program would be left on the screen.
    if (m_context.window && !m_context.window->isVisible())
        Q_EMIT showWindowRequested();
}

void WatchControl::showState() {
    if (m_dialog)
        m_dialog->showState(m_context.session.watch().isRunning(), m_last);
    if (m_tray)
        m_tray->showState(m_last);
}

bool WatchControl::keepsRunning() {
    if (!m_context.session.watch().isRunning())
        return false;
    if (!std::exchange(m_toldStillRunning, true)) {
        const bool inTray = m_tray && m_tray->icon()->isVisible();
        // Clicked perhaps long after: only if this is still there.
        m_context.desktop.notify(
            QStringLiteral("Giftvane"), inTray ? kStillRunning : kStillInBackground,
            [control = QPointer<WatchControl>(this)] {
                if (control)
                    Q_EMIT control->showWindowRequested();
            },
            QStringLiteral("显示窗口"));
    }
    return true;
}

void WatchControl::checked(const CheckReport &report) {
    m_last = report;
    showState();
    if (const QString line = watchLogLine(report); !line.isEmpty())
        Q_EMIT logLine(line);
}
