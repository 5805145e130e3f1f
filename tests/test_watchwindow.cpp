#include "app/ledgerwindow.h"
#include "app/subscriptiondialog.h"
#include "app/watchcontrol.h"
#include "app/watchdialog.h"
#include "app/watchtray.h"
#include "awaited.h"
#include "desktop/usersettings.h"
#include "fixture.h"
#include "receive/keptsignin.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using sandbox::Fault;

namespace {

// The user signs in with "保持登录" ticked, and the store keeps it.
void keepSignIn(GiftSession &session) {
    session.signedIn(true);
    QTRY_COMPARE_WITH_TIMEOUT(session.signInState(), SignInState::Kept, scaled(5000));
}

// A window over its own settings file and ledger, with the watch's dialog at hand.
struct Watching {
    QTemporaryDir dir;
    QSettings file{dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat};
    UserSettings settings{file};
    SessionSettings session{file};
    Fixture f;

    explicit Watching(bool tray = true) {
        f.tray = tray;
        f.settings = &settings;
        f.sessionSettings = &session;
        f.ledger = std::make_unique<Ledger>(dir.filePath(u"ledger.sqlite"_qs));
        f.ledger->open();
    }
    WatchControl &watch() const { return f.window->watch(); }
    WatchDialog *openDialog() const {
        f.window->findChild<QAction *>(u"xlbtx"_qs)->trigger(); // "新礼包提醒" in the menu bar
        return watch().dialog();
    }
    template <typename T = QCheckBox> T *control(const QString &name) const {
        return watch().dialog()->findChild<T *>(name);
    }
    // Watches the tabs given as "010", from the dialog.
    void start(const QString &tabs) const {
        openDialog();
        auto *list = control<QListWidget>(u"subscriptions"_qs);
        for (int i = 0; i < kTabCount; ++i) // the three first pages, as at first
            list->item(i)->setCheckState(tabs[i] == u'1' ? Qt::Checked : Qt::Unchecked);
        // A tray icon shown on the virtual display, which has no tray, says so once.
        if (f.tray && !watch().tray())
            QTest::ignoreMessage(QtWarningMsg, "QObject::connect: No such signal "
                                               "QPlatformNativeInterface::systemTrayWindowChanged(QScreen*)");
        control<QPushButton>(u"startWatch"_qs)->click();
    }
    // The n-th subscription's "自动接收", through "修改": whether it could be ticked.
    bool tickAutoReceive(int row) const {
        openDialog();
        SubscriptionDialog *edit = watch().dialog()->editSubscription(row);
        auto *box = edit->findChild<QCheckBox *>(u"autoReceive"_qs);
        const bool could = box->isEnabled();
        if (could && !box->isChecked())
            box->click();
        edit->accept();
        return could;
    }
    bool checked() const {
        return runUntil([this] { return watch().lastCheck().has_value(); }, 20000);
    }
    // Log lines that start with the text.
    qsizetype logged(const QString &text) const {
        return f.window->log()->linesContaining(u"]" + text).size();
    }
    qsizetype notified(const QString &body) const {
        return std::count_if(f.desktop.notifications.begin(), f.desktop.notifications.end(),
                             [&](const RecordingDesktop::Notification &n) { return n.body == body; });
    }
    void trayCommand(const char *name) const {
        watch().tray()->menu()->findChild<QAction *>(QString::fromLatin1(name))->trigger();
    }
};

} // namespace

// The new-gift watch in the window: its dialog and remembered choices, the tray icon it runs
// in, the notification that leads to the codes, and the kept sign-in it needs for receiving.
class TestWatchWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void theDialogRemembersItsSubscriptions_data() {
        QTest::addColumn<QVariantMap>("saved");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("shown"); // each subscription ticked or not, minutes
        QTest::newRow("nothing saved") << QVariantMap() << false << u"111 30"_qs;
        QTest::newRow("the old choices, minutes out of range")
            << QVariantMap{{u"watch/libao"_qs, false}, {u"watch/minutes"_qs, 4}} << false << u"011 30"_qs;
        QTest::newRow("with a kept sign-in")
            << QVariantMap{{u"watch/tiquma"_qs, false}, {u"watch/minutes"_qs, 90}} << true << u"110 90"_qs;
    }
    void theDialogRemembersItsSubscriptions() {
        QFETCH(QVariantMap, saved);
        QFETCH(bool, kept);
        QFETCH(QString, shown);
        Watching w;
        for (auto it = saved.begin(); it != saved.end(); ++it)
            w.file.setValue(it.key(), it.value());
        const auto list = [&w] { return w.control<QListWidget>(u"subscriptions"_qs); };
        const auto seen = [&]() -> QString {
            QString out;
            for (int i = 0; i < list()->count(); ++i)
                out += list()->item(i)->checkState() == Qt::Checked ? u'1' : u'0';
            return out + u' ' + QString::number(w.control<QSpinBox>(u"minutes"_qs)->value());
        };
        Subscription added;
        added.name = u"原神"_qs;
        added.search = true;
        added.keyword = u"原神"_qs;
        added.include = QStringList{u"礼包"_qs, u"节日"_qs};
        added.exclude = QStringList{u"PV"_qs};
        added.maxSizeGb = 2;
        added.autoReceive = kept;
        QString changed;
        for (int run = 0; run < 2; ++run) { // changed, and read back by the next run's window
            QVERIFY(w.f.open());
            if (kept)
                keepSignIn(w.f.window->session());
            w.openDialog();
            QCOMPARE(seen(), run == 0 ? shown : changed);
            if (run == 1)
                break;
            list()->item(1)->setCheckState(list()->item(1)->checkState() == Qt::Checked ? Qt::Unchecked
                                                                                        : Qt::Checked);
            w.control<QSpinBox>(u"minutes"_qs)->setValue(45);
            // "添加": a search with rules; "自动接收" only with a kept sign-in.
            SubscriptionDialog *edit = w.watch().dialog()->editSubscription(-1);
            const auto field = [edit](const char *name) {
                return edit->findChild<QLineEdit *>(QLatin1String(name));
            };
            QCheckBox *autoReceive = edit->findChild<QCheckBox *>(u"autoReceive"_qs);
            QCOMPARE(autoReceive->isEnabled(), kept);
            QCOMPARE(autoReceive->toolTip(), kept ? QString() : WatchDialog::kNeedsKeptSignIn);
            edit->findChild<QComboBox *>(u"source"_qs)->setCurrentIndex(3); // 资源①搜索
            field("keyword")->setText(u"原"_qs);
            edit->accept(); // a keyword of one character is no search: the dialog stays
            QCOMPARE(edit->findChild<QLabel *>(u"problem"_qs)->text(), u"关键字至少两个字符"_qs);
            field("keyword")->setText(u" 原神 "_qs);
            field("include")->setText(u"礼包\u3000 节日"_qs);
            field("exclude")->setText(u"PV"_qs);
            edit->findChild<QDoubleSpinBox *>(u"maxSize"_qs)->setValue(2);
            if (kept)
                autoReceive->click();
            edit->accept();
            changed = seen();
            QCOMPARE(changed.left(4),
                     QString(shown.left(1) + (shown[1] == u'1' ? u'0' : u'1') + shown[2] + u'1'));
            QCOMPARE(list()->item(3)->text(), WatchDialog::describe(added));
        }
        QCOMPARE(w.session.watch().subscriptions.value(3), added);
    }

    void startAndStopThroughTheDialog() {
        Watching w;
        w.f.sites->setFault(QStringLiteral("^/new/1\\.html"), Fault::NotFound);
        QVERIFY(w.f.open());
        w.start(u"110"_qs);
        QVERIFY(!w.control<QPushButton>(u"startWatch"_qs)->isEnabled());
        QVERIFY(!w.control<QListWidget>(u"subscriptions"_qs)->isEnabled()); // as it runs
        QCOMPARE(w.watch().dialog()->stateText(), u"正在提醒：正在检查"_qs);
        QSystemTrayIcon *tray = w.watch().tray()->icon();
        QVERIFY(tray->isVisible() && !tray->icon().isNull());
        QCOMPARE(tray->toolTip(), u"新礼包提醒：正在检查"_qs);
        QVERIFY(w.checked());

        const CheckReport last = *w.watch().lastCheck();
        const QString found = u"发现" + QString::number(last.gifts.size()) + u"个新礼包（资源①：" +
                              QString::number(last.gifts.size()) + u"个），资源②：HTTP 404";
        const QString summary = last.at.toLocalTime().toString(u"H:mm"_qs) + u' ' + found;
        QVERIFY(!last.gifts.isEmpty());
        QCOMPARE(tray->toolTip(), QString(u"新礼包提醒：" + summary));
        QCOMPARE(w.watch().dialog()->stateText(), QString(u"正在提醒：" + summary));
        for (int tab = 0; tab < kTabCount; ++tab) // in the background: no tab was touched
            QCOMPARE(w.f.list(tab).rowCount(), 0);
        QCOMPARE(w.f.window->statusText(2), u"欢迎使用Corvane系列软件"_qs);
        QCOMPARE(w.logged(u"新礼包提醒"_qs), 1);
        QCOMPARE(w.logged(u"新礼包提醒：" + found), 1);

        w.control<QPushButton>(u"stopWatch"_qs)->click();
        QVERIFY(!w.watch().isRunning() && !tray->isVisible());
        QVERIFY(w.control<QPushButton>(u"startWatch"_qs)->isEnabled());
        QCOMPARE(w.watch().dialog()->stateText(), QString(u"未在提醒，上次检查：" + summary));
        // Again: the unchanged page finds nothing, and the log keeps quiet about it.
        w.start(u"100"_qs);
        QVERIFY(w.checked());
        QCOMPARE(w.watch().lastCheck()->unchanged, 1);
        QCOMPARE(w.logged(u"新礼包提醒"_qs), 1);
    }

    void closingTheWindowWhileWatching_data() {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("watching");
        QTest::newRow("watching, in the tray") << true << true;
        QTest::newRow("watching, no tray on this desktop") << false << true;
        QTest::newRow("not watching") << true << false;
    }
    void closingTheWindowWhileWatching() {
        QFETCH(bool, tray);
        QFETCH(bool, watching);
        Watching w(tray);
        const bool ends = !watching;
        const QString stillRunning = tray ? WatchControl::kStillRunning : WatchControl::kStillInBackground;
        // A window that ends goes with its check in flight.
        if (ends)
            w.f.sites->setFault(QStringLiteral("^/libao/index_"), Fault::Hang);
        // Seen before: not new, and not among the codes the notification leads to.
        w.f.ledger->recordHarvest({{w.f.sites->codeFor(100100), {}, {}, u"listing"_qs, {}, {}, u"√"_qs, {}}});
        QVERIFY(w.f.open());
        QSignalSpy end(w.f.window.get(), &MainWindow::programEnd);
        if (watching)
            w.start(u"100"_qs);
        QVERIFY(ends || w.checked());
        w.f.window->close();
        QCOMPARE(end.size(), int(ends));
        QCOMPARE(w.notified(stillRunning), int(!ends));
        if (ends)
            return;
        const auto still = std::find_if(w.f.desktop.notifications.begin(), w.f.desktop.notifications.end(),
                                        [&](const auto &n) { return n.body == stillRunning; });
        QCOMPARE(still->action, u"显示窗口"_qs);
        const std::function<void()> showAgain = still->activated;
        QVERIFY(!w.f.window->isVisible());
        QVERIFY(w.settings.windowFrame()); // remembered as it went out of sight

        // The notification of new gifts shows the window and the ledger with their codes.
        const QStringList codes = w.watch().lastCheck()->codes();
        QVERIFY(!codes.isEmpty() && !codes.contains(w.f.sites->codeFor(100100)));
        const auto told = std::find_if(w.f.desktop.notifications.begin(), w.f.desktop.notifications.end(),
                                       [](const auto &n) { return n.title.endsWith(u"个新礼包"); });
        QVERIFY(told != w.f.desktop.notifications.end());
        told->activated();
        QVERIFY(w.f.window->isVisible());
        auto *ledgerWindow = w.f.window->findChild<LedgerWindow *>();
        QVERIFY(ledgerWindow && ledgerWindow->isVisible());
        QCOMPARE(ledgerWindow->model().shownRows().size(), codes.size());
        for (const QStringList &row : ledgerWindow->model().shownRows())
            QVERIFY(codes.contains(row[LedgerModel::CodeColumn]));
        ledgerWindow->findChild<QPushButton *>(u"showAll"_qs)->click();
        QCOMPARE(ledgerWindow->model().rowCount(), sandbox::Sandbox::kResourcesPerPage);

        // Closed again: said once per run of the program, and its button brings the window back.
        w.f.window->close();
        QCOMPARE(w.notified(stillRunning), 1);
        QCOMPARE(end.size(), 0);
        QVERIFY(!w.f.window->isVisible());
        showAgain();
        QVERIFY(w.f.window->isVisible());
        if (!tray)
            return;
        // "退出程序" in the tray ends the program as the menu bar's does; "停止提醒" there brings
        // the window back, as nothing is left in the tray.
        w.f.window->close();
        w.trayCommand("trayQuit");
        QCOMPARE(end.size(), 1);
        w.trayCommand("trayStop");
        QVERIFY(w.f.window->isVisible() && !w.watch().isRunning());
    }

    void theUserAndTheWatchNeverPostOneCodeTwice() {
        // A batch over the page's gifts while the watch receives them too; what either received
        // is greyed on the tab.
        Watching w;
        QVERIFY(w.f.open());
        QVERIFY(signIn(*w.f.web, *w.f.sites));
        keepSignIn(w.f.window->session());
        QStringList page;
        for (int j = 0; j < sandbox::Sandbox::kResourcesPerPage; ++j)
            page.append(w.f.sites->codeFor(100100 + j));
        w.f.fill(0, page);
        w.f.list(0).setAllChecked(true);
        w.f.sites->setLatency(20);
        QVERIFY(w.tickAutoReceive(0));
        w.start(u"100"_qs);
        w.f.window->receiveChecked();
        QVERIFY(w.checked());
        QVERIFY(runUntil([&] { return !w.f.window->isReceiving(); }, 20000));
        // A code either received goes once; one refused (members only) may be tried by both.
        const QStringList posted = sentCodes(*w.f.sites);
        QVERIFY(w.watch().lastCheck()->received);
        const QHash<QString, QDateTime> received = w.f.ledger->confirmedAmong(page);
        QVERIFY(!received.isEmpty());
        for (const QString &code : received.keys())
            QCOMPARE(posted.count(code), 1);
        for (int row = 0; row < page.size(); ++row)
            QCOMPARE(w.f.list(0).entry(row).receivedAt.isValid(), received.contains(page[row]));
    }

    void autoReceiveFollowsTheKeptSignIn_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("kept and signed in: received") << true;
        QTest::newRow("kept but expired: forgotten") << false;
    }
    void autoReceiveFollowsTheKeptSignIn() {
        QFETCH(bool, signedIn);
        Watching w;
        QVERIFY(w.f.open());
        w.watch().watch().setReceivePace(50, 0); // not 2 s apart here
        QVERIFY(!w.tickAutoReceive(0));
        // Kept after the window and the dialog were made: read when asked.
        if (signedIn)
            QVERIFY(signIn(*w.f.web, *w.f.sites));
        keepSignIn(w.f.window->session());
        QVERIFY(w.tickAutoReceive(0));
        w.start(u"100"_qs);
        QVERIFY(w.checked());
        const std::optional<ReceiveSummary> received = w.watch().lastCheck()->received;
        QVERIFY(received && !sentCodes(*w.f.sites).isEmpty());
        const QString expired = u"登录已过期,请重新登录"_qs;
        QCOMPARE(received->stop == ReceiveStop::NotSignedIn, !signedIn);
        QTRY_COMPARE_WITH_TIMEOUT(w.f.window->session().signInState() == SignInState::Kept, signedIn,
                                  scaled(5000));
        QCOMPARE(w.f.desktop.secrets.isEmpty(), !signedIn);
        QCOMPARE(w.logged(expired), int(!signedIn));
        QCOMPARE(w.f.window->statusText(2) == expired, !signedIn);
        w.control<QPushButton>(u"stopWatch"_qs)->click();
        QCOMPARE(w.tickAutoReceive(1), signedIn); // the box follows
    }
};

QTEST_MAIN(TestWatchWindow)
#include "test_watchwindow.moc"
