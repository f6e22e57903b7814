// SPDX-License-Identifier: MIT
#pragma once

namespace varno {

// Background work yields to the interface: a worker thread calls this before its work,
// and from then on the scheduler lets the main thread go first whenever both want a
// processor (a sync's decoding and bookkeeping no longer stretch a frame on two
// cores). Once per thread; later calls cost nothing.
void runBelowTheInterface();

} // namespace varno
