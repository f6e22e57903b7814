// SPDX-License-Identifier: MIT
#include "app/DesktopBar.h"

#include "app/X11.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>

namespace varno {

namespace {

// Window managers frame most windows, so the window under a point is a frame whose
// client sits a level or two below it.
constexpr int frameDepth = 3;

bool isDock(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t typeAtom,
            xcb_atom_t dockAtom) {
    const QList<quint32> types = x11::cardinals(connection, window, typeAtom, XCB_ATOM_ATOM);
    return std::find(types.begin(), types.end(), dockAtom) != types.end();
}

std::optional<QRect> nativeBarAt(xcb_connection_t* connection, xcb_window_t root,
                                 const QPoint& native) {
    const xcb_atom_t typeAtom = x11::atom(connection, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dockAtom = x11::atom(connection, "_NET_WM_WINDOW_TYPE_DOCK");
    if (typeAtom == XCB_ATOM_NONE || dockAtom == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_window_t parent = root;
    for (int depth = 0; depth < frameDepth; ++depth) {
        auto* under = xcb_translate_coordinates_reply(
            connection,
            xcb_translate_coordinates(connection, root, parent, static_cast<int16_t>(native.x()),
                                      static_cast<int16_t>(native.y())),
            nullptr);
        if (!under)
            return std::nullopt;
        const xcb_window_t child = under->child;
        std::free(under);
        if (child == XCB_WINDOW_NONE)
            return std::nullopt;
        if (isDock(connection, child, typeAtom, dockAtom))
            return x11::rootGeometry(connection, root, child);
        parent = child;
    }
    return std::nullopt;
}

} // namespace

std::optional<QRect> desktopBarAt(const QPoint& point) {
    xcb_connection_t* connection = x11::connection();
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!connection || !screen)
        return std::nullopt;
    // Qt's coordinates are the X server's divided by the screen's scale, about the
    // screen's origin.
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPoint native = origin + (point - origin) * ratio;
    const std::optional<QRect> bar = nativeBarAt(connection, x11::root(connection), native);
    if (!bar)
        return std::nullopt;
    const QPoint topLeft = origin + (bar->topLeft() - origin) / ratio;
    return QRect(topLeft, bar->size() / ratio);
}

} // namespace varno
