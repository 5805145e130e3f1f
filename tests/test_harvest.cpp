#include "fixture.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

using sandbox::Fault;
using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

namespace {

QStringList targets(const QList<Request> &requests) {
    QStringList out;
    for (const Request &request : requests)
        out.append(QString::fromUtf8(request.target));
    return out;
}

} // namespace

class TestHarvest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nextPageNumbersAfterStart() {
        Fixture f;
        QVERIFY(f.open());
        const char *next[3] = {"Command2", "Command9", "Command20"};
        const char *expected[3] = {"/libao/index_2.html", "/new/1.html", "/tiquma/index_1.html"};
        for (int tab = 0; tab < 3; ++tab) {
            f.window->findChild<QTabBar *>(u"SSTab1Tabs"_qs)->setCurrentIndex(tab);
            f.sites->clearRequests();
            f.click(next[tab]);
            QCOMPARE(f.control<QPushButton>(next[tab])->text(), u"下一页"_qs);
            QVERIFY(!f.control("SSTab1")->isEnabled());
            QVERIFY(f.waitIdle(tab));
            QCOMPARE(targets(f.sites->requests()).first(), QString::fromLatin1(expected[tab]));
            QVERIFY(f.control("SSTab1")->isEnabled());
            QCOMPARE(f.window->statusText(2), u"礼包码获取完毕.."_qs);
            QCOMPARE(f.list(tab).rowCount(), sandbox::Sandbox::kResourcesPerPage);
        }
    }

    void previousPageStopsAtTheFirst() {
        Fixture f;
        QVERIFY(f.open());
        f.click("Command2");
        QVERIFY(f.waitIdle(0));
        f.click("Command3");
        f.click("Command3"); // page 2 to 1, then 1 to 0
        QVERIFY(f.waitIdle(0));
        QCOMPARE(f.window->pageNumber(0), 0);
        f.sites->clearRequests();
        f.click("Command3");
        QCOMPARE(f.window->pageNumber(0), 0);
        QCOMPARE(f.control<QPushButton>("Command2")->text(), u"直接获取"_qs);
        QCOMPARE(f.desktop.texts(), QStringList{u"已经是第一页了"_qs});
        QTest::qWait(50);
        QVERIFY(f.sites->requests().isEmpty());
        QCOMPARE(f.list(0).entry(0).key, u"/libao/100000.html"_qs);
    }

    void pageHarvestResolvesCodesAndMarks() {
        Fixture f;
        QVERIFY(f.open());
        bool sawBusy = false;
        QObject::connect(&f.list(0), &GiftListModel::dataChanged,
                         [&] { sawBusy |= !f.window->ListingIdle(); });
        f.control<QSlider>("Slider1", 0)->setValue(5);
        f.click("Command8");
        QVERIFY(!f.control("Command7")->isEnabled() && !f.control("Command4")->isEnabled());
        QVERIFY(f.waitIdle(0));
        QVERIFY(sawBusy);
        QVERIFY(f.window->ListingIdle());
        QVERIFY(f.control("Command7")->isEnabled() && f.control("Command4")->isEnabled());
        QCOMPARE(f.window->pageNumber(0), 5);
        const GiftListModel &list = f.list(0);
        QCOMPARE(list.rowCount(), 20);
        for (int j = 0; j < 20; ++j) {
            const int id = 100500 + j;
            const GiftEntry &row = list.entry(j);
            QCOMPARE(row.number, QString::number(j + 1));
            QCOMPARE(row.title, f.sites->titleFor(id));
            QCOMPARE(row.key, u"/libao/" + QString::number(id) + u".html");
            QCOMPARE(row.code, f.sites->codeFor(id));
            const bool void_ = row.code.endsWith(u'8') || row.code.endsWith(u'9');
            QCOMPARE(row.mark, void_ ? u"×"_qs : u"√"_qs);
            QVERIFY(!row.size.isEmpty() && !row.size.contains(u' '));
        }
        QCOMPARE(f.control<QProgressBar>("ProgressBar1", 0)->value(), 20);
        QCOMPARE(f.control<QProgressBar>("ProgressBar3", 2)->value(), 0);
        QVERIFY(f.list(1).rowCount() == 0 && f.list(2).rowCount() == 0);
    }

    void irregularBlocksGiveEmptyFieldsForTheirRowOnly() {
        Fixture f;
        QVERIFY(f.open());
        f.control<QSlider>("Slider1", 0)->setValue(sandbox::Sandbox::kIrregularPage);
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        const GiftListModel &list = f.list(0);
        QCOMPARE(list.rowCount(), 20);
        // Block 4 has no title: titles pair by index, so the last row's title is empty.
        QCOMPARE(list.entry(19).title, QString());
        QCOMPARE(list.entry(4).title, f.sites->titleFor(100705));
        // Block 9 has no link: its key and code are empty, not its neighbour's.
        QCOMPARE(list.entry(9).key, QString());
        QCOMPARE(list.entry(9).code, QString());
        QCOMPARE(list.entry(8).code, f.sites->codeFor(100708));
        QCOMPARE(list.entry(10).code, f.sites->codeFor(100710));
    }

    void failuresStayInTheirRows() {
        Fixture f;
        QVERIFY(f.open());
        f.sites->setFault(QStringLiteral("aid=10010[36]&"), Fault::Reset);       // two download pages fail
        f.sites->setFault(QStringLiteral("^/libao/100104\\.html"), Fault::Hang); // one detail page hangs
        f.sites->setHandler(Site::Listing, "/libao/100105.html", [](const Request &) {
            return Response{200, "text/html", {}, {}};
        });
        f.sites->setFault(QStringLiteral("^/lb/"), Fault::Reset); // the cloud disk is unreachable
        f.web->setTimeouts(600, 600);
        f.control<QSlider>("Slider1", 0)->setValue(1);
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        const GiftListModel &list = f.list(0);
        for (int j = 0; j < 20; ++j) {
            const bool failed = j == 3 || j == 6 || j == 4 || j == 5;
            QCOMPARE(list.entry(j).code, failed ? QString() : f.sites->codeFor(100100 + j));
            QCOMPARE(list.entry(j).mark, u"√"_qs);
        }
        // An empty detail page asks for no download page in a page harvest.
        for (const QString &target : targets(f.sites->requests(Site::Listing)))
            QVERIFY(!target.startsWith(u"/plus/download.php?") || target.contains(u"aid="));
    }

    void parallelResolutionMatchesOneAtATime() {
        QList<GiftEntry> results[2];
        const int parallelism[2] = {1, 6};
        for (int k = 0; k < 2; ++k) {
            Fixture f;
            f.sites->setLatency(5);
            f.sites->setFault(QStringLiteral("aid=10011[27]&"), Fault::Reset);
            f.sites->setFault(QStringLiteral("^/libao/100115\\.html"), Fault::NotFound);
            QVERIFY(f.open(true, parallelism[k]));
            f.control<QSlider>("Slider1", 0)->setValue(1);
            f.click("Command8");
            QVERIFY(f.waitIdle(0));
            results[k] = f.list(0).entries();
        }
        QCOMPARE(results[0].size(), 20);
        for (int j = 0; j < 20; ++j) {
            QCOMPARE(results[1][j].code, results[0][j].code);
            QCOMPARE(results[1][j].mark, results[0][j].mark);
            QCOMPARE(results[1][j].title, results[0][j].title);
        }
        for (const int failed : {12, 15, 17})
            QVERIFY(results[0][failed].code.isEmpty());
        QVERIFY(!results[0][3].code.isEmpty());
    }

    void unreachableSiteEndsEarly() {
        Fixture f;
        QVERIFY(f.open());
        f.sites->setFault(QStringLiteral("^/tiquma/"), Fault::Reset);
        f.window->findChild<QTabBar *>(u"SSTab1Tabs"_qs)->setCurrentIndex(2);
        f.click("Command20");
        QVERIFY(f.waitIdle(2));
        QCOMPARE(f.window->statusText(2), u"正在获取第1页资源.."_qs);
        QCOMPARE(f.list(2).rowCount(), 0);
        QVERIFY(f.control("SSTab1")->isEnabled());
        QVERIFY(f.control("Command14")->isEnabled() && f.control("Command13")->isEnabled());
    }

    void listingSearch() {
        Fixture f;
        QVERIFY(f.open());
        auto *keyword = f.control<QLineEdit>("Text1", 0);
        keyword->setText(u"礼"_qs);
        f.click("Command7");
        keyword->clear();
        f.click("Command7");
        QCOMPARE(f.desktop.texts(), (QStringList{u"请输入最少两个字符"_qs, u"请输入要搜索的关键字"_qs}));
        QCOMPARE(f.window->statusText(2), u"请输入要搜索的关键字"_qs);

        keyword->setText(u"礼包"_qs);
        f.sites->clearRequests();
        f.click("Command7");
        for (const char *locked : {"Command7", "Command2", "Command3", "Command4"})
            QVERIFY(!f.control(locked)->isEnabled());
        QCOMPARE(f.window->statusText(2), u"正在进行搜索礼包相关资源.."_qs);
        QVERIFY(f.waitIdle(0));
        for (const char *locked : {"Command7", "Command2", "Command3", "Command4"})
            QVERIFY(f.control(locked)->isEnabled());
        QVERIFY(targets(f.sites->requests())
                    .first()
                    .startsWith(u"/plus/search.php?typeid=5&q=%E7%A4%BC%E5%8C%85&"));
        const GiftListModel &list = f.list(0);
        QCOMPARE(list.rowCount(), 100);
        for (const GiftEntry &row : list.entries()) {
            QCOMPARE(row.size, u"未知"_qs);
            QVERIFY(row.title.contains(u"礼包") && !row.title.contains(u'<'));
            QVERIFY(!row.code.isEmpty());
        }
        QCOMPARE(f.window->pageNumber(0), 1);
    }

    void searchAsksForDownloadEvenWithEmptyDetail() {
        Fixture f;
        QVERIFY(f.open());
        f.sites->setHandler(Site::Listing, "/plus/search.php", [](const Request &) {
            return Response{200, "text/html", "<h3><a href=\"/empty.html\">x</a><span></h3>", {}};
        });
        f.sites->setHandler(Site::Listing, "/empty.html", [](const Request &) {
            return Response{200, "text/html", {}, {}};
        });
        f.window->findChild<QTabBar *>(u"SSTab1Tabs"_qs)->setCurrentIndex(2);
        f.control<QLineEdit>("Text3", 2)->setText(u"ab"_qs);
        f.click("Command14");
        QVERIFY(f.waitIdle(2));
        QVERIFY(targets(f.sites->requests(Site::Listing)).contains(u"/plus/download.php?"_qs));
        QCOMPARE(f.list(2).entry(0).code, QString());
        QCOMPARE(f.control<QProgressBar>("ProgressBar3", 2)->maximum(), 1);
    }

    void shareHarvestAndSearch() {
        Fixture f;
        QVERIFY(f.open());
        f.window->findChild<QTabBar *>(u"SSTab1Tabs"_qs)->setCurrentIndex(1);
        f.click("Command11"); // page 1 from the slider
        QVERIFY(!f.control("Command12")->isEnabled());
        QVERIFY(f.waitIdle(1));
        QVERIFY(f.control("Command12")->isEnabled());
        const GiftListModel &list = f.list(1);
        QCOMPARE(list.rowCount(), 20);
        QCOMPARE(list.entry(3).key, u"300103"_qs);
        QCOMPARE(list.entry(3).code, f.sites->codeFor(300103));
        QVERIFY(list.entry(3).title.startsWith(f.sites->titleFor(300103) + u" （"));
        QVERIFY(list.entry(3).size.endsWith(u'G'));
        QCOMPARE(list.entry(3).mark, QString());
        const Request find = f.sites->requests(Site::Share).last();
        QVERIFY(find.body.startsWith(
            "button=%E6%8E%A5%E6%94%B6%E8%B5%84%E6%BA%90&ctl00%24content%24hidresourceid="));

        f.control<QLineEdit>("Text2", 1)->setText(u"no such thing"_qs);
        f.click("Command12");
        QVERIFY(f.waitIdle(1));
        QCOMPARE(f.window->statusText(2), u"抱歉!未找到相关资源!"_qs);
        QCOMPARE(f.desktop.messages.last().title, u"Corvane软件"_qs);
        QCOMPARE(f.desktop.messages.last().text, u"抱歉!未找到相关资源!"_qs);
        QCOMPARE(list.rowCount(), 0);
        for (const char *button : {"Command9", "Command16", "Command15", "Command12"})
            QVERIFY(f.control(button)->isEnabled());

        // A code past the first 10000 bytes of the find reply is not seen.
        f.sites->setHandler(Site::Share, "/api/find.aspx", [](const Request &request) {
            const bool late = request.body.endsWith("=300105");
            return Response{200, "text/html", QByteArray(late ? 10050 : 10, ' ') + "gift_code=found&", {}};
        });
        f.control<QLineEdit>("Text2", 1)->setText(f.sites->titleFor(300105));
        f.click("Command12");
        QVERIFY(f.waitIdle(1));
        QCOMPARE(f.window->statusText(2), u"礼包码获取完毕.."_qs);
        QVERIFY(list.rowCount() >= 1);
        for (const GiftEntry &row : list.entries())
            QCOMPARE(row.code, row.key == u"300105" ? QString() : u"found"_qs);
    }

    void runsStayWithTheirTab() {
        Fixture f;
        f.sites->setLatency(30);
        QVERIFY(f.open());
        f.fill(1, {u"keep"_qs});
        f.click("Command8"); // tab control stays enabled
        QTRY_VERIFY(f.list(0).rowCount() > 0);
        f.window->findChild<QTabBar *>(u"SSTab1Tabs"_qs)->setCurrentIndex(1);
        QVERIFY(f.waitIdle(0));
        QCOMPARE(f.list(0).rowCount(), 20);
        QCOMPARE(f.list(0).entry(19).code, f.sites->codeFor(100119));
        QCOMPARE(f.list(1).rowCount(), 1);
        QCOMPARE(f.list(1).entry(0).code, u"keep"_qs);
    }

    void aReplacedRunWritesNothingMore() {
        Fixture f;
        f.sites->setLatency(40);
        QVERIFY(f.open());
        f.control<QSlider>("Slider1", 0)->setValue(3);
        f.click("Command8");
        QTRY_VERIFY(f.list(0).rowCount() == 20);
        f.control<QSlider>("Slider1", 0)->setValue(4);
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        QTest::qWait(200);
        const GiftListModel &list = f.list(0);
        QCOMPARE(list.rowCount(), 20);
        for (int j = 0; j < 20; ++j) {
            QCOMPARE(list.entry(j).key, u"/libao/" + QString::number(100400 + j) + u".html");
            QCOMPARE(list.entry(j).code, f.sites->codeFor(100400 + j));
        }
        QVERIFY(f.control("Command7")->isEnabled());
        QVERIFY(f.window->ListingIdle());
    }
};

QTEST_MAIN(TestHarvest)
#include "test_harvest.moc"
