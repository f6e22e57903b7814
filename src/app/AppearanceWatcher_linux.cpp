// SPDX-License-Identifier: MIT
#include "app/AppearanceWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <atomic>

namespace varno {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
// A portal that does not answer is treated as absent; the app never waits on it.
constexpr int portalTimeoutMs = 5000;

QDBusConnection openBus(const QString& address) {
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    static std::atomic<int> serial{0};
    return QDBusConnection::connectToBus(
        address, QStringLiteral("varno-appearance-%1").arg(serial.fetch_add(1)));
}

} // namespace

// The D-Bus side: the first read (ReadOne, or Read on portals older than it) and the
// change signal.
class AppearanceWatcher::Portal : public QObject {
    Q_OBJECT
public:
    Portal(const QString& address, AppearanceWatcher* owner)
        : bus_(openBus(address)), ownsBus_(!address.isEmpty()), owner_(owner) {
        if (!bus_.isConnected()) {
            QMetaObject::invokeMethod(owner_, &AppearanceWatcher::setKnown, Qt::QueuedConnection);
            return;
        }
        bus_.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                     this, SLOT(settingChanged(QDBusMessage)));
        read(QStringLiteral("ReadOne"));
    }
    ~Portal() override {
        if (ownsBus_)
            QDBusConnection::disconnectFromBus(bus_.name());
    }

private slots:
    void settingChanged(const QDBusMessage& message) {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() != 3 || arguments[0].toString() != appearanceNamespace ||
            arguments[1].toString() != colorSchemeKey)
            return;
        owner_->setColorScheme(fromPortalValue(arguments[2]));
        owner_->setKnown();
    }

private:
    void read(const QString& method) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
        call << appearanceNamespace << colorSchemeKey;
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, portalTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method](auto* done) {
            done->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *done;
            if (reply.isError()) {
                // Portals before ReadOne only have Read.
                if (method == QLatin1String("ReadOne") &&
                    reply.error().type() == QDBusError::UnknownMethod) {
                    read(QStringLiteral("Read"));
                    return;
                }
            } else {
                owner_->setColorScheme(fromPortalValue(QVariant::fromValue(reply.value())));
            }
            owner_->setKnown();
        });
    }

    QDBusConnection bus_;
    bool ownsBus_;
    AppearanceWatcher* owner_;
};

AppearanceWatcher::AppearanceWatcher(const QString& busAddress, QObject* parent) : QObject(parent) {
    portal_ = std::make_unique<Portal>(busAddress, this);
}

AppearanceWatcher::~AppearanceWatcher() = default;

AppearanceWatcher::ColorScheme AppearanceWatcher::fromPortalValue(const QVariant& value) {
    QVariant inner = value;
    // Unwrap at most a few levels: the value comes from another process.
    for (int depth = 0; depth < 4 && inner.canConvert<QDBusVariant>() &&
                        inner.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth)
        inner = inner.value<QDBusVariant>().variant();
    if (inner.metaType() != QMetaType::fromType<uint>())
        return ColorScheme::NoPreference;
    switch (inner.toUInt()) {
    case 1:
        return ColorScheme::PreferDark;
    case 2:
        return ColorScheme::PreferLight;
    default:
        return ColorScheme::NoPreference;
    }
}

} // namespace varno

#include "AppearanceWatcher_linux.moc"
