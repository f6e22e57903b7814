#include "app/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace varno {

void showDesktopNotification(const QString& summary, const QString& body) {
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("varno")}};
    notify << QStringLiteral("Varno") << 0u << QStringLiteral("varno") << summary << body
           << QStringList() << hints << -1;
    // Without a notification service the call just fails; nobody waits for it.
    QDBusConnection::sessionBus().call(notify, QDBus::NoBlock);
}

} // namespace varno
