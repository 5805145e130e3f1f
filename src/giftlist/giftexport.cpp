#include "giftlist/giftexport.h"

#include "desktop/desktop.h"
#include "giftlist/giftlistmodel.h"
#include "text/text.h"

#include <QFile>
#include <QFileInfo>

namespace giftexport {

QByteArray exportBlock(const GiftListModel &list) {
    QString block;
    for (int row = list.rowCount() - 1; row >= 0; --row)
        block += list.entry(row).code + u"\r\n";
    block += u"\r\n";
    return text::encodeGbk(block);
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

QString withTextSuffix(const QString &path) {
    const QFileInfo file(path);
    if (!file.suffix().isEmpty() || file.exists() || file.fileName().isEmpty())
        return path;
    return path + (path.endsWith(u'.') ? u"txt" : u".txt");
}

void exportList(Desktop &desktop, QWidget *parent, const GiftListModel &list) {
    if (list.rowCount() == 0) {
        desktop.information(parent, QStringLiteral("Corvane软件"), QStringLiteral("没有可导出的礼包码"));
        return;
    }
    // The block is appended to the chosen file, never replaces it.
    const QString chosen = desktop.saveFileNameProposing(parent, QStringLiteral("请选择要导出的路径"),
                                                         QStringLiteral("文本文件 (*.txt)"),
                                                         Desktop::SaveMode::Append, kProposedName.toString());
    if (chosen.isEmpty())
        return;
    const QString path = withTextSuffix(chosen);
    const QString failure = appendToFile(path, exportBlock(list));
    if (!failure.isEmpty()) {
        // A write that failed is never reported as a success.
        desktop.message(parent, Desktop::Icon::Warning, QStringLiteral("Corvane软件"),
                        u"导出失败：" + failure);
        return;
    }
    desktop.information(parent, QStringLiteral("Corvane系列软件"), QStringLiteral("成功导出礼包数据"));
}

} // namespace giftexport
