// SPDX-License-Identifier: MIT
// The integer rule, against an independent reading of the number: the input is put
// where an integer member stands. A literal that is a valid JSON number must decode
// exactly when it is whole and fits in 64 bits, to that value; any other number must
// fail naming it. The reference works on the digits with 128-bit arithmetic.

#include "FuzzCheck.h"
#include "model/Errors.h"
#include "model/Json.h"
#include "model/Records.h"

#include <cstdint>
#include <optional>
#include <string>

using namespace varno;

namespace {

struct Reference {
    bool valid = false;                // a JSON number, nothing else
    std::optional<std::int64_t> whole; // its value, when whole and within 64 bits
};

Reference reference(const std::string& text) {
    Reference out;
    std::size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    i += negative;
    std::string integer, fraction;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        integer += text[i++];
    if (integer.empty() || (integer.size() > 1 && integer[0] == '0'))
        return out;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            fraction += text[i++];
        if (fraction.empty())
            return out;
    }
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool down = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            down = text[i++] == '-';
        std::string digits;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            digits += text[i++];
        if (digits.empty())
            return out;
        for (char d : digits)
            exponent = exponent > 100000 ? exponent : exponent * 10 + (d - '0');
        exponent = down ? -exponent : exponent;
    }
    if (i != text.size())
        return out;
    out.valid = true;

    // value = digits * 10^(exponent - fraction length); whole when every digit that
    // the exponent moves behind the point is zero.
    std::string digits = integer + fraction;
    long long shift = exponent - static_cast<long long>(fraction.size());
    while (shift < 0 && !digits.empty()) {
        if (digits.back() != '0')
            return out; // a fraction
        digits.pop_back();
        ++shift;
    }
    const __int128 limit = negative ? (__int128(1) << 63) : (__int128(1) << 63) - 1;
    __int128 value = 0;
    for (char d : digits) {
        value = value * 10 + (d - '0');
        if (value > limit)
            return out;
    }
    if (value != 0) {
        for (long long s = 0; s < shift; ++s) {
            value *= 10;
            if (value > limit)
                return out;
        }
    }
    out.whole = static_cast<std::int64_t>(negative ? -value : value);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 400)
        return 0; // longer literals teach nothing new and slow the reference down
    const std::string literal(reinterpret_cast<const char*>(data), size);
    const Reference expected = reference(literal);
    const QByteArray json = QByteArray(R"({"provider":"c","date":"d","totalTokens":)") +
                            QByteArray::fromStdString(literal) + "}";
    try {
        const qint64 tokens = decodeJson<DailyUsage>(json).totalTokens;
        if (expected.valid)
            FUZZ_CHECK(expected.whole && *expected.whole == tokens);
    } catch (const DecodingError& error) {
        const std::string message = error.what();
        if (expected.valid && expected.whole)
            FUZZ_CHECK(!"a whole 64-bit number was refused");
        if (expected.valid)
            FUZZ_CHECK(message ==
                       "expected a whole 64-bit integer at $.totalTokens but found " + literal);
    }
    return 0;
}
