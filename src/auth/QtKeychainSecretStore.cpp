// SPDX-License-Identifier: MIT
#include "auth/QtKeychainSecretStore.h"

#include <QCoroSignal>
#include <qt6keychain/keychain.h>

namespace varno {

namespace {

// Starts the job and waits for it without blocking. A job we stop waiting for
// deletes itself once it finishes: the backend may still call back into it.
QCoro::Task<SecretResult> run(QKeychain::Job* job, std::chrono::milliseconds timeout,
                              bool wantsData) {
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    job->start();
    const auto finished = co_await qCoro(job, &QKeychain::Job::finished, timeout);
    if (!finished.has_value()) {
        QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
        co_return SecretResult{SecretResult::Status::failed,
                               {},
                               QStringLiteral("The secret store did not answer in time.")};
    }
    job->deleteLater();
    SecretResult result;
    switch (job->error()) {
    case QKeychain::NoError:
        result.status = SecretResult::Status::ok;
        if (wantsData)
            result.data = static_cast<QKeychain::ReadPasswordJob*>(job)->binaryData();
        break;
    case QKeychain::EntryNotFound:
        result.status = SecretResult::Status::notFound;
        break;
    default:
        result.status = SecretResult::Status::failed;
        result.detail = job->errorString();
        break;
    }
    co_return result;
}

} // namespace

QtKeychainSecretStore::QtKeychainSecretStore(std::chrono::milliseconds timeout)
    : timeout_(timeout) {}

QCoro::Task<SecretResult> QtKeychainSecretStore::read(QString service, QString key) {
    auto* job = new QKeychain::ReadPasswordJob(service);
    job->setKey(key);
    return run(job, timeout_, true);
}

QCoro::Task<SecretResult> QtKeychainSecretStore::write(QString service, QString key,
                                                       QByteArray data) {
    auto* job = new QKeychain::WritePasswordJob(service);
    job->setKey(key);
    job->setBinaryData(data);
    return run(job, timeout_, false);
}

QCoro::Task<SecretResult> QtKeychainSecretStore::remove(QString service, QString key) {
    auto* job = new QKeychain::DeletePasswordJob(service);
    job->setKey(key);
    return run(job, timeout_, false);
}

} // namespace varno
