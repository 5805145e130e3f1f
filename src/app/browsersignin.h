#pragma once

#include "app/signinwindow.h"
#include "web/requestscope.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <qcoro/qcorotask.h>

class CookieJar;
class QCheckBox;
class QNetworkCookie;
class QUrl;
class QWebEngineCookieStore;
class QWebEngineProfile;
class QWebEngineView;
class WebClient;

// Mirrors the sign-in browser's cookie store and the program's cookie jar both ways, so that
// a sign-in made in the browser is carried by the program's own requests and the reverse.
class CookieBridge final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CookieBridge)

public:
    CookieBridge(QWebEngineCookieStore *store, CookieJar *jar, QObject *parent = nullptr);

private:
    void copyToBrowser(const QNetworkCookie &cookie, const QUrl &origin);

    QWebEngineCookieStore *m_store;
    QPointer<CookieJar> m_jar;
};

// The cloud disk's own pages in an embedded browser, in an off-the-record profile whose
// cookies mirror the program's jar, above a bar with "保持登录". It hides itself once the
// user is signed in.
class BrowserSignInWindow final : public SignInWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserSignInWindow)

public:
    BrowserSignInWindow(WebClient &web, QString cloudDiskHost);
    ~BrowserSignInWindow() override;

    void open(bool modal) override;
    void setKeepSignIn(bool keep) override;
    bool keepSignIn() const override;
    void setKeepUnavailable(const QString &why) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QCoro::Task<> checkSignedIn();

    WebClient &m_web;
    RequestScope m_scope; // the sign-in checks in flight
    QTimer m_cookieCheck; // a check after the cloud disk's cookies changed
    int m_opening = 0;    // which opening of the window a check belongs to
    const QString m_startAddress;
    QWebEngineProfile *m_profile;
    QWebEngineView *m_view;
    QCheckBox *m_keep; // "保持登录", in a bar below the page
};

class BrowserSignInPlugin final : public QObject, public SignInFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID GiftvaneSignInFactory_iid)
    Q_INTERFACES(SignInFactory)

public:
    SignInWindow *create(WebClient &web, const QString &cloudDiskHost) override;

private:
    bool m_graphicsSettled = false;
};
