#pragma once

#include "receive/replies.h"
#include "web/slots.h"
#include "web/webclient.h"

#include <QString>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

class RequestScope;
class WebClient;

// Posts one gift code to the cloud disk's receive endpoint; empty text when the request fails
// (no connection, time-out, a reply too large or sent on to another host), and the failure's
// reason with it.
QCoro::Task<Fetched> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code,
                                  RequestScope *scope = nullptr);

// Gift codes go to the cloud disk one at a time in the whole program, the user's receives and the
// new-gift watch's alike: neither posts while the other has a post in flight, and a post that
// must not repeat a receive asks, once its turn has come, whether its code was received
// meanwhile. (Each answer is recorded before the next post is on its way: the next holder
// resumes on a later turn of the event loop.)
class GiftPosts final {
public:
    // Posts `code` on its turn, as PostGiftCode does; none when `passOver`, asked on the turn,
    // says the code was received meanwhile. Called off while waiting: a cancelled result.
    QCoro::Task<std::optional<Fetched>> post(WebClient &web, QString cloudDiskHost, QString code,
                                             RequestScope &scope, std::function<bool()> passOver = {});

private:
    Slots m_turn{1};
};
