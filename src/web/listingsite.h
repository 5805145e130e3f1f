#pragma once

#include <QString>
#include <QStringView>

// What the program sends to the listing site and the markers it relies on in the replies.
namespace listingsite {

enum class Section { Gifts, Codes }; // "/libao/" and "/tiquma/"

QString listingPageAddress(const QString &base, Section section, int page);
// The keyword is percent-encoded here (see text::PercentEncodeUtf8).
QString searchAddress(const QString &base, const QString &keyword);
// The detail path resolved against the site; empty when it would leave the site. An ordinary
// path ("/libao/123.html") is appended unchanged, an empty one asks for the site itself.
QString detailAddress(const QString &base, const QString &detailPath);
QString downloadAddress(const QString &base, const QString &query);

// Listing pages.
inline constexpr QStringView kInfoMarker = u"<span class=\"info\">";
inline constexpr QStringView kTitleMarker = u"class=\"title\" target=\"_blank\">";
inline constexpr QStringView kSizeMarker = u"<small>文件大小：</small>";
inline constexpr QStringView kLinkMarker = u"<a href=\"";
// Search pages.
inline constexpr QStringView kHeadingMarker = u"<h3>";
inline constexpr QStringView kSearchLinkMarker = u"<h3><a href=\"";
inline constexpr QStringView kTitleEnd = u"<sp";
inline constexpr QStringView kTagPatterns[] = {u"</?a[^<>]*>", u"</?font[^<>]*>", u"</?h3[^<>]*>"};
// Detail and download pages.
inline constexpr QStringView kDownloadMarker = u"<li><a href=\"/plus/download.php?";
inline constexpr QStringView kCodeMarker = u"gift_code=";

} // namespace listingsite
