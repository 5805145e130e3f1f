#pragma once

#include <QString>
#include <QUrl>

#include <memory>

class QSettings;

// The user's settings file, in INI form in the user's configuration folder:
// ~/.config/Giftvane/Giftvane.ini ($XDG_CONFIG_HOME/Giftvane/Giftvane.ini). The window and
// giftvane-harvest read the same file.
std::unique_ptr<QSettings> openUserSettings();

// Base addresses of the outside sites, without a trailing slash. Each is taken from its
// GIFTVANE_… environment variable when set, else from the settings file's group "sites" (key
// in brackets), else the compiled-in default.
struct SiteAddresses {
    QString listing;   // GIFTVANE_LISTING_SITE     [sites/listing]
    QString share;     // GIFTVANE_SHARE_SITE       [sites/share]
    QString cloudDisk; // GIFTVANE_CLOUD_DISK_HOST  [sites/cloudDisk]
    QString update;    // GIFTVANE_UPDATE_SERVER    [sites/update]
    QString forum;     // GIFTVANE_FORUM_SITE       [sites/forum]
    QString support;   // GIFTVANE_SUPPORT_SITE     [sites/support]

    static SiteAddresses compiledDefaults();
    // Variables, then defaults: no settings file (the benchmarks).
    static SiteAddresses fromEnvironment();
    // Variables, then the given settings, then defaults.
    static SiteAddresses configured(const QSettings &settings);
    // Variables, then the user's settings file, then defaults: how the programs read them.
    static SiteAddresses configured();
    // Why an address the programs would use cannot be a site's (not an http or https address
    // with a host, or one with a user name or password), naming the variable or setting it
    // came from; empty when every one is fine.
    static QString whyUnusable(const QSettings *settings);
};

// The link resolved against the site as a URL reference, as a browser would follow it; empty
// when it would leave the site (another scheme, host or port) or is no address at all. An
// ordinary path ("/libao/123.html") gives the site's address followed by that path.
QString resolveOnSite(const QString &site, const QString &link);

// Same scheme, host and port (the scheme's own when none is given).
bool sameOrigin(const QUrl &a, const QUrl &b);
