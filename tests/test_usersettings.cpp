#include "desktop/usersettings.h"
#include "session/sessionsettings.h"
#include "warnings.h"
#include "web/sites.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<QRect>)
Q_DECLARE_METATYPE(std::optional<QPoint>)

using Rects = QList<QRect>;

namespace {

const QRect kWindow(100, 100, 978, 590); // the main window's frame, logical pixels
const QRect kFullHd(0, 0, 1920, 1050);   // a 1920x1080 screen less a 30-pixel panel

} // namespace

// What the user chose, kept in the settings file, and where a saved window may go again.
class TestUserSettings final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void savedPlaceOnTheScreens_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<Rects>("screens");
        QTest::addColumn<std::optional<QRect>>("placed");
        QTest::newRow("where it was") << kWindow << Rects{kFullHd} << std::optional(kWindow);
        QTest::newRow("off every screen")
            << QRect(1920, 0, 978, 590) << Rects{kFullHd} << std::optional<QRect>();
        QTest::newRow("past the right edge")
            << kWindow.translated(1500, 0) << Rects{kFullHd} << std::optional(QRect(942, 100, 978, 590));
        QTest::newRow("title bar above a top panel")
            << QRect(10, -50, 978, 590) << Rects{QRect(0, 32, 1920, 1048)}
            << std::optional(QRect(10, 32, 978, 590));
        QTest::newRow("mostly on the second screen")
            << QRect(1800, 100, 978, 590) << Rects{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)}
            << std::optional(QRect(1920, 100, 978, 590));
        QTest::newRow("on a screen left of the first")
            << QRect(-1000, 50, 978, 590) << Rects{QRect(-1280, 0, 1280, 1024), kFullHd}
            << std::optional(QRect(-1000, 50, 978, 590));
        // 2560x2048 device pixels at scale 2 are 1280x1024 logical: the window fits as it is.
        QTest::newRow("scale 2, 1280x1024 logical")
            << QRect(250, 400, 978, 590) << Rects{QRect(0, 0, 1280, 1024)}
            << std::optional(QRect(250, 400, 978, 590));
        // 1280x1024 device pixels at scale 2 are 640x512 logical: the top left stays reachable.
        QTest::newRow("scale 2, 640x512 logical")
            << kWindow << Rects{QRect(0, 0, 640, 512)} << std::optional(QRect(0, 0, 640, 512));
        QTest::newRow("nothing saved") << QRect() << Rects{kFullHd} << std::optional<QRect>();
    }
    void savedPlaceOnTheScreens() {
        QFETCH(QRect, frame);
        QFETCH(Rects, screens);
        QFETCH(std::optional<QRect>, placed);
        QCOMPARE(placeOnScreens(frame, screens), placed);
    }

    // Saved under a window manager's title bar, the frame comes back where it was.
    void theFrameComesBackWhereItWasSaved_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("client"); // empty: saved before the client area was kept
        QTest::addColumn<Rects>("screens");
        QTest::addColumn<std::optional<QPoint>>("at"); // where the client area goes
        const QRect frame(100, 80, 980, 633), client(101, 100, 978, 612);
        QTest::newRow("where it was") << frame << client << Rects{kFullHd} << std::optional(QPoint(101, 100));
        QTest::newRow("title bar above a top panel")
            << frame.translated(0, -90) << client.translated(0, -90) << Rects{QRect(0, 32, 1920, 1048)}
            << std::optional(QPoint(101, 52));
        QTest::newRow("frame only") << frame << QRect() << Rects{kFullHd} << std::optional(QPoint(101, 100));
        QTest::newRow("off every screen") << frame.translated(3000, 0) << client.translated(3000, 0)
                                          << Rects{kFullHd} << std::optional<QPoint>();
    }
    void theFrameComesBackWhereItWasSaved() {
        QFETCH(QRect, frame);
        QFETCH(QRect, client);
        QFETCH(Rects, screens);
        QTemporaryDir dir;
        QSettings file(dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat);
        UserSettings settings(file);
        settings.saveWindowPlace(frame, client);
        QTEST(settings.clientPlace(screens, QMargins(1, 20, 1, 1), frame.size()), "at");
    }

    void choicesReadBack_data() {
        QTest::addColumn<QByteArray>("content");
        // tab, the share tab's page (-1: none), keep, frame, the watch's minutes, whether it ran
        QTest::addColumn<QVariantList>("read");
        QTest::newRow("written by the program")
            << QByteArray("[pages]\nshare=151\n\n[signIn]\nkeep=true\n\n[watch]\nrunning=true\n\n["
                          "window]\nframe=@Rect(10 20 978 590)\ntab=2\n")
            << QVariantList{2, 151, true, QRect(10, 20, 978, 590), 30, true};
        QTest::newRow("out of range")
            << QByteArray("[window]\ntab=3\n[pages]\nshare=32768\n[watch]\nminutes=4\n")
            << QVariantList{0, -1, false, QRect(), 30, false};
        QTest::newRow("not numbers, not yes or no")
            << QByteArray("[window]\ntab=two\nframe=wide\n[pages]\nshare=x\n[signIn]\nkeep=notabool\n"
                          "[watch]\nminutes=x\nrunning=maybe\n")
            << QVariantList{0, -1, false, QRect(), 30, false};
        QTest::newRow("no file") << QByteArray() << QVariantList{0, -1, false, QRect(), 30, false};
    }
    void choicesReadBack() {
        QFETCH(QByteArray, content);
        QFETCH(QVariantList, read);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Giftvane.ini"_qs);
        if (!content.isEmpty()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
        }
        QSettings file(path, QSettings::IniFormat);
        UserSettings settings(file);
        SessionSettings session(file);
        QCOMPARE(settings.currentTab(), read[0].toInt());
        QCOMPARE(session.page(TabId::Share).value_or(-1), read[1].toInt());
        QCOMPARE(session.keepSignIn(), read[2].toBool());
        QCOMPARE(settings.windowFrame().value_or(QRect()), read[3].toRect());
        QCOMPARE(session.watch().minutes, read[4].toInt());
        QCOMPARE(session.watchRunning(), read[5].toBool());
        if (content.contains("keep=true")) { // what the program writes, it reads back the same way
            file.clear();
            settings.setCurrentTab(2);
            session.setPage(TabId::Share, 151); // past the slider, as "下一页" goes
            session.setKeepSignIn(true);
            session.setWatchRunning(true);
            file.setValue(u"window/frame"_qs, QRect(10, 20, 978, 590));
            file.sync();
            QFile back(path);
            QVERIFY(back.open(QIODevice::ReadOnly));
            QCOMPARE(back.readAll(), content);
        }
    }

    void siteAddressesComeFromVariableThenFileThenDefault_data() {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("address");
        const QString setting = u"http://listing.example:8080"_qs;
        QTest::newRow("variable first")
            << QByteArray("http://127.0.0.2:81") << setting << u"http://127.0.0.2:81"_qs;
        QTest::newRow("then the file, tidied") << QByteArray() << u" "_qs + setting + u"//"_qs << setting;
        QTest::newRow("then the default")
            << QByteArray() << QString() << SiteAddresses::compiledDefaults().listing;
    }
    void siteAddressesComeFromVariableThenFileThenDefault() {
        QFETCH(QByteArray, variable);
        QFETCH(QString, setting);
        QFETCH(QString, address);
        QTemporaryDir dir;
        QSettings file(dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat);
        if (!setting.isEmpty())
            file.setValue(u"sites/listing"_qs, setting);
        file.setValue(u"sites/cloudDisk"_qs, u"http://127.0.0.4:9000"_qs);
        const QByteArray before = qgetenv("GIFTVANE_LISTING_SITE");
        qputenv("GIFTVANE_LISTING_SITE", variable);
        const SiteAddresses sites = SiteAddresses::configured(file);
        qputenv("GIFTVANE_LISTING_SITE", before);
        QCOMPARE(sites.listing, address);
        QCOMPARE(sites.cloudDisk, u"http://127.0.0.4:9000"_qs); // each key on its own
        QCOMPARE(sites.share, SiteAddresses::compiledDefaults().share);
        // Both programs open the one file in the user's configuration folder.
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QCOMPARE(openUserSettings()->fileName(), QString(folder + u"/Giftvane/Giftvane.ini"));
    }
};

QTEST_GUILESS_MAIN(TestUserSettings)
#include "test_usersettings.moc"
