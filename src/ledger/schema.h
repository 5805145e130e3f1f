#pragma once

#include "ledger/sql.h"

#include <functional>

// The ledger file's tables and their versions.
namespace ledgerschema {

inline constexpr int kVersion = 7;

// How far a long migration has come: rows done of the total.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Readies an open file for use: its journal settings, then its tables created or upgraded to
// kVersion, in one write transaction so that two programs never upgrade one file at once. A
// file written by a newer program is left as it is. A migration that goes through every code
// tells its progress as it goes. A file is taken no further than upTo, which leaves older
// files to be made for the upgrade's own checks.
ledgersql::SqlResult prepare(const QSqlDatabase &db, const Progress &progress = {}, int upTo = kVersion);

// Brings the search index up to date for the oldest queued changes, then for the new rows next
// above its mark, at most atMost rows in all, in one write transaction; done tells how many it
// took, none when the index was up to date.
ledgersql::SqlResult indexQueued(const QSqlDatabase &db, int atMost, int &done);

} // namespace ledgerschema
