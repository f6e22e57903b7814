// SPDX-License-Identifier: MIT
#include "usage/InstallLocations.h"

namespace varno::detail {

QStringList platformInstallLocations() {
    return {};
}

} // namespace varno::detail
