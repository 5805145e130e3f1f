#include "signinwindow.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPluginLoader>

Q_LOGGING_CATEGORY(lcReceive, "giftvane.receive")

SignInWindow *createSignInWindow(WebClient &web, const QString &cloudDiskHost) {
    QPluginLoader loader(QCoreApplication::applicationDirPath() + u"/giftvane-signin");
    auto *factory = qobject_cast<SignInFactory *>(loader.instance());
    if (!factory) {
        qCWarning(lcReceive) << "sign-in browser unavailable:" << loader.errorString();
        return nullptr;
    }
    return factory->create(web, cloudDiskHost);
}
