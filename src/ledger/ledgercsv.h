#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// A CSV file that spreadsheet programs open as they should: UTF-8 with a byte-order mark,
// RFC 4180 quoting, CR LF line ends, the header first. Codes and titles come from outside
// sites, so a field that a spreadsheet would read as a formula is defused with a leading
// apostrophe.
QByteArray ledgerCsv(const QStringList &header, const QList<QStringList> &rows);
