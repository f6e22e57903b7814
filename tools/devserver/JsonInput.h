// SPDX-License-Identifier: MIT
#pragma once

#include <QDate>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace varno::devserver {

// Strict readers for request bodies. Each refusal throws a 400 HttpError whose
// sentence names the member that is wrong.

QJsonObject parseObjectBody(const std::string& body);

// A string member that must be present and not empty (after trimming).
QString requiredText(const QJsonObject& object, const QString& key, qsizetype maxLength = 200);

// A string member that may be missing or null.
std::optional<QString> optionalText(const QJsonObject& object, const QString& key,
                                    qsizetype maxLength = 200);

// A boolean member that may be missing or null.
std::optional<bool> optionalBool(const QJsonObject& object, const QString& key);

// A JSON number that is whole and within [min, max]; nothing otherwise.
std::optional<std::int64_t> wholeNumber(const QJsonValue& value, std::int64_t min,
                                        std::int64_t max);

// A calendar day written exactly yyyy-MM-dd; an invalid QDate otherwise.
QDate parseDay(const QString& text);

} // namespace varno::devserver
