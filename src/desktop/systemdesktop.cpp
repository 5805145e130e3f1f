#include "desktop/systemdesktop.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTextEdit>

std::unique_ptr<QMessageBox> SystemDesktop::messageBox(QWidget *parent, Icon icon, const QString &title,
                                                       const QString &text, const QString &details) {
    const auto boxIcon = icon == Icon::Information ? QMessageBox::Information
                         : icon == Icon::Warning   ? QMessageBox::Warning
                                                   : QMessageBox::NoIcon;
    auto box = std::make_unique<QMessageBox>(boxIcon, title, text, QMessageBox::Ok, parent);
    // Texts come from outside sites: shown as they are, never read as HTML (which would
    // style them and load what their images name).
    box->setTextFormat(Qt::PlainText);
    if (!details.isEmpty()) {
        box->setDetailedText(details.left(kDetailsLimit));
        // A reply is markup or data, often one long line: wrapped anywhere it lays out at once,
        // where wrapping at word boundaries searches a line without any for seconds.
        if (auto *shown = box->findChild<QTextEdit *>())
            shown->setWordWrapMode(QTextOption::WrapAnywhere);
    }
    return box;
}

void SystemDesktop::message(QWidget *parent, Icon icon, const QString &title, const QString &text,
                            const QString &details) {
    messageBox(parent, icon, title, text, details)->exec();
}

QString SystemDesktop::saveFileName(QWidget *parent, const QString &title, const QString &filter,
                                    SaveMode mode) {
    // The type box reads "文本文件", not "文本文件 (*.txt)"; the pattern still filters the list.
    QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
    if (mode == SaveMode::Append)
        options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(parent, title, {}, filter, nullptr, options);
}

void SystemDesktop::openUrl(const QUrl &url) {
    QDesktopServices::openUrl(url);
}

void SystemDesktop::setClipboardText(const QString &text) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}
