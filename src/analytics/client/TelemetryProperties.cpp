// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryProperties.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <limits>

namespace varno {

std::optional<QJsonValue> sanitizeTelemetryValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return QJsonValue(QJsonValue::Null);
    case QMetaType::Bool:
        return QJsonValue(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return QJsonValue(value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        if (number > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
            return QJsonValue(static_cast<double>(number));
        return QJsonValue(static_cast<qint64>(number));
    }
    case QMetaType::Float:
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (!std::isfinite(number))
            return std::nullopt;
        return QJsonValue(number);
    }
    case QMetaType::QString:
        return QJsonValue(value.toString());
    case QMetaType::QDateTime: {
        const QDateTime time = value.toDateTime();
        if (!time.isValid())
            return std::nullopt;
        return QJsonValue(time.toUTC().toString(Qt::ISODate));
    }
    case QMetaType::QStringList:
        return QJsonValue(QJsonArray::fromStringList(value.toStringList()));
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& item : value.toList()) {
            const auto sanitized = sanitizeTelemetryValue(item);
            if (!sanitized)
                return std::nullopt;
            array.append(*sanitized);
        }
        return QJsonValue(array);
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QVariantMap map;
        if (value.typeId() == QMetaType::QVariantMap) {
            map = value.toMap();
        } else {
            const QVariantHash hash = value.toHash();
            for (auto it = hash.cbegin(); it != hash.cend(); ++it)
                map.insert(it.key(), it.value());
        }
        QJsonObject object;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const auto sanitized = sanitizeTelemetryValue(it.value());
            if (!sanitized)
                return std::nullopt;
            object.insert(it.key(), *sanitized);
        }
        return QJsonValue(object);
    }
    case QMetaType::QJsonValue:
        return value.toJsonValue();
    case QMetaType::QJsonObject:
        return QJsonValue(value.toJsonObject());
    case QMetaType::QJsonArray:
        return QJsonValue(value.toJsonArray());
    default:
        return std::nullopt;
    }
}

QJsonObject sanitizeTelemetryProperties(const QVariantMap& properties, const TelemetryLogger& log) {
    QJsonObject sanitized;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        if (const auto value = sanitizeTelemetryValue(it.value()))
            sanitized.insert(it.key(), *value);
        else
            telemetryLog(
                log,
                QStringLiteral("property: %1 isn't serializable, dropping the item").arg(it.key()));
    }
    return sanitized;
}

QString personPropertiesFingerprint(const QString& distinctId,
                                    const std::optional<QJsonObject>& set,
                                    const std::optional<QJsonObject>& setOnce) {
    // A JSON array keeps the three parts apart; QJsonObject orders keys, so equal
    // properties always serialise the same way.
    const QJsonArray parts{distinctId, set ? QJsonValue(*set) : QJsonValue(),
                           setOnce ? QJsonValue(*setOnce) : QJsonValue()};
    const QByteArray bytes = QJsonDocument(parts).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace varno
