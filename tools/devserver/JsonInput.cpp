// SPDX-License-Identifier: MIT
#include "JsonInput.h"

#include "Reply.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace varno::devserver {

QJsonObject parseObjectBody(const std::string& body) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(
        QByteArray::fromRawData(body.data(), qsizetype(body.size())), &error);
    if (error.error != QJsonParseError::NoError)
        throw badRequest(QStringLiteral("The request body is not valid JSON (%1 at offset %2).")
                             .arg(error.errorString())
                             .arg(error.offset));
    if (!document.isObject())
        throw badRequest(QStringLiteral("The request body must be a JSON object."));
    return document.object();
}

QString requiredText(const QJsonObject& object, const QString& key, qsizetype maxLength) {
    const auto value = object.value(key);
    if (!value.isString() || value.toString().trimmed().isEmpty())
        throw badRequest(QStringLiteral("%1 must be a non-empty string.").arg(key));
    if (value.toString().size() > maxLength)
        throw badRequest(
            QStringLiteral("%1 is too long (at most %2 characters).").arg(key).arg(maxLength));
    return value.toString();
}

std::optional<QString> optionalText(const QJsonObject& object, const QString& key,
                                    qsizetype maxLength) {
    const auto value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        throw badRequest(QStringLiteral("%1 must be a string.").arg(key));
    if (value.toString().size() > maxLength)
        throw badRequest(
            QStringLiteral("%1 is too long (at most %2 characters).").arg(key).arg(maxLength));
    return value.toString();
}

std::optional<bool> optionalBool(const QJsonObject& object, const QString& key) {
    const auto value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isBool())
        throw badRequest(QStringLiteral("%1 must be true or false.").arg(key));
    return value.toBool();
}

std::optional<std::int64_t> wholeNumber(const QJsonValue& value, std::int64_t min,
                                        std::int64_t max) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // Bounds are checked on the double first so that the cast below is defined: every
    // double below 2^63 converts, 2^63 itself (what double(INT64_MAX) rounds to) not.
    if (!std::isfinite(number) || std::floor(number) != number || number < double(min) ||
        number > double(max) || number >= 9223372036854775808.0)
        return std::nullopt;
    const auto whole = static_cast<std::int64_t>(number);
    if (whole < min || whole > max)
        return std::nullopt;
    return whole;
}

QDate parseDay(const QString& text) {
    if (text.size() != 10 || text[4] != u'-' || text[7] != u'-')
        return {};
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < u'0' || text[i] > u'9')
            return {};
    return QDate(text.left(4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt());
}

} // namespace varno::devserver
