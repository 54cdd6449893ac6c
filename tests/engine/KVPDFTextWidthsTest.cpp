// Per-character widths of text runs, measured from the show operations' bytes: codes read as
// the font reads them, the builder's gap spaces, characters of one code, and the run's scales.
#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextWidths.h"
#include "support/PdfBuilder.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

QByteArray stream(const QByteArray &data)
{
    return "<< /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// F1: codes 32..126, the space 0.25 em wide, every other code 0.5 em; its ToUnicode map makes
// code 0x7E ("~") the two characters "ff". F2: Identity-H,
// every code 1 em.
std::shared_ptr<KVPDFPage> pageShowing(const QByteArray &shows, std::shared_ptr<KVPDFDocument> &document)
{
    QByteArray widths = "250";
    for (int code = 33; code <= 126; ++code)
        widths += " 500";
    const QByteArray toUnicode = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                                 "1 begincodespacerange <00> <FF> endcodespacerange\n"
                                 "1 beginbfrange <20> <7C> <0020> endbfrange\n"
                                 "1 beginbfchar <7E> <00660066> endbfchar\n"
                                 "endcmap CMapName currentdict /CMap defineresource pop end end";
    PdfBuilder b = PdfBuilder::withPages(
        1, "/MediaBox [0 0 612 792] /Contents 5 0 R /Resources << /Font << /F1 10 0 R /F2 11 0 R >> >>");
    b.add(5, stream("BT /F1 10 Tf 100 700 Td " + shows + " ET"));
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Testing /FirstChar 32 /LastChar 126 /Widths [" + widths
                  + "] /ToUnicode 13 0 R >>");
    b.add(11, "<< /Type /Font /Subtype /Type0 /BaseFont /Wide /Encoding /Identity-H /DescendantFonts [<< /Type /Font"
              " /Subtype /CIDFontType2 /BaseFont /Wide /DW 1000 /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity)"
              " /Supplement 0 >> >>] >>");
    b.add(13, stream(toUnicode));
    KVPDFOpenResult result = KVPDFOpenBroken;
    document = KVPDFDocument::documentWithData(b.build(), &result);
    if (!document)
        return nullptr;
    std::shared_ptr<KVPDFPage> page = document->pageAtIndex(0);
    page->parseContent();
    return page;
}

struct WidthCase {
    const char *name;
    QByteArray shows; // after "BT /F1 10 Tf 100 700 Td"
    QString text;     // of the one run it makes
    std::vector<float> widths;
};

class RunWidths : public testing::TestWithParam<WidthCase> { };

TEST_P(RunWidths, FollowTheDecodedCharacters)
{
    const WidthCase &c = GetParam();
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page = pageShowing(c.shows, document);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->textBlobs().size(), 1u);
    KVPDFTextBlob &run = *page->textBlobs().front();
    ASSERT_EQ(run.string, c.text);
    ASSERT_TRUE(KVPDFTextWidths::measureRun(run));
    ASSERT_EQ(run.widths.size(), size_t(run.string.size()));
    float sum = 0;
    for (size_t k = 0; k < c.widths.size(); ++k) {
        EXPECT_NEAR(run.widths[k], c.widths[k], 1e-4) << "character " << k;
        sum += c.widths[k];
    }
    EXPECT_NEAR(run.width, sum, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunWidths,
    testing::Values(
        WidthCase{"OneByteCodes", "(AB) Tj", "AB", {5, 5}},
        WidthCase{"HexString", "<4142> Tj", "AB", {5, 5}},
        WidthCase{"EscapesAreOneCodeEach", "(\\101\\(B) Tj", "A(B", {5, 5, 5}},
        WidthCase{"NarrowGapGoesToTheNextCode", "[(A) -30 (B)] TJ", "AB", {5, 5.3f}},
        // The builder puts a space into the text for the wide gap; the space is the gap.
        WidthCase{"InsertedSpaceGetsTheGap", "[(A) -500 (B)] TJ", "A B", {5, 5, 5}},
        WidthCase{"NumbersBeforeTheFirstCodeMoveTheRunNotTheCode", "[-1000 (A) -30 (B) -1000] TJ", "AB", {5, 5.3f}},
        WidthCase{"CharAndWordSpacing", "1 Tc 2 Tw (A B) Tj", "A B", {6, 5.5f, 6}},
        WidthCase{"HorizontalScaling", "50 Tz (AB) Tj", "AB", {2.5f, 2.5f}},
        WidthCase{"TextMatrixAndCTMScales", "ET 3 0 0 3 0 0 cm BT /F1 10 Tf 2 0 0 2 0 0 Tm (AB) Tj", "AB", {30, 30}},
        WidthCase{"RotatedTextMatrixScalesByB", "0 2 -2 0 100 100 Tm (AB) Tj", "AB", {10, 10}},
        // A literal string of a two-byte font pairs its bytes as the font does.
        WidthCase{"TwoByteCodesFromALiteral", "/F2 10 Tf (\\000A\\000B) Tj", "AB", {10, 10}},
        WidthCase{"TwoByteCodesSpanTwoStrings", "/F2 10 Tf [<00> <4100> <42>] TJ", "AB", {10, 10}},
        WidthCase{"ExtraCharactersOfOneCodeGetNothing", "(A~B) Tj", "AffB", {5, 5, 0, 5}}),
    [](const testing::TestParamInfo<WidthCase> &info) { return info.param.name; });

TEST(RunWidths, RunsWithoutTextOrFontAreLeftAlone)
{
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page = pageShowing("[-250] TJ /F9 10 Tf (abc) Tj", document);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->textBlobs().size(), 2u);
    for (const auto &run : page->textBlobs()) {
        const float before = run->width;
        EXPECT_FALSE(KVPDFTextWidths::measureRun(*run));
        EXPECT_TRUE(run->widths.empty());
        EXPECT_EQ(run->width, before);
    }
}

TEST(RunWidths, MeasuringNeverGivesMoreWidthsThanCharacters)
{
    // A text shorter than what the operand shows (as a caller may hand in) gets no more widths.
    KVPDFGraphicsState state;
    state.TfontSize = 10;
    EXPECT_TRUE(KVPDFTextWidths::measure("(ABCDEF)", nullptr, state, QStringLiteral("AB")).size() == 2);
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page = pageShowing("(ABCDEF) Tj", document);
    ASSERT_TRUE(page);
    const KVPDFTextBlob &run = *page->textBlobs().front();
    const std::vector<float> widths = KVPDFTextWidths::measure("(ABCDEF)", run.font.get(), run.gstate(), QStringLiteral("AB"));
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_FLOAT_EQ(widths[1], 5);
}

} // namespace
