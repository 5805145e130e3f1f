#pragma once

#include "web/fetched.h"
#include "web/listingsite.h"

#include <QString>
#include <QStringView>

// The three tabs of the window, one source each: 资源① the listing site's gift pages, 资源②
// the share site, 资源③ the listing site's code pages.
enum class TabId { Libao, Share, Tiquma };
inline constexpr int kTabCount = 3;

// How a run gets its rows.
enum class RunKind {
    ListingPage,   // a listing-site page of gifts or codes
    ListingSearch, // a listing-site keyword search
    SharePage,     // a share-site new-resource page
    ShareSearch,   // a share-site keyword search
};

// What one harvest is, everywhere it is named: the window's tab, the harvest command, the ledger.
struct HarvestKind {
    QStringView command; // the harvest command's name; empty where the command offers none
    TabId tab;
    RunKind run;
    listingsite::Section section; // of a listing-site page
    QStringView tabCaption;
    QStringView ledgerSite; // where the ledger says its codes came from

    bool isSearch() const { return run == RunKind::ListingSearch || run == RunKind::ShareSearch; }
    bool isListingSite() const { return run == RunKind::ListingPage || run == RunKind::ListingSearch; }
};

inline constexpr HarvestKind kHarvestKinds[] = {
    {u"libao", TabId::Libao, RunKind::ListingPage, listingsite::Section::Gifts, u"资源①", u"listing"},
    {u"search", TabId::Libao, RunKind::ListingSearch, listingsite::Section::Gifts, u"资源①", u"listing"},
    {u"share", TabId::Share, RunKind::SharePage, listingsite::Section::Gifts, u"资源②", u"share"},
    {u"share-search", TabId::Share, RunKind::ShareSearch, listingsite::Section::Gifts, u"资源②", u"share"},
    {u"tiquma", TabId::Tiquma, RunKind::ListingPage, listingsite::Section::Codes, u"资源③", u"listing"},
    {u"", TabId::Tiquma, RunKind::ListingSearch, listingsite::Section::Codes, u"资源③", u"listing"},
};

// A tab's page harvest, or its keyword search.
const HarvestKind &harvestKind(TabId tab, bool search);
// The kind the harvest command calls `command`; nullptr when none.
const HarvestKind *harvestKindNamed(QStringView command);
QString tabCaption(TabId tab);

// What one run is asked for.
struct RunRequest {
    const HarvestKind *kind = &kHarvestKinds[0];
    int page = 0;    // page harvests
    QString keyword; // searches
    // Of a page harvest that asks only for a changed page (the new-gift watch); an unchanged
    // one ends the run as NotModified.
    Validators ifChanged;

    // The page number or the keyword, as text.
    QString source() const { return kind->isSearch() ? keyword : QString::number(page); }
};
