// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryStorage.h"

#include "analytics/client/TelemetryFileBackedQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <sys/stat.h>

namespace varno {

QString TelemetryStorage::fileName(Key key) {
    switch (key) {
    case Key::distinctId:
        return QStringLiteral("telemetry.distinctId");
    case Key::anonymousId:
        return QStringLiteral("telemetry.anonymousId");
    case Key::isIdentified:
        return QStringLiteral("telemetry.isIdentified");
    case Key::personProcessingEnabled:
        return QStringLiteral("telemetry.enabledPersonProcessing");
    case Key::personPropertiesHash:
        return QStringLiteral("telemetry.personPropertiesHash");
    case Key::registerProperties:
        return QStringLiteral("telemetry.registerProperties");
    case Key::optOut:
        return QStringLiteral("telemetry.optOut");
    case Key::groups:
        return QStringLiteral("telemetry.groups");
    case Key::enabledFeatureFlags:
        return QStringLiteral("telemetry.enabledFeatureFlags");
    case Key::enabledFeatureFlagPayloads:
        return QStringLiteral("telemetry.enabledFeatureFlagPayloads");
    case Key::surveySeen:
        return QStringLiteral("telemetry.surveySeen");
    case Key::errorTrackingState:
        return QStringLiteral("telemetry.errorTracking");
    case Key::queue:
        return QStringLiteral("telemetry.queueFolder.uuid");
    case Key::oldQueueFolder:
        return QStringLiteral("telemetry.queueFolder");
    case Key::oldQueuePlist:
        return QStringLiteral("telemetry.queue.plist");
    }
    return {};
}

QString TelemetryStorage::defaultAppFolder(const QString& applicationIdentifier,
                                           const QString& projectToken) {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString identifier = applicationIdentifier.isEmpty() ? QStringLiteral("telemetry.unknown")
                                                               : applicationIdentifier;
    // The token names a folder: keep it from climbing out of the identifier's folder.
    QString tokenFolder = projectToken;
    tokenFolder.replace(QLatin1Char('/'), QLatin1Char('_'));
    tokenFolder.replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (tokenFolder == QLatin1String(".") || tokenFolder == QLatin1String(".."))
        tokenFolder = QStringLiteral("_");
    return QDir(base).filePath(identifier + QLatin1Char('/') + tokenFolder);
}

TelemetryStorage::TelemetryStorage(QString appFolder, Logger log)
    : appFolder_(std::move(appFolder)), log_(std::move(log)) {
    if (!QDir().mkpath(appFolder_)) {
        if (log_)
            telemetryLog(log_,
                         QStringLiteral("Error creating storage folder %1; state is kept in memory")
                             .arg(appFolder_));
    }
}

QString TelemetryStorage::path(Key key) const {
    return QDir(appFolder_).filePath(fileName(key));
}

std::optional<QJsonValue> TelemetryStorage::readFile(Key key) const {
    QFile file(path(key));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Files that an older version left readable by others become private now, not
    // only when their value next changes: the ids in them may never change again.
    struct stat info {};
    if (::fstat(file.handle(), &info) == 0 && (info.st_mode & 077) != 0)
        ::fchmod(file.handle(), info.st_mode & 0700);
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject() || !document.object().contains(QLatin1String("value")))
        return std::nullopt;
    const QJsonValue value = document.object().value(QLatin1String("value"));
    if (value.isNull() || value.isUndefined())
        return std::nullopt;
    return value;
}

bool TelemetryStorage::writeFile(Key key, const QJsonValue& value) const {
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{QStringLiteral("value"), value}}).toJson(QJsonDocument::Compact);
    // Owner-only, like the queued events: these hold the user's ids. A file left
    // readable by an older version becomes private with its next write.
    if (TelemetryFileOps::writeAtomically(path(key), bytes, nullptr))
        return true;
    // The folder was deleted while we run: make it again and retry once.
    return !QFileInfo(appFolder_).isDir() && QDir().mkpath(appFolder_) &&
           TelemetryFileOps::writeAtomically(path(key), bytes, nullptr);
}

std::optional<QJsonValue> TelemetryStorage::value(Key key) {
    std::lock_guard lock(lock_);
    const auto cached = cache_.constFind(key);
    if (cached != cache_.constEnd())
        return *cached;
    std::optional<QJsonValue> loaded = readFile(key);
    cache_.insert(key, loaded);
    return loaded;
}

std::optional<QString> TelemetryStorage::string(Key key) {
    const auto stored = value(key);
    if (!stored || !stored->isString())
        return std::nullopt;
    return stored->toString();
}

std::optional<bool> TelemetryStorage::boolean(Key key) {
    const auto stored = value(key);
    if (!stored || !stored->isBool())
        return std::nullopt;
    return stored->toBool();
}

std::optional<QJsonObject> TelemetryStorage::dictionary(Key key) {
    const auto stored = value(key);
    if (!stored || !stored->isObject())
        return std::nullopt;
    return stored->toObject();
}

void TelemetryStorage::setValue(Key key, const QJsonValue& value) {
    std::lock_guard lock(lock_);
    cache_.insert(key, value);
    if (!writeFile(key, value)) {
        if (log_)
            telemetryLog(
                log_,
                QStringLiteral("Error writing %1; the value is kept in memory").arg(path(key)));
    }
}

void TelemetryStorage::remove(Key key) {
    std::lock_guard lock(lock_);
    cache_.insert(key, std::nullopt);
    const QString file = path(key);
    if (QFile::exists(file) && !QFile::remove(file) && log_)
        telemetryLog(log_, QStringLiteral("Error removing %1").arg(file));
}

void TelemetryStorage::reset(bool keepAnonymousId) {
    for (Key key : {Key::distinctId, Key::isIdentified, Key::personProcessingEnabled,
                    Key::personPropertiesHash, Key::registerProperties, Key::optOut, Key::groups,
                    Key::enabledFeatureFlags, Key::enabledFeatureFlagPayloads, Key::surveySeen,
                    Key::errorTrackingState, Key::oldQueuePlist})
        remove(key);
    if (!keepAnonymousId)
        remove(Key::anonymousId);
    // An old-format queue folder is the one folder reset removes; the current queue
    // keeps its events so they are still sent under the identities they were taken with.
    QDir(path(Key::oldQueueFolder)).removeRecursively();
}

} // namespace varno
