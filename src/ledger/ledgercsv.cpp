#include "ledger/ledgercsv.h"

namespace {

QString csvField(QString field) {
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    if (!field.isEmpty() && kFormulaStarts.contains(field.front()))
        field.prepend(u'\'');
    if (field.contains(u',') || field.contains(u'"') || field.contains(u'\r') || field.contains(u'\n'))
        return u'"' + field.replace(u'"', QStringLiteral("\"\"")) + u'"';
    return field;
}

QString csvLine(const QStringList &fields) {
    QStringList cells;
    for (const QString &field : fields)
        cells.append(csvField(field));
    return cells.join(u',') + u"\r\n";
}

} // namespace

QByteArray ledgerCsv(const QStringList &header, const QList<QStringList> &rows) {
    QString out = csvLine(header);
    for (const QStringList &row : rows)
        out += csvLine(row);
    return "\xEF\xBB\xBF" + out.toUtf8();
}
