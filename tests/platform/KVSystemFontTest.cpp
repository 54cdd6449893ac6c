// System fonts: PDF and PostScript names reach the right installed face, and measurements equal
// the published metrics of the URW metric twins (fonts-urw-base35, installed by install-deps).
#include "KVSystemFont.h"

#include <QFile>
#include <QHash>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// Fontconfig keeps what it parsed of its configuration for the life of the process and loses a
// little of it while parsing; the leak checker would blame every test that opens a font. One
// definition per test binary.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

const QString kAfmDir = QStringLiteral("/usr/share/fonts/type1/urw-base35/");

// Widths of the AFM's encoded glyphs by code. For printable ASCII other than the two quotes the
// code is the character itself.
QHash<int, int> afmWidthsByCode(const QString &afm)
{
    QHash<int, int> widths;
    QFile file(kAfmDir + afm);
    if (!file.open(QIODevice::ReadOnly))
        return widths;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.startsWith("C "))
            continue;
        int code = -1;
        int width = -1;
        for (const QByteArray &part : line.split(';')) {
            const QList<QByteArray> words = part.simplified().split(' ');
            if (words.size() >= 2 && words[0] == "C")
                code = words[1].toInt();
            if (words.size() >= 2 && words[0] == "WX")
                width = words[1].toInt();
        }
        if (code >= 0 && width >= 0)
            widths.insert(code, width);
    }
    return widths;
}

TEST(KVSystemFontTest, NamesReachTheFaceTheyMean)
{
    struct Case {
        const char *name;
        const char *postScriptName; // nullptr: any face will do
    } cases[] = {
        {"Times-Bold", "NimbusRoman-Bold"},
        {"Times-Roman", "NimbusRoman-Regular"},
        {"Times-BoldItalic", "NimbusRoman-BoldItalic"},
        {"Times New Roman", "NimbusRoman-Regular"},
        {"TimesNewRomanPS-BoldMT", "NimbusRoman-Bold"},
        {"TimesNewRoman,Italic", "NimbusRoman-Italic"},
        {"Arial,BoldItalic", "NimbusSans-BoldItalic"},
        {"ArialMT", "NimbusSans-Regular"},
        {"ABCDEF+Arial-BoldMT", "NimbusSans-Bold"},
        {"Helvetica", "NimbusSans-Regular"},
        {"Helvetica-Oblique", "NimbusSans-Italic"},
        {"Helvetica Bold", "NimbusSans-Bold"},
        {"Courier", "NimbusMonoPS-Regular"},
        {"CourierNewPS-BoldItalicMT", "NimbusMonoPS-BoldItalic"},
        {"NimbusMonoPS-Bold", "NimbusMonoPS-Bold"},
        {"Zapf Dingbats", "D050000L"},
        {"ZapfDingbats", "D050000L"},
        {"Symbol", "StandardSymbolsPS"},
        {"Qwzxv-Bold", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        auto font = KVSystemFont::fontWithName(QString::fromUtf8(c.name), 10);
        ASSERT_TRUE(font);
        EXPECT_TRUE(font->hasFace()) << c.name;
        EXPECT_FALSE(font->filePath().isEmpty()) << c.name;
        if (c.postScriptName) {
            EXPECT_EQ(font->postScriptName().toStdString(), c.postScriptName) << c.name;
        }
        EXPECT_GT(font->advance("x"), 0) << c.name;
    }
}

TEST(KVSystemFontTest, FullNamesOfStandardAndOtherFaces)
{
    struct Case {
        const char *name;
        const char *fullName;
    } cases[] = {
        {"Helvetica-Bold", "Helvetica Bold"},
        {"Helvetica", "Helvetica"},
        {"Times-Roman", "Times Roman"},
        {"ZapfDingbats", "Zapf Dingbats"},
        {"NimbusSans-Bold", "Nimbus Sans Bold"},
        {"NimbusSans-Regular", "Nimbus Sans"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KVSystemFont::fontWithName(c.name, 12)->fullName().toStdString(), c.fullName) << c.name;
}

TEST(KVSystemFontTest, AdvancesEqualTheStandardMetrics)
{
    EXPECT_NEAR(KVSystemFont::fontWithName("Helvetica", 10)->advance("A"), 6.67, 1e-9);
    EXPECT_DOUBLE_EQ(KVSystemFont::fontWithName("Helvetica", 10)->advance(""), 0);

    struct Case {
        const char *name;
        const char *afm;
    } cases[] = {
        {"Helvetica", "NimbusSans-Regular.afm"},
        {"Helvetica-Bold", "NimbusSans-Bold.afm"},
        {"Arial,Italic", "NimbusSans-Italic.afm"},
        {"Times-Roman", "NimbusRoman-Regular.afm"},
        {"Times-Bold", "NimbusRoman-Bold.afm"},
        {"Times-Italic", "NimbusRoman-Italic.afm"},
        {"Times-BoldItalic", "NimbusRoman-BoldItalic.afm"},
        {"Courier", "NimbusMonoPS-Regular.afm"},
        {"Courier-BoldOblique", "NimbusMonoPS-BoldItalic.afm"},
    };
    const QString text = QStringLiteral("Hamburgefonstiv 0123, WAVE! {x}");
    for (const Case &c : cases) {
        const QHash<int, int> widths = afmWidthsByCode(c.afm);
        ASSERT_FALSE(widths.isEmpty()) << c.afm;
        int units = 0;
        for (QChar ch : text)
            units += widths.value(ch.unicode());
        const double size = 13.5;
        EXPECT_NEAR(KVSystemFont::fontWithName(c.name, size)->advance(text), units * size / 1000, 1e-9) << c.name;
    }
}

TEST(KVSystemFontTest, AscentAboveAndDescentBelowTheBaseline)
{
    for (const char *name : {"Helvetica", "Times-Bold", "Courier", "Symbol", "ZapfDingbats", "Qwzxv"}) {
        auto font = KVSystemFont::fontWithName(name, 10);
        EXPECT_GT(font->ascent(), 0) << name;
        EXPECT_LT(font->descent(), 0) << name;
        EXPECT_LT(font->ascent(), 20) << name;
        EXPECT_GT(font->descent(), -10) << name;
    }
}

TEST(KVSystemFontTest, ManyThreadsMeasureAtOnce)
{
    const char *names[] = {"Helvetica", "Times-Bold", "Courier-Oblique", "Arial,BoldItalic", "ZapfDingbats", "Qwzxv"};
    const QString text = QStringLiteral("The quick brown fox, \u00E9t\u00E9 \u20AC 12");
    std::vector<double> expected;
    for (const char *name : names)
        expected.push_back(KVSystemFont::fontWithName(name, 11)->advance(text));

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                size_t i = size_t(t + round) % std::size(names);
                // A fresh name each round too, so lookups race with measuring.
                auto fresh = KVSystemFont::fontWithName(QStringLiteral("Unknown%1-Bold").arg(t * 100 + round), 9);
                if (fresh->advance(text) <= 0 || fresh->descent() >= 0)
                    ++mismatches;
                auto font = KVSystemFont::fontWithName(names[i], 11);
                if (font->advance(text) != expected[i] || font->ascent() <= 0)
                    ++mismatches;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
