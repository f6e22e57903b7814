// SPDX-License-Identifier: MIT
#include "async/Memory.h"

#include <malloc.h>

namespace varno::memory {

void limitArenas() {
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
#endif
}

void releaseFreePages() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace varno::memory
