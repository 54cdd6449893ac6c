#pragma once
// Number text for PDF syntax: written and read the same way whatever the user's locale, so a
// German desktop never writes "0,5" into a content stream. Nothing here reads the C or Qt
// locale. All functions are pure and thread-safe, and never throw.
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <optional>

// Decimal integer text: "0", "-12", "18446744073709551615".
QByteArray kvFormatSigned(int64_t v);
QByteArray kvFormatUnsigned(uint64_t v);

// Fixed notation with `decimals` digits after the point, exactly as C's "%.*f" prints in the C
// locale, including its "-0.000000" for negative zero and tiny negatives. Decimals below 0
// count as 0, above 1074 as 1074 (every double is exact by then). NaN and infinities, which
// have no PDF spelling, give "0".
QByteArray kvFormatFixed(double v, int decimals = 6);

// The shortest clean form for content streams: rounded to 6 decimals, trailing zeros and a
// bare point dropped, a negative zero written "0" ("0.5", "-12", "0"). NaN and infinities
// give "0".
QByteArray kvFormatReal(double v);

// Reads a decimal number starting exactly at `begin` (no white space skipped): an optional
// sign, digits with at most one '.', at least one digit in all, then an optional exponent
// ('e' or 'E', optional sign, digits) which is only taken when it has a digit. "inf", "nan"
// and hex are not numbers here. Answers nullopt when no number starts at `begin`; otherwise
// the nearest double, with overflow clamped to the largest finite double of that sign and
// underflow giving a zero of that sign, so no infinity reaches geometry code. *consumed, when
// given, receives the bytes used (0 on nullopt). `end` is exclusive; begin == end is fine.
std::optional<double> kvParseDouble(const char *begin, const char *end, size_t *consumed = nullptr);

// Reads an optional sign and one or more decimal digits starting at `begin`. Every digit is
// consumed even when the value does not fit: it is clamped to INT64_MIN or INT64_MAX so the
// caller's parser still moves past the token. Stops at the first non-digit ("12.5" reads 12
// and consumes 2). Answers nullopt, *consumed = 0, when no digit follows the optional sign.
std::optional<int64_t> kvParseSigned(const char *begin, const char *end, size_t *consumed = nullptr);

// Reads one or more decimal digits starting at `begin`, no sign: the form of object numbers,
// generations and offsets. Every digit is consumed even when the value does not fit: it
// saturates at UINT64_MAX so the caller still moves past the run in one linear pass. Answers
// nullopt, *consumed = 0, when `begin` is no digit.
std::optional<uint64_t> kvParseUnsigned(const char *begin, const char *end, size_t *consumed = nullptr);
