// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryReachability.h"

#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <memory>

namespace varno {

// Who the events come from. Empty fields are filled from the running application by
// completed(); a field that stays empty is left out of the events.
struct TelemetryApplicationInfo {
    QString name;
    QString version;
    QString build;
    QString identifier;

    // From a bundle-style dictionary: CFBundleDisplayName (or CFBundleName),
    // CFBundleShortVersionString, CFBundleVersion, CFBundleIdentifier.
    static TelemetryApplicationInfo fromInfoDictionary(const QVariantMap& info);
    // Fills what is missing from QCoreApplication (display name, version, and a
    // reverse-domain desktop file name as identifier).
    TelemetryApplicationInfo completed() const;
};

// The machine and its operating system, read once per process.
struct TelemetryDeviceInfo {
    QString osName; // "Linux", "macOS", ...
    QString osVersion;
    QString manufacturer; // empty when the system does not say
    QString model;
    QString name; // the host name

    // Implemented per operating system (TelemetryContext_linux.cpp, _mac.cpp, _none.cpp).
    static TelemetryDeviceInfo current();
};

// Builds the device, application and library properties of every event. The static
// part is computed once; the dynamic part (screen, locale, time zone, network) per event.
// The screen is observed on the application's main thread and read here from atomics,
// so any thread may ask for the dynamic context.
class TelemetryContext {
public:
    // The network properties come from the monitor when one is given.
    TelemetryContext(TelemetryApplicationInfo application, TelemetryDeviceInfo device,
                     std::shared_ptr<TelemetryReachability> reachability = {});
    ~TelemetryContext();
    TelemetryContext(const TelemetryContext&) = delete;
    TelemetryContext& operator=(const TelemetryContext&) = delete;

    // Starts following the primary screen when a QGuiApplication exists. Callable from
    // any thread; the observer lives on the main thread.
    void registerNotifications();

    const QJsonObject& staticContext() const { return static_; }
    QJsonObject dynamicContext() const;
    static QJsonObject libraryProperties();

private:
    struct Observed {
        std::atomic<int> screenWidth{-1};
        std::atomic<int> screenHeight{-1};
    };
    static void observe(QObject* observer, std::shared_ptr<Observed> observed);

    const QJsonObject static_;
    const std::shared_ptr<TelemetryReachability> reachability_;
    // Shared with the observers, which may outlive this object by one event-loop turn.
    const std::shared_ptr<Observed> observed_ = std::make_shared<Observed>();
    std::atomic<bool> registered_{false};
    QPointer<QObject> observer_;
};

} // namespace varno
