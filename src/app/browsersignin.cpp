#include "app/browsersignin.h"

#include "web/clouddisk.h"
#include "web/cookiejar.h"
#include "web/webclient.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QNetworkCookie>
#include <QQuickWindow>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

QUrl originOf(const QNetworkCookie &cookie) {
    QString host = cookie.domain();
    if (host.startsWith(QLatin1Char('.')))
        host.remove(0, 1);
    QUrl url;
    url.setScheme(cookie.isSecure() ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(host);
    url.setPath(cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path());
    return url;
}

} // namespace

CookieBridge::CookieBridge(QWebEngineCookieStore *store, CookieJar *jar, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_jar(jar) {
    // The browser reports a changed cookie as removed then added, keyed by name, domain and
    // path, which is how the jar keys them too.
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie &cookie) {
        if (m_jar)
            m_jar->insertCookie(cookie);
    });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie &cookie) {
        if (m_jar)
            m_jar->deleteCookie(cookie);
    });
    connect(jar, &CookieJar::cookiesReceived, this,
            [this](const QList<QNetworkCookie> &cookies, const QUrl &url) {
                for (QNetworkCookie cookie : cookies) {
                    cookie.normalize(url);
                    copyToBrowser(cookie, url);
                }
            });
    // A kept sign-in put back, and a sign-out: the browser follows at once.
    connect(jar, &CookieJar::cookiesRestored, this, [this](const QList<QNetworkCookie> &cookies) {
        for (const QNetworkCookie &cookie : cookies)
            copyToBrowser(cookie, originOf(cookie));
    });
    connect(jar, &CookieJar::cookiesRemoved, this, [this](const QList<QNetworkCookie> &cookies) {
        for (const QNetworkCookie &cookie : cookies)
            m_store->deleteCookie(cookie, originOf(cookie));
    });
    for (const QNetworkCookie &cookie : jar->cookies())
        copyToBrowser(cookie, originOf(cookie));
}

void CookieBridge::copyToBrowser(const QNetworkCookie &cookie, const QUrl &origin) {
    m_store->setCookie(cookie, origin);
}

BrowserSignInWindow::BrowserSignInWindow(WebClient &web, QString cloudDiskHost)
    : SignInWindow(nullptr, Qt::Window)
    , m_web(web)
    , m_startAddress(clouddisk::startAddress(cloudDiskHost))
    , m_profile(new QWebEngineProfile(this)) // off the record: nothing survives the run
    , m_view(new QWebEngineView(this))
    , m_keep(new QCheckBox(QStringLiteral("保持登录"), this)) {
    setObjectName(QStringLiteral("Form3"));
    m_view->setObjectName(QStringLiteral("WebBrowser1"));
    m_keep->setObjectName(QStringLiteral("keepSignIn"));
    setKeepUnavailable({});
    connect(m_keep, &QCheckBox::clicked, this, &SignInWindow::keepSignInChanged);
    // The page fills the window above a thin bar, so the box never covers any of it.
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(8, 2, 8, 2);
    bar->addWidget(m_keep);
    bar->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addLayout(bar);
    setWindowTitle(QStringLiteral("登录115网盘"));
    setWindowIcon(QIcon());
    setAttribute(Qt::WA_DeleteOnClose);
    new CookieBridge(m_profile->cookieStore(), web.cookieJar(), this);
    m_view->setPage(new QWebEnginePage(m_profile, m_view));
    connect(m_view, &QWebEngineView::loadFinished, this, [this] { checkSignedIn(); });
    // A sign-in may finish inside a frame, which reports no page load of the window's own: a
    // change of the cloud disk's cookies is checked as well.
    connect(m_profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie &cookie) {
                QString domain = cookie.domain();
                if (domain.startsWith(u'.'))
                    domain.remove(0, 1);
                const QString host = QUrl(m_startAddress).host();
                // A sign-in sets several cookies at once: one check for all of them.
                if ((host == domain || host.endsWith(u'.' + domain)) && !m_cookieCheck.isActive())
                    m_cookieCheck.start();
            });
    m_cookieCheck.setSingleShot(true);
    m_cookieCheck.setInterval(100);
    connect(&m_cookieCheck, &QTimer::timeout, this, [this] { checkSignedIn(); });
}

BrowserSignInWindow::~BrowserSignInWindow() {
    m_scope.abort();
    // The page must go before its profile.
    delete m_view;
}

void BrowserSignInWindow::open(bool modal) {
    if (isVisible()) {
        // Open already: only brought to the front, so a sign-in in progress is not reloaded.
        raise();
        activateWindow();
        return;
    }
    setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
    ++m_opening;
    m_view->setVisible(true);
    m_view->load(QUrl(m_startAddress));
    showMaximized();
    raise();
    activateWindow();
}

void BrowserSignInWindow::setKeepSignIn(bool keep) {
    m_keep->setChecked(keep);
}

bool BrowserSignInWindow::keepSignIn() const {
    return m_keep->isChecked();
}

void BrowserSignInWindow::setKeepUnavailable(const QString &why) {
    m_keep->setEnabled(why.isEmpty());
    m_keep->setToolTip(why.isEmpty() ? QStringLiteral("登录信息保存在系统密钥环中，下次启动时自动登录")
                                     : why);
}

void BrowserSignInWindow::closeEvent(QCloseEvent *event) {
    event->accept(); // deleted on close: the next sign-in starts afresh
}

QCoro::Task<> BrowserSignInWindow::checkSignedIn() {
    const QString address = m_view->url().toString();
    const int opening = m_opening;
    const Fetched page = co_await m_web.FetchPageText(address, &m_scope);
    // A sign-in already seen (the window hidden by an earlier check) is not announced again,
    // and a check from before the user signed out and opened the window again is no sign-in:
    // its request may have carried the cookies the sign-out took.
    if (m_scope.isAborted() || opening != m_opening || !page.text.contains(clouddisk::kSignedInMarker) ||
        !isVisible())
        co_return;
    m_view->setVisible(false);
    hide();
    Q_EMIT signedIn(m_keep->isEnabled() && m_keep->isChecked());
}

SignInWindow *BrowserSignInPlugin::create(WebClient &web, const QString &cloudDiskHost) {
    // The engine expects its graphics settled before the application starts. Composited in
    // software, with the shared context made by the loader, it loads neither itself nor OpenGL
    // until the user first signs in: the idle window stays small. Settled once: a second
    // request, after the first window, is refused with a warning.
    if (!m_graphicsSettled) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        m_graphicsSettled = true;
    }
    return new BrowserSignInWindow(web, cloudDiskHost);
}
