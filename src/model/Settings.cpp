#include "model/Settings.h"

#include <QUuid>

namespace varno::settings {

namespace {

bool isText(const QVariant& value) {
    return value.typeId() == QMetaType::QString;
}

} // namespace

std::unique_ptr<QSettings> openStandardSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Varno"), QStringLiteral("Varno"));
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
    const QString id = isText(stored)
                           ? stored.toString()
                           : QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    defaults.setValue(deviceIdKey, id);
    defaults.sync();
    return id;
}

QMap<QString, QStringList> readHiddenFriends(const QSettings& defaults) {
    const QVariant stored = defaults.value(hiddenFriendsByAccountKey);
    if (stored.typeId() != QMetaType::QVariantMap)
        return {};
    QMap<QString, QStringList> map;
    const QVariantMap raw = stored.toMap();
    for (auto it = raw.begin(); it != raw.end(); ++it) {
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
    defaults.setValue(hiddenFriendsByAccountKey, raw);
    defaults.sync();
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
