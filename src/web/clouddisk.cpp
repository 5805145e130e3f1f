#include "web/clouddisk.h"

#include "text/text.h"

namespace clouddisk {

QString startAddress(const QString &base) {
    return base;
}

QString giftPageAddress(const QString &base, const QString &code) {
    return base + u"/lb/" + text::PercentEncodeUtf8(code);
}

QString receiveAddress(const QString &base) {
    return base + u"/?ct=filegift&ac=receive";
}

QString receiveBody(const QString &code) {
    return u"referer=&gift_code=" + text::PercentEncodeUtf8(code);
}

} // namespace clouddisk
