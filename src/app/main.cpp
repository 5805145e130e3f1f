#include "desktop.h"
#include "mainwindow.h"
#include "sites.h"
#include "webclient.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char *argv[]) {
    // Chromium's sandbox refuses to start as root; off only then.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Giftvane"));

    SystemDesktop desktop;
    WebClient web;
    MainWindow window({&desktop, &web, SiteAddresses::fromEnvironment()});
    QObject::connect(
        &window, &MainWindow::programEnd, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    auto startup = window.start();
    return QApplication::exec();
}
