#include "receive/receive.h"

#include "web/clouddisk.h"
#include "web/webclient.h"

#include <QScopeGuard>

QCoro::Task<Fetched> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code, RequestScope *scope) {
    co_return co_await web.PostFormSync(clouddisk::receiveAddress(cloudDiskHost),
                                        clouddisk::receiveBody(code), scope);
}

QCoro::Task<std::optional<Fetched>> GiftPosts::post(WebClient &web, QString cloudDiskHost, QString code,
                                                    RequestScope &scope, std::function<bool()> passOver) {
    if (!co_await m_turn.take(scope))
        co_return Fetched{}; // cancelled
    const auto giveBack = qScopeGuard([this] { m_turn.give(); });
    if (passOver && passOver())
        co_return std::nullopt;
    co_return co_await PostGiftCode(web, std::move(cloudDiskHost), std::move(code), &scope);
}
