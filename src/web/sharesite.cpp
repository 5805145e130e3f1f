#include "web/sharesite.h"

#include "text/text.h"

namespace sharesite {

QString newResourcePageAddress(const QString &base, int page) {
    return base + u"/new/" + QString::number(page) + u".html";
}

QString searchAddress(const QString &base, const QString &keyword) {
    return base + u"/index.html?s=200003&k=" + text::PercentEncodeUtf8(keyword);
}

QString findAddress(const QString &base) {
    return base + u"/api/find.aspx";
}

QString findBody(const QString &resourceId) {
    return u"button=%E6%8E%A5%E6%94%B6%E8%B5%84%E6%BA%90&ctl00%24content%24hidresourceid=" + resourceId +
           u"&hidfileid=" + resourceId;
}

QString fileLinkPrefix(const QString &base) {
    return base + u"/file/";
}

} // namespace sharesite
