// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QRect>

#include <optional>

#include <xcb/xcb.h>

// Small synchronous helpers over Qt's own X connection, for the few things about
// other clients' windows that Qt does not tell (Linux only).
namespace varno::x11 {

// Qt's X connection; null on any other platform (Wayland, offscreen).
xcb_connection_t* connection();
xcb_window_t root(xcb_connection_t* connection);
xcb_atom_t atom(xcb_connection_t* connection, const char* name);
// A 32-bit property (CARDINAL, ATOM, WINDOW) as a list; empty when unset.
QList<quint32> cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                         xcb_atom_t type);
// A window's rectangle in root coordinates.
std::optional<QRect> rootGeometry(xcb_connection_t* connection, xcb_window_t root,
                                  xcb_window_t window);

} // namespace varno::x11
