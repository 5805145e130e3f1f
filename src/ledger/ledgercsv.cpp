#include "ledger/ledgercsv.h"

namespace {

// Appended in place, in one pass over the field: an export writes a hundred thousand rows.
void appendField(QString &out, const QString &field) {
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    const bool formula = !field.isEmpty() && kFormulaStarts.contains(field.front());
    bool quoted = false;
    for (const QChar c : field) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quoted = true;
            break;
        }
    }
    if (quoted)
        out += u'"';
    if (formula)
        out += u'\'';
    if (!quoted) {
        out += field;
        return;
    }
    for (const QChar c : field) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
}

void appendLine(QString &out, const QStringList &fields) {
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += u',';
        appendField(out, fields.at(i));
    }
    out += u"\r\n";
}

} // namespace

QByteArray ledgerCsv(const QStringList &header, const QList<QStringList> &rows) {
    QString out;
    appendLine(out, header);
    for (const QStringList &row : rows)
        appendLine(out, row);
    return "\xEF\xBB\xBF" + out.toUtf8();
}
