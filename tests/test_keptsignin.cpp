#include "awaited.h"
#include "desktop/systemdesktop.h"
#include "receive/keptsignin.h"
#include "recordingdesktop.h"
#include "warnings.h"
#include "web/cookiejar.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using Status = SecretAnswer::Status;
using Cookies = QList<QNetworkCookie>;

namespace {

const QString kCloudDisk = u"https://115.com"_qs;
const QDateTime kLater = QDateTime::currentDateTimeUtc().addDays(30);

QNetworkCookie cookie(const QByteArray &name, const QString &domain, const QDateTime &expires = {}) {
    QNetworkCookie out(name, "v-" + name);
    out.setDomain(domain);
    out.setPath(u"/"_qs);
    out.setExpirationDate(expires);
    return out;
}

QStringList names(const Cookies &cookies) {
    QStringList out;
    for (const QNetworkCookie &cookie : cookies)
        out.append(QString::fromLatin1(cookie.name()));
    out.sort();
    return out;
}

// Every field that is kept, in one line.
QString fields(const QNetworkCookie &c) {
    return QStringList{QString::fromLatin1(c.name() + '=' + c.value().toHex()),
                       c.domain(),
                       c.path(),
                       c.expirationDate().toUTC().toString(Qt::ISODateWithMs),
                       QString::number(c.isSecure()) + QString::number(c.isHttpOnly()),
                       QString::number(int(c.sameSitePolicy()))}
        .join(u'|');
}

// Puts each cookie into the jar as its own host would have set it.
void put(CookieJar &jar, const Cookies &cookies) {
    for (const QNetworkCookie &c : cookies)
        jar.restoreCookies(
            {c}, QUrl(u"https://"_qs + (c.domain().startsWith(u'.') ? c.domain().mid(1) : c.domain())));
}

} // namespace

// The kept sign-in: what goes into the secret store and what comes back into the jar, with a
// store played in memory, and with gnome-keyring's own (ctest runs this through
// tests/keyring-session, in a private D-Bus session).
class TestKeptSignIn final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void restoreTakesWhatStillGoesToTheCloudDisk_data() {
        QTest::addColumn<Cookies>("kept");
        QTest::addColumn<QStringList>("restored");
        QTest::newRow("host-only and domain cookies")
            << Cookies{cookie("UID", u"115.com"_qs), cookie("CID", u".115.com"_qs, kLater)}
            << QStringList{u"CID"_qs, u"UID"_qs};
        QTest::newRow("expired") << Cookies{cookie("O", u".115.com"_qs,
                                                   QDateTime::currentDateTimeUtc().addSecs(-1))}
                                 << QStringList{};
        QTest::newRow("another host") << Cookies{cookie("X", u"listing.example"_qs)} << QStringList{};
        QTest::newRow("a subdomain's own") << Cookies{cookie("W", u"www.115.com"_qs)} << QStringList{};
        QTest::newRow("a public suffix") << Cookies{cookie("T", u".com"_qs)} << QStringList{};
    }
    void restoreTakesWhatStillGoesToTheCloudDisk() {
        QFETCH(Cookies, kept);
        QFETCH(QStringList, restored);
        RecordingDesktop desktop;
        CookieJar jar;
        KeptSignIn keep(desktop, jar, kCloudDisk);
        desktop.secrets.insert(keep.entryKey(), KeptSignIn::serialise(kept));
        QSignalSpy toBrowser(&jar, &CookieJar::cookiesRestored);
        const auto result = awaited(keep.restore());
        QVERIFY(result && result->ok());
        QCOMPARE(result->cookies, restored.size());
        QCOMPARE(names(jar.cookies()), restored);
        QCOMPARE(toBrowser.size(), restored.isEmpty() ? 0 : 1);
    }

    void keptFormKeepsEveryField() {
        QNetworkCookie c("S\x01ID", QByteArray("\x00\xff;=, \"v\"", 9));
        c.setDomain(u".115.com"_qs);
        c.setPath(u"/web"_qs);
        c.setExpirationDate(QDateTime(QDate(2031, 2, 3), QTime(4, 5, 6, 789), Qt::UTC));
        c.setSecure(true);
        c.setHttpOnly(true);
        c.setSameSitePolicy(QNetworkCookie::SameSite::Strict);
        const QNetworkCookie session = cookie("UID", u"115.com"_qs);
        const Cookies back = KeptSignIn::deserialise(KeptSignIn::serialise({c, session}));
        QCOMPARE(back.size(), 2);
        QCOMPARE(fields(back[0]), fields(c));
        QCOMPARE(fields(back[1]), fields(session));
        QVERIFY(back[1].isSessionCookie());
        // An entry that cannot be read gives nothing.
        QVERIFY(KeptSignIn::deserialise("UID=1; CID=2").isEmpty());
        QVERIFY(KeptSignIn::deserialise(KeptSignIn::serialise({c}).replace("\"format\":1", "\"format\":2"))
                    .isEmpty());
    }

    void forgettingEmptiesStoreAndJar_data() {
        QTest::addColumn<QString>("noStore");
        QTest::newRow("store") << QString();
        QTest::newRow("no store") << u"no session bus"_qs;
    }
    void forgettingEmptiesStoreAndJar() {
        QFETCH(QString, noStore);
        RecordingDesktop desktop;
        CookieJar jar;
        put(jar, {cookie("UID", u"115.com"_qs), cookie("LST", u"listing.example"_qs)});
        KeptSignIn keep(desktop, jar, kCloudDisk);
        QCOMPARE(awaited(keep.save())->cookies, 1);
        // Only the cloud disk's cookies go into the store.
        QCOMPARE(names(KeptSignIn::deserialise(desktop.secrets.value(keep.entryKey()))),
                 QStringList{u"UID"_qs});
        desktop.noSecretStore = noStore;
        QSignalSpy fromBrowser(&jar, &CookieJar::cookiesRemoved);
        const auto result = awaited(keep.forget());
        QCOMPARE(result->cookies, 1);
        QCOMPARE(result->status, noStore.isEmpty() ? Status::Done : Status::NoStore);
        // Signed out here whatever the store says; the listing site's cookie stays.
        QCOMPARE(names(jar.cookies()), QStringList{u"LST"_qs});
        QCOMPARE(fromBrowser.size(), 1);
        QCOMPARE(desktop.secrets.contains(keep.entryKey()), !noStore.isEmpty());
    }

    // --- gnome-keyring's Secret Service ------------------------------------------------------

    void realStoreCarriesASignInAcrossRuns() {
        if (qEnvironmentVariable("GIFTVANE_TEST_KEYRING") != u"1")
            QSKIP("needs the private keyring that ctest starts (tests/keyring-session)");
        SystemDesktop desktop;
        QNetworkCookie secure = cookie("CID", u".115.com"_qs, kLater);
        secure.setSecure(true);
        secure.setHttpOnly(true);
        const Cookies signIn{cookie("UID", u"115.com"_qs), secure};
        {
            CookieJar jar;
            put(jar, signIn + Cookies{cookie("LST", u"listing.example"_qs)});
            KeptSignIn keep(desktop, jar, kCloudDisk);
            QCOMPARE(awaited(keep.save())->cookies, 2);
        }
        // The next run, with an empty jar.
        CookieJar jar;
        KeptSignIn keep(desktop, jar, kCloudDisk);
        QCOMPARE(awaited(keep.restore())->cookies, 2);
        Cookies back = jar.cookies();
        std::sort(back.begin(), back.end(), [](auto &a, auto &b) { return a.name() > b.name(); });
        QCOMPARE(fields(back.value(0)), fields(signIn[0]));
        QCOMPARE(fields(back.value(1)), fields(signIn[1]));

        QVERIFY(awaited(keep.forget())->ok());
        QVERIFY(jar.cookies().isEmpty());
        QCOMPARE(awaited(desktop.readSecret(keep.entryKey()))->status, Status::NotFound);
    }

    void missingStoreKeepsNothing_data() {
        QTest::addColumn<bool>("bus");
        QTest::addColumn<QString>("answer");
        QTest::newRow("no session bus") << false << u"no-store\t"_qs;
        // A Secret Service without an unlocked collection: no keyring was ever made.
        QTest::newRow("no unlocked collection") << true << u"no-store\tObject does not exist at path"_qs;
    }
    void missingStoreKeepsNothing() {
        if (qEnvironmentVariable("GIFTVANE_TEST_KEYRING") != u"1")
            QSKIP("needs the private keyring that ctest starts (tests/keyring-session)");
        QFETCH(bool, bus);
        QFETCH(QString, answer);
        // A home and runtime folder of its own, where no other keyring daemon answers, and no
        // display: the store must not put up a window to ask for a password.
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkdir(u"run"_qs));
        QVERIFY(QFile::setPermissions(home.filePath(u"run"_qs),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"DISPLAY"_qs);
        for (const QString &folder : {u"XDG_DATA_HOME"_qs, u"XDG_CONFIG_HOME"_qs, u"HOME"_qs})
            environment.insert(folder, home.path());
        environment.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"run"_qs));
        if (!bus)
            environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path="_qs + home.filePath(u"none"_qs));
        QProcess probe;
        probe.setProcessEnvironment(environment);
        if (bus)
            probe.start(u"dbus-run-session"_qs, {u"--"_qs, QStringLiteral(SECRET_PROBE)});
        else
            probe.start(QStringLiteral(SECRET_PROBE));
        QVERIFY(probe.waitForFinished(scaled(30000)));
        const QString said = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
        QVERIFY2(said.startsWith(answer) && said.size() > answer.size(), qPrintable(said)); // with why
    }
};

QTEST_GUILESS_MAIN(TestKeptSignIn)
#include "test_keptsignin.moc"
