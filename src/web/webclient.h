#pragma once

#include "text/encoding.h"
#include "web/redirects.h"
#include "web/requestscope.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPair>
#include <QString>

#include <qcoro/qcorotask.h>

class CookieJar;

// What one request operation gave back.
struct Fetched {
    QString text;       // the reply as text; empty when the request failed
    bool failed = true; // no complete reply: no connection, time-out, refused redirect, cut at the cap
    int status = 0;     // the HTTP status of the last reply
    // Read in full and answered with success.
    bool ok() const { return !failed && status >= 200 && status <= 299; }
};

// The program's HTTP client: one QNetworkAccessManager, one cookie jar, five request
// operations. A failed request reads as empty text; an HTTP error status is not a failure and
// its body is returned (callers that need a success look at Fetched::ok()).
//
// Every request has a deadline counted from its start over all its redirect hops, an idle
// time-out between bytes, and a body cap: a body larger than the cap is a failure. Qt follows
// no redirect by itself: a redirect within the same origin is followed as Qt would; one to
// another host becomes a new request carrying only that host's cookies and none of our
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

    // Which cap a request has: pages of many resources, or pages about one.
    enum class Size { Page, Small };

    explicit WebClient(QObject *parent = nullptr);
    ~WebClient() override;

    CookieJar *cookieJar() const { return m_jar; }

    // Deadline from the start of each request, and the idle time-out between bytes.
    void setTimeouts(int deadlineMs, int idleMs);
    void setCaps(qint64 pageBytes, qint64 smallBytes);

    // GET with "If-Modified-Since: 0".
    QCoro::Task<Fetched> FetchPageText(QString url, RequestScope *scope = nullptr, Size size = Size::Page);
    // GET; GBK unless the reply names its encoding.
    QCoro::Task<Fetched> OpenUrlText(QString url, RequestScope *scope = nullptr, Size size = Size::Page);
    // GET.
    QCoro::Task<Fetched> OpenUrlDecoded(QString url, RequestScope *scope = nullptr, Size size = Size::Page);
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
    };
    struct Reply {
        bool failed = true;
        int status = 0;
        QByteArray body;
        QByteArray contentType;
    };
    // How a reply that names no encoding is read (one that names one is read in it): as GBK,
    // or sniffed (UTF-8 when the bytes look like it, else GBK).
    enum class Decoding { Gbk, Sniffed };

    // One operation: the exchange, then its body decoded.
    QCoro::Task<Fetched> fetch(Exchange exchange, Decoding decoding, RequestScope *scope);
    // The one place where requests are made: caps, deadline and the redirect rules.
    QCoro::Task<Reply> send(Exchange exchange, RequestScope &operation);
    QCoro::Task<QString> decode(QByteArray body, text::TextDecoder decoder, RequestScope &operation);
    qint64 cap(Size size) const { return size == Size::Page ? m_pageCap : m_smallCap; }

    RequestScope m_closing; // aborted when the client goes
    QNetworkAccessManager m_manager;
    CookieJar *m_jar;
    int m_deadlineMs = kDefaultTimeoutMs;
    int m_idleMs = kDefaultTimeoutMs;
    qint64 m_pageCap = kPageCap;
    qint64 m_smallCap = kSmallCap;
};
