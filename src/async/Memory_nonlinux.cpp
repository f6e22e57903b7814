// SPDX-License-Identifier: MIT
#include "async/Memory.h"

namespace varno::memory {

// The system allocators elsewhere give memory back by themselves.
void tuneAllocator() {}
void releaseFreePages() {}

} // namespace varno::memory
