#pragma once

#include "model/Errors.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace varno {

// A position in a JSON document being decoded under the strict record rules:
// unknown members are ignored; a required member that is missing, null or of the
// wrong type fails the whole document; integers must be whole and fit in 64 bits.
class JsonNode {
public:
    JsonNode(QJsonValue value, QString path) : value_(std::move(value)), path_(std::move(path)) {}

    const QString& path() const { return path_; }
    bool isNull() const { return value_.isNull(); }

    QString string() const;
    qint64 integer() const;
    bool boolean() const;

    // A member of this node, which must be an object. The member may be absent.
    JsonNode member(const QString& key) const;

    QString requiredString(const QString& key) const { return required(key).string(); }
    qint64 requiredInteger(const QString& key) const { return required(key).integer(); }
    bool requiredBool(const QString& key) const { return required(key).boolean(); }
    std::optional<QString> optionalString(const QString& key) const;
    std::optional<bool> optionalBool(const QString& key) const;

    template <typename T> T requiredRecord(const QString& key) const {
        return T::decode(required(key));
    }
    template <typename T> QList<T> requiredList(const QString& key) const {
        return required(key).template list<T>();
    }
    template <typename T> std::optional<QList<T>> optionalList(const QString& key) const {
        JsonNode node = member(key);
        if (node.isAbsentOrNull())
            return std::nullopt;
        return node.template list<T>();
    }

    // This node as an array whose every element decodes as T.
    template <typename T> QList<T> list() const {
        const QJsonArray array = arrayValue();
        QList<T> out;
        out.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            out.append(T::decode(JsonNode(array.at(i), path_ + QStringLiteral("[%1]").arg(i))));
        return out;
    }

    QJsonObject objectValue() const;
    QJsonArray arrayValue() const;

private:
    bool isAbsentOrNull() const { return value_.isUndefined() || value_.isNull(); }
    JsonNode required(const QString& key) const;
    [[noreturn]] void fail(const QString& expected) const;

    QJsonValue value_;
    QString path_;
};

// Parses a whole document (any JSON value at the top, including the literal null).
JsonNode parseJsonDocument(const QByteArray& bytes);

template <typename T> T decodeJson(const QByteArray& bytes) {
    return T::decode(parseJsonDocument(bytes));
}

// A document that may be the JSON literal null, which yields nothing.
template <typename T> std::optional<T> decodeOptionalJson(const QByteArray& bytes) {
    JsonNode root = parseJsonDocument(bytes);
    if (root.isNull())
        return std::nullopt;
    return T::decode(root);
}

template <typename T> QList<T> decodeJsonList(const QByteArray& bytes) {
    return parseJsonDocument(bytes).template list<T>();
}

// Writes one JSON object with its members in the order they are added (QJsonObject
// would sort them). Output is compact.
class JsonObjectWriter {
public:
    JsonObjectWriter& add(const char* key, const QString& value);
    JsonObjectWriter& add(const char* key, qint64 value);
    JsonObjectWriter& add(const char* key, bool value);
    // A literal would otherwise convert to bool and be written as true.
    JsonObjectWriter& add(const char* key, const char* value) = delete;
    JsonObjectWriter& addRaw(const char* key, const QByteArray& json);
    QByteArray finish() const { return bytes_ + '}'; }

private:
    void beginMember(const char* key);
    QByteArray bytes_ = "{";
};

QByteArray jsonString(const QString& text);
QByteArray jsonArray(const QList<QByteArray>& elements);

} // namespace varno
