// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryLog.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace varno {

class TelemetryConfig;

// The client's small state files, one per key, in the application folder
// (<user data folder>/<application identifier>/<project token>). Each file holds one
// JSON document {"value": ...}, is readable by its owner only and is replaced
// atomically, so a crash mid-write leaves the old value. A folder deleted while the
// client runs is made again at the next write. Every value is also kept in memory:
// when the folder cannot be created or a file cannot be written, the run goes on with
// the value in memory.
//
// Thread-safe.
class TelemetryStorage {
public:
    enum class Key {
        distinctId,
        anonymousId,
        isIdentified,
        personProcessingEnabled,
        personPropertiesHash,
        registerProperties,
        optOut,
        groups,
        enabledFeatureFlags,
        enabledFeatureFlagPayloads,
        surveySeen,
        errorTrackingState,
        queue,
        oldQueueFolder,
        oldQueuePlist,
    };
    using Logger = TelemetryLogger;

    // The file (or, for the queue keys, folder) name of a key.
    static QString fileName(Key key);

    // The default application folder: the user's data folder, then the application
    // identifier ("telemetry.unknown" when empty), then the project token.
    static QString defaultAppFolder(const QString& applicationIdentifier,
                                    const QString& projectToken);

    // Creates the folder if it is missing; a folder that cannot be created is logged.
    explicit TelemetryStorage(QString appFolder, Logger log = {});

    QString appFolder() const { return appFolder_; }
    // Full path of a key's file or folder.
    QString path(Key key) const;

    std::optional<QJsonValue> value(Key key);
    std::optional<QString> string(Key key);
    std::optional<bool> boolean(Key key);
    std::optional<QJsonObject> dictionary(Key key);

    void setValue(Key key, const QJsonValue& value);
    void remove(Key key);

    // Forgets the identity and its related state; the anonymous id stays only when
    // keepAnonymousId is set. The queue folders are left alone.
    void reset(bool keepAnonymousId);

private:
    std::optional<QJsonValue> readFile(Key key) const;
    bool writeFile(Key key, const QJsonValue& value) const;

    const QString appFolder_;
    const Logger log_;
    mutable std::mutex lock_;
    // Loaded or written values; an empty optional records a known absence.
    QHash<Key, std::optional<QJsonValue>> cache_;
};

} // namespace varno
