#include "harvest/cutters.h"
#include "text/text.h"
#include "warnings.h"
#include "web/clouddisk.h"
#include "web/listingsite.h"

#include <QTest>

using namespace text;

namespace {

const QString kInfo = QStringLiteral("<span class=\"info\">");
const QString kTitle = QStringLiteral("class=\"title\" target=\"_blank\">");
const QString kSize = QStringLiteral("<small>文件大小：</small>");

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
        QCOMPARE(DecodeGbk(QByteArray("\xC0\xF1\xB0\xFC")), u"礼包"_qs);
        QCOMPARE(DecodeSniffed(QByteArray("\xC0\xF1\xB0\xFC\xC2\xEB")), u"礼包码"_qs);
        QCOMPARE(DecodeSniffed(u"礼包码"_qs.toUtf8()), u"礼包码"_qs);
        QCOMPARE(EncodeGbk(u"礼包"_qs), QByteArray("\xC0\xF1\xB0\xFC"));
        QCOMPARE(CharsetOf("text/html; charset=\"GBK\""), QByteArray("GBK"));
        QCOMPARE(CharsetOf("text/html;Charset=utf-8; x=y"), QByteArray("utf-8"));
        QCOMPARE(CharsetOf("text/html"), QByteArray());
        QCOMPARE(CharsetOf("text/html; xcharset=gbk"), QByteArray());
        QCOMPARE(CharsetOf("text/html;charset=gbk;charset=utf-8"), QByteArray("gbk"));
        QCOMPARE(CharsetOf("text/html; CHARSET = 'utf-8' "), QByteArray("utf-8"));
        QCOMPARE(DecodeCharset(QByteArray("\xC0\xF1"), "gbk"), u"礼"_qs);
        QCOMPARE(DecodeCharset(u"礼"_qs.toUtf8(), "no-such-set"), u"礼"_qs);
        // Labels as browsers read them: gb2312 is GBK ("喆" is not in GB2312).
        for (const char *label : {"gb2312", "GB2312", " gbk ", "x-gbk", "csgb2312", "chinese", "iso-ir-58"})
            QCOMPARE(DecodeCharset(EncodeGbk(u"王喆的资源"_qs), label), u"王喆的资源"_qs);
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
        QCOMPARE(CountOf(u"aaaa", u"aa"), 2);
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
