// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace varno {

// The user's temporary folder: $TMPDIR when it names a folder, else the system's
// /tmp. Qt answers an empty path for a TMPDIR that names nothing, and a file made
// under an empty path lands in the working folder.
QString temporaryFolder();

} // namespace varno
