#include "receive/receive.h"

#include "web/clouddisk.h"
#include "web/webclient.h"

QCoro::Task<QString> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code, RequestScope *scope) {
    const Fetched reply = co_await web.PostFormSync(clouddisk::receiveAddress(cloudDiskHost),
                                                    clouddisk::receiveBody(code), scope);
    co_return reply.text;
}
