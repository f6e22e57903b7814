// SPDX-License-Identifier: MIT
#include "analytics/Analytics.h"

#include <QSysInfo>

namespace varno {

QString Analytics::platform() {
    return QSysInfo::productType();
}

} // namespace varno
