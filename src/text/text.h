#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <limits>

// Pure helpers that decode page bytes and cut fields out of page text. Every cut compares
// exactly (case-sensitive) and keeps the text as it stands in the page.
namespace text {

// True when the bytes look like UTF-8: a byte-order mark, or only well-formed sequences of one
// to four bytes with at least one multi-byte sequence among them (an emoji is UTF-8 too).
bool LooksLikeUtf8(QByteArrayView bytes);

// Decoders for whole or sliced bodies: UTF-8 keeping a leading byte-order mark as U+FEFF, the
// GBK code page, the one the bytes look like, and the one a declared charset label names.
QStringDecoder Utf8Decoder();
QStringDecoder GbkDecoder();
QStringDecoder SniffedDecoder(QByteArrayView bytes);
// Labels map as browsers map them: gb2312 and its aliases are GBK; unknown or empty is UTF-8.
QStringDecoder CharsetDecoder(QByteArrayView label);

// UTF-8 to text; empty when the conversion yields nothing.
QString DecodeUtf8Bytes(QByteArrayView bytes);

// Bytes in the GBK code page (the program's ANSI code page) to text.
QString DecodeGbk(QByteArrayView bytes);
QByteArray EncodeGbk(QStringView text);

// UTF-8 when the bytes look like it, GBK otherwise.
QString DecodeSniffed(QByteArrayView bytes);

// Decodes with the named character set (see CharsetDecoder).
QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset);

// The charset= parameter of a Content-Type value, empty when absent.
QByteArray CharsetOf(QByteArrayView contentType);

// Percent-encodes the text as UTF-8, all but the unreserved ASCII characters (letters, digits,
// "-._~"), so that it can stand as one query value, form value or path segment: "#", "&",
// "=", "+", "%" and "/" cannot cut or add anything.
QString PercentEncodeUtf8(QStringView text);

// Removes or replaces every case-insensitive match of the pattern.
QString RegexReplaceAll(const QString &text, const QString &pattern, const QString &replacement);

// Piece k (zero-based) of the text split at every occurrence of the marker; empty when that
// piece does not exist. Finds the k-th marker and cuts, without splitting the whole text.
QStringView PieceAt(QStringView text, QStringView marker, qsizetype k);

// The text before the first occurrence of the marker; empty when it does not occur.
QStringView TextBefore(QStringView text, QStringView marker);

// Number of non-overlapping occurrences of the marker, scanning left to right; stops counting
// at the limit.
qsizetype CountOf(QStringView text, QStringView marker,
                  qsizetype limit = std::numeric_limits<qsizetype>::max());

// Where the marker occurs (non-overlapping, left to right), at most `limit` times.
QList<qsizetype> MarkerPositions(QStringView text, QStringView marker,
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
