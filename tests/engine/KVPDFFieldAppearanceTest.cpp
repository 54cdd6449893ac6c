// The field appearance pipeline's content transforms and its reading of a rendering: font
// renames by whole name token, colours by what they paint, line ends kept, resources kept
// when the content names them.
#include "KVPDFFieldAppearance.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

using namespace kvpdf::fieldappearance;

TEST(KVPDFFieldAppearanceTest, FirstFontOperandIsTheNameBeforeTheFirstTf)
{
    struct Case {
        const char *name;
        QByteArray content;
        QByteArray expected;
    };
    const Case cases[] = {
        {"the plain case", "BT /F3 12 Tf (a) Tj ET", "/F3"},
        {"names of earlier operators are not operands of Tf", "/GSa gs /CSp cs BT /F7 9 Tf ET", "/F7"},
        {"only the first Tf counts", "BT /F2 1 Tf /F1 1 Tf ET", "/F2"},
        {"a Tf inside a string is no operator", "BT (/F9 1 Tf) Tj /F4 1 Tf ET", "/F4"},
        {"a Tf in a comment is no operator", "% /F9 1 Tf\nBT /F5 1 Tf ET", "/F5"},
        {"a Tf without a name operand", "BT 12 Tf ET", ""},
        {"no Tf at all", "0 0 10 10 re f", ""},
        {"Tf glued to a longer operator is another operator", "BT /F1 1 Tfx ET", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(firstFontOperand(c.content), c.expected);
    }
}

TEST(KVPDFFieldAppearanceTest, RenamesReplaceWholeNameTokensOutsideStrings)
{
    struct Case {
        const char *name;
        QByteArray content;
        QByteArray expected;
    };
    const Case cases[] = {
        {"every use, line ends kept", "BT\r\n/F1 12 Tf\n(a) Tj\r/F1 9 Tf\nET", "BT\r\n/Helv 12 Tf\n(a) Tj\r/Helv 9 Tf\nET"},
        {"a longer name is another name", "/F1 1 Tf /F10 1 Tf /F1a 1 Tf", "/Helv 1 Tf /F10 1 Tf /F1a 1 Tf"},
        {"a name glued to a delimiter", "[/F1]/F1<</F1 1>>", "[/Helv]/Helv<</Helv 1>>"},
        {"strings, nested and escaped, are left", "(/F1 \\) (/F1) /F1) Tj /F1", "(/F1 \\) (/F1) /F1) Tj /Helv"},
        {"a hex string is left, a dictionary is not", "</F1> <</F1 2>>", "</F1> <</Helv 2>>"},
        {"a comment is left and what follows its line is not", "% /F1 here\n/F1", "% /F1 here\n/Helv"},
        {"inline image data is left", "BI /W 1 ID /F1 x\nEI /F1", "BI /W 1 ID /F1 x\nEI /Helv"},
        {"an escaped spelling is the same name", "/F#31 1 Tf", "/Helv 1 Tf"},
        {"a string cut by the end of the data", "(/F1 /F1", "(/F1 /F1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(renameName(c.content, "/F1", "/Helv"), c.expected);
    }
}

TEST(KVPDFFieldAppearanceTest, ColoursAreSetByWhatTheyPaint)
{
    const Colors colors{KVColor::rgb(0, 0, 1), KVColor::gray(1), KVColor::rgb(1, 0, 0)};
    const QByteArray text = "0.000000 0.000000 1.000000 rg";
    const QByteArray background = "1.000000 1.000000 1.000000 rg";
    const QByteArray border = "1.000000 0.000000 0.000000 RG";
    struct Case {
        const char *name;
        QByteArray content;
        QByteArray expected;
    };
    const Case cases[] = {
        {"the writer's shape: background fill, stroke, colour set before BT",
         "/CSp cs 0.9 0.9 1 scn\n0 0 9 9 re\nf\n0 1 0 SCN\n0 0 9 9 re S\nq\n/CSp cs 0.2 0.2 0.7 scn\nBT\n/F7 12 Tf (a) Tj\nET\nQ",
         "/CSp cs " + background + "\n0 0 9 9 re\nf\n" + border + "\n0 0 9 9 re S\nq\n/CSp cs " + text
             + "\nBT\n/F7 12 Tf (a) Tj\nET\nQ"},
        {"a fill inside BT is the text's, used or not", "BT 0.5 g /F1 1 Tf ET 1 0 0 rg 0 0 1 1 re f",
         "BT " + text + " /F1 1 Tf ET " + background + " 0 0 1 1 re f"},
        {"the first use decides: text then an underline fill", "0 0 1 rg BT (a) Tj ET 0 0 5 1 re f",
         text + " BT (a) Tj ET 0 0 5 1 re f"},
        {"Q restores the colour set before q", "0.1 g q 0.2 g 0 0 1 1 re f Q BT (a) Tj ET",
         text + " q " + background + " 0 0 1 1 re f Q BT (a) Tj ET"},
        {"a colour never used is background", "0 0 0 1 k", background},
        {"gray, cmyk and sc operators alike", "0.5 G 0 0 0 1 K 1 0 0 SC 0 0 0 1 k 0 0 1 re f",
         border + ' ' + border + ' ' + border + ' ' + background + " 0 0 1 re f"},
        {"a pattern colour is left alone", "/PCSp cs 1 0 0 /P1 scn 0 0 1 1 re f /P2 SCN",
         "/PCSp cs 1 0 0 /P1 scn 0 0 1 1 re f /P2 SCN"},
        {"comments and line ends between operands stay outside the span", "% 1 g\n0\r\n0 1 rg\rBT (x) Tj ET",
         "% 1 g\n" + text + "\rBT (x) Tj ET"},
        {"operators inside strings are text", "BT (0 0 1 rg 1 G) Tj ET", "BT (0 0 1 rg 1 G) Tj ET"},
        {"an operator without operands is left", "rg RG", "rg RG"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(recolor(c.content, colors), c.expected);
    }
}

TEST(KVPDFFieldAppearanceTest, AbsentColoursLeaveTheRenderingsOwn)
{
    const QByteArray content = "1 1 0 rg 0 0 1 1 re f 0 1 0 RG BT 0 0 1 rg (a) Tj ET";
    EXPECT_EQ(recolor(content, Colors{}), content);
    EXPECT_EQ(recolor(content, Colors{KVColor::gray(0), std::nullopt, std::nullopt}),
              "1 1 0 rg 0 0 1 1 re f 0 1 0 RG BT 0.000000 0.000000 0.000000 rg (a) Tj ET");
}

namespace {
// A one-page rendering whose page has `content` and resources of every category, some named
// by the content and some not.
std::shared_ptr<KVPDFDocument> rendering(const QByteArray &content)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 120 20] /Contents 4 0 R /Resources 5 0 R");
    b.add(4, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    b.add(5, "<< /Font << /F1 6 0 R /F10 7 0 R /F2 7 0 R >> /ExtGState << /GSa << /CA 1 >> /GSb << /CA 0.5 >> >>"
             " /ColorSpace << /CSp /DeviceRGB /PCSp [/Pattern /DeviceRGB] >> /XObject << /Im1 8 0 R >>"
             " /Pattern << /P1 9 0 R >> >>");
    b.add(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Widths 10 0 R >>");
    b.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    b.add(8, "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray /Length 1 >>"
             "\nstream\n\x80\nendstream");
    b.add(9, "<< /PatternType 2 /Shading << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 1 0] /Function 11 0 R >> >>");
    b.add(10, "[500 600]");
    b.add(11, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 1 1] /N 1 >>");
    KVPDFOpenResult result;
    auto document = KVPDFDocument::documentWithData(b.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

std::vector<QByteArray> keysOf(const std::shared_ptr<KVPDFObjectDictionary> &resources, const char *category)
{
    auto entries = resources ? kv_cast<KVPDFObjectDictionary>(resources->objectForKey(category)) : nullptr;
    return entries ? entries->keys() : std::vector<QByteArray>();
}
}

TEST(KVPDFFieldAppearanceTest, ARenderingKeepsWhatItsContentNamesUnderTheFieldFontName)
{
    const QByteArray content = "/GSa gs /CSp cs\r\nq /PCSp cs /P1 scn 0 0 1 1 re f Q\r\n"
                               "BT /F1 12 Tf (a) Tj /F10 9 Tf (b) Tj ET % /F2 is named only here\r\n/Im1 Do";
    auto document = rendering(content);
    ASSERT_TRUE(document);
    std::optional<Rendering> read = fromRendering(*document, "Helv");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->mediaBox, QRectF(0, 0, 120, 20));
    EXPECT_EQ(read->fontName, "Helv");
    EXPECT_TRUE(read->content.startsWith("/GSa gs /CSp cs\r\nq /PCSp cs /P1 scn 0 0 1 1 re f Q\r\n"
                                         "BT /Helv 12 Tf (a) Tj /F10 9 Tf (b) Tj ET % /F2 is named only here\r\n/Im1 Do"));

    // F2 is named in a comment only.
    EXPECT_EQ(keysOf(read->resources, "Font"), (std::vector<QByteArray>{"Helv", "F10"}));
    EXPECT_EQ(keysOf(read->resources, "ExtGState"), (std::vector<QByteArray>{"GSa"}));
    EXPECT_EQ(keysOf(read->resources, "ColorSpace"), (std::vector<QByteArray>{"CSp", "PCSp"}));
    EXPECT_EQ(keysOf(read->resources, "XObject"), (std::vector<QByteArray>{"Im1"}));
    EXPECT_EQ(keysOf(read->resources, "Pattern"), (std::vector<QByteArray>{"P1"}));

    // The field font is a copy, reached through a reference of its own, and so is what it reaches.
    auto fontReference = kv_cast<KVPDFObjectReference>(read->fontReference);
    ASSERT_TRUE(fontReference);
    auto font = kv_cast<KVPDFObjectDictionary>(fontReference->resolvedObject());
    ASSERT_TRUE(font);
    EXPECT_EQ(font->nameForKey("BaseFont"), "Helvetica");
    EXPECT_EQ(font->objectNumber(), 0u);
    EXPECT_NE(font.get(), document->objectWithNumber(6).get());
    // Fonts 6 and 7, the widths, the image, the pattern and its function.
    EXPECT_EQ(read->subobjects.size(), 6u);
}

TEST(KVPDFFieldAppearanceTest, ATakenResourceNameKeepsTheRenderingsOwn)
{
    auto document = rendering("BT /F1 12 Tf (a) Tj ET /Helv gs");
    ASSERT_TRUE(document);
    std::optional<Rendering> read = fromRendering(*document, "Helv");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->fontName, "F1");
    EXPECT_TRUE(read->content.startsWith("BT /F1 12 Tf (a) Tj ET /Helv gs"));
    EXPECT_EQ(keysOf(read->resources, "Font"), (std::vector<QByteArray>{"F1"}));
    EXPECT_TRUE(read->fontReference);
}

TEST(KVPDFFieldAppearanceTest, RenderingsWithoutAPageOrAFontReadAsTheyCan)
{
    auto document = rendering("0 0 1 1 re f");
    ASSERT_TRUE(document);
    std::optional<Rendering> read = fromRendering(*document, "Helv");
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->fontName.isEmpty());
    EXPECT_FALSE(read->fontReference);
    EXPECT_FALSE(read->resources->objectForKey("Font"));

    KVPDFOpenResult result;
    auto pageless = KVPDFDocument::documentWithData(PdfBuilder::withPages(0).build(), &result);
    ASSERT_TRUE(pageless);
    EXPECT_FALSE(fromRendering(*pageless, "Helv").has_value());
}
