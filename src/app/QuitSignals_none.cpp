// SPDX-License-Identifier: MIT
#include "app/QuitSignals.h"

namespace varno {

void quitOnTerminationSignals() {}

} // namespace varno
