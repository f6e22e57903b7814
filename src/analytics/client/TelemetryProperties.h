// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryLog.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace varno {

// The JSON form of a property value: JSON values, lists and maps of them pass; a
// date-time becomes ISO 8601 text in UTC with whole seconds; anything else (and a
// list or map holding anything else, or a number that is not finite) gives nothing.
std::optional<QJsonValue> sanitizeTelemetryValue(const QVariant& value);

// The properties that can be sent, each one that cannot dropped on its own and logged
// as "property: <key> isn't serializable, dropping the item".
QJsonObject sanitizeTelemetryProperties(const QVariantMap& properties,
                                        const TelemetryLogger& log = {});

// A stable digest of what a person-property event would set, to skip sending the same
// person properties twice in a row.
QString personPropertiesFingerprint(const QString& distinctId,
                                    const std::optional<QJsonObject>& set,
                                    const std::optional<QJsonObject>& setOnce);

} // namespace varno
