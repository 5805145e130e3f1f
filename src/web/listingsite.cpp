#include "web/listingsite.h"

#include "text/text.h"
#include "web/sites.h"

namespace listingsite {

QString listingPageAddress(const QString &base, Section section, int page) {
    const QStringView folder = section == Section::Gifts ? u"/libao/index_" : u"/tiquma/index_";
    return base + folder + QString::number(page) + u".html";
}

QString searchAddress(const QString &base, const QString &keyword) {
    return base + u"/plus/search.php?typeid=5&q=" + text::PercentEncodeUtf8(keyword) +
           u"&starttime=-1&channeltype=0&orderby=sortrank&pagesize=100&kwtype=1&searchtype=titlekeyword"
           u"&%E6%90%9C%E7%B4%A2=%E6%90%9C%E7%B4%A2";
}

QString detailAddress(const QString &base, const QString &detailPath) {
    return resolveOnSite(base, detailPath);
}

QString downloadAddress(const QString &base, const QString &query) {
    return base + u"/plus/download.php?" + query;
}

} // namespace listingsite
