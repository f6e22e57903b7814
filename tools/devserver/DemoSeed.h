// SPDX-License-Identifier: MIT
#pragma once

#include "Backend.h"

namespace varno::devserver {

// The id of the account the demo signs in as.
inline constexpr const char* demoAccountId = "demo";

// A signed-out demo circle around "demo" (Ada Lovelace): six friends with 30 days of
// usage ending today (one of them has never uploaded), an incoming and an outgoing
// request, and referral codes. Does nothing when the demo account already exists.
void seedDemo(Backend& backend);

} // namespace varno::devserver
