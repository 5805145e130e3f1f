#pragma once

#include "receive/replies.h"
#include "web/webclient.h"

#include <QString>

#include <qcoro/qcorotask.h>

class RequestScope;
class WebClient;

// Posts one gift code to the cloud disk's receive endpoint; empty text when the request fails
// (no connection, time-out, a reply too large or sent on to another host), and the failure's
// reason with it.
QCoro::Task<Fetched> PostGiftCode(WebClient &web, QString cloudDiskHost, QString code,
                                  RequestScope *scope = nullptr);
