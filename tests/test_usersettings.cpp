#include "desktop/usersettings.h"
#include "warnings.h"
#include "web/sites.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <optional>

Q_DECLARE_METATYPE(std::optional<QRect>)

namespace {

const QRect kWindow(100, 100, 978, 590); // the main window's frame, logical pixels
const QRect kFullHd(0, 0, 1920, 1050);   // a 1920x1080 screen less a 30-pixel panel

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What the user chose, kept in the settings file, and where a saved window may go again.
class TestUserSettings final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void savedPlaceOnTheScreens_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<std::optional<QRect>>("placed");
        QTest::newRow("where it was") << kWindow << QList<QRect>{kFullHd} << std::optional(kWindow);
        QTest::newRow("off every screen")
            << kWindow.translated(2000, 0) << QList<QRect>{kFullHd} << std::optional<QRect>();
        QTest::newRow("beside the screen, touching no pixel")
            << QRect(1920, 0, 978, 590) << QList<QRect>{kFullHd} << std::optional<QRect>();
        QTest::newRow("past the right edge") << kWindow.translated(1500, 0) << QList<QRect>{kFullHd}
                                             << std::optional(QRect(942, 100, 978, 590));
        QTest::newRow("title bar above the top")
            << QRect(100, -50, 978, 590) << QList<QRect>{kFullHd} << std::optional(QRect(100, 0, 978, 590));
        QTest::newRow("under a top panel") << QRect(10, 0, 978, 590) << QList<QRect>{QRect(0, 32, 1920, 1048)}
                                           << std::optional(QRect(10, 32, 978, 590));
        QTest::newRow("below the bottom")
            << QRect(10, 900, 978, 590) << QList<QRect>{kFullHd} << std::optional(QRect(10, 460, 978, 590));
        QTest::newRow("mostly on the second screen")
            << QRect(1800, 100, 978, 590) << QList<QRect>{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)}
            << std::optional(QRect(1920, 100, 978, 590));
        QTest::newRow("on a screen left of the first")
            << QRect(-1000, 50, 978, 590)
            << QList<QRect>{QRect(-1280, 0, 1280, 1024), QRect(0, 0, 1920, 1080)}
            << std::optional(QRect(-1000, 50, 978, 590));
        // 2560x2048 device pixels at scale 2: 1280x1024 logical, where the window fits as it is.
        QTest::newRow("scale 2, 1280x1024 logical")
            << QRect(250, 400, 978, 590) << QList<QRect>{QRect(0, 0, 1280, 1024)}
            << std::optional(QRect(250, 400, 978, 590));
        // 1280x1024 device pixels at scale 2: 640x512 logical. The top left stays reachable.
        QTest::newRow("scale 2, 640x512 logical")
            << kWindow << QList<QRect>{QRect(0, 0, 640, 512)} << std::optional(QRect(0, 0, 640, 512));
        QTest::newRow("no screens") << kWindow << QList<QRect>{} << std::optional<QRect>();
        QTest::newRow("nothing saved") << QRect() << QList<QRect>{kFullHd} << std::optional<QRect>();
    }
    void savedPlaceOnTheScreens() {
        QFETCH(QRect, frame);
        QFETCH(QList<QRect>, screens);
        QFETCH(std::optional<QRect>, placed);
        QCOMPARE(placeOnScreens(frame, screens), placed);
    }

    void choicesAreKeptUnderTheirKeys_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("tab") << u"tab"_qs << QVariant(2) << QByteArray("[window]\ntab=2\n");
        QTest::newRow("page") << u"share"_qs << QVariant(150) << QByteArray("[pages]\nshare=150\n");
        QTest::newRow("keep") << u"keep"_qs << QVariant(true) << QByteArray("[signIn]\nkeep=true\n");
    }
    void choicesAreKeptUnderTheirKeys() {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Giftvane.ini"_qs);
        {
            QSettings file(path, QSettings::IniFormat);
            UserSettings settings(file);
            if (key == u"tab")
                settings.setCurrentTab(value.toInt());
            else if (key == u"share")
                settings.setPage(1, value.toInt());
            else
                settings.setKeepSignIn(value.toBool());
        }
        QCOMPARE(contentOf(path), line);
        QSettings file(path, QSettings::IniFormat);
        const UserSettings settings(file);
        QCOMPARE(settings.currentTab(), key == u"tab" ? 2 : 0);
        QCOMPARE(settings.page(1), key == u"share" ? 150 : 1);
        QCOMPARE(settings.keepSignIn(), key == u"keep");
    }

    void unusableValuesReadAsDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("out of range") << QByteArray("[window]\ntab=3\n[pages]\nlibao=151\nshare=-1\n");
        QTest::newRow("not numbers") << QByteArray("[window]\ntab=two\n[pages]\nlibao=x\nshare=\n");
        QTest::newRow("no file") << QByteArray();
    }
    void unusableValuesReadAsDefaults() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Giftvane.ini"_qs);
        if (!content.isEmpty()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        QSettings file(path, QSettings::IniFormat);
        const UserSettings settings(file);
        QCOMPARE(settings.currentTab(), 0);
        QCOMPARE(settings.page(0), 1);
        QCOMPARE(settings.page(1), 1);
        QVERIFY(!settings.windowFrame());
        QVERIFY(!settings.keepSignIn());
    }

    void windowReturnsWhereItWas() {
        QTemporaryDir dir;
        QSettings file(dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat);
        UserSettings settings(file);
        QWidget window;
        window.resize(300, 200);
        QVERIFY(!settings.restoreWindow(window)); // nothing saved yet
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        window.move(screen.topLeft() + QPoint(40, 30));
        settings.saveWindow(window);
        QWidget next;
        next.resize(300, 200);
        QVERIFY(settings.restoreWindow(next));
        QCOMPARE(next.pos(), screen.topLeft() + QPoint(40, 30));
        // Saved on a screen that is gone: the window stays where the program puts it.
        file.setValue(u"window/frame"_qs, QRect(screen.right() + 500, 0, 300, 200));
        QWidget elsewhere;
        elsewhere.move(5, 5);
        QVERIFY(!settings.restoreWindow(elsewhere));
        QCOMPARE(elsewhere.pos(), QPoint(5, 5));
    }

    void siteAddressesComeFromVariableThenFileThenDefault_data() {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("address");
        const QString variable = u"http://127.0.0.2:8081"_qs;
        const QString setting = u"http://listing.example:8080"_qs;
        QTest::newRow("variable first") << variable.toUtf8() << setting << variable;
        QTest::newRow("then the file") << QByteArray() << setting << setting;
        QTest::newRow("without its trailing slash") << QByteArray() << setting + u"//"_qs << setting;
        QTest::newRow("spaces around it") << QByteArray() << u"  "_qs + setting + u" "_qs << setting;
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
    }

    void bothProgramsOpenOneFile() {
        const auto file = openUserSettings();
        QCOMPARE(file->format(), QSettings::IniFormat);
        QVERIFY2(file->fileName().endsWith(u"/Giftvane/Giftvane.ini"), qPrintable(file->fileName()));
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QCOMPARE(file->fileName(), QString(folder + u"/Giftvane/Giftvane.ini"));
    }
};

QTEST_MAIN(TestUserSettings)
#include "test_usersettings.moc"
