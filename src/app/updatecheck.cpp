#include "app/updatecheck.h"

#include "text/text.h"
#include "web/requestscope.h"
#include "web/webclient.h"

UpdateVerdict readVersionFile(const QString &reply) {
    if (reply.isEmpty())
        return {UpdateVerdict::NoAnswer, {}};
    const QString latest = text::TextBefore(text::PieceAt(reply, u"115:", 1), u"|").toString();
    return {latest == kOwnVersion ? UpdateVerdict::Current : UpdateVerdict::Different, latest};
}

QCoro::Task<UpdateVerdict> checkForUpdate(WebClient &web, QString updateServer, RequestScope *scope) {
    const QString reply = co_await web.FetchPageText(updateServer + u"/version/main.txt", scope);
    co_return readVersionFile(reply);
}

QString updatePageAddress(const QString &forumSite) {
    return forumSite + u"/forum.php?mod=viewthread&tid=24848";
}
