#include "app/harvestcontroller.h"
#include "giftlist/giftlistmodel.h"
#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/webclient.h"

#include <QPointer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using sandbox::Fault;
using sandbox::Site;

namespace {

// One tab's harvests without the window: the stand-in sites, a list and a ledger.
struct Tab {
    QTemporaryDir dir;
    sandbox::Sandbox sites{3};
    WebClient web;
    GiftListModel list;
    Ledger ledger{dir.filePath(u"ledger.sqlite"_qs)};
    std::unique_ptr<HarvestController> controller;
    QList<HarvestRun::End> ends;

    Tab() {
        if (!sites.start() || !ledger.open())
            qFatal("the stand-in sites or the ledger could not start");
        controller = std::make_unique<HarvestController>(
            HarvestContext{web, addressesOf(sites), HarvestRun::kDefaultParallelism, &ledger}, list);
        QObject::connect(controller.get(), &HarvestController::ended,
                         [this](const RunRequest &, HarvestRun::End end) { ends.append(end); });
    }
    ~Tab() {
        controller.reset();
        deleteEndedJobs();
    }
    HarvestController &harvests() { return *controller; }
    void start(int page) { controller->start({harvestKindNamed(u"tiquma"), page, {}}); }
    int recorded() const {
        const Ledger::Counts counts = ledger.counts();
        return counts.received + counts.voided + counts.pending;
    }
    int marked() const {
        const QList<GiftEntry> &rows = list.entries();
        return int(std::count_if(rows.begin(), rows.end(),
                                 [](const GiftEntry &row) { return !row.mark.isEmpty(); }));
    }
};

} // namespace

class TestHarvestController final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void aRunFillsItsListAndIsRecordedOnce() {
        Tab t;
        QSignalSpy changed(&t.ledger, &Ledger::changed);
        t.start(4);
        QVERIFY(runUntil([&] { return !t.ends.isEmpty(); }));
        QCOMPARE(t.ends, QList<HarvestRun::End>{HarvestRun::End::Complete});
        QVERIFY(!t.harvests().isHarvesting());
        QCOMPARE(t.list.rowCount(), 20);
        for (int j = 0; j < 20; ++j) {
            const GiftEntry &row = t.list.entry(j);
            QCOMPARE(row.key, u"/tiquma/" + QString::number(200400 + j) + u".html");
            QCOMPARE(row.code, t.sites.codeFor(200400 + j));
            QCOMPARE(row.mark, row.code.endsWith(u'8') || row.code.endsWith(u'9') ? u"×"_qs : u"√"_qs);
        }
        QCOMPARE(changed.size(), 1); // one transaction for the run
        QCOMPARE(t.recorded(), 20);
        QCOMPARE(t.ledger.rows({}).first().tab, u"资源③"_qs);
    }

    void aKnownCodeIsCheckedInsteadOfResolvedAfresh() {
        // The second harvest of a page takes the codes the ledger knows for its resources,
        // checking only their gift pages; a void one, and one whose page cannot be read, is
        // resolved afresh. The rows come out as the first time.
        Tab t;
        t.start(4);
        QVERIFY(runUntil([&] { return !t.ends.isEmpty(); }));
        const QList<GiftEntry> first = t.list.entries();
        QList<int> valid;
        for (int j = 0; j < first.size(); ++j) {
            if (first[j].mark == u"√")
                valid.append(j);
        }
        QVERIFY(valid.size() >= 2);
        const QString turnedVoid = first[valid[0]].code, unreadable = first[valid[1]].code;
        t.sites.setHandler(Site::CloudDisk, "/lb/" + turnedVoid.toUtf8(), [](const sandbox::Request &) {
            return sandbox::Response{200, "text/html; charset=utf-8", "礼包码无效"_qba, {}};
        });
        t.sites.setFault(u"^/lb/"_qs + unreadable + u"$", Fault::Reset);
        t.sites.clearRequests();
        t.ends.clear();
        t.start(4);
        QVERIFY(runUntil([&] { return !t.ends.isEmpty(); }));
        QCOMPARE(t.list.rowCount(), 20);
        for (int j = 0; j < 20; ++j) {
            QCOMPARE(t.list.entry(j).code, first[j].code);
            QCOMPARE(t.list.entry(j).mark, j == valid[0] ? u"×"_qs : first[j].mark);
        }
        // Detail pages only for the void codes, the one turned void and the unreadable one.
        int asked = 0;
        for (const QString &target : targets(t.sites.requests(Site::Listing)))
            asked += target.startsWith(u"/tiquma/2004");
        int voidBefore = 0;
        for (const GiftEntry &row : first)
            voidBefore += row.mark == u"×";
        QCOMPARE(asked, voidBefore + 2);
        QCOMPARE(t.ledger.rows({turnedVoid}).first().mark, u"×"_qs); // and the ledger knows it
    }

    void aReplacedRunWritesNothingMoreAndIsRemembered() {
        // Some gift pages never answer, so the first run is still resolving when it is
        // replaced: what it resolved is recorded then, and it writes nothing more.
        Tab t;
        t.sites.setLatency(20);
        t.sites.setFault(QStringLiteral("^/lb/gv.*[5-9]$"), Fault::Hang);
        t.start(3);
        QVERIFY(runUntil([&] { return t.marked() >= 3; }));
        QVERIFY(t.harvests().isResolving());
        QCOMPARE(t.recorded(), 0);
        const int resolved = t.marked();
        const QPointer<HarvestRun> replaced = t.harvests().run();
        t.sites.clearFaults();
        t.start(4);
        QCOMPARE(t.recorded(), resolved);
        deleteEndedJobs();
        QVERIFY(replaced.isNull());
        QVERIFY(runUntil([&] { return !t.ends.isEmpty(); }));
        QCOMPARE(t.list.rowCount(), 20);
        for (int j = 0; j < 20; ++j)
            QCOMPARE(t.list.entry(j).code, t.sites.codeFor(200400 + j));
    }

    void aHiddenRowIsForgottenByItsRun() {
        // The user hides rows while their gift pages are being checked: those rows get no
        // more requests and are not recorded; every other row keeps its own code.
        Tab t;
        t.sites.setLatency(10);
        QStringList hidden;
        QObject::connect(&t.list, &GiftListModel::dataChanged, [&](const QModelIndex &at) {
            const GiftEntry row = t.list.entry(at.row());
            if (at.column() == GiftListModel::CodeColumn && row.mark.isEmpty() && hidden.size() < 3 &&
                at.row() % 5 == 1) {
                hidden.append(row.code);
                t.harvests().forget(row.id);
                t.list.removeRowAt(at.row());
            }
        });
        t.start(5);
        QVERIFY(runUntil([&] { return !t.ends.isEmpty(); }));
        QCOMPARE(hidden.size(), 3);
        QCOMPARE(t.list.rowCount(), 17);
        for (const GiftEntry &row : t.list.entries())
            QCOMPARE(row.code, t.sites.codeFor(row.key.section(u'/', 2).section(u'.', 0, 0).toInt()));
        const QStringList asked = targets(t.sites.requests(Site::CloudDisk));
        for (const QString &code : hidden) {
            QVERIFY(!asked.contains(u"/lb/" + code));
            QVERIFY(t.ledger.attempts(code).isEmpty() && t.ledger.rows({code}).isEmpty());
        }
        QCOMPARE(t.recorded(), 17);
    }
};

QTEST_GUILESS_MAIN(TestHarvestController)
#include "test_harvestcontroller.moc"
