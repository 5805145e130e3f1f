#include "session/recorder.h"

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

void HarvestRecorder::add(const HarvestedRow &row, const RunRequest &request) {
    if (!m_ledger)
        return;
    if (const std::optional<SeenCode> seen = seenCodeOf(row, request))
        m_rows.append(*seen);
}

void HarvestRecorder::ended(HarvestRun::End end) {
    switch (m_rule) {
    case Rule::WhateverResolved:
        return commit();
    case Rule::WholeRuns:
        if (end == HarvestRun::End::Complete)
            return commit();
        m_rows.clear();
        return;
    case Rule::WhenCommitted:
        return;
    }
}

void HarvestRecorder::stopped() {
    if (m_rule == Rule::WhateverResolved)
        commit();
    m_rows.clear();
}

void HarvestRecorder::commit() {
    if (m_ledger && !m_rows.isEmpty())
        m_ledger->recordHarvest(m_rows);
    m_rows.clear();
}
