#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>

// How the program follows a redirect, as one rule apart from the sending: within the same
// origin as Qt would; to another host as a new request carrying none of our headers (cookies go
// by the jar, which keeps each host's own); never from HTTPS down to plain HTTP; and a form is
// never posted on to another host.
namespace redirects {

using Headers = QList<QPair<QByteArray, QByteArray>>;

// A request as it goes to one address of a chain.
struct Hop {
    QUrl url;
    QByteArray verb;
    QByteArray body;
    Headers headers;
};

enum class Verdict {
    NotARedirect, // the reply is the answer
    Follow,       // the hop now holds the next request
    Refuse,       // a failure: the chain must not go on
};

// What a reply with this status and Location header means for the hop; `formPost` is whether
// the chain started as a form post.
Verdict next(Hop &hop, int status, const QByteArray &location, bool formPost);

} // namespace redirects
