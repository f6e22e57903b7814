// SPDX-License-Identifier: MIT
#include "async/WorkerPriority.h"

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace varno {

void runBelowTheInterface() {
    // Linux schedules each thread on its own nice value; ten steps down gives a busy
    // main thread about nine tenths of a shared processor.
    thread_local const bool lowered = [] {
        const pid_t thread = ::gettid();
        const int now = ::getpriority(PRIO_PROCESS, id_t(thread));
        return ::setpriority(PRIO_PROCESS, id_t(thread), std::min(now + 10, 19)) == 0;
    }();
    (void)lowered;
}

} // namespace varno
