#include "receive/signinwindow.h"

#include "desktop/accessibility.h"

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

SignInWindow *createSignInWindow(WebClient &web, const QString &cloudDiskHost) {
    // Beside the program's own folder, the same in the build tree and when installed.
    QPluginLoader loader(QCoreApplication::applicationDirPath() +
                         u"/../lib/giftvane/plugins/giftvane-signin");
    // Every symbol now: the plugin takes the core's from the program, and a missing one must
    // fail here, not at its first call.
    loader.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    ensureShareContext();
    presentAsWindow("SignInWindow");
    auto *factory = qobject_cast<SignInFactory *>(loader.instance());
    if (!factory) {
        qCWarning(lcReceive) << "sign-in browser unavailable:" << loader.errorString();
        return nullptr;
    }
    return factory->create(web, cloudDiskHost);
}
