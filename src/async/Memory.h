// SPDX-License-Identifier: MIT
#pragma once

namespace varno::memory {

// The C library's allocator, for a process that now and then holds a large answer.
// With an arena per thread, a dashboard decoded on one worker and freed on another
// leaves free pages held in each: at 132,000 rows that was a third of peak memory.
// Large blocks are mapped on their own, so that freeing one gives it back at once.
// Call once at start, before threads are made.
void tuneAllocator();

// Gives the pages freed by something large back to the system.
void releaseFreePages();

} // namespace varno::memory
