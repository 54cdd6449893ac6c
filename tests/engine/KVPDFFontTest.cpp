// Fonts read from small documents made here: what each code's text and width come out as, for
// the encodings, width forms and maps that trip readers up, and for font dictionaries that are
// broken on purpose. Also the page's font setup sharing one font between pages.
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFPage.h"
#include "KVSystemFont.h"

#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

QByteArray cmapStream(const QByteArray &body)
{
    const QByteArray text = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n" + body
                            + "\nendcmap CMapName currentdict /CMap defineresource pop end end";
    return "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "\nendstream";
}

// A one-page document whose page has the font `fontText` (object 10) as /F1; objects 11 and up
// are `extra`.
struct FontFixture {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFFont> font;

    explicit FontFixture(const QByteArray &fontText, const std::map<int, QByteArray> &extra = {})
    {
        PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Resources << /Font << /F1 10 0 R >> >>");
        b.add(10, fontText);
        for (const auto &[number, text] : extra)
            b.add(number, text);
        KVPDFOpenResult result = KVPDFOpenOK;
        document = KVPDFDocument::documentWithData(b.build(), &result, {}, KVPDFOpenMode::AsStored);
        if (!document || document->pageCount() != 1)
            return;
        auto page = document->pageAtIndex(0);
        page->setupFontInfo(page->resources());
        auto it = page->pageFonts().find("F1");
        if (it != page->pageFonts().end())
            font = it->second;
    }
};

QString units(std::initializer_list<char16_t> list)
{
    QString out;
    for (char16_t unit : list)
        out.append(QChar(unit));
    return out;
}

struct CodeWidth {
    uint32_t code;
    float width;
};

struct FontCase {
    const char *name;
    QByteArray font;
    std::map<int, QByteArray> extra;
    QByteArray bytes; // shown through stringForData
    QString text;
    std::vector<CodeWidth> widths;
};

const QByteArray kIdentityToUnicode = cmapStream("1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
                                                 "1 beginbfchar <0041> <0058> endbfchar");
const QByteArray kOneByteToUnicode = cmapStream("1 begincodespacerange <00> <FF> endcodespacerange\n"
                                                "1 beginbfchar <41> <005A> endbfchar");

std::vector<FontCase> fontCases()
{
    return {
        {"WinAnsiEuroAndItsHole",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
         {},
         "\x80\x81",
         units({0x20AC, 0x0000}),
         {}},
        {"NoEncodingIsStandardAndHelveticaWidthsComeFromTheTable",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
         {},
         "'A",
         units({0x2019, u'A'}),
         {{0x20, 0.278f}, {0x27, 0.222f}, {0x41, 0.667f}}},
        {"DifferencesGlyphNamesUniFormsAndUnknownNames",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /FirstChar 65 /LastChar 69 /Widths [1 2 3 4 5]"
         " /Encoding << /Differences [65 /bullet /uni0041 /foo /u1F600 /uni00e9] >> >>",
         {},
         "ABCDE",
         units({0x2022, u'A', u' ', 0xD83D, 0xDE00, 0x00E9}),
         {}},
        {"CodesOutsideFirstCharTakeTheFirstWidth",
         "<< /Type /Font /Subtype /TrueType /BaseFont /Foo /FirstChar 32 /LastChar 34 /Widths [250 333 408] >>",
         {},
         "!",
         QStringLiteral("!"),
         {{33, 0.333f}, {34, 0.408f}, {200, 0.25f}, {10, 0.25f}}},
        {"CompositeWidthsFromWByCIDWithTheDefaultBeyond",
         "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [11 0 R] >>",
         {{11, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /W [1 [500 600] 10 20 700] >>"}},
         QByteArray("\x00\x41", 2),
         QStringLiteral("A"),
         {{1, 0.5f}, {2, 0.6f}, {15, 0.7f}, {30, 1.0f}}},
        {"IdentityDropsATrailingOddByte",
         "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [11 0 R]"
         " /ToUnicode 12 0 R >>",
         {{11, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /DW 500 >>"}, {12, kIdentityToUnicode}},
         QByteArray("\x00\x41\x00\x41\x00", 5),
         QStringLiteral("XX"),
         {{0x41, 0.5f}}},
        {"Type3WidthsGoThroughTheFontMatrix",
         "<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0 0.001 0 0] /FirstChar 65 /LastChar 66"
         " /Widths [500 250] /Encoding << /Differences [65 /a /b] >> /CharProcs << >> /FontBBox [0 0 1000 1000] >>",
         {},
         "AB",
         QStringLiteral("ab"),
         {{65, 0.5f}, {66, 0.25f}}},
        {"Type3MatrixOfTheWrongSizeIsTheIdentity",
         "<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0] /FirstChar 65 /LastChar 65 /Widths [500]"
         " /CharProcs << >> /FontBBox [0 0 1000 1000] >>",
         {},
         "A",
         QStringLiteral("A"),
         {{65, 500.0f}}},
        {"OneByteToUnicodeLeavesOtherCodesAsThemselves",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding /ToUnicode 12 0 R >>",
         {{12, kOneByteToUnicode}},
         "AB\x80",
         units({u'Z', u'B', 0x0080}),
         {}},
        {"EmbeddedEncodingCMapSplitsCodesAndMapsCIDs",
         "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding 13 0 R /DescendantFonts [11 0 R]"
         " /ToUnicode 12 0 R >>",
         {{11, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Foo /W [1 [100 200 300]] >>"},
          {12, kOneByteToUnicode},
          {13, cmapStream("1 begincodespacerange <00> <FF> endcodespacerange\n1 begincidrange <41> <43> 1 endcidrange")}},
         "AB",
         QStringLiteral("ZB"),
         {{0x41, 0.1f}, {0x42, 0.2f}, {0x43, 0.3f}, {0x44, 1.0f}}},
        {"AbsurdFirstAndLastCharAndWidthsOfNonNumbers",
         "<< /Type /Font /Subtype /TrueType /BaseFont /Foo /FirstChar 0 /LastChar 4000000000"
         " /Widths [/x (y) 600 [1]] >>",
         {},
         "A",
         QStringLiteral("A"),
         {{0, 0.0f}, {1, 0.0f}, {2, 0.6f}, {3, 0.0f}}},
        {"WWithJunkKeepsTheEntriesItCanRead",
         "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [11 0 R] >>",
         {{11, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /DW 900"
               " /W [/a 1 [500 /b 700] (s) 5 3 100 10 12 800 99] >>"}},
         "",
         QString(),
         {{1, 0.5f}, {2, 0.9f}, {3, 0.7f}, {5, 0.9f}, {11, 0.8f}}},
        {"WidthsThatReferToThemselvesReadAsAbsent",
         "<< /Type /Font /Subtype /TrueType /BaseFont /Helvetica /FirstChar 65 /LastChar 65 /Widths 11 0 R"
         " /DescendantFonts [10 0 R] /FontDescriptor 10 0 R >>",
         {{11, "11 0 R"}},
         "A",
         QStringLiteral("A"),
         {}},
    };
}

TEST(KVPDFFontTest, CodesGiveTheirTextAndWidths)
{
    for (const FontCase &c : fontCases()) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture quiet;
        FontFixture fixture(c.font, c.extra);
        ASSERT_TRUE(fixture.font);
        EXPECT_EQ(fixture.font->stringForData(c.bytes), c.text);
        for (const CodeWidth &w : c.widths)
            EXPECT_NEAR(fixture.font->glyphWidth(w.code), w.width, 1e-5) << "code " << w.code;
    }
}

TEST(KVPDFFontTest, UnknownGlyphNameIsLoggedOnce)
{
    KVPDFLogCapture capture;
    FontFixture fixture("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Differences [65 /bullet /foo] >> >>");
    ASSERT_TRUE(fixture.font);
    EXPECT_EQ(capture.messages.filter(QStringLiteral("Name: foo not found among font glyph names")).size(), 1);
}

TEST(KVPDFFontTest, LastCharFarAboveFirstCharIsCut)
{
    KVPDFLogCapture quiet;
    FontFixture fixture("<< /Type /Font /Subtype /TrueType /BaseFont /Foo /FirstChar 10 /LastChar 4000000000 /Widths [600] >>");
    ASSERT_TRUE(fixture.font);
    EXPECT_EQ(fixture.font->lastChar() - fixture.font->firstChar() + 1, KVPDFFont::kMaxWidths);
    EXPECT_LE(fixture.font->widths().size(), size_t(KVPDFFont::kMaxWidths));
}

// Shift-JIS bytes through the predefined 90ms-RKSJ-H map and Adobe-Japan1-UCS2: one- and
// two-byte codes in one string.
TEST(KVPDFFontTest, NamedCMapReadsMixedLengthCodesAndUnicodeByCID)
{
    FontFixture fixture("<< /Type /Font /Subtype /Type0 /BaseFont /MS-Mincho /Encoding /90ms-RKSJ-H /DescendantFonts [11 0 R] >>",
                        {{11, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /MS-Mincho"
                              " /CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >>"
                              " /W [264 [500] 633 [1000]] >>"}});
    ASSERT_TRUE(fixture.font);
    const QByteArray bytes = QByteArray::fromHex("4193fa967b8cea836583588367");
    EXPECT_EQ(fixture.font->stringForData(bytes), QStringLiteral("A日本語テスト"));
    std::vector<int> lengths;
    qsizetype position = 0;
    uint32_t code = 0;
    int length = 0;
    while (fixture.font->nextCode(bytes, position, code, length))
        lengths.push_back(length);
    EXPECT_EQ(lengths, (std::vector<int>{1, 2, 2, 2, 2, 2, 2}));
    // The map gives ASCII codes the proportional CIDs from 231 on.
    EXPECT_EQ(fixture.font->cidForCode(0x41), 264u);
    EXPECT_FLOAT_EQ(fixture.font->glyphWidth(0x41), 0.5f);
    EXPECT_FLOAT_EQ(fixture.font->glyphWidth(0x93FA), 1.0f); // DW
}

TEST(KVPDFFontTest, FontWithoutWidthsOrKnownNameMeasuresInsteadOfFailing)
{
    KVPDFLogCapture capture;
    FontFixture fixture("<< /Type /Font /Subtype /TrueType /BaseFont /Verdana >>");
    ASSERT_TRUE(fixture.font);
    EXPECT_TRUE(capture.contains(QStringLiteral("no widths and no known name")));
    ASSERT_TRUE(fixture.font->fontForWidths());
    if (fixture.font->fontForWidths()->hasFace()) {
        EXPECT_GT(fixture.font->glyphWidth('W'), fixture.font->glyphWidth('i'));
        EXPECT_GT(fixture.font->ascent(), 0.0f);
        EXPECT_LT(fixture.font->descent(), 0.0f);
    }
    // The lock is free again: another setup on the same thread does not block.
    EXPECT_TRUE(KVPDFPageLock.try_lock());
    KVPDFPageLock.unlock();
}

TEST(KVPDFFontTest, MetricsComeFromTheDescriptorThenTheBoundingBox)
{
    FontFixture withDescriptor("<< /Type /Font /Subtype /Type1 /BaseFont /Foo /FirstChar 65 /LastChar 65 /Widths [500]"
                               " /FontDescriptor 11 0 R >>",
                               {{11, "<< /Type /FontDescriptor /FontName /Foo /Flags 34 /Ascent 700 /Descent -200 >>"}});
    ASSERT_TRUE(withDescriptor.font);
    EXPECT_FLOAT_EQ(withDescriptor.font->ascent(), 0.7f);
    EXPECT_FLOAT_EQ(withDescriptor.font->descent(), -0.2f);
    EXPECT_EQ(withDescriptor.font->descriptorFlags(), 34);
    EXPECT_EQ(withDescriptor.font->fontName(), QStringLiteral("Foo"));
    EXPECT_EQ(withDescriptor.font->description(), QStringLiteral("Foo Type1"));
}

TEST(KVPDFFontTest, NameHelpers)
{
    EXPECT_EQ(KVPDFFont::regularName(QStringLiteral("TiOb")), QStringLiteral("Times-Italic"));
    EXPECT_EQ(KVPDFFont::regularName(QStringLiteral("Helv")), QStringLiteral("Helvetica"));
    EXPECT_EQ(KVPDFFont::regularName(QStringLiteral("Verdana")), QStringLiteral("Verdana"));

    auto bold = KVSystemFont::fontWithName(QStringLiteral("Helvetica-Bold"), 12);
    ASSERT_TRUE(bold);
    EXPECT_EQ(KVPDFFont::abbreviatedNameForFont(*bold)->bytes(), QByteArray("HelveticaBold"));

    auto made = KVPDFFont::fontWithName(QStringLiteral("F7"), QStringLiteral("Times-Roman"));
    EXPECT_EQ(made->nameForKey("Type"), QByteArray("Font"));
    EXPECT_EQ(made->nameForKey("Subtype"), QByteArray("Type1"));
    EXPECT_EQ(made->nameForKey("Name"), QByteArray("F7"));
    EXPECT_EQ(made->nameForKey("BaseFont"), QByteArray("Times-Roman"));
    EXPECT_EQ(made->objectForKey("Encoding"), KVPDFFont::encodingObject());

    auto encoding = KVPDFFont::encodingObject();
    EXPECT_EQ(encoding, KVPDFFont::encodingObject());
    auto differences = kv_cast<KVPDFObjectArray>(encoding->objectForKey("Differences"));
    ASSERT_TRUE(differences);
    QByteArray written;
    for (const auto &element : differences->value()) {
        written += written.isEmpty() ? "" : " ";
        if (auto name = kv_cast<KVPDFObjectName>(element))
            written += "/" + name->bytes();
        else
            written += QByteArray::number(qlonglong(element->longLongValue()));
    }
    EXPECT_TRUE(written.startsWith("24 /breve /caron /circumflex"));
    EXPECT_TRUE(written.contains(" /quotedblright /quotesinglbase /trademark "));
    EXPECT_TRUE(written.contains(" 160 /Euro 164 /currency 166 /brokenbar "));
    EXPECT_TRUE(written.endsWith("/yacute /thorn /ydieresis"));
    written = "[" + written + "]";

    // The shared encoding reads back as the Latin-1 repertoire.
    FontFixture fixture("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Differences " + written + " >> >>");
    ASSERT_TRUE(fixture.font);
    EXPECT_EQ(fixture.font->stringForData("\x80\xA0\xE9\x27\x60"), units({0x2022, 0x20AC, 0x00E9, 0x0027, 0x0060}));
}

TEST(KVPDFFontTest, PagesShareOneFontPerFontDictionary)
{
    PdfBuilder b = PdfBuilder::withPages(3);
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 10 0 R /F2 5 >> >> >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 10 0 R /F9 11 0 R >> >> >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /G 10 0 R >> >> >>");
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(11, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    KVPDFOpenResult result = KVPDFOpenOK;
    auto document = KVPDFDocument::documentWithData(b.build(), &result, {}, KVPDFOpenMode::AsStored);
    ASSERT_TRUE(document);
    ASSERT_EQ(document->pageCount(), 3u);
    KVPDFLogCapture capture;
    for (const auto &page : document->pages())
        page->setupFontInfo(page->resources());
    const auto &first = document->pageAtIndex(0)->pageFonts();
    const auto &second = document->pageAtIndex(1)->pageFonts();
    const auto &third = document->pageAtIndex(2)->pageFonts();
    ASSERT_EQ(first.count("F1"), 1u);
    EXPECT_EQ(first.count("F2"), 0u); // not a font: logged and left out
    EXPECT_TRUE(capture.contains(QStringLiteral("F2")));
    EXPECT_EQ(first.at("F1"), second.at("F1"));
    EXPECT_EQ(first.at("F1"), third.at("G"));
    EXPECT_NE(first.at("F1"), second.at("F9"));
    EXPECT_EQ(document->lookupFont(*first.at("F1")->fontDictionary()), first.at("F1"));

    document->pageAtIndex(0)->resetContent();
    EXPECT_TRUE(document->pageAtIndex(0)->pageFonts().empty());
}

TEST(KVPDFFontTest, FontsOfFormsAreFoundAndResourceCyclesEnd)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Resources 20 0 R");
    b.add(20, "<< /Font << /F1 10 0 R >> /XObject << /Fm0 21 0 R >> >>");
    // The form's resources name the form itself and the page's resources again.
    b.add(21, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /Font << /F1 11 0 R >>"
              " /XObject << /Me 21 0 R /Up 22 0 R >> >> /Length 0 >>\nstream\n\nendstream");
    b.add(22, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources 20 0 R /Length 0 >>\nstream\n\nendstream");
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(11, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    KVPDFOpenResult result = KVPDFOpenOK;
    auto document = KVPDFDocument::documentWithData(b.build(), &result, {}, KVPDFOpenMode::AsStored);
    ASSERT_TRUE(document);
    std::vector<QByteArray> paths;
    for (const auto &use : document->pageAtIndex(0)->fontsInResources()) {
        paths.push_back(use.path);
        EXPECT_TRUE(use.font);
    }
    EXPECT_EQ(paths, (std::vector<QByteArray>{"F1", "Fm0/F1"}));
}

} // namespace
