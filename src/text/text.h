#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <limits>

// Pure helpers that decode page bytes and cut fields out of page text. Every cut compares
// exactly (case-sensitive) and keeps the text as it stands in the page.
namespace text {

// True when the bytes look like UTF-8: a byte-order mark, or only well-formed sequences of one
// to four bytes with at least one multi-byte sequence among them (an emoji is UTF-8 too).
bool LooksLikeUtf8(QByteArrayView bytes);

// UTF-8 to text, each ill-formed sequence as one U+FFFD and a leading byte-order mark kept as
// U+FEFF; empty when there are no bytes. Replies are decoded as text/encoding.h says.
QString DecodeUtf8Bytes(QByteArrayView bytes);

// Bytes in GBK (the program's ANSI code page) to text, as browsers read GBK: the gb18030
// decoder, four-byte sequences included.
QString decodeGbk(QByteArrayView bytes);
// Text to GBK bytes, for what the program writes in its ANSI code page.
QByteArray encodeGbk(QStringView text);

// The charset= parameter of a Content-Type value, empty when absent.
QByteArray charsetOf(QByteArrayView contentType);

// Percent-encodes the text as UTF-8, all but the unreserved ASCII characters (letters, digits,
// "-._~"), so that it can stand as one query value, form value or path segment: "#", "&",
// "=", "+", "%" and "/" cannot cut or add anything.
QString PercentEncodeUtf8(QStringView text);

// Text from a site as a line of the window shows it: at most `limit` characters, a longer one
// cut there with "…", so that a hostile title cannot keep the window busy laying it out.
inline constexpr qsizetype kShownLimit = 1000;
QString shownText(const QString &text, qsizetype limit = kShownLimit);

// Removes or replaces every case-insensitive match of the pattern.
QString RegexReplaceAll(const QString &text, const QString &pattern, const QString &replacement);

// Piece k (zero-based) of the text split at every occurrence of the marker; empty when that
// piece does not exist. Finds the k-th marker and cuts, without splitting the whole text.
QStringView PieceAt(QStringView text, QStringView marker, qsizetype k);

// The text before the first occurrence of the marker; empty when it does not occur.
QStringView TextBefore(QStringView text, QStringView marker);

// Number of non-overlapping occurrences of the marker, scanning left to right; stops counting
// at the limit.
qsizetype countOf(QStringView text, QStringView marker,
                  qsizetype limit = std::numeric_limits<qsizetype>::max());

// Where the marker occurs (non-overlapping, left to right), at most `limit` times.
QList<qsizetype> markerPositions(QStringView text, QStringView marker,
                                 qsizetype limit = std::numeric_limits<qsizetype>::max());

// All occurrences of one marker found in one pass, so that piece i of many rows is cut in
// linear time overall.
class MarkerSplit {
public:
    // Only the first `limit` markers count; the last piece then runs to the next marker.
    MarkerSplit(QStringView text, QStringView marker,
                qsizetype limit = std::numeric_limits<qsizetype>::max());
    qsizetype markerCount() const { return m_positions.size(); }
    QStringView piece(qsizetype k) const;

private:
    QStringView m_text;
    qsizetype m_markerLength;
    QList<qsizetype> m_positions;
    qsizetype m_end; // where the last piece ends
};

} // namespace text
