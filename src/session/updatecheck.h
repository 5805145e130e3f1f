#pragma once

#include "job/job.h"
#include "version.h"

#include <QString>

struct Fetched;
class WebClient;

// The version file names the current version after "115:" and before "|". A reply that is not
// a success, or holds no "115:", is no answer.
struct UpdateVerdict {
    enum Kind { Current, Different, NoAnswer } kind = NoAnswer;
    QString latest;
};

inline constexpr QStringView kOwnVersion = u"" GIFTVANE_VERSION_TAG;

UpdateVerdict readVersionFile(const Fetched &reply);
QString updatePageAddress(const QString &forumSite);

// Asks the update server which version is current.
class UpdateCheck final : public Job {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateCheck)

public:
    UpdateCheck(WebClient &web, QString updateServer);

Q_SIGNALS:
    void finished(const UpdateVerdict &verdict);

protected:
    QCoro::Task<> work() override;

private:
    WebClient &m_web;
    const QString m_updateServer;
};
