#pragma once

#include "harvest/harvestrun.h"
#include "ledger/ledger.h"

#include <QList>

#include <optional>

// What the ledger keeps of a row a harvest resolved: nothing for a row without a code, and no
// mark where the gift page could not be read to confirm it.
std::optional<SeenCode> seenCodeOf(const HarvestedRow &row, const RunRequest &request);

// The ledger's known codes for a run (nothing without a ledger). The ledger must outlive the run.
KnownCodes knownCodesOf(const Ledger *ledger);

// The one place where harvested rows become ledger records, one transaction at a time. Who
// harvests says when by its rule; rows are handed over as they resolve.
class HarvestRecorder final {
public:
    enum class Rule {
        WhateverResolved, // the window: what resolved by the time a run ends, is stopped or replaced
        WholeRuns,        // the command: a run read to its end; nothing of one cut short
        WhenCommitted,    // the watch: what its owner commits, once its receives are done
    };

    // Without a ledger it records nothing. The ledger must outlive this.
    HarvestRecorder(Ledger *ledger, Rule rule)
        : m_ledger(ledger)
        , m_rule(rule) {}
    ~HarvestRecorder() = default;
    Q_DISABLE_COPY_MOVE(HarvestRecorder)

    void add(const HarvestedRow &row, const RunRequest &request);
    // The run ended by itself.
    void ended(HarvestRun::End end);
    // The run was stopped, replaced or cut short.
    void stopped();
    // Records what was handed over since the last record.
    void commit();
    bool isEmpty() const { return m_rows.isEmpty(); }

private:
    Ledger *m_ledger;
    const Rule m_rule;
    QList<SeenCode> m_rows;
};
