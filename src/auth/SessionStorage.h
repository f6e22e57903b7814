// SPDX-License-Identifier: MIT
#pragma once

#include "auth/SecretStore.h"
#include "model/Records.h"

#include <QCoroTask>
#include <QString>

#include <memory>
#include <optional>

namespace varno {

// Where this machine keeps its signed-in session: the system's keyring, or a
// private file on machines where no keyring answers. A session never leaves the
// machine that signed in.
class SessionStorage {
public:
    virtual ~SessionStorage() = default;

    // The saved session, or none when there is none or it is not a session. Throws
    // AppError when one is there that must not be used (a session file others can
    // read), with a sentence that says how to fix it.
    virtual QCoro::Task<std::optional<SavedSession>> read() = 0;
    // Replaces the saved session, or creates it. Throws AppError on failure.
    virtual QCoro::Task<void> save(SavedSession session) = 0;
    // Deletes it; reports nothing, whatever happens.
    virtual QCoro::Task<void> remove() = 0;
    // Where the session is kept, to finish "Your session is kept in …".
    virtual QString place() const = 0;

    // For the commands that also run without a desktop: the session file when one
    // is there (that is where this machine signed in), else the keyring when it
    // answers, else a new session file at sessionFilePath.
    static QCoro::Task<std::shared_ptr<SessionStorage>>
    forThisMachine(std::shared_ptr<SecretStore> keyring, QString sessionFilePath);
};

} // namespace varno
