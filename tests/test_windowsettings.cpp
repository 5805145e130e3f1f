#include "desktop/usersettings.h"
#include "fixture.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

using sandbox::Site;

namespace {

// The user's settings file, as a test writes it before the window reads it.
struct Remembered {
    explicit Remembered(const QByteArray &content = {}) {
        QFile out(path());
        if (out.open(QIODevice::WriteOnly))
            out.write(content);
        out.close();
        file = std::make_unique<QSettings>(path(), QSettings::IniFormat);
        settings = std::make_unique<UserSettings>(*file);
    }
    QString path() const { return dir.filePath(u"Giftvane.ini"_qs); }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> file;
    std::unique_ptr<UserSettings> settings;
};

struct TabCommands {
    const char *next;
    Site site;
    QString page; // the path of page N, with %1 for N
};
const TabCommands kTabs[3] = {{"Command2", Site::Listing, u"/libao/index_%1.html"_qs},
                              {"Command9", Site::Share, u"/new/%1.html"_qs},
                              {"Command20", Site::Listing, u"/tiquma/index_%1.html"_qs}};

} // namespace

// What the user chose, through the window: where it opens, the tab, each tab's page. On a
// 1280x1024 screen at scale 2, as large as the suite's display.
class TestWindowSettings final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void theWindowOpensWhollyOnTheScreen_data() {
        QTest::addColumn<QRect>("saved"); // the frame, as the window saved it
        QTest::addColumn<QPoint>("at");   // where the frame opens; none: centred; -1,-1: in the corner
        QTest::newRow("nothing saved") << QRect() << QPoint();
        QTest::newRow("where it was") << QRect(100, 80, 982, 616) << QPoint(100, 80);
        QTest::newRow("past the bottom right") << QRect(900, 700, 982, 616) << QPoint(-1, -1);
        QTest::newRow("saved smaller than it is") << QRect(500, 1024 - 600, 900, 600) << QPoint(-1, -1);
        QTest::newRow("title bar above the top") << QRect(50, -40, 982, 616) << QPoint(50, 0);
        QTest::newRow("off every screen") << QRect(3000, 2500, 982, 616) << QPoint();
    }
    void theWindowOpensWhollyOnTheScreen() {
        QFETCH(QRect, saved);
        QFETCH(QPoint, at);
        Remembered remembered;
        if (!saved.isNull())
            remembered.file->setValue(u"window/frame"_qs, saved);
        Fixture f;
        f.settings = remembered.settings.get();
        QVERIFY(f.open());
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        const QRect screen = f.window->screen()->availableGeometry();
        QCOMPARE(f.window->screen()->devicePixelRatio(), 2.0);
        const QRect frame = f.window->frameGeometry();
        QVERIFY2(screen.contains(frame), qPrintable(u"frame at "_qs + QString::number(frame.x()) + u"," +
                                                    QString::number(frame.y())));
        if (at.isNull())
            QVERIFY((frame.center() - screen.center()).manhattanLength() <= 4);
        else if (at == QPoint(-1, -1))
            QCOMPARE(frame.bottomRight(), screen.bottomRight());
        else
            QCOMPARE(frame.topLeft(), at);

        // Kept where the user leaves it, whichever way the program ends.
        f.window->move(200, 150);
        QTRY_COMPARE(f.window->frameGeometry().topLeft(), QPoint(200, 150));
        f.window->close();
        QCOMPARE(remembered.settings->windowFrame()->topLeft(), QPoint(200, 150));
    }

    void tabsAndPagesGoOnFromWhereTheyWere_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QList<int>>("pages"); // LibaoPage, SharePage, TiqumaPage after start-up
        QTest::newRow("nothing remembered") << QByteArray() << 0 << QList<int>{1, 0, 0};
        QTest::newRow("the share tab, pages over the start-up's")
            << QByteArray("[window]\ntab=1\n[pages]\nlibao=7\nshare=12\n") << 1 << QList<int>{7, 12, 0};
        QTest::newRow("page 0 of the first tab")
            << QByteArray("[pages]\nlibao=0\n") << 0 << QList<int>{0, 0, 0};
        QTest::newRow("past the slider on the third tab")
            << QByteArray("[window]\ntab=2\n[pages]\ntiquma=151\n") << 2 << QList<int>{1, 0, 151};
        QTest::newRow("out of range")
            << QByteArray("[window]\ntab=7\n[pages]\nlibao=-3\n") << 0 << QList<int>{1, 0, 0};
    }
    void tabsAndPagesGoOnFromWhereTheyWere() {
        QFETCH(QByteArray, content);
        QFETCH(int, tab);
        QFETCH(QList<int>, pages);
        Remembered remembered(content);
        Fixture f;
        f.settings = remembered.settings.get();
        QVERIFY(f.open(false));
        QCOMPARE(f.window->statusText(2), u"检测更新中.."_qs); // not the tab's caption
        QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
        f.window->start();
        QVERIFY(done.wait(scaled(5000)));
        QCOMPARE(f.window->CurrentTab(), tab);
        QVERIFY(f.tab(tab).isVisible());
        QCOMPARE(f.window->statusText(2), u"欢迎使用Corvane系列软件"_qs);
        QList<int> started;
        for (int i = 0; i < 3; ++i)
            started.append(f.tab(i).pageNumber());
        QCOMPARE(started, pages);

        // "直接获取" goes on from the remembered page, and the page reached is remembered.
        const TabCommands &commands = kTabs[tab];
        f.control<QAbstractButton>(commands.next, tab)->click();
        QVERIFY(f.waitIdle(tab));
        const QString next = commands.page.arg(pages[tab] + 1);
        QVERIFY2(targets(f.sites->requests(commands.site)).contains(next), qPrintable(next));
        QCOMPARE(remembered.settings->page(tab), pages[tab] + 1);

        const int other = (tab + 1) % 3;
        f.showTab(other);
        QCOMPARE(remembered.settings->currentTab(), other);
    }
};

int main(int argc, char *argv[]) {
    if (qEnvironmentVariable("QT_QPA_PLATFORM", u"offscreen"_qs) == u"offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" OFFSCREEN_SCREENS);
    QApplication app(argc, argv);
    TestWindowSettings test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_windowsettings.moc"
