#include "app/updatereply.h"

#include "desktop/desktop.h"
#include "session/updatecheck.h"
#include "text/text.h"

#include <QUrl>

bool acceptUpdateVerdict(const UpdateVerdict &verdict, Desktop &desktop, QWidget *window,
                         const QString &forum) {
    const QString title = QStringLiteral("Corvane系列软件");
    switch (verdict.kind) {
    case UpdateVerdict::NoAnswer:
        desktop.message(window, Desktop::Icon::Warning, title, QStringLiteral("检测更新失败!请您稍后再试"));
        return false;
    case UpdateVerdict::Different:
        desktop.information(window, title,
                            u"发现最新版本![" + text::shownText(verdict.latest) +
                                u"]\r\n \r\n确定后自动打开更新地址!");
        desktop.openUrl(QUrl(updatePageAddress(forum)));
        return false;
    case UpdateVerdict::Current:
        break;
    }
    return true;
}
