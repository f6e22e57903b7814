// SPDX-License-Identifier: MIT
#include "auth/MemorySecretStore.h"

namespace varno {

namespace {
SecretResult failure() {
    return SecretResult{SecretResult::Status::failed, {}, QStringLiteral("refused by the test")};
}
} // namespace

QCoro::Task<SecretResult> MemorySecretStore::read(QString service, QString key) {
    ++reads;
    if (failReads)
        co_return failure();
    const auto it = items_.constFind({service, key});
    if (it == items_.constEnd())
        co_return SecretResult{SecretResult::Status::notFound, {}, {}};
    co_return SecretResult{SecretResult::Status::ok, it.value(), {}};
}

QCoro::Task<SecretResult> MemorySecretStore::write(QString service, QString key, QByteArray data) {
    ++writes;
    if (failWrites)
        co_return failure();
    items_.insert({service, key}, data);
    co_return SecretResult{SecretResult::Status::ok, {}, {}};
}

QCoro::Task<SecretResult> MemorySecretStore::remove(QString service, QString key) {
    ++removes;
    if (failRemoves)
        co_return failure();
    if (items_.remove({service, key}) == 0)
        co_return SecretResult{SecretResult::Status::notFound, {}, {}};
    co_return SecretResult{SecretResult::Status::ok, {}, {}};
}

std::optional<QByteArray> MemorySecretStore::item(const QString& service,
                                                  const QString& key) const {
    const auto it = items_.constFind({service, key});
    if (it == items_.constEnd())
        return std::nullopt;
    return it.value();
}

void MemorySecretStore::setItem(const QString& service, const QString& key,
                                const QByteArray& data) {
    items_.insert({service, key}, data);
}

} // namespace varno
