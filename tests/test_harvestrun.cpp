#include "harvest/harvestrun.h"
#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/webclient.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using sandbox::Fault;
using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

namespace {

// The rows a run handed out, by row id, as a screen would keep them.
struct Rows {
    QList<HarvestedRow> rows;
    int rowCount() const { return int(rows.size()); }
    const HarvestedRow &entry(int row) const { return rows.at(row); }
};

// One harvest run against the stand-in sites, with what it handed out.
struct Harvest {
    sandbox::Sandbox sites{3};
    WebClient web;
    Rows list;
    QList<RowId> resolved; // in the order they came
    QPointer<HarvestRun> run;
    QStringList statuses;
    QList<int> progress;
    QStringList log;
    QList<HarvestRun::End> ends;
    bool sawResolving = false;

    Harvest() {
        if (!sites.start())
            qFatal("the stand-in sites could not start");
    }
    ~Harvest() {
        if (run)
            run->cancel();
        deleteEndedJobs();
    }

    HarvestRun *start(const RunRequest &request, int parallelism = HarvestRun::kDefaultParallelism) {
        run = new HarvestRun(web, addressesOf(sites), request);
        run->setParallelism(parallelism);
        QObject::connect(run, &HarvestRun::statusText,
                         [this](const QString &text) { statuses.append(text); });
        QObject::connect(run, &HarvestRun::progressValue, [this](int value) { progress.append(value); });
        QObject::connect(run, &HarvestRun::resolvingChanged, [this](bool on) { sawResolving |= on; });
        QObject::connect(run, &HarvestRun::logLine, [this](const QString &line) { log.append(line); });
        QObject::connect(run, &HarvestRun::rowsListed, [this](const QList<HarvestedRow> &rows) {
            for (const HarvestedRow &row : rows) {
                QCOMPARE_EQ(row.id, list.rowCount()); // ids are places in the listing
                list.rows.append(row);
            }
        });
        QObject::connect(run, &HarvestRun::codeFound,
                         [this](RowId row, const QString &code) { list.rows[row].code = code; });
        QObject::connect(run, &HarvestRun::rowResolved, [this](const HarvestedRow &row) {
            list.rows[row.id] = row;
            resolved.append(row.id);
        });
        QObject::connect(run, &HarvestRun::finished, [this](HarvestRun::End end) { ends.append(end); });
        run->start();
        return run;
    }
    bool finish(int timeoutMs = 10000) {
        const bool ended = runUntil([this] { return !ends.isEmpty(); }, timeoutMs);
        deleteEndedJobs();
        return ended && run.isNull();
    }
    QStringList codes() const {
        QStringList out;
        for (const HarvestedRow &row : list.rows)
            out.append(row.code);
        return out;
    }
};

RunRequest listingPage(int page) {
    return {harvestKindNamed(u"libao"), page, {}};
}

int idOf(const QString &key) {
    return key.section(u'/', 2).section(u'.', 0, 0).toInt();
}

RunRequest named(const char16_t *harvest, int page, const QString &keyword = {}) {
    return {harvestKindNamed(harvest), page, keyword};
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
        QCOMPARE(h.ends, QList<HarvestRun::End>{HarvestRun::End::Complete});
        QVERIFY(h.sawResolving);
        QVERIFY(h.log.isEmpty());
        QCOMPARE(h.statuses, (QStringList{u"正在获取第5页资源.."_qs, u"资源获取完毕,正在获取礼包码.."_qs,
                                          u"礼包码获取完毕.."_qs}));
        QCOMPARE(h.list.rowCount(), 20);
        for (int j = 0; j < 20; ++j) {
            const int id = 100500 + j;
            const HarvestedRow &row = h.list.entry(j);
            QCOMPARE(row.title, h.sites.titleFor(id));
            QCOMPARE(row.key, u"/libao/" + QString::number(id) + u".html");
            QCOMPARE(row.code, h.sites.codeFor(id));
            const bool void_ = row.code.endsWith(u'8') || row.code.endsWith(u'9');
            QCOMPARE(row.mark, void_ ? u"×"_qs : u"√"_qs);
            QVERIFY(!row.size.isEmpty() && !row.size.contains(u' '));
        }
        QCOMPARE(h.progress.last(), 20);

        Harvest codes;
        codes.start(named(u"tiquma", 4));
        QVERIFY(codes.finish());
        QCOMPARE(codes.list.entry(0).key, u"/tiquma/200400.html"_qs);
        QCOMPARE(codes.list.entry(0).code, codes.sites.codeFor(200400));
    }

    void irregularBlocksGiveEmptyFieldsForTheirRowOnly() {
        Harvest h;
        h.start(listingPage(sandbox::Sandbox::kIrregularPage));
        QVERIFY(h.finish());
        QCOMPARE(h.list.rowCount(), 20);
        // Block 4 has no title: its own row has none, every other row keeps its own.
        QCOMPARE(h.list.entry(4).title, QString());
        for (const int j : {3, 5, 19})
            QCOMPARE(h.list.entry(j).title, h.sites.titleFor(100700 + j));
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
        h.web.setTimeouts(scaled(600), scaled(600));
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

    void rowsKeepTheirOwnCodesWhenRowsAreForgotten() {
        // Rows are forgotten (as hiding them with F6 does) as soon as their code arrives, while
        // later rows still resolve; on a page with failures and irregular blocks, one request at
        // a time and many at once give every remaining row exactly its own code and mark, and
        // a forgotten row gets no more requests and no resolution.
        QList<HarvestedRow> results[2];
        const int parallelism[2] = {1, HarvestRun::kDefaultParallelism};
        const QStringList hidden = {u"/libao/100701.html"_qs, u"/libao/100702.html"_qs,
                                    u"/libao/100716.html"_qs};
        for (int k = 0; k < 2; ++k) {
            Harvest h;
            h.sites.setLatency(5);
            h.sites.setFault(QStringLiteral("aid=10071[27]&"), Fault::Reset);
            h.sites.setFault(QStringLiteral("^/libao/100715\\.html"), Fault::NotFound);
            QStringList forgottenCodes;
            h.start(listingPage(sandbox::Sandbox::kIrregularPage), parallelism[k]);
            QObject::connect(h.run, &HarvestRun::codeFound, [&](RowId row, const QString &code) {
                if (hidden.contains(h.list.entry(row).key)) {
                    forgottenCodes.append(code);
                    h.run->forget(row);
                }
            });
            QVERIFY(h.finish());
            QCOMPARE(h.ends, QList<HarvestRun::End>{HarvestRun::End::Complete});
            QCOMPARE(h.progress.last(), 20);
            QCOMPARE(forgottenCodes.size(), 3);
            for (const QString &code : forgottenCodes)
                QVERIFY(!targets(h.sites.requests(Site::CloudDisk)).contains(u"/lb/" + code));
            for (const RowId row : std::as_const(h.resolved))
                results[k].append(h.list.entry(row));
            std::sort(results[k].begin(), results[k].end(),
                      [](const HarvestedRow &a, const HarvestedRow &b) { return a.id < b.id; });
            QCOMPARE(results[k].size(), 17);
            for (const HarvestedRow &row : results[k]) {
                QVERIFY(!hidden.contains(row.key));
                const int id = row.key.section(u'/', 2).section(u'.', 0, 0).toInt();
                const bool fails = id == 100712 || id == 100717 || id == 100715 || row.key.isEmpty();
                QCOMPARE(row.code, fails ? QString() : h.sites.codeFor(id));
                // The stand-in's gift page of a code ending in 8 or 9, or of no code, is void.
                const bool void_ = row.code.isEmpty() || row.code.endsWith(u'8') || row.code.endsWith(u'9');
                QCOMPARE(row.mark, void_ ? u"×"_qs : u"√"_qs);
            }
        }
        for (qsizetype j = 0; j < results[0].size(); ++j) {
            QCOMPARE(results[1][j].key, results[0][j].key);
            QCOMPARE(results[1][j].title, results[0][j].title);
            QCOMPARE(results[1][j].code, results[0][j].code);
            QCOMPARE(results[1][j].mark, results[0][j].mark);
        }
    }

    void atMostSixRequestsToOneHost() {
        Harvest h;
        h.sites.setLatency(30);
        h.start(listingPage(6));
        QVERIFY(h.finish());
        QVERIFY(h.sites.peakInFlight(Site::Listing) <= HarvestRun::kDefaultParallelism);
        QVERIFY(h.sites.peakInFlight(Site::Listing) > 1);
        QVERIFY(h.sites.peakInFlight(Site::CloudDisk) <= HarvestRun::kDefaultParallelism);
        for (int j = 0; j < 20; ++j)
            QCOMPARE(h.list.entry(j).code, h.sites.codeFor(100600 + j));

        Harvest serial;
        serial.sites.setLatency(10);
        serial.start(listingPage(6), 1);
        QVERIFY(serial.finish());
        QCOMPARE(serial.sites.peakInFlight(Site::Listing) + serial.sites.peakInFlight(Site::CloudDisk), 2);
    }

    void unreadablePagesSaySo_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("why");
        QTest::newRow("hang") << int(Fault::Hang) << u"连接超时 %1"_qs; // %1: the site's host:port
        QTest::newRow("reset") << int(Fault::Reset) << u"无法连接 %1"_qs;
        QTest::newRow("404") << int(Fault::NotFound) << u"HTTP 404"_qs;
        QTest::newRow("truncated") << int(Fault::Truncated) << u"内容不完整"_qs;
        QTest::newRow("too large") << int(Fault::Oversized) << u"内容过大"_qs;
        QTest::newRow("broken gzip") << int(Fault::GarbageGzip) << u"压缩内容损坏"_qs;
        QTest::newRow("gzip cut short") << int(Fault::TruncatedGzip) << u"内容不完整"_qs;
    }
    void unreadablePagesSaySo() {
        QFETCH(int, fault);
        QFETCH(QString, why);
        const RunRequest requests[] = {listingPage(1), named(u"share-search", 0, u"原神"_qs)};
        for (const RunRequest &request : requests) {
            Harvest h;
            const Site site = request.kind->isListingSite() ? Site::Listing : Site::Share;
            const QString told = QString(why).replace(u"%1"_qs, QUrl(h.sites.address(site)).authority());
            h.web.setTimeouts(scaled(500), scaled(500));
            h.sites.setFault(QStringLiteral("^/(libao/index_|index\\.html)"), static_cast<Fault>(fault));
            h.start(request);
            QVERIFY(h.finish());
            QCOMPARE(h.ends, QList<HarvestRun::End>{HarvestRun::End::Unreadable});
            QCOMPARE(h.statuses.last(), u"页面获取失败,请稍后再试"_qs);
            QCOMPARE(h.log, QStringList{u"页面获取失败,请稍后再试 (" + told + u")"});
            QCOMPARE(h.list.rowCount(), 0);
        }

        // "Not modified" to a request that asked nothing of the kind is no page either.
        Harvest unasked;
        unasked.sites.setHandler(Site::Listing, "/libao/index_1.html", [](const Request &) {
            return Response{304, "text/html", {}, {}};
        });
        unasked.start(listingPage(1));
        QVERIFY(unasked.finish());
        QCOMPARE(unasked.log, QStringList{u"页面获取失败,请稍后再试 (HTTP 304)"_qs});

        // A page that is read but holds no resource says nothing more.
        Harvest empty;
        empty.sites.setHandler(Site::Listing, "/libao/index_1.html", [](const Request &) {
            return Response{200, "text/html", "<html></html>", {}};
        });
        empty.start(listingPage(1));
        QVERIFY(empty.finish());
        QCOMPARE(empty.ends, QList<HarvestRun::End>{HarvestRun::End::Empty});
        QCOMPARE(empty.statuses, QStringList{u"正在获取第1页资源.."_qs});
        QVERIFY(empty.log.isEmpty());
    }

    void aDeadCloudDiskIsGivenUpOnce() {
        // Every gift page hangs: after three time-outs in a row the cloud disk is given up for
        // the run, said once, and the rows left end at once with their codes and the mark that
        // an unreadable gift page gives.
        Harvest h;
        h.sites.setFault(QStringLiteral("^/lb/"), Fault::Hang);
        h.web.setTimeouts(scaled(1000), scaled(1000));
        h.start(listingPage(1));
        QVERIFY(h.finish(scaled(20000)));
        QCOMPARE(h.ends, QList<HarvestRun::End>{HarvestRun::End::Complete});
        QCOMPARE(h.log, QStringList{u"115网盘无响应,本次不再等待"_qs});
        QCOMPARE(h.resolved.size(), 20);
        for (const HarvestedRow &row : h.list.rows) {
            QCOMPARE(row.code, h.sites.codeFor(idOf(row.key)));
            QVERIFY(row.mark == u"√" && !row.markKnown);
        }
        // Only the requests sent before the host was given up reached it: the first six, and
        // those that took the slots of the first two to time out.
        QVERIFY(h.sites.requests(Site::CloudDisk).size() <=
                HarvestRun::kDefaultParallelism + RequestScope::kTimeoutsBeforeDown - 1);
    }

    void aFloodedPageGivesAThousandRows() {
        Harvest h;
        h.sites.setFault(QStringLiteral("^/new/"), Fault::Flood);
        h.start(named(u"share", 1));
        QVERIFY(runUntil([&] { return h.sawResolving || h.statuses.size() == 2; }, 20000));
        QCOMPARE(h.list.rowCount(), 1000);
        QCOMPARE(h.log, QStringList{u"本页资源过多,只取前1000个"_qs});
        h.run->cancel();
    }

    void linksThatLeaveTheSiteAreNotFollowed() {
        Harvest h;
        h.start(listingPage(sandbox::Sandbox::kForeignLinksPage));
        QVERIFY(h.finish());
        const QStringList asked = targets(h.sites.requests());
        QVERIFY2(asked.contains(u"/@127.0.0.7:18081/stolen0"_qs),
                 qPrintable(asked.join(u' '))); // stays on the site
        for (const QString &target : asked)
            QVERIFY2(!target.contains(u"stolen1") && !target.contains(u"stolen2"), qPrintable(target));
        for (const int j : {3, 4}) {
            QCOMPARE(h.list.entry(j).key, QString());
            QCOMPARE(h.list.entry(j).code, QString());
        }
        QCOMPARE(h.list.entry(5).code, h.sites.codeFor(100805));
    }

    void codesCannotSteerTheGiftPageAddress() {
        Harvest h;
        h.sites.setHandler(Site::Listing, "/plus/download.php", [](const Request &) {
            return Response{200, "text/html", "<a href=\"x?gift_code=../../steal?x=1&y\">", {}};
        });
        h.start(listingPage(1));
        QVERIFY(h.finish());
        QCOMPARE(h.list.entry(0).code, u"../../steal?x=1"_qs);
        const QStringList asked = targets(h.sites.requests(Site::CloudDisk));
        QCOMPARE(asked.size(), 20);
        for (const QString &target : asked)
            QCOMPARE(target, u"/lb/..%2F..%2Fsteal%3Fx%3D1"_qs);
    }

    void searchAsksForDownloadEvenWithEmptyDetail() {
        Harvest h;
        h.sites.setHandler(Site::Listing, "/plus/search.php", [](const Request &) {
            return Response{200, "text/html", "<h3><a href=\"/empty.html\">x</a><span></h3>", {}};
        });
        h.sites.setHandler(Site::Listing, "/empty.html", [](const Request &) {
            return Response{200, "text/html", {}, {}};
        });
        h.start(named(u"search", 0, u"ab"_qs));
        QVERIFY(h.finish());
        QVERIFY(targets(h.sites.requests(Site::Listing)).contains(u"/plus/download.php?"_qs));
        QCOMPARE(h.codes(), QStringList{QString()});
        QCOMPARE(h.statuses.first(), u"正在进行搜索ab相关资源.."_qs);
    }

    void shareHarvestAndSearch() {
        Harvest h;
        h.start(named(u"share", 1));
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

        // A search without hits says so on either site (only the share site's page tells it).
        for (const char16_t *search : {u"share-search", u"search"}) {
            Harvest none;
            none.start(named(search, 0, u"no such thing"_qs));
            QVERIFY(none.finish());
            const bool share = QStringView(search) == u"share-search";
            QCOMPARE(none.ends.first(), share ? HarvestRun::End::NothingFound : HarvestRun::End::Empty);
            QCOMPARE(none.statuses.last(), u"抱歉!未找到相关资源!"_qs);
            QCOMPARE(none.list.rowCount(), 0);
        }

        // A code past the first 10000 bytes of the find reply is not seen.
        Harvest late;
        late.sites.setHandler(Site::Share, "/api/find.aspx", [](const Request &request) {
            const bool far = request.body.endsWith("=300105");
            return Response{200, "text/html", QByteArray(far ? 10050 : 10, ' ') + "gift_code=found&", {}};
        });
        late.start(named(u"share-search", 0, late.sites.titleFor(300105)));
        QVERIFY(late.finish());
        QCOMPARE(late.statuses.last(), u"礼包码获取完毕.."_qs);
        QVERIFY(late.list.rowCount() >= 1);
        for (const HarvestedRow &row : late.list.rows)
            QCOMPARE(row.code, row.key == u"300105" ? QString() : u"found"_qs);
    }

    void cancellingARunEndsItAtOnceAtAnyWait() {
        // Cancelled while it lists, waits for a slot or waits for a reply: its coroutine has
        // ended when cancel() returns, so it is gone at the next deletion and can say nothing
        // more.
        for (const int rowsFirst : {0, 5, 20}) {
            Harvest h;
            h.sites.setLatency(20);
            h.start(listingPage(2));
            QVERIFY(runUntil([&] { return h.list.rowCount() >= rowsFirst; }));
            h.run->cancel();
            deleteEndedJobs();
            QVERIFY(h.run.isNull());
            QVERIFY(h.ends.isEmpty());
            QVERIFY(h.resolved.size() < 20);
        }
    }

    void anImmediateEndArrivesAfterStartReturns() {
        // A page that cannot even be asked for ends the run at once: the owner hears of it
        // on the next turn, never from inside start().
        for (const bool cancelFirst : {false, true}) {
            WebClient web;
            SiteAddresses nowhere;
            nowhere.listing = u"no address"_qs;
            QPointer<HarvestRun> run = new HarvestRun(web, nowhere, listingPage(1));
            QSignalSpy ended(run.data(), &HarvestRun::finished);
            run->start();
            QCOMPARE(ended.size(), 0);
            if (cancelFirst)
                run->cancel(); // quiet: the pending end is not announced
            QVERIFY(runUntil([&] { return run.isNull(); }, 2000));
            QCOMPARE(ended.size(), cancelFirst ? 0 : 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestHarvestRun)
#include "test_harvestrun.moc"
