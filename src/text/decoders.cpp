// The decoders, fed in slices: the WHATWG ones written here from their indexes, ICU for the rest.
#include "text/encoding.h"

#include "text/encodingtables.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace text {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// More than the bytes ICU can hold pending and give back at once (its longest sequence and
// its overflow buffer), so a call of this many bytes always has room for what it gives.
constexpr qsizetype kIcuRoom = 64;

// windows-1252's bytes 0x80 to 0x9F; every other byte is its own code point.
constexpr char16_t kWindows1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t *put(char16_t *out, char32_t codePoint) {
    if (codePoint > 0xFFFF) {
        *out++ = char16_t(0xD800 + ((codePoint - 0x10000) >> 10));
        *out++ = char16_t(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    } else {
        *out++ = char16_t(codePoint);
    }
    return out;
}

// Copies a run of ASCII eight bytes at a time, up to the first block of eight that is not.
void copyAscii(const uchar *&in, const uchar *end, char16_t *&out) {
    while (end - in >= 8) {
        quint64 eight;
        std::memcpy(&eight, in, 8);
        if (eight & 0x8080808080808080ULL)
            break;
        for (int k = 0; k < 8; ++k)
            out[k] = in[k];
        in += 8;
        out += 8;
    }
}

// The code point of a four-byte gb18030 pointer; 0 for none.
char32_t gb18030RangesCodePoint(quint32 pointer) {
    if ((pointer > 39419 && pointer < 189000) || pointer > 1237575)
        return 0;
    if (pointer == 7457)
        return 0xE7C7;
    const tables::Range *first = tables::kGb18030Ranges;
    const tables::Range *last = first + tables::kGb18030RangeCount;
    // The last range that starts at or before the pointer; the first starts at 0.
    const tables::Range *range =
        std::upper_bound(first, last, pointer,
                         [](quint32 value, const tables::Range &entry) { return value < entry.pointer; }) -
        1;
    return range->codePoint + (pointer - range->pointer);
}

// The code point of a Big5 pointer; 0 for none.
char32_t big5CodePoint(int pointer) {
    const char32_t low = tables::kBig5[pointer];
    return (tables::kBig5Plane2[pointer / 8] >> (pointer % 8)) & 1 ? 0x20000 + low : low;
}

bool sameName(QByteArrayView a, const char *b) {
    return a == QByteArrayView(b);
}

} // namespace

bool canDecode(QByteArrayView encoding) {
    if (encoding.isEmpty())
        return false;
    const TextDecoder decoder(encoding);
    return decoder.encoding() == encoding;
}

TextDecoder::TextDecoder(QByteArrayView encoding) {
    static const struct {
        const char *name;
        Kind kind;
    } kOwn[] = {{"UTF-8", Kind::Utf8},
                {"UTF-16LE", Kind::Utf16Le},
                {"UTF-16BE", Kind::Utf16Be},
                {"GBK", Kind::Gb18030},
                {"gb18030", Kind::Gb18030},
                {"Big5", Kind::Big5},
                {"windows-1252", Kind::Windows1252},
                {"x-user-defined", Kind::UserDefined},
                {"replacement", Kind::Replacement}};
    for (const auto &own : kOwn) {
        if (sameName(encoding, own.name)) {
            m_kind = own.kind;
            m_encoding = encoding.toByteArray();
            return;
        }
    }
    // Only under a standard name: ICU's own names and aliases ("latin1") mean other things.
    if (!encoding.isEmpty() && encodingForLabel(encoding) == encoding) {
        QStringDecoder icu(encoding.toByteArray().constData());
        if (icu.isValid()) {
            m_kind = Kind::Icu;
            m_icu.emplace(std::move(icu));
            m_encoding = encoding.toByteArray();
            return;
        }
    }
    m_encoding = QByteArrayLiteral("UTF-8");
}

QString TextDecoder::decode(QByteArrayView bytes) {
    if (m_skip > 0) {
        const qsizetype skipped = qMin(m_skip, bytes.size());
        bytes = bytes.sliced(skipped);
        m_skip -= skipped;
    }
    if (bytes.isEmpty())
        return {};
    if (m_kind == Kind::Icu) {
        // Qt gives ICU room for two units a byte of each call only. A short call that finishes
        // what earlier ones left pending (an escape sequence of ISO-2022-JP that turns out
        // wrong gives all its bytes back) needs more, and ICU keeps the rest for a later call
        // that may never come: the text would depend on the slicing. So ICU is only ever
        // handed kIcuRoom bytes or more, or the whole body at finish().
        m_icuHeld.append(bytes);
        if (m_icuHeld.size() < 2 * kIcuRoom)
            return {};
        const QString text = m_icu->decode(QByteArrayView(m_icuHeld).chopped(kIcuRoom));
        m_icuHeld.remove(0, m_icuHeld.size() - kIcuRoom);
        return text;
    }
    if (m_kind == Kind::Replacement) {
        // The whole body is one error.
        if (m_replaced)
            return {};
        m_replaced = true;
        return QString(QChar(kReplacement));
    }
    // No byte gives more than two units, and only bytes that finish what an earlier slice
    // began give more than one; a few units spare cover those.
    QString text(bytes.size() + 8, Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(text.data());
    const uchar *in = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = in + bytes.size();
    char16_t *out = begin;
    switch (m_kind) {
    case Kind::Utf8:
        out = utf8(in, end, out);
        break;
    case Kind::Utf16Le:
    case Kind::Utf16Be:
        out = utf16(in, end, out);
        break;
    case Kind::Gb18030:
        out = gb18030(in, end, out);
        break;
    case Kind::Big5:
        out = big5(in, end, out);
        break;
    case Kind::Windows1252:
        for (; in < end; ++in)
            *out++ = *in >= 0x80 && *in < 0xA0 ? kWindows1252[*in - 0x80] : char16_t(*in);
        break;
    case Kind::UserDefined:
        for (; in < end; ++in)
            *out++ = *in < 0x80 ? char16_t(*in) : char16_t(0xF780 + *in - 0x80);
        break;
    case Kind::Replacement:
    case Kind::Icu:
        break;
    }
    text.truncate(out - begin);
    if (text.size() < text.capacity() / 2)
        text.squeeze(); // three bytes to a character leave most of the room unused
    return text;
}

QString TextDecoder::finish() {
    bool unfinished = false;
    switch (m_kind) {
    case Kind::Utf8:
        unfinished = m_needed != 0;
        m_codePoint = 0;
        m_needed = m_seen = 0;
        m_lower = 0x80;
        m_upper = 0xBF;
        break;
    case Kind::Gb18030:
    case Kind::Big5:
        unfinished = m_first != 0 || m_second != 0 || m_third != 0;
        m_first = m_second = m_third = 0;
        break;
    case Kind::Utf16Le:
    case Kind::Utf16Be:
        unfinished = m_leadByte >= 0 || m_leadSurrogate != 0;
        m_leadByte = -1;
        m_leadSurrogate = 0;
        break;
    case Kind::Icu:
        if (!m_icuHeld.isEmpty())
            return m_icu->decode(std::exchange(m_icuHeld, {}));
        break;
    case Kind::Windows1252:
    case Kind::UserDefined:
    case Kind::Replacement:
        break;
    }
    return unfinished ? QString(QChar(kReplacement)) : QString();
}

char16_t *TextDecoder::utf8(const uchar *in, const uchar *end, char16_t *out) {
    // The state in locals, so that the compiler need not reload it after every write.
    char32_t codePoint = m_codePoint;
    int needed = m_needed, seen = m_seen;
    uchar lower = m_lower, upper = m_upper;
    while (in < end) {
        if (needed == 0) {
            copyAscii(in, end, out);
            // Whole three-byte sequences whose lead sets no bounds of its own, as most CJK text is.
            while (end - in >= 3 && (uchar(in[0] - 0xE1) <= 0x0B || uchar(in[0] - 0xEE) <= 1) &&
                   (in[1] & 0xC0) == 0x80 && (in[2] & 0xC0) == 0x80) {
                *out++ = char16_t((in[0] & 0x0F) << 12 | (in[1] & 0x3F) << 6 | (in[2] & 0x3F));
                in += 3;
            }
            if (in == end)
                break;
            const uchar byte = *in++;
            if (byte < 0x80) {
                *out++ = byte;
            } else if (byte >= 0xC2 && byte <= 0xDF) {
                needed = 1;
                codePoint = byte & 0x1F;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                lower = byte == 0xE0 ? 0xA0 : 0x80;
                upper = byte == 0xED ? 0x9F : 0xBF;
                needed = 2;
                codePoint = byte & 0x0F;
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                lower = byte == 0xF0 ? 0x90 : 0x80;
                upper = byte == 0xF4 ? 0x8F : 0xBF;
                needed = 3;
                codePoint = byte & 0x07;
            } else {
                *out++ = kReplacement;
            }
            continue;
        }
        const uchar byte = *in;
        if (byte < lower || byte > upper) {
            // The sequence so far is one error; this byte starts afresh.
            codePoint = 0;
            needed = seen = 0;
            lower = 0x80;
            upper = 0xBF;
            *out++ = kReplacement;
            continue;
        }
        ++in;
        lower = 0x80;
        upper = 0xBF;
        codePoint = codePoint << 6 | (byte & 0x3F);
        if (++seen < needed)
            continue;
        out = put(out, codePoint);
        codePoint = 0;
        needed = seen = 0;
    }
    m_codePoint = codePoint;
    m_needed = needed;
    m_seen = seen;
    m_lower = lower;
    m_upper = upper;
    return out;
}

char16_t *TextDecoder::utf16(const uchar *in, const uchar *end, char16_t *out) {
    const bool bigEndian = m_kind == Kind::Utf16Be;
    for (; in < end; ++in) {
        if (m_leadByte < 0) {
            m_leadByte = *in;
            continue;
        }
        const char16_t unit = bigEndian ? char16_t(m_leadByte << 8 | *in) : char16_t(*in << 8 | m_leadByte);
        m_leadByte = -1;
        if (m_leadSurrogate != 0) {
            const char16_t lead = m_leadSurrogate;
            m_leadSurrogate = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                *out++ = lead;
                *out++ = unit;
                continue;
            }
            *out++ = kReplacement; // and the unit is read again on its own
        }
        if (unit >= 0xD800 && unit <= 0xDBFF)
            m_leadSurrogate = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            *out++ = kReplacement;
        else
            *out++ = unit;
    }
    return out;
}

char16_t *TextDecoder::gb18030(const uchar *in, const uchar *end, char16_t *out) {
    uchar first = m_first, second = m_second, third = m_third;
    while (in < end) {
        if (first == 0) {
            copyAscii(in, end, out);
            if (in == end)
                break;
            const uchar byte = *in++;
            if (byte < 0x80) {
                *out++ = byte;
            } else if (byte > 0x80 && byte < 0xFF && in < end && in[0] >= 0x40 && in[0] != 0x7F &&
                       in[0] != 0xFF) {
                // A whole two-byte code at once, as most of a GBK page is.
                *out++ = tables::kGb18030[(byte - 0x81) * 190 + in[0] - (in[0] < 0x7F ? 0x40 : 0x41)];
                ++in;
            } else if (byte == 0x80) {
                *out++ = 0x20AC;
            } else if (byte < 0xFF) {
                first = byte;
            } else {
                *out++ = kReplacement;
            }
            continue;
        }
        const uchar byte = *in;
        if (third != 0) {
            if (byte < 0x30 || byte > 0x39) {
                // An error; the second byte (a digit) and the third (a lead) are read again.
                *out++ = kReplacement;
                *out++ = second;
                first = third;
                second = third = 0;
                continue;
            }
            ++in;
            const quint32 pointer =
                (first - 0x81) * 12600 + (second - 0x30) * 1260 + (third - 0x81) * 10 + (byte - 0x30);
            first = second = third = 0;
            const char32_t codePoint = gb18030RangesCodePoint(pointer);
            if (codePoint != 0)
                out = put(out, codePoint);
            else
                *out++ = kReplacement;
        } else if (second != 0) {
            if (byte >= 0x81 && byte <= 0xFE) {
                third = byte;
                ++in;
                continue;
            }
            // An error; the second byte (a digit) and this one are read again.
            *out++ = kReplacement;
            *out++ = second;
            first = second = 0;
        } else if (byte >= 0x30 && byte <= 0x39) {
            second = byte;
            ++in;
        } else {
            ++in;
            const uchar lead = first;
            first = 0;
            if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE)) {
                // Every two-byte pointer has a code point.
                *out++ = tables::kGb18030[(lead - 0x81) * 190 + byte - (byte < 0x7F ? 0x40 : 0x41)];
            } else {
                *out++ = kReplacement;
                if (byte < 0x80)
                    *out++ = byte; // an ASCII byte is read again on its own
            }
        }
    }
    m_first = first;
    m_second = second;
    m_third = third;
    return out;
}

char16_t *TextDecoder::big5(const uchar *in, const uchar *end, char16_t *out) {
    uchar lead = m_first;
    while (in < end) {
        if (lead == 0) {
            copyAscii(in, end, out);
            if (in == end)
                break;
        }
        const uchar byte = *in++;
        if (lead == 0) {
            if (byte < 0x80)
                *out++ = byte;
            else if (byte >= 0x81 && byte <= 0xFE)
                lead = byte;
            else
                *out++ = kReplacement;
            continue;
        }
        int pointer = -1;
        if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xFE))
            pointer = (lead - 0x81) * 157 + byte - (byte < 0x7F ? 0x40 : 0x62);
        lead = 0;
        // Four pointers stand for a letter with a combining mark.
        switch (pointer) {
        case 1133:
            *out++ = 0x00CA;
            *out++ = 0x0304;
            continue;
        case 1135:
            *out++ = 0x00CA;
            *out++ = 0x030C;
            continue;
        case 1164:
            *out++ = 0x00EA;
            *out++ = 0x0304;
            continue;
        case 1166:
            *out++ = 0x00EA;
            *out++ = 0x030C;
            continue;
        default:
            break;
        }
        const char32_t codePoint = pointer >= 0 ? big5CodePoint(pointer) : 0;
        if (codePoint != 0) {
            out = put(out, codePoint);
        } else {
            *out++ = kReplacement;
            if (byte < 0x80)
                *out++ = byte; // an ASCII byte is read again on its own
        }
    }
    m_first = lead;
    return out;
}

QString decode(QByteArrayView bytes, QByteArrayView encoding) {
    TextDecoder decoder(encoding);
    QString text = decoder.decode(bytes);
    return text + decoder.finish();
}

} // namespace text
