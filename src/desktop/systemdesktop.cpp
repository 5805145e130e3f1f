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

QString SystemDesktop::saveFileName(QWidget *parent, const QString &title, const QString &filter) {
    return QFileDialog::getSaveFileName(parent, title, {}, filter);
}

void SystemDesktop::openUrl(const QUrl &url) {
    QDesktopServices::openUrl(url);
}

void SystemDesktop::setClipboardText(const QString &text) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}
