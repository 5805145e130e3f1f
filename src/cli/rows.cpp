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

} // namespace

QByteArray tsvHeader() {
    return QByteArrayLiteral("code\ttitle\tsize\tmark\tsite\tsource\tkey\n");
}

QByteArray tsvLine(const HarvestedRow &row, const RunRequest &request) {
    QStringList fields{row.code,         row.title, row.size, row.mark, request.kind->command.toString(),
                       request.source(), row.key};
    for (QString &text : fields)
        text = field(text);
    return fields.join(u'\t').toUtf8() + '\n';
}

QByteArray jsonLine(const HarvestedRow &row, const RunRequest &request) {
    QJsonObject object{{QStringLiteral("code"), row.code},
                       {QStringLiteral("title"), row.title},
                       {QStringLiteral("size"), row.size},
                       {QStringLiteral("mark"), row.mark},
                       {QStringLiteral("markKnown"), row.markKnown},
                       {QStringLiteral("site"), request.kind->command.toString()},
                       {QStringLiteral("key"), row.key}};
    if (request.kind->isSearch())
        object.insert(QStringLiteral("keyword"), request.keyword);
    else
        object.insert(QStringLiteral("page"), request.page);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace harvestcommand
