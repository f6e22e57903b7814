// SPDX-License-Identifier: MIT
#include "app/FreedesktopNotifier_linux.h"

namespace varno {

std::shared_ptr<Notifier> Notifier::forThisSystem() {
    return std::make_shared<FreedesktopNotifier>(QDBusConnection::sessionBus());
}

} // namespace varno
