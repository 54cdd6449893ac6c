#include "KVNumbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

// Every case runs under the user's locale, as it would inside a Qt application; CTest reruns
// this suite with LC_ALL=de_DE.UTF-8, whose decimal comma must not reach PDF syntax.
class KVNumbersTest : public testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, ""); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

struct FormatCase {
    const char *name;
    double value;
    const char *expected;
};

TEST_F(KVNumbersTest, LocaleWithDecimalCommaDoesNotReachOutput)
{
    const char *lcAll = std::getenv("LC_ALL");
    if (lcAll && std::strncmp(lcAll, "de_DE", 5) == 0) {
        // Proves the environment is really in force, or the checks below prove nothing.
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    EXPECT_EQ(kvFormatReal(0.5), "0.5");
    EXPECT_EQ(kvFormatFixed(1234.5), "1234.500000");
    const std::string text = "0.5";
    EXPECT_EQ(kvParseDouble(text.data(), text.data() + text.size()), 0.5);
}

TEST_F(KVNumbersTest, IntegersKeepFullRange)
{
    EXPECT_EQ(kvFormatSigned(0), "0");
    EXPECT_EQ(kvFormatSigned(-12), "-12");
    EXPECT_EQ(kvFormatSigned(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(kvFormatSigned(std::numeric_limits<int64_t>::max()), "9223372036854775807");
    EXPECT_EQ(kvFormatUnsigned(std::numeric_limits<uint64_t>::max()), "18446744073709551615");
}

TEST_F(KVNumbersTest, FixedMatchesCInCLocale)
{
    const std::vector<FormatCase> cases = {
        {"half", 0.5, "0.500000"},
        {"negative quarter", -0.25, "-0.250000"},
        {"large value printed without exponent", 1e20, "100000000000000000000.000000"},
        {"binary value below the decimal tie rounds down", 0.0000005, "0.000000"},
        {"negative zero keeps its sign like C", -0.0, "-0.000000"},
        {"tiny negative keeps its sign like C", -1e-9, "-0.000000"},
        {"NaN has no PDF spelling", kNaN, "0"},
        {"infinity has no PDF spelling", kInf, "0"},
        {"negative infinity has no PDF spelling", -kInf, "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kvFormatFixed(c.value), c.expected);
    }
}

TEST_F(KVNumbersTest, FixedHonoursDecimals)
{
    EXPECT_EQ(kvFormatFixed(2.5, 0), "2") << "an exact tie rounds to even, as C does";
    EXPECT_EQ(kvFormatFixed(0.125, 2), "0.12") << "an exact tie rounds to even, as C does";
    EXPECT_EQ(kvFormatFixed(1.0 / 3.0, 2), "0.33");
    EXPECT_EQ(kvFormatFixed(3.75, -4), "4") << "negative decimals count as 0";
    const QByteArray max = kvFormatFixed(kMax);
    EXPECT_EQ(max.size(), 309 + 7) << "the largest double must fit the buffer in full";
    EXPECT_TRUE(max.startsWith("17976931348623157")) << max.constData();
}

TEST_F(KVNumbersTest, RealIsShortestCleanForm)
{
    const std::vector<FormatCase> cases = {
        {"trailing zeros dropped", 0.5, "0.5"},
        {"integer loses its point", -12.0, "-12"},
        {"zeros of an integer part survive trimming", 100.0, "100"},
        {"zeros of a large integer survive trimming", 1234500.0, "1234500"},
        {"zero", 0.0, "0"},
        {"negative zero", -0.0, "0"},
        {"tiny negative rounds to zero without sign", -1e-7, "0"},
        {"six decimals kept", 0.000001, "0.000001"},
        {"seventh decimal rounds away", 2.0000004, "2"},
        {"binary noise hidden", 0.1 + 0.2, "0.3"},
        {"negative fraction", -0.125, "-0.125"},
        {"NaN", kNaN, "0"},
        {"infinity", kInf, "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kvFormatReal(c.value), c.expected);
    }
}

struct ParseDoubleCase {
    const char *name;
    std::string text;
    std::optional<double> expected;
    size_t consumed;
};

TEST_F(KVNumbersTest, ParseDoubleReadsPdfNumbers)
{
    const std::vector<ParseDoubleCase> cases = {
        {"integer", "123", 123.0, 3},
        {"negative fraction", "-0.5", -0.5, 4},
        {"plus sign with bare fraction", "+.5", 0.5, 3},
        {"trailing point", "5.", 5.0, 2},
        {"negative bare fraction", "-.002", -0.002, 5},
        {"stops at delimiter", "3 0 R", 3.0, 1},
        {"stops at second point", "12.5.6", 12.5, 4},
        {"stops before name", "7/Name", 7.0, 1},
        {"exponent", "1e3", 1000.0, 3},
        {"signed upper-case exponent", "1.5E-2", 0.015, 6},
        {"exponent without digits is left alone", "2e", 2.0, 1},
        {"signed exponent without digits is left alone", "2e+x", 2.0, 1},
        {"hex is not read", "0x10", 0.0, 1},
        {"correctly rounded, not accumulated", "0.1", 0.1, 3},
        {"beyond single precision", "16777217", 16777217.0, 8},
        {"long mantissa rounds to nearest", "0.30000000000000004441", 0.30000000000000004, 22},
        {"overflow clamps to largest finite", "1e400", kMax, 5},
        {"negative overflow clamps", "-1e400", -kMax, 6},
        {"overflow without exponent clamps", "1" + std::string(400, '0'), kMax, 401},
        {"huge exponent does not wrap", "1e99999999999999999999", kMax, 22},
        {"underflow gives zero", "1e-400", 0.0, 6},
        {"underflow without exponent gives zero", "0." + std::string(400, '0') + "1", 0.0, 403},
        {"zero with huge exponent", "0e99999", 0.0, 7},
        {"empty", "", std::nullopt, 0},
        {"point alone", ".", std::nullopt, 0},
        {"sign alone", "-", std::nullopt, 0},
        {"two signs", "+-5", std::nullopt, 0},
        {"sign then point", "-.", std::nullopt, 0},
        {"leading space not skipped", " 5", std::nullopt, 0},
        {"letters", "abc", std::nullopt, 0},
        {"infinity spelled out", "inf", std::nullopt, 0},
        {"infinity with sign", "-infinity", std::nullopt, 0},
        {"not a number spelled out", "nan", std::nullopt, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        size_t consumed = 99;
        const auto value = kvParseDouble(c.text.data(), c.text.data() + c.text.size(), &consumed);
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST_F(KVNumbersTest, ParseDoubleStopsAtEndPointer)
{
    // Tokens are offsets into a larger buffer: nothing past `end` may be read.
    const std::string text = "12345e7";
    size_t consumed = 0;
    EXPECT_EQ(kvParseDouble(text.data(), text.data() + 3, &consumed), 123.0);
    EXPECT_EQ(consumed, 3u);
    EXPECT_EQ(kvParseDouble(text.data(), text.data() + 6, &consumed), 12345.0) << "an exponent cut off by end is no exponent";
    EXPECT_EQ(consumed, 5u);
    EXPECT_EQ(kvParseDouble(text.data(), text.data()), std::nullopt);
    EXPECT_EQ(kvParseDouble(nullptr, nullptr, &consumed), std::nullopt);
}

TEST_F(KVNumbersTest, ParseDoubleKeepsNegativeZeroSign)
{
    const std::string text = "-0";
    const auto value = kvParseDouble(text.data(), text.data() + text.size());
    ASSERT_TRUE(value);
    EXPECT_TRUE(std::signbit(*value));
}

struct ParseSignedCase {
    const char *name;
    std::string text;
    std::optional<int64_t> expected;
    size_t consumed;
};

TEST_F(KVNumbersTest, ParseSignedClampsAndAdvances)
{
    constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
    const std::vector<ParseSignedCase> cases = {
        {"zero", "0", 0, 1},
        {"negative", "-12", -12, 3},
        {"plus sign", "+7", 7, 2},
        {"leading zeros", "007", 7, 3},
        {"stops at point", "12.5", 12, 2},
        {"stops at delimiter", "12 0 R", 12, 2},
        {"largest exact", "9223372036854775807", kMax64, 19},
        {"one past largest clamps", "9223372036854775808", kMax64, 19},
        {"smallest exact", "-9223372036854775808", kMin64, 20},
        {"one past smallest clamps", "-9223372036854775809", kMin64, 20},
        {"long run consumed in full", "99999999999999999999999 ", kMax64, 23},
        {"long negative run consumed in full", "-99999999999999999999999", kMin64, 24},
        {"empty", "", std::nullopt, 0},
        {"sign alone", "-", std::nullopt, 0},
        {"sign then letter", "+x", std::nullopt, 0},
        {"bare fraction is no integer", ".5", std::nullopt, 0},
        {"leading space not skipped", " 5", std::nullopt, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        size_t consumed = 99;
        const auto value = kvParseSigned(c.text.data(), c.text.data() + c.text.size(), &consumed);
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST_F(KVNumbersTest, ParseSignedStopsAtEndPointer)
{
    const std::string text = "4567";
    size_t consumed = 0;
    EXPECT_EQ(kvParseSigned(text.data(), text.data() + 2, &consumed), 45);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(kvParseSigned(nullptr, nullptr, &consumed), std::nullopt);
}

struct ParseUnsignedCase {
    const char *name;
    std::string text;
    std::optional<uint64_t> expected;
    size_t consumed;
};

TEST_F(KVNumbersTest, ParseUnsignedSaturatesAndAdvances)
{
    constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();
    const std::vector<ParseUnsignedCase> cases = {
        {"zero", "0", 0, 1},
        {"leading zeros", "0012", 12, 4},
        {"stops at white space", "12 0 R", 12, 2},
        {"past the signed range", "9223372036854775808", 9223372036854775808ull, 19},
        {"largest exact", "18446744073709551615", kMaxU64, 20},
        {"one past largest saturates", "18446744073709551616", kMaxU64, 20},
        {"long run consumed in full", "999999999999999999999999999999 obj", kMaxU64, 30},
        {"sign is no digit", "+7", std::nullopt, 0},
        {"minus is no digit", "-7", std::nullopt, 0},
        {"empty", "", std::nullopt, 0},
        {"leading space not skipped", " 5", std::nullopt, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        size_t consumed = 99;
        const auto value = kvParseUnsigned(c.text.data(), c.text.data() + c.text.size(), &consumed);
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(consumed, c.consumed);
    }
    size_t consumed = 99;
    const std::string text = "4567";
    EXPECT_EQ(kvParseUnsigned(text.data(), text.data() + 2, &consumed), 45u);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(kvParseUnsigned(nullptr, nullptr, &consumed), std::nullopt);
}

} // namespace
