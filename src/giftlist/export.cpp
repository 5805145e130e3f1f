#include "export.h"

#include "giftlistmodel.h"
#include "text.h"

#include <QFile>

namespace giftexport {

QByteArray exportBlock(const GiftListModel &list) {
    QString block;
    for (int row = list.rowCount() - 1; row >= 0; --row)
        block += list.entry(row).code + u"\r\n";
    block += u"\r\n";
    return text::EncodeGbk(block);
}

QString appendToFile(const QString &path, const QByteArray &block) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.errorString();
    if (file.write(block) != block.size() || !file.flush())
        return file.errorString();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return {};
}

} // namespace giftexport
