#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include "web/requestscope.h"

#include <qcoro/qcorotask.h>

class CookieJar;

// The program's HTTP client: one QNetworkAccessManager, one cookie jar, five request
// operations. A failed request (no connection, reset, time-out, invalid address) reads as
// empty text; an HTTP error status is not a failure and its body is returned.
class WebClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebClient)

public:
    static constexpr int kDefaultTimeoutMs = 60000;
    static constexpr qint64 kBodyCap = 16 * 1024 * 1024;
    static constexpr int kMaxRedirects = 20;
    static constexpr qsizetype kChunkBytes = 10000;

    explicit WebClient(QObject *parent = nullptr);
    ~WebClient() override;

    CookieJar *cookieJar() const { return m_jar; }
    QNetworkAccessManager *manager() { return &m_manager; }

    // Deadline from the start of each request, and the idle time-out between bytes.
    void setTimeouts(int deadlineMs, int idleMs);
    void setBodyCap(qint64 bytes) { m_bodyCap = bytes; }

    // GET with "If-Modified-Since: 0"; decoded by the declared charset (UTF-8 when none).
    QCoro::Task<QString> FetchPageText(QString url, RequestScope *scope = nullptr);
    // GET decoded as GBK.
    QCoro::Task<QString> OpenUrlText(QString url, RequestScope *scope = nullptr);
    // GET decoded as UTF-8 or GBK, chosen by looking at the bytes.
    QCoro::Task<QString> OpenUrlDecoded(QString url, RequestScope *scope = nullptr);
    // Form POST; only the first 10000 bytes of the reply are read, decoded as GBK.
    QCoro::Task<QString> PostFormChunk(QString url, QString body, RequestScope *scope = nullptr);
    // Form POST; the whole reply, decoded by the declared charset.
    QCoro::Task<QString> PostFormSync(QString url, QString body, RequestScope *scope = nullptr);

    struct Reply {
        bool ok = false;
        QByteArray body;
        QByteArray contentType;
    };
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    // The one place where requests are made: caps, time-outs and the redirect rules.
    QCoro::Task<Reply> send(QByteArray verb, QString url, Headers headers, QByteArray body, qint64 readLimit,
                            RequestScope *scope);

private:
    RequestScope m_closing; // aborted when the client goes
    QNetworkAccessManager m_manager;
    CookieJar *m_jar;
    int m_deadlineMs = kDefaultTimeoutMs;
    int m_idleMs = kDefaultTimeoutMs;
    qint64 m_bodyCap = kBodyCap;
};
