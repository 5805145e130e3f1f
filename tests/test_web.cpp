#include "sandbox/sandbox.h"
#include "standin.h"
#include "warnings.h"
#include "web/bodyreader.h"
#include "web/clouddisk.h"
#include "web/cookiejar.h"
#include "web/redirects.h"
#include "web/requestscope.h"
#include "web/webclient.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <limits>

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

// The request operations, each on the route that the harvests and receives take it.
enum class Op { FetchPageText, OpenUrlText, OpenUrlDecoded, PostFormChunk, PostFormSync };

// The process's peak resident memory so far, in MiB.
qint64 peakResidentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(sandbox::Packing)

class TestWeb final : public QObject {
    Q_OBJECT

private:
    sandbox::Sandbox *m_sites = nullptr;
    WebClient *m_web = nullptr;
    QString url(Site site, const char *path) { return m_sites->address(site) + QString::fromLatin1(path); }
    void serve(Site site, const QByteArray &path, Response response) {
        m_sites->setHandler(site, path, [response](const Request &) { return response; });
    }
    // An operation on the route a harvest or receive takes it; routeOf() matches its requests.
    QCoro::Task<Fetched> operate(Op op, RequestScope *scope = nullptr, Validators validators = {}) {
        switch (op) {
        case Op::FetchPageText:
            return m_web->FetchPageText(url(Site::Share, "/new/1.html"), scope, WebClient::Size::Page,
                                        validators);
        case Op::OpenUrlText:
            return m_web->OpenUrlText(url(Site::Listing, "/libao/100201.html"), scope,
                                      WebClient::Size::Small);
        case Op::OpenUrlDecoded:
            return m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_1.html"), scope,
                                         WebClient::Size::Page, validators);
        case Op::PostFormChunk:
            return m_web->PostFormChunk(url(Site::Share, "/api/find.aspx"), u"hidfileid=300101"_qs, scope);
        case Op::PostFormSync:
            return m_web->PostFormSync(clouddisk::receiveAddress(m_sites->address(Site::CloudDisk)),
                                       clouddisk::receiveBody(u"gv1"_qs), scope);
        }
        return m_web->FetchPageText(QString());
    }
    QString hostOf(Op op) const {
        const Site site = op == Op::PostFormSync                               ? Site::CloudDisk
                          : op == Op::FetchPageText || op == Op::PostFormChunk ? Site::Share
                                                                               : Site::Listing;
        return QUrl(m_sites->address(site)).authority();
    }
    static QString routeOf(Op op) {
        switch (op) {
        case Op::FetchPageText:
            return QStringLiteral("^/new/1\\.html");
        case Op::OpenUrlText:
            return QStringLiteral("^/libao/100201\\.html");
        case Op::OpenUrlDecoded:
            return QStringLiteral("^/libao/index_1\\.html");
        case Op::PostFormChunk:
            return QStringLiteral("^/api/find");
        case Op::PostFormSync:
            return QStringLiteral("^/\\?ct=filegift");
        }
        return {};
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
        QCOMPARE(page.failure, Failure::HttpStatus);
        QVERIFY(!page.ok());
        QCOMPARE(page.reason(), u"HTTP 404"_qs);
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

    // Posts share kept connections, yet none is ever sent twice: a connection dropped just as a
    // post is written fails that post (Qt would send it again on a new one); connections closed
    // while idle are replaced before the post goes.
    void postsKeepTheirConnectionsButNeverRepeat_data() {
        QTest::addColumn<bool>("closedWhileIdle");
        QTest::newRow("dropped as the post is written") << false;
        QTest::newRow("closed while idle") << true;
    }
    void postsKeepTheirConnectionsButNeverRepeat() {
        QFETCH(bool, closedWhileIdle);
        const QString find = url(Site::Share, "/api/find.aspx");
        // Six at once open Qt's six connections to the host, so the next post must take one of
        // them (or one in its place).
        std::vector<QCoro::Task<Fetched>> warm;
        for (int i = 0; i < 6; ++i)
            warm.push_back(m_web->PostFormSync(find, u"hidfileid=30010"_qs + QString::number(i)));
        QVERIFY(runUntil(
            [&] { return std::all_of(warm.begin(), warm.end(), [](auto &t) { return t.isReady(); }); }));
        QCOMPARE(m_sites->requests(Site::Share).size(), 6);
        QCOMPARE(m_sites->openConnections(Site::Share), 6);
        if (closedWhileIdle) {
            m_sites->closeIdleConnections();
            QTRY_COMPARE(m_sites->openConnections(Site::Share), 0); // the client has closed its side too
        } else {
            m_sites->setFault(QStringLiteral("^/api/find"), Fault::DropKept);
        }
        const Fetched last = wait(m_web->PostFormSync(find, u"hidfileid=300199"_qs));
        QCOMPARE(last.ok(), closedWhileIdle);
        const QList<Request> posts = m_sites->requests(Site::Share);
        QCOMPARE(posts.size(), 7); // the last post once
        QCOMPARE(posts.last().body, QByteArray("hidfileid=300199"));
        QCOMPARE(posts.last().connection > 6, closedWhileIdle);
    }

    void everyFailureIsNamed_data() {
        QTest::addColumn<Op>("op");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<int>("status"); // -1: whichever
        QTest::addColumn<QString>("reason");
        const struct {
            const char *name;
            Op op;
        } ops[] = {{"FetchPageText", Op::FetchPageText},
                   {"OpenUrlText", Op::OpenUrlText},
                   {"OpenUrlDecoded", Op::OpenUrlDecoded},
                   {"PostFormChunk", Op::PostFormChunk},
                   {"PostFormSync", Op::PostFormSync}};
        for (const auto &[name, op] : ops) {
            // The find request reads its first 10000 bytes and stops: a long body is no failure.
            const bool firstChunk = op == Op::PostFormChunk;
            const auto row = [name](const char *fault) { return &QTest::addRow("%s %s", name, fault); };
            *row("hang") << op << Fault::Hang << Failure::TimedOut << 0 << u"连接超时 %1"_qs;
            *row("reset") << op << Fault::Reset << Failure::Unreachable << 0 << u"无法连接 %1"_qs;
            *row("404") << op << Fault::NotFound << Failure::HttpStatus << 404 << u"HTTP 404"_qs;
            *row("503") << op << Fault::Unavailable << Failure::HttpStatus << 503 << u"HTTP 503"_qs;
            *row("truncated") << op << Fault::Truncated << Failure::CutShort << 200 << u"内容不完整"_qs;
            *row("truncated gzip") << op << Fault::TruncatedGzip << Failure::CutShort << 200
                                   << u"内容不完整"_qs;
            *row("truncated gzip, chunked")
                << op << Fault::TruncatedGzipChunked << Failure::CutShort << 200 << u"内容不完整"_qs;
            *row("garbage gzip") << op << Fault::GarbageGzip << Failure::BadEncoding << 200
                                 << u"压缩内容损坏"_qs;
            *row("slow redirects") << op << Fault::SlowRedirect << Failure::TimedOut << -1
                                   << u"连接超时 %1"_qs;
            *row("huge title") << op << Fault::HugeTitle << Failure::None << 200 << QString();
            if (firstChunk) {
                *row("oversized") << op << Fault::Oversized << Failure::None << 200 << QString();
                *row("endless") << op << Fault::Endless << Failure::None << 200 << QString();
                *row("gzip bomb") << op << Fault::GzipBomb << Failure::None << 200 << QString();
            } else {
                *row("oversized") << op << Fault::Oversized << Failure::TooLarge << 200 << u"内容过大"_qs;
                *row("endless") << op << Fault::Endless << Failure::TooLarge << 200 << u"内容过大"_qs;
                *row("gzip bomb") << op << Fault::GzipBomb << Failure::TooLarge << 200 << u"内容过大"_qs;
            }
        }
    }
    void everyFailureIsNamed() {
        QFETCH(Op, op);
        QFETCH(Fault, fault);
        QFETCH(Failure, failure);
        QFETCH(int, status);
        QFETCH(QString, reason);
        m_web->setTimeouts(1200, 1200);
        m_web->setCaps(WebClient::kPageCap, 64 * 1024);
        m_sites->setFault(routeOf(op), fault);
        const Fetched fetched = wait(operate(op));
        QCOMPARE(int(fetched.failure), int(failure));
        // Not reaching a site names it ("%1": the operation's host and port).
        QCOMPARE(fetched.reason(), reason.contains(u"%1") ? reason.arg(hostOf(op)) : reason);
        if (status >= 0)
            QCOMPARE(fetched.status, status);
        QCOMPARE(fetched.ok(), failure == Failure::None);
        // The body of an error status is still the answer; every other failure reads as empty.
        QCOMPARE(fetched.text.isEmpty(), failure != Failure::None && failure != Failure::HttpStatus);
        if (fault == Fault::Unavailable) {
            // (The GBK operations read this UTF-8 page as GBK, as required.)
            QVERIFY(op == Op::OpenUrlText || op == Op::PostFormChunk || fetched.text.contains(u"服务器繁忙"));
            QCOMPARE(fetched.retryAfter, sandbox::Sandbox::kRetryAfterSeconds);
        }
        if (fault == Fault::HugeTitle && op == Op::FetchPageText)
            QVERIFY(fetched.text.size() > sandbox::Sandbox::kHugeTitleBytes / 3);
        // The deadline counts over every redirect hop: a few hops of half a second each, not
        // as many as redirects may go.
        QVERIFY(m_sites->requests().size() < WebClient::kMaxRedirects / 2);
        m_sites->clearFaults();
        QVERIFY(wait(operate(op)).ok()); // the client goes on
    }

    void redirectsRefused_data() {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<int>("requests");
        QTest::newRow("to another scheme") << QByteArray("ftp://127.0.0.2/x") << 1;
        QTest::newRow("without end") << QByteArray("/loop") << WebClient::kMaxRedirects + 1;
    }
    void redirectsRefused() {
        QFETCH(QByteArray, location);
        QFETCH(int, requests);
        serve(Site::Listing, "/loop", Response{302, "text/html", {}, {{"Location", location}}});
        const Fetched page = wait(m_web->FetchPageText(url(Site::Listing, "/loop")));
        QCOMPARE(int(page.failure), int(Failure::RedirectRefused));
        QCOMPARE(page.reason(), u"重定向被拒绝"_qs);
        QVERIFY(page.text.isEmpty());
        QCOMPARE(m_sites->requests().size(), requests);
    }

    void compressedBodiesDecode_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("body");
        const QByteArray page = (u"<p>礼包码 gv1234567 大小：1.5 GB</p>"_qs.repeated(500)).toUtf8();
        using sandbox::Packing;
        QTest::newRow("gzip") << QByteArray("gzip") << sandbox::compress(page, Packing::Gzip);
        QTest::newRow("x-gzip") << QByteArray("x-gzip") << sandbox::compress(page, Packing::Gzip);
        QTest::newRow("deflate, zlib-wrapped")
            << QByteArray("deflate") << sandbox::compress(page, Packing::Zlib);
        QTest::newRow("deflate, raw")
            << QByteArray("Deflate") << sandbox::compress(page, Packing::RawDeflate);
        // Two gzip members, as concatenated files give.
        QTest::newRow("gzip, two members") << QByteArray("gzip")
                                           << sandbox::compress(page.left(1000), Packing::Gzip) +
                                                  sandbox::compress(page.mid(1000), Packing::Gzip);
        QTest::newRow("identity") << QByteArray("identity") << page;
        // What follows a finished stream is no part of it.
        QTest::newRow("gzip, then a stray byte")
            << QByteArray("gzip") << sandbox::compress(page, Packing::Gzip) + "\x1F";
    }
    void compressedBodiesDecode() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, body);
        serve(Site::Share, "/packed",
              Response{200, "text/html; charset=utf-8", body, {{"Content-Encoding", encoding}}});
        const Fetched page = wait(m_web->FetchPageText(url(Site::Share, "/packed")));
        QVERIFY(page.ok());
        QCOMPARE(page.text, u"<p>礼包码 gv1234567 大小：1.5 GB</p>"_qs.repeated(500));
        QCOMPARE(m_sites->requests().last().header("Accept-Encoding"), QByteArray("gzip, deflate"));
    }

    // Content-Length beside chunked means nothing: the chunks say where the body ends.
    void chunkedWinsOverContentLength_data() {
        QTest::addColumn<qint64>("announced");
        QTest::newRow("shorter") << qint64(10);
        QTest::newRow("longer") << qint64(100000);
        QTest::newRow("past the cap") << WebClient::kSmallCap + 1;
    }
    void chunkedWinsOverContentLength() {
        QFETCH(qint64, announced);
        const QByteArray body = QByteArray("<p>礼包码 gv1234567</p>").repeated(100);
        Response response{
            200, "text/html; charset=utf-8", body, {{"Content-Length", QByteArray::number(announced)}}};
        response.stream = [] { return QByteArray(); };
        serve(Site::Listing, "/both", response);
        const Fetched page =
            wait(m_web->OpenUrlText(url(Site::Listing, "/both"), nullptr, WebClient::Size::Small));
        QCOMPARE(page.reason(), QString());
        QCOMPARE(page.text, QString::fromUtf8(body));
    }

    void memoryStaysBoundedByTheCap_data() {
        QTest::addColumn<Op>("op");
        QTest::newRow("page") << Op::OpenUrlDecoded;
        QTest::newRow("form post") << Op::PostFormSync;
    }
    void memoryStaysBoundedByTheCap() {
        QFETCH(Op, op);
        // 3 GiB sent as fast as it is read, by sites on a thread of their own so that they do
        // not wait for this thread's turns: the client stops at the 16 MiB cap and has never
        // held much more than that (Qt, unbounded, buffers hundreds of MiB ahead).
        QThread thread;
        QObject context;
        context.moveToThread(&thread);
        thread.start();
        std::unique_ptr<sandbox::Sandbox> far;
        QMetaObject::invokeMethod(
            &context,
            [&] {
                far = std::make_unique<sandbox::Sandbox>(7);
                QVERIFY(far->start());
                far->setFault(routeOf(op), Fault::Endless);
            },
            Qt::BlockingQueuedConnection);
        const auto sites = qScopeGuard([&] {
            QMetaObject::invokeMethod(
                &context, [&] { far.reset(); }, Qt::BlockingQueuedConnection);
            thread.quit();
            thread.wait();
        });
        const qint64 before = peakResidentMiB();
        const Fetched page =
            wait(op == Op::PostFormSync
                     ? m_web->PostFormSync(clouddisk::receiveAddress(far->address(Site::CloudDisk)),
                                           clouddisk::receiveBody(u"gv1"_qs))
                     : m_web->OpenUrlDecoded(far->address(Site::Listing) + u"/libao/index_1.html"));
        QCOMPARE(int(page.failure), int(Failure::TooLarge));
        QVERIFY(page.text.isEmpty());
        QVERIFY2(peakResidentMiB() - before < 100, qPrintable(QString::number(peakResidentMiB() - before)));
    }

    void smallPagesHaveASmallerCap() {
        m_web->setCaps(256 * 1024, 16 * 1024);
        serve(Site::Listing, "/detail", page("text/html", QByteArray(20 * 1024, 'x')));
        QCOMPARE(int(wait(m_web->OpenUrlText(url(Site::Listing, "/detail"), nullptr, WebClient::Size::Small))
                         .failure),
                 int(Failure::TooLarge));
        QCOMPARE(wait(m_web->OpenUrlText(url(Site::Listing, "/detail"))).text.size(), 20 * 1024);
    }

    void refusedAndInvalidAddressesReadAsEmpty_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason"); // names the host that was tried, as its address gave it
        QTest::newRow("refused") << u"http://127.0.0.9:1/x"_qs << u"无法连接 127.0.0.9:1"_qs;
        QTest::newRow("no port given") << u"http://127.0.0.9/x"_qs << u"无法连接 127.0.0.9"_qs;
        QTest::newRow("not a url") << u"not a url"_qs << u"无法连接"_qs;
        QTest::newRow("not http") << u"ftp://127.0.0.2/x"_qs << u"无法连接"_qs;
    }
    void refusedAndInvalidAddressesReadAsEmpty() {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        const Fetched page = wait(m_web->FetchPageText(address));
        QCOMPARE(int(page.failure), int(Failure::Unreachable));
        QVERIFY(page.text.isEmpty());
        QCOMPARE(page.reason(), reason);
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
        QVERIFY(result.failure == Failure::Cancelled && result.text.isEmpty());
        QCOMPARE(result.reason(), u"已取消"_qs);
        QCOMPARE(int(wait(m_web->FetchPageText(url(Site::Listing, "/slow2"), &scope)).failure),
                 int(Failure::Cancelled));
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
        QVERIFY(done && result.failure == Failure::Cancelled);
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
        QVERIFY(reply.failure == Failure::RedirectRefused && reply.text.isEmpty());
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

    void hostDownAfterThreeTimeOuts() {
        m_web->setTimeouts(300, 300);
        m_sites->setFault(QStringLiteral("^/lb/"), Fault::Hang);
        RequestScope scope;
        scope.watchHosts();
        QSignalSpy down(&scope, &RequestScope::hostDown);
        // Eight gift pages at once (Qt sends six, queues two): three time out, and the rest end
        // with them instead of each waiting out its own deadline.
        std::vector<Fetched> results(8);
        int done = 0;
        std::vector<QCoro::Task<>> tasks;
        for (int i = 0; i < 8; ++i) {
            tasks.push_back([](QCoro::Task<Fetched> task, Fetched &out, int &count) -> QCoro::Task<> {
                out = co_await task;
                ++count;
            }(m_web->FetchPageText(url(Site::CloudDisk, "/lb/gv") + QString::number(i), &scope), results[i],
                                                                                    done));
        }
        QVERIFY(runUntil([&] { return done == 8; }, 5000));
        const auto count = [&](Failure failure) {
            return std::count_if(results.begin(), results.end(),
                                 [&](const Fetched &r) { return r.failure == failure; });
        };
        QCOMPARE(count(Failure::TimedOut), 3);
        QCOMPARE(count(Failure::HostDown), 5);
        const QString host = QUrl(m_sites->address(Site::CloudDisk)).authority();
        QCOMPARE(results.back().reason(), u"站点无响应 " + host);
        QCOMPARE(down.count(), 1);
        QCOMPARE(down.first().first().toString(), host);

        // Later requests to it fail at once, unsent; other hosts, and other work, go on.
        const qsizetype sent = m_sites->requests(Site::CloudDisk).size();
        QCOMPARE(int(wait(m_web->FetchPageText(url(Site::CloudDisk, "/"), &scope)).failure),
                 int(Failure::HostDown));
        QCOMPARE(m_sites->requests(Site::CloudDisk).size(), sent);
        QVERIFY(wait(m_web->FetchPageText(url(Site::Share, "/new/1.html"), &scope)).ok());
        QVERIFY(wait(m_web->FetchPageText(url(Site::CloudDisk, "/"))).ok());
        QCOMPARE(down.count(), 1);
    }

    void hostDownCountsTimeOutsInARow_data() {
        QTest::addColumn<bool>("watched");
        QTest::addColumn<QString>("steps"); // t: a time-out, a: an answer, u: unreachable
        QTest::addColumn<int>("downAfter"); // the step after which the host is down; -1: never
        QTest::newRow("three") << true << u"ttt"_qs << 2;
        QTest::newRow("two") << true << u"tt"_qs << -1;
        QTest::newRow("an answer starts again") << true << u"ttatt"_qs << -1;
        QTest::newRow("then three more") << true << u"ttattt"_qs << 5;
        QTest::newRow("an error status is an answer") << true << u"tt4tt"_qs << -1;
        QTest::newRow("not watched") << false << u"tttt"_qs << -1;
    }
    void hostDownCountsTimeOutsInARow() {
        QFETCH(bool, watched);
        QFETCH(QString, steps);
        QFETCH(int, downAfter);
        m_web->setTimeouts(200, 200);
        m_sites->setFault(QStringLiteral("^/hang"), Fault::Hang);
        m_sites->setFault(QStringLiteral("^/missing"), Fault::NotFound);
        RequestScope scope;
        if (watched)
            scope.watchHosts();
        QSignalSpy down(&scope, &RequestScope::hostDown);
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const char *path = steps[i] == u't'   ? "/hang"
                               : steps[i] == u'a' ? "/libao/index_0.html"
                                                  : "/missing";
            const Fetched fetched = wait(m_web->OpenUrlDecoded(url(Site::Listing, path), &scope));
            QCOMPARE(int(fetched.failure), int(steps[i] == u't'   ? Failure::TimedOut
                                               : steps[i] == u'a' ? Failure::None
                                                                  : Failure::HttpStatus));
            QCOMPARE(down.count(), downAfter >= 0 && i >= downAfter ? 1 : 0);
        }
    }

    void conditionalRequests_data() {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("share page") << Op::FetchPageText << QByteArray("/new/1.html");
        QTest::newRow("listing page") << Op::OpenUrlDecoded << QByteArray("/libao/index_1.html");
    }
    void conditionalRequests() {
        QFETCH(Op, op);
        QFETCH(QByteArray, path);
        const Fetched first = wait(operate(op));
        QVERIFY(first.ok());
        QVERIFY(!first.etag.isEmpty());
        QCOMPARE(first.lastModified, sandbox::Sandbox::firstModified());
        QCOMPARE(first.retryAfter, -1);

        // The validators given back, alone or together, ask "only if changed".
        const QDateTime lastModified = first.lastModified;
        for (const Validators &validators :
             {first.validators(), Validators{first.etag, {}}, Validators{{}, lastModified},
              Validators{{}, lastModified.addDays(1)}}) {
            const Fetched again = wait(operate(op, nullptr, validators));
            QVERIFY(again.notModified());
            QCOMPARE(again.status, 304);
            QVERIFY(again.text.isEmpty() && !again.ok() && again.reason().isEmpty());
            QCOMPARE(again.etag, first.etag);
        }
        const Request asked = m_sites->requests().last();
        QCOMPARE(asked.path(), path);
        QCOMPARE(asked.header("If-Modified-Since"), QByteArray("Mon, 02 Nov 2026 08:00:00 GMT"));
        QVERIFY(asked.header("If-None-Match").isEmpty());

        // An older date, or another tag, gets the page.
        for (const Validators &validators :
             {Validators{{}, lastModified.addSecs(-1)}, Validators{"\"other\"", lastModified}}) {
            const Fetched again = wait(operate(op, nullptr, validators));
            QVERIFY(again.ok());
            QCOMPARE(again.text, first.text);
        }
    }

    void fixedIfModifiedSinceStaysWithoutADate() {
        wait(m_web->FetchPageText(url(Site::Share, "/new/1.html"), nullptr, WebClient::Size::Page,
                                  Validators{"\"x\"", {}}));
        QCOMPARE(m_sites->requests().last().header("If-Modified-Since"), QByteArray("0"));
        QCOMPARE(m_sites->requests().last().header("If-None-Match"), QByteArray("\"x\""));
        wait(m_web->OpenUrlDecoded(url(Site::Listing, "/libao/index_1.html")));
        QVERIFY(m_sites->requests().last().header("If-Modified-Since").isEmpty());
    }

    void pageOneChangesEveryKRequests_data() {
        QTest::addColumn<Op>("op");
        QTest::addColumn<int>("firstNewId");
        QTest::newRow("share page") << Op::FetchPageText << 390001;
        QTest::newRow("listing page") << Op::OpenUrlDecoded << 190001;
    }
    void pageOneChangesEveryKRequests() {
        QFETCH(Op, op);
        QFETCH(int, firstNewId);
        const QString newTitle = m_sites->titleFor(firstNewId + 1);
        m_sites->setPageOneChangesEvery(2);
        QList<Fetched> seen;
        for (int i = 0; i < 5; ++i)
            seen.append(wait(operate(op, nullptr, i > 0 ? seen.last().validators() : Validators{})));
        // Requests 1-2 see the page as it was, 3-4 with one new resource, 5 with two.
        QVERIFY(seen[0].ok() && seen[1].notModified() && seen[2].ok() && seen[3].notModified() &&
                seen[4].ok());
        QVERIFY(seen[0].etag != seen[2].etag && seen[2].etag != seen[4].etag);
        QCOMPARE(seen[2].lastModified, seen[0].lastModified.addSecs(60));
        QVERIFY(!seen[2].text.contains(newTitle) && seen[4].text.contains(newTitle));
        QVERIFY(seen[4].text.indexOf(newTitle) < seen[4].text.indexOf(m_sites->titleFor(firstNewId)));
    }

    void httpDates_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QDateTime>("time");
        const QDateTime time(QDate(1994, 11, 6), QTime(8, 49, 37), QTimeZone::utc());
        QTest::newRow("IMF-fixdate") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << time;
        QTest::newRow("RFC 850") << QByteArray("Sunday, 06-Nov-94 08:49:37 GMT") << time;
        QTest::newRow("asctime") << QByteArray("Sun Nov  6 08:49:37 1994") << time;
        QTest::newRow("no such day") << QByteArray("Sun, 31 Feb 1994 08:49:37 GMT") << QDateTime();
        QTest::newRow("not GMT") << QByteArray("Sun, 06 Nov 1994 08:49:37 +0800") << QDateTime();
        QTest::newRow("zero") << QByteArray("0") << QDateTime();
    }
    void httpDates() {
        QFETCH(QByteArray, text);
        QFETCH(QDateTime, time);
        QCOMPARE(httpdate::parse(text), time);
        if (time.isValid())
            QCOMPARE(httpdate::parse(httpdate::format(time)), time);
    }

    void retryAfter_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("seconds");
        QTest::newRow("seconds") << QByteArray("120") << 120;
        QTest::newRow("spaced") << QByteArray(" 7 ") << 7;
        QTest::newRow("a date ahead") << QByteArray("Sun, 06 Nov 1994 08:51:37 GMT") << 120;
        QTest::newRow("a date gone") << QByteArray("Sun, 06 Nov 1994 08:00:00 GMT") << 0;
        QTest::newRow("huge") << QByteArray("99999999999") << std::numeric_limits<int>::max();
        QTest::newRow("negative") << QByteArray("-5") << -1;
        QTest::newRow("words") << QByteArray("soon") << -1;
        QTest::newRow("absent") << QByteArray() << -1;
    }
    void retryAfter() {
        QFETCH(QByteArray, value);
        QFETCH(int, seconds);
        const QDateTime now(QDate(1994, 11, 6), QTime(8, 49, 37), QTimeZone::utc());
        QCOMPARE(httpdate::retryAfterSeconds(value, now), seconds);
    }

    void bodyReader_data() {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<bool>("bomb");
        using sandbox::Packing;
        using S = BodyReader::State;
        const QByteArray page = QByteArray("<li>礼包 gv1234567</li>\n").repeated(400);
        const QByteArray gzip = sandbox::compress(page, Packing::Gzip);
        QByteArray noise(256 * 1024, '\0');
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 2654435761u) >> 13);
        QTest::newRow("plain") << QByteArray() << page << qint64(page.size()) << int(S::Reading) << true
                               << false;
        QTest::newRow("plain, past the cap")
            << QByteArray() << page << qint64(100) << int(S::Full) << true << false;
        QTest::newRow("gzip") << QByteArray("gzip") << gzip << qint64(page.size()) << int(S::Reading) << true
                              << false;
        QTest::newRow("raw deflate") << QByteArray("deflate") << sandbox::compress(page, Packing::RawDeflate)
                                     << qint64(page.size()) << int(S::Reading) << true << false;
        const QByteArray halves = sandbox::compress(page.first(page.size() / 2), Packing::Gzip) +
                                  sandbox::compress(page.sliced(page.size() / 2), Packing::Gzip);
        QTest::newRow("gzip, two members")
            << QByteArray("gzip") << halves << qint64(page.size()) << int(S::Reading) << true << false;
        QTest::newRow("gzip, second member cut") << QByteArray("gzip") << halves.chopped(4)
                                                 << qint64(page.size()) << int(S::Reading) << false << false;
        for (const char *after : {"\x1F", "\x1F\x8B", "\x1F\x8B\x09", "\n", "</html>"})
            QTest::addRow("gzip, then %s", QByteArray(after).toPercentEncoding().constData())
                << QByteArray("gzip") << gzip + after << qint64(page.size()) << int(S::Reading) << true
                << false;
        QTest::newRow("gzip cut") << QByteArray("gzip") << gzip.left(gzip.size() / 2) << qint64(page.size())
                                  << int(S::Reading) << false << false;
        QTest::newRow("gzip without its trailer") << QByteArray("gzip") << gzip.chopped(8)
                                                  << qint64(page.size()) << int(S::Reading) << false << false;
        QByteArray badCheck = gzip;
        badCheck[badCheck.size() - 6] = char(badCheck[badCheck.size() - 6] ^ 1);
        QTest::newRow("gzip, wrong check")
            << QByteArray("gzip") << badCheck << qint64(page.size()) << int(S::Corrupt) << false << false;
        QTest::newRow("not gzip") << QByteArray("gzip") << page << qint64(page.size()) << int(S::Corrupt)
                                  << false << false;
        QTest::newRow("brotli, never asked for")
            << QByteArray("br") << page << qint64(page.size()) << int(S::Corrupt) << false << false;
        QTest::newRow("gzip twice") << QByteArray("gzip, gzip") << gzip << qint64(page.size())
                                    << int(S::Corrupt) << false << false;
        QTest::newRow("zeros: a bomb")
            << QByteArray("gzip") << sandbox::compress(QByteArray(4 * 1024 * 1024, '\0'), Packing::Gzip)
            << qint64(1024 * 1024) << int(S::Full) << false << true;
        // Under a cap far larger, a bomb is stopped once it has shown what it is.
        QTest::newRow("zeros under a large cap: a bomb, stopped early")
            << QByteArray("gzip") << sandbox::compress(QByteArray(32 * 1024 * 1024, '\0'), Packing::Gzip)
            << qint64(16 * 1024 * 1024) << int(S::Full) << false << true;
        QTest::newRow("noise past the cap: large, no bomb")
            << QByteArray("gzip") << sandbox::compress(noise, Packing::Gzip) << qint64(64 * 1024)
            << int(S::Full) << false << false;
    }
    void bodyReader() {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, wire);
        QFETCH(qint64, cap);
        QFETCH(int, state);
        QFETCH(bool, ended);
        QFETCH(bool, bomb);
        // Bytes come in any pieces: one at a time, a few, or all at once.
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), wire.size()}) {
            BodyReader reader(cap, encoding);
            for (qsizetype at = 0; at < wire.size() && reader.take(QByteArrayView(wire).sliced(
                                                           at, qMin(piece, wire.size() - at)));)
                at += piece;
            QCOMPARE(int(reader.state()), state);
            QCOMPARE(reader.streamEnded(), ended);
            QCOMPARE(reader.isBomb(), bomb);
            // Never past the cap; a bomb not much past the point where it shows.
            QVERIFY(reader.size() <=
                    (bomb ? qMin(cap + 1, BodyReader::kBombCheckBytes + 64 * 1024) : cap + 1));
            if (state == int(BodyReader::State::Reading) && ended)
                QCOMPARE(reader.takeBody(), QByteArray("<li>礼包 gv1234567</li>\n").repeated(400));
        }
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
