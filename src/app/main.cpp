#include "app/mainwindow.h"
#include "desktop/systemdesktop.h"
#include "ledger/ledger.h"
#include "web/sites.h"
#include "web/webclient.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char *argv[]) {
    // Chromium's sandbox refuses to start as root; off only then.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Giftvane"));
    // Launchers match the window to its installed entry, and so show the entry's icon; the
    // window's own icon stays cleared.
    QApplication::setDesktopFileName(QStringLiteral("io.github.giftvane.Giftvane"));

    SystemDesktop desktop;
    WebClient web;
    Ledger ledger(Ledger::defaultPath());
    int status = 0;
    {
        Services services{&desktop, &web, SiteAddresses::fromEnvironment()};
        services.ledger = &ledger;
        MainWindow window(services);
        ledger.open(); // after the window, whose log says so when the ledger cannot be used
        QObject::connect(
            &window, &MainWindow::programEnd, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        window.start();
        status = QApplication::exec();
    }
    // The window cancelled its jobs; each has ended and asked to be deleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
