#include "text/text.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>

namespace text {

bool LooksLikeUtf8(QByteArrayView bytes) {
    const qsizetype n = bytes.size();
    if (n < 3)
        return false;
    const auto at = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
        return true;
    qsizetype ascii = 0;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = at(i);
        if (c < 0x80) {
            ++ascii;
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < n && (at(i + 1) & 0xC0) == 0x80) {
            i += 2;
        } else if (i + 2 < n && (c & 0xF0) == 0xE0 && (at(i + 1) & 0xC0) == 0x80 &&
                   (at(i + 2) & 0xC0) == 0x80) {
            i += 3;
        } else {
            return false;
        }
    }
    return ascii < n;
}

QString DecodeUtf8Bytes(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return {};
    // Keep a leading byte-order mark as U+FEFF, as the system converter does.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QString DecodeGbk(QByteArrayView bytes) {
    QStringDecoder decoder("GBK");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

QByteArray EncodeGbk(QStringView text) {
    QStringEncoder encoder("GBK");
    if (!encoder.isValid())
        return text.toUtf8();
    return encoder.encode(text);
}

QString DecodeSniffed(QByteArrayView bytes) {
    return LooksLikeUtf8(bytes) ? DecodeUtf8Bytes(bytes) : DecodeGbk(bytes);
}

QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset) {
    if (!charset.isEmpty()) {
        const QByteArray name = charset.toByteArray();
        QStringDecoder decoder(name.constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    return utf8.decode(bytes);
}

QByteArray CharsetOf(QByteArrayView contentType) {
    const QByteArray lower = contentType.toByteArray().toLower();
    const qsizetype at = lower.indexOf("charset=");
    if (at < 0)
        return {};
    QByteArray value = contentType.toByteArray().mid(at + 8);
    const qsizetype end = value.indexOf(';');
    if (end >= 0)
        value.truncate(end);
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
        value = value.mid(1, value.size() - 2);
    return value;
}

QString PercentEncodeUtf8(QStringView text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size() * 3);
    const auto put = [&out](unsigned byte) {
        out += QLatin1Char('%');
        out += QLatin1Char(kHex[byte >> 4]);
        out += QLatin1Char(kHex[byte & 15]);
    };
    for (const QChar ch : text) {
        const unsigned c = ch.unicode();
        if (c < 0x80) {
            out += ch;
        } else if (c < 0x800) {
            put(0xC0 | (c / 64));
            put(0x80 | (c & 63));
        } else {
            put(0xE0 | (c / 4096));
            put(0x80 | ((c / 64) & 63));
            put(0x80 | (c & 63));
        }
    }
    return out;
}

QString RegexReplaceAll(const QString &text, const QString &pattern, const QString &replacement) {
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
    QString result = text;
    return result.replace(expression, replacement);
}

QStringView PieceAt(QStringView text, QStringView marker, qsizetype k) {
    if (k < 0)
        return {};
    if (marker.isEmpty())
        return k == 0 ? text : QStringView();
    qsizetype start = 0;
    for (qsizetype found = 0; found < k; ++found) {
        const qsizetype at = text.indexOf(marker, start);
        if (at < 0)
            return {};
        start = at + marker.size();
    }
    const qsizetype end = text.indexOf(marker, start);
    return text.sliced(start, (end < 0 ? text.size() : end) - start);
}

QStringView TextBefore(QStringView text, QStringView marker) {
    const qsizetype at = marker.isEmpty() ? -1 : text.indexOf(marker);
    return at < 0 ? QStringView() : text.first(at);
}

qsizetype CountOf(QStringView text, QStringView marker) {
    return MarkerSplit(text, marker).markerCount();
}

MarkerSplit::MarkerSplit(QStringView text, QStringView marker)
    : m_text(text)
    , m_markerLength(marker.size()) {
    if (marker.isEmpty())
        return;
    for (qsizetype at = text.indexOf(marker); at >= 0; at = text.indexOf(marker, at + marker.size()))
        m_positions.append(at);
}

QStringView MarkerSplit::piece(qsizetype k) const {
    if (k < 0 || k > m_positions.size())
        return {};
    const qsizetype start = k == 0 ? 0 : m_positions[k - 1] + m_markerLength;
    const qsizetype end = k == m_positions.size() ? m_text.size() : m_positions[k];
    return m_text.sliced(start, end - start);
}

} // namespace text
