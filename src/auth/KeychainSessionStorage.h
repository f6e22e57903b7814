// SPDX-License-Identifier: MIT
#pragma once

#include "auth/SessionStorage.h"

namespace varno {

// The session in the system's keyring (Secret Service, Keychain), through
// SessionKeychain and its messages.
class KeychainSessionStorage : public SessionStorage {
public:
    explicit KeychainSessionStorage(std::shared_ptr<SecretStore> store);

    QCoro::Task<std::optional<SavedSession>> read() override;
    QCoro::Task<void> save(SavedSession session) override;
    QCoro::Task<void> remove() override;
    QString place() const override;

private:
    std::shared_ptr<SecretStore> store_;
};

} // namespace varno
