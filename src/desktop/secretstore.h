#pragma once

#include "desktop/desktop.h"

// The desktop's secret store (the Secret Service, through QtKeychain), for the window and the
// command alike: Qt Core and D-Bus only. Never a plain-file fallback.
namespace secretstore {

// Secrets are kept under this service name, each under its own key.
inline constexpr QStringView kService = u"Giftvane";

QCoro::Task<SecretAnswer> write(const QString &key, const QByteArray &secret);
QCoro::Task<SecretAnswer> read(const QString &key);
QCoro::Task<SecretAnswer> remove(const QString &key);

} // namespace secretstore
