// SPDX-License-Identifier: MIT
#pragma once

namespace varno {

// Whether the window system blends translucent windows over what is behind them.
// Without a compositing manager (plain X11, Xvfb) transparent pixels come out black,
// so the panel then draws an opaque card clipped to its rounded shape, with no shadow.
bool windowTranslucencyAvailable();

} // namespace varno
