// SPDX-License-Identifier: MIT
#include "usage/InstallLocations.h"

namespace varno::detail {

QStringList platformInstallLocations() {
    return {QStringLiteral(".local/bin/codexbar"), QStringLiteral("/usr/bin/codexbar")};
}

} // namespace varno::detail
