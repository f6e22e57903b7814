// SPDX-License-Identifier: MIT
#include "model/ThisComputer.h"

namespace varno {

QString thisComputer() {
#ifdef Q_OS_MACOS
    return QStringLiteral("this Mac");
#else
    return QStringLiteral("this computer");
#endif
}

QString thisComputerTitle() {
    const QString name = thisComputer();
    return name.at(0).toUpper() + name.mid(1);
}

} // namespace varno
