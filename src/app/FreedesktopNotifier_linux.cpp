// SPDX-License-Identifier: MIT
#include "app/FreedesktopNotifier_linux.h"

#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantMap>

namespace varno {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

// Bounds for what a silent or flooding service can make us keep.
constexpr qsizetype maxWaiting = 20;
constexpr qsizetype maxShown = 32;

} // namespace

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, std::chrono::milliseconds timeout,
                                         QObject* parent)
    : Notifier(parent), bus_(std::move(bus)), timeout_(timeout) {
    if (!bus_.isConnected())
        return;
    // No service name in the match: naming one makes Qt look up its owner with a
    // blocking call. The sender is checked against the service that showed it.
    bus_.connect(QString(), path, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString, QDBusMessage)));
    bus_.connect(QString(), path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint, QDBusMessage)));
}

void FreedesktopNotifier::show(const QString& title, const QString& body, const QString& tag) {
    if (!bus_.isConnected())
        return;
    if (markup_ == Markup::yes || markup_ == Markup::no) {
        send({title, body, tag});
        return;
    }
    waiting_.append({title, body, tag});
    if (waiting_.size() > maxWaiting)
        waiting_.removeFirst();
    if (markup_ == Markup::unknown)
        askCapabilities();
}

void FreedesktopNotifier::askCapabilities() {
    markup_ = Markup::asking;
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask, int(timeout_.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusMessage reply = call->reply();
                const bool answered =
                    reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
                const QStringList capabilities =
                    answered ? reply.arguments().constFirst().toStringList() : QStringList();
                // No answer: the waiting notices go out as they are (and most likely
                // fail too); the next one asks again, in case a service has started.
                markup_ = !answered                                              ? Markup::unknown
                          : capabilities.contains(QStringLiteral("body-markup")) ? Markup::yes
                                                                                 : Markup::no;
                const QList<Notice> waiting = std::exchange(waiting_, {});
                for (const Notice& notice : waiting)
                    send(notice);
            });
}

void FreedesktopNotifier::send(const Notice& notice) {
    QDBusMessage notify =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    const QString body = markup_ == Markup::yes ? notice.body.toHtmlEscaped() : notice.body;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("varno")}};
    notify << QStringLiteral("Varno") << 0u << QStringLiteral("varno") << notice.title << body
           << QStringList{defaultAction, QStringLiteral("Open Varno")} << hints << -1;
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(notify, int(timeout_.count())), this);
    const QString tag = notice.tag;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, tag](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusMessage reply = call->reply();
                if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
                    reply.arguments().constFirst().typeId() != QMetaType::UInt)
                    return;
                shown_.append({reply.arguments().constFirst().toUInt(), reply.service(), tag});
                if (shown_.size() > maxShown)
                    shown_.removeFirst();
            });
}

void FreedesktopNotifier::actionInvoked(uint id, const QString& action,
                                        const QDBusMessage& message) {
    if (action != defaultAction)
        return;
    for (const Shown& shown : shown_) {
        if (shown.id == id && shown.service == message.service()) {
            const QString tag = shown.tag;
            emit activated(tag);
            return;
        }
    }
}

void FreedesktopNotifier::notificationClosed(uint id, uint, const QDBusMessage& message) {
    shown_.removeIf(
        [&](const Shown& shown) { return shown.id == id && shown.service == message.service(); });
}

} // namespace varno
