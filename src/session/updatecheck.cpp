#include "session/updatecheck.h"

#include "text/text.h"
#include "web/webclient.h"

UpdateVerdict readVersionFile(const Fetched &reply) {
    // An error page or a file that names no version of this program is no answer: it must
    // not send the user to the update page as if a new version had come out.
    if (!reply.ok() || !reply.text.contains(u"115:"))
        return {UpdateVerdict::NoAnswer, {}};
    const QString latest = text::TextBefore(text::PieceAt(reply.text, u"115:", 1), u"|").toString();
    return {latest == kOwnVersion ? UpdateVerdict::Current : UpdateVerdict::Different, latest};
}

QString updatePageAddress(const QString &forumSite) {
    return forumSite + u"/forum.php?mod=viewthread&tid=24848";
}

UpdateCheck::UpdateCheck(WebClient &web, QString updateServer)
    : m_web(web)
    , m_updateServer(std::move(updateServer)) {}

QCoro::Task<> UpdateCheck::work() {
    const Fetched reply =
        co_await m_web.FetchPageText(m_updateServer + u"/version/main.txt", &scope(), WebClient::Size::Small);
    if (isCancelled())
        co_return;
    finish(&UpdateCheck::finished, readVersionFile(reply));
}
