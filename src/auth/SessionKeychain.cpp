// SPDX-License-Identifier: MIT
#include "auth/SessionKeychain.h"

#include "auth/QtKeychainSecretStore.h"
#include "model/Errors.h"

namespace varno {

const QString SessionKeychain::service = QStringLiteral("app.varno.prototype");
const QString SessionKeychain::key = QStringLiteral("session");

std::shared_ptr<SecretStore> SessionKeychain::systemStore() {
    static const std::shared_ptr<SecretStore> store = std::make_shared<QtKeychainSecretStore>();
    return store;
}

QCoro::Task<std::optional<SavedSession>> SessionKeychain::read(std::shared_ptr<SecretStore> store) {
    const SecretResult result = co_await store->read(service, key);
    if (!result.ok())
        co_return std::nullopt;
    try {
        co_return decodeJson<SavedSession>(result.data);
    } catch (const DecodingError&) {
        co_return std::nullopt;
    }
}

QCoro::Task<void> SessionKeychain::save(std::shared_ptr<SecretStore> store, SavedSession session) {
    const QByteArray data = session.toJson();
    const SecretResult existing = co_await store->read(service, key);
    switch (existing.status) {
    case SecretResult::Status::ok: {
        const SecretResult updated = co_await store->write(service, key, data);
        if (!updated.ok())
            throw AppError(QStringLiteral("Could not update your Keychain session."));
        co_return;
    }
    case SecretResult::Status::notFound: {
        const SecretResult added = co_await store->write(service, key, data);
        if (!added.ok())
            throw AppError(QStringLiteral("Could not save your session in Keychain."));
        co_return;
    }
    case SecretResult::Status::failed:
        break;
    }
    // Whether an item exists is unknown: a failed update, and nothing is written.
    throw AppError(QStringLiteral("Could not update your Keychain session."));
}

QCoro::Task<void> SessionKeychain::remove(std::shared_ptr<SecretStore> store) {
    co_await store->remove(service, key);
}

} // namespace varno
