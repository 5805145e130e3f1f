// The stand-in sites on the wire: connections, requests read off them, answers and the faults
// that break them, and the bodies the faults send.
#include "sandbox/pages.h"
#include "sandbox/sandbox.h"

#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

#include <sys/socket.h>
#include <zlib.h>

namespace sandbox {

namespace {

// A streamed body is written while the socket holds less than this unsent.
constexpr qint64 kStreamBacklog = 1024 * 1024;
constexpr qint64 kBombMiB = 4096;

QByteArray chunk(const QByteArray &piece) {
    return QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
}

// Writes a streamed body as the socket drains, so a body of gigabytes costs no memory here.
void pump(QTcpSocket *socket, std::function<QByteArray()> next) {
    struct State {
        std::function<QByteArray()> next;
        bool done = false;
    };
    const auto state = std::make_shared<State>(State{std::move(next)});
    const auto feed = [socket, state] {
        while (!state->done && socket->state() == QAbstractSocket::ConnectedState &&
               socket->bytesToWrite() < kStreamBacklog) {
            const QByteArray piece = state->next();
            state->done = piece.isEmpty();
            socket->write(state->done ? QByteArray("0\r\n\r\n") : chunk(piece));
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
    feed();
}

// One MiB of zeros as raw deflate, flushed so that pieces can follow one another.
const QByteArray &zerosPiece() {
    static const QByteArray piece = [] {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
        const QByteArray zeros(1024 * 1024, '\0');
        QByteArray out(64 * 1024, '\0');
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        z.avail_in = uInt(zeros.size());
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FULL_FLUSH);
        out.truncate(out.size() - z.avail_out);
        deflateEnd(&z);
        return out;
    }();
    return piece;
}

// A valid gzip stream of kBombMiB MiB of zeros, piece by piece.
std::function<QByteArray()> gzipBomb() {
    return [sent = qint64(-1)]() mutable -> QByteArray {
        ++sent;
        if (sent == 0)
            return QByteArray("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03", 10);
        if (sent <= kBombMiB)
            return zerosPiece();
        if (sent > kBombMiB + 1)
            return {};
        const QByteArray zeros(1024 * 1024, '\0');
        const uLong piece = crc32(0, reinterpret_cast<const Bytef *>(zeros.data()), uInt(zeros.size()));
        uLong crc = crc32(0, nullptr, 0);
        for (qint64 i = 0; i < kBombMiB; ++i)
            crc = crc32_combine(crc, piece, zeros.size());
        QByteArray end("\x03\x00", 2); // the last, empty, block
        for (const quint32 word : {quint32(crc), quint32(kBombMiB << 20)}) {
            for (int shift = 0; shift < 32; shift += 8)
                end += char((word >> shift) & 0xFF);
        }
        return end;
    };
}

// Filler after the page, in pieces, until the whole body has `total` bytes.
std::function<QByteArray()> endless(qint64 already, qint64 total) {
    return [sent = already, total]() mutable -> QByteArray {
        static const QByteArray piece = QByteArray("<p>更多内容</p>\n").repeated(4096);
        if (sent >= total)
            return {};
        sent += piece.size();
        return piece;
    };
}

// The page with its first title anchor's text grown to `bytes`, in the page's own encoding.
QByteArray withHugeTitle(const QByteArray &page, qint64 bytes) {
    static const QByteArray anchor = "target=\"_blank\">";
    const qsizetype at = page.indexOf(anchor);
    if (at < 0)
        return page;
    const QString word = QStringLiteral("超长标题");
    const bool isGbk = page.contains("charset=\"gbk\"");
    QStringEncoder encoder(isGbk ? "GBK" : "UTF-8");
    const QByteArray unit = encoder.encode(word);
    return page.left(at + anchor.size()) + unit.repeated(bytes / unit.size()) + page.mid(at + anchor.size());
}

} // namespace

QByteArray compress(QByteArrayView bytes, Packing packing) {
    z_stream z{};
    const int windowBits = packing == Packing::Gzip   ? 16 + MAX_WBITS
                           : packing == Packing::Zlib ? MAX_WBITS
                                                      : -MAX_WBITS;
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(bytes.size()))) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

QByteArray Request::header(QByteArrayView name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray Request::path() const {
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray Request::query() const {
    const qsizetype q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

// --- HTTP ---------------------------------------------------------------------------------

void Sandbox::closeIdleConnections() {
    for (QTcpServer *server : m_servers) {
        for (QTcpSocket *socket : server->findChildren<QTcpSocket *>()) {
            if (socket->property("waiting").toInt() == 0 &&
                socket->state() == QAbstractSocket::ConnectedState)
                ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
        }
    }
}

void Sandbox::accept(Site site) {
    QTcpServer *server = m_servers[static_cast<int>(site)];
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        socket->setProperty("connection", ++m_connections);
        ++m_open[int(site)];
        connect(socket, &QTcpSocket::readyRead, this, [this, site, socket] { readFrom(site, socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, site] { --m_open[int(site)]; });
    }
}

void Sandbox::readFrom(Site site, QTcpSocket *socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    while (true) {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            break;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request;
        request.site = site;
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        request.time = QDateTime::currentDateTime();
        request.connection = socket->property("connection").toInt();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const qsizetype length = request.header("Content-Length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            break;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(request);
        socket->setProperty("waiting", socket->property("waiting").toInt() + 1);
        int &inFlight = m_inFlight[int(site)];
        m_peakInFlight[int(site)] = qMax(m_peakInFlight[int(site)], ++inFlight);
        if (m_latencyMs > 0) {
            QTimer::singleShot(m_latencyMs, Qt::PreciseTimer, socket,
                               [this, site, socket, request] { answer(site, socket, request); });
        } else {
            answer(site, socket, request);
        }
    }
    socket->setProperty("buffer", buffer);
}

void Sandbox::answer(Site site, QTcpSocket *socket, const Request &request) {
    Fault fault = Fault::None;
    const QString target = QString::fromUtf8(request.target);
    for (const auto &[pattern, kind] : m_faults) {
        if (pattern.match(target).hasMatch()) {
            fault = kind;
            break;
        }
    }
    if (fault == Fault::Hang)
        return; // in flight for as long as the client waits
    if (fault == Fault::Reset || (fault == Fault::DropKept && socket->property("answered").toBool())) {
        --m_inFlight[int(site)];
        socket->abort();
        return;
    }

    Response response =
        fault == Fault::NotFound
            ? Response{404,
                       "text/html; charset=utf-8",
                       page(QStringLiteral("404"), QStringLiteral("<h1>404 页面不存在</h1>")).toUtf8(),
                       {}}
            : generate(request);
    if (fault == Fault::None)
        validate(request, response);
    // Counted after the answer: the first K requests see the page as it first was.
    if (const QByteArray path = request.path();
        generation(path) >= 0 && (response.status == 200 || response.status == 304))
        ++m_pageOneRequests[path];
    const auto compressed = [&response] {
        response.headers.emplaceBack("Content-Encoding", "gzip");
        return compress(response.body, Packing::Gzip);
    };
    switch (fault) {
    case Fault::Oversized:
        response.body = QByteArray(17 * 1024 * 1024, 'x');
        break;
    case Fault::Flood:
        response = {200, "text/html; charset=utf-8", flood(request.site), {}};
        break;
    case Fault::SlowRedirect: {
        const QByteArray again = request.target + (request.target.contains('?') ? "&r" : "?r");
        response = {302, "text/html; charset=utf-8", {}, {{"Location", again}}, kSlowRedirectMs};
        break;
    }
    case Fault::GarbageGzip:
        response.headers.emplaceBack("Content-Encoding", "gzip");
        break;
    case Fault::TruncatedGzip:
    case Fault::TruncatedGzipChunked:
        response.body = compressed();
        break;
    case Fault::GzipBomb:
        response.headers.emplaceBack("Content-Encoding", "gzip");
        response.body.clear();
        response.stream = gzipBomb();
        break;
    case Fault::Endless:
        response.stream = endless(response.body.size(), kEndlessBytes);
        break;
    case Fault::Unavailable:
        response = {503,
                    "text/html; charset=utf-8",
                    page(QStringLiteral("503"), QStringLiteral("<h1>服务器繁忙，请稍后再试</h1>")).toUtf8(),
                    {{"Retry-After", QByteArray::number(kRetryAfterSeconds)}}};
        break;
    case Fault::HugeTitle:
        response.body = withHugeTitle(response.body, kHugeTitleBytes);
        break;
    default:
        break;
    }
    if (response.delayMs > 0) {
        QTimer::singleShot(response.delayMs, socket,
                           [this, site, socket, response, fault] { send(site, socket, response, fault); });
        return;
    }
    send(site, socket, response, fault);
}

void Sandbox::send(Site site, QTcpSocket *socket, const Response &response, Fault fault) {
    --m_inFlight[int(site)];
    socket->setProperty("answered", true);
    socket->setProperty("waiting", socket->property("waiting").toInt() - 1);
    const bool chunked = response.stream || fault == Fault::TruncatedGzipChunked;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) +
                      (response.status == 200   ? " OK"
                       : response.status == 302 ? " Found"
                       : response.status == 304 ? " Not Modified"
                                                : " Status") +
                      "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += chunked ? QByteArray("Transfer-Encoding: chunked\r\n")
                    : "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "Connection: keep-alive\r\n\r\n";
    socket->write(head);
    if (fault == Fault::Truncated || fault == Fault::TruncatedGzip) {
        socket->write(response.body.left(response.body.size() / 2));
        socket->disconnectFromHost();
        return;
    }
    if (fault == Fault::TruncatedGzipChunked) {
        socket->write(chunk(response.body.left(response.body.size() / 2)) + "0\r\n\r\n");
        return;
    }
    if (response.stream) {
        if (!response.body.isEmpty())
            socket->write(chunk(response.body));
        pump(socket, response.stream);
        return;
    }
    socket->write(response.body);
}

} // namespace sandbox
