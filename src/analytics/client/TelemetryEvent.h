// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <QVariantMap>

#include <optional>

namespace varno {

// Timestamps of the analytics wire format: UTC with milliseconds and a "Z".
QString formatTelemetryTimestamp(const QDateTime& time);

// One captured event, as queued on disk and sent in a batch.
class TelemetryEvent {
public:
    TelemetryEvent(QString event, QString distinctId, QVariantMap properties,
                   QDateTime timestamp = QDateTime::currentDateTimeUtc(), QUuid uuid = {},
                   std::optional<QString> apiKey = std::nullopt);

    QString event;
    QString distinctId;
    QVariantMap properties;
    QDateTime timestamp;
    QUuid uuid; // a fresh version-7 id unless one is given
    std::optional<QString> apiKey;

    QJsonObject toJSON() const;
    // Nothing when a member is missing or of the wrong kind, or the time or id is unreadable.
    static std::optional<TelemetryEvent> fromJSON(const QJsonObject& object);

    // The queue's file form (compact JSON) and back.
    QByteArray encode() const;
    static std::optional<TelemetryEvent> decode(const QByteArray& bytes);
};

} // namespace varno
