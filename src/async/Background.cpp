#include "async/Background.h"

namespace varno {

QThreadPool& blockingPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(16);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

} // namespace varno
