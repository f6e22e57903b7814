#include "model/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <limits>

namespace varno {

namespace {

QString describeType(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        return QStringLiteral("nothing");
    }
    return QStringLiteral("an unknown value");
}

} // namespace

void JsonNode::fail(const QString& expected) const {
    throw DecodingError(QStringLiteral("expected %1 at %2 but found %3")
                            .arg(expected, path_, describeType(value_)));
}

QString JsonNode::string() const {
    if (!value_.isString())
        fail(QStringLiteral("a string"));
    return value_.toString();
}

qint64 JsonNode::integer() const {
    if (!value_.isDouble())
        fail(QStringLiteral("a whole 64-bit integer"));
    // toInteger gives the default for fractions and for values outside 64 bits;
    // two different defaults tell that apart from a genuine value.
    const qint64 a = value_.toInteger(std::numeric_limits<qint64>::min());
    const qint64 b = value_.toInteger(std::numeric_limits<qint64>::max());
    if (a != b)
        throw DecodingError(QStringLiteral("expected a whole 64-bit integer at %1 but found %2")
                                .arg(path_, QString::number(value_.toDouble(), 'g', 17)));
    return a;
}

bool JsonNode::boolean() const {
    if (!value_.isBool())
        fail(QStringLiteral("a boolean"));
    return value_.toBool();
}

QJsonObject JsonNode::objectValue() const {
    if (!value_.isObject())
        fail(QStringLiteral("an object"));
    return value_.toObject();
}

QJsonArray JsonNode::arrayValue() const {
    if (!value_.isArray())
        fail(QStringLiteral("an array"));
    return value_.toArray();
}

JsonNode JsonNode::member(const QString& key) const {
    const QJsonObject object = objectValue();
    return JsonNode(object.value(key), path_ + QLatin1Char('.') + key);
}

JsonNode JsonNode::required(const QString& key) const {
    JsonNode node = member(key);
    if (node.value_.isUndefined())
        throw DecodingError(QStringLiteral("missing member \"%1\" at %2").arg(key, path_));
    if (node.value_.isNull())
        throw DecodingError(QStringLiteral("member \"%1\" at %2 is null").arg(key, path_));
    return node;
}

std::optional<QString> JsonNode::optionalString(const QString& key) const {
    JsonNode node = member(key);
    if (node.isAbsentOrNull())
        return std::nullopt;
    return node.string();
}

std::optional<bool> JsonNode::optionalBool(const QString& key) const {
    JsonNode node = member(key);
    if (node.isAbsentOrNull())
        return std::nullopt;
    return node.boolean();
}

JsonNode parseJsonDocument(const QByteArray& bytes) {
    // QJsonDocument only takes an object or an array at the top; wrapping the text
    // in one more array lets any value stand there, the literal null included.
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson('[' + bytes + ']', &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1) {
        if (bytes.trimmed().isEmpty())
            throw DecodingError(QStringLiteral("the data is empty, not JSON"));
        const int offset = error.error != QJsonParseError::NoError ? qMax(0, error.offset - 1) : 0;
        throw DecodingError(QStringLiteral("the data is not valid JSON (%1 at offset %2)")
                                .arg(error.error != QJsonParseError::NoError
                                         ? error.errorString()
                                         : QStringLiteral("more than one value"))
                                .arg(offset));
    }
    return JsonNode(doc.array().at(0), QStringLiteral("$"));
}

QByteArray jsonString(const QString& text) {
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size() + 2);
    out += '"';
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (u < 0x20)
                out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0')).toLatin1();
            else
                out += c;
        }
    }
    out += '"';
    return out;
}

QByteArray jsonArray(const QList<QByteArray>& elements) {
    QByteArray out = "[";
    for (qsizetype i = 0; i < elements.size(); ++i) {
        if (i)
            out += ',';
        out += elements[i];
    }
    return out + ']';
}

void JsonObjectWriter::beginMember(const char* key) {
    if (bytes_.size() > 1)
        bytes_ += ',';
    bytes_ += jsonString(QString::fromUtf8(key));
    bytes_ += ':';
}

JsonObjectWriter& JsonObjectWriter::add(const char* key, const QString& value) {
    beginMember(key);
    bytes_ += jsonString(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(const char* key, qint64 value) {
    beginMember(key);
    bytes_ += QByteArray::number(value);
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(const char* key, bool value) {
    beginMember(key);
    bytes_ += value ? "true" : "false";
    return *this;
}

JsonObjectWriter& JsonObjectWriter::addRaw(const char* key, const QByteArray& json) {
    beginMember(key);
    bytes_ += json;
    return *this;
}

} // namespace varno
