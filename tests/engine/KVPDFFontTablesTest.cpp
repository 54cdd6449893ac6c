// The generated font tables and their lookups: the committed tables are what the generator makes
// today, and the values that text decoding and width measuring depend on hold.
#include "KVPDFFontTables.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const QString kSourceRoot = QStringLiteral(FOLIVO_TEST_DATA "/../..");

long row(const char *name) { return kvpdf::glyphNameRow(name, std::strlen(name)); }

std::u16string unicodeOf(const char *name)
{
    char16_t out[2] = {0xFFFF, 0xFFFF};
    int count = kvpdf::glyphNameUnicode(name, std::strlen(name), out);
    return std::u16string(out, out + count);
}

std::string str(const char *text) { return text ? text : "(null)"; }

TEST(KVPDFFontTablesTest, CommittedTablesEqualAFreshGeneration)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fresh = dir.filePath("KVPDFFontTables.cpp");
    QProcess python;
    python.start("/usr/bin/python3", {kSourceRoot + "/scripts/generate-font-tables.py", fresh});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();

    QFile committedFile(kSourceRoot + "/engine/font/KVPDFFontTables.cpp");
    QFile freshFile(fresh);
    ASSERT_TRUE(committedFile.open(QIODevice::ReadOnly));
    ASSERT_TRUE(freshFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(committedFile.readAll() == freshFile.readAll())
        << "engine/font/KVPDFFontTables.cpp is stale: run /usr/bin/python3 scripts/generate-font-tables.py";
}

TEST(KVPDFFontTablesTest, EncodingsGiveTheirUnits)
{
    struct Case {
        const char *table;
        const char16_t *units;
        int code;
        char16_t expected;
    } cases[] = {
        {"Standard", KVPDFFontStdToUnicode, 0x27, u'\u2019'},
        {"Standard", KVPDFFontStdToUnicode, 0x60, u'\u2018'},
        {"Standard", KVPDFFontStdToUnicode, 0x41, u'A'},
        {"Standard", KVPDFFontStdToUnicode, 0x0A, 0},
        {"Standard", KVPDFFontStdToUnicode, 0x7F, 0},
        {"Standard", KVPDFFontStdToUnicode, 0x80, 0},
        {"Standard", KVPDFFontStdToUnicode, 0xAE, u'\uFB01'},
        {"Standard", KVPDFFontStdToUnicode, 0xE1, u'\u00C6'},
        {"Mac", KVPDFFontMacToUnicode, 0x0A, 0x0A},
        {"Mac", KVPDFFontMacToUnicode, 0x80, u'\u00C4'},
        {"Mac", KVPDFFontMacToUnicode, 0xDB, u'\u20AC'},
        {"Mac", KVPDFFontMacToUnicode, 0xF0, u'\uF8FF'},
        {"Win", KVPDFFontWinToUnicode, 0x09, 0x09},
        {"Win", KVPDFFontWinToUnicode, 0x7F, 0x7F},
        {"Win", KVPDFFontWinToUnicode, 0x80, u'\u20AC'},
        {"Win", KVPDFFontWinToUnicode, 0x81, 0},
        {"Win", KVPDFFontWinToUnicode, 0x8D, 0},
        {"Win", KVPDFFontWinToUnicode, 0x8F, 0},
        {"Win", KVPDFFontWinToUnicode, 0x90, 0},
        {"Win", KVPDFFontWinToUnicode, 0x9D, 0},
        {"Win", KVPDFFontWinToUnicode, 0x92, u'\u2019'},
        {"Win", KVPDFFontWinToUnicode, 0xE9, u'\u00E9'},
    };
    for (const Case &c : cases)
        EXPECT_EQ(int(c.units[c.code]), int(c.expected)) << c.table << " code " << c.code;
}

TEST(KVPDFFontTablesTest, GlyphRowsCarryTheirUnits)
{
    struct Case {
        const char *name;
        char16_t expected;
    } cases[] = {
        {"space", u' '},
        {"quoteright", u'\u2019'},
        {"quoteleft", u'\u2018'},
        {"quotesingle", u'\''},
        {"grave", u'`'},
        {"hyphen", u'-'},
        {"minus", u'\u2212'},
        {"macron", u'\u00AF'},
        {"mu", u'\u00B5'},
        {"periodcentered", u'\u00B7'},
        {"fraction", u'\u2044'},
        {"bullet", u'\u2022'},
        {"Euro", u'\u20AC'},
        {"afii00208", u'\u2015'},
        {"afii61664", u'\u200C'},
        {"Delta", u'\u2206'},
        {"Omega", u'\u2126'},
        {"Scedilla", u'\u015E'},
        {"tcommaaccent", u'\u0163'},
        {"fi", u'\uFB01'},
        {"fl", u'\uFB02'},
        {"ff", u'\uFB00'},
        {"dollaroldstyle", u'\uF724'},
        {"Asmall", u'\uF761'},
        {"Acute", u'\uF6C9'},
        {"dotlessj", u'\uF6BE'},
        {"copyrightsans", u'\uF8E9'},
        {"Semibold", 0},
        {".null", 0},
        {"nonbreakingspace", u'\u00A0'},
        {"apple", u'\uF8FF'},
    };
    for (const Case &c : cases) {
        long r = row(c.name);
        ASSERT_GE(r, 0) << c.name;
        EXPECT_EQ(int(KVPDFFontPSGlyphUnicode[r]), int(c.expected)) << c.name;
    }
    // Row 1 is the fallback unit for names the table lacks; the standard strings keep their order.
    EXPECT_EQ(row(".notdef"), 0);
    EXPECT_EQ(row("space"), 1);
    EXPECT_EQ(row("Semibold"), 390);
    EXPECT_EQ(std::string(KVPDFFontPSGlyphNames[KVPDFFontPSGlyphCount - 1]), "apple");
    EXPECT_EQ(row("foo"), -1);
    EXPECT_EQ(row(""), -1);
    EXPECT_EQ(kvpdf::glyphNameRow(nullptr, 0), -1);
    // The length counts, not a terminating zero: "spaceX" cut to five is "space".
    EXPECT_EQ(kvpdf::glyphNameRow("spaceX", 5), 1);
}

TEST(KVPDFFontTablesTest, GlyphNamesOfTheUniAndUFormsGiveTheirCodePoints)
{
    struct Case {
        const char *name;
        std::u16string expected; // empty: unknown
    } cases[] = {
        {"quoteright", u"\u2019"},
        {"uni0041", u"A"},
        {"uni00e9", u"\u00E9"},
        {"uni00410042", u"A"},
        {"uni0041.sc", u"A"},
        {"u0041", u"A"},
        {"u1F600", u"\U0001F600"},
        {"u10FFFF", u"\U0010FFFF"},
        {"u110000", u""},
        {"uniD800", u""},
        {"uDFFF", u""},
        {"uni004", u""},
        {"uni004G", u""},
        {"uni0041004", u""},
        {"uni00410G42", u""},
        {"u00e9", u""},
        {"uface", u""},
        {"u12345678", u""},
        {"foo", u""},
        {"", u""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(unicodeOf(c.name), c.expected) << c.name;
}

TEST(KVPDFFontTablesTest, StandardWidthTablesFollowISOLatin1Order)
{
    struct Case {
        const char *font;
        int code;
        int width; // -1: no table for the name
    } cases[] = {
        {"Helvetica", 0x20, 278},
        {"Helvetica", 0x27, 222},
        {"Helvetica", 0x41, 667},
        {"Helvetica", 0x60, 222},
        {"Helvetica", 0x2D, 584},
        {"Helvetica", 0xAD, 333},
        {"Helvetica", 0xA0, 278},
        {"Helvetica", 0x90, 278},
        {"Helvetica", 0x80, 0},
        {"Helvetica-Oblique", 0x27, 222},
        {"Helvetica-Bold", 0x41, 722},
        {"Helvetica-BoldOblique", 0x41, 722},
        {"Times-Roman", 0x20, 250},
        {"Times-Bold", 0x41, 722},
        {"Times-Italic", 0x41, 611},
        {"Times-BoldItalic", 0x41, 667},
        {"Courier", 0x41, 600},
        {"Courier-Bold", 0x9F, 600},
        {"Courier-Oblique", 0xFF, 600},
        {"Courier-BoldOblique", 0x1F, 0},
        {"Symbol", 0x20, 250},
        {"Symbol", 0x41, 0},
        {"Symbol", 0xB5, 576},
        {"ZapfDingbats", 0x20, 278},
        {"ZapfDingbats", 0xA0, 278},
        {"ZapfDingbats", 0x41, 0},
        {"Arial", 0x20, -1},
        {"helvetica", 0x20, -1},
        {"Zapf Dingbats", 0x20, -1},
    };
    for (const Case &c : cases) {
        const int32_t *table = kvpdf::standardWidthTable(c.font, std::strlen(c.font));
        if (c.width < 0) {
            EXPECT_EQ(table, nullptr) << c.font;
            continue;
        }
        ASSERT_NE(table, nullptr) << c.font;
        EXPECT_EQ(table[c.code], c.width) << c.font << " code " << c.code;
    }
    EXPECT_EQ(kvpdf::standardWidthTable("Helvetica-Oblique", 17), KVPDFFontHelveticaWidths);
}

TEST(KVPDFFontTablesTest, FontNamesNormaliseAndAbbreviate)
{
    struct Case {
        const char *name;
        size_t length;
        const char *expected;
    } normalised[] = {
        {"Arial,Bold", 10, "Helvetica-Bold"},
        {"Arial,Bold", 5, "Helvetica"},
        {"TimesNewRoman,BoldItalic", 24, "Times-BoldItalic"},
        {"TimesNewRomanPS-BoldMT", 22, "Times-Bold"},
        {"Times New Roman", 15, "Times-Roman"},
        {"Helvetica,Italic", 16, "Helvetica-Oblique"},
        {"CourierNewPS-BoldItalicMT", 25, "Courier-BoldOblique"},
        {"ZapfDingbats", 12, "Zapf Dingbats"},
        {"Symbol", 6, "Symbol"},
        {"Verdana", 7, nullptr},
        {"arial", 5, nullptr},
    };
    for (const Case &c : normalised)
        EXPECT_EQ(str(kvpdf::normalizedFontName(c.name, c.length)), str(c.expected)) << c.name;

    struct Pair {
        const char *name;
        const char *abbreviation;
    } pairs[] = {
        {"Times-Roman", "TiRo"}, {"Times-Italic", "TiOb"}, {"Times-BoldItalic", "TiBO"}, {"Helvetica", "Helv"},
        {"Helvetica-BoldOblique", "HeBO"}, {"Courier", "Cour"}, {"Symbol", "Symb"}, {"ZapfDingbats", "ZaDb"},
    };
    for (const Pair &p : pairs) {
        EXPECT_EQ(str(kvpdf::stdAbbreviation(p.name, std::strlen(p.name))), p.abbreviation) << p.name;
        EXPECT_EQ(str(kvpdf::nameForStdAbbreviation(p.abbreviation, std::strlen(p.abbreviation))), p.name)
            << p.abbreviation;
    }
    EXPECT_EQ(kvpdf::stdAbbreviation("Arial", 5), nullptr);
    EXPECT_EQ(kvpdf::stdAbbreviation("Zapf Dingbats", 13), nullptr);
    EXPECT_EQ(kvpdf::nameForStdAbbreviation("Helvetica", 9), nullptr);
    EXPECT_EQ(kvpdf::nameForStdAbbreviation("helv", 4), nullptr);
}

TEST(KVPDFFontTablesTest, FirstLookupsFromManyThreadsAgree)
{
    std::vector<long> rows(8, -2);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); ++i)
        threads.emplace_back([&rows, i] { rows[i] = row("zeta"); });
    for (std::thread &t : threads)
        t.join();
    for (long r : rows) {
        ASSERT_GE(r, 0);
        EXPECT_STREQ(KVPDFFontPSGlyphNames[r], "zeta");
    }
}

} // namespace
