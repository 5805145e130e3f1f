#include "receive/receive.h"

#include "web/clouddisk.h"
#include "web/webclient.h"

QCoro::Task<Fetched> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code, RequestScope *scope) {
    co_return co_await web.PostFormSync(clouddisk::receiveAddress(cloudDiskHost),
                                        clouddisk::receiveBody(code), scope);
}
