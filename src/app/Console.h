// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <cstdio>

namespace varno {

// Writes text to a terminal stream in the locale's encoding, at once (standard error
// and the journal read line by line).
void printText(std::FILE* stream, const QString& text);

// Exit statuses of the commands, beyond 0 (success).
namespace exitStatus {
inline constexpr int failure = 1;
inline constexpr int usage = 2;
// Not signed in on this machine (no session, one that must not be used, or the
// server signed it out): only `varno --sign-in` helps, so a service manager must not
// restart Varno after it. sysexits' EX_NOPERM.
inline constexpr int notSignedIn = 77;
} // namespace exitStatus

} // namespace varno
