#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

class WebClient;

// The version file names the current version after "115:" and before "|".
struct UpdateVerdict {
    enum Kind { Current, Different, NoAnswer } kind = NoAnswer;
    QString latest;
};

inline constexpr QStringView kOwnVersion = u"V1.6.5";

UpdateVerdict readVersionFile(const QString &reply);
QCoro::Task<UpdateVerdict> checkForUpdate(WebClient &web, QString updateServer);
QString updatePageAddress(const QString &forumSite);
