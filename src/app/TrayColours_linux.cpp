// SPDX-License-Identifier: MIT
#include "app/TrayColours.h"

#include "app/X11.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <functional>

namespace varno {

// Follows the tray manager window's colour property through Qt's X event stream.
class TrayColourWatcher::Watch : public QAbstractNativeEventFilter {
public:
    explicit Watch(std::function<void()> changed) : changed_(std::move(changed)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Watch() override {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    std::optional<QColor> read() {
        xcb_connection_t* connection = x11::connection();
        manager_ = XCB_WINDOW_NONE;
        if (!connection)
            return std::nullopt;
        colours_ = x11::atom(connection, "_NET_SYSTEM_TRAY_COLORS");
        selection_ = x11::atom(connection, "_NET_SYSTEM_TRAY_S0");
        managerMessage_ = x11::atom(connection, "MANAGER");
        if (selection_ == XCB_ATOM_NONE || colours_ == XCB_ATOM_NONE)
            return std::nullopt;
        // A tray that starts (or restarts) announces itself to the root window.
        listen(connection, x11::root(connection), XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        const xcb_atom_t selection = selection_;
        auto* owner = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, selection), nullptr);
        if (!owner)
            return std::nullopt;
        manager_ = owner->owner;
        std::free(owner);
        if (manager_ == XCB_WINDOW_NONE)
            return std::nullopt;
        listen(connection, manager_,
               XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        return TrayColourWatcher::foregroundFrom(
            x11::cardinals(connection, manager_, colours_, XCB_ATOM_CARDINAL));
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (selection_ == XCB_ATOM_NONE || type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t kind = event->response_type & 0x7f;
        if (kind == XCB_PROPERTY_NOTIFY) {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (property->window == manager_ && property->atom == colours_)
                changed_();
        } else if (kind == XCB_DESTROY_NOTIFY) {
            const auto* destroyed = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (destroyed->window == manager_)
                changed_();
        } else if (kind == XCB_CLIENT_MESSAGE) {
            const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (client->type == managerMessage_ && client->format == 32 &&
                client->data.data32[1] == selection_)
                changed_();
        }
        return false; // Qt sees every event as before
    }

private:
    // Adds events to whatever Qt already listens to on that window.
    static void listen(xcb_connection_t* connection, xcb_window_t window, uint32_t events) {
        auto* attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr);
        if (!attributes)
            return;
        const uint32_t mask = attributes->your_event_mask | events;
        std::free(attributes);
        xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
    }

    std::function<void()> changed_;
    xcb_window_t manager_ = XCB_WINDOW_NONE;
    xcb_atom_t colours_ = XCB_ATOM_NONE;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    xcb_atom_t managerMessage_ = XCB_ATOM_NONE;
};

TrayColourWatcher::TrayColourWatcher(QObject* parent)
    : QObject(parent), watch_(std::make_unique<Watch>([this] {
          // Read on the next turn: the event filter must not call back into Xlib/xcb
          // replies while Qt is dispatching.
          QMetaObject::invokeMethod(this, &TrayColourWatcher::refresh, Qt::QueuedConnection);
      })) {
    foreground_ = watch_->read();
}

TrayColourWatcher::~TrayColourWatcher() = default;

void TrayColourWatcher::refresh() {
    setForeground(watch_->read());
}

} // namespace varno
