#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/clouddisk.h"
#include "web/cookiejar.h"
#include "web/requestscope.h"
#include "web/webclient.h"

#include <QElapsedTimer>
#include <QTest>

#include <qcoro/qcorotask.h>

using sandbox::Fault;
using sandbox::Response;
using sandbox::Site;

namespace {

QCoro::Task<> store(QCoro::Task<QString> task, QString &result, bool &done) {
    result = co_await task;
    done = true;
}

// Runs a request coroutine to its end on this thread's event loop.
QString wait(QCoro::Task<QString> task) {
    QString result;
    bool done = false;
    auto waiter = store(std::move(task), result, done);
    if (!QTest::qWaitFor([&] { return done; }, scaled(20000)))
        qFatal("request did not end");
    return result;
}

} // namespace

class TestWeb final : public QObject {
    Q_OBJECT

private:
    sandbox::Sandbox *m_sites = nullptr;
    WebClient *m_web = nullptr;
    QString url(Site site, const char *path) { return m_sites->address(site) + QString::fromLatin1(path); }

private Q_SLOTS:
    void init() {
        failOnWarnings();
        m_sites = new sandbox::Sandbox(7, this);
        QVERIFY(m_sites->start());
        m_web = new WebClient(this);
    }
    void cleanup() {
        delete m_web;
        delete m_sites;
    }

    void errorPageBodyIsReturned() {
        m_sites->setFault(QStringLiteral("^/missing"), Fault::NotFound);
        const QString page = wait(m_web->FetchPageText(url(Site::Listing, "/missing")));
        QVERIFY(page.contains(u"404 页面不存在"));
        QCOMPARE(m_sites->requests().last().header("If-Modified-Since"), QByteArray("0"));
    }

    void decodesBySniffingAndByCharset() {
        const QString title = m_sites->titleFor(100201);
        // Pages 0, 1 and 2 are UTF-8, UTF-8 with a byte-order mark, and GBK.
        for (const char *path : {"/libao/index_0.html", "/libao/index_1.html", "/libao/index_2.html"}) {
            const QString page = wait(m_web->OpenUrlDecoded(url(Site::Listing, path)));
            QVERIFY2(page.contains(u"文件大小："), path);
        }
        QVERIFY(wait(m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_2.html"))).contains(title));
        QVERIFY(wait(m_web->OpenUrlText(url(Site::Listing, "/libao/100201.html"))).contains(title));
        m_sites->setHandler(Site::Share, "/gbk", [](const sandbox::Request &) {
            return Response{200, "text/html; charset=GBK", QByteArray("\xC0\xF1\xB0\xFC"), {}};
        });
        QCOMPARE(wait(m_web->FetchPageText(url(Site::Share, "/gbk"))), u"礼包"_qs);
    }

    void chunkReadsOnlyTheFirstBytes() {
        m_sites->setHandler(Site::Share, "/api/find.aspx", [](const sandbox::Request &) {
            return Response{
                200, "text/html", QByteArray(9995, 'a') + "gift_code=late&" + QByteArray(5000, 'b'), {}};
        });
        const QString reply = wait(m_web->PostFormChunk(url(Site::Share, "/api/find.aspx"), u"x=1"_qs));
        QCOMPARE(reply.size(), 10000);
        QVERIFY(!reply.contains(u"late&"));
        const sandbox::Request sent = m_sites->requests().last();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    }

    void formPostIsSentExactly() {
        const QString reply =
            wait(m_web->PostFormSync(clouddisk::receiveAddress(m_sites->address(Site::CloudDisk)),
                                     clouddisk::receiveBody(u"gv a&b"_qs)));
        QVERIFY(reply.contains(u"登录帐号"));
        const sandbox::Request sent = m_sites->requests().last();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.target, QByteArray("/?ct=filegift&ac=receive"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(sent.body, QByteArray("referer=&gift_code=gv a&b"));
        QVERIFY(sent.header("Cookie").isEmpty());
    }

    void failuresReadAsEmptyAndTheClientGoesOn_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("empty");
        QTest::newRow("hang") << int(Fault::Hang) << true;
        QTest::newRow("reset") << int(Fault::Reset) << true;
        QTest::newRow("truncated") << int(Fault::Truncated) << true;
        QTest::newRow("oversized") << int(Fault::Oversized) << false;
    }
    void failuresReadAsEmptyAndTheClientGoesOn() {
        QFETCH(int, fault);
        QFETCH(bool, empty);
        m_web->setTimeouts(800, 800);
        m_web->setBodyCap(1024 * 1024);
        m_sites->setFault(QStringLiteral("^/faulty"), static_cast<Fault>(fault));
        QElapsedTimer clock;
        clock.start();
        const QString text = wait(m_web->FetchPageText(url(Site::Listing, "/faulty")));
        QVERIFY(clock.elapsed() < 5000);
        if (empty)
            QCOMPARE(text, QString());
        else
            QCOMPARE(text.size(), 1024 * 1024); // cut at the cap
        QVERIFY(
            wait(m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_3.html"))).contains(u"文件大小："));
    }

    void refusedAndInvalidAddressesReadAsEmpty() {
        QCOMPARE(wait(m_web->FetchPageText(u"http://127.0.0.9:1/x"_qs)), QString());
        QCOMPARE(wait(m_web->FetchPageText(u"not a url"_qs)), QString());
        QCOMPARE(wait(m_web->OpenUrlText(u"ftp://127.0.0.2/x"_qs)), QString());
    }

    void abortedScopeEndsRequestsAtOnce() {
        m_sites->setFault(QStringLiteral("^/slow"), Fault::Hang);
        RequestScope scope;
        QString result = u"unset"_qs;
        bool done = false;
        auto task = store(m_web->FetchPageText(url(Site::Listing, "/slow"), &scope), result, done);
        QTest::qWait(50);
        QVERIFY(!done);
        scope.abort();
        QTRY_VERIFY_WITH_TIMEOUT(done, scaled(1000));
        QCOMPARE(result, QString());
        QCOMPARE(wait(m_web->FetchPageText(url(Site::Listing, "/slow2"), &scope)), QString());
    }

    void cookiesStayWithTheirHost() {
        // Sign in at the cloud disk: a redirect that sets the session cookie.
        const QString page = wait(m_web->FetchPageText(url(Site::CloudDisk, "/login/scan")));
        QVERIFY(page.contains(clouddisk::kSignedInMarker));
        QVERIFY(m_sites->requests().last().header("Cookie").startsWith("UID="));
        wait(m_web->FetchPageText(url(Site::Listing, "/libao/index_0.html")));
        wait(m_web->PostFormChunk(url(Site::Share, "/api/find.aspx"), u"hidfileid=1"_qs));
        for (const sandbox::Request &request : m_sites->requests()) {
            if (request.site != Site::CloudDisk)
                QVERIFY(request.header("Cookie").isEmpty());
        }
    }

    void crossHostRedirectCarriesNothingAlong() {
        wait(m_web->FetchPageText(url(Site::CloudDisk, "/login/scan")));
        const QString target = url(Site::Listing, "/libao/index_0.html");
        m_sites->setHandler(Site::CloudDisk, "/away", [target](const sandbox::Request &) {
            return Response{302, "text/html", {}, {{"Location", target.toUtf8()}}};
        });
        m_sites->clearRequests();
        const QString page = wait(m_web->FetchPageText(url(Site::CloudDisk, "/away")));
        QVERIFY(page.contains(u"文件大小："));
        const QList<sandbox::Request> seen = m_sites->requests();
        QCOMPARE(seen.size(), 2);
        QVERIFY(!seen[0].header("Cookie").isEmpty());
        QCOMPARE(seen[1].site, Site::Listing);
        QVERIFY(seen[1].header("Cookie").isEmpty());
        QVERIFY(seen[1].header("If-Modified-Since").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
