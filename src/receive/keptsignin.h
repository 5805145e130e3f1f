#pragma once

#include "desktop/desktop.h"

#include <QList>
#include <QNetworkCookie>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

#include <qcoro/qcorotask.h>

class CookieJar;

// "保持登录": the cloud disk's sign-in cookies kept between runs in the desktop's secret
// store, under one entry per cloud-disk host (entryKey()), never in a plain file. The browser
// profile itself stays off the record; the jar is what is kept and restored, and the sign-in
// browser follows the jar.
class KeptSignIn final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeptSignIn)

public:
    // What is known of the secret store: not asked yet, there, or missing.
    enum class Store { Unknown, Present, Missing };
    struct Result {
        SecretAnswer::Status status = SecretAnswer::Status::Done;
        int cookies = 0; // how many were kept, restored or forgotten
        QString reason;  // the store's words when it is missing or refused
        bool ok() const { return status == SecretAnswer::Status::Done; }
    };

    // The desktop and the jar must outlive this.
    KeptSignIn(Desktop &desktop, CookieJar &jar, const QString &cloudDiskHost, QObject *parent = nullptr);

    // The key of the secret store's entry: "cloud-disk-session@" and the host, such as
    // "cloud-disk-session@115.com".
    QString entryKey() const;
    Store store() const { return m_store; }
    // Why the store is missing, in Chinese, for the user; empty unless it is.
    QString whyNoStore() const;
    // Whether the store is known to hold a kept sign-in: restored, saved, or found by probe().
    bool isKept() const { return m_entryKept.value_or(false); }

    // Puts the kept cookies into the jar (expired ones and other hosts' left out). NotFound
    // when nothing is kept.
    QCoro::Task<Result> restore();
    // Asks the store whether it is there, without touching the jar.
    QCoro::Task<Store> probe();
    // Keeps the jar's cookies that go to the cloud disk, replacing what was kept.
    QCoro::Task<Result> save();
    // Removes the kept entry, leaving the jar as it is: the user no longer wants to be kept.
    QCoro::Task<Result> discard();
    // Signs out: the kept entry, and the cloud disk's cookies in the jar and in the browser.
    QCoro::Task<Result> forget();

    // The store's form of cookies: JSON, names and values in base64, with domain, path,
    // expiry, secure, httpOnly and sameSite. An entry that cannot be read gives no cookies.
    static QByteArray serialise(const QList<QNetworkCookie> &cookies);
    static QList<QNetworkCookie> deserialise(const QByteArray &secret);
    // Whether the cookie goes with requests to the host (domain matching, as the jar does: a
    // domain without a leading dot is one host's alone).
    static bool sentTo(const QNetworkCookie &cookie, const QString &host);

Q_SIGNALS:
    void storeChanged(KeptSignIn::Store store);
    // A sentence for the user (log, status bar): keeping or restoring did not work, and why.
    void notice(const QString &text);

private:
    QList<QNetworkCookie> cloudDiskCookies() const;
    // Notes what an answer says about the store; true when it says the store is missing.
    bool learn(const SecretAnswer &answer);

    Desktop &m_desktop;
    CookieJar &m_jar;
    const QUrl m_origin;
    const QString m_host;
    Store m_store = Store::Unknown;
    QString m_reason;
    // Whether the store holds an entry: unknown until read, written or deleted.
    std::optional<bool> m_entryKept;
    int m_signOuts = 0; // forget() calls: a restore asked before one must not undo it
};
