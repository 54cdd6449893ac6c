#include "KVNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

template <typename T> QByteArray formatInteger(T v)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return QByteArray(buffer, int(result.ptr - buffer));
}

} // namespace

QByteArray kvFormatSigned(int64_t v) { return formatInteger(v); }

QByteArray kvFormatUnsigned(uint64_t v) { return formatInteger(v); }

QByteArray kvFormatFixed(double v, int decimals)
{
    if (!std::isfinite(v))
        return QByteArrayLiteral("0");
    // 1074 decimals already show the smallest subnormal in full; more would only add zeros,
    // and a bound keeps a silly argument from asking for gigabytes.
    decimals = std::clamp(decimals, 0, 1074);
    // Sign, 309 integer digits of DBL_MAX, the point, and the decimals.
    std::string buffer(size_t(decimals) + 320, '\0');
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return QByteArrayLiteral("0");
    return QByteArray(buffer.data(), int(result.ptr - buffer.data()));
}

QByteArray kvFormatReal(double v)
{
    QByteArray text = kvFormatFixed(v, 6);
    if (text.contains('.')) {
        qsizetype length = text.size();
        while (text[length - 1] == '0')
            --length;
        if (text[length - 1] == '.')
            --length;
        text.truncate(length);
    }
    // -0.0000001 rounds to "-0"; a signed zero means nothing to a PDF reader.
    if (text == "-0")
        return QByteArrayLiteral("0");
    return text;
}

std::optional<double> kvParseDouble(const char *begin, const char *end, size_t *consumed)
{
    if (consumed)
        *consumed = 0;
    if (!begin || begin >= end)
        return std::nullopt;

    const char *p = begin;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }

    // The scan fixes the token's extent ourselves: from_chars alone would also accept "inf",
    // "nan" and "1e" prefixes that are no PDF numbers. The digit counts let an out-of-range
    // result be told apart as overflow or underflow.
    const char *mantissa = p;
    long significantIntegerDigits = 0;
    long fractionLeadingZeros = 0;
    bool seenNonZero = false;
    long digits = 0;
    for (; p < end && isDigit(*p); ++p, ++digits) {
        if (*p != '0')
            seenNonZero = true;
        if (seenNonZero)
            ++significantIntegerDigits;
    }
    if (p < end && *p == '.') {
        ++p;
        for (; p < end && isDigit(*p); ++p, ++digits) {
            if (*p != '0')
                seenNonZero = true;
            else if (!seenNonZero)
                ++fractionLeadingZeros;
        }
    }
    if (digits == 0)
        return std::nullopt;

    long exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char *q = p + 1;
        bool exponentNegative = false;
        if (q < end && (*q == '+' || *q == '-')) {
            exponentNegative = *q == '-';
            ++q;
        }
        if (q < end && isDigit(*q)) {
            for (; q < end && isDigit(*q); ++q)
                exponent = std::min(exponent * 10 + (*q - '0'), 1000000L);
            if (exponentNegative)
                exponent = -exponent;
            p = q;
        }
    }

    double value = 0;
    const auto result = std::from_chars(mantissa, p, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Decimal position of the leading significant digit: positive means too large.
        const long magnitude =
            (significantIntegerDigits > 0 ? significantIntegerDigits - 1 : -(fractionLeadingZeros + 1)) + exponent;
        value = magnitude > 0 ? std::numeric_limits<double>::max() : 0.0;
    } else if (result.ec != std::errc() || result.ptr != p) {
        return std::nullopt;
    }

    if (consumed)
        *consumed = size_t(p - begin);
    return negative ? -value : value;
}

std::optional<int64_t> kvParseSigned(const char *begin, const char *end, size_t *consumed)
{
    if (consumed)
        *consumed = 0;
    if (!begin || begin >= end)
        return std::nullopt;

    const char *p = begin;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (p >= end || !isDigit(*p))
        return std::nullopt;

    // Accumulate the magnitude unsigned so INT64_MIN, whose magnitude has no positive int64,
    // reads exactly.
    const uint64_t limit =
        negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1 : uint64_t(std::numeric_limits<int64_t>::max());
    uint64_t magnitude = 0;
    for (; p < end && isDigit(*p); ++p) {
        const unsigned digit = unsigned(*p - '0');
        if (magnitude > (limit - digit) / 10)
            magnitude = limit;
        else
            magnitude = magnitude * 10 + digit;
    }

    if (consumed)
        *consumed = size_t(p - begin);
    if (negative)
        return magnitude == limit ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
    return int64_t(magnitude);
}

std::optional<uint64_t> kvParseUnsigned(const char *begin, const char *end, size_t *consumed)
{
    if (consumed)
        *consumed = 0;
    if (!begin || begin >= end || !isDigit(*begin))
        return std::nullopt;

    constexpr uint64_t limit = std::numeric_limits<uint64_t>::max();
    uint64_t value = 0;
    const char *p = begin;
    for (; p < end && isDigit(*p); ++p) {
        const unsigned digit = unsigned(*p - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }

    if (consumed)
        *consumed = size_t(p - begin);
    return value;
}
