#pragma once

#include "text/encoding.h"
#include "web/fetched.h"
#include "web/redirects.h"
#include "web/requestscope.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPair>
#include <QString>

#include <qcoro/qcorotask.h>

class BodyReader;
class CookieJar;
class QNetworkReply;

// The program's HTTP client: one QNetworkAccessManager for pages and one for form posts, one
// cookie jar, five request operations. A failed request reads as empty text and says why (Fetched::failure,
// reason()); the body of an HTTP error status is still returned, though the result is not ok().
//
// Every request has a deadline counted from its start over all its redirect hops, an idle
// time-out between bytes, and a body cap: a body larger than the cap is a failure, and no more
// than the cap is ever held, however the body comes (announced, chunked, compressed). Gzip and
// deflate are asked for by us and decompressed here, so a broken or unfinished compressed body
// is a failure, not a short page. A scope that watches hosts (RequestScope::watchHosts) stops
// sending to a host that keeps timing out.
//
// Qt follows no redirect by itself: a redirect within the same origin is followed as Qt would;
// one to another host becomes a new request carrying only that host's cookies and none of our
// headers; at most 20 hops, never from HTTPS down to HTTP, and a form post is never sent on
// to another host. Large bodies are decoded in slices between turns of the event loop.
//
// Every reply is decoded as browsers decode it (text/encoding.h): in the encoding its
// byte-order mark, its Content-Type charset or a <meta> in its first 1024 bytes names; a reply
// that names none is read as GBK by OpenUrlText and PostFormChunk and sniffed by the others.
class WebClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebClient)

public:
    static constexpr int kDefaultTimeoutMs = 60000;
    static constexpr qint64 kPageCap = 16 * 1024 * 1024; // listing, search and share pages, replies
    static constexpr qint64 kSmallCap = 1024 * 1024;     // detail, download and gift pages
    static constexpr int kMaxRedirects = 20;
    static constexpr qsizetype kChunkBytes = 10000;
    static constexpr qsizetype kDecodeSlice = 256 * 1024;
    static constexpr qsizetype kLongestEtag = 1024;
    // Qt keeps at most this much of a reply unread, so a fast sender cannot fill memory.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;
    // After a body this large, freed memory goes back to the system.
    static constexpr qint64 kTrimAfterBytes = 4 * 1024 * 1024;

    // Which cap a request has: pages of many resources, or pages about one.
    enum class Size { Page, Small };

    explicit WebClient(QObject *parent = nullptr);
    ~WebClient() override;

    CookieJar *cookieJar() const { return m_jar; }

    // Deadline from the start of each request, and the idle time-out between bytes.
    void setTimeouts(int deadlineMs, int idleMs);
    void setCaps(qint64 pageBytes, qint64 smallBytes);

    // GET with "If-Modified-Since: 0", or the validators' date; with validators, an unchanged
    // page answers notModified().
    QCoro::Task<Fetched> FetchPageText(QString url, RequestScope *scope = nullptr, Size size = Size::Page,
                                       Validators validators = {});
    // GET; GBK unless the reply names its encoding.
    QCoro::Task<Fetched> OpenUrlText(QString url, RequestScope *scope = nullptr, Size size = Size::Page);
    // GET; conditional as FetchPageText.
    QCoro::Task<Fetched> OpenUrlDecoded(QString url, RequestScope *scope = nullptr, Size size = Size::Page,
                                        Validators validators = {});
    // Form POST; only the first 10000 bytes of the reply are read, GBK unless it names its
    // encoding.
    QCoro::Task<Fetched> PostFormChunk(QString url, QString body, RequestScope *scope = nullptr);
    // Form POST; the whole reply.
    QCoro::Task<Fetched> PostFormSync(QString url, QString body, RequestScope *scope = nullptr);

private:
    using Headers = redirects::Headers;
    struct Exchange {
        QByteArray verb;
        QString url;
        Headers headers;
        QByteArray body;
        qint64 limit = kPageCap;
        bool firstChunk = false; // read `limit` bytes and stop: not a failure
        qint64 *held = nullptr;  // set to the most body bytes held at once
    };
    struct Reply {
        Fetched outcome; // everything but the text
        QByteArray body;
        QByteArray contentType;
    };
    // How a reply that names no encoding is read (one that names one is read in it): as GBK,
    // or sniffed (UTF-8 when the bytes look like it, else GBK).
    enum class Decoding { Gbk, Sniffed };

    // One operation from start to end; memory that a large body took goes back afterwards.
    QCoro::Task<Fetched> run(Exchange exchange, Decoding decoding, RequestScope *scope);
    // One operation: the exchange, then its body decoded.
    QCoro::Task<Fetched> fetch(Exchange exchange, Decoding decoding, RequestScope *scope);
    // Sends one request of an exchange, as Qt should send it.
    QNetworkReply *issue(const QUrl &url, const Exchange &exchange);
    // What a finished reply amounts to: its validators, and its failure if it is one.
    static Fetched judge(const QNetworkReply &reply, const BodyReader *body, bool announcedTooLarge,
                         bool firstChunk);
    // The one place where requests are made: caps, deadline, the redirect rules, and the
    // caller's host watch.
    QCoro::Task<Reply> send(Exchange exchange, RequestScope &operation, RequestScope *caller);
    QCoro::Task<QString> decode(QByteArray body, text::TextDecoder decoder, RequestScope &operation);
    qint64 cap(Size size) const { return size == Size::Page ? m_pageCap : m_smallCap; }

    RequestScope m_closing; // aborted when the client goes
    QNetworkAccessManager m_manager;
    // Posts keep to connections of their own, so they never wait behind a host's page requests.
    QNetworkAccessManager m_postManager;
    CookieJar *m_jar;
    int m_deadlineMs = kDefaultTimeoutMs;
    int m_idleMs = kDefaultTimeoutMs;
    qint64 m_pageCap = kPageCap;
    qint64 m_smallCap = kSmallCap;
};
