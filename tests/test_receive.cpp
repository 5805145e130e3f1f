#include "app/receiveflow.h"
#include "fixture.h"

#include <QPushButton>
#include <QWindow>

using sandbox::Request;
using sandbox::Site;

// Receiving as the window starts it: which list, which row, where the outcome goes.
class TestReceive final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void doubleClickReceivesTheCurrentListsSelection() {
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(signIn(*f.web, *f.sites));
        f.fill(0, {u"gv0"_qs});
        f.fill(1, {u"gv1"_qs, u"gv2"_qs});
        f.showTab(1);
        f.select(1, 0);
        f.doubleClick(1, 1);
        QVERIFY(f.window->isReceiving());
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(sentCodes(*f.sites), QStringList{u"gv2"_qs});
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
        f.doubleClick(1, 0);
        QCOMPARE(f.desktop.texts(), QStringList{u"请先等待礼包码获取完毕"_qs});
        QVERIFY(!f.window->isReceiving()); // no flow, so nothing can be posted
    }

    void doubleClickOnBlankSpace() {
        // Blank space or an empty list: no row, however a row was selected before.
        Fixture f;
        QVERIFY(f.open());
        f.doubleClick(0, -1);
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        f.fill(0, {u"gv0"_qs});
        f.select(0, 0);
        f.doubleClick(0, -1);
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(f.desktop.texts(),
                 (QStringList{u"请获取礼包后再进行接收"_qs, u"请获取礼包后再进行接收"_qs}));
        QVERIFY(sentCodes(*f.sites).isEmpty());
    }

    void batchLogsWithTimeStamps() {
        Fixture f;
        QVERIFY(f.open());
        QVERIFY(signIn(*f.web, *f.sites));
        f.fill(0, {u"gv7"_qs, u"gv0"_qs});
        f.list(0).setAllChecked(true);
        f.now = QTime(14, 3, 9);
        const int logStart = f.window->log()->count();
        f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(f.window->log()->count(), logStart + 3);
        QCOMPARE(f.window->log()->line(logStart), u"[14:3:9][需审核][资源1]"_qs);
        QCOMPARE(f.window->log()->line(logStart + 1), u"[14:3:9][成功][资源2]"_qs);
        QCOMPARE(f.window->log()->line(logStart + 2), u"[14:3:9]批量接收完毕：成功1个,失败1个,跳过0个"_qs);
        QTRY_COMPARE(f.window->log()->currentRow(), logStart + 2);
        QCOMPARE(f.window->statusText(2), u"批量接收完毕：成功1个,失败1个,跳过0个"_qs);

        f.window->currentTab()->list().clear();
        f.window->receiveChecked();
        QCOMPARE(f.desktop.texts().last(), u"请先获取礼包"_qs);
    }

    void theWindowTakesNoCommandWhileAPostIsInFlight() {
        // The user double-clicks another row, presses a harvest button and Esc while the post
        // hangs: the dialog stays and nothing else starts.
        Fixture f;
        f.sites->setFault(QStringLiteral("ct=filegift"), sandbox::Fault::Hang);
        f.web->setTimeouts(scaled(700), scaled(700));
        QVERIFY(f.open());
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        f.fill(0, {u"gv0"_qs, u"gv1"_qs});
        f.select(0, 0);
        f.window->receiveSelected();
        const QPointer<ReceiveFlow> flow = f.window->receiving();
        auto *dialog = f.window->findChild<QWidget *>(u"ReceiveDialog"_qs);
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(runUntil([&] { return sentCodes(*f.sites).size() == 1; }));
        f.sites->clearRequests();
        // Input as the window system delivers it, so that the dialog's modality applies.
        QWindow *window = f.window->windowHandle();
        const auto at = [&](QWidget *widget, QPoint point) { return widget->mapTo(f.window.get(), point); };
        QTreeView *list = f.view(0);
        const QPoint row = at(list->viewport(), list->visualRect(f.list(0).index(1, 1)).center());
        QTest::mouseDClick(window, Qt::LeftButton, {}, row);
        auto *fetch = f.control<QPushButton>("Command8", 0);
        QTest::mouseClick(window, Qt::LeftButton, {}, at(fetch, fetch->rect().center()));
        QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
        // The input is delivered: no harvest started, the flow is the first one, its dialog is up.
        QVERIFY(dialog->isVisible());
        QVERIFY(!f.tab(0).isHarvesting());
        QCOMPARE(f.window->receiving(), flow.data());
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QCOMPARE(f.desktop.texts(), QStringList{u"接收失败!无法连接115网盘,请稍后再试"_qs});
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
        QCOMPARE(sentCodes(*f.sites), QStringList{u"gv0"_qs}); // not signed in: the batch ends there
    }
};

QTEST_MAIN(TestReceive)
#include "test_receive.moc"
