#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Pure page cutters: page text (and the site it came from) in, fields out. Each is linear in the size of its
// input, and cuts each resource's fields from that resource's own block of the page, so a block missing a
// field gives an empty field in its own row and never shifts another block's field into it.
namespace cutters {

// No page gives more rows than this; real pages hold 20 to 100 resources.
inline constexpr qsizetype kMaxRows = 1000;

struct ListedResource {
    QString title;
    QString size;
    QString key; // detail path (listing site) or resource id (share site)
    // The link leaves its site: the key is empty and no request is made for the row.
    bool foreign = false;
    // The size with its unit ("1.5 GB"), where the list shows only what comes before the blank;
    // for rules on sizes, not shown.
    QString sizeWritten;
    // As the list shows it.
    bool operator==(const ListedResource &other) const {
        return title == other.title && size == other.size && key == other.key && foreign == other.foreign;
    }
};

struct ListedPage {
    QList<ListedResource> rows;
    bool truncated = false; // the page held more than kMaxRows resources
};

// A listing page: one row per info block, with the title, size and detail link of that block.
// Blocks hold their title and size either before their info marker or after it; which of the
// two a page uses shows at its ends.
ListedPage cutListingPage(QStringView page, const QString &listingSite, qsizetype maxRows = kMaxRows);
// A search page: one row per heading, its title and the link that opens that heading; size "未知".
ListedPage cutSearchPage(QStringView page, const QString &listingSite, qsizetype maxRows = kMaxRows);
// A share-site result page, given the share site's base address (stripped from file links):
// as many rows as the page has "<em>" marks, each cut from one result cell.
ListedPage cutSharePage(QStringView page, const QString &shareSite, qsizetype maxRows = kMaxRows);

// Detail page: the query of the download link, empty when missing.
QString cutDownloadQuery(QStringView detailPage);
// Download page or find reply: the code between "gift_code=" and the next "&".
QString cutGiftCode(QStringView page);
// Gift page: "×" when void, "√" otherwise (also for an empty page).
QString giftMark(QStringView giftPage);

} // namespace cutters
