#include "harvest/cutters.h"

#include "text/text.h"
#include "web/clouddisk.h"
#include "web/listingsite.h"
#include "web/sharesite.h"

using text::MarkerSplit;
using text::TextBefore;

namespace cutters {

namespace {
constexpr QStringView kQuote = u"\"";
constexpr QStringView kUnknownSize = u"未知";
} // namespace

QList<ListedResource> cutListingPage(QStringView page) {
    using namespace listingsite;
    const MarkerSplit info(page, kInfoMarker);
    const MarkerSplit titles(page, kTitleMarker);
    const MarkerSplit sizes(page, kSizeMarker);
    QList<ListedResource> rows;
    rows.reserve(info.markerCount());
    for (qsizetype i = 1; i <= info.markerCount(); ++i) {
        const QStringView link = TextBefore(text::PieceAt(info.piece(i), kLinkMarker, 1), kQuote);
        rows.append({TextBefore(titles.piece(i), u"<").toString(),
                     TextBefore(sizes.piece(i), u" ").toString(), link.toString()});
    }
    return rows;
}

QList<ListedResource> cutSearchPage(QStringView page) {
    using namespace listingsite;
    const MarkerSplit headings(page, kHeadingMarker);
    const MarkerSplit links(page, kSearchLinkMarker);
    QList<ListedResource> rows;
    rows.reserve(headings.markerCount());
    for (qsizetype i = 1; i <= headings.markerCount(); ++i) {
        QString title = TextBefore(headings.piece(i), kTitleEnd).toString();
        for (const QStringView pattern : kTagPatterns)
            title = text::RegexReplaceAll(title, pattern.toString(), {});
        rows.append({title, kUnknownSize.toString(), TextBefore(links.piece(i), kQuote).toString()});
    }
    return rows;
}

QList<ListedResource> cutSharePage(QStringView page, const QString &shareSite) {
    using namespace sharesite;
    const qsizetype count = text::CountOf(page, kCountMarker);
    const MarkerSplit cells(page, kCellMarker);
    const QString prefix = fileLinkPrefix(shareSite);
    const QString linkPattern = kLinkTagPattern.toString();
    QList<ListedResource> rows;
    rows.reserve(count);
    for (qsizetype i = 1; i <= count; ++i) {
        if (i > cells.markerCount()) {
            rows.append(ListedResource{});
            continue;
        }
        const QStringView cell = cells.piece(i);
        const qsizetype close = cell.indexOf(u"</");
        const QString anchor = u"<a " + (close < 0 ? QStringView() : cell.first(close + 1)) + u"/a>";
        QString id = TextBefore(text::PieceAt(anchor, kAnchorLinkMarker, 1), kQuote).toString();
        id.remove(prefix);
        id.remove(kFileLinkSuffix.toString());
        const QString title = text::RegexReplaceAll(anchor, linkPattern, {});
        const QString size = TextBefore(text::PieceAt(title, kSizeOpen, 1), kSizeClose).toString();
        rows.append({title, size, id});
    }
    return rows;
}

QString cutDownloadQuery(QStringView detailPage) {
    return TextBefore(text::PieceAt(detailPage, listingsite::kDownloadMarker, 1), kQuote).toString();
}

QString cutGiftCode(QStringView page) {
    return TextBefore(text::PieceAt(page, listingsite::kCodeMarker, 1), u"&").toString();
}

QString giftMark(QStringView giftPage) {
    for (const QStringView marker : clouddisk::kVoidMarkers) {
        if (giftPage.contains(marker))
            return clouddisk::kVoidMark.toString();
    }
    return clouddisk::kValidMark.toString();
}

} // namespace cutters
