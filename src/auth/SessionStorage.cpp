// SPDX-License-Identifier: MIT
#include "auth/SessionStorage.h"

#include "auth/KeychainSessionStorage.h"
#include "auth/SessionFile.h"
#include "auth/SessionKeychain.h"

namespace varno {

QCoro::Task<std::shared_ptr<SessionStorage>>
SessionStorage::forThisMachine(std::shared_ptr<SecretStore> keyring, QString sessionFilePath) {
    auto file = std::make_shared<SessionFile>(std::move(sessionFilePath));
    // A file left where the keyring now answers still holds this machine's
    // session; it stays the place until it is removed.
    if (file->exists())
        co_return file;
    const SecretResult probe =
        co_await keyring->read(SessionKeychain::service, SessionKeychain::key);
    if (probe.status != SecretResult::Status::failed)
        co_return std::make_shared<KeychainSessionStorage>(std::move(keyring));
    co_return file;
}

} // namespace varno
