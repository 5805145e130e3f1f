#include "harvest/cutters.h"
#include "text/text.h"
#include "warnings.h"

#include <QTest>

using namespace text;

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
        QTest::newRow("four-byte sequence") << QByteArray("\xF0\x9F\x98\x80") << false;
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
        QCOMPARE(DecodeGbk(QByteArray("\xC0\xF1\xB0\xFC")), u"礼包"_qs);
        QCOMPARE(DecodeSniffed(QByteArray("\xC0\xF1\xB0\xFC\xC2\xEB")), u"礼包码"_qs);
        QCOMPARE(DecodeSniffed(u"礼包码"_qs.toUtf8()), u"礼包码"_qs);
        QCOMPARE(EncodeGbk(u"礼包"_qs), QByteArray("\xC0\xF1\xB0\xFC"));
        QCOMPARE(CharsetOf("text/html; charset=\"GBK\""), QByteArray("GBK"));
        QCOMPARE(CharsetOf("text/html;Charset=utf-8; x=y"), QByteArray("utf-8"));
        QCOMPARE(CharsetOf("text/html"), QByteArray());
        QCOMPARE(DecodeCharset(QByteArray("\xC0\xF1"), "gbk"), u"礼"_qs);
        QCOMPARE(DecodeCharset(u"礼"_qs.toUtf8(), "no-such-set"), u"礼"_qs);
    }

    void percentEncode_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("gift") << u"礼包"_qs << u"%E7%A4%BC%E5%8C%85"_qs;
        QTest::newRow("ascii kept") << u"资源 a&b"_qs << u"%E8%B5%84%E6%BA%90 a&b"_qs;
        QTest::newRow("two-byte") << QString(QChar(0x00E9)) << u"%C3%A9"_qs;
        QTest::newRow("three-byte low") << QString(QChar(0x0800)) << u"%E0%A0%80"_qs;
        QTest::newRow("surrogate pair as two units") << u"😀"_qs << u"%ED%A0%BD%ED%B8%80"_qs;
        QTest::newRow("plain") << u"abc 1%+="_qs << u"abc 1%+="_qs;
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
        QCOMPARE(CountOf(u"aaaa", u"aa"), 2);
        const MarkerSplit split(u"a|b||c", u"|");
        QCOMPARE(split.markerCount(), 3);
        QCOMPARE(split.piece(0), u"a");
        QCOMPARE(split.piece(2), u"");
        QCOMPARE(split.piece(3), u"c");
        QVERIFY(split.piece(4).isEmpty());
    }

    void listingPage() {
        const QString info = u"<span class=\"info\">"_qs, title = u"class=\"title\" target=\"_blank\">"_qs,
                      size = u"<small>文件大小：</small>"_qs;
        // Three info blocks, two titles; the second block has no link.
        const QString page = title + u"甲</a>" + size + u"1.5 GB" + info +
                             u"<a href=\"/libao/1.html\">x</a>" + title + u"乙&amp;丙 </a>" + size +
                             u"2.3<b>GB x" + info + u"无链接" + size + u"7 MB" + info +
                             u"<a href=\"/libao/3.html\">";
        const QList<cutters::ListedResource> rows = cutters::cutListingPage(page);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], (cutters::ListedResource{u"甲"_qs, u"1.5"_qs, u"/libao/1.html"_qs}));
        QCOMPARE(rows[1], (cutters::ListedResource{u"乙&amp;丙 "_qs, u"2.3<b>GB"_qs, QString()}));
        QCOMPARE(rows[2], (cutters::ListedResource{QString(), u"7"_qs, u"/libao/3.html"_qs}));
        QVERIFY(cutters::cutListingPage(u"<html>nothing</html>").isEmpty());
    }

    void searchPage() {
        const QString page =
            u"<h3><a href=\"/libao/5.html\">新<font color='red'>资源</font></a><span>d</span></h3>"
            u"<h3><a href=\"/libao/6.html\">无结尾</a></h3>"
            u"<h3>孤立标题<span></h3>"_qs;
        const QList<cutters::ListedResource> rows = cutters::cutSearchPage(page);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], (cutters::ListedResource{u"新资源"_qs, u"未知"_qs, u"/libao/5.html"_qs}));
        QCOMPARE(rows[1].title, QString()); // no "<sp" in its heading
        QCOMPARE(rows[1].key, u"/libao/6.html"_qs);
        QCOMPARE(rows[2], (cutters::ListedResource{u"孤立标题"_qs, u"未知"_qs, QString()}));
    }

    void sharePage() {
        const QString base = u"http://share.test"_qs;
        const QString page =
            u"<td><a href=\"http://share.test/file/42.html\">游戏 （1.5G）</a></td><em>1</em>"
            u"<td><a href=\"/file/43.html\">资源 (2G)</a></td><em>2</em><em>3</em>"_qs;
        const QList<cutters::ListedResource> rows = cutters::cutSharePage(page, base);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], (cutters::ListedResource{u"游戏 （1.5G）"_qs, u"1.5G"_qs, u"42"_qs}));
        QCOMPARE(rows[1], (cutters::ListedResource{u"资源 (2G)"_qs, QString(), u"/file/43"_qs}));
        QCOMPARE(rows[2], cutters::ListedResource{}); // more counts than cells
        QVERIFY(cutters::cutSharePage(u"<td><a href=\"x\">t</a>", base).isEmpty());
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
    }
};

QTEST_APPLESS_MAIN(TestText)
#include "test_text.moc"
