#include "web/bodyreader.h"

#include <QList>

#include <utility>

#include <zlib.h>

namespace {

// Output is made in steps of this much, so a bomb grows the body no faster than it is checked.
constexpr qsizetype kStep = 64 * 1024;

enum class Coding { Plain, Gzip, Deflate, Unknown };

Coding codingOf(QByteArrayView header) {
    QList<QByteArray> codings;
    for (const QByteArray &part : header.toByteArray().split(',')) {
        const QByteArray name = part.trimmed().toLower();
        if (!name.isEmpty() && name != "identity")
            codings.append(name);
    }
    if (codings.isEmpty())
        return Coding::Plain;
    if (codings.size() > 1) // we ask for one coding; layers of them are no page
        return Coding::Unknown;
    if (codings.front() == "gzip" || codings.front() == "x-gzip")
        return Coding::Gzip;
    if (codings.front() == "deflate")
        return Coding::Deflate;
    return Coding::Unknown;
}

} // namespace

struct BodyReader::Inflate {
    Coding coding;
    z_stream stream{};
    bool started = false;
    bool ended = false;
    bool ignoring = false; // past the end, and no member follows: the rest is not read
    // Bytes kept for the next call: the first two of "deflate" (zlib-wrapped or raw, they
    // tell), or the start of what may be another gzip member's header.
    QByteArray held;
    qint64 consumed = 0; // compressed bytes taken in by zlib

    explicit Inflate(Coding c)
        : coding(c) {}
    ~Inflate() {
        if (started)
            inflateEnd(&stream);
    }
    bool start(QByteArrayView first) {
        int windowBits = 16 + MAX_WBITS; // gzip only
        if (coding == Coding::Deflate) {
            const auto cmf = static_cast<unsigned char>(first[0]);
            const auto flg = static_cast<unsigned char>(first[1]);
            const bool zlibWrapped = (cmf & 0x0F) == Z_DEFLATED && ((cmf << 8) | flg) % 31 == 0;
            windowBits = zlibWrapped ? MAX_WBITS : -MAX_WBITS;
        }
        started = inflateInit2(&stream, windowBits) == Z_OK;
        return started;
    }
};

BodyReader::BodyReader(qint64 cap, QByteArrayView contentEncoding)
    : m_cap(cap) {
    switch (const Coding coding = codingOf(contentEncoding)) {
    case Coding::Plain:
        break;
    case Coding::Gzip:
    case Coding::Deflate:
        m_inflate = std::make_unique<Inflate>(coding);
        break;
    case Coding::Unknown:
        m_state = State::Corrupt;
        break;
    }
}

BodyReader::~BodyReader() = default;

bool BodyReader::streamEnded() const {
    return m_state != State::Corrupt && (!m_inflate || m_inflate->ended);
}

bool BodyReader::expandsLikeABomb() const {
    return m_inflate && m_body.size() >= kBombRatio * qMax<qint64>(1, m_inflate->consumed);
}

bool BodyReader::isBomb() const {
    return m_state == State::Full && expandsLikeABomb();
}

bool BodyReader::take(QByteArrayView bytes) {
    if (m_state != State::Reading)
        return false;
    m_wireBytes += bytes.size();
    if (!m_inflate)
        m_body.append(bytes.first(qMin<qint64>(bytes.size(), m_cap + 1 - m_body.size())));
    else if (!inflate(bytes))
        m_state = State::Corrupt;
    // Even compressed, more than the cap on the wire is past it: bytes after the stream's end
    // are ignored, but they cannot go on for ever.
    if (m_state == State::Reading && (m_body.size() > m_cap || m_wireBytes > m_cap ||
                                      (m_body.size() >= kBombCheckBytes && expandsLikeABomb())))
        m_state = State::Full;
    return m_state == State::Reading;
}

bool BodyReader::inflate(QByteArrayView bytes) {
    Inflate &in = *m_inflate;
    QByteArray joined;
    if (!in.held.isEmpty()) {
        joined = std::exchange(in.held, {}).append(bytes);
        bytes = joined;
    }
    if (!in.started) {
        if (bytes.size() < 2) {
            in.held = bytes.toByteArray();
            return true;
        }
        if (!in.start(bytes))
            return false;
    }
    z_stream &z = in.stream;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    while (z.avail_in > 0 && !in.ignoring && m_body.size() <= m_cap &&
           !(m_body.size() >= kBombCheckBytes && expandsLikeABomb())) {
        if (in.ended) {
            // Another gzip member follows, as concatenated files give (magic and method: a
            // stray byte that only looks like one is no member); anything else after the end
            // is ignored, as browsers do.
            static constexpr QByteArrayView kMember("\x1F\x8B\x08", 3);
            const QByteArrayView next(reinterpret_cast<const char *>(z.next_in), qsizetype(z.avail_in));
            if (in.coding != Coding::Gzip ||
                !kMember.startsWith(next.first(qMin<qsizetype>(next.size(), 3)))) {
                in.ignoring = true;
                break;
            }
            if (next.size() < 3) {
                in.held = next.toByteArray(); // the rest of the header tells
                break;
            }
            inflateReset(&z);
            in.ended = false;
        }
        const qsizetype at = m_body.size();
        const qsizetype room = qMin<qint64>(kStep, m_cap + 1 - at);
        m_body.resize(at + room);
        z.next_out = reinterpret_cast<Bytef *>(m_body.data() + at);
        z.avail_out = uInt(room);
        const uInt before = z.avail_in;
        const int result = ::inflate(&z, Z_NO_FLUSH);
        in.consumed += before - z.avail_in;
        m_body.resize(at + room - z.avail_out);
        if (result == Z_STREAM_END)
            in.ended = true;
        else if (result == Z_BUF_ERROR)
            break; // no progress possible: wait for more input
        else if (result != Z_OK)
            return false;
    }
    return true;
}
