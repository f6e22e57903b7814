// SPDX-License-Identifier: MIT
#include "ui/Compositing.h"

namespace varno {

bool windowTranslucencyAvailable() {
    return true;
}

} // namespace varno
