// SPDX-License-Identifier: MIT
#include "app/LoginItem.h"

namespace varno {

// No login item service known here: the menu leaves "Start at Login" out.
std::unique_ptr<LoginItem> LoginItem::forThisSystem() {
    return nullptr;
}

} // namespace varno
