#pragma once

#include <QString>
#include <QUrl>

class QWidget;

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
    // Opens the address in the user's browser, without waiting.
    virtual void openUrl(const QUrl &url) = 0;
    virtual void setClipboardText(const QString &text) = 0;

    void information(QWidget *parent, const QString &title, const QString &text) {
        message(parent, Icon::Information, title, text);
    }
};
