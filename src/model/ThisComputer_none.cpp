// SPDX-License-Identifier: MIT
#include "model/ThisComputer.h"

namespace varno {

QString thisComputer() {
    return QStringLiteral("this computer");
}

QString thisComputerTitle() {
    return QStringLiteral("This computer");
}

} // namespace varno
