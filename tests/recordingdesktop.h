#pragma once

#include "desktop/desktop.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

// Records every desktop effect instead of showing it.
class RecordingDesktop final : public Desktop {
public:
    struct Message {
        Icon icon;
        QString title;
        QString text;
        QString details;
    };

    void message(QWidget *, Icon icon, const QString &title, const QString &text,
                 const QString &details) override {
        messages.append({icon, title, text, details});
        if (onMessage)
            onMessage(messages.last());
    }
    // Records "title|filter", followed by "|append" for a file that is appended to.
    QString saveFileName(QWidget *, const QString &title, const QString &filter, SaveMode mode) override {
        QString asked = title + u"|" + filter;
        if (mode == SaveMode::Append)
            asked += u"|append";
        dialogs.append(asked);
        return savePath;
    }
    // Records as saveFileName does, followed by "|" and the name proposed.
    QString saveFileNameProposing(QWidget *parent, const QString &title, const QString &filter, SaveMode mode,
                                  const QString &proposedName) override {
        const QString path = saveFileName(parent, title, filter, mode);
        dialogs.last() += u"|" + proposedName;
        return path;
    }
    void openUrl(const QUrl &url) override { opened.append(url); }
    // Records the address; false when openFails is set.
    bool tryOpenUrl(const QUrl &url) override {
        opened.append(url);
        return !openFails;
    }
    void setClipboardText(const QString &text) override { clipboard = text; }

    // The secret store, in memory. Answers come at once, as a store that is already unlocked.
    QCoro::Task<SecretAnswer> writeSecret(const QString &key, const QByteArray &secret) override {
        if (const auto missing = storeMissing(true))
            co_return *missing;
        secrets.insert(key, secret);
        co_return SecretAnswer{};
    }
    QCoro::Task<SecretAnswer> readSecret(const QString &key) override {
        if (const auto missing = storeMissing(false))
            co_return *missing;
        if (!secrets.contains(key))
            co_return SecretAnswer{SecretAnswer::Status::NotFound, {}, {}};
        co_return SecretAnswer{SecretAnswer::Status::Done, secrets.value(key), {}};
    }
    QCoro::Task<SecretAnswer> deleteSecret(const QString &key) override {
        if (const auto missing = storeMissing(true))
            co_return *missing;
        secrets.remove(key);
        co_return SecretAnswer{};
    }

    struct Notification {
        QString title, body;
        std::function<void()> activated;
        QString action;
    };
    bool notify(const QString &title, const QString &body, std::function<void()> activated,
                const QString &action) override {
        notifications.append({title, body, std::move(activated), action});
        return true;
    }

    QStringList texts() const {
        QStringList out;
        for (const Message &m : messages)
            out.append(m.text);
        return out;
    }

    // Plays a desktop without a secret store: every call answers NoStore with this reason.
    QString noSecretStore;
    // Plays a store whose collection is locked: reads find nothing, changes answer NoStore.
    QString lockedSecretStore;
    QHash<QString, QByteArray> secrets;

    QList<Message> messages;
    QList<Notification> notifications;
    QStringList dialogs;
    QString savePath;
    QList<QUrl> opened;
    bool openFails = false; // plays a desktop where no program takes an address
    QString clipboard;
    std::function<void(const Message &)> onMessage;

private:
    std::optional<SecretAnswer> storeMissing(bool change) const {
        if (!noSecretStore.isEmpty())
            return SecretAnswer{SecretAnswer::Status::NoStore, {}, noSecretStore};
        if (!lockedSecretStore.isEmpty())
            return change ? SecretAnswer{SecretAnswer::Status::NoStore, {}, lockedSecretStore}
                          : SecretAnswer{SecretAnswer::Status::NotFound, {}, {}};
        return std::nullopt;
    }
};
