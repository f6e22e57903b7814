// SPDX-License-Identifier: MIT
#include "async/WorkerPriority.h"

#include <pthread.h>
#include <sys/qos.h>

namespace varno {

void runBelowTheInterface() {
    thread_local const bool lowered = pthread_set_qos_class_self_np(QOS_CLASS_UTILITY, 0) == 0;
    (void)lowered;
}

} // namespace varno
