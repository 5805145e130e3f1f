#pragma once

#include <QString>

namespace sandbox {

// A whole page in UTF-8 around its body, as every page the sites make is.
inline QString page(const QString &title, const QString &body) {
    return u"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           u"</title></head>\n<body>\n" + body + u"\n</body></html>\n";
}

} // namespace sandbox
