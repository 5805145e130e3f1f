#pragma once

#include <QString>

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
