#include "app/signinwindow.h"
#include "awaited.h"
#include "fixture.h"
#include "receive/keptsignin.h"
#include "web/cookiejar.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

using sandbox::Site;

namespace {

QWebEngineView *browserOf(SignInWindow *window) {
    return window->findChild<QWebEngineView *>(u"WebBrowser1"_qs);
}

// The start-page loads of the sign-in browser, and whether each carried the session cookie.
QList<bool> browserStartLoads(const sandbox::Sandbox &sites) {
    QList<bool> out;
    for (const sandbox::Request &request : sites.requests(Site::CloudDisk)) {
        if (request.path() == "/" && request.header("User-Agent").contains("QtWebEngine"))
            out.append(request.header("Cookie").contains("UID="));
    }
    return out;
}

// The lists, tables and tab rows under the interface without a name (the browser's page aside).
void collectUnnamedLists(QAccessibleInterface *node, QStringList &unnamed) {
    if (!node || qobject_cast<QWebEngineView *>(node->object()))
        return;
    const QList<QAccessible::Role> lists{QAccessible::List, QAccessible::Table, QAccessible::Tree,
                                         QAccessible::PageTabList};
    if (lists.contains(node->role()) && node->text(QAccessible::Name).isEmpty())
        unnamed.append(node->object() ? node->object()->objectName() : QString::number(node->role()));
    for (int i = 0; !lists.contains(node->role()) && i < node->childCount(); ++i)
        collectUnnamedLists(node->child(i), unnamed);
}

} // namespace

// "保持登录" in the sign-in browser, and the sign-in window among the program's windows. Needs
// a display.
class TestSignInKeep final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void keepBoxFollowsTheStore_data() {
        QTest::addColumn<QString>("noStore");
        QTest::addColumn<QString>("locked");
        QTest::addColumn<bool>("kept");
        QTest::newRow("store") << QString() << QString() << true;
        QTest::newRow("no store") << u"Cannot autolaunch D-Bus without X11 $DISPLAY"_qs << QString() << false;
        QTest::newRow("locked collection")
            << QString() << u"Object does not exist at path /org/freedesktop/secrets/collection/login"_qs
            << false;
    }
    void keepBoxFollowsTheStore() {
        QFETCH(QString, noStore);
        QFETCH(QString, locked);
        QFETCH(bool, kept);
        Fixture f;
        f.desktop.noSecretStore = noStore;
        f.desktop.lockedSecretStore = locked;
        QVERIFY(f.open());
        // The window's own: the box as the user meets it.
        KeptSignIn &keep = f.window->keptSignIn();
        QSignalSpy notices(&keep, &KeptSignIn::notice);
        f.window->openSignIn(false);
        SignInWindow *signIn = f.window->signInWindow();
        auto *box = signIn->findChild<QCheckBox *>(u"keepSignIn"_qs);
        QVERIFY(box);
        QVERIFY(!box->isChecked()); // unticked unless the user ticked it before
        QTRY_COMPARE(box->isEnabled(), noStore.isEmpty());
        QCOMPARE(box->toolTip().contains(noStore), true);
        QWebEngineView *browser = browserOf(signIn);
        QSignalSpy loaded(browser, &QWebEngineView::loadFinished);
        QTRY_VERIFY_WITH_TIMEOUT(browser->width() > 0 && box->isVisible(), scaled(5000));
        // A bar below the page: the page keeps the window's full width and is not covered.
        QCOMPARE(browser->geometry().topLeft(), QPoint(0, 0));
        QCOMPARE(browser->width(), signIn->width());
        QVERIFY(browser->geometry().bottom() < box->geometry().top());

        QSignalSpy ticks(signIn, &SignInWindow::keepSignInChanged);
        QSignalSpy signedIn(signIn, &SignInWindow::signedIn);
        box->click();
        QCOMPARE(ticks.size(), noStore.isEmpty() ? 1 : 0);
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 2, scaled(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), scaled(20000)); // its link is there to click
        browser->page()->runJavaScript(QStringLiteral("document.getElementById('scan').click();"));
        QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), scaled(20000));
        QCOMPARE(signedIn.first().first().toBool(), noStore.isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(f.desktop.secrets.contains(keep.entryKey()), kept, scaled(5000));
        if (kept) {
            const QList<QNetworkCookie> saved =
                KeptSignIn::deserialise(f.desktop.secrets.value(keep.entryKey()));
            QCOMPARE(saved.size(), 1);
            QCOMPARE(saved.first().name(), QByteArray("UID"));
            QVERIFY(notices.isEmpty());
        } else if (!locked.isEmpty()) {
            // The store seemed there until the write: said once, and the box now says why.
            QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, scaled(5000));
            QVERIFY(notices.first().first().toString().contains(locked));
            QCOMPARE(f.window->statusText(2), notices.first().first().toString());
            QVERIFY(!box->isEnabled());
            QVERIFY(box->toolTip().contains(locked));
        }
    }

    void restoredCookiesReachTheBrowser() {
        Fixture f;
        QVERIFY(f.open());
        // Kept at an earlier run: the stand-in cloud disk's session cookie.
        QNetworkCookie session("UID", "kept-session");
        session.setDomain(QUrl(f.addresses().cloudDisk).host());
        session.setPath(u"/"_qs);
        session.setHttpOnly(true);
        KeptSignIn keep(f.desktop, *f.web->cookieJar(), f.addresses().cloudDisk);
        f.desktop.secrets.insert(keep.entryKey(), KeptSignIn::serialise({session}));
        QCOMPARE(awaited(keep.restore())->cookies, 1);

        f.window->openSignIn(false);
        SignInWindow *signIn = f.window->signInWindow();
        // Signed in from the first page: the window hides itself at once.
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), scaled(20000));
        QCOMPARE(browserStartLoads(*f.sites), QList<bool>{true});
    }

    void forgettingSignsTheBrowserOut() {
        Fixture f;
        QVERIFY(f.open());
        f.window->openSignIn(false);
        SignInWindow *signIn = f.window->signInWindow();
        QWebEngineView *browser = browserOf(signIn);
        QSignalSpy loaded(browser, &QWebEngineView::loadFinished);
        QTRY_VERIFY_WITH_TIMEOUT(browserStartLoads(*f.sites).size() == 1, scaled(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), scaled(20000)); // its link is there to click
        browser->page()->runJavaScript(QStringLiteral("document.getElementById('scan').click();"));
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), scaled(20000));

        QSignalSpy removed(browser->page()->profile()->cookieStore(), &QWebEngineCookieStore::cookieRemoved);
        f.window->findChild<QAction *>(u"tcdl"_qs)->trigger(); // 退出登录
        QTRY_COMPARE_WITH_TIMEOUT(f.window->statusText(2), u"已退出登录"_qs, scaled(5000));
        QVERIFY(f.web->cookieJar()->cookies().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!removed.isEmpty(), scaled(5000));
        QCOMPARE(removed.first().first().value<QNetworkCookie>().name(), QByteArray("UID"));

        // Opened again: the browser asks for the start page without the session.
        f.window->openSignIn(false);
        QTRY_COMPARE_WITH_TIMEOUT(browserStartLoads(*f.sites).size(), 3, scaled(20000));
        QCOMPARE(browserStartLoads(*f.sites).last(), false);
        QVERIFY(signIn->isVisible());
    }

    void everyTopLevelWindowIsANamedWindow() {
        QTemporaryDir dir;
        Fixture f;
        f.ledger = std::make_unique<Ledger>(dir.filePath(u"ledger.sqlite"_qs));
        QVERIFY(f.ledger->open());
        QVERIFY(f.open());
        f.window->openLedger();
        f.window->openSignIn(false);
        QTRY_VERIFY_WITH_TIMEOUT(browserStartLoads(*f.sites).size() == 1, scaled(20000));

        QAccessibleInterface *application = QAccessible::queryAccessibleInterface(qApp);
        QVERIFY(application);
        QStringList windows;
        for (int i = 0; i < application->childCount(); ++i) {
            QAccessibleInterface *child = application->child(i);
            QVERIFY(child);
            const QString name = child->text(QAccessible::Name);
            const QAccessible::Role role = child->role();
            QVERIFY2(role == QAccessible::Window || role == QAccessible::Dialog,
                     qPrintable(name + u" has role " + QString::number(role)));
            windows.append(name);
        }
        windows.sort();
        QCOMPARE(windows, (QStringList{u"Giftvane"_qs, u"接收记录"_qs, u"登录115网盘"_qs}));
        QStringList unnamed; // and within them every list, table and tab row
        for (int i = 0; i < application->childCount(); ++i)
            collectUnnamedLists(application->child(i), unnamed);
        QCOMPARE(unnamed, QStringList());
    }
};

QTEST_MAIN(TestSignInKeep)
#include "test_signin_keep.moc"
