// Keeps one cookie through the real desktop's secret store, as the window would, and prints
// what the store answered: "<status>\t<reason>". The tests run it where the store is missing
// or locked, which one process cannot be in turn. An argument names the cloud disk (its
// address) whose session is kept; https://115.com otherwise.
#include "desktop/systemdesktop.h"
#include "receive/keptsignin.h"
#include "web/cookiejar.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char *statusName(SecretAnswer::Status status) {
    switch (status) {
    case SecretAnswer::Status::Done:
        return "done";
    case SecretAnswer::Status::NotFound:
        return "not-found";
    case SecretAnswer::Status::NoStore:
        return "no-store";
    case SecretAnswer::Status::Failed:
        break;
    }
    return "failed";
}

QCoro::Task<> keepOne(KeptSignIn &kept) {
    const KeptSignIn::Result result = co_await kept.save();
    std::printf("%s\t%s\n", statusName(result.status), result.reason.toUtf8().constData());
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    SystemDesktop desktop;
    CookieJar jar;
    const QStringList arguments = QCoreApplication::arguments();
    const QString cloudDisk = arguments.value(1, QStringLiteral("https://115.com"));
    QNetworkCookie session("UID", "probe");
    session.setDomain(QUrl(cloudDisk).host());
    session.setPath(QStringLiteral("/"));
    jar.restoreCookies({session}, QUrl(cloudDisk));
    KeptSignIn kept(desktop, jar, cloudDisk);
    auto task = keepOne(kept);
    return QCoreApplication::exec();
}
