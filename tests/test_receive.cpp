#include "fixture.h"

#include <QListWidget>

using sandbox::Request;
using sandbox::Site;

// Receiving as the window starts it: which list, which row, where the outcome goes.
class TestReceive final : public QObject {
    Q_OBJECT

    static QStringList sentCodes(const Fixture &f) {
        QStringList out;
        for (const Request &request : f.sites->requests(Site::CloudDisk)) {
            if (request.method == "POST")
                out.append(QString::fromUtf8(request.body.mid(int(qstrlen("referer=&gift_code=")))));
        }
        return out;
    }
    static void signIn(Fixture &f) {
        bool done = false;
        auto task = [](WebClient *web, QString url, bool *flag) -> QCoro::Task<> {
            co_await web->FetchPageText(url);
            *flag = true;
        }(f.web.get(), f.sites->address(Site::CloudDisk) + u"/login/scan", &done);
        QVERIFY(runUntil([&] { return done; }));
    }

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void doubleClickReceivesTheCurrentListsSelection() {
        Fixture f;
        QVERIFY(f.open());
        signIn(f);
        f.fill(0, {u"gv0"_qs});
        f.fill(1, {u"gv1"_qs, u"gv2"_qs});
        f.showTab(1);
        f.select(1, 1);
        emit f.view(1)->doubleClicked(f.list(1).index(1, 1));
        QVERIFY(f.window->isReceiving());
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(sentCodes(f), QStringList{u"gv2"_qs});
        QCOMPARE(f.desktop.texts(), QStringList{u"您已成功接收115礼包，现已转存到您的网盘"_qs});
        QCOMPARE(f.window->statusText(2), u"礼包成功接收"_qs);
    }

    void doubleClickWaitsForTheCodes() {
        // Before start-up ends (as while a listing-site run resolves) the double-click waits,
        // on every tab.
        Fixture f;
        QVERIFY(f.open(false));
        f.fill(1, {u"gv0"_qs});
        f.showTab(1);
        f.select(1, 0);
        emit f.view(1)->doubleClicked(f.list(1).index(0, 1));
        QCOMPARE(f.desktop.texts(), QStringList{u"请先等待礼包码获取完毕"_qs});
        QVERIFY(!f.window->isReceiving());
        QTest::qWait(50);
        QVERIFY(sentCodes(f).isEmpty());
    }

    void batchLogsWithTimeStamps() {
        Fixture f;
        QVERIFY(f.open());
        signIn(f);
        f.fill(0, {u"gv7"_qs, u"gv0"_qs});
        f.list(0).setAllChecked(true);
        f.now = QTime(14, 3, 9);
        const int logStart = f.window->log()->count();
        f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(f.window->log()->count(), logStart + 2);
        QCOMPARE(f.window->log()->item(logStart)->text(), u"[14:3:9][需审核][资源1]"_qs);
        QCOMPARE(f.window->log()->item(logStart + 1)->text(), u"[14:3:9][成功][资源2]"_qs);
        QCOMPARE(f.window->log()->currentRow(), logStart + 1);
        QCOMPARE(f.window->statusText(2), u"[资源2]礼包成功接收"_qs);

        f.window->currentTab()->list().clear();
        f.window->receiveChecked();
        QCOMPARE(f.desktop.texts().last(), u"请先获取礼包"_qs);
    }

    void oneReceiveAtATime() {
        Fixture f;
        f.sites->setLatency(100);
        QVERIFY(f.open());
        f.fill(0, {u"gv0"_qs, u"gv1"_qs});
        f.list(0).setAllChecked(true);
        f.select(0, 0);
        f.window->receiveChecked();
        f.window->receiveSelected(); // refused while the batch is in flight
        f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(sentCodes(f), QStringList{u"gv0"_qs}); // not signed in: the batch ends there
    }
};

QTEST_MAIN(TestReceive)
#include "test_receive.moc"
