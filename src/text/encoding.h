#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

// Decoding as browsers decode: the encodings, labels and decoders of the WHATWG Encoding
// Standard, and HTML's way of telling which encoding a page is in. Encodings go by the names
// that standard gives them: "UTF-8", "GBK", "gb18030", "Big5", "windows-1252", "UTF-16LE"…
namespace text {

// "Get an encoding": the encoding a label stands for, ASCII whitespace around the label
// ignored and ASCII letters compared without case; empty when it stands for none.
QByteArray encodingForLabel(QByteArrayView label);

// Whether this program can decode the encoding: every one but those that neither it nor ICU
// knows (Debian 12's ICU has no ISO-8859-16).
bool canDecode(QByteArrayView encoding);

// A decoder for one encoding, fed a body in slices of any size: a character cut at the end of
// one slice is finished by the next, so the text is the same however the body is sliced.
// UTF-8, UTF-16LE/BE, GBK and gb18030 (one decoder, four-byte sequences included), Big5,
// windows-1252, x-user-defined and replacement are decoded here as the standard says, from its
// indexes; the other encodings go through ICU under their standard names.
class TextDecoder final {
public:
    // For an encoding canDecode() accepts; any other decodes as UTF-8.
    explicit TextDecoder(QByteArrayView encoding);

    QByteArray encoding() const { return m_encoding; }
    // Leaves out the next `count` bytes (a byte-order mark).
    void skip(qsizetype count) { m_skip += count; }
    // The text of the next bytes. Every ill-formed sequence becomes one U+FFFD.
    QString decode(QByteArrayView bytes);
    // The bytes have ended: a character left unfinished becomes one U+FFFD (ICU's encodings
    // drop it: Qt never lets ICU flush).
    QString finish();

private:
    enum class Kind { Utf8, Utf16Le, Utf16Be, Gb18030, Big5, Windows1252, UserDefined, Replacement, Icu };

    char16_t *utf8(const uchar *in, const uchar *end, char16_t *out);
    char16_t *utf16(const uchar *in, const uchar *end, char16_t *out);
    char16_t *gb18030(const uchar *in, const uchar *end, char16_t *out);
    char16_t *big5(const uchar *in, const uchar *end, char16_t *out);

    Kind m_kind = Kind::Utf8;
    QByteArray m_encoding;
    qsizetype m_skip = 0;
    // UTF-8: the code point so far, its bytes needed and seen, and the bounds of the next byte.
    char32_t m_codePoint = 0;
    int m_needed = 0;
    int m_seen = 0;
    uchar m_lower = 0x80;
    uchar m_upper = 0xBF;
    // gb18030's first, second and third byte; Big5's lead in m_first.
    uchar m_first = 0;
    uchar m_second = 0;
    uchar m_third = 0;
    // UTF-16: the lead byte (-1: none) and a lead surrogate waiting for its trail (0: none).
    int m_leadByte = -1;
    char16_t m_leadSurrogate = 0;
    bool m_replaced = false;
    std::optional<QStringDecoder> m_icu;
    // ICU's bytes not yet handed over (see decoders.cpp).
    QByteArray m_icuHeld;
};

// The text of the bytes in one encoding, decoded as one whole.
QString decode(QByteArrayView bytes, QByteArrayView encoding);

// The encoding a byte-order mark at the start of the bytes names (UTF-8, UTF-16LE, UTF-16BE),
// empty when there is none; `length` receives the mark's length.
QByteArray bomEncoding(QByteArrayView bytes, qsizetype *length = nullptr);

// HTML's prescan of a byte stream for its encoding: a <meta charset>, or a <meta
// http-equiv="Content-Type"> with a charset in its content, found as the HTML parser would
// (comments and other tags skipped; a meta naming UTF-16 means UTF-8, x-user-defined means
// windows-1252), else the encoding of an XML declaration at the start. Reads these bytes and
// no further: callers pass the first 1024. Empty when nothing names an encoding.
QByteArray prescanEncoding(QByteArrayView bytes);

// How a request operation reads a reply that names no encoding: as GBK, or sniffed (UTF-8 when
// the bytes look like it, GBK otherwise).
enum class Fallback { Gbk, Sniffed };

struct ReplyEncoding {
    QByteArray encoding;
    qsizetype bomLength = 0; // bytes of a byte-order mark, not part of the text
};

// The encoding a reply is read in, chosen as browsers choose it: a byte-order mark, else the
// charset of its Content-Type, else the prescan of its first 1024 bytes, else the fallback. A
// declaration wins over the sniff; a label that names no encoding this program can decode
// counts as no declaration.
ReplyEncoding replyEncoding(QByteArrayView body, QByteArrayView contentType, Fallback fallback);

// A decoder for the reply in its encoding that leaves out its byte-order mark.
TextDecoder replyDecoder(QByteArrayView body, QByteArrayView contentType, Fallback fallback);

// The reply's text, decoded as one whole.
QString decodeReply(QByteArrayView body, QByteArrayView contentType, Fallback fallback);

} // namespace text
