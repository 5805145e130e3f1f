#include "fixture.h"

#include <QListWidget>

using sandbox::Request;
using sandbox::Site;

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
        auto task = [](WebClient *web, QString url, bool *done) -> QCoro::Task<> {
            co_await web->FetchPageText(url);
            *done = true;
        }(f.web.get(), f.sites->address(Site::CloudDisk) + u"/login/scan", &done);
        QTRY_VERIFY(done);
    }
    static QStringList logTail(const Fixture &f, int from) {
        QStringList out;
        for (int i = from; i < f.window->log()->count(); ++i)
            out.append(f.window->log()->item(i)->text().section(u']', 1));
        return out;
    }

private Q_SLOTS:
    void classification_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("single");
        QTest::addColumn<int>("batch");
        using O = ReceiveOutcome;
        QTest::newRow("sign-in page wins")
            << u"请登录帐号 成功接收"_qs << int(O::NotSignedIn) << int(O::NotSignedIn);
        QTest::newRow("received") << u"成功接收"_qs << int(O::Received) << int(O::Received);
        QTest::newRow("short success") << u"成功 审核"_qs << int(O::UnderReview) << int(O::Received);
        QTest::newRow("short success alone") << u"操作成功"_qs << int(O::Failed) << int(O::Received);
        QTest::newRow("members") << u"仅限VIP 审核"_qs << int(O::MembersOnly) << int(O::MembersOnly);
        QTest::newRow("lower-case vip") << u"仅限vip"_qs << int(O::Failed) << int(O::Failed);
        QTest::newRow("empty") << QString() << int(O::Failed) << int(O::Failed);
    }
    void classification() {
        QFETCH(QString, reply);
        QFETCH(int, single);
        QFETCH(int, batch);
        QCOMPARE(int(ClassifyReceiveReply(reply, u"成功接收")), single);
        QCOMPARE(int(ClassifyReceiveReply(reply, u"成功")), batch);
    }

    void singleReceiveUsesTheSessionCookie() {
        Fixture f;
        QVERIFY(f.open());
        f.fill(0, {u"gvabc0"_qs});
        f.select(0, 0);
        f.window->receiveSelected();
        QTRY_COMPARE(f.desktop.messages.size(), 1);
        QCOMPARE(f.desktop.texts(), QStringList{u"请您先从上方菜单登录115网盘"_qs});
        signIn(f);
        f.window->receiveSelected();
        QTRY_COMPARE(f.desktop.messages.size(), 2);
        QCOMPARE(f.desktop.messages[1].text, u"您已成功接收115礼包，现已转存到您的网盘"_qs);
        QCOMPARE(f.desktop.messages[1].title, u"Corvane系列软件"_qs);
        QCOMPARE(f.window->statusText(2), u"礼包成功接收"_qs);
        const Request post = f.sites->requests(Site::CloudDisk).last();
        QCOMPARE(post.target, QByteArray("/?ct=filegift&ac=receive"));
        QCOMPARE(post.body, QByteArray("referer=&gift_code=gvabc0"));
        QVERIFY(post.header("Cookie").contains("UID="));
        for (const Request &request : f.sites->requests()) {
            if (request.site != Site::CloudDisk)
                QVERIFY(request.header("Cookie").isEmpty());
        }
        QVERIFY(!f.window->isReceiving());
    }

    void singleReceiveOutcomes_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("status");
        QTest::newRow("members") << u"gv6"_qs << u"抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用"_qs
                                 << u"抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用"_qs;
        QTest::newRow("review") << u"gv7"_qs << u"很抱歉，该礼包码正在审核中，接收失败"_qs
                                << u"欢迎使用Corvane系列软件"_qs;
        QTest::newRow("failed") << u"gv9"_qs << u"接收失败!该礼包码被查封或已失效!"_qs
                                << u"欢迎使用Corvane系列软件"_qs;
    }
    void singleReceiveOutcomes() {
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(QString, status);
        Fixture f;
        QVERIFY(f.open());
        signIn(f);
        f.fill(0, {code});
        f.select(0, 0);
        emit f.window->listView(0)->doubleClicked(f.list(0).index(0, 1));
        QTRY_COMPARE(f.desktop.texts(), QStringList{message});
        QCOMPARE(f.window->statusText(2), status);
    }

    void singleReceiveRefusals() {
        Fixture f;
        QVERIFY(f.open(false));
        f.fill(1, {u"gv0"_qs});
        f.window->findChild<QTabBar *>(u"SSTab1Tabs"_qs)->setCurrentIndex(1);
        f.select(1, 0);
        // Before start-up ends (as while a listing-site run resolves) the double-click waits.
        emit f.window->listView(1)->doubleClicked(f.list(1).index(0, 1));
        QCOMPARE(f.desktop.texts(), QStringList{u"请先等待礼包码获取完毕"_qs});

        Fixture g;
        QVERIFY(g.open());
        g.window->receiveSelected(); // empty list
        g.fill(0, {QString(), u"gv0"_qs}, {QString(), u"×"_qs});
        g.select(0, 0);
        g.window->receiveSelected();
        g.select(0, 1);
        g.window->receiveSelected();
        QCOMPARE(g.desktop.texts(), (QStringList{u"请获取礼包后再进行接收"_qs, u"请获取礼包后再进行接收"_qs,
                                                 u"接收失败!该礼包码被查封或已失效!"_qs}));
        QTest::qWait(50);
        QVERIFY(sentCodes(g).isEmpty());
    }

    void batchReportsEachTickedRow() {
        Fixture f;
        QVERIFY(f.open());
        signIn(f);
        f.fill(0, {u"gv7"_qs, u"gv1"_qs, u"gv8"_qs, QString(), u"gv0"_qs});
        for (const int row : {0, 2, 3, 4})
            f.list(0).setChecked(row, true);
        const int logStart = f.window->log()->count();
        int logLinesAtBox = -1;
        f.desktop.onMessage = [&](const RecordingDesktop::Message &) {
            logLinesAtBox = f.window->log()->count() - logStart;
        };
        f.window->receiveChecked();
        QTRY_VERIFY(!f.window->isReceiving());
        QCOMPARE(sentCodes(f), (QStringList{u"gv7"_qs, u"gv8"_qs, QString(), u"gv0"_qs}));
        QCOMPARE(logTail(f, logStart), (QStringList{u"[需审核][资源1]"_qs, u"[失败][资源3]"_qs,
                                                    u"[失败][资源4]"_qs, u"[成功][资源5]"_qs}));
        QCOMPARE(f.desktop.messages.size(), 2);
        QCOMPARE(logLinesAtBox, 2); // the box came before its row's line
        QCOMPARE(f.desktop.messages[0].icon, Desktop::Icon::None);
        QCOMPARE(f.desktop.messages[0].title, u"Giftvane"_qs);
        QVERIFY(f.desktop.messages[0].text.contains(u"礼包码不存在"));
        QCOMPARE(f.window->statusText(2), u"[资源5]礼包成功接收"_qs);
    }

    void batchEndsWhenNotSignedInOrMembersOnly() {
        Fixture f;
        QVERIFY(f.open());
        f.fill(0, {u"gv0"_qs, u"gv1"_qs});
        f.list(0).setChecked(0, true);
        f.list(0).setChecked(1, true);
        const int logStart = f.window->log()->count();
        f.window->receiveChecked();
        QTRY_VERIFY(!f.window->isReceiving());
        QCOMPARE(sentCodes(f).size(), 1);
        QCOMPARE(logTail(f, logStart), QStringList{u"请先登录115.."_qs});
        QCOMPARE(f.window->statusText(2), u"请您先从上方菜单登录115网盘"_qs);
        QVERIFY(f.desktop.messages.isEmpty());

        signIn(f);
        f.list(0).setCode(0, u"gv6"_qs);
        f.sites->clearRequests();
        f.window->receiveChecked();
        QTRY_VERIFY(!f.window->isReceiving());
        QCOMPARE(sentCodes(f), QStringList{u"gv6"_qs});
        QCOMPARE(logTail(f, logStart).last(), u"此功能仅限115VIP用户"_qs);
        QCOMPARE(f.desktop.texts(), QStringList{u"抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用"_qs});

        Fixture g;
        QVERIFY(g.open());
        g.window->receiveChecked();
        QCOMPARE(g.desktop.texts(), QStringList{u"请先获取礼包"_qs});
    }

    void longFailureRepliesFitTheBox() {
        Fixture f;
        QVERIFY(f.open());
        const QByteArray reply = QByteArray(1500, 'x');
        f.sites->setHandler(Site::CloudDisk, "/", [reply](const Request &) {
            return sandbox::Response{200, "text/plain", reply, {}};
        });
        f.fill(0, {u"gv0"_qs});
        f.list(0).setChecked(0, true);
        f.window->receiveChecked();
        QTRY_VERIFY(!f.window->isReceiving());
        QCOMPARE(f.desktop.messages.size(), 1);
        QCOMPARE(f.desktop.messages[0].text.size(), 1000);
        QCOMPARE(f.desktop.messages[0].details.size(), 1500);
    }
};

QTEST_MAIN(TestReceive)
#include "test_receive.moc"
