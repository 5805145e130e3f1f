#include "web/cookiejar.h"

CookieJar::CookieJar(QObject *parent)
    : QNetworkCookieJar(parent) {}

bool CookieJar::setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) {
    const bool added = QNetworkCookieJar::setCookiesFromUrl(cookieList, url);
    if (added)
        Q_EMIT cookiesReceived(cookieList, url);
    return added;
}

QList<QNetworkCookie> CookieJar::restoreCookies(const QList<QNetworkCookie> &cookies, const QUrl &origin) {
    // Inserted as they are: going through setCookiesFromUrl would make a host-only cookie a
    // domain cookie, sent to every subdomain.
    QList<QNetworkCookie> restored;
    for (const QNetworkCookie &cookie : cookies) {
        if (validateCookie(cookie, origin) && insertCookie(cookie))
            restored.append(cookie);
    }
    if (!restored.isEmpty())
        Q_EMIT cookiesRestored(restored);
    return restored;
}

void CookieJar::removeCookies(const QList<QNetworkCookie> &cookies) {
    for (const QNetworkCookie &cookie : cookies)
        deleteCookie(cookie);
    if (!cookies.isEmpty())
        Q_EMIT cookiesRemoved(cookies);
}
