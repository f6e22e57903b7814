// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>

#include <optional>

namespace varno {

// The Qt platform to ask for before the GUI starts. In a Wayland session that also
// offers XWayland, X11: Wayland lets no client place its own windows, so only there
// can the panel hang under the tray icon. The user's own QT_QPA_PLATFORM always wins;
// none means Qt's own choice.
std::optional<QByteArray> preferredPlatform(const QProcessEnvironment& environment);

} // namespace varno
