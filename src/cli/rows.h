#pragma once

#include "harvest/harvestrun.h"

#include <QByteArray>

// How the command writes a resolved row: one line of UTF-8, newline included.
namespace harvestcommand {

// TSV: code, title, size, mark, site, source, key. Control characters inside a field (C0 and
// C1, DEL, U+2028 and U+2029: tabs and line breaks among them) become spaces, so a row is always
// one line with seven fields, and a site's text cannot drive the terminal it is shown on.
QByteArray tsvHeader();
QByteArray tsvLine(const HarvestedRow &row, const RunRequest &request);
// One compact JSON object with named fields; a page harvest's row has "page", a search's
// "keyword". The same control characters are escaped (\uXXXX), and a lone surrogate is written
// as U+FFFD, so every line is valid JSON in valid UTF-8.
QByteArray jsonLine(const HarvestedRow &row, const RunRequest &request);

} // namespace harvestcommand
