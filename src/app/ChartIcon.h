// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QIcon>

namespace varno {

// The status item's icon: three bars on an axis in one flat colour, the same
// drawing as packaging/varno.svg, rendered at the sizes trays ask for.
QIcon chartIcon(const QColor& colour);

} // namespace varno
