// SPDX-License-Identifier: MIT
#include "app/X11.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>

namespace varno::x11 {

xcb_connection_t* connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t root(xcb_connection_t* connection) {
    // Qt drives one X screen; it is the first.
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

QList<quint32> cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                         xcb_atom_t type) {
    // Bounded: these properties hold a handful of values.
    constexpr uint32_t maxValues = 64;
    auto* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, maxValues), nullptr);
    QList<quint32> values;
    if (!reply)
        return values;
    if (reply->type == type && reply->format == 32) {
        const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < count; ++i)
            values.append(data[i]);
    }
    std::free(reply);
    return values;
}

std::optional<QRect> rootGeometry(xcb_connection_t* connection, xcb_window_t root,
                                  xcb_window_t window) {
    auto* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    if (!geometry)
        return std::nullopt;
    const QSize size(geometry->width, geometry->height);
    std::free(geometry);
    auto* origin = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr);
    if (!origin)
        return std::nullopt;
    const QPoint topLeft(origin->dst_x, origin->dst_y);
    std::free(origin);
    return QRect(topLeft, size);
}

} // namespace varno::x11
