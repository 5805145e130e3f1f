#include "text/text.h"

#include "text/encoding.h"

#include <QRegularExpression>
#include <QStringEncoder>
#include <QUrl>

namespace text {

bool LooksLikeUtf8(QByteArrayView bytes) {
    const qsizetype n = bytes.size();
    if (n < 3)
        return false;
    const auto at = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
        return true;
    // Continuation bytes i+1 .. i+count all present and of the form 10xxxxxx.
    const auto continued = [&](qsizetype i, int count) {
        if (i + count >= n)
            return false;
        for (int k = 1; k <= count; ++k) {
            if ((at(i + k) & 0xC0) != 0x80)
                return false;
        }
        return true;
    };
    qsizetype ascii = 0;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = at(i);
        if (c < 0x80) {
            ++ascii;
            ++i;
        } else if ((c & 0xE0) == 0xC0 && continued(i, 1)) {
            i += 2;
        } else if ((c & 0xF0) == 0xE0 && continued(i, 2)) {
            i += 3;
        } else if (c >= 0xF0 && c <= 0xF4 && continued(i, 3)) {
            i += 4;
        } else {
            return false;
        }
    }
    return ascii < n;
}

QString DecodeUtf8Bytes(QByteArrayView bytes) {
    return decode(bytes, "UTF-8");
}

QString decodeGbk(QByteArrayView bytes) {
    return decode(bytes, "GBK");
}

QByteArray encodeGbk(QStringView text) {
    QStringEncoder encoder("GBK");
    if (!encoder.isValid())
        return text.toUtf8();
    return encoder.encode(text);
}

QByteArray charsetOf(QByteArrayView contentType) {
    // The parameters after the media type, by name: "xcharset=" or a quoted ";charset=" inside
    // another parameter's value is no charset.
    const QList<QByteArray> parts = contentType.toByteArray().split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype equals = parts[i].indexOf('=');
        if (equals < 0 || parts[i].left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parts[i].mid(equals + 1).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value.trimmed();
    }
    return {};
}

QString PercentEncodeUtf8(QStringView text) {
    // UTF-8 of the whole text: a character outside the basic plane is one four-byte sequence.
    return QString::fromLatin1(QUrl::toPercentEncoding(text.toString()));
}

QString shownText(const QString &text, qsizetype limit) {
    if (text.size() <= limit)
        return text;
    // Not inside a surrogate pair.
    const qsizetype cut = text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit;
    return text.left(cut) + u'…';
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

qsizetype countOf(QStringView text, QStringView marker, qsizetype limit) {
    if (marker.isEmpty())
        return 0;
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(marker); at >= 0 && count < limit;
         at = text.indexOf(marker, at + marker.size()))
        ++count;
    return count;
}

QList<qsizetype> markerPositions(QStringView text, QStringView marker, qsizetype limit) {
    QList<qsizetype> positions;
    if (marker.isEmpty())
        return positions;
    for (qsizetype at = text.indexOf(marker); at >= 0 && positions.size() < limit;
         at = text.indexOf(marker, at + marker.size()))
        positions.append(at);
    return positions;
}

MarkerSplit::MarkerSplit(QStringView text, QStringView marker, qsizetype limit)
    : m_text(text)
    , m_markerLength(marker.size())
    , m_positions(markerPositions(text, marker, limit)) {
    m_end = text.size();
    if (!m_positions.isEmpty()) {
        const qsizetype next = text.indexOf(marker, m_positions.last() + m_markerLength);
        if (next >= 0)
            m_end = next;
    }
}

QStringView MarkerSplit::piece(qsizetype k) const {
    if (k < 0 || k > m_positions.size())
        return {};
    const qsizetype start = k == 0 ? 0 : m_positions[k - 1] + m_markerLength;
    const qsizetype end = k == m_positions.size() ? m_end : m_positions[k];
    return m_text.sliced(start, end - start);
}

} // namespace text
