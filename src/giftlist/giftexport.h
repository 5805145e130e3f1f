#pragma once

#include <QByteArray>
#include <QString>

class Desktop;
class GiftListModel;
class QWidget;

namespace giftexport {

inline constexpr QStringView kProposedName = u"礼包码.txt";

// The block appended to the export file: one code per line in reverse row order, CR LF
// after each, then one more CR LF; in GBK.
QByteArray exportBlock(const GiftListModel &list);

// Appends the block to the file; on failure returns the system's reason, else empty.
QString appendToFile(const QString &path, const QByteArray &block);

// The file the export writes to: the chosen name, with ".txt" added when the name has no
// suffix and no such file is there (a file the user picked is appended to as it is named).
QString withTextSuffix(const QString &path);

// The export command: asks for a file (proposing kProposedName), appends the list's block and
// says how it went. An empty list is refused; a cancelled dialog writes and shows nothing.
void exportList(Desktop &desktop, QWidget *parent, const GiftListModel &list);

} // namespace giftexport
