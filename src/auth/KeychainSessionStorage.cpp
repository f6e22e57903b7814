// SPDX-License-Identifier: MIT
#include "auth/KeychainSessionStorage.h"

#include "auth/SessionKeychain.h"

namespace varno {

KeychainSessionStorage::KeychainSessionStorage(std::shared_ptr<SecretStore> store)
    : store_(std::move(store)) {}

QCoro::Task<std::optional<SavedSession>> KeychainSessionStorage::read() {
    return SessionKeychain::read(store_);
}

QCoro::Task<void> KeychainSessionStorage::save(SavedSession session) {
    return SessionKeychain::save(store_, std::move(session));
}

QCoro::Task<void> KeychainSessionStorage::remove() {
    return SessionKeychain::remove(store_);
}

} // namespace varno
