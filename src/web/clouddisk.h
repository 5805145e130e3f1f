#pragma once

#include <QString>
#include <QStringView>

// What the program sends to the cloud disk and the markers it relies on in the replies.
namespace clouddisk {

QString startAddress(const QString &base);
// A code is percent-encoded into the path and the form body, so that text cut from a page can
// never change the path, the query or the form's fields; letters and digits go as they are.
QString giftPageAddress(const QString &base, const QString &code);
QString receiveAddress(const QString &base);
QString receiveBody(const QString &code);

inline constexpr QStringView kSignedInMarker = u"加载目录数据";
inline constexpr QStringView kVoidMarkers[] = {u"违规资源", u"无效"};
inline constexpr QStringView kValidMark = u"√";
inline constexpr QStringView kVoidMark = u"×";

// Receive replies, tested in this order; the success marker is the caller's.
inline constexpr QStringView kNotSignedInMarker = u"登录帐号";
inline constexpr QStringView kReceivedMarker = u"成功接收";
inline constexpr QStringView kBatchReceivedMarker = u"成功";
inline constexpr QStringView kMembersOnlyMarker = u"仅限VIP";
inline constexpr QStringView kUnderReviewMarker = u"审核";

} // namespace clouddisk
