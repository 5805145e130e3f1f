#include "app/signinwindow.h"
#include "fixture.h"

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
        QSignalSpy loaded(browser, &QWebEngineView::loadFinished);
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 2, scaled(20000));
        QVERIFY(signIn->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), scaled(20000)); // its link is there to click

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

    void aSignInInsideAFrameIsSeen() {
        // The scan finishes in the page's frame: the window's own page never loads again.
        Fixture f;
        QVERIFY(f.open());
        f.window->openSignIn(false);
        SignInWindow *signIn = f.window->signInWindow();
        auto *browser = signIn->findChild<QWebEngineView *>(u"WebBrowser1"_qs);
        QSignalSpy loaded(browser, &QWebEngineView::loadFinished);
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 3, scaled(20000));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), scaled(20000)); // the frame's link is there
        const int framesBefore = int(f.sites->requests(Site::CloudDisk).size());
        browser->page()->runJavaScript(
            QStringLiteral("document.getElementById('qr').contentDocument.getElementById('scan').click();"));
        QTRY_VERIFY_WITH_TIMEOUT(!signIn->isVisible(), scaled(20000));
        QCOMPARE(f.window->statusText(2), u"您已成功登录115网盘，现在可以直接进行礼包接收了。"_qs);
        QVERIFY(f.sites->requests(Site::CloudDisk).size() > framesBefore);
        QCOMPARE(browser->url().path(), u"/"_qs); // the window's page is still the start page
    }

    void reopeningOnlyRaisesTheWindow() {
        Fixture f;
        QVERIFY(f.open());
        f.window->openSignIn(false);
        SignInWindow *signIn = f.window->signInWindow();
        QTRY_VERIFY_WITH_TIMEOUT(f.sites->requests(Site::CloudDisk).size() >= 2, scaled(20000));
        const auto startPageLoads = [&f] {
            int loads = 0;
            for (const sandbox::Request &request : f.sites->requests(Site::CloudDisk))
                loads += request.path() == "/" && request.header("User-Agent").contains("QtWebEngine");
            return loads;
        };
        QTRY_COMPARE_WITH_TIMEOUT(startPageLoads(), 1, scaled(20000));
        f.showTab(2);
        auto *browser = signIn->findChild<QWebEngineView *>(u"WebBrowser1"_qs);
        QSignalSpy loads(browser, &QWebEngineView::loadStarted);
        f.click("Command5"); // the third tab's "上一页" while a sign-in is in progress
        QVERIFY(!loads.wait(scaled(300)));
        QVERIFY(signIn->isVisible());
        QCOMPARE(startPageLoads(), 1);
    }
};

QTEST_MAIN(TestSignInBrowser)
#include "test_signin_browser.moc"
