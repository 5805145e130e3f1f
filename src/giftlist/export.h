#pragma once

#include <QByteArray>
#include <QString>

class GiftListModel;

namespace giftexport {

// The block appended to the export file: one code per line in reverse row order, CR LF
// after each, then one more CR LF; in GBK.
QByteArray exportBlock(const GiftListModel &list);

// Appends the block to the file; on failure returns the system's reason, else empty.
QString appendToFile(const QString &path, const QByteArray &block);

} // namespace giftexport
