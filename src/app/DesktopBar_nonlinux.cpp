// SPDX-License-Identifier: MIT
#include "app/DesktopBar.h"

namespace varno {

std::optional<QRect> desktopBarAt(const QPoint&) {
    return std::nullopt;
}

} // namespace varno
