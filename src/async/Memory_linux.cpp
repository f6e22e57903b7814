// SPDX-License-Identifier: MIT
#include "async/Memory.h"

#include <malloc.h>

namespace varno::memory {

void tuneAllocator() {
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
    // A fixed threshold: by default glibc raises it after each large block is freed,
    // so that the next 20 MB list lands in the heap, where freeing it later leaves
    // holes the system does not get back.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void releaseFreePages() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace varno::memory
