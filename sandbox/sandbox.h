#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QRegularExpression>
#include <QString>

#include <array>
#include <functional>

class QTcpServer;
class QTcpSocket;

namespace sandbox {

enum class Site { Listing, Share, CloudDisk, Update };
inline constexpr int kSiteCount = 4;

struct Request {
    Site site = Site::Listing;
    QByteArray method;
    QByteArray target; // path and query, as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QDateTime time;
    int connection = 0; // which connection it came on: 1, 2, … in the order they were opened

    QByteArray header(QByteArrayView name) const;
    QByteArray path() const;
    QByteArray query() const;
};

struct Response {
    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra, e.g. Set-Cookie, Location
    int delayMs = 0;                              // on top of the latency
    // When set, the body goes out chunked after `body`: piece after piece, each asked for once
    // the socket has room, until a piece comes back empty. Nothing more is held than a piece.
    std::function<QByteArray()> stream = {};
};

enum class Fault {
    None,
    Hang,                 // never answers
    Reset,                // drops the connection without an answer
    NotFound,             // 404 with an HTML body
    Truncated,            // announces the whole body, sends half, closes
    Oversized,            // a body of 17 MiB
    Flood,                // just under 16 MiB of the site's resource blocks, ~300 000 of them
    SlowRedirect,         // after half a second, a redirect to the same address again, without end
    GarbageGzip,          // says Content-Encoding: gzip, sends the page as it is
    TruncatedGzip,        // the gzip stream of the page, announced whole, half of it sent, closes
    TruncatedGzipChunked, // half of the gzip stream, chunked and properly ended: no length to check
    GzipBomb,             // chunked gzip of 4 GiB of zeros, about 1 KiB on the wire per MiB
    Endless,              // the page, then chunks without end (3 GiB in all), sent as fast as they are read
    Unavailable,          // 503 with Retry-After: 120 and an HTML body
    HugeTitle,            // the page's first title anchor holds 14 MB of title
    DropKept,             // on a connection kept from an earlier answer, reads the request and drops
                          // the connection, as a server closing an idle one just as it is written to
                          // does; a fresh connection is answered
};

// Bodies compressed the ways servers send them, for replacement pages in tests.
enum class Packing { Gzip, Zlib, RawDeflate };
QByteArray compress(QByteArrayView bytes, Packing packing);

// The four outside sites on loopback, each on its own address so that cookies stay with
// their host: 127.0.0.2 listing, 127.0.0.3 share, 127.0.0.4 cloud disk, 127.0.0.5 update
// server with the forum and support pages. Content is generated from the seed.
class Sandbox final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Sandbox)

public:
    using Handler = std::function<Response(const Request &)>;

    explicit Sandbox(quint32 seed = 1, QObject *parent = nullptr);
    ~Sandbox() override;

    // Binds each site to a free port; false when a site could not be bound.
    bool start();
    QString address(Site site) const;
    // NAME=address lines for the GIFTVANE_… variables.
    QStringList environmentLines() const;

    void setLatency(int milliseconds) { m_latencyMs = milliseconds; }
    // Page 1 of each listing (/libao/index_1.html, /tiquma/index_1.html, /new/1.html) gains
    // one new resource at its top every `requests` requests to it (0: never), so its ETag and
    // Last-Modified change. The new resources have ids and codes of their own.
    void setPageOneChangesEvery(int requests) { m_changesEvery = requests; }
    // Faults apply to requests whose path and query match the pattern (on any site).
    void setFault(const QString &pattern, Fault fault);
    void clearFaults() { m_faults.clear(); }
    // Replaces the generated answer for one path (without query) of one site.
    void setHandler(Site site, const QByteArray &path, Handler handler);
    void clearHandlers() { m_handlers.clear(); }
    // The whole text of the update server's version file.
    void setVersionFile(const QByteArray &text) { m_versionFile = text; }
    void setVersion(const QString &version);

    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(Site site) const;
    void clearRequests() { m_requests.clear(); }
    // The most requests one site has had waiting for their answer at once.
    int peakInFlight(Site site) const { return m_peakInFlight[int(site)]; }
    void resetPeaks() { m_peakInFlight = m_inFlight; }
    // Connections to one site open now, from the sites' side.
    int openConnections(Site site) const { return m_open[int(site)]; }
    // Closes every connection that waits for no answer, as a server closes idle kept ones. The
    // sites close their side; a connection counts as open until the client has closed its side
    // too, so a test can wait until the client has seen it.
    void closeIdleConnections();

    // What the generated sites hold, so tests can check against it.
    static QString codeFor(quint32 seed, int resourceId);
    QString codeFor(int resourceId) const { return codeFor(m_seed, resourceId); }
    QString titleFor(int resourceId) const;
    static constexpr int kResourcesPerPage = 20;
    static constexpr int kLastPage = 150;
    static constexpr int kIrregularPage = 7; // /libao/index_7.html: a block without title, one without link
    // /libao/index_8.html: blocks 2, 3 and 4 link off the site (user-info, another host,
    // scheme-relative), all to 127.0.0.7.
    static constexpr int kForeignLinksPage = 8;
    static constexpr int kSlowRedirectMs = 500;
    static constexpr int kRetryAfterSeconds = 120; // of the 503 fault
    static constexpr qint64 kEndlessBytes = qint64(3) << 30;
    static constexpr qint64 kHugeTitleBytes = 14 * 1000 * 1000;
    // Ids of the resources page 1 gains: kNewIdOffset + 1, + 2, … above the listing's base.
    static constexpr int kNewIdOffset = 90000;
    // Last-Modified of a listing page that has not changed; each change adds a minute.
    static QDateTime firstModified();
    static QByteArray sessionCookieName() { return QByteArrayLiteral("UID"); }

private:
    void accept(Site site);
    void readFrom(Site site, QTcpSocket *socket);
    void answer(Site site, QTcpSocket *socket, const Request &request);
    void send(Site site, QTcpSocket *socket, const Response &response, Fault fault);
    QByteArray flood(Site site) const;
    Response generate(const Request &request) const;
    // ETag and Last-Modified on listing pages, and 304 when the request's validators match.
    void validate(const Request &request, Response &response) const;
    int generation(const QByteArray &path) const;
    Response listingSite(const Request &request) const;
    Response shareSite(const Request &request) const;
    Response cloudDisk(const Request &request) const;
    Response updateServer(const Request &request) const;
    QByteArray listingPage(bool codes, int page, int gained) const;
    QByteArray sharePage(const QList<int> &ids) const;

    quint32 m_seed;
    std::array<QTcpServer *, kSiteCount> m_servers{};
    int m_latencyMs = 0;
    int m_changesEvery = 0;
    QHash<QByteArray, int> m_pageOneRequests; // by path
    QList<QPair<QRegularExpression, Fault>> m_faults;
    QHash<QPair<int, QByteArray>, Handler> m_handlers;
    QByteArray m_versionFile;
    QList<Request> m_requests;
    std::array<int, kSiteCount> m_inFlight{};
    std::array<int, kSiteCount> m_peakInFlight{};
    std::array<int, kSiteCount> m_open{};
    int m_connections = 0; // opened so far, on any site
};

} // namespace sandbox
