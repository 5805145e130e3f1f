#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Pure page cutters: page text in, fields out. Each is linear in the size of its input.
namespace cutters {

struct ListedResource {
    QString title;
    QString size;
    QString key; // detail path (listing site) or resource id (share site)
    bool operator==(const ListedResource &) const = default;
};

// A listing page: the i-th info block, the i-th title and the i-th size belong together.
QList<ListedResource> cutListingPage(QStringView page);
// A search page: the i-th heading and the i-th link belong together; size "未知".
QList<ListedResource> cutSearchPage(QStringView page);
// A share-site result page, given the share site's base address (stripped from file links).
QList<ListedResource> cutSharePage(QStringView page, const QString &shareSite);

// Detail page: the query of the download link, empty when missing.
QString cutDownloadQuery(QStringView detailPage);
// Download page or find reply: the code between "gift_code=" and the next "&".
QString cutGiftCode(QStringView page);
// Gift page: "×" when void, "√" otherwise (also for an empty page).
QString giftMark(QStringView giftPage);

} // namespace cutters
