// SPDX-License-Identifier: MIT
#include "model/ThisComputer.h"

namespace varno {

QString thisComputer() {
    return QStringLiteral("this Mac");
}

QString thisComputerTitle() {
    return QStringLiteral("This Mac");
}

} // namespace varno
