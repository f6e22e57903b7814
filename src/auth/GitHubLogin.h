// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace varno {

// The app's side of the GitHub sign-in: the one-time verifier and state, the
// challenge sent ahead of the verifier, and the check of the callback the browser
// comes back with. Opening the browser and waiting for the callback live in the
// callback router.
class GitHubLogin {
public:
    GitHubLogin() = delete;

    // 64 lower-case hex characters from 32 bytes of the system's secure random source.
    static QString randomToken();

    // Lower-case hex SHA-256 of the verifier's UTF-8 bytes (64 characters).
    static QString challenge(const QString& verifier);

    // Accepts only varno://auth/callback (scheme and host exactly as written) with
    // exactly one "state" equal to the expected one, no "error" item and exactly one
    // well-formed code; returns the code. Throws AppError otherwise. A wrong state wins
    // over an "error" item, so a forged or stale callback always reads as "could not
    // be verified".
    static QString code(const QString& callback, const QString& expectedState);

    // Whether the text is a sign-in callback link at all (varno://auth/callback as
    // written), whichever sign-in it belongs to.
    static bool isCallbackLink(const QString& text);
};

} // namespace varno
