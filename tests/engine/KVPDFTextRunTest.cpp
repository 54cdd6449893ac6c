// Text runs as a page's content makes them: what each show decodes to, where each run lies,
// how far a show moves the text matrix, the rewrites kept for text correction, and which stream
// and bytes a run points into. Every case is a small file made here.
#include "KVPDFContentInterpreter.h"
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFLog.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextRunBuilder.h"
#include "support/PdfBuilder.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace {

QByteArray stream(const QByteArray &keys, const QByteArray &data)
{
    return "<< " + keys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Codes 32..126: the space 0.25 em wide (a gap threshold of 62.5), every other code 0.5 em.
QByteArray simpleFont(const QByteArray &extra = {})
{
    QByteArray widths = "250";
    for (int code = 33; code <= 126; ++code)
        widths += " 500";
    return "<< /Type /Font /Subtype /Type1 /BaseFont /Testing /FirstChar 32 /LastChar 126 /Widths [" + widths
           + "] /FontDescriptor 20 0 R " + extra + " >>";
}

QByteArray compositeFont(const QByteArray &encoding)
{
    return "<< /Type /Font /Subtype /Type0 /BaseFont /Wide /Encoding /" + encoding
           + " /DescendantFonts [<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Wide /DW 1000"
             " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor 20 0 R >>] >>";
}

// One page (media box 0 0 612 792 unless `pageKeys` says otherwise) whose resources name
// F1 (one-byte), F2 (Identity-H) and F3 (Identity-V); `more` adds objects from 30 on.
PdfBuilder pageWith(const QByteArray &content, const QByteArray &pageKeys = {},
                    const std::vector<std::pair<int, QByteArray>> &more = {}, const QByteArray &xobjects = {})
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 5 0 R " + pageKeys
                                                + " /Resources << /Font << /F1 10 0 R /F2 11 0 R /F3 12 0 R >> "
                                                + (xobjects.isEmpty() ? QByteArray() : "/XObject << " + xobjects + " >> ")
                                                + ">>");
    b.add(5, stream({}, content));
    b.add(10, simpleFont());
    b.add(11, compositeFont("Identity-H"));
    b.add(12, compositeFont("Identity-V"));
    b.add(20, "<< /Type /FontDescriptor /FontName /Testing /Flags 32 /Ascent 750 /Descent -250 /FontBBox [0 -250 1000 750] >>");
    for (const auto &[number, text] : more)
        b.add(number, text);
    return b;
}

struct Parsed {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
    const std::vector<std::shared_ptr<KVPDFTextBlob>> &runs() const { return page->textBlobs(); }
};

Parsed parse(const PdfBuilder &builder, std::shared_ptr<KVPDFTextRewrites> rewrites = nullptr)
{
    Parsed out;
    KVPDFOpenResult result = KVPDFOpenBroken;
    out.document = KVPDFDocument::documentWithData(builder.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    if (!out.document)
        return out;
    out.page = out.document->pageAtIndex(0);
    out.page->setRewritesDictionary(std::move(rewrites));
    out.page->parseContent();
    return out;
}

QByteArray bytesOf(const KVPDFTextBlob &run)
{
    return run.contentObject->decodedData().mid(qsizetype(run.dataRange.location), qsizetype(run.dataRange.length));
}

// ---- What a show decodes to --------------------------------------------------------------

struct TextCase {
    const char *name;
    QByteArray shows; // after "BT /F1 10 Tf 100 700 Td"
    std::vector<std::optional<QString>> texts; // nullopt: the run has no text (no font)
};

class RunText : public testing::TestWithParam<TextCase> { };

TEST_P(RunText, DecodesAsShown)
{
    const TextCase &c = GetParam();
    Parsed parsed = parse(pageWith("BT /F1 10 Tf 100 700 Td " + c.shows + " ET"));
    ASSERT_TRUE(parsed.page);
    ASSERT_EQ(parsed.runs().size(), c.texts.size());
    for (size_t k = 0; k < c.texts.size(); ++k) {
        const QString &text = parsed.runs()[k]->string;
        if (c.texts[k]) {
            EXPECT_FALSE(text.isNull()) << k;
            EXPECT_EQ(text, *c.texts[k]) << k;
        } else {
            EXPECT_TRUE(text.isNull()) << k << ": " << text.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunText,
    testing::Values(TextCase{"OctalEscapes", "(A\\101\\60) Tj", {QStringLiteral("AA0")}},
                    TextCase{"NamedEscapesAndNesting", "(a\\(b\\)\\\\(c)) Tj", {QStringLiteral("a(b)\\(c)")}},
                    TextCase{"HexWithBlanksAndALoneDigit", "<41 42\n4> Tj", {QStringLiteral("AB@")}},
                    TextCase{"WideGapGetsASpace", "[(Hello) -300 (World)] TJ", {QStringLiteral("Hello World")}},
                    TextCase{"NarrowGapGetsNone", "[(Hello) -50 (World)] TJ", {QStringLiteral("HelloWorld")}},
                    TextCase{"GapsAtTheEndsGetNone", "[-300 (ab) -300] TJ", {QStringLiteral("ab")}},
                    TextCase{"TextWithASpaceGetsNoMore", "[(a b) -300 (c)] TJ", {QStringLiteral("a bc")}},
                    TextCase{"TwoByteGap", "/F2 10 Tf [<0041> -2000 <0042>] TJ", {QStringLiteral("A B")}},
                    TextCase{"EmptyStringsMakeNoRun", "() Tj [] TJ", {}},
                    TextCase{"NumbersOnlyMakeAnEmptyRun", "[-250] TJ [0] TJ", {QStringLiteral("")}},
                    TextCase{"MissingFontGivesNullText", "/F9 10 Tf (abc) Tj", {std::nullopt}},
                    TextCase{"QuoteAndDoubleQuoteShowTheirString", "12 TL (x) ' 1 2 (y) \"", {QStringLiteral("x"), QStringLiteral("y")}}),
    [](const testing::TestParamInfo<TextCase> &info) { return info.param.name; });

// ---- Where runs lie and how far a show moves ---------------------------------------------

struct PlaceCase {
    const char *name;
    QByteArray shows; // after "BT /F1 10 Tf 100 700 Td"
    std::vector<QPointF> locations;
};

class RunPlace : public testing::TestWithParam<PlaceCase> { };

TEST_P(RunPlace, LiesWhereTheMatrixPutsIt)
{
    const PlaceCase &c = GetParam();
    Parsed parsed = parse(pageWith("BT /F1 10 Tf 100 700 Td " + c.shows + " ET"));
    ASSERT_TRUE(parsed.page);
    ASSERT_EQ(parsed.runs().size(), c.locations.size());
    for (size_t k = 0; k < c.locations.size(); ++k) {
        EXPECT_NEAR(parsed.runs()[k]->location.x(), c.locations[k].x(), 1e-4) << k;
        EXPECT_NEAR(parsed.runs()[k]->location.y(), c.locations[k].y(), 1e-4) << k;
    }
}

// F1's codes are 5 units wide at size 10, its space 2.5; F2 and F3 codes 10.
INSTANTIATE_TEST_SUITE_P(
    Cases, RunPlace,
    testing::Values(PlaceCase{"ShowsFollowOneAnother", "(a) Tj (b) Tj (c) Tj", {{100, 700}, {105, 700}, {110, 700}}},
                    PlaceCase{"TJNumbersMove", "[(a) -1000 (b)] TJ (c) Tj [500] TJ (d) Tj",
                              {{100, 700}, {120, 700}, {125, 700}, {120, 700}}},
                    PlaceCase{"LeadingNumberMovesTheStart", "[1000 (a)] TJ (b) Tj", {{90, 700}, {95, 700}}},
                    PlaceCase{"CharacterSpacingPerCode", "2 Tc (ab) Tj (c) Tj", {{100, 700}, {114, 700}}},
                    PlaceCase{"WordSpacingOnOneByteSpace", "3 Tw (a b) Tj (c) Tj", {{100, 700}, {115.5, 700}}},
                    PlaceCase{"NoWordSpacingOnTwoByteCodes", "/F2 10 Tf 3 Tw <00410020> Tj <0042> Tj", {{100, 700}, {120, 700}}},
                    PlaceCase{"HorizontalScaling", "50 Tz (ab) Tj (c) Tj", {{100, 700}, {105, 700}}},
                    PlaceCase{"Tz12", "12 Tz (a) Tj (b) Tj", {{100, 700}, {100.6, 700}}},
                    PlaceCase{"MissingFontMovesBySpacingOnly", "/F9 10 Tf 2 Tc 1 Tw (a b) Tj (c) Tj", {{100, 700}, {107, 700}}},
                    PlaceCase{"VerticalFontMovesDown", "/F3 10 Tf <00410042> Tj <0043> Tj", {{100, 700}, {100, 680}}},
                    PlaceCase{"QuoteMovesToTheNextLine", "14 TL (a) Tj (b) ' 0 0 (c) \"", {{100, 700}, {100, 686}, {100, 672}}},
                    PlaceCase{"RiseAndScaledMatrix", "5 Ts 2 0 0 2 50 50 Tm (a) Tj (b) Tj", {{50, 60}, {60, 60}}},
                    PlaceCase{"SnapsWithinTolerance", "(a) Tj ET BT /F1 10 Tf 200 700.04 Td (b) Tj", {{100, 700}, {200, 700}}},
                    PlaceCase{"KeepsItsOwnYBeyondIt", "(a) Tj ET BT /F1 10 Tf 200 700.06 Td (b) Tj", {{100, 700}, {200, 700.06}}}),
    [](const testing::TestParamInfo<PlaceCase> &info) { return info.param.name; });

TEST(KVPDFTextRunTest, SnappedRunTakesThePreviousYExactly)
{
    Parsed parsed = parse(pageWith("BT /F1 10 Tf 100 700.01 Td (a) Tj ET BT /F1 10 Tf 200 700.05 Td (b) Tj ET"));
    ASSERT_EQ(parsed.runs().size(), 2u);
    EXPECT_EQ(parsed.runs()[1]->location.y(), parsed.runs()[0]->location.y());
}

TEST(KVPDFTextRunTest, AscentAndDescentFollowTheRenderingMatrix)
{
    // Tz scales across only: the ascent stays 0.75 em of size 10.
    Parsed parsed = parse(pageWith("BT /F1 10 Tf 12 Tz (a) Tj /F9 10 Tf 1 0 0 -2 0 0 Tm (b) Tj ET"));
    ASSERT_EQ(parsed.runs().size(), 2u);
    EXPECT_FLOAT_EQ(parsed.runs()[0]->ascent, 7.5f);
    EXPECT_FLOAT_EQ(parsed.runs()[0]->descent, -2.5f);
    // No font: one em each way, however the matrix flips.
    EXPECT_FLOAT_EQ(parsed.runs()[1]->ascent, 20.0f);
    EXPECT_FLOAT_EQ(parsed.runs()[1]->descent, -20.0f);
}

TEST(KVPDFTextRunTest, NumbersOnlyRunIsAsWideAsItsGap)
{
    struct Case {
        QByteArray matrix;
        float width;
    };
    // 250 thousandths of 10 units, in page units: scaled by the text matrix.
    for (const Case &c : {Case{"1 0 0 1 100 700 Tm", 2.5f}, Case{"2 0 0 2 100 700 Tm", 5.0f}}) {
        Parsed parsed = parse(pageWith("BT /F1 10 Tf " + c.matrix + " (a) Tj [-250] TJ (b) Tj ET"));
        ASSERT_EQ(parsed.runs().size(), 3u) << c.matrix.constData();
        const KVPDFTextBlob &spacer = *parsed.runs()[1];
        EXPECT_EQ(spacer.string, QString(QLatin1String(""))) << c.matrix.constData();
        EXPECT_FALSE(spacer.string.isNull());
        EXPECT_FLOAT_EQ(spacer.width, c.width) << c.matrix.constData();
        EXPECT_EQ(bytesOf(spacer), QByteArray("[-250]"));
        // The gap moved the next run by the same width.
        EXPECT_NEAR(parsed.runs()[2]->location.x() - spacer.location.x(), c.width, 1e-4) << c.matrix.constData();
    }
}

// ---- Rewrites for text correction ----------------------------------------------------------

struct RewriteCase {
    const char *name;
    QByteArray shows; // after "BT /F1 10 Tf 100 700 Td"
    QByteArray rewrite;
};

class RunRewrite : public testing::TestWithParam<RewriteCase> { };

TEST_P(RunRewrite, WritesOneOperatorPerCode)
{
    const RewriteCase &c = GetParam();
    auto rewrites = std::make_shared<KVPDFTextRewrites>();
    Parsed parsed = parse(pageWith("BT /F1 10 Tf 100 700 Td " + c.shows + " ET"), rewrites);
    ASSERT_EQ(parsed.runs().size(), 1u);
    ASSERT_EQ(rewrites->size(), 1u);
    EXPECT_EQ(rewrites->at(parsed.runs()[0].get()), c.rewrite);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunRewrite,
    testing::Values(RewriteCase{"OneByte", "(Hi) Tj", "(H) Tj (i) Tj"},
                    RewriteCase{"NumberBeforeACode", "[(A) -20 (B)] TJ", "(A) Tj [-20 (B)] TJ"},
                    RewriteCase{"QuoteWithParentheses", "(a(b)c) '", "T*  (a) Tj (\\() Tj (b) Tj (\\)) Tj (c) Tj"},
                    RewriteCase{"DoubleQuote", "1 2 (x) \"", "T*  (x) Tj"},
                    RewriteCase{"UnprintableAndBackslash", "<01 5C> Tj", "<01> Tj (\\\\) Tj"},
                    RewriteCase{"LineContinuationAndCR", "(a\\\nb\rc\r\nd) Tj", "(a) Tj (b) Tj <0a> Tj (c) Tj <0a> Tj (d) Tj"},
                    RewriteCase{"GapSpaceTakesTheNumber", "[(a) -300 (b)] TJ", "(a) Tj [-300 ( )] TJ (b) Tj"},
                    RewriteCase{"LeadingGapIsNoSpace", "[-300 (a)] TJ", "[-300 (a)] TJ"},
                    RewriteCase{"TrailingNumberKept", "[(a) -20] TJ", "(a) Tj [-20] TJ"},
                    RewriteCase{"TwoByteCodes", "/F2 10 Tf <00410042> Tj", "<0041> Tj <0042> Tj"},
                    RewriteCase{"TwoByteCodeFEFFIsACode", "/F2 10 Tf <FEFF0041> Tj", "<FEFF> Tj <0041> Tj"},
                    RewriteCase{"TwoByteGapSpace", "/F2 10 Tf [<0041> -2000 <0042>] TJ", "<0041> Tj [-2000 <0020>] TJ <0042> Tj"}),
    [](const testing::TestParamInfo<RewriteCase> &info) { return info.param.name; });

TEST(KVPDFTextRunTest, NoRewritesUnlessATableIsSet)
{
    Parsed parsed = parse(pageWith("BT /F1 10 Tf (a) Tj ET"));
    ASSERT_EQ(parsed.runs().size(), 1u);
    EXPECT_EQ(parsed.page->rewritesDictionary(), nullptr);
}

// ---- Streams, forms, crop box, the page's lists ---------------------------------------------

TEST(KVPDFTextRunTest, FormTextUsesTheFormsMatrixFontAndDataAndTheCropCorner)
{
    // The form's own /F1 draws "B" as "Z"; its second show uses the font the page set before
    // the Do, whose name the form's resources also use.
    const QByteArray formData = "BT 5 5 Td (B) Tj ET BT /F1 10 Tf 5 5 Td (B) Tj ET";
    const QByteArray page = "1 0 0 1 100 100 cm BT /F1 10 Tf (A) Tj ET BT /F1 10 Tf /Fm1 Do ET";
    Parsed parsed = parse(pageWith(page, "/CropBox [36 36 612 792]",
                                   {{30, stream("/Type /XObject /Subtype /Form /BBox [0 0 50 50] /Matrix [2 0 0 2 10 20]"
                                                " /Resources << /Font << /F1 31 0 R >> >>",
                                                formData)},
                                    {31, simpleFont("/Encoding << /Differences [66 /Z] >>")}},
                                   "/Fm1 30 0 R"));
    ASSERT_TRUE(parsed.page);
    const auto &runs = parsed.runs();
    ASSERT_EQ(runs.size(), 3u);
    // Page space less the crop corner: (100, 100) - (36, 36).
    EXPECT_NEAR(runs[0]->location.x(), 64, 1e-9);
    EXPECT_NEAR(runs[0]->location.y(), 64, 1e-9);
    // (5, 5) through the form matrix is (20, 30); then the page's cm and the crop corner.
    for (size_t k : {1u, 2u}) {
        EXPECT_NEAR(runs[k]->location.x(), 84, 1e-9) << k;
        EXPECT_NEAR(runs[k]->location.y(), 94, 1e-9) << k;
        EXPECT_EQ(runs[k]->contentObject->objectNumber(), 30u) << k;
        EXPECT_EQ(bytesOf(*runs[k]), QByteArray("(B)")) << k;
    }
    EXPECT_EQ(runs[1]->string, QStringLiteral("B"));
    EXPECT_EQ(runs[2]->string, QStringLiteral("Z"));
    EXPECT_NE(runs[1]->font, runs[2]->font);
    EXPECT_EQ(runs[0]->font, runs[1]->font);
    // The page's own /F1 keeps its name among the page's fonts.
    ASSERT_TRUE(parsed.page->pageFonts().count("F1"));
    EXPECT_EQ(parsed.page->pageFonts().at("F1"), runs[0]->font);
    EXPECT_EQ(runs[0]->contentObject->objectNumber(), 5u);
    EXPECT_EQ(bytesOf(*runs[0]), QByteArray("(A)"));
}

TEST(KVPDFTextRunTest, FormFontFillsOnlyAFreeName)
{
    Parsed parsed = parse(pageWith("/Fm1 Do BT /F1 10 Tf (a) Tj /F7 10 Tf (b) Tj ET", {},
                                   {{30, stream("/Type /XObject /Subtype /Form /BBox [0 0 50 50]"
                                                " /Resources << /Font << /F1 31 0 R /F7 31 0 R >> >>",
                                                "BT /F1 10 Tf (x) Tj /F7 10 Tf (y) Tj ET")},
                                    {31, simpleFont("/Encoding << /Differences [120 /Z] >>")}},
                                   "/Fm1 30 0 R"));
    const auto &runs = parsed.runs();
    ASSERT_EQ(runs.size(), 4u);
    const auto &fonts = parsed.page->pageFonts();
    // Met first in the form, F1 still ends up the page's; F7, which the page lacks, the form's.
    EXPECT_EQ(fonts.at("F1"), runs[2]->font);
    EXPECT_EQ(fonts.at("F7"), runs[1]->font);
    EXPECT_TRUE(runs[3]->string.isNull()); // the page has no F7 of its own
}

TEST(KVPDFTextRunTest, RunsOfSeveralStreamsPointIntoTheJoin)
{
    PdfBuilder b = pageWith({});
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [5 0 R 6 0 R]"
             " /Resources << /Font << /F1 10 0 R >> >> >>");
    b.add(5, stream({}, "BT /F1 10 Tf 100 700 Td (a) Tj ET"));
    b.add(6, stream({}, "BT /F1 10 Tf 100 600 Td [(b) -10 (c)] TJ ET"));
    Parsed parsed = parse(b);
    ASSERT_TRUE(parsed.page);
    const auto &runs = parsed.runs();
    ASSERT_EQ(runs.size(), 2u);
    ASSERT_TRUE(parsed.page->potentialNewStream());
    for (const auto &run : runs)
        EXPECT_EQ(run->contentObject, parsed.page->potentialNewStream());
    EXPECT_EQ(bytesOf(*runs[0]), QByteArray("(a)"));
    EXPECT_EQ(bytesOf(*runs[1]), QByteArray("[(b) -10 (c)]"));
    EXPECT_EQ(runs[1]->string, QStringLiteral("bc"));
}

TEST(KVPDFTextRunTest, ResetEmptiesRunsAndRewritesAndAParseMakesThemAgain)
{
    auto rewrites = std::make_shared<KVPDFTextRewrites>();
    Parsed parsed = parse(pageWith("BT /F1 10 Tf (ab) Tj (c) Tj ET"), rewrites);
    ASSERT_EQ(parsed.runs().size(), 2u);
    EXPECT_EQ(rewrites->size(), 2u);
    EXPECT_FALSE(parsed.page->pageFonts().empty());

    parsed.page->resetContent();
    EXPECT_TRUE(parsed.page->textBlobs().empty());
    EXPECT_TRUE(parsed.page->pageFonts().empty());
    EXPECT_TRUE(rewrites->empty());
    EXPECT_EQ(parsed.page->rewritesDictionary(), rewrites);

    parsed.page->parseContent();
    ASSERT_EQ(parsed.runs().size(), 2u);
    EXPECT_EQ(rewrites->size(), 2u);
    EXPECT_EQ(rewrites->at(parsed.runs()[1].get()), QByteArray("(c) Tj"));
}

TEST(KVPDFTextRunTest, RangeOutsideTheDataIsLoggedAndMakesNoRun)
{
    Parsed parsed = parse(pageWith("BT ET"));
    ASSERT_TRUE(parsed.page);
    std::vector<std::shared_ptr<KVPDFTextBlob>> runs;
    KVPDFTextRunBuilder builder(*parsed.page, nullptr, runs);
    const QByteArray data = "(abc) Tj";
    const KVPDFContentOperand operand{KVPDFContentOperand::String, {4, 10}, 0};
    KVPDFContentEvent event;
    event.op = KVPDFContentOp::Tj;
    event.operands = std::span<const KVPDFContentOperand>(&operand, 1);
    event.data = &data;
    KVPDFGraphicsState state;
    KVPDFLogCapture log;
    builder.show(event, state);
    EXPECT_TRUE(runs.empty());
    EXPECT_TRUE(log.contains(QStringLiteral("Failed to parse text blob. Content out of range.")));
    EXPECT_EQ(state.textMatrix, QTransform());
}

} // namespace
