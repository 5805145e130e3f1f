#pragma once

#include "desktop/desktop.h"

#include <memory>

class DesktopNotifications;
class QCoreApplication;
class QMessageBox;

// The real desktop: message boxes, the file dialog, the default browser, the clipboard, the
// Secret Service (through QtKeychain), notifications (the freedesktop notification service).
class SystemDesktop final : public Desktop {
public:
    SystemDesktop();
    ~SystemDesktop() override;

    // Loads Qt's own Chinese texts (buttons, the file dialog, the browser's menus), whatever the
    // system's language; false when Qt's translations are not installed.
    static bool loadQtChinese(QCoreApplication &app);

    // The box message() shows: plain text, one OK button.
    static std::unique_ptr<QMessageBox> messageBox(QWidget *parent, Icon icon, const QString &title,
                                                   const QString &text, const QString &details = {});

    void message(QWidget *parent, Icon icon, const QString &title, const QString &text,
                 const QString &details) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                         SaveMode mode) override;
    QString saveFileNameProposing(QWidget *parent, const QString &title, const QString &filter, SaveMode mode,
                                  const QString &proposedName) override;
    void openUrl(const QUrl &url) override;
    bool tryOpenUrl(const QUrl &url) override;
    void setClipboardText(const QString &text) override;
    QCoro::Task<SecretAnswer> writeSecret(const QString &key, const QByteArray &secret) override;
    QCoro::Task<SecretAnswer> readSecret(const QString &key) override;
    QCoro::Task<SecretAnswer> deleteSecret(const QString &key) override;
    bool notify(const QString &title, const QString &body, std::function<void()> activated,
                const QString &action) override;
    void setTrayIcon(QSystemTrayIcon *tray) override;

private:
    std::unique_ptr<DesktopNotifications> m_notifications;
};
