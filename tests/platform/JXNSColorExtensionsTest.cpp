#include "JXNSColorExtensions.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <clocale>
#include <cmath>
#include <string>
#include <cstdio>
#include <memory>

namespace {

using namespace JXNSColorExtensions;

// Colour strings are written inside a running application, whose construction puts the user's
// locale into effect for C's printf; CTest reruns this suite with LC_ALL=de_DE.UTF-8.
class JXNSColorExtensionsTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "JXNSColorExtensionsTest";
            static char *argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(JXNSColorExtensionsTest, StringsKeepThePointUnderEveryLocale)
{
    for (const char *locale : {"de_DE.UTF-8", "C", ""}) {
        SCOPED_TRACE(locale);
        ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << "scripts/install-deps makes de_DE.UTF-8";
        if (std::string(locale) == "de_DE.UTF-8") {
            char printed[16];
            std::snprintf(printed, sizeof printed, "%.2f", 0.5);
            EXPECT_STREQ(printed, "0,50") << "the locale is in effect, so the test can see a fault";
        }
        EXPECT_EQ(colorString(QColor::fromRgbF(1, 0.5, 0, 1)), QStringLiteral("1.00, 0.50, 0.00, 1.00"));
        const QColor orange = colorWithString(QStringLiteral("1.00, 0.50, 0.00, 1.00"));
        ASSERT_TRUE(orange.isValid());
        EXPECT_NEAR(orange.greenF(), 0.5, 1e-4);
    }
}

TEST_F(JXNSColorExtensionsTest, ColourStringsRead)
{
    struct Case {
        const char *name;
        const char *text;
        bool valid;
        float r, g, b, a;
    };
    const Case cases[] = {
        {"opaque orange", "1.00, 0.50, 0.00, 1.00", true, 1, 0.5, 0, 1},
        {"three pieces", "1.00, 0.50, 0.00", false},
        {"five pieces", "1, 1, 1, 1, 1", false},
        {"no blank after the commas", "1.00,0.50,0.00,1.00", false},
        {"comma decimals read their whole part", "1,00, 0,50, 0,00, 1,00", true, 1, 0, 0, 1},
        {"a word reads 0", "red, 0.50, 0.00, 1.00", true, 0, 0.5, 0, 1},
        {"an empty piece reads 0", ", 0.50, 0.00, 1.00", true, 0, 0.5, 0, 1},
        {"leading blanks and trailing junk", "  0.25x, 0.50, 0.00, 1.00", true, 0.25, 0.5, 0, 1},
        {"out of range is clamped", "2, -1, 0.5, 1", true, 1, 0, 0.5, 1},
        {"empty text", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QColor color = colorWithString(QString::fromUtf8(c.text));
        ASSERT_EQ(color.isValid(), c.valid);
        if (!c.valid)
            continue;
        EXPECT_NEAR(color.redF(), c.r, 1e-4);
        EXPECT_NEAR(color.greenF(), c.g, 1e-4);
        EXPECT_NEAR(color.blueF(), c.b, 1e-4);
        EXPECT_NEAR(color.alphaF(), c.a, 1e-4);
    }
}

TEST_F(JXNSColorExtensionsTest, OtherSpacesBecomeRGBFirst)
{
    EXPECT_EQ(colorString(KVColor::gray(0.5f)), QStringLiteral("0.50, 0.50, 0.50, 1.00"));
    const QVariantList gray = colorArray(KVColor::gray(0.25f, 0.5f));
    ASSERT_EQ(gray.size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(gray[i].toDouble(), i < 3 ? 0.25 : 0.5, 1e-4);
    EXPECT_EQ(colorString(QColor::fromCmykF(0, 0, 0, 0)), QStringLiteral("1.00, 1.00, 1.00, 1.00"));
    EXPECT_EQ(colorArray(QColor::fromHsvF(0, 1, 1)), (QVariantList{1.0, 0.0, 0.0, 1.0}));
    EXPECT_EQ(colorArray(QColor::fromRgbF(0, 0, 1, 1)).at(0).typeId(), QMetaType::Double);
    EXPECT_EQ(colorString(QColor()), QString());
    EXPECT_EQ(colorArray(QColor()), QVariantList());
}

TEST_F(JXNSColorExtensionsTest, ArraysNeedFourNumbers)
{
    struct Case {
        const char *name;
        QVariantList array;
        bool valid;
    };
    const Case cases[] = {
        {"four reals", {1.0, 0.5, 0.0, 1.0}, true},
        {"integers", {1, 0, 0, 1}, true},
        {"extra items ignored", {1.0, 0.5, 0.0, 1.0, "x"}, true},
        {"three numbers", {1.0, 0.5, 0.0}, false},
        {"empty", {}, false},
        {"a string among them", {1.0, "0.5", 0.0, 1.0}, false},
        {"a boolean among them", {1.0, true, 0.0, 1.0}, false},
        {"a list among them", {1.0, QVariantList{0.5}, 0.0, 1.0}, false},
        {"not a number", {1.0, std::nan(""), 0.0, 1.0}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(colorWithArray(c.array).isValid(), c.valid);
    }
    const QColor back = colorWithArray(colorArray(QColor::fromRgbF(0.2f, 0.4f, 0.6f, 0.8f)));
    EXPECT_EQ(colorString(back), QStringLiteral("0.20, 0.40, 0.60, 0.80"));
}

} // namespace
