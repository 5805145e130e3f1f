#include "receive/keptsignin.h"

#include "web/cookiejar.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPointer>
#include <QUrl>

namespace {

Q_LOGGING_CATEGORY(lcKept, "giftvane.keptsignin", QtInfoMsg)

using Status = SecretAnswer::Status;

// Raised when the store's form changes; an entry of another version is read as nothing kept.
constexpr int kFormat = 1;

QString sameSiteText(QNetworkCookie::SameSite sameSite) {
    switch (sameSite) {
    case QNetworkCookie::SameSite::Default:
        break;
    case QNetworkCookie::SameSite::None:
        return QStringLiteral("None");
    case QNetworkCookie::SameSite::Lax:
        return QStringLiteral("Lax");
    case QNetworkCookie::SameSite::Strict:
        return QStringLiteral("Strict");
    }
    return {};
}

QNetworkCookie::SameSite sameSiteOf(const QString &text) {
    if (text == u"None")
        return QNetworkCookie::SameSite::None;
    if (text == u"Lax")
        return QNetworkCookie::SameSite::Lax;
    if (text == u"Strict")
        return QNetworkCookie::SameSite::Strict;
    return QNetworkCookie::SameSite::Default;
}

QString base64(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

std::optional<QByteArray> fromBase64(const QJsonValue &value) {
    const auto decoded =
        QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!value.isString() || !decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace

KeptSignIn::KeptSignIn(Desktop &desktop, CookieJar &jar, const QString &cloudDiskHost, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_jar(jar)
    , m_origin(cloudDiskHost)
    , m_host(m_origin.host()) {}

QString KeptSignIn::entryKey() const {
    return u"cloud-disk-session@" + m_host;
}

QString KeptSignIn::whyNoStore() const {
    if (m_store != Store::Missing)
        return {};
    return u"没有可用的系统密钥环，无法保持登录。原因：" + m_reason;
}

bool KeptSignIn::sentTo(const QNetworkCookie &cookie, const QString &host) {
    // As the jar matches: ".115.com" goes to 115.com and its subdomains, "115.com" (a host-only
    // cookie) to that host alone.
    const QString domain = cookie.domain().toLower();
    const QString lowerHost = host.toLower();
    if (domain.isEmpty() || lowerHost.isEmpty())
        return false;
    if (!domain.startsWith(u'.'))
        return lowerHost == domain;
    return lowerHost == QStringView(domain).mid(1) || lowerHost.endsWith(domain);
}

QByteArray KeptSignIn::serialise(const QList<QNetworkCookie> &cookies) {
    QJsonArray list;
    for (const QNetworkCookie &cookie : cookies) {
        QJsonObject entry{{u"name"_qs, base64(cookie.name())}, {u"value"_qs, base64(cookie.value())},
                          {u"domain"_qs, cookie.domain()},     {u"path"_qs, cookie.path()},
                          {u"secure"_qs, cookie.isSecure()},   {u"httpOnly"_qs, cookie.isHttpOnly()}};
        if (!cookie.isSessionCookie())
            entry.insert(u"expires"_qs, cookie.expirationDate().toUTC().toString(Qt::ISODateWithMs));
        if (const QString sameSite = sameSiteText(cookie.sameSitePolicy()); !sameSite.isEmpty())
            entry.insert(u"sameSite"_qs, sameSite);
        list.append(entry);
    }
    return QJsonDocument(QJsonObject{{u"format"_qs, kFormat}, {u"cookies"_qs, list}})
        .toJson(QJsonDocument::Compact);
}

QList<QNetworkCookie> KeptSignIn::deserialise(const QByteArray &secret) {
    const QJsonObject root = QJsonDocument::fromJson(secret).object();
    if (root.value(u"format").toInt() != kFormat)
        return {};
    QList<QNetworkCookie> out;
    for (const QJsonValue &value : root.value(u"cookies").toArray()) {
        const QJsonObject entry = value.toObject();
        const auto name = fromBase64(entry.value(u"name"));
        const auto content = fromBase64(entry.value(u"value"));
        if (!name || !content || name->isEmpty() || entry.value(u"domain").toString().isEmpty())
            continue;
        QNetworkCookie cookie(*name, *content);
        cookie.setDomain(entry.value(u"domain").toString());
        cookie.setPath(entry.value(u"path").toString());
        cookie.setSecure(entry.value(u"secure").toBool());
        cookie.setHttpOnly(entry.value(u"httpOnly").toBool());
        cookie.setSameSitePolicy(sameSiteOf(entry.value(u"sameSite").toString()));
        if (entry.contains(u"expires")) {
            const QDateTime expires =
                QDateTime::fromString(entry.value(u"expires").toString(), Qt::ISODateWithMs);
            if (!expires.isValid())
                continue; // a session cookie it never was
            cookie.setExpirationDate(expires);
        }
        out.append(cookie);
    }
    return out;
}

QList<QNetworkCookie> KeptSignIn::cloudDiskCookies() const {
    QList<QNetworkCookie> out;
    for (const QNetworkCookie &cookie : m_jar.cookies()) {
        if (sentTo(cookie, m_host))
            out.append(cookie);
    }
    return out;
}

bool KeptSignIn::learn(const SecretAnswer &answer) {
    const Store now = answer.status == Status::NoStore ? Store::Missing : Store::Present;
    const bool changed = now != m_store || (now == Store::Missing && answer.reason != m_reason);
    m_store = now;
    m_reason = now == Store::Missing ? answer.reason : QString();
    if (changed)
        Q_EMIT storeChanged(m_store);
    return now == Store::Missing;
}

QCoro::Task<KeptSignIn::Result> KeptSignIn::restore() {
    QPointer<KeptSignIn> self(this);
    const int signOuts = m_signOuts;
    const SecretAnswer answer = co_await m_desktop.readSecret(entryKey());
    if (!self)
        co_return Result{Status::Failed, 0, {}};
    // Signed out while the store was asked (it may wait for the user to unlock it): what it
    // answers must not sign the user in again.
    if (m_signOuts != signOuts)
        co_return Result{Status::NotFound, 0, {}};
    learn(answer);
    if (answer.status == Status::NotFound)
        m_entryKept = false;
    if (answer.status != Status::Done) {
        if (answer.status != Status::NotFound)
            Q_EMIT notice(u"无法恢复保持的登录：" + answer.reason);
        co_return Result{answer.status, 0, answer.reason};
    }
    m_entryKept = true;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> cookies;
    for (const QNetworkCookie &cookie : deserialise(answer.secret)) {
        if (sentTo(cookie, m_host) && (cookie.isSessionCookie() || cookie.expirationDate() > now))
            cookies.append(cookie);
    }
    const int restored = int(m_jar.restoreCookies(cookies, m_origin).size());
    qCDebug(lcKept, "restored %d kept cookies of %s", restored, qPrintable(m_host));
    co_return Result{Status::Done, restored, {}};
}

QCoro::Task<KeptSignIn::Store> KeptSignIn::probe() {
    QPointer<KeptSignIn> self(this);
    const SecretAnswer answer = co_await m_desktop.readSecret(entryKey());
    if (!self)
        co_return Store::Unknown;
    learn(answer);
    if (answer.status == Status::Done || answer.status == Status::NotFound)
        m_entryKept = answer.status == Status::Done;
    co_return m_store;
}

QCoro::Task<KeptSignIn::Result> KeptSignIn::save() {
    QPointer<KeptSignIn> self(this);
    const QList<QNetworkCookie> cookies = cloudDiskCookies();
    const SecretAnswer answer = co_await m_desktop.writeSecret(entryKey(), serialise(cookies));
    if (!self)
        co_return Result{Status::Failed, 0, {}};
    learn(answer);
    if (answer.status != Status::Done) {
        Q_EMIT notice(u"无法保持登录，登录信息没有保存：" + answer.reason);
        co_return Result{answer.status, 0, answer.reason};
    }
    m_entryKept = true;
    co_return Result{Status::Done, int(cookies.size()), {}};
}

QCoro::Task<KeptSignIn::Result> KeptSignIn::discard() {
    // Nothing kept, or nowhere to keep it: the store is not asked (it may ask the user to
    // unlock it).
    if (m_entryKept == false || m_store == Store::Missing)
        co_return Result{};
    QPointer<KeptSignIn> self(this);
    const SecretAnswer answer = co_await m_desktop.deleteSecret(entryKey());
    if (!self)
        co_return Result{Status::Failed, 0, {}};
    learn(answer);
    if (answer.status == Status::Done)
        m_entryKept = false;
    co_return Result{answer.status, 0, answer.reason};
}

QCoro::Task<KeptSignIn::Result> KeptSignIn::forget() {
    // Signed out here at once, whatever the store answers later: nothing may count on what it kept.
    ++m_signOuts;
    m_entryKept = false;
    const QList<QNetworkCookie> cookies = cloudDiskCookies();
    m_jar.removeCookies(cookies);
    QPointer<KeptSignIn> self(this);
    const SecretAnswer answer = co_await m_desktop.deleteSecret(entryKey());
    if (!self)
        co_return Result{Status::Failed, int(cookies.size()), {}};
    learn(answer);
    if (answer.status == Status::Done)
        m_entryKept = false;
    co_return Result{answer.status, int(cookies.size()), answer.reason};
}
