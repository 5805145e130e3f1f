// Which encoding a reply is in: its byte-order mark, its declared charset, HTML's prescan of
// its first bytes, or the sniff.
#include "text/encoding.h"

#include "text/ascii.h"
#include "text/text.h"

#include <QList>

#include <algorithm>
#include <optional>

namespace text {

namespace {

// HTML's "algorithm for extracting a character encoding from a meta element", on the value of
// a content attribute.
QByteArray encodingInContent(QByteArrayView content) {
    const qsizetype size = content.size();
    qsizetype at = 0;
    for (;;) {
        qsizetype found = -1;
        for (qsizetype i = at; i + 7 <= size && found < 0; ++i) {
            qsizetype k = 0;
            while (k < 7 && ascii::lower(uchar(content[i + k])) == "charset"[k])
                ++k;
            if (k == 7)
                found = i;
        }
        if (found < 0)
            return {};
        at = found + 7;
        while (at < size && ascii::isWhitespace(uchar(content[at])))
            ++at;
        if (at >= size || content[at] != '=')
            continue; // "charset" without "=": look further from here
        ++at;
        while (at < size && ascii::isWhitespace(uchar(content[at])))
            ++at;
        if (at >= size)
            return {};
        const char first = content[at];
        if (first == '"' || first == '\'') {
            const qsizetype close = content.indexOf(first, at + 1);
            return close < 0 ? QByteArray() : encodingForLabel(content.sliced(at + 1, close - at - 1));
        }
        qsizetype stop = at;
        while (stop < size && !ascii::isWhitespace(uchar(content[stop])) && content[stop] != ';')
            ++stop;
        return encodingForLabel(content.sliced(at, stop - at));
    }
}

// HTML's "get an XML encoding": the encoding an XML declaration at the very start names,
// matched byte for byte as HTML matches it ("<?XML" and "ENCODING" name nothing).
QByteArray xmlEncoding(QByteArrayView bytes) {
    if (!bytes.startsWith("<?xml"))
        return {};
    const qsizetype end = bytes.indexOf('>');
    if (end < 0)
        return {};
    const QByteArrayView declaration = bytes.first(end);
    qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return {};
    at += 8;
    while (at < end && uchar(declaration[at]) <= 0x20)
        ++at;
    if (at >= end || declaration[at] != '=')
        return {};
    ++at;
    while (at < end && uchar(declaration[at]) <= 0x20)
        ++at;
    if (at >= end || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const qsizetype close = declaration.indexOf(declaration[at], at + 1);
    if (close < 0)
        return {};
    // Unlike a <meta>'s, this label is taken as it stands: a blank or control byte in it, even
    // at its ends, names nothing.
    const QByteArrayView label = declaration.sliced(at + 1, close - at - 1);
    if (std::any_of(label.begin(), label.end(), [](char c) { return uchar(c) <= 0x20; }))
        return {};
    const QByteArray encoding = encodingForLabel(label);
    return encoding == "UTF-16LE" || encoding == "UTF-16BE" ? QByteArrayLiteral("UTF-8") : encoding;
}

// HTML's prescan, step by step. Running out of bytes anywhere ends it with nothing.
class Prescan final {
public:
    explicit Prescan(QByteArrayView bytes)
        : m_bytes(bytes) {}
    QByteArray run();

private:
    // The byte at a position; -1 past the end.
    int at(qsizetype position) const { return position < m_bytes.size() ? uchar(m_bytes[position]) : -1; }
    bool metaAt(qsizetype position) const;
    // "Get an attribute": false when there is none here, or when the bytes ran out (m_ranOut).
    bool attribute(QByteArray &name, QByteArray &value);
    bool ranOut() {
        m_ranOut = true;
        return false;
    }

    QByteArrayView m_bytes;
    qsizetype m_position = 0;
    bool m_ranOut = false;
};

bool Prescan::metaAt(qsizetype position) const {
    static constexpr char kMeta[] = "<meta";
    for (int k = 0; k < 5; ++k) {
        if (ascii::lower(at(position + k)) != kMeta[k])
            return false;
    }
    const int after = at(position + 5);
    return ascii::isWhitespace(after) || after == '/';
}

bool Prescan::attribute(QByteArray &name, QByteArray &value) {
    name.clear();
    value.clear();
    while (ascii::isWhitespace(at(m_position)) || at(m_position) == '/')
        ++m_position;
    if (at(m_position) < 0)
        return ranOut();
    if (at(m_position) == '>')
        return false;
    for (;; ++m_position) {
        const int byte = at(m_position);
        if (byte < 0)
            return ranOut();
        if (byte == '=' && !name.isEmpty())
            break;
        if (ascii::isWhitespace(byte)) {
            while (ascii::isWhitespace(at(m_position)))
                ++m_position;
            if (at(m_position) < 0)
                return ranOut();
            if (at(m_position) != '=')
                return true; // a name without a value
            break;
        }
        if (byte == '/' || byte == '>')
            return true;
        name.append(ascii::lower(byte));
    }
    ++m_position; // past "="
    while (ascii::isWhitespace(at(m_position)))
        ++m_position;
    const int first = at(m_position);
    if (first < 0)
        return ranOut();
    if (first == '"' || first == '\'') {
        for (++m_position;; ++m_position) {
            const int byte = at(m_position);
            if (byte < 0)
                return ranOut();
            if (byte == first) {
                ++m_position;
                return true;
            }
            value.append(ascii::lower(byte));
        }
    }
    if (first == '>')
        return true;
    for (;; ++m_position) {
        const int byte = at(m_position);
        if (byte < 0)
            return ranOut();
        if (ascii::isWhitespace(byte) || byte == '>')
            return true;
        value.append(ascii::lower(byte));
    }
}

QByteArray Prescan::run() {
    if (m_bytes.startsWith(QByteArrayView("<\0?\0x\0", 6)))
        return QByteArrayLiteral("UTF-16LE");
    if (m_bytes.startsWith(QByteArrayView("\0<\0?\0x", 6)))
        return QByteArrayLiteral("UTF-16BE");
    QByteArray name, value;
    for (; m_position < m_bytes.size(); ++m_position) {
        if (at(m_position) != '<')
            continue;
        const int next = at(m_position + 1);
        if (m_bytes.sliced(m_position).startsWith("<!--")) {
            // To the ">" of the first "-->"; the dashes of "<!--" may be its dashes.
            const qsizetype close = m_bytes.indexOf("-->", m_position + 2);
            if (close < 0)
                return {};
            m_position = close + 2;
        } else if (metaAt(m_position)) {
            m_position += 5;
            QList<QByteArray> seen;
            bool gotPragma = false;
            std::optional<bool> needPragma;
            std::optional<QByteArray> charset; // empty: a label that names nothing
            while (attribute(name, value)) {
                if (seen.contains(name))
                    continue;
                seen.append(name);
                if (name == "http-equiv") {
                    gotPragma = gotPragma || value == "content-type";
                } else if (name == "content") {
                    const QByteArray named = encodingInContent(value);
                    if (!named.isEmpty() && !charset) {
                        charset = named;
                        needPragma = true;
                    }
                } else if (name == "charset") {
                    charset = encodingForLabel(value);
                    needPragma = false;
                }
            }
            if (m_ranOut)
                return {};
            if (!needPragma || (*needPragma && !gotPragma) || !charset || charset->isEmpty())
                continue;
            if (*charset == "UTF-16LE" || *charset == "UTF-16BE")
                return QByteArrayLiteral("UTF-8");
            if (*charset == "x-user-defined")
                return QByteArrayLiteral("windows-1252");
            return *charset;
        } else if (ascii::isLetter(next) || (next == '/' && ascii::isLetter(at(m_position + 2)))) {
            // Another tag: its attributes are read past, so that none of them is taken for markup.
            while (at(m_position) >= 0 && !ascii::isWhitespace(at(m_position)) && at(m_position) != '>')
                ++m_position;
            while (attribute(name, value)) {
            }
            if (m_ranOut)
                return {};
        } else if (next == '!' || next == '/' || next == '?') {
            const qsizetype close = m_bytes.indexOf('>', m_position + 1);
            if (close < 0)
                return {};
            m_position = close;
        }
    }
    return {};
}

} // namespace

QByteArray bomEncoding(QByteArrayView bytes, qsizetype *length) {
    QByteArray encoding;
    qsizetype size = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding = QByteArrayLiteral("UTF-8");
        size = 3;
    } else if (bytes.startsWith("\xFE\xFF")) {
        encoding = QByteArrayLiteral("UTF-16BE");
        size = 2;
    } else if (bytes.startsWith("\xFF\xFE")) {
        encoding = QByteArrayLiteral("UTF-16LE");
        size = 2;
    }
    if (length)
        *length = size;
    return encoding;
}

QByteArray prescanEncoding(QByteArrayView bytes) {
    QByteArray found = Prescan(bytes).run();
    return found.isEmpty() ? xmlEncoding(bytes) : found;
}

ReplyEncoding replyEncoding(QByteArrayView body, QByteArrayView contentType, Fallback fallback) {
    qsizetype bomLength = 0;
    if (QByteArray marked = bomEncoding(body, &bomLength); !marked.isEmpty())
        return {marked, bomLength};
    if (QByteArray declared = encodingForLabel(charsetOf(contentType)); canDecode(declared))
        return {declared, 0};
    if (QByteArray declared = prescanEncoding(body.first(qMin<qsizetype>(body.size(), 1024)));
        canDecode(declared))
        return {declared, 0};
    const bool utf8 = fallback == Fallback::Sniffed && LooksLikeUtf8(body);
    return {utf8 ? QByteArrayLiteral("UTF-8") : QByteArrayLiteral("GBK"), 0};
}

TextDecoder replyDecoder(QByteArrayView body, QByteArrayView contentType, Fallback fallback) {
    const ReplyEncoding chosen = replyEncoding(body, contentType, fallback);
    TextDecoder decoder(chosen.encoding);
    decoder.skip(chosen.bomLength);
    return decoder;
}

QString decodeReply(QByteArrayView body, QByteArrayView contentType, Fallback fallback) {
    TextDecoder decoder = replyDecoder(body, contentType, fallback);
    QString text = decoder.decode(body);
    return text + decoder.finish();
}

} // namespace text
