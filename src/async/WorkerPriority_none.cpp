// SPDX-License-Identifier: MIT
#include "async/WorkerPriority.h"

namespace varno {

void runBelowTheInterface() {}

} // namespace varno
