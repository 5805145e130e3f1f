#include "desktop/secretstore.h"

#include <QTimer>

#include <qcoro/qcorosignal.h>
#include <qt6keychain/keychain.h>

#include <memory>

namespace secretstore {

namespace {

enum class Verb { Write, Read, Delete };

// QtKeychain tells a missing store only by its words: without a session bus, without a
// secret service, or with one that holds no unlocked collection, it answers OtherError.
SecretAnswer answerOf(const QKeychain::Job &job, Verb verb) {
    using Status = SecretAnswer::Status;
    switch (job.error()) {
    case QKeychain::NoError:
        return {};
    case QKeychain::EntryNotFound:
        return {verb == Verb::Read ? Status::NotFound : Status::Done, {}, {}};
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
        return {Status::NoStore, {}, job.errorString()};
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
    case QKeychain::CouldNotDeleteEntry:
        break;
    }
    return {Status::Failed, {}, job.errorString()};
}

QCoro::Task<SecretAnswer> run(QKeychain::Job *job, const QString &key, Verb verb) {
    job->setKey(key);
    // Never the plain-file fallback: a secret is kept in the store or not at all.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    std::unique_ptr<QKeychain::Job> owned(job);
    // Started from the event loop, once this is waiting: a job may finish inside start().
    QTimer::singleShot(0, job, &QKeychain::Job::start);
    co_await qCoro(job, &QKeychain::Job::finished);
    SecretAnswer answer = answerOf(*job, verb);
    if (answer.status == SecretAnswer::Status::Done && verb == Verb::Read)
        answer.secret = static_cast<QKeychain::ReadPasswordJob *>(job)->binaryData();
    co_return answer;
}

} // namespace

QCoro::Task<SecretAnswer> write(const QString &key, const QByteArray &secret) {
    auto *job = new QKeychain::WritePasswordJob(kService.toString());
    job->setBinaryData(secret);
    return run(job, key, Verb::Write);
}

QCoro::Task<SecretAnswer> read(const QString &key) {
    return run(new QKeychain::ReadPasswordJob(kService.toString()), key, Verb::Read);
}

QCoro::Task<SecretAnswer> remove(const QString &key) {
    return run(new QKeychain::DeletePasswordJob(kService.toString()), key, Verb::Delete);
}

} // namespace secretstore
