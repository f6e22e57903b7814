// SPDX-License-Identifier: MIT
#include "async/Background.h"

namespace varno {

QThreadPool& blockingPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(16);
        // Longer than the minute between syncs: an idle thread waits without waking,
        // where one let go after 30 s was made again at every sync.
        p->setExpiryTimeout(5 * 60 * 1000);
        return p;
    }();
    return *pool;
}

} // namespace varno
