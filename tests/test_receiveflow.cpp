#include "app/receiveflow.h"
#include "ledger/ledger.h"
#include "recordingdesktop.h"
#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/webclient.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using sandbox::Fault;
using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

namespace {

GiftEntry gift(const QString &title, const QString &code, bool checked = true, const QString &mark = {}) {
    GiftEntry entry;
    entry.title = title;
    entry.code = code;
    entry.checked = checked;
    entry.mark = mark;
    return entry;
}

// A receive flow against the stand-in cloud disk, with a ledger of its own, and what it told the
// window.
struct Receive {
    sandbox::Sandbox sites{3};
    WebClient web;
    QTemporaryDir dir;
    Ledger ledger{dir.filePath(u"ledger.sqlite"_qs)};
    GiftPosts posts{&ledger};
    RecordingDesktop desktop;
    QWidget window;
    QPointer<ReceiveFlow> flow;
    QStringList statuses;
    QStringList log;
    QList<ReceiveOutcome> outcomes;
    QStringList markers;
    int ends = 0;

    Receive() {
        if (!sites.start() || !ledger.open())
            qFatal("the stand-in sites or the ledger could not start");
        // What decided each post, as the ledger keeps it: a reply that says "成功接收" proves it.
        QObject::connect(&posts, &GiftPosts::posted,
                         [this](const QString &, ReceiveOutcome outcome, bool proven) {
                             outcomes.append(outcome);
                             markers.append(proven ? u"成功接收"_qs : markerOf(outcome, u"成功"));
                         });
        window.resize(400, 300);
        window.show();
    }
    ~Receive() {
        if (flow)
            flow->cancel();
        deleteEndedJobs();
    }

    ReceiveFlow &make() { return make(sites.address(Site::CloudDisk)); }
    ReceiveFlow &make(const QString &cloudDisk) {
        flow = new ReceiveFlow({web, cloudDisk, desktop, posts}, &window);
        QObject::connect(flow, &ReceiveFlow::statusText,
                         [this](const QString &text) { statuses.append(text); });
        QObject::connect(flow, &ReceiveFlow::logLine, [this](const QString &line) { log.append(line); });
        QObject::connect(flow, &ReceiveFlow::finished, [this] { ++ends; });
        return *flow;
    }
    bool finish(int timeoutMs = 10000) {
        const bool ended = runUntil([this] { return ends > 0; }, timeoutMs);
        deleteEndedJobs();
        return ended && flow.isNull();
    }
    void signIn() {
        if (!::signIn(web, sites))
            qFatal("sign-in did not end");
    }
    QStringList sentCodes() const { return ::sentCodes(sites); }
    QWidget *dialog() const { return window.findChild<QWidget *>(QStringLiteral("ReceiveDialog")); }
};

} // namespace

class TestReceiveFlow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

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

    void singleReceiveCarriesTheSessionCookie() {
        Receive r;
        r.make().receiveOne(gift(u"t"_qs, u"gvabc0"_qs));
        QVERIFY(r.dialog() && r.dialog()->isVisible() && r.dialog()->isModal());
        QVERIFY(r.finish());
        QVERIFY(!r.dialog());
        QCOMPARE(r.desktop.texts(), QStringList{u"请您先从上方菜单登录115网盘"_qs});

        r.signIn();
        r.ends = 0;
        r.make().receiveOne(gift(u"t"_qs, u"gvabc0"_qs));
        QVERIFY(r.finish());
        QCOMPARE(r.desktop.messages[1].text, u"您已成功接收115礼包，现已转存到您的网盘"_qs);
        QCOMPARE(r.desktop.messages[1].title, u"Corvane系列软件"_qs);
        QCOMPARE(r.statuses, QStringList{u"礼包成功接收"_qs});
        QCOMPARE(r.outcomes, (QList<ReceiveOutcome>{ReceiveOutcome::NotSignedIn, ReceiveOutcome::Received}));
        const Request post = r.sites.requests(Site::CloudDisk).last();
        QCOMPARE(post.target, QByteArray("/?ct=filegift&ac=receive"));
        QCOMPARE(post.body, QByteArray("referer=&gift_code=gvabc0"));
        QVERIFY(post.header("Cookie").contains("UID="));
    }

    void singleReceiveOutcomes_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("statuses");
        const QString members = u"抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用"_qs;
        QTest::newRow("members") << u"gv6"_qs << members << QStringList{members};
        QTest::newRow("review") << u"gv7"_qs << u"很抱歉，该礼包码正在审核中，接收失败"_qs << QStringList();
        QTest::newRow("failed") << u"gv9"_qs << u"接收失败!该礼包码被查封或已失效!"_qs << QStringList();
    }
    void singleReceiveOutcomes() {
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(QStringList, statuses);
        Receive r;
        r.signIn();
        r.make().receiveOne(gift(u"t"_qs, code));
        QVERIFY(r.finish());
        QCOMPARE(r.desktop.texts(), QStringList{message});
        QCOMPARE(r.statuses, statuses);
    }

    void noAnswerIsNotBlamedOnTheCode_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("answer"); // the reply when there is no fault
        QTest::addColumn<bool>("noAnswer");
        QTest::addColumn<QString>("marker"); // recorded for the batch
        QTest::newRow("reset") << int(Fault::Reset) << QByteArray() << true << QString();
        QTest::newRow("dead host") << -1 << QByteArray() << true << QString();
        QTest::newRow("time-out") << int(Fault::Hang) << QByteArray() << true << QString();
        QTest::newRow("redirect loop") << int(Fault::SlowRedirect) << QByteArray() << true << QString();
        QTest::newRow("too large") << int(Fault::Oversized) << QByteArray() << true << QString();
        QTest::newRow("cut short") << int(Fault::Truncated) << QByteArray() << true << QString();
        QTest::newRow("error page") << int(Fault::NotFound) << QByteArray() << true << QString();
        QTest::newRow("void code") << int(Fault::None) << "礼包码不存在"_qba << false << QString();
        QTest::newRow("loose success")
            << int(Fault::None) << "操作成功 礼包码不存在"_qba << false << u"成功"_qs;
        QTest::newRow("proven success") << int(Fault::None) << "成功接收"_qba << false << u"成功接收"_qs;
    }
    void noAnswerIsNotBlamedOnTheCode() {
        // A post that got no reply to read says the cloud disk could not be reached, in the
        // single receive's message, the batch's box (never empty), status and log, and is no
        // failed code; an answer is read as before.
        QFETCH(int, fault);
        QFETCH(QByteArray, answer);
        QFETCH(bool, noAnswer);
        QFETCH(QString, marker);
        const QString cloudDown = u"接收失败!无法连接115网盘,请稍后再试"_qs;
        for (const bool batch : {false, true}) {
            Receive r;
            r.web.setTimeouts(scaled(800), scaled(800));
            if (fault > 0)
                r.sites.setFault(QStringLiteral("ct=filegift"), Fault(fault));
            if (!answer.isEmpty())
                r.sites.setHandler(Site::CloudDisk, "/", [answer](const Request &) {
                    return Response{200, "text/plain; charset=utf-8", answer, {}};
                });
            r.make(fault < 0 ? u"http://127.0.0.4:9"_qs : r.sites.address(Site::CloudDisk));
            if (batch)
                r.flow->receiveBatch({gift(u"t"_qs, u"gv0"_qs)});
            else
                r.flow->receiveOne(gift(u"t"_qs, u"gv0"_qs));
            QVERIFY(r.finish(20000));
            QCOMPARE(r.outcomes.size(), 1);
            QCOMPARE(r.outcomes[0] == ReceiveOutcome::NoAnswer, noAnswer);
            // Whatever became of the connection, the code went out once: never received twice.
            QVERIFY2(r.sentCodes().size() <= 1, qPrintable(r.sentCodes().join(u' ')));
            QCOMPARE(r.desktop.messages.size(), answer.contains("成功") && batch ? 0 : 1);
            if (noAnswer) {
                QCOMPARE(r.desktop.messages[0].text, cloudDown);
                const QStringList told{u"[t]"_qs + cloudDown, u"批量接收完毕：成功0个,失败1个,跳过0个"_qs};
                QCOMPARE(r.log, batch ? told : QStringList());
                // Unknown unless the post never went out: only then may it go again by itself.
                const auto claims = r.ledger.claimsAmong({u"gv0"_qs});
                QCOMPARE(claims.value(u"gv0"_qs).first, fault < 0 ? ClaimState::Free : ClaimState::Unknown);
            } else if (batch) {
                QCOMPARE(r.markers[0], marker);
            }
        }
    }

    void singleReceiveRefusals() {
        Receive r;
        const GiftEntry refused[] = {GiftEntry{}, gift(u"t"_qs, QString()),
                                     gift(u"t"_qs, u"gv0"_qs, false, u"×"_qs)};
        for (const GiftEntry &entry : refused) {
            r.ends = 0;
            r.make().receiveOne(entry);
            QVERIFY(r.finish());
        }
        QCOMPARE(r.desktop.texts(), (QStringList{u"请获取礼包后再进行接收"_qs, u"请获取礼包后再进行接收"_qs,
                                                 u"接收失败!该礼包码被查封或已失效!"_qs}));
        QVERIFY(r.sentCodes().isEmpty());
    }

    void batchReportsEachTickedRow() {
        Receive r;
        r.signIn();
        int logLinesAtBox = -1;
        r.desktop.onMessage = [&](const RecordingDesktop::Message &) { logLinesAtBox = int(r.log.size()); };
        r.make().receiveBatch({gift(u"资源1"_qs, u"gv7"_qs), gift(u"资源2"_qs, u"gv1"_qs, false),
                               gift(u"资源3"_qs, u"gv8"_qs), gift(u"资源4"_qs, QString()),
                               gift(u"资源5"_qs, u"gv0"_qs)});
        QVERIFY(r.finish());
        // A row without a code is passed over: posting no code asks for nothing.
        QCOMPARE(r.sentCodes(), (QStringList{u"gv7"_qs, u"gv8"_qs, u"gv0"_qs}));
        QCOMPARE(r.log, (QStringList{u"[需审核][资源1]"_qs, u"[失败][资源3]"_qs, u"[无礼包码][资源4]"_qs,
                                     u"[成功][资源5]"_qs, u"批量接收完毕：成功1个,失败2个,跳过1个"_qs}));
        QCOMPARE(r.desktop.messages.size(), 1);
        QCOMPARE(logLinesAtBox, 1); // the box comes before its row's line
        QCOMPARE(r.desktop.messages[0].icon, Desktop::Icon::None);
        QCOMPARE(r.desktop.messages[0].title, u"Giftvane"_qs);
        QVERIFY(r.desktop.messages[0].text.contains(u"礼包码不存在"));
        QCOMPARE(r.statuses.mid(r.statuses.size() - 2),
                 (QStringList{u"[资源5]礼包成功接收"_qs, u"批量接收完毕：成功1个,失败2个,跳过1个"_qs}));
        // What decided each outcome, for the ledger: a reply that says "成功接收" proves it.
        QCOMPARE(r.markers, (QStringList{u"审核"_qs, QString(), u"成功接收"_qs}));
    }

    void batchPassesOverWhatItMustNotPost() {
        // Proven received before, posted before without a known result, called void by the cloud
        // disk, or ticked twice: none of them is posted, and the batch sums itself up.
        Receive r;
        r.signIn();
        r.ledger.recordReceive(u"gv1"_qs, u"资源2"_qs, ReceiveKind::Received, u"成功接收"_qs, true);
        r.ledger.recordReceive(u"gv3"_qs, u"资源5"_qs, ReceiveKind::Unknown, {});
        r.make().receiveBatch({gift(u"资源1"_qs, u"gv0"_qs), gift(u"资源2"_qs, u"gv1"_qs),
                               gift(u"资源3"_qs, u"gv2"_qs), gift(u"资源4"_qs, u"gv0"_qs),
                               gift(u"资源5"_qs, u"gv3"_qs), gift(u"资源6"_qs, u"gv4"_qs, true, u"×"_qs)});
        QVERIFY(r.finish());
        QCOMPARE(r.sentCodes(), (QStringList{u"gv0"_qs, u"gv2"_qs}));
        QCOMPARE(r.log, (QStringList{u"[成功][资源1]"_qs, u"[已接收过][资源2]"_qs, u"[成功][资源3]"_qs,
                                     u"[已接收过][资源4]"_qs, u"[结果未知][资源5]"_qs, u"[已失效][资源6]"_qs,
                                     u"批量接收完毕：成功2个,失败0个,跳过4个"_qs}));
        QCOMPARE(r.statuses.last(), u"批量接收完毕：成功2个,失败0个,跳过4个"_qs);
        QVERIFY(r.desktop.messages.isEmpty());
    }

    void batchEndsWhenNotSignedInOrMembersOnly() {
        Receive r;
        r.make().receiveBatch({gift(u"a"_qs, u"gv0"_qs), gift(u"b"_qs, u"gv1"_qs)});
        QVERIFY(r.finish());
        QCOMPARE(r.sentCodes().size(), 1);
        QCOMPARE(r.log, (QStringList{u"请先登录115.."_qs, u"批量接收完毕：成功0个,失败1个,跳过0个"_qs}));
        QCOMPARE(r.statuses, QStringList{u"请您先从上方菜单登录115网盘"_qs});
        QVERIFY(r.desktop.messages.isEmpty());

        r.signIn();
        r.sites.clearRequests();
        r.ends = 0;
        r.make().receiveBatch({gift(u"a"_qs, u"gv6"_qs), gift(u"b"_qs, u"gv1"_qs)});
        QVERIFY(r.finish());
        QCOMPARE(r.sentCodes(), QStringList{u"gv6"_qs});
        QCOMPARE(r.log.at(r.log.size() - 2), u"此功能仅限115VIP用户"_qs);
        QCOMPARE(r.desktop.texts(), QStringList{u"抱歉,由于115网盘官方限制,接收功能仅限网盘VIP用户使用"_qs});
    }

    void batchWithoutRowsOrTicks() {
        Receive r;
        r.make().receiveBatch({});
        QVERIFY(r.finish());
        QCOMPARE(r.desktop.texts(), QStringList{u"请先获取礼包"_qs});
        r.ends = 0;
        r.make().receiveBatch({gift(u"a"_qs, u"gv0"_qs, false)});
        QVERIFY(r.finish());
        QCOMPARE(r.desktop.messages.size(), 1); // nothing ticked: nothing sent, nothing shown
        QVERIFY(r.sentCodes().isEmpty());
        QVERIFY(r.log.isEmpty());
    }

    void longFailureRepliesFitTheBox() {
        Receive r;
        const QByteArray reply = QByteArray(1500, 'x');
        r.sites.setHandler(Site::CloudDisk, "/", [reply](const Request &) {
            return Response{200, "text/plain", reply, {}};
        });
        r.make().receiveBatch({gift(u"a"_qs, u"gv0"_qs)});
        QVERIFY(r.finish());
        QCOMPARE(r.desktop.messages.size(), 1);
        QCOMPARE(r.desktop.messages[0].text.size(), 1000);
        QCOMPARE(r.desktop.messages[0].details.size(), 1500);
    }

    void theDialogHoldsUntilThePostIsHandled() {
        // Esc and the close button leave the dialog up while the post hangs.
        Receive r;
        r.sites.setFault(QStringLiteral("ct=filegift"), Fault::Hang);
        r.web.setTimeouts(scaled(400), scaled(400));
        r.make().receiveOne(gift(u"t"_qs, u"gv0"_qs));
        QWidget *dialog = r.dialog();
        QVERIFY(dialog && dialog->isVisible());
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->close());
        QVERIFY(dialog->isVisible());
        QCOMPARE(r.ends, 0);
        QVERIFY(r.finish()); // the time-out ends the post: no answer
        QCOMPARE(r.desktop.texts(), QStringList{u"接收失败!无法连接115网盘,请稍后再试"_qs});
    }

    void stopEndsTheBatchAfterTheRowInFlight() {
        Receive r;
        r.signIn();
        r.sites.setLatency(150);
        r.make().receiveBatch({gift(u"a"_qs, u"gv0"_qs), gift(u"b"_qs, u"gv1"_qs), gift(u"c"_qs, u"gv2"_qs)});
        QVERIFY(runUntil([&] { return r.sentCodes().size() == 1; }));
        auto *stop = r.dialog()->findChild<QPushButton *>(QStringLiteral("stopButton"));
        QCOMPARE(stop->text(), u"停止"_qs);
        stop->click();
        QCOMPARE(stop->text(), u"正在停止.."_qs);
        QVERIFY(!stop->isEnabled());
        QVERIFY(r.dialog()->isVisible()); // until row a is answered and handled
        QVERIFY(r.finish());
        QCOMPARE(r.sentCodes(), QStringList{u"gv0"_qs});
        QCOMPARE(r.log, (QStringList{u"[成功][a]"_qs, u"批量接收完毕：成功1个,失败0个,跳过0个"_qs}));
        QVERIFY(!r.dialog());
    }

    void cancellingEndsAtOnceAndSaysNothing() {
        Receive r;
        r.sites.setFault(QStringLiteral("ct=filegift"), Fault::Hang);
        r.make().receiveBatch({gift(u"a"_qs, u"gv0"_qs), gift(u"b"_qs, u"gv1"_qs)});
        QVERIFY(runUntil([&] { return r.sentCodes().size() == 1; }));
        r.flow->cancel();
        QVERIFY(!r.dialog());
        QVERIFY(runUntil([&] { return r.flow.isNull(); }));
        QCOMPARE(r.ends, 0);
        QVERIFY(r.desktop.messages.isEmpty() && r.log.isEmpty());
        QCOMPARE(r.sentCodes().size(), 1);
    }
};

QTEST_MAIN(TestReceiveFlow)
#include "test_receiveflow.moc"
