// SPDX-License-Identifier: MIT
#pragma once

#include "Backend.h"
#include "Router.h"

#include <QString>

namespace varno::devserver {

// The app's API under /api/, the development helpers under /dev/ and the analytics
// sink (/batch, /array/{token}/config, /flags). `ownOrigin` (http://host:port) is
// used when a request carries no usable Host header; it is read at request time,
// so it must outlive the router.
void addRoutes(Router& router, Backend& backend, const QString& ownOrigin);

// Fills in ctx.userId from the bearer token, or throws the 401 that signs the app out.
void authenticate(Backend& backend, RequestContext& ctx);

} // namespace varno::devserver
