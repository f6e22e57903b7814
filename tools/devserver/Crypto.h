// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace varno::devserver {

// Lower-case hex of `bytes` bytes from the system's secure random source.
QString randomHex(int bytes);

// Lower-case hex SHA-256 of the UTF-8 bytes of `text`.
QString sha256Hex(const QString& text);

// True for exactly 64 characters of 0-9a-f.
bool isLowerHex64(const QString& text);

} // namespace varno::devserver
