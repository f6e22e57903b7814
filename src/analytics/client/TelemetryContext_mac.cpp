// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryContext.h"

#include <QSysInfo>

#include <sys/sysctl.h>
#include <sys/types.h>

namespace varno {

namespace {
QString sysctlString(const char* name) {
    size_t size = 0;
    if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0 || size == 0)
        return {};
    QByteArray buffer(static_cast<qsizetype>(size), '\0');
    if (sysctlbyname(name, buffer.data(), &size, nullptr, 0) != 0)
        return {};
    return QString::fromUtf8(buffer.constData()).trimmed();
}
} // namespace

TelemetryDeviceInfo TelemetryDeviceInfo::current() {
    TelemetryDeviceInfo device;
    device.osName = QStringLiteral("macOS");
    device.osVersion = QSysInfo::productVersion();
    device.manufacturer = QStringLiteral("Apple");
    // The model identifier ("MacBookPro18,3") names the machine; hw.machine only gives
    // the processor architecture on current Macs.
    device.model = sysctlString("hw.model");
    if (device.model.isEmpty())
        device.model = sysctlString("hw.machine");
    device.name = QSysInfo::machineHostName();
    return device;
}

} // namespace varno
