#include "web/webclient.h"

#include "text/text.h"
#include "web/cookiejar.h"
#include "web/requestscope.h"

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

bool sameOrigin(const QUrl &a, const QUrl &b) {
    return a.scheme() == b.scheme() && a.host() == b.host() &&
           a.port(a.scheme() == u"https" ? 443 : 80) == b.port(b.scheme() == u"https" ? 443 : 80);
}

bool isHttp(const QUrl &url) {
    return url.isValid() && !url.host().isEmpty() && (url.scheme() == u"http" || url.scheme() == u"https");
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

QCoro::Task<WebClient::Reply> WebClient::send(QByteArray verb, QString address, Headers headers,
                                              QByteArray body, qint64 readLimit, RequestScope *scope) {
    // This request's own wait: the caller's scope and the client's end both abort it, and the
    // coroutine resumes at once instead of when the aborted reply gets round to finishing.
    RequestScope wait;
    connect(&m_closing, &RequestScope::aborted, &wait, &RequestScope::abort);
    if (scope)
        connect(scope, &RequestScope::aborted, &wait, &RequestScope::abort);
    QUrl url(address, QUrl::TolerantMode);
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        if (!isHttp(url) || wait.isAborted() || (scope && scope->isAborted()) || m_closing.isAborted())
            co_return Reply{};

        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(m_idleMs);
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        QNetworkReply *reply =
            verb == "GET" ? m_manager.get(request) : m_manager.sendCustomRequest(request, verb, body);

        QByteArray received;
        bool capped = false;
        const auto drain = [&] {
            if (!reply->isOpen())
                return; // aborted: nothing more to read
            received += reply->read(readLimit - received.size());
            if (received.size() >= readLimit && !capped) {
                capped = true;
                reply->abort();
            }
        };
        const auto draining = connect(reply, &QNetworkReply::readyRead, reply, drain);
        QTimer::singleShot(m_deadlineMs, reply, [reply] { reply->abort(); });

        if (!reply->isFinished() && !co_await wait.until(reply, &QNetworkReply::finished)) {
            disconnect(draining);
            reply->abort();
            reply->deleteLater();
            co_return Reply{};
        }
        if (!capped)
            drain();
        disconnect(draining);
        reply->deleteLater();

        const auto error = reply->error();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        if (capped)
            co_return Reply{true, received, contentType};
        if (isTransportFailure(error)) {
            qCDebug(lcWeb) << verb << url.toString() << "failed:" << error;
            co_return Reply{};
        }
        const QByteArray location = reply->rawHeader("Location");
        if (status < 300 || status > 399 || status == 304 || location.isEmpty())
            co_return Reply{true, received, contentType};

        const QUrl target = url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
        if (url.scheme() == u"https" && target.scheme() != u"https")
            co_return Reply{}; // never from HTTPS down to plain HTTP
        if (!sameOrigin(url, target))
            headers.clear(); // another host gets only its own cookies, none of our headers
        if (status == 303 || ((status == 301 || status == 302) && verb != "GET")) {
            verb = "GET";
            body.clear();
            headers.removeIf([](const auto &header) { return header.first.toLower() == "content-type"; });
        }
        url = target;
    }
    co_return Reply{}; // too many redirects
}

QCoro::Task<QString> WebClient::FetchPageText(QString url, RequestScope *scope) {
    // Built outside the co_await: GCC 12 miscompiles braced lists inside it.
    Headers headers{{QByteArrayLiteral("If-Modified-Since"), QByteArrayLiteral("0")}};
    const Reply reply =
        co_await send(QByteArrayLiteral("GET"), url, std::move(headers), {}, m_bodyCap, scope);
    co_return reply.ok ? text::DecodeCharset(reply.body, text::CharsetOf(reply.contentType)) : QString();
}

QCoro::Task<QString> WebClient::OpenUrlText(QString url, RequestScope *scope) {
    const Reply reply = co_await send(QByteArrayLiteral("GET"), url, {}, {}, m_bodyCap, scope);
    co_return reply.ok ? text::DecodeGbk(reply.body) : QString();
}

QCoro::Task<QString> WebClient::OpenUrlDecoded(QString url, RequestScope *scope) {
    const Reply reply = co_await send(QByteArrayLiteral("GET"), url, {}, {}, m_bodyCap, scope);
    co_return reply.ok ? text::DecodeSniffed(reply.body) : QString();
}

QCoro::Task<QString> WebClient::PostFormChunk(QString url, QString body, RequestScope *scope) {
    Headers headers{{QByteArrayLiteral("Content-Type"), kFormContentType}};
    const Reply reply = co_await send(QByteArrayLiteral("POST"), url, std::move(headers),
                                      text::EncodeGbk(body), kChunkBytes, scope);
    co_return reply.ok ? text::DecodeGbk(reply.body) : QString();
}

QCoro::Task<QString> WebClient::PostFormSync(QString url, QString body, RequestScope *scope) {
    Headers headers{{QByteArrayLiteral("Content-Type"), kFormContentType}};
    const Reply reply =
        co_await send(QByteArrayLiteral("POST"), url, std::move(headers), body.toUtf8(), m_bodyCap, scope);
    co_return reply.ok ? text::DecodeCharset(reply.body, text::CharsetOf(reply.contentType)) : QString();
}
