#include "cli/rows.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace harvestcommand {

namespace {

QString field(QString text) {
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

QString sourceText(const RowSource &source) {
    return isSearch(source.harvest) ? source.keyword : QString::number(source.page);
}

} // namespace

QByteArray tsvHeader() {
    return QByteArrayLiteral("code\ttitle\tsize\tmark\tsite\tsource\tkey\n");
}

QByteArray tsvLine(const GiftEntry &row, const RowSource &source) {
    QStringList fields{row.code,           row.title, row.size, row.mark, nameOf(source.harvest),
                       sourceText(source), row.key};
    for (QString &text : fields)
        text = field(text);
    return fields.join(u'\t').toUtf8() + '\n';
}

QByteArray jsonLine(const GiftEntry &row, bool markKnown, const RowSource &source) {
    QJsonObject object{
        {QStringLiteral("code"), row.code},       {QStringLiteral("title"), row.title},
        {QStringLiteral("size"), row.size},       {QStringLiteral("mark"), row.mark},
        {QStringLiteral("markKnown"), markKnown}, {QStringLiteral("site"), nameOf(source.harvest)},
        {QStringLiteral("key"), row.key}};
    if (isSearch(source.harvest))
        object.insert(QStringLiteral("keyword"), source.keyword);
    else
        object.insert(QStringLiteral("page"), source.page);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace harvestcommand
