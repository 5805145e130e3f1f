#include "harvest/cutters.h"
#include "text/encoding.h"
#include "text/text.h"
#include "warnings.h"
#include "web/clouddisk.h"
#include "web/listingsite.h"

#include <QFile>
#include <QTest>

using namespace text;

namespace {

const QString kInfo = QStringLiteral("<span class=\"info\">");
const QString kTitle = QStringLiteral("class=\"title\" target=\"_blank\">");
const QString kSize = QStringLiteral("<small>文件大小：</small>");

// Pointer and code point of every line of one of the WHATWG index files in the repository.
QList<QPair<quint32, char32_t>> readIndex(const char *name) {
    QList<QPair<quint32, char32_t>> index;
    QFile file(QStringLiteral(GIFTVANE_WHATWG_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return index;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() >= 2 && !line.startsWith('#'))
            index.append({fields[0].trimmed().toUInt(), fields[1].toUInt(nullptr, 16)});
    }
    return index;
}

QString codePoint(char32_t value) {
    return QString::fromUcs4(&value, 1);
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int value : values)
        out.append(char(value));
    return out;
}

// A gb18030 four-byte sequence by its pointer.
QByteArray fourBytes(quint32 pointer) {
    return bytes({int(pointer / 12600 + 0x81), int(pointer / 1260 % 10 + 0x30),
                  int(pointer / 10 % 126 + 0x81), int(pointer % 10 + 0x30)});
}

// Decoded a byte at a time: the decoder must carry every unfinished sequence over.
QString decodedByteByByte(const QByteArray &input, const QByteArray &encoding) {
    TextDecoder decoder(encoding);
    QString out;
    for (const char byte : input)
        out += decoder.decode(QByteArrayView(&byte, 1));
    return out + decoder.finish();
}

} // namespace

class TestText final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void looksLikeUtf8_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("expected");
        QTest::newRow("ascii") << QByteArray("abc") << false;
        QTest::newRow("bom then anything") << QByteArray("\xEF\xBB\xBF\xFF\xFF") << true;
        QTest::newRow("two bytes only") << QByteArray("\xC3\xA9") << false;
        QTest::newRow("a then e-acute") << QByteArray("a\xC3\xA9") << true;
        QTest::newRow("lead byte cut off") << QByteArray("ab\xC3") << false;
        QTest::newRow("four-byte sequence") << QByteArray("\xF0\x9F\x98\x80") << true;
        QTest::newRow("emoji in a page") << u"<p>礼包 😀 1.5 GB</p>"_qs.toUtf8() << true;
        QTest::newRow("four-byte lead cut off") << QByteArray("ab\xF0\x9F\x98") << false;
        QTest::newRow("no five-byte lead") << QByteArray("ab\xF8\x88\x80\x80\x80") << false;
        QTest::newRow("chinese") << QString::fromUtf8("礼包码").toUtf8() << true;
        QTest::newRow("gbk chinese") << QByteArray("\xC0\xF1\xB0\xFC\xC2\xEB") << false;
        QTest::newRow("three-byte lead cut off") << QByteArray("ab\xE7\xA4") << false;
    }
    void looksLikeUtf8() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, expected);
        QCOMPARE(LooksLikeUtf8(bytes), expected);
    }

    void decoding() {
        QCOMPARE(DecodeUtf8Bytes({}), QString());
        QCOMPARE(DecodeUtf8Bytes("\xEF\xBB\xBF\xE7\xA4\xBC"), u"\uFEFF礼"_qs);
        QCOMPARE(decodeGbk(QByteArray("\xC0\xF1\xB0\xFC")), u"礼包"_qs);
        QCOMPARE(encodeGbk(u"礼包"_qs), QByteArray("\xC0\xF1\xB0\xFC"));
        QCOMPARE(charsetOf("text/html; charset=\"GBK\""), QByteArray("GBK"));
        QCOMPARE(charsetOf("text/html;Charset=utf-8; x=y"), QByteArray("utf-8"));
        QCOMPARE(charsetOf("text/html"), QByteArray());
        QCOMPARE(charsetOf("text/html; xcharset=gbk"), QByteArray());
        QCOMPARE(charsetOf("text/html;charset=gbk;charset=utf-8"), QByteArray("gbk"));
        QCOMPARE(charsetOf("text/html; CHARSET = 'utf-8' "), QByteArray("utf-8"));
    }

    // Both two-byte indexes pointer by pointer, the ends of every four-byte range, and the
    // ill-formed sequences, against the WHATWG files themselves.
    void decodesAsTheIndexSays_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const QList<QPair<quint32, char32_t>> gb18030 = readIndex("index-gb18030.txt");
        QCOMPARE(gb18030.size(), 126 * 190);
        for (const auto &[pointer, code] : gb18030) {
            const int lead = int(pointer / 190 + 0x81), trail = int(pointer % 190);
            const int second = trail + (trail < 0x3F ? 0x40 : 0x41);
            QTest::addRow("gb18030 %02X%02X", lead, second)
                << QByteArray("gb18030") << bytes({lead, second}) << codePoint(code);
        }
        const QList<QPair<quint32, char32_t>> ranges = readIndex("index-gb18030-ranges.txt");
        QVERIFY(ranges.size() > 200);
        for (qsizetype i = 0; i < ranges.size(); ++i) {
            const auto [start, code] = ranges[i];
            // A range runs to the next one's start, the basic plane's to U+FFFF (pointer 39419).
            quint32 end = i + 1 < ranges.size() ? ranges[i + 1].first - 1 : 1237575;
            if (start <= 39419)
                end = qMin(end, 39419u);
            for (const quint32 pointer : {start, end}) {
                if (pointer == 7457 || (pointer == end && end == start))
                    continue; // 7457 below
                QTest::addRow("gb18030 pointer %u", pointer)
                    << QByteArray("gb18030") << fourBytes(pointer) << codePoint(code + (pointer - start));
            }
        }
        // Where the four-byte area has nothing, and the one pointer the ranges do not give.
        const QString replacement(QChar(0xFFFD));
        for (const quint32 pointer : {39420u, 188999u, 1237576u, 1587599u})
            QTest::addRow("gb18030 pointer %u", pointer)
                << QByteArray("gb18030") << fourBytes(pointer) << replacement;
        QTest::newRow("gb18030 pointer 7457") << QByteArray("gb18030") << fourBytes(7457) << u"\uE7C7"_qs;
        const struct {
            const char *name;
            QByteArray input;
            QString expected;
        } illFormed[] = {
            {"euro", "\x80", u"€"_qs},
            {"FF", "\xFF", replacement},
            {"lead at the end", "\x81", replacement},
            {"lead, ASCII", "\x81 ", u"\uFFFD "_qs},
            {"lead, 7F", "\x81\x7F", u"\uFFFD\x7F"_qs},
            {"lead, FF", "\x81\xFF", replacement},
            {"lead, digit at the end", "\x81\x30", replacement},
            {"three of four at the end", "\x81\x30\x81", replacement},
            {"lead, digit, ASCII", "\x81\x30 ", u"\uFFFD0 "_qs},
            {"lead, digit, FF", "\x81\x30\xFF", u"\uFFFD0\uFFFD"_qs},
            {"three of four, then a trail", "\x81\x30\x81\x41", u"\uFFFD0丄"_qs},
            {"three of four, then ASCII", "\x81\x30\x81 ", u"\uFFFD0\uFFFD "_qs},
            {"four-byte then ASCII",
             "\x81\x30\x81\x30"
             "a",
             u"\u0080a"_qs},
        };
        for (const auto &row : illFormed)
            QTest::addRow("gb18030 %s", row.name) << QByteArray("gb18030") << row.input << row.expected;

        const QList<QPair<quint32, char32_t>> big5 = readIndex("index-big5.txt");
        QVERIFY(big5.size() > 18000);
        QHash<quint32, char32_t> big5Codes;
        for (const auto &[pointer, code] : big5)
            big5Codes.insert(pointer, code);
        // Four pointers stand for two code points each; a pointer with none gives U+FFFD and an
        // ASCII trail byte is read again.
        const QHash<quint32, QString> pairs = {{1133, u"\u00CA\u0304"_qs},
                                               {1135, u"\u00CA\u030C"_qs},
                                               {1164, u"\u00EA\u0304"_qs},
                                               {1166, u"\u00EA\u030C"_qs}};
        for (quint32 pointer = 0; pointer < 126 * 157; ++pointer) {
            const int lead = int(pointer / 157 + 0x81), trail = int(pointer % 157);
            const int second = trail + (trail < 0x3F ? 0x40 : 0x62);
            const QString expected = pairs.contains(pointer)       ? pairs[pointer]
                                     : big5Codes.contains(pointer) ? codePoint(big5Codes[pointer])
                                     : second < 0x80               ? replacement + QChar(second)
                                                                   : replacement;
            QTest::addRow("Big5 %02X%02X", lead, second)
                << QByteArray("Big5") << bytes({lead, second}) << expected;
        }
        QTest::newRow("Big5 lead, FF") << QByteArray("Big5") << bytes({0xA4, 0xFF}) << replacement;
        QTest::newRow("Big5 lead at the end") << QByteArray("Big5") << bytes({'a', 0xA4}) << u"a\uFFFD"_qs;
        QTest::newRow("Big5 80") << QByteArray("Big5") << bytes({0x80, 'a'}) << u"\uFFFDa"_qs;
    }
    void decodesAsTheIndexSays() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        QCOMPARE(decode(input, encoding), expected);
        QCOMPARE(decodedByteByByte(input, encoding), expected);
        if (encoding == "gb18030") // gbk is the same decoder
            QCOMPARE(decode(input, "GBK"), expected);
    }

    void decodesAsTheStandardSays_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const QString bad(QChar(0xFFFD));
        // Each maximal ill-formed subpart of UTF-8 is one U+FFFD.
        QTest::newRow("utf-8 whole") << QByteArray("UTF-8") << u"a礼é😀"_qs.toUtf8() << u"a礼é😀"_qs;
        QTest::newRow("utf-8 cut emoji") << QByteArray("UTF-8") << QByteArray("\xF0\x9F\x98") << bad;
        QTest::newRow("utf-8 cut emoji, then a") << QByteArray("UTF-8")
                                                 << QByteArray("\xF0\x9F\x98"
                                                               "a")
                                                 << bad + u"a";
        QTest::newRow("utf-8 cut CJK") << QByteArray("UTF-8") << QByteArray("\xE7\xA4<") << bad + u"<";
        QTest::newRow("utf-8 overlong")
            << QByteArray("UTF-8") << QByteArray("\xE0\x80\xAF") << bad + bad + bad;
        QTest::newRow("utf-8 surrogate")
            << QByteArray("UTF-8") << QByteArray("\xED\xA0\x80") << bad + bad + bad;
        QTest::newRow("utf-8 past U+10FFFF")
            << QByteArray("UTF-8") << QByteArray("\xF4\x90\x80\x80") << bad + bad + bad + bad;
        QTest::newRow("utf-8 C0") << QByteArray("UTF-8") << QByteArray("\xC0\xAF") << bad + bad;
        QTest::newRow("utf-8 stray") << QByteArray("UTF-8")
                                     << QByteArray("a\xFF\xBF"
                                                   "b")
                                     << u"a"_qs + bad + bad + u"b";
        QTest::newRow("utf-16le") << QByteArray("UTF-16LE") << QByteArray("<\0=\xD8\0\xDE", 6) << u"<😀"_qs;
        QTest::newRow("utf-16be") << QByteArray("UTF-16BE") << QByteArray("\0<\xD8=\xDE\0", 6) << u"<😀"_qs;
        QTest::newRow("utf-16le lone lead") << QByteArray("UTF-16LE")
                                            << QByteArray("=\xD8"
                                                          "a\0",
                                                          4)
                                            << bad + u"a";
        QTest::newRow("utf-16le lone trail") << QByteArray("UTF-16LE")
                                             << QByteArray("\0\xDE"
                                                           "a\0",
                                                           4)
                                             << bad + u"a";
        QTest::newRow("utf-16le odd byte")
            << QByteArray("UTF-16LE") << QByteArray("a\0b", 3) << u"a"_qs + bad;
        // The Latin-1 labels read as windows-1252: quotes and dashes, not C1 controls.
        QTest::newRow("windows-1252") << QByteArray("windows-1252")
                                      << QByteArray("\x93q\x94 \x96 \x80\x81\xE9") << u"“q” – €\u0081é"_qs;
        QTest::newRow("x-user-defined")
            << QByteArray("x-user-defined") << QByteArray("a\x80\xFF") << u"a\uF780\uF7FF"_qs;
        QTest::newRow("replacement") << QByteArray("replacement") << QByteArray("abc") << bad;
        QTest::newRow("replacement, empty") << QByteArray("replacement") << QByteArray() << QString();
        // The others through ICU.
        QTest::newRow("windows-1251") << QByteArray("windows-1251") << QByteArray("\xC0\xE1") << u"Аб"_qs;
        QTest::newRow("Shift_JIS") << QByteArray("Shift_JIS") << QByteArray("\x82\xA0") << u"あ"_qs;
        QTest::newRow("EUC-KR") << QByteArray("EUC-KR") << QByteArray("\xB0\xA1") << u"가"_qs;
        QTest::newRow("ISO-2022-JP") << QByteArray("ISO-2022-JP") << QByteArray("\x1B$B0!\x1B(Ba")
                                     << u"亜a"_qs;
        // A wrong escape gives its bytes back at once, more text than its last byte has room for.
        QTest::newRow("ISO-2022-JP wrong escape")
            << QByteArray("ISO-2022-JP") << QByteArray("a\x1B$):") << u"a\uFFFD$):"_qs;
    }
    void decodesAsTheStandardSays() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        QVERIFY(canDecode(encoding));
        QCOMPARE(decode(input, encoding), expected);
        QCOMPARE(decodedByteByByte(input, encoding), expected);
    }

    void labels_data() {
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<QByteArray>("encoding");
        for (const char *gbk : {"gbk", "gb2312", "x-gbk", "chinese", "csgb2312", "csiso58gb231280", "gb_2312",
                                "gb_2312-80", "iso-ir-58", " GB2312 ", "\tGbK\n"})
            QTest::addRow("'%s'", gbk) << QByteArray(gbk) << QByteArray("GBK");
        QTest::newRow("gb18030") << QByteArray("GB18030") << QByteArray("gb18030");
        for (const char *latin1 : {"iso-8859-1", "latin1", "ascii", "us-ascii", "l1", "windows-1252"})
            QTest::addRow("'%s'", latin1) << QByteArray(latin1) << QByteArray("windows-1252");
        QTest::newRow("utf8") << QByteArray("utf8") << QByteArray("UTF-8");
        QTest::newRow("unicode-1-1-utf-8") << QByteArray("Unicode-1-1-UTF-8") << QByteArray("UTF-8");
        QTest::newRow("utf-16") << QByteArray("utf-16") << QByteArray("UTF-16LE");
        QTest::newRow("big5-hkscs") << QByteArray("big5-hkscs") << QByteArray("Big5");
        QTest::newRow("iso-2022-kr") << QByteArray("iso-2022-kr") << QByteArray("replacement");
        QTest::newRow("sjis") << QByteArray("sjis") << QByteArray("Shift_JIS");
        // Labels that name nothing: not in the list, or only near it.
        for (const char *unknown : {"", " ", "cp936", "gb-2312", "utf-8 x", "utf-7", "x-user-undefined",
                                    "\xA0utf-8", "gbk;", "\"gbk\""})
            QTest::addRow("'%s'", unknown) << QByteArray(unknown) << QByteArray();
        QTest::newRow("NUL inside") << QByteArray("utf-8\0x", 7) << QByteArray();
        QTest::newRow("Kelvin sign") << QByteArray("\xE2\x84\xAAoi8-r") << QByteArray();
    }
    void labels() {
        QFETCH(QByteArray, label);
        QFETCH(QByteArray, encoding);
        QCOMPARE(encodingForLabel(label), encoding);
    }

    void prescan_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("charset") << QByteArray("<head><meta charset=\"gb2312\">") << QByteArray("GBK");
        QTest::newRow("unquoted, slash") << QByteArray("<meta/charset=big5 />") << QByteArray("Big5");
        QTest::newRow("a slash ends no unquoted value") << QByteArray("<meta charset=big5/>") << QByteArray();
        QTest::newRow("http-equiv") << QByteArray("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                                                  "charset=gb2312\">")
                                    << QByteArray("GBK");
        QTest::newRow("content first") << QByteArray("<meta content='text/html;charset = \"big5\"' "
                                                     "http-equiv=content-type>")
                                       << QByteArray("Big5");
        QTest::newRow("content without http-equiv")
            << QByteArray("<meta content=\"text/html; charset=gbk\">") << QByteArray();
        QTest::newRow("charset wins over content") << QByteArray("<meta charset=big5 content=\"charset=gbk\" "
                                                                 "http-equiv=content-type>")
                                                   << QByteArray("Big5");
        QTest::newRow("first of a repeated attribute")
            << QByteArray("<meta charset=gbk charset=big5>") << QByteArray("GBK");
        QTest::newRow("in a comment")
            << QByteArray("<!-- <meta charset=big5> --><meta charset=gbk>") << QByteArray("GBK");
        QTest::newRow("shortest comment") << QByteArray("<!--><meta charset=gbk>") << QByteArray("GBK");
        QTest::newRow("in another tag's attribute")
            << QByteArray("<div title='<meta charset=big5>'><meta charset=gbk>") << QByteArray("GBK");
        QTest::newRow("after an end tag and a doctype")
            << QByteArray("<!DOCTYPE html></p><meta charset=gbk>") << QByteArray("GBK");
        QTest::newRow("unknown, then known")
            << QByteArray("<meta charset=nonesuch><meta charset=gbk>") << QByteArray("GBK");
        QTest::newRow("utf-16 is utf-8") << QByteArray("<meta charset=utf-16be>") << QByteArray("UTF-8");
        QTest::newRow("x-user-defined")
            << QByteArray("<meta charset=x-user-defined>") << QByteArray("windows-1252");
        QTest::newRow("no blank after meta") << QByteArray("<metacharset=gbk>") << QByteArray();
        QTest::newRow("cut off") << QByteArray("<meta charset=\"gbk") << QByteArray();
        QTest::newRow("text, not a tag") << QByteArray("<p>charset=gbk</p>") << QByteArray();
        QTest::newRow("xml declaration")
            << QByteArray("<?xml version=\"1.0\" encoding='GB18030'?><html>") << QByteArray("gb18030");
        // An XML declaration is matched byte for byte, and its label has no blank inside the quotes.
        QTest::newRow("XML in capitals")
            << QByteArray("<?XML version=\"1.0\" encoding=\"gbk\"?>") << QByteArray();
        QTest::newRow("ENCODING in capitals")
            << QByteArray("<?xml version=\"1.0\" ENCODING=\"gbk\"?>") << QByteArray();
        QTest::newRow("blank before the label") << QByteArray("<?xml encoding=\" gbk\"?>") << QByteArray();
        QTest::newRow("tab after the label") << QByteArray("<?xml encoding='gbk\t'?>") << QByteArray();
        QTest::newRow("blanks around =") << QByteArray("<?xml encoding \t= 'big5'?>") << QByteArray("Big5");
        QTest::newRow("label in capitals") << QByteArray("<?xml encoding='BIG5'?>") << QByteArray("Big5");
        QTest::newRow("utf-16le xml declaration")
            << QByteArray("<\0?\0x\0m\0l\0", 10) << QByteArray("UTF-16LE");
    }
    void prescan() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, encoding);
        QCOMPARE(prescanEncoding(input), encoding);
    }

    void replyEncodingChoice_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("gbkFallback");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QString>("text");
        const QByteArray gbk("\xCD\xF5\xB4\xB4"); // 王创
        const QByteArray utf8 = u"王创"_qs.toUtf8();
        QTest::newRow("mark over header") << QByteArray("text/html; charset=gbk") << "\xEF\xBB\xBF" + utf8
                                          << false << QByteArray("UTF-8") << u"王创"_qs;
        QTest::newRow("utf-16 mark") << QByteArray("text/html") << QByteArray("\xFF\xFEx\0", 4) << true
                                     << QByteArray("UTF-16LE") << u"x"_qs;
        QTest::newRow("header over meta")
            << QByteArray("text/html; charset=gbk") << "<meta charset=utf-8>" + gbk << false
            << QByteArray("GBK") << u"<meta charset=utf-8>王创"_qs;
        QTest::newRow("declared over sniff") << QByteArray("text/html; charset=utf-8") << utf8 + "\xFF"
                                             << false << QByteArray("UTF-8") << u"王创\uFFFD"_qs;
        QTest::newRow("declared over gbk")
            << QByteArray("text/html; charset=utf-8") << utf8 << true << QByteArray("UTF-8") << u"王创"_qs;
        QTest::newRow("unknown label, meta")
            << QByteArray("text/html; charset=cp936") << "<meta charset=gbk>" + gbk << false
            << QByteArray("GBK") << u"<meta charset=gbk>王创"_qs;
        QTest::newRow("undecodable label, sniffed") << QByteArray("text/html; charset=iso-8859-16") << utf8
                                                    << false << QByteArray("UTF-8") << u"王创"_qs;
        QTest::newRow("sniffed gbk") << QByteArray() << gbk << false << QByteArray("GBK") << u"王创"_qs;
        QTest::newRow("sniffed utf-8") << QByteArray() << utf8 << false << QByteArray("UTF-8") << u"王创"_qs;
        QTest::newRow("gbk fallback")
            << QByteArray("text/html") << gbk << true << QByteArray("GBK") << u"王创"_qs;
        QTest::newRow("meta past 1024 bytes")
            << QByteArray() << QByteArray(1024, ' ') + "<meta charset=big5>" << true << QByteArray("GBK")
            << QString(1024, u' ') + u"<meta charset=big5>";
    }
    void replyEncodingChoice() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, gbkFallback);
        QFETCH(QByteArray, encoding);
        QFETCH(QString, text);
        const Fallback fallback = gbkFallback ? Fallback::Gbk : Fallback::Sniffed;
        QCOMPARE(replyEncoding(body, contentType, fallback).encoding, encoding);
        QCOMPARE(decodeReply(body, contentType, fallback), text);
    }

    void percentEncode_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("gift") << u"礼包"_qs << u"%E7%A4%BC%E5%8C%85"_qs;
        QTest::newRow("two-byte") << QString(QChar(0x00E9)) << u"%C3%A9"_qs;
        QTest::newRow("three-byte low") << QString(QChar(0x0800)) << u"%E0%A0%80"_qs;
        // Nothing from the text may cut or add to the address or the form it goes into.
        QTest::newRow("hash") << u"C#礼包"_qs << u"C%23%E7%A4%BC%E5%8C%85"_qs;
        QTest::newRow("parameters") << u"a+b&pagesize=1"_qs << u"a%2Bb%26pagesize%3D1"_qs;
        QTest::newRow("percent once") << u"50%礼包"_qs << u"50%25%E7%A4%BC%E5%8C%85"_qs;
        QTest::newRow("blank and path") << u"资源 ../a?b"_qs << u"%E8%B5%84%E6%BA%90%20..%2Fa%3Fb"_qs;
        QTest::newRow("outside the basic plane") << u"😀"_qs << u"%F0%9F%98%80"_qs;
        QTest::newRow("unreserved kept") << u"Ab9-._~"_qs << u"Ab9-._~"_qs;
    }
    void percentEncode() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(PercentEncodeUtf8(input), expected);
    }

    void regexReplace() {
        QCOMPARE(RegexReplaceAll(u"<A HREF='x'>t</a>"_qs, u"</?a[^<>]*>"_qs, {}), u"t"_qs);
        QCOMPARE(RegexReplaceAll(u"<FONT color=red>新</Font>资<font>源</font>"_qs, u"</?font[^<>]*>"_qs, {}),
                 u"新资源"_qs);
        QCOMPARE(RegexReplaceAll(u"<abbr>x</abbr>"_qs, u"</?a[^<>]*>"_qs, {}), u"x"_qs);
    }

    void pieces() {
        QCOMPARE(PieceAt(u"a|b|c", u"|", 2), u"c");
        QCOMPARE(PieceAt(u"a|b|c", u"|", 0), u"a");
        QCOMPARE(PieceAt(u"abc", u"|", 0), u"abc");
        QVERIFY(PieceAt(u"abc", u"|", 1).isEmpty());
        QVERIFY(PieceAt(u"a|b", u"|", 5).isEmpty());
        QCOMPARE(PieceAt(u"x<h3><h3>y", u"<h3>", 2), u"y");
        QCOMPARE(PieceAt(u"x<h3><h3>y", u"<h3>", 1), u"");
        QCOMPARE(TextBefore(u"V1.6.5|x", u"|"), u"V1.6.5");
        QVERIFY(TextBefore(u"V1.6.5", u"|").isEmpty());
        QCOMPARE(countOf(u"aaaa", u"aa"), 2);
        const MarkerSplit split(u"a|b||c", u"|");
        QCOMPARE(split.markerCount(), 3);
        QCOMPARE(split.piece(0), u"a");
        QCOMPARE(split.piece(2), u"");
        QCOMPARE(split.piece(3), u"c");
        QVERIFY(split.piece(4).isEmpty());
    }

    void listingPage() {
        const QString base = u"http://list.test"_qs;
        // Three info blocks, two titles; the second block has no link.
        const QString page = kTitle + u"甲</a>" + kSize + u"1.5 GB" + kInfo +
                             u"<a href=\"/libao/1.html\">x</a>" + kTitle + u"乙&amp;丙 </a>" + kSize +
                             u"2.3<b>GB x" + kInfo + u"无链接" + kSize + u"7 MB" + kInfo +
                             u"<a href=\"/libao/3.html\">";
        const cutters::ListedPage listed = cutters::cutListingPage(page, base);
        QCOMPARE(listed.rows.size(), 3);
        QVERIFY(!listed.truncated);
        QCOMPARE(listed.rows[0], (cutters::ListedResource{u"甲"_qs, u"1.5"_qs, u"/libao/1.html"_qs}));
        QCOMPARE(listed.rows[1], (cutters::ListedResource{u"乙&amp;丙 "_qs, u"2.3<b>GB"_qs, QString()}));
        QCOMPARE(listed.rows[2], (cutters::ListedResource{QString(), u"7"_qs, u"/libao/3.html"_qs}));
        // The unit the list leaves out is kept for rules on sizes.
        QCOMPARE((QStringList{listed.rows[0].sizeWritten, listed.rows[2].sizeWritten}),
                 (QStringList{u"1.5 GB"_qs, u"7 MB"_qs}));
        QVERIFY(cutters::cutListingPage(u"<html>nothing</html>", base).rows.isEmpty());
    }

    void listingBlocksKeepTheirOwnFields_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("sizes");
        // A title anchor that links where its block does, or one without a link.
        const auto anchor = [](const QString &title, int id) -> QString {
            if (title.isNull())
                return {};
            return (id > 0 ? u"<a href=\"/libao/" + QString::number(id) + u".html\" " : u"<a "_qs) + kTitle +
                   title + u"</a>";
        };
        const auto before = [anchor](const QString &title, const QString &size, int id,
                                     bool linked = false) -> QString {
            return anchor(title, linked ? id : 0) + (size.isNull() ? QString() : kSize + size + u" GB") +
                   kInfo + u"<a href=\"/libao/" + QString::number(id) + u".html\">详情</a></span>";
        };
        const auto after = [anchor](const QString &title, const QString &size, int id,
                                    bool linked = false) -> QString {
            return kInfo + u"<a href=\"/libao/" + QString::number(id) + u".html\">详情</a></span>" +
                   anchor(title, linked ? id : 0) + (size.isNull() ? QString() : kSize + size + u" GB");
        };
        QTest::newRow("whole, titles first")
            << before(u"一"_qs, u"1"_qs, 1) + before(u"二"_qs, u"2"_qs, 2) + before(u"三"_qs, u"3"_qs, 3)
            << QStringList{u"一"_qs, u"二"_qs, u"三"_qs} << QStringList{u"1"_qs, u"2"_qs, u"3"_qs};
        QTest::newRow("whole, titles after")
            << after(u"一"_qs, u"1"_qs, 1) + after(u"二"_qs, u"2"_qs, 2) + after(u"三"_qs, u"3"_qs, 3)
            << QStringList{u"一"_qs, u"二"_qs, u"三"_qs} << QStringList{u"1"_qs, u"2"_qs, u"3"_qs};
        QTest::newRow("second without title")
            << before(u"一"_qs, u"1"_qs, 1) + before(QString(), u"2"_qs, 2) + before(u"三"_qs, u"3"_qs, 3) +
                   before(u"四"_qs, u"4"_qs, 4)
            << QStringList{u"一"_qs, QString(), u"三"_qs, u"四"_qs}
            << QStringList{u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs};
        QTest::newRow("first without title or size")
            << before(QString(), QString(), 1) + before(u"二"_qs, u"2"_qs, 2) + before(u"三"_qs, u"3"_qs, 3)
            << QStringList{QString(), u"二"_qs, u"三"_qs} << QStringList{QString(), u"2"_qs, u"3"_qs};
        QTest::newRow("titles after, last without title")
            << after(u"一"_qs, u"1"_qs, 1) + after(u"二"_qs, u"2"_qs, 2) + after(QString(), u"3"_qs, 3)
            << QStringList{u"一"_qs, u"二"_qs, QString()} << QStringList{u"1"_qs, u"2"_qs, u"3"_qs};
        QTest::newRow("titles after, linked, last block empty")
            << after(u"一"_qs, u"1"_qs, 1, true) + after(u"二"_qs, u"2"_qs, 2, true) +
                   after(QString(), QString(), 3)
            << QStringList{u"一"_qs, u"二"_qs, QString()} << QStringList{u"1"_qs, u"2"_qs, QString()};
        QTest::newRow("titles first, linked, first without, a list after")
            << before(QString(), u"1"_qs, 1) + before(u"二"_qs, u"2"_qs, 2, true) +
                   before(u"三"_qs, u"3"_qs, 3, true) + u"<div>相关：<a href=\"/libao/9.html\" "_qs + kTitle +
                   u"别的</a></div>"
            << QStringList{QString(), u"二"_qs, u"三"_qs} << QStringList{u"1"_qs, u"2"_qs, u"3"_qs};
        QTest::newRow("titles after, middle without size")
            << after(u"一"_qs, u"1"_qs, 1) + after(u"二"_qs, QString(), 2) + after(u"三"_qs, u"3"_qs, 3)
            << QStringList{u"一"_qs, u"二"_qs, u"三"_qs} << QStringList{u"1"_qs, QString(), u"3"_qs};
    }
    void listingBlocksKeepTheirOwnFields() {
        QFETCH(QString, page);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, sizes);
        const cutters::ListedPage listed = cutters::cutListingPage(page, u"http://list.test"_qs);
        QCOMPARE(listed.rows.size(), titles.size());
        for (qsizetype i = 0; i < titles.size(); ++i) {
            QCOMPARE(listed.rows[i].title, titles[i]);
            QCOMPARE(listed.rows[i].size, sizes[i]);
            QCOMPARE(listed.rows[i].key, u"/libao/" + QString::number(i + 1) + u".html");
        }
    }

    void linksThatLeaveTheSite() {
        const QString base = u"http://list.test:8081"_qs;
        QString page;
        for (const char *link :
             {"/libao/1.html", "http://127.0.0.7:18081/x.html", "//127.0.0.7/y.html",
              "http://u@list.test:8081/z.html", "@127.0.0.7:18081/stolen0", "libao/2.html"})
            page += kTitle + u"t</a>" + kInfo + u"<a href=\"" + QString::fromLatin1(link) + u"\">";
        const cutters::ListedPage listed = cutters::cutListingPage(page, base);
        const bool foreign[] = {false, true, true, true, false, false};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(listed.rows[i].foreign, foreign[i]);
            QCOMPARE(listed.rows[i].key.isEmpty(), foreign[i]);
        }
        // What stays on the site is resolved there, never against another host.
        QCOMPARE(listingsite::detailAddress(base, u"/libao/1.html"_qs),
                 u"http://list.test:8081/libao/1.html"_qs);
        QCOMPARE(listingsite::detailAddress(base, u"@127.0.0.7:18081/stolen0"_qs),
                 u"http://list.test:8081/@127.0.0.7:18081/stolen0"_qs);
        QCOMPARE(listingsite::detailAddress(base, u"libao/2.html"_qs),
                 u"http://list.test:8081/libao/2.html"_qs);
        QCOMPARE(listingsite::detailAddress(base, QString()), base);
        QCOMPARE(listingsite::detailAddress(base, u"http://127.0.0.7/x"_qs), QString());
    }

    void aPageGivesAtMostAThousandRows() {
        QString listing, search, share;
        for (int i = 0; i < 1003; ++i) {
            listing += kInfo + u"<a href=\"/libao/1.html\">";
            search += u"<h3><a href=\"/libao/1.html\">t<span></h3>";
            share += u"<td><a href=\"/file/1.html\">t</a></td><em>1</em>";
        }
        const cutters::ListedPage pages[] = {cutters::cutListingPage(listing, u"http://l"_qs),
                                             cutters::cutSearchPage(search, u"http://l"_qs),
                                             cutters::cutSharePage(share, u"http://s"_qs)};
        for (const cutters::ListedPage &page : pages) {
            QCOMPARE(page.rows.size(), cutters::kMaxRows);
            QVERIFY(page.truncated);
            QCOMPARE(page.rows.last().key.isEmpty(), false);
        }
        QVERIFY(!cutters::cutSharePage(share, u"http://s"_qs, 1003).truncated);
    }

    void searchPage() {
        const QString base = u"http://list.test"_qs;
        const QString page =
            u"<h3>最新资源</h3>" // a heading that is no hit
            u"<h3><a href=\"/libao/5.html\">新<font color='red'>资源</font></a><span>d</span></h3>"
            u"<h3><a href=\"/libao/6.html\">无结尾</a></h3>"
            u"<h3>孤立标题<span></h3>"_qs;
        const QList<cutters::ListedResource> rows = cutters::cutSearchPage(page, base).rows;
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0], (cutters::ListedResource{QString(), u"未知"_qs, QString()}));
        QCOMPARE(rows[1], (cutters::ListedResource{u"新资源"_qs, u"未知"_qs, u"/libao/5.html"_qs}));
        QCOMPARE(rows[2].title, QString()); // no "<sp" in its heading
        QCOMPARE(rows[2].key, u"/libao/6.html"_qs);
        QCOMPARE(rows[3], (cutters::ListedResource{u"孤立标题"_qs, u"未知"_qs, QString()}));
    }

    void sharePage() {
        const QString base = u"http://share.test"_qs;
        const QString page =
            u"<td><a href=\"http://share.test/file/42.html\">游戏 （1.5G）</a></td><em>1</em>"
            u"<td><a href=\"/file/43.html\">资源 (2G)</a></td><em>2</em>"
            u"<td><a href=\"http://127.0.0.7/file/44.html\">别处</a></td><em>3</em><em>4</em>"_qs;
        const QList<cutters::ListedResource> rows = cutters::cutSharePage(page, base).rows;
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0], (cutters::ListedResource{u"游戏 （1.5G）"_qs, u"1.5G"_qs, u"42"_qs}));
        QCOMPARE(rows[1], (cutters::ListedResource{u"资源 (2G)"_qs, QString(), u"/file/43"_qs}));
        QCOMPARE(rows[2], (cutters::ListedResource{u"别处"_qs, QString(), QString(), true}));
        QCOMPARE(rows[3], cutters::ListedResource{}); // more counts than cells
        QVERIFY(cutters::cutSharePage(u"<td><a href=\"x\">t</a>", base).rows.isEmpty());
    }

    void codesAndMarks() {
        QCOMPARE(cutters::cutGiftCode(u"a?gift_code=abc123&x=1"), u"abc123"_qs);
        QCOMPARE(cutters::cutGiftCode(u"a?gift_code=abc123"), QString());
        QCOMPARE(cutters::cutGiftCode(u"nothing"), QString());
        QCOMPARE(cutters::cutDownloadQuery(u"<li><a href=\"/plus/download.php?open=0&aid=5\">"),
                 u"open=0&aid=5"_qs);
        QCOMPARE(cutters::cutDownloadQuery(u"<a href=\"/plus/download.php?x\">"), QString());
        QCOMPARE(cutters::giftMark(u"礼包码无效"), u"×"_qs);
        QCOMPARE(cutters::giftMark(u"违规资源"), u"×"_qs);
        QCOMPARE(cutters::giftMark(u""), u"√"_qs);
        QCOMPARE(cutters::giftMark(u"有效礼包"), u"√"_qs);
        // A code cut from a page cannot steer the gift page's address or the receive form.
        QCOMPARE(clouddisk::giftPageAddress(u"http://disk.test"_qs, u"../../steal?x=1"_qs),
                 u"http://disk.test/lb/..%2F..%2Fsteal%3Fx%3D1"_qs);
        QCOMPARE(clouddisk::giftPageAddress(u"http://disk.test"_qs, u"gvAb12"_qs),
                 u"http://disk.test/lb/gvAb12"_qs);
        QCOMPARE(clouddisk::receiveBody(u"a&referer=x"_qs), u"referer=&gift_code=a%26referer%3Dx"_qs);
    }
};

QTEST_APPLESS_MAIN(TestText)
#include "test_text.moc"
