#include "app/ledgerwindow.h"
#include "app/watchcontrol.h"
#include "app/watchdialog.h"
#include "app/watchtray.h"
#include "awaited.h"
#include "desktop/usersettings.h"
#include "fixture.h"
#include "receive/keptsignin.h"

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using sandbox::Fault;
using sandbox::Site;

namespace {

// A window over its own settings file, with the watch's dialog at hand.
struct Watching {
    QTemporaryDir dir;
    QSettings file{dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat};
    UserSettings settings{file};
    Fixture f;

    explicit Watching(bool tray = true) {
        f.tray = tray;
        f.settings = &settings;
    }
    bool withLedger() {
        f.ledger = std::make_unique<Ledger>(dir.filePath(u"ledger.sqlite"_qs));
        return f.ledger->open();
    }
    WatchControl &watch() const { return f.window->watch(); }
    // "新礼包提醒" from the menu bar.
    WatchDialog *openDialog() const {
        f.window->findChild<QAction *>(u"xlbtx"_qs)->trigger();
        return watch().dialog();
    }
    template <typename T> T *control(const char *name) const {
        return watch().dialog()->findChild<T *>(QString::fromLatin1(name));
    }
    void click(const char *name) const { control<QPushButton>(name)->click(); }
    // Watches the tabs given as "010", from the dialog.
    void start(const QString &tabs) const {
        openDialog();
        for (int i = 0; i < kTabCount; ++i)
            control<QCheckBox>(qPrintable(u"watchTab" + QString::number(i)))->setChecked(tabs[i] == u'1');
        // A tray icon shown on the virtual display, which has no tray, says so once.
        if (f.tray && !watch().tray())
            QTest::ignoreMessage(QtWarningMsg, "QObject::connect: No such signal "
                                               "QPlatformNativeInterface::systemTrayWindowChanged(QScreen*)");
        click("startWatch");
    }
    bool checked() const {
        return runUntil([this] { return watch().lastCheck().has_value(); }, 20000);
    }
    QStringList logLines(const QString &starting) const {
        QStringList out;
        for (int i = 0; i < f.window->log()->count(); ++i) {
            const QString line = f.window->log()->item(i)->text().section(u']', 1);
            if (line.startsWith(starting))
                out.append(line);
        }
        return out;
    }
    int notified(const QString &body) const {
        return int(std::count_if(f.desktop.notifications.begin(), f.desktop.notifications.end(),
                                 [&](const RecordingDesktop::Notification &n) { return n.body == body; }));
    }
    QAction *trayAction(const char *name) const {
        return watch().tray()->menu()->findChild<QAction *>(QString::fromLatin1(name));
    }
};

CheckReport report(int gifts, const QStringList &unreadable = {},
                   std::optional<AutoReceiveSummary> received = {}) {
    CheckReport out;
    out.at = QDateTime(QDate(2026, 12, 8), QTime(14, 5), Qt::LocalTime);
    for (int i = 0; i < gifts; ++i)
        out.gifts.append({HarvestedRow{}, TabId::Libao});
    out.unreadable = unreadable;
    out.received = received;
    return out;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<CheckReport>)

// The new-gift watch in the window: its dialog and remembered choices, the tray icon it runs
// in, the notification that leads to the codes, and the kept sign-in it needs for receiving.
class TestWatchWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void whatAChecksFoundIsSaid_data() {
        QTest::addColumn<std::optional<CheckReport>>("last");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("before the first check")
            << std::optional<CheckReport>() << u"正在检查"_qs << QString();
        QTest::newRow("new gifts") << std::optional(report(3)) << u"14:05 发现3个新礼包"_qs
                                   << u"新礼包提醒：发现3个新礼包"_qs;
        QTest::newRow("nothing new: the log stays quiet")
            << std::optional(report(0)) << u"14:05 未发现新礼包"_qs << QString();
        QTest::newRow("a page that failed")
            << std::optional(report(0, {u"资源②：连接超时"_qs})) << u"14:05 未发现新礼包，资源②：连接超时"_qs
            << u"新礼包提醒：资源②：连接超时"_qs;
        QTest::newRow("received, and a page that failed")
            << std::optional(report(2, {u"资源③：HTTP 404"_qs}, AutoReceiveSummary{2, 1, false, false}))
            << u"14:05 发现2个新礼包，资源③：HTTP 404"_qs
            << u"新礼包提醒：发现2个新礼包，自动接收2个礼包：成功1个,失败1个，资源③：HTTP 404"_qs;
    }
    void whatAChecksFoundIsSaid() {
        QFETCH(std::optional<CheckReport>, last);
        QFETCH(QString, summary);
        QFETCH(QString, logLine);
        QCOMPARE(watchSummary(last), summary);
        if (last)
            QCOMPARE(watchLogLine(*last), logLine);
    }

    void theDialogRemembersItsChoices_data() {
        QTest::addColumn<QVariantMap>("saved");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<QString>("shown"); // tabs, minutes, auto-receive: checked / enabled
        QTest::newRow("nothing saved") << QVariantMap() << false << u"111 30 00"_qs;
        QTest::newRow("saved, auto-receive without a kept sign-in")
            << QVariantMap{{u"watch/libao"_qs, false},
                           {u"watch/minutes"_qs, 90},
                           {u"watch/autoReceive"_qs, true}}
            << false << u"011 90 00"_qs;
        QTest::newRow("saved, auto-receive with a kept sign-in")
            << QVariantMap{{u"watch/tiquma"_qs, false}, {u"watch/autoReceive"_qs, true}} << true
            << u"110 30 11"_qs;
    }
    void theDialogRemembersItsChoices() {
        QFETCH(QVariantMap, saved);
        QFETCH(bool, kept);
        QFETCH(QString, shown);
        Watching w;
        for (auto it = saved.begin(); it != saved.end(); ++it)
            w.file.setValue(it.key(), it.value());
        QVERIFY(w.f.open());
        if (kept)
            QVERIFY(awaited(w.f.window->keptSignIn().save()).value().ok());
        const auto seen = [&w]() -> QString {
            QString out;
            for (int i = 0; i < kTabCount; ++i)
                out += w.control<QCheckBox>(qPrintable(u"watchTab" + QString::number(i)))->isChecked() ? u'1'
                                                                                                       : u'0';
            auto *autoReceive = w.control<QCheckBox>("autoReceive");
            return out + u' ' + QString::number(w.control<QSpinBox>("minutes")->value()) + u' ' +
                   QString::number(int(autoReceive->isChecked())) +
                   QString::number(int(autoReceive->isEnabled()));
        };
        WatchDialog *dialog = w.openDialog();
        QCOMPARE(dialog->windowTitle(), u"新礼包提醒"_qs);
        QCOMPARE(seen(), shown);
        QCOMPARE(w.control<QCheckBox>("autoReceive")->toolTip(),
                 kept ? QString() : WatchDialog::kNeedsKeptSignIn);
        QCOMPARE(w.control<QSpinBox>("minutes")->minimum(), 5);
        QCOMPARE(w.control<QSpinBox>("minutes")->maximum(), 1440);

        // Changed, and read back by the next run's window.
        w.control<QCheckBox>("watchTab1")->click();
        w.control<QSpinBox>("minutes")->setValue(45);
        if (kept)
            w.control<QCheckBox>("autoReceive")->click();
        const QString changed = shown.left(1) + (shown[1] == u'1' ? u'0' : u'1') + shown[2] + u" 45 " +
                                (kept ? u"01"_qs : u"00"_qs);
        QCOMPARE(seen(), changed);
        w.f.window.reset();
        QVERIFY(w.f.open());
        if (kept)
            QVERIFY(awaited(w.f.window->keptSignIn().save()).value().ok());
        w.openDialog();
        QCOMPARE(seen(), changed);
        // Auto-receive chosen without a kept sign-in stays chosen for when there is one.
        QCOMPARE(w.settings.watch().autoReceive, saved.value(u"watch/autoReceive"_qs).toBool() && !kept);
    }

    void startAndStopThroughTheDialogAndTheTray_data() {
        QTest::addColumn<bool>("fromTray");
        QTest::newRow("stopped in the dialog") << false;
        QTest::newRow("stopped from the tray") << true;
    }
    void startAndStopThroughTheDialogAndTheTray() {
        QFETCH(bool, fromTray);
        Watching w;
        w.f.sites->setFault(QStringLiteral("^/new/1\\.html"), Fault::NotFound);
        QVERIFY(w.f.open());
        w.start(u"110"_qs);
        QVERIFY(w.watch().isRunning());
        QVERIFY(!w.control<QPushButton>("startWatch")->isEnabled());
        QVERIFY(w.control<QPushButton>("stopWatch")->isEnabled());
        QVERIFY(!w.control<QCheckBox>("watchTab0")->isEnabled()); // as it runs
        QCOMPARE(w.watch().dialog()->stateText(), u"正在提醒：正在检查"_qs);
        QSystemTrayIcon *tray = w.watch().tray()->icon();
        QVERIFY(tray->isVisible() && !tray->icon().isNull());
        QCOMPARE(tray->toolTip(), u"新礼包提醒：正在检查"_qs);
        QVERIFY(w.checked());

        const CheckReport last = *w.watch().lastCheck();
        QVERIFY(!last.gifts.isEmpty());
        const QString found = last.at.toLocalTime().toString(u"H:mm"_qs) + u" 发现" +
                              QString::number(last.gifts.size()) + u"个新礼包，资源②：HTTP 404";
        QCOMPARE(tray->toolTip(), QString(u"新礼包提醒：" + found));
        QCOMPARE(w.watch().dialog()->stateText(), QString(u"正在提醒：" + found));
        QCOMPARE(w.logLines(u"新礼包提醒"_qs),
                 QStringList{u"新礼包提醒：发现" + QString::number(last.gifts.size()) +
                             u"个新礼包，资源②：HTTP 404"});
        // In the background: no tab's list or status was touched.
        for (int tab = 0; tab < kTabCount; ++tab)
            QCOMPARE(w.f.list(tab).rowCount(), 0);
        QCOMPARE(w.f.window->statusText(2), u"欢迎使用Corvane系列软件"_qs);

        if (fromTray)
            w.trayAction("trayStop")->trigger();
        else
            w.click("stopWatch");
        QVERIFY(!w.watch().isRunning() && !tray->isVisible());
        QVERIFY(w.control<QPushButton>("startWatch")->isEnabled());
        QVERIFY(!w.control<QPushButton>("stopWatch")->isEnabled());
        QCOMPARE(w.watch().dialog()->stateText(), QString(u"未在提醒，上次检查：" + found));
        QVERIFY(w.f.window->isVisible());
    }

    void closingTheWindowWhileWatching_data() {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("watching");
        QTest::addColumn<bool>("ends");
        QTest::newRow("watching, in the tray") << true << true << false;
        QTest::newRow("watching, no tray on this desktop") << false << true << true;
        QTest::newRow("not watching") << true << false << true;
    }
    void closingTheWindowWhileWatching() {
        QFETCH(bool, tray);
        QFETCH(bool, watching);
        QFETCH(bool, ends);
        Watching w(tray);
        // The check stays in flight: the window goes with it at the end.
        w.f.sites->setFault(QStringLiteral("^/libao/index_"), Fault::Hang);
        QVERIFY(w.f.open());
        QSignalSpy end(w.f.window.get(), &MainWindow::programEnd);
        if (watching)
            w.start(u"100"_qs);
        w.f.window->close();
        QCOMPARE(end.size(), int(ends));
        if (ends) {
            QCOMPARE(w.notified(WatchControl::kStillRunning), 0);
            return;
        }
        QVERIFY(!w.f.window->isVisible());
        QCOMPARE(w.notified(WatchControl::kStillRunning), 1);
        QVERIFY(w.settings.windowFrame()); // remembered as it went out of sight

        // Back from the tray, and closed again: said once per run of the program.
        w.trayAction("trayShow")->trigger();
        QVERIFY(w.f.window->isVisible());
        w.f.window->close();
        QVERIFY(!w.f.window->isVisible());
        QCOMPARE(w.notified(WatchControl::kStillRunning), 1);
        QCOMPARE(end.size(), 0);

        // The notification shows the window; "退出程序" ends the program, the same way as the
        // menu bar's.
        w.f.desktop.notifications.last().activated();
        QVERIFY(w.f.window->isVisible());
        w.f.window->hide();
        w.trayAction("trayQuit")->trigger();
        QCOMPARE(end.size(), 1);
        QVERIFY(w.watch().isRunning()); // until the window goes, which stops it
    }

    void theNotificationLeadsToItsCodes() {
        Watching w;
        QVERIFY(w.withLedger());
        // Seen before: not new, and not among the codes the notification leads to.
        w.f.ledger->recordHarvest(
            {{w.f.sites->codeFor(100100), u"昨天"_qs, {}, u"listing"_qs, u"资源①"_qs, u"1"_qs, u"√"_qs, {}}});
        QVERIFY(w.f.open());
        w.start(u"100"_qs);
        QVERIFY(w.checked());
        const QStringList codes = w.watch().lastCheck()->codes();
        QVERIFY(!codes.isEmpty() && !codes.contains(w.f.sites->codeFor(100100)));
        const RecordingDesktop::Notification told = w.f.desktop.notifications.last();
        QCOMPARE(told.title, u"发现" + QString::number(codes.size()) + u"个新礼包");
        w.f.window->close(); // into the tray

        told.activated();
        QVERIFY(w.f.window->isVisible());
        auto *ledgerWindow = w.f.window->findChild<LedgerWindow *>();
        QVERIFY(ledgerWindow && ledgerWindow->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(ledgerWindow->model().rowCount(), int(codes.size()), scaled(5000));
        QStringList shown;
        for (int row = 0; row < ledgerWindow->model().rowCount(); ++row)
            shown.append(ledgerWindow->model().index(row, LedgerModel::CodeColumn).data().toString());
        shown.sort();
        QStringList expected = codes;
        expected.sort();
        QCOMPARE(shown, expected);
        QVERIFY(!ledgerWindow->codesText().isEmpty());
        // The menu's 接收记录 is the whole ledger again.
        w.f.window->openLedger();
        QVERIFY(ledgerWindow->codesText().isEmpty());
        QCOMPARE(ledgerWindow->model().rowCount(), sandbox::Sandbox::kResourcesPerPage);
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
        WatchDialog *dialog = w.openDialog();
        auto *autoReceive = w.control<QCheckBox>("autoReceive");
        QVERIFY(!autoReceive->isEnabled());
        // Kept after the window and the dialog were made: read when asked.
        if (signedIn)
            QVERIFY(signIn(*w.f.web, *w.f.sites));
        QVERIFY(awaited(w.f.window->keptSignIn().save()).value().ok());
        w.openDialog();
        QVERIFY(autoReceive->isEnabled());
        autoReceive->click();
        w.start(u"100"_qs);
        QVERIFY(w.checked());
        const CheckReport last = *w.watch().lastCheck();
        QVERIFY(last.received);
        QVERIFY(!sentCodes(*w.f.sites).isEmpty());
        const QString expired = u"登录已过期,请重新登录"_qs;
        if (signedIn) {
            QVERIFY(w.f.window->keptSignIn().isKept());
            QVERIFY(w.logLines(expired).isEmpty());
            return;
        }
        // The kept sign-in is gone from the store and the window says so; the box follows.
        QVERIFY(last.received->signInExpired);
        QTRY_VERIFY_WITH_TIMEOUT(!w.f.window->keptSignIn().isKept(), scaled(5000));
        QVERIFY(w.f.desktop.secrets.isEmpty());
        QCOMPARE(w.f.window->statusText(2), expired);
        QCOMPARE(w.logLines(expired).size(), 1);
        w.click("stopWatch");
        QVERIFY(!autoReceive->isEnabled() && !autoReceive->isChecked());
        QCOMPARE(dialog->choices().autoReceive, false);
    }
};

QTEST_MAIN(TestWatchWindow)
#include "test_watchwindow.moc"
