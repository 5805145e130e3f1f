#pragma once

#include "harvest/harvestrun.h"

#include <QByteArray>

// How the command writes a resolved row: one line of UTF-8, newline included.
namespace harvestcommand {

// TSV: code, title, size, mark, site, source, key. Tabs and line breaks inside a field
// become spaces, so a row is always one line with seven fields.
QByteArray tsvHeader();
QByteArray tsvLine(const HarvestedRow &row, const RunRequest &request);
// One compact JSON object with named fields; a page harvest's row has "page", a search's
// "keyword".
QByteArray jsonLine(const HarvestedRow &row, const RunRequest &request);

} // namespace harvestcommand
