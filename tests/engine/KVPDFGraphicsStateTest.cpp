// The graphics state and its keeper: what each operator leaves in the state, read through the
// dispatcher from content and resources of a small file.
#include "KVPDFContentInterpreter.h"
#include "KVPDFDocument.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

QByteArray stream(const QByteArray &dictionaryKeys, const QByteArray &data)
{
    return "<< " + dictionaryKeys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// A page whose resources hold the colour spaces and graphics states the cases name.
struct StateFixture {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFObjectDictionary> resources;

    StateFixture()
    {
        PdfBuilder b = PdfBuilder::withPages(
            1, "/MediaBox [0 0 200 200] /Resources << /ColorSpace << /RGBProfile [/ICCBased 9 0 R] "
               "/GrayAlternate [/ICCBased 10 0 R] /Spot [/Separation /Ink /DeviceCMYK 11 0 R] /Named /DeviceCMYK "
               "/Odd [/ICCBased 12 0 R] >> /ExtGState << /Half << /CA 0.3 /ca 0.6 /LW 4 /LJ 2 /Font 5 >> >> >>");
        b.add(9, stream("/N 3", "profile"));
        b.add(10, stream("/N 4 /Alternate /DeviceGray", "profile"));
        b.add(11, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [1 0 0 0] /N 1 >>");
        b.add(12, stream("", "profile"));
        KVPDFOpenResult result = KVPDFOpenBroken;
        document = KVPDFDocument::documentWithData(b.build(), &result);
        EXPECT_EQ(result, KVPDFOpenOK);
        if (document)
            resources =
                kv_cast<KVPDFObjectDictionary>(document->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Resources"));
    }

    KVPDFGraphicsState run(const QByteArray &content, KVPDFGraphicsStateKeeper::ShowHandler handler = {}) const
    {
        KVPDFGraphicsStateKeeper keeper;
        keeper.setShowHandler(std::move(handler));
        KVPDFContentInterpreter(keeper, document.get()).interpret(content, resources);
        return keeper.state();
    }
};

TEST(KVPDFGraphicsStateTest, FreshStateHoldsTheStartingValues)
{
    const KVPDFGraphicsState s;
    EXPECT_TRUE(s.CTM.isIdentity());
    EXPECT_TRUE(s.textMatrix.isIdentity());
    EXPECT_TRUE(s.textLineMatrix.isIdentity());
    EXPECT_EQ(s.ThorizontalScaling, 1.0f);
    EXPECT_EQ(s.CA, 1.0f);
    EXPECT_EQ(s.ca, 1.0f);
    EXPECT_TRUE(s.Tknockout);
    EXPECT_EQ(s.strokeColor, KVColor::gray(0));
    EXPECT_EQ(s.nonstrokeColor, KVColor::gray(0));
    EXPECT_EQ(s.lineWidth, 1.0f);
    EXPECT_EQ(s.miterLimit, 10.0f);
}

TEST(KVPDFGraphicsStateTest, CopiesAreIndependent)
{
    KVPDFGraphicsState s;
    s.setThorizontalScaling(50);
    KVPDFGraphicsState copy = s;
    EXPECT_EQ(copy.ThorizontalScaling, 0.5f);
    copy.nonstrokeColor = KVColor::rgb(1, 0, 0);
    copy.dashArray.push_back(3);
    EXPECT_EQ(s.nonstrokeColor, KVColor::gray(0));
    EXPECT_TRUE(s.dashArray.empty());
}

TEST(KVPDFGraphicsStateTest, ColourFromElementsByCountAndSpace)
{
    struct Row {
        std::vector<float> elements;
        KVPDFColorSpace space;
        std::optional<KVColor> colour;
    };
    const Row rows[] = {
        {{0.2f}, KVPDFColorSpace::DeviceGray, KVColor::gray(0.2f)},
        {{0.1f, 0.2f, 0.3f}, KVPDFColorSpace::CalRGB, KVColor::rgb(0.1f, 0.2f, 0.3f)},
        {{0, 0, 0, 1}, KVPDFColorSpace::DeviceCMYK, KVColor::cmyk(0, 0, 0, 1)},
        {{0.7f}, KVPDFColorSpace::Separation, KVColor::gray(0)},
        {{0.4f}, KVPDFColorSpace::Indexed, KVColor::gray(0.4f)},
        {{0.1f, 0.2f}, KVPDFColorSpace::DeviceN, std::nullopt},
        {{}, KVPDFColorSpace::Pattern, std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(KVPDFGraphicsState::colorFromElements(row.elements, row.space), row.colour) << int(row.space);
}

TEST(KVPDFGraphicsStateTest, ColourSpaceNamesAreTheFamilies)
{
    KVPDFGraphicsState s;
    EXPECT_TRUE(s.setNonstrokeColorSpaceName("Separation"));
    EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::Separation);
    EXPECT_FALSE(s.setNonstrokeColorSpaceName("RGB")); // an inline image's abbreviation is no family
    EXPECT_FALSE(s.setStrokeColorSpaceName("CS0"));
    EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::Separation);
    EXPECT_EQ(s.strokeColorSpace, KVPDFColorSpace::DeviceGray);
}

struct KeeperCase {
    const char *name;
    QByteArray content;
    std::function<void(const KVPDFGraphicsState &)> check;
};

class KeeperApplies : public ::testing::TestWithParam<KeeperCase> { };

TEST_P(KeeperApplies, StateAfterContent)
{
    static const StateFixture fixture;
    GetParam().check(fixture.run(GetParam().content));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeeperApplies,
    ::testing::Values(KeeperCase{"RestoreUndoesEverythingSinceTheSave", "q 1 0 0 rg 2 0 0 2 0 0 cm /F1 9 Tf 3 Tr BT 1 2 Td Q",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::gray(0));
                                     EXPECT_TRUE(s.CTM.isIdentity());
                                     EXPECT_TRUE(s.Tfont.isEmpty());
                                     EXPECT_EQ(s.Tmode, 0);
                                     EXPECT_TRUE(s.textMatrix.isIdentity());
                                 }},
                      // The later cm applies first: a point at the origin lands at (10, 0) and a unit step
                      // is two units long.
                      KeeperCase{"ConcatenationPutsTheNewMatrixInFront", "1 0 0 1 10 0 cm 2 0 0 2 0 0 cm",
                                 [](const KVPDFGraphicsState &s) { EXPECT_EQ(s.CTM, QTransform(2, 0, 0, 2, 10, 0)); }},
                      KeeperCase{"LineMovesAreInTextSpace", "BT 2 0 0 2 100 100 Tm 5 5 Td",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.textLineMatrix, QTransform(2, 0, 0, 2, 110, 110));
                                     EXPECT_EQ(s.textMatrix, s.textLineMatrix);
                                 }},
                      KeeperCase{"BeginTextResetsTheTextMatrices", "BT 1 0 0 1 5 5 Tm ET BT",
                                 [](const KVPDFGraphicsState &s) { EXPECT_TRUE(s.textMatrix.isIdentity()); }},
                      KeeperCase{"FontNeedsAName", "/F1 9 Tf 12 12 Tf",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.Tfont, "F1");
                                     EXPECT_EQ(s.TfontSize, 9.0f);
                                 }},
                      KeeperCase{"EscapedFontNameIsDecoded", "/F#231 9 Tf",
                                 [](const KVPDFGraphicsState &s) { EXPECT_EQ(s.Tfont, "F#1"); }},
                      KeeperCase{"HugeRenderingModeIsClamped", "99999999999999999999 Tr",
                                 [](const KVPDFGraphicsState &s) { EXPECT_EQ(s.Tmode, 1000000); }},
                      KeeperCase{"TextStateOperators", "1 Tc 2 Tw 150 Tz 14 TL 3 Ts",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.TcharSpacing, 1.0f);
                                     EXPECT_EQ(s.TwordSpacing, 2.0f);
                                     EXPECT_EQ(s.ThorizontalScaling, 1.5f);
                                     EXPECT_EQ(s.Tleading, 14.0f);
                                     EXPECT_EQ(s.Trise, 3.0f);
                                 }},
                      KeeperCase{"ProfileCountsAsItsComponents", "/RGBProfile cs 0.2 0.4 0.6 sc",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::DeviceRGB);
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::rgb(0.2f, 0.4f, 0.6f));
                                 }},
                      KeeperCase{"ProfileAlternateWins", "/GrayAlternate CS 0.5 SC",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.strokeColorSpace, KVPDFColorSpace::DeviceGray);
                                     EXPECT_EQ(s.strokeColor, KVColor::gray(0.5f));
                                 }},
                      KeeperCase{"ProfileWithoutCountLeavesTheSpace", "0 0 1 rg /Odd cs",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::DeviceRGB);
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::rgb(0, 0, 1));
                                 }},
                      KeeperCase{"SettingASpaceStartsAtItsBlack", "1 0 0 rg /Named cs",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::DeviceCMYK);
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::cmyk(0, 0, 0, 1));
                                 }},
                      KeeperCase{"SeparationTintIsBlack", "1 g /Spot cs 0.7 scn",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::Separation);
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::gray(0));
                                 }},
                      KeeperCase{"PatternNameIsNoComponent", "0 1 0 rg /Pattern cs /P1 scn",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.nonstrokeColorSpace, KVPDFColorSpace::Pattern);
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::rgb(0, 1, 0));
                                 }},
                      KeeperCase{"UnknownSpaceChangesNothing", "0 0 1 RG /Missing CS",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.strokeColorSpace, KVPDFColorSpace::DeviceRGB);
                                     EXPECT_EQ(s.strokeColor, KVColor::rgb(0, 0, 1));
                                 }},
                      KeeperCase{"ExtGStateSetsAlphasAndLine", "/Half gs",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.CA, 0.3f);
                                     EXPECT_EQ(s.ca, 0.6f);
                                     EXPECT_EQ(s.lineWidth, 4.0f);
                                     EXPECT_EQ(s.lineJoin, 2);
                                 }},
                      KeeperCase{"LineOperators", "3 w 1 J 2 j 5 M [3 2] 1 d",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.lineWidth, 3.0f);
                                     EXPECT_EQ(s.lineCap, 1);
                                     EXPECT_EQ(s.lineJoin, 2);
                                     EXPECT_EQ(s.miterLimit, 5.0f);
                                     EXPECT_EQ(s.dashArray, (std::vector<float>{3, 2}));
                                     EXPECT_EQ(s.dashPhase, 1.0f);
                                 }},
                      KeeperCase{"DeviceColourOperators", "0.25 G 0 1 0 rg 0 0 0 1 K",
                                 [](const KVPDFGraphicsState &s) {
                                     EXPECT_EQ(s.strokeColorSpace, KVPDFColorSpace::DeviceCMYK);
                                     EXPECT_EQ(s.strokeColor, KVColor::cmyk(0, 0, 0, 1));
                                     EXPECT_EQ(s.nonstrokeColor, KVColor::rgb(0, 1, 0));
                                 }}),
    [](const ::testing::TestParamInfo<KeeperCase> &info) { return std::string(info.param.name); });

// The show handler sees the state as it stands for the show (after the line move of ' and ")
// and may advance the text matrix; without it, consecutive shows start at one place.
TEST(KVPDFGraphicsStateTest, ShowHandlerSeesTheShowAndMayAdvance)
{
    static const StateFixture fixture;
    std::vector<QPointF> origins;
    auto record = [&](const KVPDFContentEvent &, KVPDFGraphicsState &s) { origins.push_back(s.textMatrix.map(QPointF())); };
    fixture.run("BT 12 TL 10 100 Td (a) Tj (b) Tj (c) ' ET", record);
    EXPECT_EQ(origins, (std::vector<QPointF>{{10, 100}, {10, 100}, {10, 88}}));

    origins.clear();
    auto advance = [&](const KVPDFContentEvent &e, KVPDFGraphicsState &s) {
        origins.push_back(s.textMatrix.map(QPointF()));
        s.translateTextMatrix(5.0 * double(e.bytes(0).size() - 2), 0);
    };
    const KVPDFGraphicsState after = fixture.run("BT 2 0 0 2 10 100 Tm (a) Tj (bc) Tj T* (d) Tj ET", advance);
    EXPECT_EQ(origins, (std::vector<QPointF>{{10, 100}, {20, 100}, {10, 100}}));
    EXPECT_EQ(after.textLineMatrix, QTransform(2, 0, 0, 2, 10, 100));
}

} // namespace
