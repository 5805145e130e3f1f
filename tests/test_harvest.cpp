#include "fixture.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

using sandbox::Fault;
using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

class TestHarvest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void nextPageNumbersAfterStart() {
        Fixture f;
        QVERIFY(f.open());
        const char *next[3] = {"Command2", "Command9", "Command20"};
        const char *expected[3] = {"/libao/index_2.html", "/new/1.html", "/tiquma/index_1.html"};
        for (int tab = 0; tab < 3; ++tab) {
            f.showTab(tab);
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
        QCOMPARE(f.tab(0).pageNumber(), 0);
        f.sites->clearRequests();
        f.click("Command3");
        QCOMPARE(f.tab(0).pageNumber(), 0);
        QCOMPARE(f.control<QPushButton>("Command2")->text(), u"直接获取"_qs);
        QCOMPARE(f.desktop.texts(), QStringList{u"已经是第一页了"_qs});
        QVERIFY(!f.tab(0).isHarvesting()); // no run, so nothing can be fetched
        QCOMPARE(f.list(0).entry(0).key, u"/libao/100000.html"_qs);
    }

    void pageHarvestLocksAndBusyFlag() {
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
        QCOMPARE(f.tab(0).pageNumber(), 5);
        QCOMPARE(f.list(0).entry(0).code, f.sites->codeFor(100500));
        QCOMPARE(f.control<QProgressBar>("ProgressBar1", 0)->value(), 20);
        QCOMPARE(f.control<QProgressBar>("ProgressBar3", 2)->value(), 0);
        QVERIFY(f.list(1).rowCount() == 0 && f.list(2).rowCount() == 0);
    }

    void unreachableSiteEndsEarly() {
        Fixture f;
        QVERIFY(f.open());
        f.sites->setFault(QStringLiteral("^/tiquma/"), Fault::Reset);
        f.showTab(2);
        f.click("Command20");
        QVERIFY(f.waitIdle(2));
        // A dead site does not look like a slow one.
        QCOMPARE(f.window->statusText(2), u"页面获取失败,请稍后再试"_qs);
        QCOMPARE(f.window->log()->line(f.window->log()->count() - 1),
                 u"[9:5:3]页面获取失败,请稍后再试 (无法连接 " +
                     QUrl(f.sites->address(Site::Listing)).authority() + u")");
        QCOMPARE(f.list(2).rowCount(), 0);
        QVERIFY(f.control("SSTab1")->isEnabled());
        QVERIFY(f.control("Command14")->isEnabled() && f.control("Command13")->isEnabled());
    }

    void aPageWithoutRowsLeavesTheProgressBar() {
        Fixture f;
        QVERIFY(f.open());
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        auto *bar = f.control<QProgressBar>("ProgressBar1", 0);
        const int maximum = bar->maximum(), value = bar->value();
        QCOMPARE(value, 20);
        f.sites->setHandler(Site::Listing, "/libao/index_1.html", [](const Request &) {
            return Response{200, "text/html", "<html></html>", {}};
        });
        f.click("Command8");
        QVERIFY(f.waitIdle(0));
        QCOMPARE(f.list(0).rowCount(), 0);
        QCOMPARE(bar->maximum(), maximum);
        QCOMPARE(bar->value(), value);
    }

    void aLongPageScrollsWithoutDelay() {
        // A thousand rows are listed quickly and the newest one ends up in view.
        Fixture f;
        QVERIFY(f.open());
        QByteArray page;
        for (int i = 0; i < 1000; ++i)
            page +=
                "<span class=\"info\"><a href=\"/libao/" + QByteArray::number(100000 + i) + ".html\">x</a>";
        f.sites->setHandler(Site::Listing, "/libao/index_1.html", [page](const Request &) {
            return Response{200, "text/html", page, {}};
        });
        f.sites->setFault(QStringLiteral("^/libao/1"), Fault::Hang); // resolution waits
        f.click("Command8");
        QVERIFY(runUntil([&] { return f.tab(0).isResolving(); }, 10000));
        QCOMPARE(f.list(0).rowCount(), 1000);
        QTreeView *view = f.view(0);
        QVERIFY(runUntil(
            [&] { return view->visualRect(f.list(0).index(999, 0)).intersects(view->viewport()->rect()); },
            2000));
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
        QCOMPARE(f.tab(0).pageNumber(), 1);
    }

    void shareHarvestLocksAndNothingFound() {
        Fixture f;
        QVERIFY(f.open());
        f.showTab(1);
        bool sawBusy = false; // a share-site run never makes the lists busy
        QObject::connect(&f.list(1), &GiftListModel::dataChanged,
                         [&] { sawBusy |= !f.window->ListingIdle(); });
        f.click("Command11"); // page 1 from the slider
        QVERIFY(!f.control("Command12")->isEnabled());
        QVERIFY(f.waitIdle(1));
        QVERIFY(f.control("Command12")->isEnabled());
        const GiftListModel &list = f.list(1);
        QCOMPARE(list.rowCount(), 20);
        QCOMPARE(list.entry(19).code, f.sites->codeFor(300119));
        QVERIFY(!sawBusy);

        f.control<QLineEdit>("Text2", 1)->setText(u"no such thing"_qs);
        f.click("Command12");
        QVERIFY(f.waitIdle(1));
        QCOMPARE(f.window->statusText(2), u"抱歉!未找到相关资源!"_qs);
        QCOMPARE(f.desktop.messages.last().title, u"Corvane软件"_qs);
        QCOMPARE(f.desktop.messages.last().text, u"抱歉!未找到相关资源!"_qs);
        QCOMPARE(list.rowCount(), 0);
        for (const char *button : {"Command9", "Command16", "Command15", "Command12"})
            QVERIFY(f.control(button)->isEnabled());
    }

    void runsStayWithTheirTab() {
        Fixture f;
        f.sites->setLatency(30);
        QVERIFY(f.open());
        f.fill(1, {u"keep"_qs});
        f.click("Command8"); // tab control stays enabled
        QTRY_VERIFY_WITH_TIMEOUT(f.list(0).rowCount() > 0, scaled(5000));
        f.showTab(1);
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
        QTRY_VERIFY_WITH_TIMEOUT(f.list(0).rowCount() == 20, scaled(5000));
        const QPointer<HarvestRun> replaced = f.tab(0).harvests().run();
        f.control<QSlider>("Slider1", 0)->setValue(4);
        f.click("Command8");
        deleteEndedJobs();
        QVERIFY(replaced.isNull()); // gone at once: it can write nothing more
        QVERIFY(f.waitIdle(0));
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
