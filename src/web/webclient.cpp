#include "web/webclient.h"

#include "text/text.h"
#include "web/cookiejar.h"
#include "web/redirects.h"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

Q_LOGGING_CATEGORY(lcWeb, "giftvane.web")

namespace {

const QByteArray kFormContentType = QByteArrayLiteral("application/x-www-form-urlencoded");

bool isTransportFailure(QNetworkReply::NetworkError error) {
    // Content (2xx) and server (4xx) error codes only mirror the HTTP status; the body stands.
    const int code = static_cast<int>(error);
    const bool httpStatus = (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
    return error != QNetworkReply::NoError && !httpStatus;
}

bool isHttp(const QUrl &url) {
    return url.isValid() && !url.host().isEmpty() && (url.scheme() == u"http" || url.scheme() == u"https");
}

// An operation's own scope: the caller's scope and the client's end both abort it.
void follow(RequestScope &operation, RequestScope *caller, RequestScope &closing) {
    QObject::connect(&closing, &RequestScope::aborted, &operation, &RequestScope::abort);
    if (closing.isAborted())
        operation.abort();
    if (caller) {
        QObject::connect(caller, &RequestScope::aborted, &operation, &RequestScope::abort);
        if (caller->isAborted())
            operation.abort();
    }
}

} // namespace

WebClient::WebClient(QObject *parent)
    : QObject(parent)
    , m_jar(new CookieJar(this)) {
    m_manager.setCookieJar(m_jar);
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

WebClient::~WebClient() {
    // Whoever still awaits a request goes on, before the replies go with the manager.
    m_closing.abort();
}

void WebClient::setTimeouts(int deadlineMs, int idleMs) {
    m_deadlineMs = deadlineMs;
    m_idleMs = idleMs;
}

void WebClient::setCaps(qint64 pageBytes, qint64 smallBytes) {
    m_pageCap = pageBytes;
    m_smallCap = smallBytes;
}

QCoro::Task<WebClient::Reply> WebClient::send(Exchange exchange, RequestScope &operation) {
    // The deadline covers the whole exchange, every redirect hop included.
    RequestScope wait;
    connect(&operation, &RequestScope::aborted, &wait, &RequestScope::abort);
    QTimer::singleShot(m_deadlineMs, &wait, [&wait] { wait.abort(); });
    const bool formPost = exchange.verb != "GET";

    QUrl url(exchange.url, QUrl::TolerantMode);
    for (int hops = 0; hops <= kMaxRedirects; ++hops) {
        if (!isHttp(url) || operation.isAborted())
            co_return Reply{};

        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(m_idleMs);
        for (const auto &[name, value] : exchange.headers)
            request.setRawHeader(name, value);
        QNetworkReply *reply = exchange.verb == "GET"
                                   ? m_manager.get(request)
                                   : m_manager.sendCustomRequest(request, exchange.verb, exchange.body);

        // Read as the body arrives: one byte past the limit tells a body that is too large.
        QByteArray received;
        bool overLimit = false;
        const auto drain = [&] {
            if (!reply->isOpen() || overLimit)
                return; // aborted: nothing more to read
            received += reply->read(exchange.limit + 1 - received.size());
            if (received.size() > exchange.limit) {
                overLimit = true;
                reply->abort();
            }
        };
        const auto draining = connect(reply, &QNetworkReply::readyRead, reply, drain);
        // A body announced larger than the cap is refused before it comes.
        const auto sizing = connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
            const QByteArray length = reply->rawHeader("Content-Length");
            if (!exchange.firstChunk && !overLimit && !length.isEmpty() &&
                reply->rawHeader("Content-Encoding").isEmpty() && length.toLongLong() > exchange.limit) {
                overLimit = true;
                reply->abort();
            }
        });
        bool answered = reply->isFinished();
        if (!answered)
            answered = co_await wait.until(reply, &QNetworkReply::finished);
        if (answered)
            drain();
        disconnect(draining);
        disconnect(sizing);
        if (!answered)
            reply->abort();
        reply->deleteLater();
        if (!answered)
            co_return Reply{}; // cancelled, the client going, or past the deadline

        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        if (overLimit) {
            if (!exchange.firstChunk) {
                qCDebug(lcWeb) << exchange.verb << url.toString() << "cut at" << exchange.limit << "bytes";
                co_return Reply{};
            }
            received.truncate(exchange.limit);
            co_return Reply{false, status, received, contentType};
        }
        // A connection closed before the announced length has been read is no whole reply,
        // however the closing reached Qt.
        const QByteArray announced = reply->rawHeader("Content-Length");
        const bool shortBody = !announced.isEmpty() && status != 204 && status != 304 &&
                               reply->rawHeader("Content-Encoding").isEmpty() &&
                               announced.toLongLong() != received.size();
        if (isTransportFailure(reply->error()) || shortBody) {
            qCDebug(lcWeb) << exchange.verb << url.toString() << "failed:" << reply->error();
            co_return Reply{};
        }
        redirects::Hop next{url, exchange.verb, exchange.body, exchange.headers};
        switch (redirects::next(next, status, reply->rawHeader("Location"), formPost)) {
        case redirects::Verdict::NotARedirect:
            co_return Reply{false, status, received, contentType};
        case redirects::Verdict::Refuse:
            qCDebug(lcWeb) << exchange.verb << url.toString() << "redirect refused";
            co_return Reply{};
        case redirects::Verdict::Follow:
            break;
        }
        url = next.url;
        exchange.verb = next.verb;
        exchange.body = next.body;
        exchange.headers = next.headers;
    }
    co_return Reply{}; // too many redirects
}

QCoro::Task<QString> WebClient::decode(QByteArray body, text::TextDecoder decoder, RequestScope &operation) {
    if (body.size() <= kDecodeSlice)
        co_return decoder.decode(body) + decoder.finish();
    // A large body in slices, so the window keeps answering meanwhile; the decoder carries a
    // character cut at a slice's end over to the next.
    QString text;
    for (qsizetype at = 0; at < body.size(); at += kDecodeSlice) {
        text += decoder.decode(QByteArrayView(body).sliced(at, qMin(kDecodeSlice, body.size() - at)));
        if (!co_await operation.nextTurn())
            co_return QString();
    }
    co_return text + decoder.finish();
}

QCoro::Task<Fetched> WebClient::fetch(Exchange exchange, Decoding decoding, RequestScope *scope) {
    RequestScope operation;
    follow(operation, scope, m_closing);
    Reply reply = co_await send(std::move(exchange), operation);
    if (reply.failed || operation.isAborted())
        co_return Fetched{};
    text::TextDecoder decoder =
        text::replyDecoder(reply.body, reply.contentType,
                           decoding == Decoding::Gbk ? text::Fallback::Gbk : text::Fallback::Sniffed);
    QString text = co_await decode(std::move(reply.body), std::move(decoder), operation);
    if (operation.isAborted())
        co_return Fetched{};
    co_return Fetched{std::move(text), false, reply.status};
}

QCoro::Task<Fetched> WebClient::FetchPageText(QString url, RequestScope *scope, Size size) {
    // Built outside the co_await: GCC 12 miscompiles braced lists inside it.
    Exchange exchange{"GET", url, {{"If-Modified-Since", "0"}}, {}, cap(size)};
    co_return co_await fetch(std::move(exchange), Decoding::Sniffed, scope);
}

QCoro::Task<Fetched> WebClient::OpenUrlText(QString url, RequestScope *scope, Size size) {
    Exchange exchange{"GET", url, {}, {}, cap(size)};
    co_return co_await fetch(std::move(exchange), Decoding::Gbk, scope);
}

QCoro::Task<Fetched> WebClient::OpenUrlDecoded(QString url, RequestScope *scope, Size size) {
    Exchange exchange{"GET", url, {}, {}, cap(size)};
    co_return co_await fetch(std::move(exchange), Decoding::Sniffed, scope);
}

QCoro::Task<Fetched> WebClient::PostFormChunk(QString url, QString body, RequestScope *scope) {
    Exchange exchange{"POST",      url, {{"Content-Type", kFormContentType}}, text::encodeGbk(body),
                      kChunkBytes, true};
    co_return co_await fetch(std::move(exchange), Decoding::Gbk, scope);
}

QCoro::Task<Fetched> WebClient::PostFormSync(QString url, QString body, RequestScope *scope) {
    Exchange exchange{"POST", url, {{"Content-Type", kFormContentType}}, body.toUtf8(), m_pageCap};
    co_return co_await fetch(std::move(exchange), Decoding::Sniffed, scope);
}
