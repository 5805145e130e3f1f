#include "desktop/systemdesktop.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

void SystemDesktop::message(QWidget *parent, Icon icon, const QString &title, const QString &text,
                            const QString &details) {
    const auto boxIcon = icon == Icon::Information ? QMessageBox::Information
                         : icon == Icon::Warning   ? QMessageBox::Warning
                                                   : QMessageBox::NoIcon;
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
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
