// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace varno {

// How the user's own machine is named in sentences: "this Mac" on macOS, "this
// computer" elsewhere, where Linux users would not call theirs a Mac.
QString thisComputer();
// The same at the start of a label: "This Mac", "This computer".
QString thisComputerTitle();

} // namespace varno
