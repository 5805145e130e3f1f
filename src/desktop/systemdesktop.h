#pragma once

#include "desktop/desktop.h"

#include <memory>

class QMessageBox;

// The real desktop: message boxes, the file dialog, the default browser, the clipboard.
class SystemDesktop final : public Desktop {
public:
    // The box message() shows: plain text, one OK button.
    static std::unique_ptr<QMessageBox> messageBox(QWidget *parent, Icon icon, const QString &title,
                                                   const QString &text, const QString &details = {});

    void message(QWidget *parent, Icon icon, const QString &title, const QString &text,
                 const QString &details) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                         SaveMode mode) override;
    void openUrl(const QUrl &url) override;
    void setClipboardText(const QString &text) override;
};
