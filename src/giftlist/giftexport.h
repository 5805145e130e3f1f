#pragma once

#include <QByteArray>
#include <QString>

class Desktop;
class GiftListModel;
class QWidget;

namespace giftexport {

// The block appended to the export file: one code per line in reverse row order, CR LF
// after each, then one more CR LF; in GBK.
QByteArray exportBlock(const GiftListModel &list);

// Appends the block to the file; on failure returns the system's reason, else empty.
QString appendToFile(const QString &path, const QByteArray &block);

// The export command: asks for a file, appends the list's block and says how it went. An
// empty list is refused; a cancelled dialog writes and shows nothing.
void exportList(Desktop &desktop, QWidget *parent, const GiftListModel &list);

} // namespace giftexport
