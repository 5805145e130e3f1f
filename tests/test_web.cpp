#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/clouddisk.h"
#include "web/cookiejar.h"
#include "web/redirects.h"
#include "web/requestscope.h"
#include "web/webclient.h"

#include <QStringEncoder>
#include <QTest>

#include <qcoro/qcorotask.h>

using sandbox::Fault;
using sandbox::Request;
using sandbox::Response;
using sandbox::Site;

namespace {

QCoro::Task<> store(QCoro::Task<Fetched> task, Fetched &result, bool &done) {
    result = co_await task;
    done = true;
}

// Runs a request coroutine to its end on this thread's event loop.
Fetched wait(QCoro::Task<Fetched> task) {
    Fetched result;
    bool done = false;
    auto waiter = store(std::move(task), result, done);
    if (!runUntil([&] { return done; }, 20000))
        qFatal("request did not end");
    return result;
}

Response page(QByteArray contentType, QByteArray body) {
    return Response{200, std::move(contentType), std::move(body), {}};
}

} // namespace

class TestWeb final : public QObject {
    Q_OBJECT

private:
    sandbox::Sandbox *m_sites = nullptr;
    WebClient *m_web = nullptr;
    QString url(Site site, const char *path) { return m_sites->address(site) + QString::fromLatin1(path); }
    void serve(Site site, const QByteArray &path, Response response) {
        m_sites->setHandler(site, path, [response](const Request &) { return response; });
    }

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
        deleteEndedJobs();
    }

    void errorPagesAreReadButNotOk() {
        m_sites->setFault(QStringLiteral("^/missing"), Fault::NotFound);
        const Fetched page = wait(m_web->FetchPageText(url(Site::Listing, "/missing")));
        QVERIFY(page.text.contains(u"404 页面不存在"));
        QCOMPARE(page.status, 404);
        QVERIFY(!page.failed && !page.ok());
        QCOMPARE(m_sites->requests().last().header("If-Modified-Since"), QByteArray("0"));
        QVERIFY(wait(m_web->FetchPageText(url(Site::Update, "/version/main.txt"))).ok());
    }

    void decodesBySniffing() {
        const QString title = m_sites->titleFor(100201);
        // Pages 0, 1 and 2 are UTF-8, UTF-8 with a byte-order mark, and GBK.
        for (const char *path : {"/libao/index_0.html", "/libao/index_1.html", "/libao/index_2.html"}) {
            const QString text = wait(m_web->OpenUrlDecoded(url(Site::Listing, path))).text;
            QVERIFY2(text.contains(u"文件大小："), path);
        }
        QVERIFY(wait(m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_2.html"))).text.contains(title));
        QVERIFY(wait(m_web->OpenUrlText(url(Site::Listing, "/libao/100201.html"))).text.contains(title));
        // One emoji in a UTF-8 page keeps it UTF-8.
        serve(Site::Listing, "/emoji", page("text/html", u"<p>礼包 😀 大小：1.5 GB</p>"_qs.toUtf8()));
        QCOMPARE(wait(m_web->OpenUrlDecoded(url(Site::Listing, "/emoji"))).text,
                 u"<p>礼包 😀 大小：1.5 GB</p>"_qs);
    }

    void decodesByDeclaredCharset_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QStringEncoder gbk("GBK");
        // "喆" is GBK, not GB2312: pages that declare gb2312 use GBK all the same.
        const QByteArray name = gbk.encode(u"王喆的资源"_qs);
        QTest::newRow("gb2312") << QByteArray("text/html; charset=gb2312") << name << u"王喆的资源"_qs;
        QTest::newRow("GB2312 quoted")
            << QByteArray("text/html; charset=\"GB2312\"") << name << u"王喆的资源"_qs;
        QTest::newRow("x-gbk") << QByteArray("text/html;charset=x-gbk") << name << u"王喆的资源"_qs;
        QTest::newRow("cp936") << QByteArray("text/html; charset=CP936") << name << u"王喆的资源"_qs;
        QTest::newRow("none") << QByteArray("text/html") << u"礼包"_qs.toUtf8() << u"礼包"_qs;
        QTest::newRow("unknown") << QByteArray("text/html; charset=no-such") << u"礼包"_qs.toUtf8()
                                 << u"礼包"_qs;
        QStringEncoder gb18030("GB18030");
        QTest::newRow("gb18030") << QByteArray("text/html; charset=gb18030")
                                 << QByteArray(gb18030.encode(u"礼包😀"_qs)) << u"礼包😀"_qs;
    }
    void decodesByDeclaredCharset() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        serve(Site::Share, "/page", page(contentType, body));
        QCOMPARE(wait(m_web->FetchPageText(url(Site::Share, "/page"))).text, text);
    }

    void largeBodiesDecodeInSlicesAlike() {
        // Multi-byte characters across every slice boundary decode as in one piece.
        QString expected;
        while (expected.size() < 3 * WebClient::kDecodeSlice / 2)
            expected += u"a礼包码"_qs;
        QStringEncoder gbk("GBK");
        serve(Site::Listing, "/big-gbk", page("text/html", gbk.encode(expected)));
        serve(Site::Share, "/big-utf8", page("text/html; charset=utf-8", expected.toUtf8()));
        QCOMPARE(wait(m_web->OpenUrlDecoded(url(Site::Listing, "/big-gbk"))).text, expected);
        QCOMPARE(wait(m_web->OpenUrlText(url(Site::Listing, "/big-gbk"))).text, expected);
        QCOMPARE(wait(m_web->FetchPageText(url(Site::Share, "/big-utf8"))).text, expected);
    }

    // A page that says it is UTF-8 stays UTF-8 for one bad byte: that byte is one U+FFFD and
    // every title around it reads as it stands.
    void declaredUtf8KeepsEveryOtherTitle() {
        QStringList titles;
        QByteArray body = "<html><body><ul>";
        for (int i = 0; i < 20; ++i) {
            titles.append(m_sites->titleFor(100200 + i));
            body += "<li><a class=\"title\" target=\"_blank\">" + titles.last().toUtf8() + "</a></li>";
            if (i == 10)
                body += "<li>\xE7\xA4</li>"; // a character cut short
        }
        serve(Site::Listing, "/libao/index_1.html", page("text/html; charset=utf-8", body));
        const QString text = wait(m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_1.html"))).text;
        for (const QString &title : titles)
            QVERIFY2(text.contains(title), qPrintable(title));
        QCOMPARE(text.count(QChar(0xFFFD)), 1);
    }

    // Pages that name their encoding only in a <meta>, where the bytes alone would mislead.
    void metaOnlyDeclarationIsHonoured_data() {
        QTest::addColumn<bool>("listing");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");
        QStringEncoder gbk("GBK");
        // UTF-8 with a bad byte would be sniffed as GBK; these GBK bytes would pass for UTF-8.
        const QByteArray broken = u"<p>礼包码</p>"_qs.toUtf8() + "\xFF";
        const QByteArray lookalike = gbk.encode(u"<h3>原水之源</h3>"_qs);
        QTest::newRow("listing, charset") << true << "<meta charset=\"utf-8\">" + broken << u"礼包码"_qs;
        QTest::newRow("listing, http-equiv")
            << true << "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">" + lookalike
            << u"原水之源"_qs;
        QTest::newRow("share, charset") << false << "<META CHARSET=UTF-8>" + broken << u"礼包码"_qs;
        QTest::newRow("share, http-equiv")
            << false << "<meta http-equiv='content-type' content='text/html;charset=gbk'>" + lookalike
            << u"原水之源"_qs;
    }
    void metaOnlyDeclarationIsHonoured() {
        QFETCH(bool, listing);
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        const Site site = listing ? Site::Listing : Site::Share;
        serve(site, "/page", page("text/html", body));
        const Fetched fetched = listing ? wait(m_web->OpenUrlDecoded(url(site, "/page")))
                                        : wait(m_web->FetchPageText(url(site, "/page")));
        QVERIFY2(fetched.text.contains(title), qPrintable(fetched.text));
    }

    void chunkReadsOnlyTheFirstBytes() {
        serve(Site::Share, "/api/find.aspx",
              page("text/html", QByteArray(9995, 'a') + "gift_code=late&" + QByteArray(5000, 'b')));
        const Fetched reply = wait(m_web->PostFormChunk(url(Site::Share, "/api/find.aspx"), u"x=1"_qs));
        QVERIFY(reply.ok());
        QCOMPARE(reply.text.size(), 10000);
        QVERIFY(!reply.text.contains(u"late&"));
        const Request sent = m_sites->requests().last();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    }

    void formPostIsSentExactly() {
        const Fetched reply =
            wait(m_web->PostFormSync(clouddisk::receiveAddress(m_sites->address(Site::CloudDisk)),
                                     clouddisk::receiveBody(u"gv123"_qs)));
        QVERIFY(reply.text.contains(u"登录帐号"));
        const Request sent = m_sites->requests().last();
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.target, QByteArray("/?ct=filegift&ac=receive"));
        QCOMPARE(sent.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(sent.body, QByteArray("referer=&gift_code=gv123"));
        QVERIFY(sent.header("Cookie").isEmpty());
    }

    void failuresReadAsEmptyAndTheClientGoesOn_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("hang") << int(Fault::Hang);
        QTest::newRow("reset") << int(Fault::Reset);
        QTest::newRow("truncated") << int(Fault::Truncated);
        QTest::newRow("oversized") << int(Fault::Oversized); // cut at the cap: a failure, not a page
        QTest::newRow("slow redirects") << int(Fault::SlowRedirect);
    }
    void failuresReadAsEmptyAndTheClientGoesOn() {
        QFETCH(int, fault);
        m_web->setTimeouts(1200, 1200);
        m_web->setCaps(1024 * 1024, 64 * 1024);
        m_sites->setFault(QStringLiteral("^/faulty"), static_cast<Fault>(fault));
        const Fetched page = wait(m_web->FetchPageText(url(Site::Listing, "/faulty")));
        QVERIFY(page.failed && page.text.isEmpty());
        // The deadline counts over every redirect hop: a few hops of half a second each, not
        // as many as redirects may go.
        QVERIFY(m_sites->requests().size() < WebClient::kMaxRedirects / 2);
        QVERIFY(wait(m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_3.html")))
                    .text.contains(u"文件大小："));
    }

    void smallPagesHaveASmallerCap() {
        m_web->setCaps(256 * 1024, 16 * 1024);
        serve(Site::Listing, "/detail", page("text/html", QByteArray(20 * 1024, 'x')));
        QVERIFY(
            wait(m_web->OpenUrlText(url(Site::Listing, "/detail"), nullptr, WebClient::Size::Small)).failed);
        QCOMPARE(wait(m_web->OpenUrlText(url(Site::Listing, "/detail"))).text.size(), 20 * 1024);
    }

    void refusedAndInvalidAddressesReadAsEmpty() {
        QVERIFY(wait(m_web->FetchPageText(u"http://127.0.0.9:1/x"_qs)).failed);
        QVERIFY(wait(m_web->FetchPageText(u"not a url"_qs)).failed);
        QVERIFY(wait(m_web->OpenUrlText(u"ftp://127.0.0.2/x"_qs)).failed);
    }

    void abortedScopeEndsRequestsAtOnce() {
        m_sites->setFault(QStringLiteral("^/slow"), Fault::Hang);
        RequestScope scope;
        Fetched result;
        result.text = u"unset"_qs;
        bool done = false;
        auto task = store(m_web->FetchPageText(url(Site::Listing, "/slow"), &scope), result, done);
        QVERIFY(runUntil([&] { return m_sites->requests().size() == 1; }));
        QVERIFY(!done);
        scope.abort();
        QVERIFY(done); // before abort() returned
        QVERIFY(result.failed && result.text.isEmpty());
        QVERIFY(wait(m_web->FetchPageText(url(Site::Listing, "/slow2"), &scope)).failed);
        QCOMPARE(m_sites->requests().size(), 1); // nothing sent for an aborted scope
    }

    void goingClientEndsItsRequests() {
        m_sites->setFault(QStringLiteral("^/slow"), Fault::Hang);
        Fetched result;
        bool done = false;
        auto task = store(m_web->FetchPageText(url(Site::Listing, "/slow")), result, done);
        QVERIFY(runUntil([&] { return m_sites->requests().size() == 1; }));
        delete m_web;
        m_web = nullptr;
        QVERIFY(done && result.failed);
    }

    void cookiesStayWithTheirHost() {
        // Sign in at the cloud disk: a redirect that sets the session cookie.
        const Fetched signedIn = wait(m_web->FetchPageText(url(Site::CloudDisk, "/login/scan")));
        QVERIFY(signedIn.text.contains(clouddisk::kSignedInMarker));
        QVERIFY(m_sites->requests().last().header("Cookie").startsWith("UID="));
        wait(m_web->FetchPageText(url(Site::Listing, "/libao/index_0.html")));
        wait(m_web->PostFormChunk(url(Site::Share, "/api/find.aspx"), u"hidfileid=1"_qs));
        for (const Request &request : m_sites->requests()) {
            if (request.site != Site::CloudDisk)
                QVERIFY(request.header("Cookie").isEmpty());
        }
    }

    void crossHostRedirectCarriesNothingAlong() {
        wait(m_web->FetchPageText(url(Site::CloudDisk, "/login/scan")));
        const QString target = url(Site::Listing, "/libao/index_0.html");
        serve(Site::CloudDisk, "/away", Response{302, "text/html", {}, {{"Location", target.toUtf8()}}});
        m_sites->clearRequests();
        const Fetched page = wait(m_web->FetchPageText(url(Site::CloudDisk, "/away")));
        QVERIFY(page.ok() && page.text.contains(u"文件大小："));
        const QList<Request> seen = m_sites->requests();
        QCOMPARE(seen.size(), 2);
        QVERIFY(!seen[0].header("Cookie").isEmpty());
        QCOMPARE(seen[1].site, Site::Listing);
        QVERIFY(seen[1].header("Cookie").isEmpty());
        QVERIFY(seen[1].header("If-Modified-Since").isEmpty());
    }

    void redirectRule_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QByteArray>("nextVerb");
        QTest::addColumn<bool>("headersKept");
        using V = redirects::Verdict;
        const QString here = u"http://a.test/x"_qs;
        QTest::newRow("an answer") << here << QByteArray("GET") << 200 << QByteArray("/y")
                                   << int(V::NotARedirect) << here << QByteArray("GET") << true;
        QTest::newRow("not modified") << here << QByteArray("GET") << 304 << QByteArray("/y")
                                      << int(V::NotARedirect) << here << QByteArray("GET") << true;
        QTest::newRow("no location") << here << QByteArray("GET") << 302 << QByteArray()
                                     << int(V::NotARedirect) << here << QByteArray("GET") << true;
        QTest::newRow("same host, relative")
            << here << QByteArray("GET") << 302 << QByteArray("y?z=1") << int(V::Follow)
            << u"http://a.test/y?z=1"_qs << QByteArray("GET") << true;
        QTest::newRow("another host")
            << here << QByteArray("GET") << 301 << QByteArray("http://b.test/y") << int(V::Follow)
            << u"http://b.test/y"_qs << QByteArray("GET") << false;
        QTest::newRow("another port")
            << here << QByteArray("GET") << 302 << QByteArray("http://a.test:81/y") << int(V::Follow)
            << u"http://a.test:81/y"_qs << QByteArray("GET") << false;
        QTest::newRow("https down to http")
            << u"https://a.test/x"_qs << QByteArray("GET") << 302 << QByteArray("http://a.test/y")
            << int(V::Refuse) << QString() << QByteArray() << false;
        QTest::newRow("form to another host")
            << here << QByteArray("POST") << 307 << QByteArray("http://b.test/y") << int(V::Refuse)
            << QString() << QByteArray() << false;
        QTest::newRow("form 303 on its host")
            << here << QByteArray("POST") << 303 << QByteArray("/done") << int(V::Follow)
            << u"http://a.test/done"_qs << QByteArray("GET") << true;
        QTest::newRow("form 307 on its host")
            << here << QByteArray("POST") << 307 << QByteArray("/again") << int(V::Follow)
            << u"http://a.test/again"_qs << QByteArray("POST") << true;
    }
    void redirectRule() {
        QFETCH(QString, from);
        QFETCH(QByteArray, verb);
        QFETCH(int, status);
        QFETCH(QByteArray, location);
        QFETCH(int, verdict);
        QFETCH(QString, to);
        QFETCH(QByteArray, nextVerb);
        QFETCH(bool, headersKept);
        const bool form = verb == "POST";
        redirects::Headers headers{{"If-Modified-Since", "0"}};
        if (form)
            headers.append(
                qMakePair(QByteArray("Content-Type"), QByteArray("application/x-www-form-urlencoded")));
        redirects::Hop hop{QUrl(from), verb, form ? QByteArray("a=1") : QByteArray(), headers};
        QCOMPARE(int(redirects::next(hop, status, location, form)), verdict);
        if (verdict != int(redirects::Verdict::Follow))
            return;
        QCOMPARE(hop.url.toString(), to);
        QCOMPARE(hop.verb, nextVerb);
        QCOMPARE(hop.body.isEmpty(), nextVerb == "GET");
        QCOMPARE(hop.headers.size() == 0, !headersKept);
        for (const auto &header : hop.headers)
            QVERIFY(nextVerb == "POST" || header.first != "Content-Type");
    }

    void formPostsStayOnTheirHost_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("302") << 302;
        QTest::newRow("307 would re-post") << 307;
    }
    void formPostsStayOnTheirHost() {
        QFETCH(int, status);
        // A receive answered by another host is no answer: nothing reaches that host.
        const QByteArray elsewhere = url(Site::Share, "/taken").toUtf8();
        m_sites->setHandler(Site::CloudDisk, "/", [elsewhere, status](const Request &request) {
            return request.method == "POST" ? Response{status, "text/html", {}, {{"Location", elsewhere}}}
                                            : Response{200, "text/html", "home", {}};
        });
        serve(Site::Share, "/taken", page("text/html", u"成功接收"_qs.toUtf8()));
        const Fetched reply = wait(m_web->PostFormSync(
            clouddisk::receiveAddress(m_sites->address(Site::CloudDisk)), clouddisk::receiveBody(u"gv1"_qs)));
        QVERIFY(reply.failed && reply.text.isEmpty());
        QVERIFY(m_sites->requests(Site::Share).isEmpty());

        // Within its own host a 307 posts the form again.
        m_sites->setHandler(Site::CloudDisk, "/", [](const Request &request) {
            return request.target.contains("again")
                       ? Response{200, "text/html", "posted:" + request.body, {}}
                       : Response{307, "text/html", {}, {{"Location", "/?again"}}};
        });
        const Fetched again = wait(m_web->PostFormSync(url(Site::CloudDisk, "/?x"), u"a=1"_qs));
        QCOMPARE(again.text, u"posted:a=1"_qs);
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
