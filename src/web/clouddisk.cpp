#include "web/clouddisk.h"

#include "text/text.h"

namespace clouddisk {

QString startAddress(const QString &base) {
    return base;
}

QString giftPageAddress(const QString &base, const QString &code) {
    // "." and ".." would still move the path up however they are written (Qt takes %2E for
    // a dot): a code of dots alone is no code.
    const bool dotsOnly = !code.isEmpty() && code.count(u'.') == code.size();
    return base + u"/lb/" + (dotsOnly ? QString() : text::PercentEncodeUtf8(code));
}

QString receiveAddress(const QString &base) {
    return base + u"/?ct=filegift&ac=receive";
}

QString receiveBody(const QString &code) {
    return u"referer=&gift_code=" + text::PercentEncodeUtf8(code);
}

} // namespace clouddisk
