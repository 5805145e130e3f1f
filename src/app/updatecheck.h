#pragma once

#include "version.h"

#include <QString>

#include <qcoro/qcorotask.h>

struct Fetched;
class RequestScope;
class WebClient;

// The version file names the current version after "115:" and before "|". A reply that is not
// a success, or holds no "115:", is no answer.
struct UpdateVerdict {
    enum Kind { Current, Different, NoAnswer } kind = NoAnswer;
    QString latest;
};

inline constexpr QStringView kOwnVersion = u"" GIFTVANE_VERSION_TAG;

UpdateVerdict readVersionFile(const Fetched &reply);
QCoro::Task<UpdateVerdict> checkForUpdate(WebClient &web, QString updateServer, RequestScope *scope);
QString updatePageAddress(const QString &forumSite);
