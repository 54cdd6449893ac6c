#include "KVStringCompare.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <vector>

namespace {

struct CompareCase {
    const char *name;
    QString a;
    QString b;
    int expected;
};

TEST(KVStringCompareTest, DigitRunsCompareByValue)
{
    const std::vector<CompareCase> cases = {
        {"plain text order would put 10 first", QStringLiteral("Im2"), QStringLiteral("Im10"), -1},
        {"second run decides", QStringLiteral("a1b2"), QStringLiteral("a1b10"), -1},
        {"larger value after", QStringLiteral("Im10"), QStringLiteral("Im9"), 1},
        {"identical", QStringLiteral("Im10"), QStringLiteral("Im10"), 0},
        {"both empty", QString(), QString(), 0},
        {"leading zeros do not count as digits of value", QStringLiteral("0000000000000000000001"), QStringLiteral("2"), -1},
        {"runs beyond 64 bits by length", QStringLiteral("n99999999999999999999"), QStringLiteral("n100000000000000000000"), -1},
        {"long runs of equal length by last digit", QStringLiteral("n123456789012345678901234567890"),
         QStringLiteral("n123456789012345678901234567891"), -1},
        {"run at the very end", QStringLiteral("page 12"), QStringLiteral("page 3"), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(compareNumeric(c.a, c.b), c.expected);
        EXPECT_EQ(compareNumeric(c.b, c.a), -c.expected) << "reversed arguments";
    }
}

TEST(KVStringCompareTest, OtherCharactersCompareByCodeUnit)
{
    const std::vector<CompareCase> cases = {
        {"case matters, upper before lower", QStringLiteral("B"), QStringLiteral("a"), -1},
        {"same letter different case", QStringLiteral("im1"), QStringLiteral("Im1"), 1},
        {"digit before letter", QStringLiteral("a1"), QStringLiteral("aa"), -1},
        {"slash sorts before any number", QStringLiteral("a/"), QStringLiteral("a0"), -1},
        {"colon sorts after any number", QStringLiteral("a:"), QStringLiteral("a99999"), 1},
        {"prefix first", QStringLiteral("Im"), QStringLiteral("Im1"), -1},
        {"empty first", QString(), QStringLiteral("a"), -1},
        {"number then more text", QStringLiteral("Im1"), QStringLiteral("Im1a"), -1},
        {"other script's digit is an ordinary unit", QString::fromUtf8("a\u0662"), QStringLiteral("a10"), 1},
        {"text difference beats leading zeros", QStringLiteral("a007b"), QStringLiteral("a7c"), -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(compareNumeric(c.a, c.b), c.expected);
        EXPECT_EQ(compareNumeric(c.b, c.a), -c.expected) << "reversed arguments";
    }
}

TEST(KVStringCompareTest, LeadingZerosBreakTiesSoOnlyEqualStringsCompareEqual)
{
    const std::vector<CompareCase> cases = {
        {"shorter run first", QStringLiteral("7"), QStringLiteral("007"), -1},
        {"zero against double zero", QStringLiteral("0"), QStringLiteral("00"), -1},
        {"first differing run decides", QStringLiteral("a07b1"), QStringLiteral("a007b01"), -1},
        {"first differing run decides, not later ones", QStringLiteral("a7b001"), QStringLiteral("a07b1"), -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(compareNumeric(c.a, c.b), c.expected);
        EXPECT_EQ(compareNumeric(c.b, c.a), -c.expected) << "reversed arguments";
    }
}

// std::sort misbehaves on an inconsistent comparator, so check the order laws over strings
// chosen to meet every branch: zeros, prefixes, digits against punctuation, long runs.
TEST(KVStringCompareTest, OrderIsTotalAndTransitive)
{
    const QStringList samples = {
        QString(),
        QStringLiteral("0"),
        QStringLiteral("00"),
        QStringLiteral("7"),
        QStringLiteral("07"),
        QStringLiteral("007"),
        QStringLiteral("10"),
        QStringLiteral("a"),
        QStringLiteral("A"),
        QStringLiteral("a1"),
        QStringLiteral("a01"),
        QStringLiteral("a2"),
        QStringLiteral("a10"),
        QStringLiteral("a1b"),
        QStringLiteral("a01b"),
        QStringLiteral("a1b2"),
        QStringLiteral("a/"),
        QStringLiteral("a:"),
        QStringLiteral("1a"),
        QStringLiteral("x99999999999999999999999"),
        QStringLiteral("x100000000000000000000000"),
        QStringLiteral("x0"),
    };
    for (const QString &a : samples) {
        for (const QString &b : samples) {
            const int ab = compareNumeric(a, b);
            ASSERT_TRUE(ab == -1 || ab == 0 || ab == 1) << qPrintable(a) << " " << qPrintable(b);
            ASSERT_EQ(ab == 0, a == b) << qPrintable(a) << " " << qPrintable(b);
            ASSERT_EQ(compareNumeric(b, a), -ab) << qPrintable(a) << " " << qPrintable(b);
            for (const QString &c : samples) {
                if (ab < 0 && compareNumeric(b, c) < 0) {
                    ASSERT_LT(compareNumeric(a, c), 0) << qPrintable(a) << " < " << qPrintable(b) << " < " << qPrintable(c);
                }
            }
        }
    }
}

} // namespace
