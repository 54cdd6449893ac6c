// The colour value type: the space a QColor arrives in, clamping, and the QColor it draws with.
#include "KVColor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

// Failures show the colour's space and components rather than its bytes.
static void PrintTo(const KVColor &color, std::ostream *out)
{
    static const char *const spaces[] = {"invalid", "gray", "rgb", "cmyk"};
    *out << spaces[int(color.space())] << '(';
    for (float value : color.components())
        *out << ' ' << value;
    *out << " ) alpha " << color.alpha();
}

TEST(KVColorTest, QColorsKeepCmykAndBecomeRgbOtherwise)
{
    struct Case {
        const char *name;
        QColor from;
        KVColor expected;
    };
    // Fifths: exact in a QColor's 16-bit channels.
    const Case cases[] = {
        {"cmyk stays cmyk", QColor::fromCmykF(0.2f, 0.4f, 0.6f, 0.8f, 0.6f), KVColor::cmyk(0.2f, 0.4f, 0.6f, 0.8f, 0.6f)},
        {"rgb", QColor::fromRgbF(1, 0.4f, 0), KVColor::rgb(1, 0.4f, 0)},
        {"hsv becomes rgb", QColor::fromHsvF(0, 1, 1), KVColor::rgb(1, 0, 0)},
        {"hsl becomes rgb", QColor::fromHslF(2.0f / 3.0f, 1, 0.5f), KVColor::rgb(0, 0, 1)},
        {"alpha is kept", QColor(0, 0, 0, 0), KVColor::rgb(0, 0, 0, 0)},
        {"invalid stays invalid", QColor(), KVColor()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVColor color = c.from;
        EXPECT_EQ(color, c.expected);
        if (color.isValid()) {
            EXPECT_EQ(color.toQColor().spec(), c.from.spec() == QColor::Cmyk ? QColor::Cmyk : QColor::Rgb);
            EXPECT_EQ(color.toQColor().rgba(), c.from.rgba()) << "draws as the QColor it came from";
        }
    }
}

TEST(KVColorTest, SpacesComponentsAndDrawing)
{
    const KVColor gray = KVColor::gray(0.5f, 0.25f);
    EXPECT_EQ(gray.space(), KVColor::Space::Gray);
    EXPECT_EQ(std::vector<float>(gray.components().begin(), gray.components().end()), std::vector<float>{0.5f});
    EXPECT_EQ(gray.alpha(), 0.25f);
    EXPECT_EQ(gray.toQColor(), QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.25f)) << "gray draws as equal parts of RGB";
    EXPECT_NE(gray, KVColor::rgb(0.5f, 0.5f, 0.5f, 0.25f)) << "the same look in another space is another colour";
    EXPECT_NE(gray, KVColor::gray(0.5f));

    EXPECT_EQ(KVColor::cmyk(0, 0, 0, 1).components().size(), 4u);
    EXPECT_EQ(KVColor::rgb(0, 0, 0).components().size(), 3u);
    EXPECT_FALSE(KVColor().isValid());
    EXPECT_TRUE(KVColor().components().empty());
    EXPECT_FALSE(KVColor().toQColor().isValid());
}

TEST(KVColorTest, ComponentsAreClampedIntoTheUnitRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(KVColor::gray(-0.5f), KVColor::gray(0));
    EXPECT_EQ(KVColor::rgb(2, nan, -inf, 7), KVColor::rgb(1, 0, 0, 1));
    EXPECT_EQ(KVColor::cmyk(inf, -1, 0.5f, 1.5f, nan), KVColor::cmyk(1, 0, 0.5f, 1, 0));
}
