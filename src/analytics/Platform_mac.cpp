// SPDX-License-Identifier: MIT
#include "analytics/Analytics.h"

namespace varno {

QString Analytics::platform() {
    return QStringLiteral("macos");
}

} // namespace varno
