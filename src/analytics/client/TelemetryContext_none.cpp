// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryContext.h"

#include <QSysInfo>

namespace varno {

TelemetryDeviceInfo TelemetryDeviceInfo::current() {
    TelemetryDeviceInfo device;
    device.osName = QSysInfo::productType();
    device.osVersion = QSysInfo::productVersion();
    device.name = QSysInfo::machineHostName();
    return device;
}

} // namespace varno
