// SPDX-License-Identifier: MIT
#pragma once

#include "model/Errors.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace varno {

namespace detail {
struct LazyArrays;
}

// A position in a JSON document being decoded under the strict record rules:
// unknown members are ignored; a required member that is missing, null or of the
// wrong type fails the whole document; integers must be whole and fit in 64 bits.
class JsonNode {
public:
    JsonNode(QJsonValue value, QString path, std::shared_ptr<detail::LazyArrays> lazy = {})
        : value_(std::move(value)), path_(std::move(path)), lazy_(std::move(lazy)) {}

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
        const qsizetype count = arraySize();
        QList<T> out;
        out.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            out.append(T::decode(element(i)));
        markRead();
        return out;
    }

    // Whether every array left unparsed by the decoding is valid JSON; the whole
    // text's JSON error when one is not. For decodeDocument.
    void checkUnreadArrays(const QByteArray& bytes) const;

private:
    bool isAbsentOrNull() const { return value_.isUndefined() || value_.isNull(); }
    QJsonObject objectValue() const;
    QJsonArray arrayValue() const;
    qsizetype arraySize() const;
    JsonNode element(qsizetype index) const;
    void markRead() const;
    // The index of this node's array among the lazily parsed ones, if it is one.
    std::optional<qsizetype> lazyIndex() const;
    JsonNode required(const QString& key) const;
    [[noreturn]] void fail(const QString& expected) const;

    QJsonValue value_;
    QString path_;
    std::shared_ptr<detail::LazyArrays> lazy_;
};

// Parses a whole document (any JSON value at the top, including the literal null).
JsonNode parseJsonDocument(const QByteArray& bytes);

namespace detail {

// An element of a lazily parsed array that is not valid JSON.
struct InvalidElement {};

// The document with each long array (its text over 64 KB) left as text, its elements
// parsed one at a time as they are decoded: a document model of a 15 MB answer is
// about five times its size, one row's is a few hundred bytes.
JsonNode parseJsonDocumentLazily(const QByteArray& bytes);

// decode(root) with the long arrays parsed as they are read, and the same outcome as
// decoding the whole document: invalid JSON anywhere is the JSON error, whatever
// decoding error an earlier element gave.
template <typename F> auto decodeDocument(const QByteArray& bytes, F decode) {
    std::optional<JsonNode> root;
    try {
        root.emplace(parseJsonDocumentLazily(bytes));
        auto out = decode(*root);
        root->checkUnreadArrays(bytes);
        return out;
    } catch (const InvalidElement&) {
    } catch (const DecodingError&) {
        if (root)
            root->checkUnreadArrays(bytes);
        throw;
    }
    return decode(parseJsonDocument(bytes)); // throws the JSON error of the whole text
}

} // namespace detail

template <typename T> T decodeJson(const QByteArray& bytes) {
    return detail::decodeDocument(bytes, [](const JsonNode& root) { return T::decode(root); });
}

// A document that may be the JSON literal null, which yields nothing.
template <typename T> std::optional<T> decodeOptionalJson(const QByteArray& bytes) {
    return detail::decodeDocument(bytes, [](const JsonNode& root) -> std::optional<T> {
        if (root.isNull())
            return std::nullopt;
        return T::decode(root);
    });
}

template <typename T> QList<T> decodeJsonList(const QByteArray& bytes) {
    return detail::decodeDocument(bytes,
                                  [](const JsonNode& root) { return root.template list<T>(); });
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
