// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryContext.h"

#include "analytics/client/TelemetryApi.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QThread>
#include <QTimeZone>

namespace varno {

namespace {

QString stringValue(const QVariantMap& info, const char* key) {
    const QVariant value = info.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

void insertIfPresent(QJsonObject& object, const char* key, const QString& value) {
    if (!value.isEmpty())
        object.insert(QLatin1String(key), value);
}

QJsonObject buildStatic(const TelemetryApplicationInfo& app, const TelemetryDeviceInfo& device) {
    QJsonObject context;
    insertIfPresent(context, "$app_name", app.name);
    insertIfPresent(context, "$app_version", app.version);
    insertIfPresent(context, "$app_build", app.build);
    context.insert(QStringLiteral("$app_namespace"),
                   app.identifier.isEmpty() ? QStringLiteral("telemetry.unknown") : app.identifier);
    // Distributed outside any store and never run under an emulator.
    context.insert(QStringLiteral("$is_testflight"), false);
    context.insert(QStringLiteral("$is_sideloaded"), false);
    context.insert(QStringLiteral("$is_emulator"), false);
    context.insert(QStringLiteral("$is_ios_running_on_mac"), false);
    context.insert(QStringLiteral("$is_mac_catalyst_app"), false);
    context.insert(QStringLiteral("$device_type"), QStringLiteral("Desktop"));
    insertIfPresent(context, "$device_manufacturer", device.manufacturer);
    insertIfPresent(context, "$device_model", device.model);
    insertIfPresent(context, "$device_name", device.name);
    insertIfPresent(context, "$os_name", device.osName);
    insertIfPresent(context, "$os_version", device.osVersion);
    return context;
}

} // namespace

TelemetryApplicationInfo TelemetryApplicationInfo::fromInfoDictionary(const QVariantMap& info) {
    TelemetryApplicationInfo app;
    app.name = stringValue(info, "CFBundleDisplayName");
    if (app.name.isEmpty())
        app.name = stringValue(info, "CFBundleName");
    app.version = stringValue(info, "CFBundleShortVersionString");
    app.build = stringValue(info, "CFBundleVersion");
    app.identifier = stringValue(info, "CFBundleIdentifier");
    return app;
}

TelemetryApplicationInfo TelemetryApplicationInfo::completed() const {
    TelemetryApplicationInfo app = *this;
    if (app.name.isEmpty())
        app.name = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                       ? QGuiApplication::applicationDisplayName()
                       : QCoreApplication::applicationName();
    if (app.version.isEmpty())
        app.version = QCoreApplication::applicationVersion();
    if (app.identifier.isEmpty() && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // A desktop file name such as "app.varno" is the application's reverse-domain id.
        const QString desktop = QGuiApplication::desktopFileName();
        if (desktop.contains(QLatin1Char('.')))
            app.identifier = desktop;
    }
    return app;
}

TelemetryContext::TelemetryContext(TelemetryApplicationInfo application, TelemetryDeviceInfo device,
                                   std::shared_ptr<TelemetryReachability> reachability)
    : static_(buildStatic(application, device)), reachability_(std::move(reachability)) {}

TelemetryContext::~TelemetryContext() {
    if (observer_)
        observer_->deleteLater();
}

void TelemetryContext::registerNotifications() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || registered_.exchange(true))
        return;
    auto* observer = new QObject;
    observer->moveToThread(app->thread());
    observer_ = observer;
    auto observed = observed_;
    if (QThread::currentThread() == app->thread())
        observe(observer, observed);
    else
        QMetaObject::invokeMethod(
            observer, [observer, observed] { observe(observer, observed); }, Qt::QueuedConnection);
}

void TelemetryContext::observe(QObject* observer, std::shared_ptr<Observed> observed) {
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        auto follow = [observer, observed, connection](QScreen* screen) {
            QObject::disconnect(*connection);
            if (!screen) {
                observed->screenWidth = -1;
                observed->screenHeight = -1;
                return;
            }
            auto store = [observed](const QRect& geometry) {
                observed->screenWidth = geometry.width();
                observed->screenHeight = geometry.height();
            };
            store(screen->geometry());
            *connection = QObject::connect(screen, &QScreen::geometryChanged, observer, store);
        };
        follow(QGuiApplication::primaryScreen());
        QObject::connect(gui, &QGuiApplication::primaryScreenChanged, observer, follow);
    }
}

QJsonObject TelemetryContext::dynamicContext() const {
    QJsonObject context;
    const int width = observed_->screenWidth;
    const int height = observed_->screenHeight;
    if (width > 0 && height > 0) {
        context.insert(QStringLiteral("$screen_width"), width);
        context.insert(QStringLiteral("$screen_height"), height);
    }
    const QLocale locale;
    context.insert(QStringLiteral("$locale"), QLocale::languageToCode(locale.language()));
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    if (!zone.isEmpty())
        context.insert(QStringLiteral("$timezone"), QString::fromUtf8(zone));
    if (reachability_) {
        const auto connection = reachability_->connection();
        context.insert(QStringLiteral("$network_wifi"),
                       connection == TelemetryReachability::Connection::wifi);
        context.insert(QStringLiteral("$network_cellular"),
                       connection == TelemetryReachability::Connection::cellular);
    }
    return context;
}

QJsonObject TelemetryContext::libraryProperties() {
    return {{QStringLiteral("$lib"), QLatin1String(telemetryLibraryName)},
            {QStringLiteral("$lib_version"), QLatin1String(telemetryLibraryVersion)}};
}

} // namespace varno
