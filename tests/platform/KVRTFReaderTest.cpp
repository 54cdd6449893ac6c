// The rich-text reader: text and first-character attributes from what real writers produce,
// and bad data that must neither crash nor leak tables or skipped groups into the text.
#include "KVRTFReader.h"

#include <gtest/gtest.h>

#include <optional>

namespace {
struct Expected {
    QString text;
    QString fontName;
    double fontSize = 12.0;
    std::optional<KVColor> color;
};

void expectText(const QByteArray &rtf, const Expected &expected)
{
    const std::optional<KVRTFText> read = KVRTFReader::read(rtf);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->plainText, expected.text);
    EXPECT_EQ(read->fontName, expected.fontName);
    EXPECT_DOUBLE_EQ(read->fontSize, expected.fontSize);
    EXPECT_EQ(read->color, expected.color);
}
}

TEST(KVRTFReaderTest, WritersTextAndFirstCharacterAttributes)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        Expected expected;
    };
    const Case cases[] = {
        {"desktop text view: tables, expanded colours, backslash line end",
         "{\\rtf1\\ansi\\ansicpg1252\\cocoartf2639\n"
         "\\cocoatextscaling0\\cocoaplatform0{\\fonttbl\\f0\\fswiss\\fcharset0 Helvetica-Bold;\\f1\\fnil\\fcharset0 "
         "Menlo-Regular;}\n"
         "{\\colortbl;\\red255\\green255\\blue255;\\red0\\green0\\blue255;}\n"
         "{\\*\\expandedcolortbl;;\\csgenericrgb\\c0\\c0\\c100000;}\n"
         "\\pard\\tx566\\pardirnatural\\partightenfactor0\n\n"
         "\\f0\\b\\fs36 \\cf2 Hello \n\\f1\\fs24 \\cf0 World\\\nsecond line}",
         {"Hello World\nsecond line", "Helvetica-Bold", 18.0, KVColor::rgb(0, 0, 1)}},
        {"word processor: font groups, generator, Unicode with fallback, hex escapes",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}{\\f1\\fswiss Arial;}}\n"
         "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1\\pard\\f1\\fs20 Caf\\'e9 \\u8364?5\\'85\\par\n}",
         {QString::fromUtf8("Café €5…\n"), "Arial", 10.0, std::nullopt}},
        {"the default font serves text without \\f",
         "{\\rtf1\\deff1{\\fonttbl{\\f0 Symbol;}{\\f1 Courier}}x}", {"x", "Courier", 12.0, std::nullopt}},
        {"a font number the table lacks names no font", "{\\rtf1{\\fonttbl\\f0 Helvetica;}\\f7 x}", {"x", "", 12.0, std::nullopt}},
        {"destinations without document text are skipped, a field shows its result",
         "{\\rtf1{\\stylesheet{\\s0 Normal;}}{\\info{\\title Title}{\\author A}}{\\*\\unknownword hidden}"
         "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}{\\header head}.}",
         {"link.", "", 12.0, std::nullopt}},
        {"attributes are the first character's, not the last's",
         "{\\rtf1{\\fonttbl\\f0 A;\\f1 B;}{\\colortbl;\\red255\\green0\\blue0;\\red0\\green255\\blue0;}"
         "{\\f1\\fs30\\cf2 a}\\f0\\fs10\\cf1 b}",
         {"ab", "B", 15.0, KVColor::rgb(0, 1, 0)}},
        {"\\plain returns to the defaults", "{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}\\fs40\\cf1\\plain x}",
         {"x", "", 12.0, std::nullopt}},
        {"a group's attributes end with it", "{\\rtf1{\\fs40 }x}", {"x", "", 12.0, std::nullopt}},
        {"symbols and named characters",
         "{\\rtf1 a\\{b\\}c\\\\d\\~e\\tab f\\emdash g\\lquote h\\rquote\\-i\\_j}",
         {QString::fromUtf8("a{b}c\\d\u00a0e\tf\u2014g\u2018h\u2019i\u2011j"), "", 12.0, std::nullopt}},
        {"negative \\u values make a surrogate pair; \\uc0 skips nothing",
         "{\\rtf1\\uc0\\u-10179\\u-8704 x}", {QString::fromUtf8("\U0001F600x"), "", 12.0, std::nullopt}},
        {"\\uc2 skips two fallback characters, a hex escape counting as one",
         "{\\rtf1\\uc2\\u252\\'fcu after}", {QString::fromUtf8("\u00fc after"), "", 12.0, std::nullopt}},
        {"\\bin data is no text even when it holds braces", "{\\rtf1 a\\bin3 }{}b}", {"ab", "", 12.0, std::nullopt}},
        {"raw bytes above 0x7F are Windows-1252", "{\\rtf1 \x80 \xe9}", {QString::fromUtf8("€ é"), "", 12.0, std::nullopt}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectText(c.rtf, c.expected);
    }
}

TEST(KVRTFReaderTest, BadDataEndsCleanly)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        Expected expected;
    };
    const QByteArray deep = "{\\rtf1 " + QByteArray(200000, '{') + "x";
    const Case cases[] = {
        {"cut short inside a group", "{\\rtf1 abc{\\fs40 de", {"abcde", "", 12.0, std::nullopt}},
        {"text after the outermost group is not read", "{\\rtf1 a}b{c}", {"a", "", 12.0, std::nullopt}},
        {"nesting far past the depth limit", deep, {"x", "", 12.0, std::nullopt}},
        {"\\bin longer than the data", "{\\rtf1 a\\bin999999999 bcd}", {"a", "", 12.0, std::nullopt}},
        {"a size parameter far out of range is clamped", "{\\rtf1\\fs99999999999999 x}",
         {"x", "", double(INT32_MAX) / 2.0, std::nullopt}},
        {"a negative or zero size keeps the default", "{\\rtf1\\fs-4 x\\fs0 y}", {"xy", "", 12.0, std::nullopt}},
        {"a colour index past the table is the automatic colour", "{\\rtf1{\\colortbl;\\red9\\green9\\blue9;}\\cf5 x}",
         {"x", "", 12.0, std::nullopt}},
        {"an escape that is not hex", "{\\rtf1 \\'zz}", {"zz", "", 12.0, std::nullopt}},
        {"an escape cut by the end", "{\\rtf1 a\\'e", {"a", "", 12.0, std::nullopt}},
        {"a backslash at the very end", "{\\rtf1 a\\", {"a", "", 12.0, std::nullopt}},
        {"an overlong control word stops at 32 letters",
         "{\\rtf1\\" + QByteArray(40, 'a') + " x}", {"aaaaaaaa x", "", 12.0, std::nullopt}},
        {"a \\uc far out of range skips no more than the group", "{\\rtf1{\\uc999999\\u65 bcd}e}",
         {"Ae", "", 12.0, std::nullopt}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectText(c.rtf, c.expected);
    }
}

TEST(KVRTFReaderTest, DataThatIsNotRtfReadsAsNothing)
{
    for (const QByteArray &data : {QByteArray(), QByteArray("plain text"), QByteArray("{\\rt"), QByteArray(" {\\rtf1 x}")}) {
        SCOPED_TRACE(data.constData());
        EXPECT_FALSE(KVRTFReader::read(data).has_value());
    }
}
