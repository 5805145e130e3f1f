#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// The body of one reply as it comes off the wire: decompressed when the reply says gzip or
// deflate (the client asks for those itself, so Qt hands them over as sent and leaves the
// judging to us), and never held past its cap, whatever the transfer encoding or the
// compression ratio.
class BodyReader final {
public:
    enum class State {
        Reading, // more may come
        Full,    // no more is taken: past the cap, or expanding as no page does (isBomb())
        Corrupt, // cannot be decoded: a broken stream, or an encoding we never asked for
    };
    // A compressed body that expands this much or more is a bomb, not a large page: real pages
    // compress tenfold or so. It is judged once it has given kBombCheckBytes, so a bomb costs a
    // few milliseconds, not the time to fill a whole cap.
    static constexpr int kBombRatio = 100;
    static constexpr qint64 kBombCheckBytes = 1024 * 1024;

    // `contentEncoding` is the reply's Content-Encoding header, empty for a plain body.
    BodyReader(qint64 cap, QByteArrayView contentEncoding);
    ~BodyReader();
    BodyReader(const BodyReader &) = delete;
    BodyReader &operator=(const BodyReader &) = delete;

    // Takes the next bytes off the wire; false once no more should be read.
    bool take(QByteArrayView bytes);
    State state() const { return m_state; }
    bool isCompressed() const { return m_inflate != nullptr; }
    // Whether the body has come to a proper end: a compressed stream to its own, a plain body
    // always; a corrupt one never.
    bool streamEnded() const;
    // Stopped at a ratio that no page has.
    bool isBomb() const;
    qint64 wireBytes() const { return m_wireBytes; }
    qsizetype size() const { return m_body.size(); }
    QByteArray takeBody() { return std::exchange(m_body, {}); }

private:
    struct Inflate;
    bool inflate(QByteArrayView bytes);
    bool expandsLikeABomb() const;

    qint64 m_cap;
    qint64 m_wireBytes = 0;
    State m_state = State::Reading;
    QByteArray m_body;
    std::unique_ptr<Inflate> m_inflate;
};
