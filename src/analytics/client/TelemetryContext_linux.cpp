// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryContext.h"

#include <QFile>
#include <QSysInfo>

namespace varno {

namespace {
// DMI values are world-readable on most machines; containers and some boards have none.
QString dmiValue(const char* name) {
    QFile file(QStringLiteral("/sys/class/dmi/id/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString value = QString::fromUtf8(file.read(256)).trimmed();
    // Firmware often fills unset fields with placeholders.
    static const QStringList placeholders = {
        QStringLiteral("To Be Filled By O.E.M."), QStringLiteral("System Product Name"),
        QStringLiteral("System manufacturer"), QStringLiteral("Default string"),
        QStringLiteral("Not Applicable")};
    return placeholders.contains(value, Qt::CaseInsensitive) ? QString() : value;
}
} // namespace

TelemetryDeviceInfo TelemetryDeviceInfo::current() {
    TelemetryDeviceInfo device;
    device.osName = QStringLiteral("Linux");
    device.osVersion = QSysInfo::productVersion();
    if (device.osVersion.isEmpty() || device.osVersion == QLatin1String("unknown"))
        device.osVersion = QSysInfo::kernelVersion();
    device.manufacturer = dmiValue("sys_vendor");
    device.model = dmiValue("product_name");
    device.name = QSysInfo::machineHostName();
    return device;
}

} // namespace varno
