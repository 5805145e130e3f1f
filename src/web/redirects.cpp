#include "web/redirects.h"

#include "web/sites.h"

namespace redirects {

Verdict next(Hop &hop, int status, const QByteArray &location, bool formPost) {
    if (status < 300 || status > 399 || status == 304 || location.isEmpty())
        return Verdict::NotARedirect;
    const QUrl target = hop.url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
    if (hop.url.scheme() == u"https" && target.scheme() != u"https")
        return Verdict::Refuse;
    if (!sameOrigin(hop.url, target)) {
        if (formPost)
            return Verdict::Refuse;
        hop.headers.clear();
    }
    if (status == 303 || ((status == 301 || status == 302) && hop.verb != "GET")) {
        hop.verb = "GET";
        hop.body.clear();
        hop.headers.removeIf([](const auto &header) { return header.first.toLower() == "content-type"; });
    }
    hop.url = target;
    return Verdict::Follow;
}

} // namespace redirects
