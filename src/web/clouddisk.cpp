#include "web/clouddisk.h"

namespace clouddisk {

QString startAddress(const QString &base) {
    return base;
}

QString giftPageAddress(const QString &base, const QString &code) {
    return base + u"/lb/" + code;
}

QString receiveAddress(const QString &base) {
    return base + u"/?ct=filegift&ac=receive";
}

QString receiveBody(const QString &code) {
    return u"referer=&gift_code=" + code;
}

} // namespace clouddisk
