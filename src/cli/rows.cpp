#include "cli/rows.h"

#include <QStringList>

namespace harvestcommand {

namespace {

// Characters a terminal may act on, or a line reader take for a line's end: C0 and C1 controls,
// DEL, and the line and paragraph separators.
bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// The text with each lone surrogate replaced, so that it is valid UTF-16 (and its UTF-8 valid).
QString wellFormed(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// A TSV field: every control character becomes a space, so a row is one line of seven fields
// that cannot drive the terminal it is shown on.
QString field(const QString &text) {
    QString out = wellFormed(text);
    for (QChar &c : out) {
        if (isControl(c.unicode()))
            c = u' ';
    }
    return out;
}

// A JSON string: quotes, backslashes and every control character escaped.
QByteArray jsonString(const QString &text) {
    QString out = u"\""_qs;
    for (const QChar c : wellFormed(text)) {
        if (c == u'"' || c == u'\\')
            out += u'\\' + QString(c);
        else if (isControl(c.unicode()))
            out += u"\\u" + QString::number(c.unicode(), 16).rightJustified(4, u'0');
        else
            out += c;
    }
    return (out + u'"').toUtf8();
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
    const auto pair = [](const char *name, const QByteArray &value) -> QByteArray {
        return '"' + QByteArray(name) + "\":" + value;
    };
    QByteArrayList fields{pair("code", jsonString(row.code)),
                          pair("title", jsonString(row.title)),
                          pair("size", jsonString(row.size)),
                          pair("mark", jsonString(row.mark)),
                          pair("markKnown", row.markKnown ? "true" : "false"),
                          pair("site", jsonString(request.kind->command.toString())),
                          pair("key", jsonString(row.key))};
    if (request.kind->isSearch())
        fields.append(pair("keyword", jsonString(request.keyword)));
    else
        fields.append(pair("page", QByteArray::number(request.page)));
    return QByteArray('{' + fields.join(',') + "}\n");
}

} // namespace harvestcommand
