#include "desktop/usersettings.h"
#include "fixture.h"
#include "receive/keptsignin.h"
#include "receive/replies.h"
#include "web/cookiejar.h"

#include <QAction>
#include <QApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

using sandbox::Site;

namespace {

// A window over the settings file as an earlier run left it.
struct Chosen {
    QTemporaryDir dir;
    QSettings file{dir.filePath(u"Giftvane.ini"_qs), QSettings::IniFormat};
    UserSettings settings{file};
    SessionSettings session{file};
    Fixture f;

    bool open(const QVariantMap &saved) {
        for (auto it = saved.begin(); it != saved.end(); ++it)
            file.setValue(it.key(), it.value());
        f.settings = &settings;
        f.sessionSettings = &session;
        return f.open(false);
    }
    bool start() {
        QSignalSpy done(f.window.get(), &MainWindow::startupFinished);
        f.window->start();
        return done.wait(scaled(5000));
    }
};

} // namespace

// What the user chose, through the window: its place on a 1280x1024 screen at scale 2, its tab,
// each tab's page, and the sign-in kept between runs.
class TestUserChoices final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void theWindowComesBackAsItWasLeft_data() {
        QTest::addColumn<QVariantMap>("saved");
        QTest::addColumn<QPoint>("at"); // the frame's place; none: centred; x < 0: in the corner
        QTest::addColumn<int>("tab");
        QTest::addColumn<QList<int>>("pages"); // LibaoPage, SharePage, TiqumaPage after start-up
        const QString frame = u"window/frame"_qs, tab = u"window/tab"_qs, libao = u"pages/libao"_qs;
        QTest::newRow("nothing saved") << QVariantMap() << QPoint() << 0 << QList<int>{1, 0, 0};
        QTest::newRow("as it was left, pages over the start-up's")
            << QVariantMap{{frame, QRect(100, 80, 982, 616)}, {tab, 1}, {libao, 7}, {u"pages/share"_qs, 12}}
            << QPoint(100, 80) << 1 << QList<int>{7, 12, 0};
        QTest::newRow("past the corner, saved smaller")
            << QVariantMap{{frame, QRect(900, 700, 900, 500)}} << QPoint(-1, -1) << 0 << QList<int>{1, 0, 0};
        QTest::newRow("off every screen, out of range")
            << QVariantMap{{frame, QRect(3000, 2500, 982, 616)}, {tab, 7}, {libao, -3}} << QPoint() << 0
            << QList<int>{1, 0, 0};
    }
    void theWindowComesBackAsItWasLeft() {
        QFETCH(QVariantMap, saved);
        QFETCH(QPoint, at);
        QFETCH(int, tab);
        QFETCH(QList<int>, pages);
        Chosen c;
        QVERIFY(c.open(saved));
        QCOMPARE(c.f.window->statusText(2), u"检测更新中.."_qs); // not the tab's caption
        QVERIFY(c.start());
        QVERIFY(QTest::qWaitForWindowExposed(c.f.window.get()));
        const QRect screen = c.f.window->screen()->availableGeometry();
        const QRect frame = c.f.window->frameGeometry();
        QVERIFY(screen.contains(frame));
        if (at.isNull())
            QVERIFY((frame.center() - screen.center()).manhattanLength() <= 4);
        else
            QCOMPARE(at.x() < 0 ? frame.bottomRight() : frame.topLeft(),
                     at.x() < 0 ? screen.bottomRight() : at);
        QCOMPARE(c.f.window->CurrentTab(), tab);
        QCOMPARE(c.f.window->statusText(2), u"欢迎使用Corvane系列软件"_qs);
        QCOMPARE((QList<int>{c.f.tab(0).pageNumber(), c.f.tab(1).pageNumber(), c.f.tab(2).pageNumber()}),
                 pages);

        // "直接获取" goes on from the remembered page; what changes is saved.
        c.f.click(tab == 0 ? "Command2" : "Command9");
        QVERIFY(c.f.waitIdle(tab));
        const QString next = (tab == 0 ? u"/libao/index_%1.html"_qs : u"/new/%1.html"_qs).arg(pages[tab] + 1);
        QVERIFY(targets(c.f.sites->requests(tab == 0 ? Site::Listing : Site::Share)).contains(next));
        QCOMPARE(c.session.page(TabId(tab)), pages[tab] + 1);
        c.f.showTab(2);
        QCOMPARE(c.settings.currentTab(), 2);
        c.f.window->move(200, 150);
        QTRY_COMPARE(c.f.window->frameGeometry().topLeft(), QPoint(200, 150));
        c.f.window->close(); // as the program ends
        QCOMPARE(c.settings.windowFrame()->topLeft(), QPoint(200, 150));
    }

    void theKeptSignIn_data() {
        QTest::addColumn<bool>("ticked");     // "保持登录" at the earlier run
        QTest::addColumn<QByteArray>("kept"); // the kept cookie; the stand-in's session is UID
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("jar");     // cookies in the jar after
        QTest::addColumn<bool>("stored"); // still kept after
        const QString welcome = u"欢迎使用Corvane系列软件"_qs, expired = u"登录已过期,请重新登录"_qs;
        QTest::newRow("put back") << true << QByteArray("UID") << QString() << u"已保持登录115网盘"_qs << 1
                                  << true;
        QTest::newRow("not ticked: not asked")
            << false << QByteArray("UID") << QString() << welcome << 0 << true;
        QTest::newRow("退出登录") << true << QByteArray("UID") << u"tcdl"_qs << u"已退出登录"_qs << 0
                                  << false;
        QTest::newRow("kept, one refused") << true << QByteArray("OLD") << u"one"_qs << expired << 0 << false;
        QTest::newRow("kept, a batch refused")
            << true << QByteArray("OLD") << u"batch"_qs << expired << 0 << false;
        QTest::newRow("none kept, refused") << true << QByteArray() << u"one"_qs << welcome << 0 << false;
    }
    void theKeptSignIn() {
        QFETCH(bool, ticked);
        QFETCH(QByteArray, kept);
        QFETCH(QString, action);
        QFETCH(QString, status);
        QFETCH(int, jar);
        QFETCH(bool, stored);
        Chosen c;
        QVERIFY(c.open({{u"signIn/keep"_qs, ticked}}));
        Fixture &f = c.f;
        const QString key = f.window->keptSignIn().entryKey();
        if (!kept.isEmpty()) {
            QNetworkCookie cookie(kept, "kept-session");
            cookie.setDomain(QUrl(f.addresses().cloudDisk).host());
            f.desktop.secrets.insert(key, KeptSignIn::serialise({cookie}));
        }
        QVERIFY(c.start());
        f.fill(0, {u"gvok1"_qs, u"gvok2"_qs});
        f.list(0).setChecked(0, true);
        f.list(0).setChecked(1, true);
        f.select(0, 0);
        if (action == u"tcdl")
            f.window->findChild<QAction *>(action)->trigger();
        else if (!action.isEmpty())
            action == u"one" ? f.window->receiveSelected() : f.window->receiveChecked();
        QVERIFY(runUntil([&] { return !f.window->isReceiving(); }));
        QTRY_COMPARE(f.window->statusText(2), status);
        QCOMPARE(f.web->cookieJar()->cookies().size(), jar);
        QCOMPARE(f.desktop.secrets.contains(key), stored);
        // The receive's own message stays; the log keeps why the sign-in went.
        QCOMPARE(f.desktop.texts(),
                 action == u"one" ? QStringList{receivetexts::kNotSignedIn.toString()} : QStringList());
        const QString lastLog = f.window->log()->line(f.window->log()->count() - 1);
        QCOMPARE(lastLog.endsWith(u"登录已过期,请重新登录"), status.startsWith(u"登录已过期"));
    }
};

int main(int argc, char *argv[]) {
    if (qEnvironmentVariable("QT_QPA_PLATFORM", u"offscreen"_qs) == u"offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" OFFSCREEN_SCREENS);
    QApplication app(argc, argv);
    TestUserChoices test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_userchoices.moc"
