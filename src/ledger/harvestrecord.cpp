#include "ledger/harvestrecord.h"

std::optional<SeenCode> seenCodeOf(const HarvestedRow &row, const RunRequest &request) {
    if (row.code.isEmpty())
        return std::nullopt;
    const HarvestKind &kind = *request.kind;
    return SeenCode{row.code,
                    row.title,
                    row.size,
                    kind.ledgerSite.toString(),
                    kind.tabCaption.toString(),
                    request.source(),
                    row.markKnown ? row.mark : QString(),
                    row.key};
}

KnownCodes knownCodesOf(const Ledger *ledger) {
    if (!ledger)
        return {};
    return [ledger](const QString &site, const QStringList &keys) { return ledger->knownCodes(site, keys); };
}
