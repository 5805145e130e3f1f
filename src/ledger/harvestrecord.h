#pragma once

#include "harvest/harvestrun.h"
#include "ledger/ledger.h"

#include <optional>

// What the ledger keeps of a row a harvest resolved: nothing for a row without a code, and no
// mark where the gift page could not be read to confirm it.
std::optional<SeenCode> seenCodeOf(const HarvestedRow &row, const RunRequest &request);

// The ledger's known codes for a run (nothing without a ledger). The ledger must outlive the run.
KnownCodes knownCodesOf(const Ledger *ledger);
