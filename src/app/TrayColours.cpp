// SPDX-License-Identifier: MIT
#include "app/TrayColours.h"

namespace varno {

std::optional<QColor> TrayColourWatcher::foregroundFrom(const QList<quint32>& values) {
    if (values.size() < 3)
        return std::nullopt;
    for (int i = 0; i < 3; ++i)
        if (values[i] > 0xffff)
            return std::nullopt;
    return QColor::fromRgba64(static_cast<quint16>(values[0]), static_cast<quint16>(values[1]),
                              static_cast<quint16>(values[2]));
}

void TrayColourWatcher::setForeground(std::optional<QColor> colour) {
    if (colour == foreground_)
        return;
    foreground_ = colour;
    emit foregroundChanged();
}

} // namespace varno
