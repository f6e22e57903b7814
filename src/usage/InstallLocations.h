// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

namespace varno::detail {

// Where CodexBar's tool is installed on this platform beyond the macOS places
// every platform tries. Relative entries are relative to the home directory.
QStringList platformInstallLocations();

} // namespace varno::detail
