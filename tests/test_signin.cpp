#include "fixture.h"
#include "signinwindow.h"

#include <QAction>
#include <QWebEnginePage>
#include <QWebEngineView>

using sandbox::Site;

namespace {
QWebEngineView *browser(SignInWindow *window) {
    return window->findChild<QWebEngineView *>(QStringLiteral("WebBrowser1"));
}
} // namespace

// Runs with a real browser engine, so it needs a display (xvfb-run in scripts/test).
class TestSignIn final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void browserSignInReachesTheProgramsRequests() {
        Fixture f;
        QVERIFY(f.open());
        f.window->findChild<QAction *>(u"dl115"_qs)->trigger();
        QCOMPARE(f.desktop.texts(), QStringList{u"请使用移动端app进行扫描登录"_qs});
        QCOMPARE(f.desktop.messages[0].title, u"Corvane软件"_qs);
        SignInWindow *signIn = f.window->signInWindow();
        QVERIFY(signIn);
        QCOMPARE(signIn->windowTitle(), u"登录115网盘"_qs);
        QVERIFY(signIn->isVisible());
        QVERIFY(signIn->windowState() & Qt::WindowMaximized);
        QVERIFY(!signIn->isModal());
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 2,
                                 20000); // browser, then check
        QTRY_COMPARE(browser(signIn)->size(), signIn->size());
        QVERIFY(signIn->isVisible()); // the start page lacks the marker

        // The simulated scan: the stand-in cloud disk sets its session cookie.
        browser(signIn)->page()->runJavaScript(QStringLiteral("document.getElementById('scan').click();"));
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), 20000);
        QVERIFY(!browser(signIn)->isVisible());
        QCOMPARE(f.window->statusText(2), u"您已成功登录115网盘，现在可以直接进行礼包接收了。"_qs);

        f.fill(0, {u"gvok1"_qs});
        f.select(0, 0);
        f.window->receiveSelected();
        QTRY_COMPARE(f.desktop.messages.size(), 2);
        QCOMPARE(f.desktop.messages[1].text, u"您已成功接收115礼包，现已转存到您的网盘"_qs);
        QVERIFY(f.sites->requests(Site::CloudDisk).last().header("Cookie").contains("UID="));
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
        QTRY_VERIFY(done);
        f.window->openSignIn(true);
        SignInWindow *signIn = f.window->signInWindow();
        QVERIFY(signIn->isModal());
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), 20000);
        bool browserSentCookie = false;
        for (const sandbox::Request &request : f.sites->requests(Site::CloudDisk))
            browserSentCookie |= request.header("User-Agent").contains("QtWebEngine") &&
                                 request.header("Cookie").contains("UID=");
        QVERIFY(browserSentCookie);

        signIn->close(); // discarded; the next sign-in starts afresh
        QTRY_VERIFY(!f.window->signInWindow());
    }
};

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    TestSignIn test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_signin.moc"
