#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

// Pure helpers that decode page bytes and cut fields out of page text. Every cut compares
// exactly (case-sensitive) and keeps the text as it stands in the page.
namespace text {

// True when the bytes look like UTF-8: a byte-order mark, or only well-formed one- to
// three-byte sequences with at least one multi-byte sequence among them.
bool LooksLikeUtf8(QByteArrayView bytes);

// UTF-8 to text; empty when the conversion yields nothing.
QString DecodeUtf8Bytes(QByteArrayView bytes);

// Bytes in the GBK code page (the program's ANSI code page) to text.
QString DecodeGbk(QByteArrayView bytes);
QByteArray EncodeGbk(QStringView text);

// UTF-8 when the bytes look like it, GBK otherwise.
QString DecodeSniffed(QByteArrayView bytes);

// Decodes with the named character set; UTF-8 when the name is empty or unknown.
QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset);

// The charset= parameter of a Content-Type value, empty when absent.
QByteArray CharsetOf(QByteArrayView contentType);

// Percent-encodes every UTF-16 unit from U+0080 up as UTF-8 bytes; ASCII passes unchanged.
QString PercentEncodeUtf8(QStringView text);

// Removes or replaces every case-insensitive match of the pattern.
QString RegexReplaceAll(const QString &text, const QString &pattern, const QString &replacement);

// Piece k (zero-based) of the text split at every occurrence of the marker; empty when that
// piece does not exist. Finds the k-th marker and cuts, without splitting the whole text.
QStringView PieceAt(QStringView text, QStringView marker, qsizetype k);

// The text before the first occurrence of the marker; empty when it does not occur.
QStringView TextBefore(QStringView text, QStringView marker);

// Number of non-overlapping occurrences of the marker, scanning left to right.
qsizetype CountOf(QStringView text, QStringView marker);

// All occurrences of one marker found in one pass, so that piece i of many rows is cut in
// linear time overall.
class MarkerSplit {
public:
    MarkerSplit(QStringView text, QStringView marker);
    qsizetype markerCount() const { return m_positions.size(); }
    QStringView piece(qsizetype k) const;

private:
    QStringView m_text;
    qsizetype m_markerLength;
    QList<qsizetype> m_positions;
};

} // namespace text
