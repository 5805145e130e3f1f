#pragma once

#include <QString>
#include <QStringView>

// What the program sends to the share site and the markers it relies on in the replies.
namespace sharesite {

QString newResourcePageAddress(const QString &base, int page);
// The keyword is percent-encoded here (see text::PercentEncodeUtf8).
QString searchAddress(const QString &base, const QString &keyword);
QString findAddress(const QString &base);
// The resource id goes into the body twice, unencoded.
QString findBody(const QString &resourceId);
// What is stripped from a file link to leave the resource id.
QString fileLinkPrefix(const QString &base);
inline constexpr QStringView kFileLinkSuffix = u".html";

inline constexpr QStringView kCountMarker = u"<em>";
inline constexpr QStringView kCellMarker = u"<td><a ";
inline constexpr QStringView kAnchorLinkMarker = u"<a href=\"";
inline constexpr QStringView kLinkTagPattern = u"</?a[^<>]*>";
inline constexpr QStringView kSizeOpen = u" （";
inline constexpr QStringView kSizeClose = u"）";
inline constexpr QStringView kNoResultText = u"没有找到符合条件的资源";

} // namespace sharesite
