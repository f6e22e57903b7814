// SPDX-License-Identifier: MIT
#include "app/LoginItem.h"

#include "app/DesktopEntry.h"
#include "app/XdgAutostart.h"

namespace varno {

std::unique_ptr<LoginItem> LoginItem::forThisSystem() {
    return XdgAutostart::forCurrentUser(generated::desktopEntry());
}

} // namespace varno
