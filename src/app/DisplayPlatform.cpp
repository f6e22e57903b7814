// SPDX-License-Identifier: MIT
#include "app/DisplayPlatform.h"

namespace varno {

std::optional<QByteArray> preferredPlatform(const QProcessEnvironment& environment) {
    const auto has = [&](const char* name) {
        return !environment.value(QString::fromLatin1(name)).isEmpty();
    };
    if (has("QT_QPA_PLATFORM"))
        return std::nullopt;
    const bool wayland =
        has("WAYLAND_DISPLAY") ||
        environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
    if (wayland && has("DISPLAY"))
        return QByteArrayLiteral("xcb");
    return std::nullopt;
}

} // namespace varno
