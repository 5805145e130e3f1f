#include "web/sites.h"

#include <QSettings>
#include <QUrl>
#include <QtGlobal>

namespace {

QString variableOr(const char *name, const char *fallback, const QSettings *settings = nullptr,
                   const char *key = nullptr) {
    QString value = qEnvironmentVariable(name);
    if (value.isEmpty() && settings)
        value = settings->value(QString::fromLatin1(key)).toString().trimmed();
    if (value.isEmpty())
        value = QString::fromUtf8(fallback);
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

} // namespace

std::unique_ptr<QSettings> openUserSettings() {
    // Named here rather than taken from the application, so that both programs open the same
    // file whatever names they give themselves.
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Giftvane"),
                                       QStringLiteral("Giftvane"));
}

SiteAddresses SiteAddresses::compiledDefaults() {
    return {QString::fromUtf8(GIFTVANE_DEFAULT_LISTING_SITE),
            QString::fromUtf8(GIFTVANE_DEFAULT_SHARE_SITE),
            QString::fromUtf8(GIFTVANE_DEFAULT_CLOUD_DISK_HOST),
            QString::fromUtf8(GIFTVANE_DEFAULT_UPDATE_SERVER),
            QString::fromUtf8(GIFTVANE_DEFAULT_FORUM_SITE),
            QString::fromUtf8(GIFTVANE_DEFAULT_SUPPORT_SITE)};
}

SiteAddresses SiteAddresses::fromEnvironment() {
    return {variableOr("GIFTVANE_LISTING_SITE", GIFTVANE_DEFAULT_LISTING_SITE),
            variableOr("GIFTVANE_SHARE_SITE", GIFTVANE_DEFAULT_SHARE_SITE),
            variableOr("GIFTVANE_CLOUD_DISK_HOST", GIFTVANE_DEFAULT_CLOUD_DISK_HOST),
            variableOr("GIFTVANE_UPDATE_SERVER", GIFTVANE_DEFAULT_UPDATE_SERVER),
            variableOr("GIFTVANE_FORUM_SITE", GIFTVANE_DEFAULT_FORUM_SITE),
            variableOr("GIFTVANE_SUPPORT_SITE", GIFTVANE_DEFAULT_SUPPORT_SITE)};
}

SiteAddresses SiteAddresses::configured(const QSettings &settings) {
    return {variableOr("GIFTVANE_LISTING_SITE", GIFTVANE_DEFAULT_LISTING_SITE, &settings, "sites/listing"),
            variableOr("GIFTVANE_SHARE_SITE", GIFTVANE_DEFAULT_SHARE_SITE, &settings, "sites/share"),
            variableOr("GIFTVANE_CLOUD_DISK_HOST", GIFTVANE_DEFAULT_CLOUD_DISK_HOST, &settings,
                       "sites/cloudDisk"),
            variableOr("GIFTVANE_UPDATE_SERVER", GIFTVANE_DEFAULT_UPDATE_SERVER, &settings, "sites/update"),
            variableOr("GIFTVANE_FORUM_SITE", GIFTVANE_DEFAULT_FORUM_SITE, &settings, "sites/forum"),
            variableOr("GIFTVANE_SUPPORT_SITE", GIFTVANE_DEFAULT_SUPPORT_SITE, &settings, "sites/support")};
}

SiteAddresses SiteAddresses::configured() {
    return configured(*openUserSettings());
}

QString resolveOnSite(const QString &site, const QString &link) {
    const QUrl base(site, QUrl::StrictMode);
    // A first segment with a colon ("@host:port/x") makes QUrl call the reference invalid,
    // yet it resolves as browsers resolve it: a path on the site.
    const QUrl target = base.resolved(QUrl(link, QUrl::TolerantMode));
    if (!base.isValid() || !target.isValid())
        return {};
    if (!sameOrigin(target, base) || !target.userInfo().isEmpty())
        return {};
    // The site's address as given, then the rest: an ordinary path is appended unchanged.
    const QString path = target.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded);
    return site + (path.isEmpty() || path.startsWith(u'/') ? path : u'/' + path);
}

bool sameOrigin(const QUrl &a, const QUrl &b) {
    const auto port = [](const QUrl &url) { return url.port(url.scheme() == u"https" ? 443 : 80); };
    return a.scheme() == b.scheme() && a.host() == b.host() && port(a) == port(b);
}
