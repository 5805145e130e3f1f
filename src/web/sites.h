#pragma once

#include <QString>
#include <QUrl>

// Base addresses of the outside sites, without a trailing slash. Compiled-in defaults, each
// overridable by its GIFTVANE_… environment variable.
struct SiteAddresses {
    QString listing;   // GIFTVANE_LISTING_SITE
    QString share;     // GIFTVANE_SHARE_SITE
    QString cloudDisk; // GIFTVANE_CLOUD_DISK_HOST
    QString update;    // GIFTVANE_UPDATE_SERVER
    QString forum;     // GIFTVANE_FORUM_SITE
    QString support;   // GIFTVANE_SUPPORT_SITE

    static SiteAddresses compiledDefaults();
    static SiteAddresses fromEnvironment();
};

// The link resolved against the site as a URL reference, as a browser would follow it; empty
// when it would leave the site (another scheme, host or port) or is no address at all. An
// ordinary path ("/libao/123.html") gives the site's address followed by that path.
QString resolveOnSite(const QString &site, const QString &link);

// Same scheme, host and port (the scheme's own when none is given).
bool sameOrigin(const QUrl &a, const QUrl &b);
