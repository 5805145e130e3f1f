#pragma once

#include "desktop/desktop.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>

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
    void openUrl(const QUrl &url) override { opened.append(url); }
    void setClipboardText(const QString &text) override { clipboard = text; }

    QStringList texts() const {
        QStringList out;
        for (const Message &m : messages)
            out.append(m.text);
        return out;
    }

    QList<Message> messages;
    QStringList dialogs;
    QString savePath;
    QList<QUrl> opened;
    QString clipboard;
    std::function<void(const Message &)> onMessage;
};
