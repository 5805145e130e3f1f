#include "desktop/usersettings.h"
#include "fixture.h"
#include "receive/keptsignin.h"
#include "receive/replies.h"
#include "web/cookiejar.h"

#include <QAction>
#include <QListWidget>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

using sandbox::Site;

namespace {

// A user who ticked "保持登录" at an earlier run, and what the secret store kept then.
struct KeptBefore {
    QTemporaryDir dir;
    QSettings file{dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat};
    UserSettings settings{file};

    KeptBefore() { settings.setKeepSignIn(true); }

    // Keeps a cookie of the stand-in cloud disk for the window's store; the stand-in's own
    // session cookie is UID, so another name is one that no longer signs in.
    static void keep(Fixture &f, const QByteArray &name, const QDateTime &expires = {}) {
        QNetworkCookie cookie(name, "kept-session");
        cookie.setDomain(QUrl(f.addresses().cloudDisk).host());
        cookie.setPath(u"/"_qs);
        if (expires.isValid())
            cookie.setExpirationDate(expires);
        f.desktop.secrets.insert(f.window->keptSignIn().entryKey(), KeptSignIn::serialise({cookie}));
    }
};

QString lastLog(const Fixture &f) {
    return f.window->log()->item(f.window->log()->count() - 1)->text().section(u']', 1);
}

bool started(Fixture &f) {
    QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
    f.window->start();
    return done.wait(scaled(5000));
}

} // namespace

// Staying signed in, through the window: put back at start, "退出登录", and a kept sign-in
// that the cloud disk no longer takes.
class TestKeptWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void aKeptSignInIsPutBackAtStart_data() {
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QByteArray>("kept"); // the kept cookie's name; none kept when empty
        QTest::addColumn<bool>("expired");
        QTest::addColumn<QString>("noStore");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("log");
        const QString welcome = u"欢迎使用Corvane系列软件"_qs;
        const QString current = u"当前为最新版本.."_qs;
        QTest::newRow("kept and ticked")
            << true << QByteArray("UID") << false << QString() << u"已保持登录115网盘"_qs << current;
        QTest::newRow("kept, not ticked")
            << false << QByteArray("UID") << false << QString() << welcome << current;
        QTest::newRow("ticked, nothing kept")
            << true << QByteArray() << false << QString() << welcome << current;
        QTest::newRow("ticked, expired")
            << true << QByteArray("UID") << true << QString() << welcome << current;
        QTest::newRow("ticked, no secret store") << true << QByteArray() << false << u"no Secret Service"_qs
                                                 << welcome << u"无法恢复保持的登录：no Secret Service"_qs;
    }
    void aKeptSignInIsPutBackAtStart() {
        QFETCH(bool, ticked);
        QFETCH(QByteArray, kept);
        QFETCH(bool, expired);
        QFETCH(QString, noStore);
        QFETCH(QString, status);
        QFETCH(QString, log);
        KeptBefore before;
        before.settings.setKeepSignIn(ticked);
        Fixture f;
        f.settings = &before.settings;
        f.desktop.noSecretStore = noStore;
        QVERIFY(f.open(false));
        if (!kept.isEmpty())
            KeptBefore::keep(f, kept, expired ? QDateTime::currentDateTimeUtc().addDays(-1) : QDateTime());
        QVERIFY(started(f));
        QTRY_COMPARE(f.window->statusText(2), status);
        // The restore's notice comes before the update check's own line.
        QVERIFY(f.window->log()->findItems(log, Qt::MatchEndsWith).size() == 1);
        QCOMPARE(f.web->cookieJar()->cookies().size(), status == u"已保持登录115网盘" ? 1 : 0);
    }

    void signingOutForgetsTheKeptSignIn() {
        KeptBefore before;
        Fixture f;
        f.settings = &before.settings;
        QVERIFY(f.open(false));
        KeptBefore::keep(f, "UID");
        QVERIFY(started(f));
        QTRY_COMPARE(f.window->statusText(2), u"已保持登录115网盘"_qs);
        f.window->findChild<QAction *>(u"tcdl"_qs)->trigger();
        QTRY_COMPARE(f.window->statusText(2), u"已退出登录"_qs);
        QVERIFY(f.desktop.secrets.isEmpty());
        QVERIFY(f.web->cookieJar()->cookies().isEmpty());
        QVERIFY(before.settings.keepSignIn()); // the user's choice stays for the next sign-in

        // The cloud disk sees no session any more.
        f.fill(0, {u"gvok1"_qs});
        f.select(0, 0);
        f.window->receiveSelected();
        QTRY_COMPARE(f.desktop.texts(), QStringList{receivetexts::kNotSignedIn.toString()});
        QVERIFY(!f.sites->requests(Site::CloudDisk).last().header("Cookie").contains("kept-session"));
    }

    void aKeptSignInTheCloudDiskRefusesIsForgotten_data() {
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("batch");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("log");
        const QString expired = u"登录已过期,请重新登录"_qs;
        QTest::newRow("kept, one gift") << true << false << expired << expired;
        QTest::newRow("kept, a batch") << true << true << expired << expired;
        QTest::newRow("not kept, one gift")
            << false << false << u"欢迎使用Corvane系列软件"_qs << u"当前为最新版本.."_qs;
        QTest::newRow("not kept, a batch")
            << false << true << receivetexts::kNotSignedIn.toString() << u"请先登录115.."_qs;
    }
    void aKeptSignInTheCloudDiskRefusesIsForgotten() {
        QFETCH(bool, kept);
        QFETCH(bool, batch);
        QFETCH(QString, status);
        QFETCH(QString, log);
        KeptBefore before;
        Fixture f;
        f.settings = &before.settings;
        QVERIFY(f.open(false));
        if (kept)
            KeptBefore::keep(f, "STALE");
        QVERIFY(started(f));
        QTRY_VERIFY(f.web->cookieJar()->cookies().size() == int(kept));
        f.fill(0, {u"gvok1"_qs, u"gvok2"_qs});
        if (batch) {
            f.list(0).setChecked(0, true);
            f.list(0).setChecked(1, true);
            f.window->receiveChecked();
        } else {
            f.select(0, 0);
            f.window->receiveSelected();
        }
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        // The receive's own message stays; what follows says why.
        QCOMPARE(f.desktop.texts(),
                 batch ? QStringList() : QStringList{receivetexts::kNotSignedIn.toString()});
        QCOMPARE(f.window->statusText(2), status);
        QCOMPARE(lastLog(f), log);
        QVERIFY(f.desktop.secrets.isEmpty());
        QVERIFY(f.web->cookieJar()->cookies().isEmpty());
        QCOMPARE(sentCodes(*f.sites), QStringList{u"gvok1"_qs}); // a batch stops at "登录帐号"
    }
};

QTEST_MAIN(TestKeptWindow)
#include "test_keptwindow.moc"
