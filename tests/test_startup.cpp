#include "awaited.h"
#include "desktop/autostart.h"
#include "desktop/singleinstance.h"
#include "desktop/systemdesktop.h"
#include "ledger/ledger.h"
#include "recordingdesktop.h"
#include "session/giftsession.h"
#include "session/sessionsettings.h"
#include "standin.h"
#include "warnings.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using sandbox::Site;

// How the program starts and goes on: the update check at start, the watch resumed, one program
// per desktop session, and the entry that starts it at login.
class TestStartup final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void retriesWaitLongerUpToSixHours() {
        QList<int> minutes;
        for (int attempt : {1, 2, 3, 7, 8, 30})
            minutes.append(GiftSession::updateRetryMinutes(attempt));
        QCOMPARE(minutes, (QList<int>{5, 10, 20, 320, 360, 360}));
    }

    void theStartUpCheckDecidesWhetherTheWatchGoesOn_data() {
        QTest::addColumn<bool>("background");
        QTest::addColumn<int>("unanswered"); // checks the server answers with no version
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("ranBefore");   // the watch ran as the program last ended
        QTest::addColumn<QString>("verdicts"); // what the window is told: C current, D other, N none
        QTest::addColumn<bool>("watching");
        const QString own = QStringLiteral(GIFTVANE_VERSION_TAG);
        QTest::newRow("window, the watch ran") << false << 0 << own << true << u"C"_qs << true;
        QTest::newRow("window, it did not") << false << 0 << own << false << u"C"_qs << false;
        QTest::newRow("window, no answer") << false << 1 << own << true << u"N"_qs << false;
        QTest::newRow("window, other version") << false << 0 << u"V9.9"_qs << true << u"D"_qs << false;
        QTest::newRow("background, two without answer") << true << 2 << own << true << u"C"_qs << true;
        QTest::newRow("background, other version") << true << 0 << u"V9.9"_qs << true << QString() << false;
    }
    void theStartUpCheckDecidesWhetherTheWatchGoesOn() {
        QFETCH(bool, background);
        QFETCH(int, unanswered);
        QFETCH(QString, version);
        QFETCH(bool, ranBefore);
        sandbox::Sandbox sites(3);
        QVERIFY(sites.start());
        sites.setVersionFile("<html>502 Bad Gateway</html>");
        QTemporaryDir dir;
        QSettings file(dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat);
        SessionSettings settings(file);
        settings.setWatchRunning(ranBefore);
        WebClient web;
        RecordingDesktop desktop;
        GiftSession session(web, desktop, addressesOf(sites), nullptr, &settings);
        session.setMinuteMs(10);
        QString verdicts;
        bool watchingWhenTold = false; // the window starts its tray from what it finds then
        QObject::connect(&session, &GiftSession::updateChecked, [&](const UpdateVerdict &verdict) {
            watchingWhenTold = session.watch().isRunning();
            verdicts += verdict.kind == UpdateVerdict::Current     ? u'C'
                        : verdict.kind == UpdateVerdict::Different ? u'D'
                                                                   : u'N';
        });
        QSignalSpy ends(&session, &GiftSession::endRequested);
        session.start(background ? StartMode::Background : StartMode::Window);
        // The server answers from its check after the unanswered ones.
        QVERIFY(runUntil([&] { return sites.requests(Site::Update).size() >= unanswered; }));
        sites.setVersion(version);
        QVERIFY(runUntil([&] { return !verdicts.isEmpty() || !ends.isEmpty(); }));
        QTest::qWait(100); // a retry would have been asked by now
        QCOMPARE(sites.requests(Site::Update).size(), qMax(1, background ? unanswered + 1 : 1));
        QTEST(verdicts, "verdicts");
        QTEST(session.watch().isRunning(), "watching");
        QCOMPARE(watchingWhenTold, session.watch().isRunning());
        QCOMPARE(ends.size(), int(verdicts.isEmpty()));
        if (!verdicts.isEmpty()) {
            QVERIFY(desktop.notifications.isEmpty());
            return;
        }
        // Told in a notification whose button opens the update page.
        QCOMPARE(desktop.notifications.size(), 1);
        QCOMPARE(desktop.notifications[0].title, u"发现最新版本![V9.9]"_qs);
        QCOMPARE(desktop.notifications[0].action, u"打开更新地址"_qs);
        desktop.notifications[0].activated();
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl(updatePageAddress(sites.address(Site::Update)))});
    }

    void aSecondStartHandsOverToTheFirst() {
        if (qEnvironmentVariableIsEmpty("GIFTVANE_TEST_KEYRING"))
            QSKIP("needs a private session bus (tests/keyring-session)");
        SingleInstance first;
        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        QCOMPARE(first.claim(true), SingleInstance::Claim::Owner);
        // Each later start on a connection of its own, as another process is, waiting for the
        // answer where the first's event loop is free to give it.
        const auto later = [](bool activate, const QString &connection) {
            std::atomic<SingleInstance::Claim> claim = SingleInstance::Claim::Owner;
            std::atomic<bool> done = false;
            std::thread start([&] {
                SingleInstance instance(
                    QDBusConnection::connectToBus(QDBusConnection::SessionBus, connection));
                claim = instance.claim(activate);
                done = true;
            });
            runUntil([&] { return done.load(); });
            start.join();
            return claim.load();
        };
        QCOMPARE(later(true, u"second"_qs), SingleInstance::Claim::Handed);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(later(false, u"atLogin"_qs), SingleInstance::Claim::Handed); // asks nothing
        QCOMPARE(shown.size(), 1);
    }

    void theHeadlessWatchWritesNewGiftsAndReceivesEachOnce() {
        if (qEnvironmentVariableIsEmpty("GIFTVANE_TEST_KEYRING"))
            QSKIP("needs a private secret store (tests/keyring-session)");
        sandbox::Sandbox sites(3);
        QVERIFY(sites.start());
        QTemporaryDir home;
        // A sign-in kept by the window, in the store the command reads.
        WebClient web;
        SystemDesktop desktop;
        KeptSignIn kept(desktop, *web.cookieJar(), sites.address(Site::CloudDisk));
        QVERIFY(signIn(web, sites));
        QVERIFY(awaited(kept.save()).value_or(KeptSignIn::Result{SecretAnswer::Status::Failed}).ok());
        // The ledger the window keeps: it saw all of 资源③'s page 1 but two, and another Giftvane
        // claimed one of those two.
        const QString fresh = sites.codeFor(200100), claimed = sites.codeFor(200101);
        QVERIFY(!fresh.endsWith(u'6') && !fresh.endsWith(u'8') && !fresh.endsWith(u'9'));
        {
            Ledger ledger(home.filePath(u"data/Giftvane/ledger.sqlite"_qs));
            QVERIFY(QDir().mkpath(home.filePath(u"data/Giftvane"_qs)) && ledger.open());
            QList<SeenCode> seen;
            for (int id = 200102; id < 200100 + sandbox::Sandbox::kResourcesPerPage; ++id)
                seen.append({sites.codeFor(id), {}, {}, u"listing"_qs, {}, {}, u"√"_qs, {}});
            ledger.recordHarvest(seen);
            QCOMPARE(ledger.claim(claimed, {}, false).result, Claim::Result::Taken);
        }
        QStringList written;
        for (int run = 0; run < 2; ++run) {
            QProcess watch;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
            environment.insert(u"XDG_CONFIG_HOME"_qs, home.filePath(u"config"_qs));
            for (const QString &line : sites.environmentLines())
                environment.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
            watch.setProcessEnvironment(environment);
            watch.start(QStringLiteral(HARVEST_COMMAND),
                        {u"watch"_qs, u"--once"_qs, u"--receive"_qs, u"tiquma"_qs});
            QVERIFY(runUntil([&] { return watch.state() == QProcess::NotRunning; }, 30000));
            QCOMPARE(watch.exitCode(), 0);
            const QByteArray out = watch.readAllStandardOutput();
            written.append(out.isEmpty() ? QString() : QString::fromUtf8(out).section(u'\t', 0, 0));
        }
        // The fresh gift written and received once; the claimed one never posted; nothing again.
        QCOMPARE(written, (QStringList{fresh, QString()}));
        QCOMPARE(sentCodes(sites), QStringList{fresh});
    }

    void theLoginEntryIsWrittenAndRemoved() {
        QFile::remove(autostart::entryPath());
        QVERIFY(!autostart::isOn());
        QCOMPARE(autostart::setOn(true, u"/opt/My \"Apps\" 100%/giftvane"_qs), QString());
        QVERIFY(autostart::isOn());
        QFile entry(autostart::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        QVERIFY2(text.contains("\nExec=\"/opt/My \\\"Apps\\\" 100%%/giftvane\" --background\n"),
                 text.constData());
        entry.close();
        // Turned off by the desktop's own settings.
        QVERIFY(entry.open(QIODevice::Append) && entry.write("Hidden=true\n") > 0);
        entry.close();
        QVERIFY(!autostart::isOn());
        QCOMPARE(autostart::setOn(false, {}), QString());
        QVERIFY(!QFile::exists(autostart::entryPath()) && !autostart::isOn());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
