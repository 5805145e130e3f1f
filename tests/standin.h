#pragma once

#include "sandbox/sandbox.h"
#include "web/sites.h"
#include "web/webclient.h"

#include <qcoro/qcorotask.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// The program's site addresses pointed at the stand-in sites.
inline SiteAddresses addressesOf(const sandbox::Sandbox &sites) {
    using sandbox::Site;
    return {sites.address(Site::Listing),   sites.address(Site::Share),
            sites.address(Site::CloudDisk), sites.address(Site::Update),
            sites.address(Site::Update),    sites.address(Site::Update) + u"/kf.html"};
}

// Time-outs of waits that end as soon as their condition holds, stretched where the suite runs
// slower (GIFTVANE_TEST_TIME_SCALE, set for the sanitizer build), so a slower build does not
// fail a correct test.
inline int scaled(int milliseconds) {
    static const int factor = qMax(1, qEnvironmentVariableIntValue("GIFTVANE_TEST_TIME_SCALE"));
    return milliseconds * factor;
}

// Runs the event loop until the condition holds or the time is up; true when it holds. Wakes
// for every event, where QTest::qWaitFor naps 10 ms between turns.
inline bool runUntil(const std::function<bool()> &condition, int timeoutMs = 10000) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(scaled(timeoutMs), &loop, &QEventLoop::quit);
    poll.start(1);
    if (!condition())
        loop.exec();
    return condition();
}

// The paths and queries of requests, as sent.
inline QStringList targets(const QList<sandbox::Request> &requests) {
    QStringList out;
    for (const sandbox::Request &request : requests)
        out.append(QString::fromUtf8(request.target));
    return out;
}

// The gift codes of the receive posts the cloud disk saw, in order.
inline QStringList sentCodes(const sandbox::Sandbox &sites) {
    QStringList out;
    for (const sandbox::Request &request : sites.requests(sandbox::Site::CloudDisk)) {
        if (request.method == "POST")
            out.append(QString::fromUtf8(
                QByteArray::fromPercentEncoding(request.body.mid(int(qstrlen("referer=&gift_code="))))));
    }
    return out;
}

// Signs in at the stand-in cloud disk with the client's cookie jar, as a scan in the browser
// would; true once the session cookie is set.
inline bool signIn(WebClient &web, const sandbox::Sandbox &sites) {
    bool done = false;
    auto task = [](WebClient *client, QString url, bool *flag) -> QCoro::Task<> {
        co_await client->FetchPageText(url);
        *flag = true;
    }(&web, sites.address(sandbox::Site::CloudDisk) + u"/login/scan", &done);
    return runUntil([&] { return done; });
}

// Jobs delete themselves with deleteLater(); a test's end must not leave them behind.
inline void deleteEndedJobs() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
