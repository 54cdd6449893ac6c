#include "JXNSStringExtensions.h"

#include <gtest/gtest.h>

namespace {

using namespace JXNSStringExtensions;

TEST(JXNSStringExtensionsTest, StringTruthIsYesOrTrueOnly)
{
    struct Case {
        const char *text;
        bool expected;
    };
    const Case cases[] = {
        {"YES", true}, {"True", true}, {"true", true}, {"yes", true},
        {"1", false},  {"on", false},  {"", false},    {" yes", false}, {"TRUE ", false}, {"y", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(boolValue(QString::fromUtf8(c.text)), c.expected);
    }
}

TEST(JXNSStringExtensionsTest, ReplacingNeverSearchesInsertedTextAgain)
{
    struct Case {
        const char *name;
        QString text, target, replacement, expected;
    };
    const Case cases[] = {
        {"a by aa in aXa", "aXa", "a", "aa", "aaXaa"},
        {"overlapping matches go left to right", "aaa", "aa", "b", "ba"},
        {"case-sensitive", "skorvel Skorvel", "skorvel", "FolivoPro", "FolivoPro Skorvel"},
        {"no match", "abc", "x", "y", "abc"},
        {"to nothing", "a-b-c", "-", "", "abc"},
        {"an empty target matches nothing", "abc", "", "x", "abc"},
        {"empty text", "", "a", "b", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(stringByReplacing(c.text, c.target, c.replacement), c.expected);
    }
}

TEST(JXNSStringExtensionsTest, LineBreaksCaseAndTheConstantAnswer)
{
    EXPECT_TRUE(containsCR(QStringLiteral("x\n")));
    EXPECT_TRUE(containsCR(QStringLiteral("\rx")));
    EXPECT_FALSE(containsCR(QString()));
    EXPECT_FALSE(containsCR(QStringLiteral("x\ty")));

    EXPECT_TRUE(isEqualToStringIgnoreCase(QStringLiteral("Straße"), QStringLiteral("STRAßE")));
    EXPECT_FALSE(isEqualToStringIgnoreCase(QStringLiteral("a"), QStringLiteral("ab")));

    EXPECT_FALSE(alwaysSame(QStringLiteral("a"), QStringLiteral("a")));
}

} // namespace
