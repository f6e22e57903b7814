// SPDX-License-Identifier: MIT
#include "model/Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varno {

namespace {

// Qt's parser reads every number as a double and keeps it as an integer when that
// double is whole: "-9223372036854775809" would become the smallest 64-bit integer,
// "9007199254740993.0" would lose its last digit and "1.0000000000000000001" would
// pass as 1. So before parsing, each number literal is judged exactly from its text:
// a whole number that fits in 64 bits is written out in plain digits, which Qt reads
// exactly; every other number becomes a marker string, U+0000 followed by the
// literal, which no accessor but the error messages ever accepts. A real string that
// begins with U+0000 gets a second one, removed again when it is read.
const QChar markerChar = QChar(u'\0');

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the JSON number literal at the start of text, or 0 when there is none.
qsizetype numberLength(std::string_view text) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        return i - start;
    };
    if (i < text.size() && text[i] == '-')
        ++i;
    if (i < text.size() && text[i] == '0')
        ++i;
    else if (digits() == 0)
        return 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits() == 0)
            return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return 0;
    }
    return qsizetype(i);
}

// The plain digits of a valid literal that is whole and fits in 64 bits, or nothing.
std::optional<QByteArray> wholeDigits(std::string_view literal) {
    const bool negative = literal.front() == '-';
    std::size_t i = negative ? 1 : 0;
    std::string digits;
    std::int64_t exponent = 0;
    while (i < literal.size() && isDigit(literal[i]))
        digits += literal[i++];
    if (i < literal.size() && literal[i] == '.') {
        ++i;
        while (i < literal.size() && isDigit(literal[i])) {
            digits += literal[i++];
            --exponent;
        }
    }
    if (i < literal.size()) { // the exponent; its size only matters up to a point
        ++i;
        const bool down = literal[i] == '-';
        if (literal[i] == '+' || literal[i] == '-')
            ++i;
        std::int64_t e = 0;
        for (; i < literal.size(); ++i)
            e = std::min<std::int64_t>(e * 10 + (literal[i] - '0'), 1'000'000'000);
        exponent += down ? -e : e;
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos)
        return QByteArray("0"); // -0, 0.0, 0e7
    digits.erase(0, first);
    const std::size_t last = digits.find_last_not_of('0');
    exponent += std::int64_t(digits.size() - 1 - last);
    digits.resize(last + 1);
    if (exponent < 0 || std::int64_t(digits.size()) + exponent > 19)
        return std::nullopt;
    digits.append(std::size_t(exponent), '0');
    const std::string_view limit = negative ? "9223372036854775808" : "9223372036854775807";
    if (digits.size() == limit.size() && std::string_view(digits) > limit)
        return std::nullopt;
    return QByteArray(negative ? "-" : "") + QByteArray::fromStdString(digits);
}

// The text with its number literals and NUL-led strings rewritten as described above;
// the same bytes, not copied, when nothing needs it (the usual case). Numbers in the
// place of an object key are left alone: the document is broken anyway, and a marker
// string there would mend it.
QByteArray prepareNumbers(const QByteArray& bytes) {
    const std::string_view text(bytes.constData(), std::size_t(bytes.size()));
    QByteArray out;
    bool changed = false;
    std::size_t copied = 0; // text before this offset is in `out` already
    const auto replace = [&](std::size_t from, std::size_t to, const QByteArray& with) {
        if (!changed) {
            out.reserve(bytes.size() + 64);
            changed = true;
        }
        out.append(bytes.constData() + copied, qsizetype(from - copied));
        out.append(with);
        copied = to;
    };
    std::vector<char> containers; // '{' or '['
    bool expectKey = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            ++i;
            if (text.substr(i, 6) == "\\u0000")
                replace(i, i, "\\u0000");
            while (i < text.size() && text[i] != '"')
                i += text[i] == '\\' ? 2 : 1;
            i = std::min(i + 1, text.size());
            continue;
        }
        if (c == '-' || isDigit(c)) {
            const qsizetype length = numberLength(text.substr(i));
            if (length == 0) {
                ++i;
                continue;
            }
            const std::string_view literal = text.substr(i, std::size_t(length));
            const bool plain = literal.find_first_of(".eE") == std::string_view::npos;
            if (!expectKey) {
                const std::optional<QByteArray> whole = wholeDigits(literal);
                if (!whole)
                    replace(i, i + literal.size(),
                            "\"\\u0000" + QByteArray(literal.data(), length) + '"');
                else if (!plain)
                    replace(i, i + literal.size(), *whole);
            }
            i += literal.size();
            continue;
        }
        switch (c) {
        case '{':
            containers.push_back(c);
            expectKey = true;
            break;
        case '[':
            containers.push_back(c);
            expectKey = false;
            break;
        case '}':
        case ']':
            if (!containers.empty())
                containers.pop_back();
            expectKey = false;
            break;
        case ',':
            expectKey = !containers.empty() && containers.back() == '{';
            break;
        case ':':
            expectKey = false;
            break;
        default:
            break;
        }
        ++i;
    }
    if (!changed)
        return bytes;
    out.append(bytes.constData() + copied, qsizetype(text.size() - copied));
    return out;
}

// A long array left as text is a marker string too: U+0000, U+0001 and its index.
const QChar lazyChar = QChar(u'\1');

bool isLazyMarker(const QJsonValue& value) {
    if (!value.isString())
        return false;
    const QString text = value.toString();
    return text.size() > 2 && text.at(0) == markerChar && text.at(1) == lazyChar;
}

bool isNumberMarker(const QJsonValue& value) {
    if (!value.isString())
        return false;
    const QString text = value.toString();
    return text.size() > 1 && text.at(0) == markerChar && text.at(1) != markerChar &&
           text.at(1) != lazyChar;
}

QString describeType(const QJsonValue& value) {
    if (isNumberMarker(value))
        return QStringLiteral("a number");
    if (isLazyMarker(value))
        return QStringLiteral("an array");
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

// Arrays whose text is longer than this are parsed an element at a time.
constexpr qsizetype lazyArrayBytes = 64 * 1024;

// The text of an element of a long array (a slice of the document) as a value; none
// when it is not exactly one valid JSON value.
std::optional<QJsonValue> parseElement(const QByteArray& text, qsizetype from, qsizetype to) {
    const QByteArray slice(text.constData() + from, to - from);
    const QByteArray trimmed = slice.trimmed();
    QJsonParseError error{};
    if (trimmed.startsWith('{') || trimmed.startsWith('[')) {
        const QJsonDocument doc = QJsonDocument::fromJson(slice, &error);
        if (error.error != QJsonParseError::NoError)
            return std::nullopt;
        return doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    }
    const QJsonDocument doc = QJsonDocument::fromJson('[' + slice + ']', &error);
    if (error.error != QJsonParseError::NoError || doc.array().size() != 1)
        return std::nullopt;
    return doc.array().at(0);
}

} // namespace

namespace detail {

struct LazyArrays {
    struct Array {
        QList<std::pair<qsizetype, qsizetype>> elements; // [from, to) in text
        bool read = false;
    };
    QByteArray text; // with its numbers prepared
    std::vector<Array> arrays;
};

namespace {

// The text with each long array that lies in no other long array replaced by a lazy
// marker; the arrays' element boundaries go to `lazy`. Strings are skipped whole, so
// brackets and commas in them count for nothing.
QByteArray outlineLongArrays(const QByteArray& text, LazyArrays& lazy) {
    struct Open {
        qsizetype start;
        bool array;
        std::vector<qsizetype> commas;
    };
    struct Long {
        qsizetype start, end; // the brackets
        std::vector<qsizetype> commas;
    };
    std::vector<Open> open;
    std::vector<Long> found;
    const qsizetype size = text.size();
    const char* data = text.constData();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"') {
            for (++i; i < size && data[i] != '"'; ++i)
                if (data[i] == '\\')
                    ++i;
        } else if (c == '{' || c == '[') {
            open.push_back({i, c == '[', {}});
        } else if (c == ',') {
            if (!open.empty() && open.back().array)
                open.back().commas.push_back(i);
        } else if ((c == '}' || c == ']') && !open.empty()) {
            Open closed = std::move(open.back());
            open.pop_back();
            if (closed.array && c == ']' && i - closed.start > lazyArrayBytes) {
                while (!found.empty() && found.back().start > closed.start)
                    found.pop_back();
                found.push_back({closed.start, i, std::move(closed.commas)});
            }
        }
    }
    if (found.empty())
        return text;

    QByteArray outline;
    qsizetype copied = 0;
    for (const Long& array : found) {
        LazyArrays::Array elements;
        qsizetype from = array.start + 1;
        for (qsizetype comma : array.commas) {
            elements.elements.append({from, comma});
            from = comma + 1;
        }
        if (!array.commas.empty() ||
            !QByteArray::fromRawData(data + from, array.end - from).trimmed().isEmpty())
            elements.elements.append({from, array.end});
        outline.append(data + copied, array.start - copied);
        outline.append("\"\\u0000\\u0001" + QByteArray::number(qsizetype(lazy.arrays.size())) +
                       '"');
        copied = array.end + 1;
        lazy.arrays.push_back(std::move(elements));
    }
    outline.append(data + copied, size - copied);
    return outline;
}

} // namespace

JsonNode parseJsonDocumentLazily(const QByteArray& bytes) {
    if (bytes.size() <= lazyArrayBytes)
        return parseJsonDocument(bytes);
    auto lazy = std::make_shared<LazyArrays>();
    lazy->text = prepareNumbers(bytes);
    const QByteArray outline = outlineLongArrays(lazy->text, *lazy);
    if (lazy->arrays.empty())
        return parseJsonDocument(bytes);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson('[' + outline + ']', &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1)
        return parseJsonDocument(bytes); // which says what is wrong, where
    return JsonNode(doc.array().at(0), QStringLiteral("$"), std::move(lazy));
}

} // namespace detail

std::optional<qsizetype> JsonNode::lazyIndex() const {
    if (!lazy_ || !isLazyMarker(value_))
        return std::nullopt;
    return value_.toString().mid(2).toLongLong();
}

qsizetype JsonNode::arraySize() const {
    if (const std::optional<qsizetype> index = lazyIndex())
        return lazy_->arrays[std::size_t(*index)].elements.size();
    return arrayValue().size();
}

JsonNode JsonNode::element(qsizetype index) const {
    const QString path = path_ + QStringLiteral("[%1]").arg(index);
    const std::optional<qsizetype> lazy = lazyIndex();
    if (!lazy)
        return JsonNode(arrayValue().at(index), path, lazy_);
    const auto [from, to] = lazy_->arrays[std::size_t(*lazy)].elements[index];
    std::optional<QJsonValue> value = parseElement(lazy_->text, from, to);
    if (!value)
        throw detail::InvalidElement();
    return JsonNode(std::move(*value), path, lazy_);
}

void JsonNode::markRead() const {
    if (const std::optional<qsizetype> index = lazyIndex())
        lazy_->arrays[std::size_t(*index)].read = true;
}

void JsonNode::checkUnreadArrays(const QByteArray& bytes) const {
    if (!lazy_)
        return;
    for (const detail::LazyArrays::Array& array : lazy_->arrays) {
        if (array.read)
            continue;
        for (const auto& [from, to] : array.elements)
            if (!parseElement(lazy_->text, from, to)) {
                parseJsonDocument(bytes); // throws the JSON error of the whole text
                return;
            }
    }
}

void JsonNode::fail(const QString& expected) const {
    throw DecodingError(QStringLiteral("expected %1 at %2 but found %3")
                            .arg(expected, path_, describeType(value_)));
}

QString JsonNode::string() const {
    if (!value_.isString() || isNumberMarker(value_) || isLazyMarker(value_))
        fail(QStringLiteral("a string"));
    QString text = value_.toString();
    if (text.startsWith(markerChar))
        text.remove(0, 1);
    return text;
}

qint64 JsonNode::integer() const {
    if (isNumberMarker(value_))
        throw DecodingError(QStringLiteral("expected a whole 64-bit integer at %1 but found %2")
                                .arg(path_, value_.toString().mid(1)));
    // Every number left is plain digits within 64 bits, which Qt keeps as an integer.
    if (!value_.isDouble() || value_.toVariant().typeId() != QMetaType::LongLong)
        fail(QStringLiteral("a whole 64-bit integer"));
    return value_.toInteger();
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
    return JsonNode(object.value(key), path_ + QLatin1Char('.') + key, lazy_);
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
    QJsonDocument doc = QJsonDocument::fromJson('[' + prepareNumbers(bytes) + ']', &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1) {
        // Report the offset in the text as it came.
        doc = QJsonDocument::fromJson('[' + bytes + ']', &error);
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
