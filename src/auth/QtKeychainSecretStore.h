// SPDX-License-Identifier: MIT
#pragma once

#include "auth/SecretStore.h"

#include <chrono>

namespace varno {

// The platform's secret store through QtKeychain (Secret Service on Linux, the
// login Keychain on macOS), never its plain-text fallback. Jobs run on the
// calling thread's event loop; the caller only awaits. A job that the service
// leaves unanswered past the timeout counts as failed (it finishes on its own).
class QtKeychainSecretStore : public SecretStore {
public:
    explicit QtKeychainSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(60));

    QCoro::Task<SecretResult> read(QString service, QString key) override;
    QCoro::Task<SecretResult> write(QString service, QString key, QByteArray data) override;
    QCoro::Task<SecretResult> remove(QString service, QString key) override;

private:
    std::chrono::milliseconds timeout_;
};

} // namespace varno
