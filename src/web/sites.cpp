#include "web/sites.h"

#include <QSettings>
#include <QUrl>
#include <QtGlobal>

namespace {

// Where each address comes from: its variable, its key in the settings file, its default.
struct Source {
    const char *variable;
    const char *key;
    const char *fallback;
    QString SiteAddresses::*field;
};
constexpr Source kSources[] = {
    {"GIFTVANE_LISTING_SITE", "sites/listing", GIFTVANE_DEFAULT_LISTING_SITE, &SiteAddresses::listing},
    {"GIFTVANE_SHARE_SITE", "sites/share", GIFTVANE_DEFAULT_SHARE_SITE, &SiteAddresses::share},
    {"GIFTVANE_CLOUD_DISK_HOST", "sites/cloudDisk", GIFTVANE_DEFAULT_CLOUD_DISK_HOST,
     &SiteAddresses::cloudDisk},
    {"GIFTVANE_UPDATE_SERVER", "sites/update", GIFTVANE_DEFAULT_UPDATE_SERVER, &SiteAddresses::update},
    {"GIFTVANE_FORUM_SITE", "sites/forum", GIFTVANE_DEFAULT_FORUM_SITE, &SiteAddresses::forum},
    {"GIFTVANE_SUPPORT_SITE", "sites/support", GIFTVANE_DEFAULT_SUPPORT_SITE, &SiteAddresses::support},
};

// The address and where it was found: the variable, the settings key, or nowhere (the default).
QString addressOf(const Source &source, const QSettings *settings, QString *foundIn = nullptr) {
    QString value = qEnvironmentVariable(source.variable);
    QString where = QString::fromLatin1(source.variable);
    if (value.isEmpty() && settings) {
        value = settings->value(QString::fromLatin1(source.key)).toString().trimmed();
        where = QString::fromLatin1(source.key) + u" in " + settings->fileName();
    }
    if (value.isEmpty()) {
        value = QString::fromUtf8(source.fallback);
        where.clear();
    }
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    if (foundIn)
        *foundIn = where;
    return value;
}

SiteAddresses addresses(const QSettings *settings) {
    SiteAddresses out;
    for (const Source &source : kSources)
        out.*source.field = addressOf(source, settings);
    return out;
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
    return addresses(nullptr);
}

SiteAddresses SiteAddresses::configured(const QSettings &settings) {
    return addresses(&settings);
}

QString SiteAddresses::whyUnusable(const QSettings *settings) {
    for (const Source &source : kSources) {
        QString where;
        const QString value = addressOf(source, settings, &where);
        const QUrl url(value, QUrl::StrictMode);
        QString problem;
        if (!url.isValid() || url.host().isEmpty() || (url.scheme() != u"http" && url.scheme() != u"https"))
            problem = u"is not an http or https address: \"" + value + u'"';
        else if (!url.userInfo().isEmpty())
            problem =
                u"carries a user name or password, which would be sent to every page: \"" + value + u'"';
        if (!problem.isEmpty())
            return (where.isEmpty() ? QStringLiteral("the compiled-in address") : where) + u" " + problem;
    }
    return {};
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
