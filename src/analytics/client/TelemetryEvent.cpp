// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryEvent.h"

#include "analytics/client/UuidV7.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace varno {

QString formatTelemetryTimestamp(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

TelemetryEvent::TelemetryEvent(QString event_, QString distinctId_, QVariantMap properties_,
                               QDateTime timestamp_, QUuid uuid_, std::optional<QString> apiKey_)
    : event(std::move(event_)), distinctId(std::move(distinctId_)),
      properties(std::move(properties_)), timestamp(std::move(timestamp_)),
      uuid(uuid_.isNull() ? UuidV7::generate() : uuid_), apiKey(std::move(apiKey_)) {}

QJsonObject TelemetryEvent::toJSON() const {
    QJsonObject object{
        {QStringLiteral("event"), event},
        {QStringLiteral("distinct_id"), distinctId},
        {QStringLiteral("properties"), QJsonObject::fromVariantMap(properties)},
        {QStringLiteral("timestamp"), formatTelemetryTimestamp(timestamp)},
        {QStringLiteral("uuid"), UuidV7::toText(uuid)},
    };
    if (apiKey)
        object.insert(QStringLiteral("api_key"), *apiKey);
    return object;
}

std::optional<TelemetryEvent> TelemetryEvent::fromJSON(const QJsonObject& object) {
    const QJsonValue event = object.value(QStringLiteral("event"));
    const QJsonValue distinctId = object.value(QStringLiteral("distinct_id"));
    const QJsonValue properties = object.value(QStringLiteral("properties"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    const QJsonValue uuid = object.value(QStringLiteral("uuid"));
    const QJsonValue apiKey = object.value(QStringLiteral("api_key"));
    if (!event.isString() || !distinctId.isString() || !timestamp.isString() || !uuid.isString())
        return std::nullopt;
    if (!properties.isObject() && !properties.isUndefined() && !properties.isNull())
        return std::nullopt;
    if (!apiKey.isString() && !apiKey.isUndefined() && !apiKey.isNull())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(timestamp.toString(), Qt::ISODateWithMs);
    const QUuid id(uuid.toString());
    if (!time.isValid() || id.isNull())
        return std::nullopt;
    return TelemetryEvent(event.toString(), distinctId.toString(),
                          properties.toObject().toVariantMap(), time.toUTC(), id,
                          apiKey.isString() ? std::optional(apiKey.toString()) : std::nullopt);
}

QByteArray TelemetryEvent::encode() const {
    return QJsonDocument(toJSON()).toJson(QJsonDocument::Compact);
}

std::optional<TelemetryEvent> TelemetryEvent::decode(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJSON(document.object());
}

} // namespace varno
