// SPDX-License-Identifier: MIT
#pragma once

#include "auth/SecretStore.h"
#include "model/Records.h"

#include <QCoroTask>

#include <memory>
#include <optional>

namespace varno {

// The signed-in session, kept as one secret-store item (service
// "app.varno.prototype", key "session") holding the session's JSON. No state of
// its own: every operation names the store it works on. All operations are
// asynchronous and never block the calling thread.
class SessionKeychain {
public:
    SessionKeychain() = delete;

    static const QString service;
    static const QString key;

    // The platform's secret store, shared by the whole process.
    static std::shared_ptr<SecretStore> systemStore();

    // The stored session, or nothing when there is none, the store fails, or the
    // data is not a session. A bad item is left as it is.
    static QCoro::Task<std::optional<SavedSession>> read(std::shared_ptr<SecretStore> store);

    // Replaces the stored session, or creates the item. Reads first to tell the
    // two apart, so that each failure gets its own message: AppError "Could not
    // update your Keychain session." when an existing item (or the read) fails,
    // "Could not save your session in Keychain." when creating it fails.
    static QCoro::Task<void> save(std::shared_ptr<SecretStore> store, SavedSession session);

    // Deletes the item; reports nothing, whatever happens.
    static QCoro::Task<void> remove(std::shared_ptr<SecretStore> store);
};

} // namespace varno
