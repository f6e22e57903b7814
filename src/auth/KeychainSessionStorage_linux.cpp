// SPDX-License-Identifier: MIT
#include "auth/KeychainSessionStorage.h"

namespace varno {

QString KeychainSessionStorage::place() const {
    return QStringLiteral("your keyring (the Secret Service)");
}

} // namespace varno
