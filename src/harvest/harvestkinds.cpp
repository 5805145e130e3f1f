#include "harvest/harvestkinds.h"

#include <algorithm>

const HarvestKind &harvestKind(TabId tab, bool search) {
    for (const HarvestKind &kind : kHarvestKinds) {
        if (kind.tab == tab && kind.isSearch() == search)
            return kind;
    }
    Q_UNREACHABLE();
}

const HarvestKind *harvestKindNamed(QStringView command) {
    const auto named = std::find_if(std::begin(kHarvestKinds), std::end(kHarvestKinds),
                                    [&](const HarvestKind &kind) { return kind.command == command; });
    return command.isEmpty() || named == std::end(kHarvestKinds) ? nullptr : named;
}

QString tabCaption(TabId tab) {
    return harvestKind(tab, false).tabCaption.toString();
}
