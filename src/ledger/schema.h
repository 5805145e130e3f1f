#pragma once

#include "ledger/sql.h"

// The ledger file's tables and their versions.
namespace ledgerschema {

inline constexpr int kVersion = 4;

// Readies an open file for use: its journal settings, then its tables created or upgraded to
// kVersion, in one write transaction so that two programs never upgrade one file at once. A
// file written by a newer program is left as it is.
ledgersql::SqlResult prepare(const QSqlDatabase &db);

} // namespace ledgerschema
