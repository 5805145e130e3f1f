#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <qcoro/qcorotask.h>

class CookieJar;
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

// The cloud-disk sign-in window: the cloud disk's own pages in an embedded browser. It hides
// itself once a loaded page, fetched anew with the shared cookies, shows the user signed in.
class SignInWindow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignInWindow)

public:
    SignInWindow(WebClient &web, QString cloudDiskHost, QWidget *parent = nullptr);
    ~SignInWindow() override;

    QWebEngineView *browser() const { return m_view; }
    QWebEngineProfile *profile() const { return m_profile; }
    // Shows the start page, modal (blocking the main window's input) or not.
    void open(bool modal);

Q_SIGNALS:
    void signedIn();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QCoro::Task<> checkSignedIn();

    WebClient &m_web;
    const QString m_startAddress;
    QWebEngineProfile *m_profile;
    QWebEngineView *m_view;
};
