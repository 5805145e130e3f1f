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

namespace {

const QString kCloudDisk = u"https://115.com"_qs;
const QDateTime kLater = QDateTime::currentDateTimeUtc().addDays(30);

QNetworkCookie cookie(const QByteArray &name, const QString &domain, const QDateTime &expires = {}) {
    QNetworkCookie out(name, "v-" + name);
    out.setDomain(domain);
    out.setPath(u"/"_qs);
    if (expires.isValid())
        out.setExpirationDate(expires);
    return out;
}

QStringList names(const QList<QNetworkCookie> &cookies) {
    QStringList out;
    for (const QNetworkCookie &cookie : cookies)
        out.append(QString::fromLatin1(cookie.name()));
    out.sort();
    return out;
}

// Every field that is kept, in one line, to compare a cookie with its kept copy.
QString fields(const QNetworkCookie &c) {
    return QStringList{QString::fromLatin1(c.name()),
                       QString::fromLatin1(c.value().toHex()),
                       c.domain(),
                       c.path(),
                       c.expirationDate().toUTC().toString(Qt::ISODateWithMs),
                       QString::number(c.isSecure()),
                       QString::number(c.isHttpOnly()),
                       QString::number(int(c.sameSitePolicy()))}
        .join(u'|');
}

// Puts each cookie into the jar as its own host would have set it.
void put(CookieJar &jar, const QList<QNetworkCookie> &cookies) {
    for (const QNetworkCookie &c : cookies) {
        const QString host = c.domain().startsWith(u'.') ? c.domain().mid(1) : c.domain();
        QVERIFY(jar.restoreCookies({c}, QUrl(u"https://"_qs + host)).size() == 1);
    }
}

bool privateKeyring() {
    return qEnvironmentVariable("GIFTVANE_TEST_KEYRING") == u"1";
}

// Runs the probe, which keeps one cookie through the real desktop, in the given environment.
QString probe(const QStringList &program, const QProcessEnvironment &environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program.first(), program.mid(1));
    if (!process.waitForFinished(scaled(30000)))
        return u"probe did not finish"_qs;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

// The kept sign-in: what goes into the secret store and what comes back into the jar, with a
// store played in memory, and with gnome-keyring's real one (run by ctest through
// tests/keyring-session, in a private D-Bus session).
class TestKeptSignIn final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void restoreTakesWhatStillGoesToTheCloudDisk_data() {
        QTest::addColumn<QList<QNetworkCookie>>("kept");
        QTest::addColumn<QStringList>("restored");
        const QList<QNetworkCookie> both{cookie("UID", u"115.com"_qs), cookie("CID", u".115.com"_qs, kLater)};
        QTest::newRow("host-only and domain cookies") << both << QStringList{u"CID"_qs, u"UID"_qs};
        QTest::newRow("expired") << QList<QNetworkCookie>{cookie("OLD", u".115.com"_qs,
                                                                 QDateTime::currentDateTimeUtc().addSecs(-1))}
                                 << QStringList{};
        QTest::newRow("another host")
            << QList<QNetworkCookie>{cookie("X", u"listing.example"_qs)} << QStringList{};
        QTest::newRow("a subdomain's own")
            << QList<QNetworkCookie>{cookie("W", u"www.115.com"_qs)} << QStringList{};
        QTest::newRow("a subdomain's domain")
            << QList<QNetworkCookie>{cookie("D", u".www.115.com"_qs)} << QStringList{};
        QTest::newRow("a public suffix") << QList<QNetworkCookie>{cookie("T", u".com"_qs)} << QStringList{};
        QTest::newRow("a longer name with the same end")
            << QList<QNetworkCookie>{cookie("S", u".5.com"_qs)} << QStringList{};
    }
    void restoreTakesWhatStillGoesToTheCloudDisk() {
        QFETCH(QList<QNetworkCookie>, kept);
        QFETCH(QStringList, restored);
        RecordingDesktop desktop;
        CookieJar jar;
        KeptSignIn keep(desktop, jar, kCloudDisk);
        desktop.secrets.insert(keep.entryKey(), KeptSignIn::serialise(kept));
        QSignalSpy put(&jar, &CookieJar::cookiesRestored);
        const auto result = awaited(keep.restore());
        QVERIFY(result && result->ok());
        QCOMPARE(result->cookies, restored.size());
        QCOMPARE(names(jar.cookies()), restored);
        QCOMPARE(put.size(), restored.isEmpty() ? 0 : 1); // the browser hears of them at once
        QCOMPARE(keep.store(), KeptSignIn::Store::Present);
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
        const QList<QNetworkCookie> back = KeptSignIn::deserialise(KeptSignIn::serialise({c, session}));
        QCOMPARE(back.size(), 2);
        QCOMPARE(fields(back[0]), fields(c));
        QCOMPARE(fields(back[1]), fields(session));
        QVERIFY(back[1].isSessionCookie());
    }

    void unreadableEntriesGiveNothing_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("not JSON") << QByteArray("UID=1; CID=2");
        QTest::newRow("another format")
            << QByteArray(R"({"format":2,"cookies":[{"name":"VUlE","value":"MQ==",)"
                          R"("domain":"115.com","path":"/"}]})");
        QTest::newRow("name not base64")
            << QByteArray(R"({"format":1,"cookies":[{"name":"U!D","value":"MQ==",)"
                          R"("domain":"115.com","path":"/"}]})");
        QTest::newRow("no domain") << QByteArray(
            R"({"format":1,"cookies":[{"name":"VUlE","value":"MQ==","path":"/"}]})");
        QTest::newRow("bad expiry") << QByteArray(R"({"format":1,"cookies":[{"name":"VUlE","value":"MQ==",)"
                                                  R"("domain":"115.com","path":"/","expires":"soon"}]})");
    }
    void unreadableEntriesGiveNothing() {
        QFETCH(QByteArray, entry);
        QVERIFY(KeptSignIn::deserialise(entry).isEmpty());
    }

    void theStoreDecidesWhatIsKept_data() {
        QTest::addColumn<QString>("noStore");
        QTest::addColumn<QString>("locked");
        QTest::addColumn<KeptSignIn::Store>("probed");
        QTest::addColumn<KeptSignIn::Store>("afterSave");
        QTest::newRow("store") << QString() << QString() << KeptSignIn::Store::Present
                               << KeptSignIn::Store::Present;
        QTest::newRow("no store") << u"no session bus"_qs << QString() << KeptSignIn::Store::Missing
                                  << KeptSignIn::Store::Missing;
        QTest::newRow("locked") << QString() << u"no collection"_qs << KeptSignIn::Store::Present
                                << KeptSignIn::Store::Missing;
    }
    void theStoreDecidesWhatIsKept() {
        QFETCH(QString, noStore);
        QFETCH(QString, locked);
        QFETCH(KeptSignIn::Store, probed);
        QFETCH(KeptSignIn::Store, afterSave);
        RecordingDesktop desktop;
        desktop.noSecretStore = noStore;
        desktop.lockedSecretStore = locked;
        CookieJar jar;
        put(jar, {cookie("UID", u"115.com"_qs), cookie("LST", u"listing.example"_qs)});
        KeptSignIn keep(desktop, jar, kCloudDisk);
        QSignalSpy notices(&keep, &KeptSignIn::notice);
        QCOMPARE(awaited(keep.probe()), probed);
        QCOMPARE(keep.whyNoStore().contains(noStore), true);

        const auto saved = awaited(keep.save());
        QVERIFY(saved);
        QCOMPARE(keep.store(), afterSave);
        const bool kept = afterSave == KeptSignIn::Store::Present;
        QCOMPARE(saved->ok(), kept);
        QCOMPARE(saved->cookies, kept ? 1 : 0);
        QCOMPARE(notices.size(), kept ? 0 : 1); // said once, with the store's reason
        if (!kept)
            QVERIFY(notices.first().first().toString().contains(noStore + locked));
        // Only the cloud disk's cookies go into the store, and nothing without one.
        QCOMPARE(names(KeptSignIn::deserialise(desktop.secrets.value(keep.entryKey()))),
                 kept ? QStringList{u"UID"_qs} : QStringList{});
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
        QVERIFY(awaited(keep.save()));
        desktop.noSecretStore = noStore;
        QSignalSpy removed(&jar, &CookieJar::cookiesRemoved);
        const auto result = awaited(keep.forget());
        QVERIFY(result);
        QCOMPARE(result->cookies, 1);
        // Signed out here whatever the store says; the listing site's cookie stays.
        QCOMPARE(names(jar.cookies()), QStringList{u"LST"_qs});
        QCOMPARE(removed.size(), 1);
        QCOMPARE(desktop.secrets.contains(keep.entryKey()), !noStore.isEmpty());
        QCOMPARE(result->status, noStore.isEmpty() ? Status::Done : Status::NoStore);
    }

    void discardingAsksOnlyWhenSomethingIsKept() {
        RecordingDesktop desktop;
        CookieJar jar;
        KeptSignIn keep(desktop, jar, kCloudDisk);
        // Found nothing: a store that would refuse is not asked again.
        QCOMPARE(awaited(keep.probe()), KeptSignIn::Store::Present);
        desktop.lockedSecretStore = u"locked"_qs;
        QCOMPARE(awaited(keep.discard())->status, Status::Done);
        QCOMPARE(keep.store(), KeptSignIn::Store::Present);
        desktop.lockedSecretStore.clear();
        QVERIFY(awaited(keep.save())->ok());
        QVERIFY(desktop.secrets.contains(keep.entryKey()));
        QCOMPARE(awaited(keep.discard())->status, Status::Done);
        QVERIFY(!desktop.secrets.contains(keep.entryKey()));
    }

    // --- gnome-keyring's Secret Service ------------------------------------------------------

    void realStoreKeepsSecrets_data() {
        QTest::addColumn<QByteArray>("secret");
        QTest::newRow("text") << QByteArray("{\"format\":1}");
        QTest::newRow("any bytes") << QByteArray("\x00\xff\xfe\x80 end", 8);
    }
    void realStoreKeepsSecrets() {
        if (!privateKeyring())
            QSKIP("needs the private keyring that ctest starts (tests/keyring-session)");
        QFETCH(QByteArray, secret);
        SystemDesktop desktop;
        const QString key = u"test-entry"_qs;
        QCOMPARE(awaited(desktop.readSecret(key))->status, Status::NotFound);
        QCOMPARE(awaited(desktop.writeSecret(key, secret))->status, Status::Done);
        const auto read = awaited(desktop.readSecret(key));
        QCOMPARE(read->status, Status::Done);
        QCOMPARE(read->secret, secret);
        QCOMPARE(awaited(desktop.deleteSecret(key))->status, Status::Done);
        QCOMPARE(awaited(desktop.readSecret(key))->status, Status::NotFound);
        QCOMPARE(awaited(desktop.deleteSecret(key))->status, Status::Done); // nothing there: done
    }

    void realStoreCarriesASignInAcrossRuns() {
        if (!privateKeyring())
            QSKIP("needs the private keyring that ctest starts (tests/keyring-session)");
        SystemDesktop desktop;
        QNetworkCookie secure = cookie("CID", u".115.com"_qs, kLater);
        secure.setSecure(true);
        secure.setHttpOnly(true);
        const QList<QNetworkCookie> signIn{cookie("UID", u"115.com"_qs), secure};
        {
            CookieJar jar;
            put(jar, signIn + QList<QNetworkCookie>{cookie("LST", u"listing.example"_qs)});
            KeptSignIn keep(desktop, jar, kCloudDisk);
            const auto saved = awaited(keep.save());
            QVERIFY(saved && saved->ok());
            QCOMPARE(saved->cookies, 2);
        }
        // The next run: an empty jar.
        CookieJar jar;
        KeptSignIn keep(desktop, jar, kCloudDisk);
        const auto restored = awaited(keep.restore());
        QVERIFY(restored && restored->ok());
        QCOMPARE(restored->cookies, 2);
        QList<QNetworkCookie> back = jar.cookies();
        std::sort(back.begin(), back.end(), [](auto &a, auto &b) { return a.name() > b.name(); });
        QCOMPARE(fields(back.value(0)), fields(signIn[0]));
        QCOMPARE(fields(back.value(1)), fields(signIn[1]));

        QVERIFY(awaited(keep.forget())->ok());
        QVERIFY(jar.cookies().isEmpty());
        QCOMPARE(awaited(desktop.readSecret(keep.entryKey()))->status, Status::NotFound);
    }

    void missingStoreKeepsNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("answer");
        // No session bus to find a store on.
        QTest::newRow("no session bus") << u"no bus"_qs << u"no-store\t"_qs;
        // A Secret Service without an unlocked collection (no keyring was ever made).
        QTest::newRow("no unlocked collection")
            << u"fresh session"_qs << u"no-store\tObject does not exist at path"_qs;
    }
    void missingStoreKeepsNothing() {
        if (!privateKeyring())
            QSKIP("needs the private keyring that ctest starts (tests/keyring-session)");
        QFETCH(QString, how);
        QFETCH(QString, answer);
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // No display: the store must not put up a window to ask for a password.
        environment.remove(u"DISPLAY"_qs);
        environment.remove(u"WAYLAND_DISPLAY"_qs);
        // A home of its own, and a runtime folder where no other keyring daemon answers.
        for (const QString &folder : {u"XDG_DATA_HOME"_qs, u"XDG_CONFIG_HOME"_qs, u"HOME"_qs})
            environment.insert(folder, home.path());
        QVERIFY(QDir(home.path()).mkdir(u"run"_qs));
        QVERIFY(QFile::setPermissions(home.filePath(u"run"_qs),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        environment.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"run"_qs));
        QStringList program{QStringLiteral(SECRET_PROBE)};
        if (how == u"no bus")
            environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path="_qs + home.filePath(u"none"_qs));
        else
            program.prepend(u"dbus-run-session"_qs), program.insert(1, u"--"_qs);
        const QString said = probe(program, environment);
        QVERIFY2(said.startsWith(answer), qPrintable(said));
        QVERIFY2(said.size() > answer.size(), "the store's reason comes with it");
    }
};

QTEST_GUILESS_MAIN(TestKeptSignIn)
#include "test_keptsignin.moc"
