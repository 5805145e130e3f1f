#include "app/runlocks.h"

RunLocks runLocks(const HarvestKind &kind) {
    using enum TabControl;
    switch (kind.run) {
    case RunKind::ListingPage:
        // The third tab's "上一页" opens the sign-in window; a complete run enables it.
        return {Search | Export, TabBar | Export | Search,
                kind.tab == TabId::Tiquma ? TabControls(PreviousPage) : TabControls()};
    case RunKind::ListingSearch:
        return {Search | NextPage | PreviousPage | Export, Search | NextPage | PreviousPage | Export, TabBar};
    case RunKind::SharePage:
        return {Search, TabBar | Search, {}};
    case RunKind::ShareSearch:
        return {NextPage | PreviousPage | Export, NextPage | PreviousPage | Export | Search, TabBar};
    }
    return {};
}
