#include "web/sites.h"

#include <QtGlobal>

namespace {

QString variableOr(const char *name, const char *fallback) {
    QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        value = QString::fromUtf8(fallback);
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

} // namespace

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
