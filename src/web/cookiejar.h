#pragma once

#include <QNetworkCookie>
#include <QNetworkCookieJar>

// The program's one cookie store. Cookies go only to the hosts that set them (standard
// domain matching); the sign-in browser mirrors its own store into this one and back.
class CookieJar final : public QNetworkCookieJar {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CookieJar)

public:
    explicit CookieJar(QObject *parent = nullptr);

    QList<QNetworkCookie> cookies() const { return allCookies(); }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) override;

    // Cookies kept from the origin put back as they were (domain, path and flags unchanged),
    // less those the origin could not have set (another host's, a public suffix's); returns
    // the ones put back. The sign-in browser follows, as it does for cookies taken away.
    QList<QNetworkCookie> restoreCookies(const QList<QNetworkCookie> &cookies, const QUrl &origin);
    void removeCookies(const QList<QNetworkCookie> &cookies);

Q_SIGNALS:
    // Cookies that a reply to one of the program's own requests set.
    void cookiesReceived(const QList<QNetworkCookie> &cookies, const QUrl &url);
    void cookiesRestored(const QList<QNetworkCookie> &cookies);
    void cookiesRemoved(const QList<QNetworkCookie> &cookies);
};
