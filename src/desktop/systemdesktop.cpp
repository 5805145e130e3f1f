#include "desktop/systemdesktop.h"

#include "desktop/notifications.h"
#include "desktop/secretstore.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>

#include <memory>

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
    return saveFileNameProposing(parent, title, filter, mode, {});
}

QString SystemDesktop::saveFileNameProposing(QWidget *parent, const QString &title, const QString &filter,
                                             SaveMode mode, const QString &proposedName) {
    // The type box reads "文本文件", not "文本文件 (*.txt)"; the pattern still filters the list.
    QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
    if (mode == SaveMode::Append)
        options |= QFileDialog::DontConfirmOverwrite;
    const QString proposed =
        proposedName.isEmpty()
            ? QString()
            : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + u'/' + proposedName;
    return QFileDialog::getSaveFileName(parent, title, proposed, filter, nullptr, options);
}

void SystemDesktop::openUrl(const QUrl &url) {
    tryOpenUrl(url);
}

bool SystemDesktop::tryOpenUrl(const QUrl &url) {
    return QDesktopServices::openUrl(url);
}

void SystemDesktop::setClipboardText(const QString &text) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

QCoro::Task<SecretAnswer> SystemDesktop::writeSecret(const QString &key, const QByteArray &secret) {
    return secretstore::write(key, secret);
}

QCoro::Task<SecretAnswer> SystemDesktop::readSecret(const QString &key) {
    return secretstore::read(key);
}

QCoro::Task<SecretAnswer> SystemDesktop::deleteSecret(const QString &key) {
    return secretstore::remove(key);
}

bool SystemDesktop::loadQtChinese(QCoreApplication &app) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool loaded = false;
    // qt_zh_CN holds Qt's base and declarative texts; the browser's menus have their own.
    for (const char *catalogue : {"qt", "qtwebengine"}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            loaded = true;
        } else {
            delete translator;
        }
    }
    return loaded;
}

SystemDesktop::SystemDesktop() = default;
SystemDesktop::~SystemDesktop() = default;

bool SystemDesktop::notify(const QString &title, const QString &body, std::function<void()> activated,
                           const QString &action) {
    if (!m_notifications)
        m_notifications = std::make_unique<DesktopNotifications>();
    return m_notifications->show(title, body, std::move(activated), action);
}

void SystemDesktop::setTrayIcon(QSystemTrayIcon *tray) {
    if (!m_notifications)
        m_notifications = std::make_unique<DesktopNotifications>();
    m_notifications->setTrayIcon(tray);
}
