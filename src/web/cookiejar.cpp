#include "web/cookiejar.h"

CookieJar::CookieJar(QObject *parent)
    : QNetworkCookieJar(parent) {}

bool CookieJar::setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) {
    const bool added = QNetworkCookieJar::setCookiesFromUrl(cookieList, url);
    if (added)
        Q_EMIT cookiesReceived(cookieList, url);
    return added;
}
