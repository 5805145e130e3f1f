#include "desktop/systemdesktop.h"
#include "ledger/ledger.h"
#include "recordingdesktop.h"
#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "watch/newgiftwatch.h"
#include "web/cookiejar.h"
#include "web/webclient.h"

#include <QDBusConnection>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using sandbox::Fault;
using sandbox::Site;

// The desktop's notification service, played on the test's own private session bus.
class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString summary, body;
        QStringList actions;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int) {
        shown.append({summary, body, actions});
        return uint(shown.size());
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &action);
};

namespace {

// A watch over the stand-in sites, with its own ledger.
struct Watch {
    QTemporaryDir dir;
    sandbox::Sandbox sites{3};
    WebClient web;
    RecordingDesktop recording;
    Ledger ledger{dir.filePath(u"ledger.sqlite"_qs)};
    GiftPosts posts{&ledger};
    bool kept = true;
    QDateTime clock = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
    std::unique_ptr<NewGiftWatch> watch;
    QList<CheckReport> reports;

    // With `ledgerOff`, a ledger that cannot be used (its folder is a file).
    explicit Watch(Desktop *desktop = nullptr, bool ledgerOff = false) {
        if (ledgerOff) {
            QFile file(dir.filePath(u"ledger.sqlite"_qs));
            if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(4096, 'x')) != 4096)
                qFatal("the broken ledger could not be made");
        }
        if (!sites.start() || ledger.open() == ledgerOff)
            qFatal("the stand-in sites or the ledger could not start");
        watch = std::make_unique<NewGiftWatch>(NewGiftWatch::Context{web, addressesOf(sites),
                                                                     desktop ? *desktop : recording, &ledger,
                                                                     [this] { return kept; }, posts});
        watch->setClock([this] { return clock; });
        watch->setSpread([] { return 1.0; });
        watch->setReceivePace(50, 0);
        QObject::connect(watch.get(), &NewGiftWatch::checked,
                         [this](const CheckReport &report) { reports.append(report); });
    }
    ~Watch() {
        watch.reset();
        deleteEndedJobs();
    }
    bool check(bool all = true) {
        const qsizetype before = reports.size();
        watch->checkNow(all);
        return runUntil([&] { return reports.size() > before; }, 20000);
    }
    static WatchChoices only(TabId tab, bool autoReceive = false) {
        WatchChoices choices;
        choices.subscriptions = WatchChoices::pages(
            {tab == TabId::Libao, tab == TabId::Share, tab == TabId::Tiquma}, autoReceive);
        return choices;
    }
    int validOnPage(int firstId) const {
        int valid = 0;
        for (int j = 0; j < sandbox::Sandbox::kResourcesPerPage; ++j) {
            const QString code = sites.codeFor(firstId + j);
            valid += !code.endsWith(u'8') && !code.endsWith(u'9');
        }
        return valid;
    }
};

} // namespace

class TestWatch final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void newGiftsAreToldThroughTheNotificationServiceAndAnUnchangedPageAsksNothingMore() {
        if (qEnvironmentVariableIsEmpty("GIFTVANE_TEST_KEYRING"))
            QSKIP("needs a private session bus (tests/keyring-session)");
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake"_qs);
        FakeNotifications fake;
        QVERIFY(service.registerObject(u"/org/freedesktop/Notifications"_qs, &fake,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(service.registerService(u"org.freedesktop.Notifications"_qs));
        SystemDesktop desktop;
        Watch w(&desktop);
        QSignalSpy activated(w.watch.get(), &NewGiftWatch::giftsActivated);
        w.watch->start(Watch::only(TabId::Libao));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        const int valid = w.validOnPage(100100);
        QCOMPARE(w.reports[0].gifts.size(), valid);
        QTRY_COMPARE_WITH_TIMEOUT(fake.shown.size(), 1, scaled(5000));
        QCOMPARE(fake.shown[0].summary, u"发现" + QString::number(valid) + u"个新礼包");
        // The subscriptions that found them, then the first three titles.
        const QStringList lines = fake.shown[0].body.split(u'\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], u"资源①：" + QString::number(valid) + u"个");
        QCOMPARE(lines[1], w.reports[0].gifts[0].row.title);
        QVERIFY(fake.shown[0].actions.contains(u"default"_qs));
        // Every code seen is in the ledger, as any harvest records it.
        QCOMPARE(w.ledger.rows({}).size(), sandbox::Sandbox::kResourcesPerPage);

        // The user clicks it: the watch says which codes.
        Q_EMIT fake.ActionInvoked(1, u"default"_qs);
        QVERIFY(activated.wait(scaled(5000)));
        QCOMPARE(activated.first().first().toStringList(), w.reports[0].codes());

        // Asked again while the page has not changed: one request, answered 304, nothing else.
        w.sites.clearRequests();
        QVERIFY(w.check());
        QCOMPARE(w.reports[1].unchanged, 1);
        QVERIFY(w.reports[1].gifts.isEmpty());
        QCOMPARE(targets(w.sites.requests()), QStringList{u"/libao/index_1.html"_qs});
        QVERIFY(!w.sites.requests().first().header("If-None-Match").isEmpty());
        QCOMPARE(fake.shown.size(), 1);
        service.unregisterService(u"org.freedesktop.Notifications"_qs);
        QDBusConnection::disconnectFromBus(u"fake"_qs);
    }

    void onlyWhatIsNewIsNewAndKnownCodesAreTakenAsTheyAre() {
        Watch w;
        w.sites.setPageOneChangesEvery(1); // the second request sees one resource more
        w.watch->start(Watch::only(TabId::Tiquma));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        w.sites.clearRequests();
        QVERIFY(w.check());
        const CheckReport &second = w.reports[1];
        QCOMPARE(second.unchanged, 0);
        QCOMPARE(second.gifts.size() +
                     int(w.sites.codeFor(290001).endsWith(u'8') || w.sites.codeFor(290001).endsWith(u'9')),
                 1);
        QCOMPARE(w.sites.requests().size(), 4); // only the new one's: page, detail, download, gift page
        QCOMPARE(w.recording.notifications.size(), 1 + (second.gifts.isEmpty() ? 0 : 1));
    }

    void withoutALedgerOnlyWhatCameAfterTheFirstLookIsNew() {
        // The ledger cannot tell what is old: the first page read is where the watch starts.
        Watch w(nullptr, true);
        w.sites.setPageOneChangesEvery(1);
        w.watch->start(Watch::only(TabId::Tiquma));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QVERIFY(w.reports[0].gifts.isEmpty());
        QVERIFY(w.check());
        const QString added = w.sites.codeFor(290001);
        QCOMPARE(w.reports[1].codes(),
                 added.endsWith(u'8') || added.endsWith(u'9') ? QStringList() : QStringList{added});
    }

    void twoSubscriptionsThatFindOneCodeTellAndReceiveItOnce() {
        // Page 1 (told, not received) and a search for one of its titles (received), on one site:
        // a minute apart, or together when asked for all at once.
        Watch w;
        QVERIFY(signIn(w.web, w.sites));
        int id = 100100;
        while (QStringLiteral("689").contains(w.sites.codeFor(id).back()))
            ++id;
        const QString code = w.sites.codeFor(id);
        WatchChoices choices = Watch::only(TabId::Libao);
        Subscription search;
        search.name = u"搜索"_qs;
        search.search = true;
        search.keyword = w.sites.titleFor(id);
        search.autoReceive = true;
        choices.subscriptions.append(search);
        w.sites.setFault(QStringLiteral("^/libao/index_1\\.html"), Fault::NotFound);
        w.watch->start(choices);
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE(w.reports[0].unreadable, QStringList{u"资源①：HTTP 404"_qs});
        QCOMPARE_GE(w.clock.secsTo(w.watch->dueAt(3)), 60);
        w.sites.clearFaults();
        QVERIFY(w.check());
        const CheckReport &both = w.reports.last();
        QCOMPARE(both.codes().count(code), 1);
        QCOMPARE(both.gifts[both.codes().indexOf(code)].subscription, u"资源①"_qs);
        QCOMPARE(sentCodes(w.sites).count(code), 1);
        for (const NewGift &gift : both.gifts) // the page's other gifts are only told
            QCOMPARE(sentCodes(w.sites).contains(gift.row.code), gift.row.title.contains(search.keyword));
        // Neither page changed: the search answers 304 as the page does.
        QVERIFY(w.check());
        QCOMPARE(w.reports.last().unchanged, 2);
        QVERIFY(w.reports.last().gifts.isEmpty());
    }

    void subscriptionsOfOnePageEachTellWhatTheirRulesLetThrough() {
        // Two subscriptions of one page whose rules split its gifts: whichever is due, the page is
        // read for both, and a gift one turns down is still news to the other.
        Watch w;
        const QString word = w.sites.titleFor(100100).left(2);
        WatchChoices choices = Watch::only(TabId::Libao);
        choices.subscriptions[0].name = u"其他"_qs;
        choices.subscriptions[0].exclude = QStringList{word};
        Subscription only = choices.subscriptions[0];
        only.name = word;
        only.exclude.clear();
        only.include = QStringList{word};
        choices.subscriptions.append(only);
        w.watch->start(choices);
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE(w.reports[0].gifts.size(), w.validOnPage(100100));
        for (const NewGift &gift : w.reports[0].gifts)
            QCOMPARE(gift.subscription, gift.row.title.contains(word) ? word : u"其他"_qs);
        const QList<sandbox::Request> asked = w.sites.requests(Site::Listing);
        QCOMPARE(std::count_if(
                     asked.begin(), asked.end(),
                     [](const sandbox::Request &request) { return request.path() == "/libao/index_1.html"; }),
                 1);
    }

    void aCheckCalledOffLeavesWhatItFoundNew() {
        // Stopped while the second page hangs: the first page's gifts were never told, so they
        // are still new to the next check.
        Watch w;
        w.sites.setFault(QStringLiteral("^/new/1\\.html"), Fault::Hang);
        WatchChoices both = Watch::only(TabId::Libao);
        both.subscriptions[int(TabId::Share)].enabled = true;
        w.watch->start(both);
        QVERIFY(runUntil([&] { return !w.sites.requests(Site::Share).isEmpty(); }, 20000));
        w.watch->stop();
        w.sites.clearFaults();
        w.watch->start(both);
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE(w.reports[0].gifts.size(), w.validOnPage(100100) + w.validOnPage(300100));
    }

    void shareGiftsAreToldWhenTheirGiftPageSaysValid() {
        // The share site gives no mark: the watch reads the gift page of each code new to the
        // ledger, and tells only the valid ones; the next check, of a page with one resource
        // more, reads only that one's.
        Watch w;
        w.sites.setPageOneChangesEvery(1);
        w.watch->start(Watch::only(TabId::Share));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE(w.reports[0].gifts.size(), w.validOnPage(300100));
        QCOMPARE(w.sites.requests(Site::CloudDisk).size(), sandbox::Sandbox::kResourcesPerPage);
        w.sites.clearRequests();
        QVERIFY(w.check());
        QCOMPARE(w.reports[1].unchanged, 0);
        QCOMPARE(targets(w.sites.requests(Site::CloudDisk)),
                 QStringList{u"/lb/"_qs + w.sites.codeFor(390001)});
    }

    void autoReceivePassesOverWhatWasReceivedMeanwhile() {
        // The cloud disk did not answer; the user then received some of the gifts by hand.
        Watch w;
        QVERIFY(signIn(w.web, w.sites));
        w.sites.setFault(QStringLiteral("ct=filegift"), Fault::Reset);
        w.watch->start(Watch::only(TabId::Libao, true));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QVERIFY(w.reports[0].received && w.reports[0].received->stop == ReceiveStop::NoAnswer);
        const QStringList told = w.reports[0].codes();
        QVERIFY(told.size() > 3);
        for (const QString &code : told.mid(0, 3))
            w.ledger.recordReceive(code, {}, ReceiveKind::Received, u"成功接收"_qs, true);
        w.sites.clearFaults();
        w.sites.clearRequests();
        QVERIFY(w.check());
        const QStringList posted = sentCodes(w.sites);
        QVERIFY(!posted.isEmpty());
        QCOMPARE(posted, told.mid(3, posted.size()));
    }

    void signingOutStopsAutoReceiveQuietly() {
        // The user signs out while the watch receives: nothing more is posted, and neither an
        // expired sign-in nor a failure is told.
        Watch w;
        QVERIFY(signIn(w.web, w.sites));
        w.sites.setLatency(20);
        QSignalSpy expired(w.watch.get(), &NewGiftWatch::signInExpired);
        w.watch->start(Watch::only(TabId::Libao, true));
        QVERIFY(runUntil([&] { return sentCodes(w.sites).size() == 2; }, 20000));
        w.kept = false;
        w.posts.signOut();
        CookieJar &jar = *w.web.cookieJar();
        jar.removeCookies(jar.cookiesForUrl(QUrl(w.sites.address(Site::CloudDisk))));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        const ReceiveSummary done = *w.reports[0].received;
        QCOMPARE(done.stop, ReceiveStop::SignedOut);
        QCOMPARE(done.failed(), 0);
        QCOMPARE(sentCodes(w.sites).size(), 2);
        QCOMPARE(expired.size(), 0);
    }

    void autoReceiveReceivesOnceAndStopsAtTheSignInPage_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed in") << true;
        QTest::newRow("sign-in expired") << false;
    }
    void autoReceiveReceivesOnceAndStopsAtTheSignInPage() {
        QFETCH(bool, signedIn);
        Watch w;
        if (signedIn)
            QVERIFY(signIn(w.web, w.sites));
        QSignalSpy expired(w.watch.get(), &NewGiftWatch::signInExpired);
        w.watch->start(Watch::only(TabId::Libao, true));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        const CheckReport report = w.reports[0]; // a copy: more reports come
        QVERIFY(report.received);
        const QStringList posted = sentCodes(w.sites);
        if (signedIn) {
            // Every new gift once, in order; codes ending in 6 are for members only and stop it.
            QCOMPARE(posted, report.codes().mid(0, posted.size()));
            QCOMPARE(report.received->stop == ReceiveStop::MembersOnly, posted.last().endsWith(u'6'));
            QCOMPARE(w.ledger.confirmedAmong(posted).size(), report.received->received);
            QCOMPARE(expired.size(), 0);
        } else {
            QCOMPARE(posted.size(), 1);
            QCOMPARE(report.received->stop, ReceiveStop::NotSignedIn);
            QCOMPARE(expired.size(), 1);
            QCOMPARE(w.recording.notifications.last().body, u"登录已过期,请重新登录"_qs);
        }
        const ReceiveSummary &done = *report.received;
        QCOMPARE(w.recording.notifications.last().title,
                 u"自动接收" + QString::number(done.attempted) + u"个礼包：成功" +
                     QString::number(done.received) + u"个,失败" + QString::number(done.failed()) + u"个");
        // Never twice: the next check finds nothing new, and posts nothing. (An expired sign-in is
        // no longer kept: the window forgets it.)
        w.kept = signedIn;
        w.sites.clearRequests();
        QVERIFY(w.check());
        QVERIFY(sentCodes(w.sites).isEmpty());
        if (!signedIn) {
            // Signed in and kept again: what the sign-in page held back is received now.
            QVERIFY(signIn(w.web, w.sites));
            w.kept = true;
            QVERIFY(w.check());
            QCOMPARE(sentCodes(w.sites), report.codes().mid(0, sentCodes(w.sites).size()));
            QVERIFY(!sentCodes(w.sites).isEmpty());
        }

        // Without a kept sign-in, nothing is received.
        Watch unkept;
        unkept.kept = false;
        unkept.watch->start(Watch::only(TabId::Libao, true));
        QVERIFY(runUntil([&] { return !unkept.reports.isEmpty(); }, 20000));
        QVERIFY(!unkept.reports[0].received && sentCodes(unkept.sites).isEmpty());
    }

    void aFailingPageIsAskedForLessOften_data() {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QList<qint64>>("minutes");
        QTest::newRow("hourly") << 60 << QList<qint64>{120, 240, 360, 360};
        QTest::newRow("daily: never more often") << 1440 << QList<qint64>{1440, 1440, 1440, 1440};
    }
    void aFailingPageIsAskedForLessOften() {
        // Each failure doubles the page's interval, up to six hours; a Retry-After longer than
        // that is honoured; a good answer brings the chosen interval back.
        QFETCH(int, interval);
        QFETCH(QList<qint64>, minutes);
        Watch w;
        w.sites.setFault(QStringLiteral("^/new/1\\.html"), Fault::NotFound);
        WatchChoices choices = Watch::only(TabId::Share);
        choices.minutes = interval;
        w.watch->start(choices);
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE(w.reports[0].unreadable, QStringList{u"资源②：HTTP 404"_qs});
        QList<qint64> waited{w.clock.secsTo(w.watch->dueAt(int(TabId::Share))) / 60};
        for (int i = 0; i < 3; ++i) {
            w.clock = w.watch->dueAt(int(TabId::Share));
            QVERIFY(w.check(false));
            waited.append(w.clock.secsTo(w.watch->dueAt(int(TabId::Share))) / 60);
        }
        QCOMPARE(waited, minutes);
        w.sites.clearFaults();
        w.sites.setFault(QStringLiteral("^/new/1\\.html"), Fault::Unavailable); // Retry-After: 120 s
        w.clock = w.watch->dueAt(int(TabId::Share));
        QVERIFY(w.check(false));
        QCOMPARE(w.clock.secsTo(w.watch->dueAt(int(TabId::Share))) / 60, minutes.last());
        w.sites.clearFaults();
        w.clock = w.watch->dueAt(int(TabId::Share));
        QVERIFY(w.check(false));
        QVERIFY(w.reports.last().unreadable.isEmpty());
        QCOMPARE(w.clock.secsTo(w.watch->dueAt(int(TabId::Share))) / 60, interval);
    }

    void aRetryAfterIsAFloor_data() {
        QTest::addColumn<QByteArray>("seconds");
        for (const int seconds : {900, 2400, 6000, 28800, 36000})
            QTest::addRow("%d s", seconds) << QByteArray::number(seconds);
    }
    void aRetryAfterIsAFloor() {
        QFETCH(QByteArray, seconds);
        Watch w;
        w.watch->setSpread([] { return 0.9; }); // the shortest wait: still as long as the page asked
        w.sites.setHandler(Site::Share, "/new/1.html", [seconds](const sandbox::Request &) {
            return sandbox::Response{.status = 503, .headers = {{"Retry-After", seconds}}};
        });
        w.watch->start({WatchChoices::pages({false, true, false}, false), WatchChoices::kFewestMinutes});
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE_GE(w.clock.secsTo(w.watch->dueAt(int(TabId::Share))), seconds.toInt());
    }

    void aPageIsReadWholeUntilEachRowIsDecided() {
        // The newest gift's download page fails once: the page is read whole next time, then if changed.
        Watch w;
        w.sites.setFault(u"aid=100100&"_qs, Fault::NotFound);
        w.watch->start(Watch::only(TabId::Libao));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        w.sites.clearFaults();
        QVERIFY(w.check() && w.check());
        QCOMPARE(w.reports[1].codes(), QStringList{w.sites.codeFor(100100)});
        QCOMPARE(w.reports[2].unchanged, 1);
    }

    void newGiftsGoInPageOrderAFewAtATimeApart() {
        // The newest gift's download page answers last: it is still told and posted first.
        Watch w;
        QVERIFY(signIn(w.web, w.sites));
        w.watch->setReceivePace(2, 2000);
        w.sites.setHandler(Site::Listing, "/plus/download.php", [&](const sandbox::Request &request) {
            const int id = QUrlQuery(QString::fromUtf8(request.query())).queryItemValue(u"aid"_qs).toInt();
            return sandbox::Response{.body = "gift_code=" + w.sites.codeFor(id).toUtf8() + "&",
                                     .delayMs = id == 100100 ? 300 : 0};
        });
        w.watch->start(Watch::only(TabId::Libao, true));
        QVERIFY(runUntil([&] { return !w.ledger.confirmedAmong({w.sites.codeFor(100100)}).isEmpty(); }));
        QCOMPARE(w.ledger.rows({}).size(), 1); // the next gift waits its turn, not even claimed yet
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QCOMPARE(sentCodes(w.sites), w.reports[0].codes().mid(0, 2));
        QCOMPARE(w.recording.notifications.first().body.section(u'\n', 1, 1), w.sites.titleFor(100100));
        QVERIFY(w.recording.notifications.last().title.endsWith(
            u"，其余" + QString::number(w.reports[0].gifts.size() - 2) + u"个下次接收"));
    }

    void aCodeWaitingForItsGiftPageIsWaitedForOnlyWhileListed() {
        // While a new code's gift page cannot be read, its page is asked for whole; once the
        // code has left the page, only if it changed.
        Watch w;
        const QString bottom = w.sites.codeFor(100100 + sandbox::Sandbox::kResourcesPerPage - 1);
        w.sites.setFault(u"^/lb/"_qs + bottom, Fault::NotFound);
        w.sites.setPageOneChangesEvery(1);
        w.watch->start(Watch::only(TabId::Libao));
        QVERIFY(runUntil([&] { return !w.reports.isEmpty(); }, 20000));
        QList<bool> conditional;
        for (int i = 0; i < 3; ++i) {
            w.sites.clearRequests();
            QVERIFY(w.check());
            conditional.append(!w.sites.requests(Site::Listing).first().header("If-None-Match").isEmpty());
        }
        QCOMPARE(conditional, (QList<bool>{false, true, true}));
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "test_watch.moc"
