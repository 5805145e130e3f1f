#include "app/signinwindow.h"

#include "desktop/accessibility.h"
#include "receive/keptsignin.h"

#include <QDir>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QPluginLoader>

Q_LOGGING_CATEGORY(lcReceive, "giftvane.receive")

// Exported by Qt GUI: the context that the browser engine shares, normally made when the
// application starts.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {

// The browser engine looks for this context as soon as its library loads, which is when the
// plugin loads; made here, it exists by then without being made at every start.
void ensureShareContext() {
    if (QOpenGLContext::globalShareContext())
        return;
    auto *context = new QOpenGLContext(qApp);
    if (!context->create())
        qCWarning(lcReceive, "No OpenGL context for the sign-in browser; it may not show its pages.");
    qt_gl_set_global_share_context(context);
}

} // namespace

SignInLoad createSignInWindow(WebClient &web, const QString &cloudDiskHost, const QString &pluginPath) {
    // Beside the program's own folder, the same in the build tree and when installed.
    const QString path = pluginPath.isEmpty() ? QCoreApplication::applicationDirPath() +
                                                    u"/../lib/giftvane/plugins/giftvane-signin"
                                              : pluginPath;
    QPluginLoader loader(path);
    // Every symbol now: the plugin takes the core's from the program, and a missing one must
    // fail here, not at its first call.
    loader.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    const auto failed = [&loader, &path] {
        // The loader names the file only when it found one.
        QString why = loader.errorString();
        if (loader.fileName().isEmpty())
            why += u" (" + QDir::cleanPath(path) + u")";
        qCInfo(lcReceive) << "sign-in browser unavailable:" << why;
        return SignInLoad{nullptr, why};
    };
    // Read without loading the library: a file that is no plugin costs no graphics set-up.
    if (loader.metaData().isEmpty())
        return failed();
    ensureShareContext();
    presentAsWindow("SignInWindow");
    auto *factory = qobject_cast<SignInFactory *>(loader.instance());
    if (!factory)
        return failed();
    return {factory->create(web, cloudDiskHost), {}};
}

void attachKeptSignIn(KeptSignIn &kept, SignInWindow *window) {
    const auto showStore = [&kept, window] { window->setKeepUnavailable(kept.whyNoStore()); };
    showStore();
    QObject::connect(&kept, &KeptSignIn::storeChanged, window, showStore);
    QObject::connect(window, &SignInWindow::keepSignInChanged, &kept, [&kept](bool keep) {
        if (!keep)
            kept.discard();
    });
    if (kept.store() == KeptSignIn::Store::Unknown)
        kept.probe();
}
