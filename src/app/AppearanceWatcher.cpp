// SPDX-License-Identifier: MIT
#include "app/AppearanceWatcher.h"

namespace varno {

void AppearanceWatcher::setColorScheme(ColorScheme scheme) {
    if (scheme == scheme_)
        return;
    scheme_ = scheme;
    emit colorSchemeChanged(scheme);
}

void AppearanceWatcher::setKnown() {
    if (known_)
        return;
    known_ = true;
    emit known();
}

} // namespace varno
