#pragma once

#include "harvest/harvestrun.h"
#include "ledger/ledger.h"

#include <optional>

// What the ledger keeps of a row a harvest resolved: nothing for a row without a code, and no
// mark where the gift page could not be read to confirm it.
std::optional<SeenCode> seenCodeOf(const HarvestedRow &row, const RunRequest &request);
