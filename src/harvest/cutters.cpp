#include "harvest/cutters.h"

#include "text/text.h"
#include "web/clouddisk.h"
#include "web/listingsite.h"
#include "web/sharesite.h"
#include "web/sites.h"

#include <QMultiHash>

using text::TextBefore;

namespace cutters {

namespace {

constexpr QStringView kQuote = u"\"";
constexpr QStringView kUnknownSize = u"未知";

// The markers that open the blocks of a page, one more than the rows taken, so that the last
// block taken knows where it ends.
struct Blocks {
    QStringView page;
    qsizetype markerLength;
    QList<qsizetype> starts;
    qsizetype count; // blocks taken

    Blocks(QStringView text, QStringView marker, qsizetype maxRows)
        : page(text)
        , markerLength(marker.size())
        , starts(text::markerPositions(text, marker, maxRows + 1))
        , count(qMin(starts.size(), maxRows)) {}

    bool truncated() const { return starts.size() > count; }
    qsizetype end(qsizetype k) const { return k + 1 < starts.size() ? starts[k + 1] : page.size(); }
    // Block k's own text, after its opening marker.
    QStringView body(qsizetype k) const {
        const qsizetype from = starts[k] + markerLength;
        return page.sliced(from, end(k) - from);
    }
};

// Where a field's markers stand, up to the end of the last block taken.
QList<qsizetype> fieldMarkers(const Blocks &blocks, QStringView marker) {
    QList<qsizetype> found;
    if (blocks.count == 0)
        return found;
    const qsizetype scanEnd = blocks.end(blocks.count - 1);
    for (qsizetype at = blocks.page.indexOf(marker); at >= 0 && at < scanEnd;
         at = blocks.page.indexOf(marker, at + marker.size()))
        found.append(at);
    return found;
}

// Whether titles and sizes stand before their block's info marker, or after it. A title anchor
// that links where an info block does says which for that block, and most of them decide. A
// page without such anchors tells by its ends: a field ahead of the first info marker, or none
// past the last, means before (as a page whose ends tell nothing is taken).
bool fieldsBeforeInfo(const Blocks &blocks, const QStringList &links, const QList<qsizetype> &titles,
                      const QList<qsizetype> &sizes) {
    const QStringView page = blocks.page;
    QMultiHash<QString, qsizetype> blockOf;
    for (qsizetype k = 0; k < links.size(); ++k) {
        if (!links[k].isEmpty())
            blockOf.insert(links[k], k);
    }
    qsizetype votesBefore = 0, votesAfter = 0;
    for (const qsizetype at : titles) {
        // The title's own anchor tag: from its "<" to the marker.
        const qsizetype tag = page.first(at).lastIndexOf(u'<');
        const QStringView anchor = tag < 0 ? QStringView() : page.sliced(tag, at - tag);
        // The link runs to the attribute's closing quote, whatever it holds before it.
        const qsizetype attribute = anchor.indexOf(u"href=\"");
        const QString href =
            attribute < 0 ? QString() : TextBefore(anchor.sliced(attribute + 6), kQuote).toString();
        qsizetype nearest = -1;
        for (auto it = blockOf.constFind(href); !href.isEmpty() && it != blockOf.cend() && it.key() == href;
             ++it) {
            if (nearest < 0 || qAbs(blocks.starts[*it] - at) < qAbs(blocks.starts[nearest] - at))
                nearest = *it;
        }
        if (nearest >= 0)
            ++(at < blocks.starts[nearest] ? votesBefore : votesAfter);
    }
    if (votesBefore != votesAfter)
        return votesBefore > votesAfter;
    const qsizetype first = blocks.starts.first(), last = blocks.starts[blocks.count - 1];
    const auto ahead = [first](const QList<qsizetype> &found) {
        return !found.isEmpty() && found.first() < first;
    };
    const auto past = [last](const QList<qsizetype> &found) {
        return !found.isEmpty() && found.last() > last;
    };
    return ahead(titles) || ahead(sizes) || !(past(titles) || past(sizes));
}

// One field of every block: the text after the field's marker up to the terminator, cut as
// the page-wide rule cuts it (within the piece up to the next field marker), but taken only
// from the block's own stretch of page: before its info marker, back to the one before, or
// after it, up to the next.
QStringList fieldOfEachBlock(const Blocks &blocks, const QList<qsizetype> &found, QStringView marker,
                             QStringView terminator, bool before) {
    QStringList values(blocks.count);
    const QStringView page = blocks.page;
    const auto valueAt = [&](qsizetype j) {
        const qsizetype from = found[j] + marker.size();
        qsizetype next = j + 1 < found.size() ? found[j + 1] : page.indexOf(marker, from);
        if (next < 0)
            next = page.size();
        return TextBefore(page.sliced(from, next - from), terminator).toString();
    };
    qsizetype j = 0;
    for (qsizetype k = 0; k < blocks.count; ++k) {
        qsizetype from, to;
        if (before) {
            from = k == 0 ? 0 : blocks.starts[k - 1] + blocks.markerLength;
            to = blocks.starts[k];
        } else {
            from = blocks.starts[k] + blocks.markerLength;
            to = blocks.end(k);
        }
        while (j < found.size() && found[j] < from)
            ++j;
        qsizetype chosen = -1;
        // Before: the marker nearest its info marker; after: the first one past it.
        for (qsizetype m = j; m < found.size() && found[m] + marker.size() <= to; ++m) {
            chosen = m;
            if (!before)
                break;
        }
        if (chosen >= 0)
            values[k] = valueAt(chosen);
    }
    return values;
}

// "1,024.5 MB" and more: what is longer is no size.
constexpr qsizetype kLongestSizeWritten = 24;

// A detail link is kept only when it stays on the listing site.
ListedResource listed(QString title, QString size, QStringView link, const QString &listingSite) {
    const bool onSite = link.isEmpty() || !resolveOnSite(listingSite, link.toString()).isEmpty();
    return {std::move(title), std::move(size), onSite ? link.toString() : QString(), !onSite};
}

QString stripTags(QString title) {
    for (const QStringView pattern : listingsite::kTagPatterns)
        title = text::RegexReplaceAll(title, pattern.toString(), {});
    return title;
}

} // namespace

ListedPage cutListingPage(QStringView page, const QString &listingSite, qsizetype maxRows) {
    using namespace listingsite;
    const Blocks blocks(page, kInfoMarker, maxRows);
    QStringList links;
    for (qsizetype k = 0; k < blocks.count; ++k)
        links.append(TextBefore(text::PieceAt(blocks.body(k), kLinkMarker, 1), kQuote).toString());
    const QList<qsizetype> titleMarkers = fieldMarkers(blocks, kTitleMarker);
    const QList<qsizetype> sizeMarkers = fieldMarkers(blocks, kSizeMarker);
    ListedPage out;
    out.truncated = blocks.truncated();
    if (blocks.count == 0)
        return out;
    const bool before = fieldsBeforeInfo(blocks, links, titleMarkers, sizeMarkers);
    const QStringList titles = fieldOfEachBlock(blocks, titleMarkers, kTitleMarker, u"<", before);
    const QStringList sizes = fieldOfEachBlock(blocks, sizeMarkers, kSizeMarker, u" ", before);
    const QStringList written = fieldOfEachBlock(blocks, sizeMarkers, kSizeMarker, u"<", before);
    out.rows.reserve(blocks.count);
    for (qsizetype k = 0; k < blocks.count; ++k) {
        out.rows.append(listed(titles[k], sizes[k], links[k], listingSite));
        out.rows.last().sizeWritten = written[k].left(kLongestSizeWritten).trimmed();
    }
    return out;
}

ListedPage cutSearchPage(QStringView page, const QString &listingSite, qsizetype maxRows) {
    using namespace listingsite;
    // The link belongs to the heading it opens: a heading without one (no hit) has none.
    const QStringView linkOpening = kSearchLinkMarker.sliced(kHeadingMarker.size());
    const Blocks headings(page, kHeadingMarker, maxRows);
    ListedPage out;
    out.truncated = headings.truncated();
    out.rows.reserve(headings.count);
    for (qsizetype k = 0; k < headings.count; ++k) {
        const QStringView heading = headings.body(k);
        const QStringView link = heading.startsWith(linkOpening)
                                     ? TextBefore(heading.sliced(linkOpening.size()), kQuote)
                                     : QStringView();
        out.rows.append(listed(stripTags(TextBefore(heading, kTitleEnd).toString()), kUnknownSize.toString(),
                               link, listingSite));
    }
    return out;
}

ListedPage cutSharePage(QStringView page, const QString &shareSite, qsizetype maxRows) {
    using namespace sharesite;
    const qsizetype marks = text::countOf(page, kCountMarker, maxRows + 1);
    const qsizetype count = qMin(marks, maxRows);
    const text::MarkerSplit cells(page, kCellMarker, count);
    const QString prefix = fileLinkPrefix(shareSite);
    const QString linkPattern = kLinkTagPattern.toString();
    ListedPage out;
    out.truncated = marks > maxRows;
    out.rows.reserve(count);
    for (qsizetype i = 1; i <= count; ++i) {
        if (i > cells.markerCount()) {
            out.rows.append(ListedResource{});
            continue;
        }
        const QStringView cell = cells.piece(i);
        const qsizetype close = cell.indexOf(u"</");
        const QString anchor = u"<a " + (close < 0 ? QStringView() : cell.first(close + 1)) + u"/a>";
        const QString link = TextBefore(text::PieceAt(anchor, kAnchorLinkMarker, 1), kQuote).toString();
        QString id = link;
        id.remove(prefix);
        id.remove(kFileLinkSuffix.toString());
        const QString title = text::RegexReplaceAll(anchor, linkPattern, {});
        const QString size = TextBefore(text::PieceAt(title, kSizeOpen, 1), kSizeClose).toString();
        // A file link that leaves the share site names no resource of it: no request for it.
        const bool onSite = !resolveOnSite(shareSite, link).isEmpty();
        out.rows.append({title, size, onSite ? id : QString(), !onSite});
    }
    return out;
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
