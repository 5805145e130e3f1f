#pragma once

#include "cli/arguments.h"
#include "giftlist/giftentry.h"

#include <QByteArray>

// How the command writes a resolved row: one line of UTF-8, newline included.
namespace harvestcommand {

// Where a row came from: the harvest, and its page or keyword.
struct RowSource {
    Harvest harvest;
    int page = 0;
    QString keyword;
};

// TSV: code, title, size, mark, site, source, key. Tabs and line breaks inside a field
// become spaces, so a row is always one line with seven fields.
QByteArray tsvHeader();
QByteArray tsvLine(const GiftEntry &row, const RowSource &source);
// One compact JSON object with named fields; a page harvest's row has "page", a search's
// "keyword".
QByteArray jsonLine(const GiftEntry &row, bool markKnown, const RowSource &source);

} // namespace harvestcommand
