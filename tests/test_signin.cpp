#include "app/signinwindow.h"
#include "fixture.h"

#include <QAction>

using sandbox::Site;

// The program as users run it: the browser engine is loaded only when the sign-in window is
// first opened. Needs a display (xvfb-run in scripts/test).
class TestSignIn final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void theWindowLoadsOnFirstUse() {
        Fixture f;
        QVERIFY(f.open());
        f.window->findChild<QAction *>(u"dl115"_qs)->trigger();
        QCOMPARE(f.desktop.texts(), QStringList{u"请使用移动端app进行扫描登录"_qs});
        QCOMPARE(f.desktop.messages[0].title, u"Corvane软件"_qs);
        SignInWindow *signIn = f.window->signInWindow();
        QVERIFY(signIn);
        // One copy of the core in the process: the plugin's window derives from this
        // program's own SignInWindow, not from a second copy of it.
        QCOMPARE(signIn->metaObject()->superClass(), &SignInWindow::staticMetaObject);
        QCOMPARE(qobject_cast<SignInWindow *>(static_cast<QObject *>(signIn)), signIn);
        QCOMPARE(signIn->windowTitle(), u"登录115网盘"_qs);
        QVERIFY(signIn->isVisible());
        QVERIFY(signIn->windowState() & Qt::WindowMaximized);
        QVERIFY(!signIn->isModal());
        auto *browser = signIn->findChild<QWidget *>(u"WebBrowser1"_qs);
        QVERIFY(browser);
        // The browser asks for the start page, then the check fetches it anew.
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 2, scaled(20000));
        // The page fills the window but for the "保持登录" bar below it, whatever its size.
        QTRY_VERIFY_WITH_TIMEOUT(browser->width() == signIn->width() && browser->height() < signIn->height(),
                                 scaled(5000));
        const int bar = signIn->height() - browser->height();
        signIn->resize(500, 400);
        QTRY_COMPARE_WITH_TIMEOUT(browser->size(), QSize(500, 400 - bar), scaled(5000));
        QVERIFY(signIn->isVisible()); // the start page lacks the marker
        QVERIFY(f.window->statusText(2) != u"您已成功登录115网盘，现在可以直接进行礼包接收了。");

        signIn->close(); // discarded; the next sign-in starts afresh
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->signInWindow(), scaled(5000));
    }

    void programCookiesReachTheBrowser() {
        Fixture f;
        QVERIFY(f.open());
        // A sign-in made by a program request: the browser then opens on the signed-in page
        // and the window hides itself at once.
        bool done = false;
        auto task = [](WebClient *web, QString url, bool *done) -> QCoro::Task<> {
            co_await web->FetchPageText(url);
            *done = true;
        }(f.web.get(), f.sites->address(Site::CloudDisk) + u"/login/scan", &done);
        QTRY_VERIFY_WITH_TIMEOUT(done, scaled(5000));
        f.click("Command5");
        SignInWindow *signIn = f.window->signInWindow();
        QVERIFY(signIn && signIn->isModal());
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), scaled(20000));
        QVERIFY(!signIn->findChild<QWidget *>(u"WebBrowser1"_qs)->isVisible());
        QCOMPARE(f.window->statusText(2), u"您已成功登录115网盘，现在可以直接进行礼包接收了。"_qs);
        bool browserSentCookie = false;
        for (const sandbox::Request &request : f.sites->requests(Site::CloudDisk))
            browserSentCookie |= request.header("User-Agent").contains("QtWebEngine") &&
                                 request.header("Cookie").contains("UID=");
        QVERIFY(browserSentCookie);
        QVERIFY(f.desktop.messages.isEmpty()); // "上一页" of the third tab asks nothing first
    }
};

QTEST_MAIN(TestSignIn)
#include "test_signin.moc"
