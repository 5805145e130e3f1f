#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Why a request gave no usable answer.
enum class Failure {
    None,            // answered: a success, or 304 Not Modified
    Unreachable,     // no answer at all: refused, no such host, reset or closed before answering
    TimedOut,        // past the deadline, or idle for too long
    HttpStatus,      // answered with an error status; the body is still read
    TooLarge,        // the body passed its cap, or was announced larger
    CutShort,        // fewer bytes than announced, or a compressed stream that does not end
    BadEncoding,     // a compressed body that cannot be decompressed, or a bomb
    RedirectRefused, // off the origin for a form, HTTPS to HTTP, too many hops, not http
    Cancelled,       // the work was called off, or the client went
    HostDown,        // the host timed out again and again in this piece of work
};

// What a conditional request sends back: the page is asked for only if it changed.
struct Validators {
    QByteArray etag;        // sent as If-None-Match
    QDateTime lastModified; // sent as If-Modified-Since

    bool isEmpty() const { return etag.isEmpty() && !lastModified.isValid(); }
};

// What one request operation gave back. A default one stands for a request never made.
struct Fetched {
    QString text;   // the reply as text; empty on every failure but an error status
    int status = 0; // the HTTP status of the last reply; 0 when none came
    Failure failure = Failure::Cancelled;
    QByteArray etag;        // the reply's ETag, as sent
    QDateTime lastModified; // the reply's Last-Modified, invalid when absent or unreadable
    int retryAfter = -1;    // the reply's Retry-After in seconds from now; -1 when absent
    QString host;           // "host" or "host:port" of the last request sent, as its address gave it
    // The request certainly never reached a server (refused, no such host, called off before it
    // was sent): a post that went nowhere, which nothing can have acted on.
    bool unsent = false;

    // Read in full and answered with success.
    bool ok() const { return failure == Failure::None && status >= 200 && status <= 299; }
    // Answered "not modified" to a conditional request: empty text, and no failure.
    bool notModified() const { return failure == Failure::None && status == 304; }
    // Why the result is not ok, for the user ("HTTP 404"; "连接超时 127.0.0.2:8081" names the
    // host that could not be reached, so the user knows which site to look at); empty when
    // nothing failed.
    QString reason() const;
    Validators validators() const { return {etag, lastModified}; }
};

namespace httpdate {

// An HTTP date in any of its three forms (IMF-fixdate, RFC 850, asctime), in UTC; invalid when
// the text is none of them.
QDateTime parse(QByteArrayView text);
// The IMF-fixdate form: "Sun, 06 Nov 1994 08:49:37 GMT".
QByteArray format(const QDateTime &time);
// Retry-After as seconds after `now`: a number of seconds, or a date (0 when it has passed);
// -1 when absent or unreadable.
int retryAfterSeconds(QByteArrayView value, const QDateTime &now);

} // namespace httpdate
