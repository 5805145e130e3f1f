#include "web/webclient.h"

#include "text/text.h"
#include "web/bodyreader.h"
#include "web/cookiejar.h"
#include "web/redirects.h"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <optional>

#ifdef __GLIBC__
#include <malloc.h>
#endif

Q_LOGGING_CATEGORY(lcWeb, "giftvane.web")

namespace {

const QByteArray kFormContentType = QByteArrayLiteral("application/x-www-form-urlencoded");

// What a reply's error says beyond its HTTP status; nothing when the status says it all.
std::optional<Failure> transportFailure(QNetworkReply::NetworkError error, int status) {
    const int code = static_cast<int>(error);
    // Content (2xx) and server (4xx) error codes only mirror an error status; the body stands.
    const bool mirrorsStatus = (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
    if (error == QNetworkReply::NoError || (mirrorsStatus && status >= 400))
        return std::nullopt;
    // A post answered by a redirect: Qt wanted its body again (see OneShotBody) and says it could
    // not have it; the redirect is ours to judge.
    if (error == QNetworkReply::ContentReSendError && status >= 300 && status <= 399)
        return std::nullopt;
    switch (error) {
    case QNetworkReply::OperationCanceledError: // we abort only on paths judged before this
    case QNetworkReply::TimeoutError:
        return Failure::TimedOut;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProtocolFailure:
        return status > 0 ? Failure::CutShort : Failure::Unreachable;
    case QNetworkReply::UnknownContentError: // Qt's word for a body it could not decompress
        return Failure::BadEncoding;
    default:
        return Failure::Unreachable;
    }
}

// A form's body that can be read once only. Should the connection drop after the server has
// read a post, Qt 6.4 would send the post again on its own (a gift received twice); from this
// body it cannot, and the post fails instead.
class OneShotBody final : public QIODevice {
public:
    explicit OneShotBody(QByteArray bytes)
        : m_bytes(std::move(bytes)) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_bytes.size() - m_at + QIODevice::bytesAvailable(); }
    // Never read again, and no warning about it.
    bool seek(qint64) override { return false; }
    bool reset() override { return false; }

protected:
    qint64 readData(char *data, qint64 most) override {
        const qint64 count = qMin(most, m_bytes.size() - m_at);
        std::memcpy(data, m_bytes.constData() + m_at, size_t(count));
        m_at += count;
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_at = 0;
};

// The conditional headers for a request's validators.
redirects::Headers conditionalHeaders(const Validators &validators) {
    redirects::Headers headers;
    if (validators.lastModified.isValid())
        headers.append({"If-Modified-Since", httpdate::format(validators.lastModified)});
    if (!validators.etag.isEmpty())
        headers.append({"If-None-Match", validators.etag});
    return headers;
}

// The body length the reply announces; -1 when it announces none. Beside chunked transfer
// coding a Content-Length means nothing (RFC 9112: the chunks say where the body ends).
qint64 announcedLength(const QNetworkReply &reply) {
    const QByteArray length = reply.rawHeader("Content-Length");
    if (length.isEmpty() || reply.rawHeader("Transfer-Encoding").toLower().contains("chunked"))
        return -1;
    bool number = false;
    const qint64 bytes = length.trimmed().toLongLong(&number);
    return number ? bytes : -1;
}

bool isHttp(const QUrl &url) {
    return url.isValid() && !url.host().isEmpty() && (url.scheme() == u"http" || url.scheme() == u"https");
}

// The wait for one exchange. The deadline covers the whole exchange, every redirect hop
// included; the caller calling it off, or the host being watched going down, ends it too.
class ExchangeWait final {
public:
    ExchangeWait(RequestScope &operation, RequestScope *caller, int deadlineMs) {
        QObject::connect(&operation, &RequestScope::aborted, &m_scope, &RequestScope::abort);
        if (operation.isAborted())
            m_scope.abort(); // nothing is sent for work already called off
        // A timer of the wait's own, so it goes with the wait: Qt 6.4 keeps a single-shot timer
        // until it fires even when its context object has gone, and a page's requests would
        // leave a minute's worth of them behind.
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, &m_deadline, [this] { cut(Cut::Deadline); });
        m_deadline.start(deadlineMs);
        if (caller)
            QObject::connect(caller, &RequestScope::hostDown, &m_scope, [this](const QString &down) {
                if (down == m_host)
                    cut(Cut::HostDown);
            });
    }
    Q_DISABLE_COPY_MOVE(ExchangeWait)

    RequestScope &scope() { return m_scope; }
    bool isAborted() const { return m_scope.isAborted(); }
    // The next hop goes to this address's host; returns the host.
    QString watch(const QUrl &url) { return m_host = RequestScope::hostOf(url); }
    const QString &host() const { return m_host; }
    // Why the wait ended early: cancelled (the caller, the client going), past the deadline, or
    // the host down.
    Failure failure() const {
        return m_cut == Cut::Deadline   ? Failure::TimedOut
               : m_cut == Cut::HostDown ? Failure::HostDown
                                        : Failure::Cancelled;
    }

private:
    enum class Cut { None, Deadline, HostDown };
    void cut(Cut why) {
        if (m_scope.isAborted())
            return;
        m_cut = why;
        m_scope.abort();
    }

    RequestScope m_scope;
    QTimer m_deadline;
    Cut m_cut = Cut::None;
    QString m_host;
};

// Reads one reply's body as it arrives, and stops the reply at its cap or at a broken body.
// Stopping the reply may end the coroutine that owns this there and then: nothing of it is
// touched after reply.abort().
class Intake final {
public:
    Intake(QNetworkReply &reply, qint64 limit, bool firstChunk)
        : m_reply(reply)
        , m_limit(limit) {
        m_draining = QObject::connect(&reply, &QNetworkReply::readyRead, &reply, [this] { drain(); });
        // A body announced larger than the cap is refused before it comes.
        if (!firstChunk)
            m_sizing = QObject::connect(&reply, &QNetworkReply::metaDataChanged, &reply, [this] {
                if (!m_stopped && announcedLength(m_reply) > m_limit) {
                    m_stopped = m_announcedTooLarge = true;
                    m_reply.abort();
                }
            });
    }
    ~Intake() { stop(); }
    Q_DISABLE_COPY_MOVE(Intake)

    void drain() {
        if (!m_reply.isOpen() || m_stopped)
            return;
        if (!m_body)
            m_body.emplace(m_limit, m_reply.rawHeader("Content-Encoding"));
        while (m_reply.bytesAvailable() > 0) {
            const QByteArray bytes = m_reply.read(WebClient::kReadBufferBytes);
            if (bytes.isEmpty())
                break;
            if (!m_body->take(bytes)) {
                m_stopped = true;
                m_reply.abort();
                return;
            }
        }
    }
    // No more is read.
    void stop() {
        QObject::disconnect(m_draining);
        QObject::disconnect(m_sizing);
    }
    BodyReader *body() { return m_body ? &*m_body : nullptr; }
    bool announcedTooLarge() const { return m_announcedTooLarge; }

private:
    QNetworkReply &m_reply;
    const qint64 m_limit;
    std::optional<BodyReader> m_body;
    bool m_stopped = false; // we aborted the reply: the body is past its cap or broken
    bool m_announcedTooLarge = false;
    QMetaObject::Connection m_draining, m_sizing;
};

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
    for (QNetworkAccessManager *manager : {&m_manager, &m_postManager}) {
        manager->setCookieJar(m_jar);
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    m_jar->setParent(this); // the client's, not either manager's: it outlives them both
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

QNetworkReply *WebClient::issue(const QUrl &url, const Exchange &exchange) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_idleMs);
    // Asked for by us, so Qt hands compressed bodies over as they came and we can tell a broken
    // or unfinished one from a page.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    for (const auto &[name, value] : exchange.headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = nullptr;
    if (exchange.verb == "GET") {
        reply = m_manager.get(request);
    } else {
        // Posts go over kept connections of their own. Qt sees one that the server closed while
        // idle within moments, and opens another for the post; one that the server closes
        // just as the post goes out would have Qt send the post again, which the one-shot body
        // refuses: that post fails (no answer), and a gift is never received twice.
        auto *form = new OneShotBody(exchange.body);
        request.setHeader(QNetworkRequest::ContentLengthHeader, exchange.body.size());
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        reply = m_postManager.sendCustomRequest(request, exchange.verb, form);
        form->setParent(reply);
    }
    reply->setReadBufferSize(kReadBufferBytes);
    // Qt hands the limit to its HTTP thread only for a request already started; a request with a
    // body starts on a later turn, so the limit goes again right after that, before any answer
    // can come (without it, Qt 6.4 reads a form post's reply without bound).
    QMetaObject::invokeMethod(
        reply, [reply] { reply->setReadBufferSize(kReadBufferBytes); }, Qt::QueuedConnection);
    return reply;
}

Fetched WebClient::judge(const QNetworkReply &reply, const BodyReader *body, bool announcedTooLarge,
                         bool firstChunk) {
    Fetched outcome;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    outcome.status = status;
    outcome.failure = Failure::None;
    // Sent back as it came, to the same site only; one that no validator looks like is dropped.
    if (const QByteArray etag = reply.rawHeader("ETag");
        etag.size() <= kLongestEtag &&
        std::none_of(etag.begin(), etag.end(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7F; }))
        outcome.etag = etag;
    outcome.lastModified = httpdate::parse(reply.rawHeader("Last-Modified"));
    outcome.retryAfter =
        httpdate::retryAfterSeconds(reply.rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
    const qint64 announced = announcedLength(reply);
    const bool bodyless = status == 204 || status == 304;
    if (announcedTooLarge) {
        outcome.failure = Failure::TooLarge;
    } else if (body && body->state() == BodyReader::State::Full) {
        if (!firstChunk)
            outcome.failure = Failure::TooLarge; // a bomb too: a sound stream, only far too large
    } else if (body && body->state() == BodyReader::State::Corrupt && !bodyless) {
        outcome.failure = Failure::BadEncoding;
    } else if (const auto transport = transportFailure(reply.error(), status)) {
        outcome.failure = *transport;
    } else if (body && !bodyless &&
               ((announced >= 0 && announced != body->wireBytes()) ||
                (body->wireBytes() > 0 && !body->streamEnded()))) {
        // Fewer bytes than announced, however the closing reached Qt, or a compressed stream
        // that never came to its end.
        outcome.failure = Failure::CutShort;
    }
    return outcome;
}

QCoro::Task<WebClient::Reply> WebClient::send(Exchange exchange, RequestScope &operation,
                                              RequestScope *caller) {
    ExchangeWait wait(operation, caller, m_deadlineMs);
    const auto failed = [&wait](Failure failure, int status = 0, bool unsent = false) {
        Reply reply;
        reply.outcome.failure = failure;
        reply.outcome.status = status;
        reply.outcome.host = wait.host();
        reply.outcome.unsent = unsent;
        return reply;
    };
    const bool formPost = exchange.verb != "GET";

    QUrl url(exchange.url, QUrl::TolerantMode);
    for (int hops = 0; hops <= kMaxRedirects; ++hops) {
        if (!isHttp(url))
            co_return failed(hops == 0 ? Failure::Unreachable : Failure::RedirectRefused, 0, hops == 0);
        if (wait.isAborted())
            co_return failed(wait.failure(), 0, hops == 0);
        const QString host = wait.watch(url);
        if (caller && caller->isHostDown(host))
            co_return failed(Failure::HostDown, 0, hops == 0);

        QNetworkReply *reply = issue(url, exchange);

        Intake intake(*reply, exchange.limit, exchange.firstChunk);
        bool answered = reply->isFinished();
        if (!answered)
            answered = co_await wait.scope().until(reply, &QNetworkReply::finished);
        if (answered)
            intake.drain();
        intake.stop();
        if (!answered)
            reply->abort();
        reply->deleteLater();
        BodyReader *body = intake.body();
        if (exchange.held && body)
            *exchange.held = qMax(*exchange.held, qint64(body->size()));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!answered) {
            const Failure failure = wait.failure();
            if (failure == Failure::TimedOut && caller)
                caller->noteTimeout(host);
            co_return failed(failure, status);
        }

        Fetched outcome = judge(*reply, body, intake.announcedTooLarge(), exchange.firstChunk);
        outcome.host = host;
        if (caller) {
            if (outcome.failure == Failure::TimedOut)
                caller->noteTimeout(host);
            else if (status > 0)
                caller->noteAnswer(host);
        }
        if (outcome.failure != Failure::None) {
            qCDebug(lcWeb) << exchange.verb << url.toString() << "failed:" << outcome.reason()
                           << reply->error();
            // Refused or not found: the request never reached a server.
            const bool unsent = hops == 0 && (reply->error() == QNetworkReply::ConnectionRefusedError ||
                                              reply->error() == QNetworkReply::HostNotFoundError);
            co_return failed(outcome.failure, status, unsent);
        }

        redirects::Hop next{url, exchange.verb, exchange.body, exchange.headers};
        switch (redirects::next(next, status, reply->rawHeader("Location"), formPost)) {
        case redirects::Verdict::NotARedirect: {
            if (!(status >= 200 && status <= 299) && status != 304)
                outcome.failure = Failure::HttpStatus; // its body is still the answer
            QByteArray bytes = body ? body->takeBody() : QByteArray();
            if (exchange.firstChunk)
                bytes.truncate(exchange.limit);
            co_return Reply{std::move(outcome), std::move(bytes),
                            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()};
        }
        case redirects::Verdict::Refuse:
            qCDebug(lcWeb) << exchange.verb << url.toString() << "redirect refused";
            co_return failed(Failure::RedirectRefused, status);
        case redirects::Verdict::Follow:
            break;
        }
        url = next.url;
        exchange.verb = next.verb;
        exchange.body = next.body;
        exchange.headers = next.headers;
    }
    co_return failed(Failure::RedirectRefused); // too many redirects
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
    Reply reply = co_await send(std::move(exchange), operation, scope);
    if (operation.isAborted())
        co_return Fetched{};
    if (reply.outcome.failure != Failure::None && reply.outcome.failure != Failure::HttpStatus)
        co_return reply.outcome;
    text::TextDecoder decoder =
        text::replyDecoder(reply.body, reply.contentType,
                           decoding == Decoding::Gbk ? text::Fallback::Gbk : text::Fallback::Sniffed);
    QString text = co_await decode(std::move(reply.body), std::move(decoder), operation);
    if (operation.isAborted())
        co_return Fetched{};
    reply.outcome.text = std::move(text);
    co_return reply.outcome;
}

QCoro::Task<Fetched> WebClient::run(Exchange exchange, Decoding decoding, RequestScope *scope) {
    qint64 held = 0;
    exchange.held = &held;
    Fetched fetched = co_await fetch(std::move(exchange), decoding, scope);
#ifdef __GLIBC__
    // glibc keeps freed heap for later; a large body would stay in the process's memory.
    if (held > kTrimAfterBytes)
        malloc_trim(0);
#endif
    co_return fetched;
}

QCoro::Task<Fetched> WebClient::FetchPageText(QString url, RequestScope *scope, Size size,
                                              Validators validators) {
    // The fixed "0" asks past any cache; a date given replaces it.
    Headers headers = conditionalHeaders(validators);
    if (!validators.lastModified.isValid())
        headers.prepend({"If-Modified-Since", "0"});
    // Built outside the co_await: GCC 12 miscompiles braced lists inside it.
    Exchange exchange{"GET", url, headers, {}, cap(size)};
    co_return co_await run(std::move(exchange), Decoding::Sniffed, scope);
}

QCoro::Task<Fetched> WebClient::OpenUrlText(QString url, RequestScope *scope, Size size) {
    Exchange exchange{"GET", url, {}, {}, cap(size)};
    co_return co_await run(std::move(exchange), Decoding::Gbk, scope);
}

QCoro::Task<Fetched> WebClient::OpenUrlDecoded(QString url, RequestScope *scope, Size size,
                                               Validators validators) {
    Exchange exchange{"GET", url, conditionalHeaders(validators), {}, cap(size)};
    co_return co_await run(std::move(exchange), Decoding::Sniffed, scope);
}

QCoro::Task<Fetched> WebClient::PostFormChunk(QString url, QString body, RequestScope *scope) {
    Exchange exchange{"POST",      url, {{"Content-Type", kFormContentType}}, text::encodeGbk(body),
                      kChunkBytes, true};
    co_return co_await run(std::move(exchange), Decoding::Gbk, scope);
}

QCoro::Task<Fetched> WebClient::PostFormSync(QString url, QString body, RequestScope *scope) {
    Exchange exchange{"POST", url, {{"Content-Type", kFormContentType}}, body.toUtf8(), m_pageCap};
    co_return co_await run(std::move(exchange), Decoding::Sniffed, scope);
}
