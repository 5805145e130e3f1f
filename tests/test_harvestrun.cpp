#include "giftlist/giftlistmodel.h"
#include "harvest/harvestrun.h"
#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/webclient.h"

#include <QPointer>
#include <QTest>

using sandbox::Fault;
using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

namespace {

// One harvest run against the stand-in sites, with what it told the window.
struct Harvest {
    sandbox::Sandbox sites{3};
    WebClient web;
    GiftListModel list;
    QPointer<HarvestRun> run;
    QStringList statuses;
    QList<int> progress;
    int ends = 0;
    bool complete = false;
    bool sawResolving = false;

    Harvest() {
        if (!sites.start())
            qFatal("the stand-in sites could not start");
    }
    ~Harvest() {
        delete run.data(); // a run still going is cancelled
        deleteEndedJobs();
    }

    HarvestRun *start(const RunRequest &request, int parallelism = HarvestRun::kDefaultParallelism) {
        run = new HarvestRun(web, addressesOf(sites), list, request);
        run->setParallelism(parallelism);
        QObject::connect(run, &HarvestRun::statusText,
                         [this](const QString &text) { statuses.append(text); });
        QObject::connect(run, &HarvestRun::progressValue, [this](int value) { progress.append(value); });
        QObject::connect(run, &HarvestRun::resolvingChanged, [this](bool on) { sawResolving |= on; });
        QObject::connect(run, &HarvestRun::finished, [this](bool whole) {
            ++ends;
            complete = whole;
        });
        run->start();
        return run;
    }
    bool finish(int timeoutMs = 10000) {
        const bool ended = runUntil([this] { return ends > 0; }, timeoutMs);
        deleteEndedJobs();
        return ended && run.isNull();
    }
    QStringList codes() const {
        QStringList out;
        for (const GiftEntry &entry : list.entries())
            out.append(entry.code);
        return out;
    }
};

RunRequest listingPage(int page) {
    return {RunKind::ListingPage, listingsite::Section::Gifts, page, {}};
}

} // namespace

class TestHarvestRun final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void pageHarvestResolvesCodesAndMarks() {
        Harvest h;
        h.start(listingPage(5));
        QVERIFY(h.finish());
        QVERIFY(h.complete);
        QVERIFY(h.sawResolving);
        QCOMPARE(h.statuses, (QStringList{u"正在获取第5页资源.."_qs, u"资源获取完毕,正在获取礼包码.."_qs,
                                          u"礼包码获取完毕.."_qs}));
        QCOMPARE(h.list.rowCount(), 20);
        for (int j = 0; j < 20; ++j) {
            const int id = 100500 + j;
            const GiftEntry &row = h.list.entry(j);
            QCOMPARE(row.number, QString::number(j + 1));
            QCOMPARE(row.title, h.sites.titleFor(id));
            QCOMPARE(row.key, u"/libao/" + QString::number(id) + u".html");
            QCOMPARE(row.code, h.sites.codeFor(id));
            const bool void_ = row.code.endsWith(u'8') || row.code.endsWith(u'9');
            QCOMPARE(row.mark, void_ ? u"×"_qs : u"√"_qs);
            QVERIFY(!row.size.isEmpty() && !row.size.contains(u' '));
        }
        QCOMPARE(h.progress.last(), 20);

        Harvest codes;
        codes.start({RunKind::ListingPage, listingsite::Section::Codes, 4, {}});
        QVERIFY(codes.finish());
        QCOMPARE(codes.list.entry(0).key, u"/tiquma/200400.html"_qs);
        QCOMPARE(codes.list.entry(0).code, codes.sites.codeFor(200400));
    }

    void irregularBlocksGiveEmptyFieldsForTheirRowOnly() {
        Harvest h;
        h.start(listingPage(sandbox::Sandbox::kIrregularPage));
        QVERIFY(h.finish());
        QCOMPARE(h.list.rowCount(), 20);
        // Block 4 has no title: titles pair by index, so the last row's title is empty.
        QCOMPARE(h.list.entry(19).title, QString());
        QCOMPARE(h.list.entry(4).title, h.sites.titleFor(100705));
        // Block 9 has no link: its key and code are empty, not its neighbour's.
        QCOMPARE(h.list.entry(9).key, QString());
        QCOMPARE(h.list.entry(9).code, QString());
        QCOMPARE(h.list.entry(8).code, h.sites.codeFor(100708));
        QCOMPARE(h.list.entry(10).code, h.sites.codeFor(100710));
    }

    void failuresStayInTheirRows() {
        Harvest h;
        h.sites.setFault(QStringLiteral("aid=10010[36]&"), Fault::Reset);       // two download pages fail
        h.sites.setFault(QStringLiteral("^/libao/100104\\.html"), Fault::Hang); // one detail page hangs
        h.sites.setHandler(Site::Listing, "/libao/100105.html", [](const Request &) {
            return Response{200, "text/html", {}, {}};
        });
        h.sites.setFault(QStringLiteral("^/lb/"), Fault::Reset); // the cloud disk is unreachable
        h.web.setTimeouts(600, 600);
        h.start(listingPage(1));
        QVERIFY(h.finish());
        for (int j = 0; j < 20; ++j) {
            const bool failed = j == 3 || j == 6 || j == 4 || j == 5;
            QCOMPARE(h.list.entry(j).code, failed ? QString() : h.sites.codeFor(100100 + j));
            QCOMPARE(h.list.entry(j).mark, u"√"_qs);
        }
        // An empty detail page asks for no download page in a page harvest.
        for (const QString &target : targets(h.sites.requests(Site::Listing)))
            QVERIFY(!target.startsWith(u"/plus/download.php?") || target.contains(u"aid="));
    }

    void parallelResolutionMatchesOneAtATime() {
        QList<GiftEntry> results[2];
        const int parallelism[2] = {1, 6};
        for (int k = 0; k < 2; ++k) {
            Harvest h;
            h.sites.setLatency(5);
            h.sites.setFault(QStringLiteral("aid=10011[27]&"), Fault::Reset);
            h.sites.setFault(QStringLiteral("^/libao/100115\\.html"), Fault::NotFound);
            h.start(listingPage(1), parallelism[k]);
            QVERIFY(h.finish());
            results[k] = h.list.entries();
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

    void searchAsksForDownloadEvenWithEmptyDetail() {
        Harvest h;
        h.sites.setHandler(Site::Listing, "/plus/search.php", [](const Request &) {
            return Response{200, "text/html", "<h3><a href=\"/empty.html\">x</a><span></h3>", {}};
        });
        h.sites.setHandler(Site::Listing, "/empty.html", [](const Request &) {
            return Response{200, "text/html", {}, {}};
        });
        h.start({RunKind::ListingSearch, listingsite::Section::Codes, 0, u"ab"_qs});
        QVERIFY(h.finish());
        QVERIFY(targets(h.sites.requests(Site::Listing)).contains(u"/plus/download.php?"_qs));
        QCOMPARE(h.codes(), QStringList{QString()});
        QCOMPARE(h.statuses.first(), u"正在进行搜索ab相关资源.."_qs);
    }

    void shareHarvestAndSearch() {
        Harvest h;
        h.start({RunKind::SharePage, {}, 1, {}});
        QVERIFY(h.finish());
        QVERIFY(!h.sawResolving); // only listing-site runs keep the list busy
        QCOMPARE(h.list.rowCount(), 20);
        QCOMPARE(h.list.entry(3).key, u"300103"_qs);
        QCOMPARE(h.list.entry(3).code, h.sites.codeFor(300103));
        QVERIFY(h.list.entry(3).title.startsWith(h.sites.titleFor(300103) + u" （"));
        QVERIFY(h.list.entry(3).size.endsWith(u'G'));
        QCOMPARE(h.list.entry(3).mark, QString());
        const Request find = h.sites.requests(Site::Share).last();
        QVERIFY(find.body.startsWith(
            "button=%E6%8E%A5%E6%94%B6%E8%B5%84%E6%BA%90&ctl00%24content%24hidresourceid="));

        Harvest none;
        bool toldNothingFound = false;
        none.start({RunKind::ShareSearch, {}, 0, u"no such thing"_qs});
        QObject::connect(none.run, &HarvestRun::nothingFound, [&] { toldNothingFound = true; });
        QVERIFY(none.finish());
        QVERIFY(toldNothingFound && !none.complete);
        QCOMPARE(none.statuses.last(), u"抱歉!未找到相关资源!"_qs);
        QCOMPARE(none.list.rowCount(), 0);

        // A code past the first 10000 bytes of the find reply is not seen.
        Harvest late;
        late.sites.setHandler(Site::Share, "/api/find.aspx", [](const Request &request) {
            const bool far = request.body.endsWith("=300105");
            return Response{200, "text/html", QByteArray(far ? 10050 : 10, ' ') + "gift_code=found&", {}};
        });
        late.start({RunKind::ShareSearch, {}, 0, late.sites.titleFor(300105)});
        QVERIFY(late.finish());
        QCOMPARE(late.statuses.last(), u"礼包码获取完毕.."_qs);
        QVERIFY(late.list.rowCount() >= 1);
        for (const GiftEntry &row : late.list.entries())
            QCOMPARE(row.code, row.key == u"300105" ? QString() : u"found"_qs);
    }

    void aCancelledRunWritesNothingMore() {
        Harvest h;
        h.sites.setLatency(40);
        h.start(listingPage(3));
        QVERIFY(runUntil([&] { return h.list.rowCount() == 20; }));
        h.run->cancel();
        const QStringList before = h.codes();
        QVERIFY(runUntil([&] { return h.run.isNull(); }));
        QTest::qWait(150);
        QCOMPARE(h.codes(), before);
        QCOMPARE(h.ends, 0); // a cancelled run says nothing more
    }

    void deletingARunWhileItWaitsIsSafe() {
        // The owner may delete a run at any wait: each wait ends before the run is gone.
        for (const int rowsFirst : {0, 5, 20}) {
            Harvest h;
            h.sites.setLatency(20);
            h.start(listingPage(2));
            QVERIFY(runUntil([&] { return h.list.rowCount() >= rowsFirst; }));
            delete h.run.data();
            const int rows = h.list.rowCount();
            QTest::qWait(100);
            QCOMPARE(h.list.rowCount(), rows);
            QCOMPARE(h.ends, 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestHarvestRun)
#include "test_harvestrun.moc"
