#include "fixture.h"
#include "receive/signinwindow.h"

#include <QAction>
#include <QWebEnginePage>
#include <QWebEngineView>

using sandbox::Site;

// Drives the sign-in page itself, so it links the browser engine. Needs a display.
class TestSignInBrowser final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { failOnWarnings(); }

    void browserSignInReachesTheProgramsRequests() {
        Fixture f;
        QVERIFY(f.open());
        f.window->openSignIn(false);
        SignInWindow *signIn = f.window->signInWindow();
        QVERIFY(signIn);
        auto *browser = signIn->findChild<QWebEngineView *>(u"WebBrowser1"_qs);
        QVERIFY(browser);
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 2, scaled(20000));
        QVERIFY(signIn->isVisible());

        // The simulated scan: the stand-in cloud disk sets its session cookie in the browser.
        browser->page()->runJavaScript(QStringLiteral("document.getElementById('scan').click();"));
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), scaled(20000));
        QVERIFY(!browser->isVisible());
        QCOMPARE(f.window->statusText(2), u"您已成功登录115网盘，现在可以直接进行礼包接收了。"_qs);

        f.fill(0, {u"gvok1"_qs});
        f.select(0, 0);
        f.window->receiveSelected();
        QTRY_COMPARE_WITH_TIMEOUT(f.desktop.messages.size(), 1, scaled(5000));
        QCOMPARE(f.desktop.messages[0].text, u"您已成功接收115礼包，现已转存到您的网盘"_qs);
        QVERIFY(f.sites->requests(Site::CloudDisk).last().header("Cookie").contains("UID="));
    }
};

QTEST_MAIN(TestSignInBrowser)
#include "test_signin_browser.moc"
