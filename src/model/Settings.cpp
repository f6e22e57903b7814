// SPDX-License-Identifier: MIT
#include "model/Settings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <optional>

namespace varno::settings {

namespace {

bool isText(const QVariant& value) {
    return value.typeId() == QMetaType::QString;
}

// JSON text, or the binary map an older Varno wrote; none for anything else.
std::optional<QVariantMap> readMap(const QSettings& defaults, const QString& key) {
    const QVariant stored = defaults.value(key);
    if (stored.typeId() == QMetaType::QVariantMap)
        return stored.toMap();
    if (!isText(stored))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(stored.toString().toUtf8());
    if (!document.isObject())
        return std::nullopt;
    return document.object().toVariantMap();
}

void writeMap(QSettings& defaults, const QString& key, const QVariantMap& map) {
    const QByteArray json =
        QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact);
    defaults.setValue(key, QString::fromUtf8(json));
    defaults.sync();
}

#ifdef Q_OS_DARWIN
constexpr bool nativeFormatIsIni = false; // CFPreferences, with a cache of its own
#else
constexpr bool nativeFormatIsIni = true;
#endif

} // namespace

QString iniFileOf(const QSettings& defaults) {
    const bool ini = defaults.format() == QSettings::IniFormat ||
                     (defaults.format() == QSettings::NativeFormat && nativeFormatIsIni);
    return ini ? defaults.fileName() : QString();
}

std::unique_ptr<QSettings> openStandardSettings() {
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("Varno"), QStringLiteral("Varno"));
    upgradeStoredMaps(*settings);
    return settings;
}

void upgradeStoredMaps(QSettings& defaults) {
    for (const QString& key : {hiddenFriendsByAccountKey, friendNewsByAccountKey}) {
        const QVariant stored = defaults.value(key);
        if (stored.typeId() == QMetaType::QVariantMap)
            writeMap(defaults, key, stored.toMap());
    }
}

QString chooseServerURL(const QSettings& standard, const QVariantMap& bundleInfo) {
    const QVariant stored = standard.value(serverURLKey);
    if (isText(stored))
        return stored.toString();
    const QVariant built = bundleInfo.value(QStringLiteral("VarnoServerURL"));
    if (isText(built))
        return built.toString();
    return developmentServerURL;
}

QString loadOrCreateDeviceId(QSettings& defaults) {
    const QVariant stored = defaults.value(deviceIdKey);
    if (isText(stored))
        return stored.toString(); // rewriting it unchanged cost every start a file write
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    defaults.setValue(deviceIdKey, id);
    defaults.sync();
    return id;
}

QMap<QString, QStringList> readHiddenFriends(const QSettings& defaults) {
    const std::optional<QVariantMap> raw = readMap(defaults, hiddenFriendsByAccountKey);
    if (!raw)
        return {};
    QMap<QString, QStringList> map;
    for (auto it = raw->begin(); it != raw->end(); ++it) {
        const QVariant& value = it.value();
        QStringList ids;
        if (value.typeId() == QMetaType::QStringList) {
            ids = value.toStringList();
        } else if (value.typeId() == QMetaType::QVariantList) {
            for (const QVariant& element : value.toList()) {
                if (!isText(element))
                    return {};
                ids.append(element.toString());
            }
        } else {
            return {};
        }
        map.insert(it.key(), ids);
    }
    return map;
}

void writeHiddenFriends(QSettings& defaults, const QMap<QString, QStringList>& map) {
    QVariantMap raw;
    for (auto it = map.begin(); it != map.end(); ++it)
        raw.insert(it.key(), it.value());
    writeMap(defaults, hiddenFriendsByAccountKey, raw);
}

QVariantMap readFriendNewsByAccount(const QSettings& defaults) {
    return readMap(defaults, friendNewsByAccountKey).value_or(QVariantMap());
}

void writeFriendNewsByAccount(QSettings& defaults, const QVariantMap& records) {
    writeMap(defaults, friendNewsByAccountKey, records);
}

bool readNotificationsEnabled(const QSettings& defaults) {
    const QVariant stored = defaults.value(notificationsEnabledKey);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    // INI files give booleans back as text.
    return !(isText(stored) && stored.toString() == QLatin1String("false"));
}

void writeNotificationsEnabled(QSettings& defaults, bool enabled) {
    defaults.setValue(notificationsEnabledKey, enabled);
    defaults.sync();
}

} // namespace varno::settings
