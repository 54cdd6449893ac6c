// The content dispatcher: golden traces of small content, with the state keeper in front of the
// trace so each line shows what the event did to the state. Forms and multi-part pages are
// made as files, since the dispatcher reaches them through a document's objects.
#include "KVPDFContentInterpreter.h"
#include "KVPDFContentTrace.h"
#include "KVPDFDocument.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Traced {
    QByteArray trace;
    KVPDFContentStats stats;
    KVPDFGraphicsState state;
    size_t saved = 0;
};

Traced traceOf(const QByteArray &content, const std::shared_ptr<KVPDFObjectDictionary> &resources = nullptr,
               KVPDFObjectContext *context = nullptr, KVPDFContentInterpreter::Limits limits = {})
{
    KVPDFGraphicsStateKeeper keeper;
    KVPDFContentTrace trace(&keeper);
    KVPDFContentSinkList sinks({&keeper, &trace});
    Traced out;
    out.stats = KVPDFContentInterpreter(sinks, context, limits).interpret(content, resources);
    out.trace = trace.text();
    out.state = keeper.state();
    out.saved = keeper.savedStates().size();
    return out;
}

QByteArray stream(const QByteArray &dictionaryKeys, const QByteArray &data)
{
    return "<< " + dictionaryKeys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

struct OpenPage {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
    QByteArray content;
    std::shared_ptr<KVPDFObjectDictionary> resources;
};

OpenPage openFirstPage(const PdfBuilder &builder)
{
    OpenPage out;
    KVPDFOpenResult result = KVPDFOpenBroken;
    out.document = KVPDFDocument::documentWithData(builder.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    if (!out.document)
        return out;
    out.page = out.document->pageAtIndex(0);
    out.content = KVPDFPage::joinedContent(out.page->contentStreams(), QStringLiteral("test"));
    if (KVPDFObjectPtr value = out.page->pageDictionary()->objectFromAncestorsForKey("Resources"))
        out.resources = kv_cast<KVPDFObjectDictionary>(value->resolvedObject());
    return out;
}

Traced traceOf(const OpenPage &page, KVPDFContentInterpreter::Limits limits = {})
{
    return traceOf(page.content, page.resources, page.document.get(), limits);
}

struct GoldenCase {
    const char *name;
    QByteArray content;
    QByteArray trace;
};

class ContentGolden : public ::testing::TestWithParam<GoldenCase> { };

TEST_P(ContentGolden, TraceIsAsWritten)
{
    const GoldenCase &c = GetParam();
    EXPECT_EQ(traceOf(c.content).trace.toStdString(), c.trace.toStdString()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ContentGolden,
    ::testing::Values(
        GoldenCase{"LeadingMovesEachLineDown", "BT 14 TL 100 700 Td (a) Tj T* (b) Tj 0 -14 TD (c) Tj T* (d) Tj ET",
                   "0+2 BT\n"
                   "3+5 14 TL | Tc 0 Tw 0 Th 1 TL 14 Tf / 0 Tr 0 Ts 0\n"
                   "9+10 100 700 Td | Tm 1 0 0 1 100 700 TL 14\n"
                   "20+6 (a) Tj | Tm 1 0 0 1 100 700 Tc 0 Tw 0\n"
                   "27+2 T* | Tm 1 0 0 1 100 686 TL 14\n"
                   "30+6 (b) Tj | Tm 1 0 0 1 100 686 Tc 0 Tw 0\n"
                   "37+8 0 -14 TD | Tm 1 0 0 1 100 672 TL 14\n"
                   "46+6 (c) Tj | Tm 1 0 0 1 100 672 Tc 0 Tw 0\n"
                   "53+2 T* | Tm 1 0 0 1 100 658 TL 14\n"
                   "56+6 (d) Tj | Tm 1 0 0 1 100 658 Tc 0 Tw 0\n"
                   "63+2 ET\n"},
        GoldenCase{"QuotesMoveToTheNextLineFirst", "BT 10 TL 5 50 Td (x) ' 1 2 (y) \" ET",
                   "0+2 BT\n"
                   "3+5 10 TL | Tc 0 Tw 0 Th 1 TL 10 Tf / 0 Tr 0 Ts 0\n"
                   "9+7 5 50 Td | Tm 1 0 0 1 5 50 TL 10\n"
                   "17+5 (x) ' | Tm 1 0 0 1 5 40 Tc 0 Tw 0\n"
                   "23+9 1 2 (y) \" | Tm 1 0 0 1 5 30 Tc 2 Tw 1\n"
                   "33+2 ET\n"},
        GoldenCase{"HorizontalScalingIsAPercentage", "12 Tz", "0+5 12 Tz | Tc 0 Tw 0 Th 0.12 TL 0 Tf / 0 Tr 0 Ts 0\n"},
        GoldenCase{"CommentLineChangesNothing", "% q 1 0 0 1 5 5 cm\n0.5 g", "19+5 0.5 g | fill gray 0.5 stroke gray 0\n"},
        GoldenCase{"OperatorEndsAtADelimiter", "0 g/F1 12 Tf",
                   "0+3 0 g | fill gray 0 stroke gray 0\n"
                   "3+9 /F1 12 Tf | Tc 0 Tw 0 Th 1 TL 0 Tf /F1 12 Tr 0 Ts 0\n"},
        GoldenCase{"UnbalancedRestoresAreDropped", "Q q 2 0 0 2 0 0 cm Q Q",
                   "! Q without q at 0\n"
                   "2+1 q | CTM 1 0 0 1 0 0\n"
                   "4+14 2 0 0 2 0 0 cm | CTM 2 0 0 2 0 0\n"
                   "19+1 Q | CTM 1 0 0 1 0 0\n"
                   "! Q without q at 21\n"},
        GoldenCase{"TooFewOperandsDropTheOperator", "1 2 3 cm 4 5 Td 1 0 0 rg 7",
                   "! too few operands at 6\n"
                   "9+6 4 5 Td | Tm 1 0 0 1 4 5 TL 0\n"
                   "16+8 1 0 0 rg | fill rgb 1 0 0 stroke gray 0\n"},
        GoldenCase{"OperandsBeforeTheUsedOnesAreIgnored", "9 9 1 0 0 1 0 0 cm 3 4 5 Td",
                   "4+14 1 0 0 1 0 0 cm | CTM 1 0 0 1 0 0\n"
                   "21+6 4 5 Td | Tm 1 0 0 1 4 5 TL 0\n"},
        GoldenCase{"TextObjectsDoNotNest", "ET BT BT ET",
                   "! ET without BT at 0\n"
                   "3+2 BT\n"
                   "! BT inside BT at 6\n"
                   "6+2 BT\n"
                   "9+2 ET\n"},
        GoldenCase{"ShowOperandsStartWithTheirDelimiter", "BT [(A) -250 (B)] TJ <41> Tj (a\\)b) Tj ET",
                   "0+2 BT\n"
                   "3+17 [(A) -250 (B)] TJ | Tm 1 0 0 1 0 0 Tc 0 Tw 0\n"
                   "21+7 <41> Tj | Tm 1 0 0 1 0 0 Tc 0 Tw 0\n"
                   "29+9 (a\\)b) Tj | Tm 1 0 0 1 0 0 Tc 0 Tw 0\n"
                   "39+2 ET\n"},
        GoldenCase{"UnknownOperatorsCountOutsideCompatibility", "1 foo BX 2 bar EX",
                   "! unknown operator at 2\n"
                   "0+5 1 foo (unknown)\n"
                   "6+2 BX\n"
                   "9+5 2 bar (unknown)\n"
                   "15+2 EX\n"},
        GoldenCase{"FusedOperatorsAreNoOperator", "q Qq Q",
                   "0+1 q | CTM 1 0 0 1 0 0\n"
                   "! unknown operator at 2\n"
                   "2+2 Qq (unknown)\n"
                   "5+1 Q | CTM 1 0 0 1 0 0\n"},
        GoldenCase{"StrayDelimiterIsSkipped", "1 ) 2 3 m",
                   "! stray delimiter at 2\n"
                   "4+5 2 3 m\n"},
        GoldenCase{"BinaryInlineImageIsSkippedByItsLength",
                   QByteArray("BI /W 8 /H 1 /BPC 8 /CS /G ID \x01 EI \x02\xff\xfe EI 0.5 g"),
                   "0+41 BI /W 8 /H 1 /BPC 8 /CS /G data 30+8 by length\n"
                   "42+5 0.5 g | fill gray 0.5 stroke gray 0\n"},
        GoldenCase{"FilteredInlineImageEndsAtADelimitedEI", "BI /W 2 /H 2 /F /AHx ID 00ffEI00ff> EI 1 g",
                   "0+38 BI /W 2 /H 2 /F /AHx data 24+11 by EI\n"
                   "39+3 1 g | fill gray 1 stroke gray 0\n"},
        GoldenCase{"InlineImageWithoutEndRunsToTheEnd", "BI /W 2 /H 2 /F /AHx ID 00ff",
                   "! inline image without EI at 0\n"
                   "0+28 BI /W 2 /H 2 /F /AHx data 24+4 unended\n"}),
    [](const ::testing::TestParamInfo<GoldenCase> &info) { return std::string(info.param.name); });

// A page drawing two forms: one with a Matrix and its own ExtGState (it leaves a q open), one
// without resources, which uses the page's. The image is reported and not entered.
TEST(KVPDFContentInterpreterTest, FormsRunInsideTheirMatrixWithTheirOwnResources)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 200 200] /Contents 5 0 R /Resources << /XObject << /Fm1 6 0 R "
                                            "/Fm2 7 0 R /Im1 8 0 R >> /ExtGState << /G1 << /ca 0.5 >> >> >>");
    b.add(5, stream("", "/Fm1 Do /G1 gs /Fm2 Do /Im1 Do"));
    b.add(6, stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [2 0 0 2 10 20] "
                    "/Resources << /ExtGState << /G1 << /ca 0.25 >> >> >>",
                    "q /G1 gs 1 0 0 1 5 5 cm"));
    b.add(7, stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100]", "/G1 gs 0.5 0 0 0.5 0 0 cm"));
    b.add(8, stream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray", "\x80"));
    const Traced t = traceOf(openFirstPage(b));
    EXPECT_EQ(t.trace.toStdString(), "0+7 /Fm1 Do | 6 0 R\n"
                                     "- q | CTM 1 0 0 1 0 0\n"
                                     "- 2 0 0 2 10 20 cm | CTM 2 0 0 2 10 20\n"
                                     "form 6 0 R begin\n"
                                     "  0+1 q | CTM 2 0 0 2 10 20\n"
                                     "  2+6 /G1 gs | CA 1 ca 0.25\n"
                                     "  9+14 1 0 0 1 5 5 cm | CTM 2 0 0 2 20 30\n"
                                     "  ! q without Q at 23\n"
                                     "  - Q | CTM 2 0 0 2 10 20\n"
                                     "form 6 0 R end\n"
                                     "- Q | CTM 1 0 0 1 0 0\n"
                                     "8+6 /G1 gs | CA 1 ca 0.5\n"
                                     "15+7 /Fm2 Do | 7 0 R\n"
                                     "- q | CTM 1 0 0 1 0 0\n"
                                     "- 1 0 0 1 0 0 cm | CTM 1 0 0 1 0 0\n"
                                     "form 7 0 R begin\n"
                                     "  0+6 /G1 gs | CA 1 ca 0.5\n"
                                     "  7+18 0.5 0 0 0.5 0 0 cm | CTM 0.5 0 0 0.5 0 0\n"
                                     "form 7 0 R end\n"
                                     "- Q | CTM 1 0 0 1 0 0\n"
                                     "23+7 /Im1 Do | 8 0 R\n");
    EXPECT_EQ(t.stats.count(KVPDFContentFault::UnclosedSave), 1u);
    EXPECT_EQ(t.saved, 0u);
}

// The line end the page puts between parts keeps "Q" and "q" apart; written together they are
// one token, which is no operator.
TEST(KVPDFContentInterpreterTest, PartsOfAPageMeetAtALineEnd)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 200 200] /Contents [5 0 R 6 0 R]");
    b.add(5, stream("", "q 1 0 0 1 5 5 cm Q"));
    b.add(6, stream("", "q 2 0 0 2 0 0 cm Q"));
    const Traced t = traceOf(openFirstPage(b));
    EXPECT_EQ(t.trace.toStdString(), "0+1 q | CTM 1 0 0 1 0 0\n"
                                     "2+14 1 0 0 1 5 5 cm | CTM 1 0 0 1 5 5\n"
                                     "17+1 Q | CTM 1 0 0 1 0 0\n"
                                     "19+1 q | CTM 1 0 0 1 0 0\n"
                                     "21+14 2 0 0 2 0 0 cm | CTM 2 0 0 2 0 0\n"
                                     "36+1 Q | CTM 1 0 0 1 0 0\n");
    EXPECT_EQ(t.stats.faults, 0u);
}

struct SelfDrawingCase {
    const char *name;
    std::vector<std::pair<int, QByteArray>> forms; // object number, content; each names the others /Fm<n>
};

class SelfDrawingForm : public ::testing::TestWithParam<SelfDrawingCase> { };

// A form that draws itself, directly or through another, stops at the depth bound with a log
// line, and every q the dispatcher made around the forms is closed again.
TEST_P(SelfDrawingForm, StopsAtTheDepthBound)
{
    const SelfDrawingCase &c = GetParam();
    QByteArray names;
    for (const auto &[number, content] : c.forms)
        names += "/Fm" + QByteArray::number(number) + ' ' + QByteArray::number(number) + " 0 R ";
    PdfBuilder b =
        PdfBuilder::withPages(1, "/MediaBox [0 0 200 200] /Contents 5 0 R /Resources << /XObject << " + names + ">> >>");
    b.add(5, stream("", "1 0 0 1 3 3 cm /Fm" + QByteArray::number(c.forms.front().first) + " Do"));
    for (const auto &[number, content] : c.forms)
        b.add(number, stream("/Subtype /Form /BBox [0 0 10 10] /Resources << /XObject << " + names + ">> >>", content));
    KVPDFLogCapture log;
    const Traced t = traceOf(openFirstPage(b));
    const int maxDepth = KVPDFContentInterpreter::Limits().maxFormDepth;
    EXPECT_EQ(t.trace.count(" begin\n"), maxDepth) << c.name;
    EXPECT_EQ(t.trace.count(" end\n"), maxDepth) << c.name;
    EXPECT_EQ(t.stats.count(KVPDFContentFault::FormTooDeep), 1u) << c.name;
    EXPECT_TRUE(log.contains(QStringLiteral("nested more than %1 deep").arg(maxDepth))) << c.name;
    EXPECT_EQ(t.saved, 0u) << c.name;
    EXPECT_EQ(t.state.CTM, QTransform::fromTranslate(3, 3)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, SelfDrawingForm,
                         ::testing::Values(SelfDrawingCase{"Directly", {{6, "2 0 0 2 0 0 cm /Fm6 Do"}}},
                                           SelfDrawingCase{"ThroughAnother", {{6, "/Fm7 Do"}, {7, "q /Fm6 Do Q"}}}),
                         [](const ::testing::TestParamInfo<SelfDrawingCase> &info) { return std::string(info.param.name); });

// Twenty forms, each drawing the next twice, would be drawn a million times; the form budget
// stops them after a bounded amount of work, with the state still balanced.
TEST(KVPDFContentInterpreterTest, FormsThatFanOutStopAtTheBudget)
{
    constexpr int kForms = 20;
    QByteArray names;
    for (int k = 0; k < kForms; ++k)
        names += "/Fm" + QByteArray::number(10 + k) + ' ' + QByteArray::number(10 + k) + " 0 R ";
    PdfBuilder b =
        PdfBuilder::withPages(1, "/MediaBox [0 0 200 200] /Contents 5 0 R /Resources << /XObject << " + names + ">> >>");
    b.add(5, stream("", "/Fm10 Do"));
    for (int k = 0; k < kForms; ++k) {
        const QByteArray next = k + 1 < kForms ? "/Fm" + QByteArray::number(11 + k) + " Do " : QByteArray();
        b.add(10 + k, stream("/Subtype /Form /BBox [0 0 10 10]", "q " + next + next + "Q"));
    }
    KVPDFContentInterpreter::Limits limits;
    limits.maxFormBytes = 1 << 20;
    KVPDFLogCapture log;
    const Traced t = traceOf(openFirstPage(b), limits);
    const uint64_t drawn = uint64_t(t.trace.count(" begin\n"));
    EXPECT_GT(drawn, 0u);
    EXPECT_LE(drawn, limits.maxFormBytes / KVPDFContentInterpreter::kFormCost);
    EXPECT_GT(t.stats.count(KVPDFContentFault::FormBudget), 0u);
    EXPECT_TRUE(log.contains(QStringLiteral("the rest are not drawn")));
    EXPECT_EQ(t.saved, 0u);
}

// Data that is not content stops at the fault cap instead of producing a fault per byte.
TEST(KVPDFContentInterpreterTest, FaultsStopTheRunAtTheCap)
{
    KVPDFContentInterpreter::Limits limits;
    limits.maxFaults = 10;
    KVPDFLogCapture log;
    const Traced t = traceOf(QByteArray(1000, ')') + " 1 g", nullptr, nullptr, limits);
    EXPECT_TRUE(t.stats.stopped);
    EXPECT_EQ(t.stats.faults, 10u);
    EXPECT_EQ(t.state.nonstrokeColor, KVColor::gray(0));
    EXPECT_TRUE(log.contains(QStringLiteral("the rest of it is not read")));
    EXPECT_EQ(log.messages.count(QStringLiteral("inString set, openStringChar not set")), 1);
}

} // namespace
