#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

#include <qcoro/qcorotask.h>

class QSystemTrayIcon;
class QWidget;

// What the secret store answered about one secret.
struct SecretAnswer {
    enum class Status {
        Done,     // written, read or deleted (deleting what is not there is done too)
        NotFound, // a read found nothing kept under the key
        NoStore,  // no secret store to keep it in: none running, none reachable, none unlocked
        Failed,   // the store is there but refused, such as when the user declined to unlock it
    };
    Status status = Status::Done;
    QByteArray secret; // what a read found
    QString reason;    // the store's own words, for NoStore and Failed
};

// Every effect on the user's desktop goes through here, so that tests record it instead.
class Desktop {
public:
    enum class Icon { Information, Warning, None };
    // How the chosen file will be written. A file that is appended to keeps what it holds, so
    // the dialog does not ask whether to replace it.
    enum class SaveMode { Replace, Append };
    // A message box's details hold at most this much of a text, so that showing them never
    // stalls the window.
    static constexpr qsizetype kDetailsLimit = 64 * 1024;

    virtual ~Desktop() = default;
    // A modal message box with one OK button; returns when the user has closed it.
    virtual void message(QWidget *parent, Icon icon, const QString &title, const QString &text,
                         const QString &details = {}) = 0;
    // The save dialog; an empty name means the user cancelled. The filter is Qt's, such as
    // "文本文件 (*.txt)"; the dialog shows the type's name only.
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                                 SaveMode mode) = 0;
    // The same dialog with a file name filled in (in the user's documents folder); a desktop
    // that cannot propose one shows the plain dialog.
    virtual QString saveFileNameProposing(QWidget *parent, const QString &title, const QString &filter,
                                          SaveMode mode, const QString &proposedName) {
        Q_UNUSED(proposedName)
        return saveFileName(parent, title, filter, mode);
    }
    // Opens the address in the user's browser, without waiting.
    virtual void openUrl(const QUrl &url) = 0;
    // The same, telling whether a program took the address; a desktop that cannot tell says
    // it did.
    virtual bool tryOpenUrl(const QUrl &url) {
        openUrl(url);
        return true;
    }
    virtual void setClipboardText(const QString &text) = 0;

    // The desktop's secret store (the Secret Service), one secret per key. Each call answers
    // later, without blocking the window: the store may first ask the user to unlock it. A
    // desktop that keeps no secrets says so.
    virtual QCoro::Task<SecretAnswer> writeSecret(const QString &key, const QByteArray &secret) {
        Q_UNUSED(key)
        Q_UNUSED(secret)
        co_return noSecretStore();
    }
    virtual QCoro::Task<SecretAnswer> readSecret(const QString &key) {
        Q_UNUSED(key)
        co_return noSecretStore();
    }
    virtual QCoro::Task<SecretAnswer> deleteSecret(const QString &key) {
        Q_UNUSED(key)
        co_return noSecretStore();
    }

    // A notification on the desktop (its notification service; the tray icon's message where
    // there is none), without waiting; `activated` runs when the user clicks it or its button
    // `action` (empty: "显示"). False when there is nothing to show it with. A desktop without
    // notifications shows none.
    virtual bool notify(const QString &title, const QString &body, std::function<void()> activated = {},
                        const QString &action = {}) {
        Q_UNUSED(title)
        Q_UNUSED(body)
        Q_UNUSED(activated)
        Q_UNUSED(action)
        return false;
    }
    // The tray icon whose messages stand in for notifications where the desktop has no
    // notification service; none to stop.
    virtual void setTrayIcon(QSystemTrayIcon *tray) { Q_UNUSED(tray) }

    void information(QWidget *parent, const QString &title, const QString &text) {
        message(parent, Icon::Information, title, text);
    }

private:
    static SecretAnswer noSecretStore() {
        return {SecretAnswer::Status::NoStore, {}, QStringLiteral("this desktop keeps no secrets")};
    }
};
