// Page and document geometry as plain functions: page rectangles from real engine pages made
// here, quarter turns and the transforms between a page's turned view and its unturned space
// (each on numbers worked out by hand, since a composition in the wrong order still gives a
// transform), spreads, window sizes against a given screen, caching passes and scan reduction.
#include "JXFolivoGeometry.h"

#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace JXFolivoGeometry;

namespace {

std::shared_ptr<KVPDFDocument> openPages(const PdfBuilder &builder)
{
    KVPDFOpenResult result = KVPDFOpenBroken;
    auto document = KVPDFDocument::documentWithData(builder.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

void expectPoint(QPointF actual, QPointF expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9) << "x of (" << actual.x() << ", " << actual.y() << ")";
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9) << "y of (" << actual.x() << ", " << actual.y() << ")";
}

void expectRect(QRectF actual, QRectF expected)
{
    EXPECT_EQ(actual, expected) << "(" << actual.x() << ", " << actual.y() << ", " << actual.width() << ", "
                                << actual.height() << ")";
}

} // namespace

// ---- Page boxes ------------------------------------------------------------------------------

TEST(PageBoxes, RectanglesAndOffsetsFromTheEnginePage)
{
    struct Case {
        const char *name;
        QByteArray pageKeys;
        QRectF bounds;
        QRectF boundsWithoutRotation;
        QPointF pageOriginOffset;
        QPointF quadPointsOriginOffset;
    };
    const Case cases[] = {
        {"letter", "/MediaBox [0 0 612 792]", {0, 0, 612, 792}, {0, 0, 612, 792}, {0, 0}, {0, 0}},
        {"crop box inside the media box", "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]", {0, 0, 540, 720},
         {0, 0, 540, 720}, {36, 36}, {36, 36}},
        {"cropped and turned a quarter", "/MediaBox [0 0 612 792] /CropBox [36 50 576 770] /Rotate 90",
         {0, 0, 720, 540}, {0, 0, 540, 720}, {50, 36}, {50, 36}},
        {"turned three quarters", "/MediaBox [0 0 612 792] /Rotate 270", {0, 0, 792, 612}, {0, 0, 612, 792}, {0, 0},
         {0, 0}},
        {"turned -90 reads as 270", "/MediaBox [0 0 612 792] /Rotate -90", {0, 0, 792, 612}, {0, 0, 612, 792},
         {0, 0}, {0, 0}},
        {"turned half", "/MediaBox [0 0 612 792] /Rotate 180", {0, 0, 612, 792}, {0, 0, 612, 792}, {0, 0}, {0, 0}},
        // Clipped for the bounds; the text offset keeps the crop box's corner, the quad points
        // take the clipped box's.
        {"crop box reaching outside", "/MediaBox [0 0 612 792] /CropBox [-20 30 600 900]", {0, 0, 600, 762},
         {0, 0, 600, 762}, {-20, 30}, {0, 30}},
        {"crop box missing the media box", "/MediaBox [0 0 612 792] /CropBox [700 800 900 1000]", {0, 0, 612, 792},
         {0, 0, 612, 792}, {700, 800}, {0, 0}},
        {"media box away from the origin, turned", "/MediaBox [100 200 712 992] /Rotate 270", {0, 0, 792, 612},
         {0, 0, 612, 792}, {200, 100}, {200, 100}},
        {"not a quarter turn counts as none", "/MediaBox [0 0 612 792] /Rotate 45", {0, 0, 612, 792},
         {0, 0, 612, 792}, {0, 0}, {0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = openPages(PdfBuilder::withPages(1, c.pageKeys));
        ASSERT_TRUE(document);
        const PageBoxes boxes = pageBoxes(*document->pageAtIndex(0));
        expectRect(bounds(boxes), c.bounds);
        expectRect(boundsWithoutRotation(boxes), c.boundsWithoutRotation);
        expectPoint(pageOriginOffset(boxes), c.pageOriginOffset);
        expectPoint(quadPointsOriginOffset(boxes), c.quadPointsOriginOffset);
    }
}

// ---- Turning a page --------------------------------------------------------------------------

TEST(PageRotation, SetRotationTurnsByTheDifference)
{
    struct Case {
        int current, wanted;
        std::optional<int> turn;
    };
    const Case cases[] = {
        {0, 90, 270}, {270, 0, 270}, {180, 90, 90}, {90, 270, 180},
        {0, 0, std::nullopt},   // already there
        {0, 45, std::nullopt},  // not a quarter turn
        {0, 360, std::nullopt}, // nor is a full one
        {90, -90, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.current << " to " << c.wanted);
        EXPECT_EQ(turnForRotation(c.current, c.wanted), c.turn);
    }
    // Whatever the start, the turn lands on the rotation asked for.
    for (int current : {0, 90, 180, 270}) {
        for (int wanted : {0, 90, 180, 270}) {
            if (auto turn = turnForRotation(current, wanted)) {
                EXPECT_EQ(rotationAfterTurn(current, *turn), wanted) << current << " to " << wanted;
            }
        }
    }
}

TEST(PageRotation, TurnCounterclockwiseSubtractsFromTheClockwiseRotate)
{
    struct Case {
        int rotation, turn, after;
    };
    const Case cases[] = {
        {0, 90, 270}, {270, -90, 0}, {0, -90, 90}, {90, 90, 0}, {0, 720, 0}, {90, -450, 180}, {180, 0, 180},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rotationAfterTurn(c.rotation, c.turn), c.after) << c.rotation << " turned by " << c.turn;
}

TEST(PageRotation, TurnCarriesObjectsAboutTheCentreOntoTheNewPage)
{
    const QSizeF portrait(612, 792), landscape(792, 612);
    const QTransform left = turnTransform(portrait, landscape, 90);
    // Lower left to lower right, upper right to upper left, the centre to the new centre.
    expectPoint(left.map(QPointF(0, 0)), QPointF(792, 0));
    expectPoint(left.map(QPointF(612, 792)), QPointF(0, 612));
    expectPoint(left.map(QPointF(306, 396)), QPointF(396, 306));
    expectPoint(left.map(QPointF(100, 50)), QPointF(742, 100));

    const QTransform back = turnTransform(landscape, portrait, -90);
    for (QPointF p : {QPointF(0, 0), QPointF(100, 50), QPointF(612, 792)})
        expectPoint(back.map(left.map(p)), p);

    const QTransform half = turnTransform(portrait, portrait, 180);
    expectPoint(half.map(QPointF(0, 0)), QPointF(612, 792));
    expectPoint(half.map(QPointF(100, 50)), QPointF(512, 742));
}

// ---- Between the turned view and the unturned page -------------------------------------------

TEST(PageTransforms, UnturnedCornersLandWhereTheTurnedViewShowsThem)
{
    struct Case {
        const char *name;
        int rotation;
        QSizeF bounds; // turned
        std::vector<std::pair<QPointF, QPointF>> pageToView;
    };
    const Case cases[] = {
        // Clockwise a quarter: the bottom edge becomes the left one.
        {"90", 90, {792, 612}, {{{0, 0}, {0, 612}}, {{612, 0}, {0, 0}}, {{612, 792}, {792, 0}}, {{100, 50}, {50, 512}}}},
        {"180", 180, {612, 792}, {{{0, 0}, {612, 792}}, {{100, 50}, {512, 742}}}},
        // Clockwise three quarters: the bottom edge becomes the right one.
        {"270", 270, {792, 612}, {{{0, 0}, {792, 0}}, {{612, 0}, {792, 612}}, {{0, 792}, {0, 0}}, {{100, 50}, {742, 100}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QTransform> drawing = pageTransform(c.rotation, c.bounds);
        ASSERT_TRUE(drawing);
        const QTransform forward = pageToTurnedView(c.rotation, c.bounds);
        const QTransform reverse = turnedViewToPage(c.rotation, c.bounds);
        for (const auto &[page, view] : c.pageToView) {
            expectPoint(drawing->map(page), view);
            expectPoint(forward.map(page), view);
            expectPoint(reverse.map(view), page);
        }
    }
}

TEST(PageTransforms, UnturnedPageHasNoTransformAndPointsStay)
{
    EXPECT_FALSE(pageTransform(0, QSizeF(612, 792)));
    EXPECT_TRUE(turnedViewToPage(0, QSizeF(612, 792)).isIdentity());
    EXPECT_TRUE(pageToTurnedView(0, QSizeF(612, 792)).isIdentity());
}

TEST(PageTransforms, ReverseThenForwardReturnsThePoint)
{
    for (int rotation : {90, 180, 270}) {
        const QSizeF turned = swapsSides(rotation) ? QSizeF(720, 540) : QSizeF(540, 720);
        for (QPointF p : {QPointF(0, 0), QPointF(13.5, 600.25), QPointF(720, 540), QPointF(-10, 900)}) {
            SCOPED_TRACE(testing::Message() << rotation << " at (" << p.x() << ", " << p.y() << ")");
            expectPoint(pageToTurnedView(rotation, turned).map(turnedViewToPage(rotation, turned).map(p)), p);
        }
    }
}

// ---- Text positions ----------------------------------------------------------------------------

TEST(PageTextPositions, ClosestCharacterAndNoneOnAPageWithoutText)
{
    // Helvetica-like widths: each letter 5 pt wide at 10 pt, "abc" at x 100..115.
    QByteArray widths;
    for (int code = 32; code <= 126; ++code)
        widths += " 500";
    const QByteArray content = "BT /F1 10 Tf 100 700 Td (abc) Tj ET BT /F1 10 Tf 100 600 Td (defg) Tj ET";
    PdfBuilder withText = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 5 0 R /Resources << /Font << /F1 10 0 R >> >>");
    withText.add(5, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    withText.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 32 /LastChar 126 /Widths [" + widths + "] >>");
    auto document = openPages(withText);
    ASSERT_TRUE(document);
    KVPDFPage &page = *document->pageAtIndex(0);

    EXPECT_EQ(charPositionInPage(page, QPointF(107, 702)), 1); // under the point
    EXPECT_EQ(charPositionInPage(page, QPointF(20, 703)), 0);  // left of "abc": its first
    EXPECT_EQ(charPositionInPage(page, QPointF(400, 703)), 3); // right of "abc": its last
    EXPECT_EQ(charPositionInPage(page, QPointF(500, 100)), 8); // far below: the page's last
    EXPECT_TRUE(hasCharPositionInPage(page, QPointF(107, 702), 0));
    EXPECT_FALSE(hasCharPositionInPage(page, QPointF(118, 702), 0));
    EXPECT_TRUE(hasCharPositionInPage(page, QPointF(118, 702), 5));

    auto blank = openPages(PdfBuilder::withPages(1));
    ASSERT_TRUE(blank);
    EXPECT_EQ(charPositionInPage(*blank->pageAtIndex(0), QPointF(300, 400)), 0);
    EXPECT_FALSE(hasCharPositionInPage(*blank->pageAtIndex(0), QPointF(300, 400), 100));
}

TEST(PageTextPositions, HitTestPreparesAPageNotYetPrepared)
{
    const QByteArray content = "BT /F1 10 Tf 100 700 Td (abc) Tj ET";
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Contents 5 0 R /Resources << /Font << /F1 10 0 R >> >>");
    b.add(5, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    auto document = openPages(b);
    ASSERT_TRUE(document);
    KVPDFPage &page = *document->pageAtIndex(0);
    ASSERT_FALSE(page.preparedForSelection());
    EXPECT_TRUE(hasCharPositionInPage(page, QPointF(102, 702), 0));
}

// ---- The document ----------------------------------------------------------------------------

TEST(DocumentBounds, UnionOfThePagesFromTheOrigin)
{
    expectRect(documentBounds({QRectF(0, 0, 612, 792)}), QRectF(0, 0, 612, 792));
    expectRect(documentBounds({QRectF(0, 0, 612, 792), QRectF(0, 0, 842, 595)}), QRectF(0, 0, 842, 792));
    expectRect(documentBounds({}), QRectF());
    expectRect(defaultPageSizeForCreation(QSizeF(595, 842), false), QRectF(0, 0, 595, 842));
    expectRect(defaultPageSizeForCreation(QSizeF(595, 842), true), QRectF(0, 0, 842, 595));
    EXPECT_EQ(defaultPageRotationWhenNone(true), 90);
    EXPECT_EQ(defaultPageRotationWhenNone(false), 0);
}

TEST(DocumentBounds, FacingSpreadsBothWays)
{
    const std::vector<QRectF> pages = {{0, 0, 612, 792}, {0, 0, 842, 595}, {0, 0, 500, 700}};
    const QRectF creation(0, 0, 400, 300);
    struct Case {
        const char *name;
        int64_t index;
        bool facingPageOne;
        int64_t count;
        QRectF spread;
    };
    const Case cases[] = {
        {"first pair, left", 0, true, 3, {0, 0, 1454, 792}},
        {"first pair, right", 1, true, 3, {0, 0, 1454, 792}},
        {"odd last page alone takes two widths", 2, true, 3, {0, 0, 1000, 700}},
        {"past the end", 4, true, 3, {0, 0, 800, 300}},
        {"negative", -1, true, 3, {0, 0, 800, 300}},
        {"page one stands alone", 0, false, 3, {0, 0, 1224, 792}},
        {"pages two and three pair", 1, false, 3, {0, 0, 1342, 700}},
        {"pages two and three pair, from the right", 2, false, 3, {0, 0, 1342, 700}},
        {"two pages: the second alone", 1, false, 2, {0, 0, 1684, 595}},
        {"past the end without page one", 5, false, 3, {0, 0, 800, 300}},
        {"no pages", 0, true, 0, {0, 0, 800, 300}},
        {"no pages without page one", 0, false, 0, {0, 0, 800, 300}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto boundsOfPage = [&](int64_t index) {
            return index >= 0 && index < c.count ? pages[size_t(index)] : creation;
        };
        expectRect(facingSpreadBounds(c.index, c.facingPageOne, c.count, boundsOfPage, creation), c.spread);
    }
}

// ---- The document window ---------------------------------------------------------------------

TEST(WindowPlacement, SizeFromTheDocumentWithinTheScreen)
{
    const QRectF screen(0, 30, 1400, 1000); // below a top panel
    struct Case {
        const char *name;
        QSizeF document;
        bool hasPages;
        bool fillScreenHeight;
        QSizeF saved;
        QSizeF content;
    };
    const float fill = float(1000.0 / 792.0);
    const Case cases[] = {
        {"letter page", {612, 792}, true, false, {}, {776, 808}},
        {"no pages opens at letter size", {0, 0}, false, false, {}, {776, 808}},
        {"windowHeight 1 fills the screen's height", {612, 792}, true, true, {}, {612 * double(fill) + 164, 1000}},
        {"wider than the screen", {1500, 500}, true, false, {}, {1400, 516}},
        {"taller than the screen", {500, 1500}, true, false, {}, {664, 1000}},
        {"saved size wins", {612, 792}, true, true, {900, 700}, {900, 700}},
        {"no height to fill by", {0, 0}, true, true, {}, {164, 16}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        WindowPlacementInput input;
        input.mainScreenVisible = screen;
        input.windowScreenVisible = QRectF(1400, 0, 1920, 1080);
        input.documentSize = c.document;
        input.hasPages = c.hasPages;
        input.fillScreenHeight = c.fillScreenHeight;
        input.savedContentSize = c.saved;
        const WindowPlacement placement = windowPlacement(input);
        EXPECT_DOUBLE_EQ(placement.contentSize.width(), c.content.width());
        EXPECT_DOUBLE_EQ(placement.contentSize.height(), c.content.height());
        expectPoint(placement.frameTopLeft, QPointF(1400, 30));
    }
}

TEST(WindowPlacement, ZoomedFrameFitsTheDocumentViewAndKeepsTheTop)
{
    ZoomInput input;
    input.defaultFrame = QRectF(0, 0, 1400, 1000);
    EXPECT_EQ(zoomedFrame(input), input.defaultFrame);

    input.documentViewSize = QSizeF(800, 1000);
    input.sidebarWidth = 200;
    input.toolbarHeight = toolbarHeight(true, 500.3, 470.1);
    input.currentContent = QRectF(100, 50, 500, 400);
    input.frameMargins = QMarginsF(1, 22, 1, 1);
    const QRectF frame = zoomedFrame(input);
    EXPECT_DOUBLE_EQ(input.toolbarHeight, double(30.2f));
    EXPECT_DOUBLE_EQ(frame.top(), 50 - 22);
    EXPECT_DOUBLE_EQ(frame.left(), 99);
    EXPECT_DOUBLE_EQ(frame.width(), 800 + 24 + 200 + 2);
    EXPECT_DOUBLE_EQ(frame.height(), 1000 + 16 + double(30.2f) + 23);
    EXPECT_EQ(toolbarHeight(false, 500, 470), 0);
}

// ---- Full-size caching passes ----------------------------------------------------------------

TEST(CachePasses, PagesLeftOutOfTheNextPassAreLetGo)
{
    CachePasses passes;
    passes.begin();
    EXPECT_TRUE(passes.add(0, 5));
    EXPECT_TRUE(passes.add(1, 5));
    EXPECT_TRUE(passes.add(2, 5));
    EXPECT_FALSE(passes.add(5, 5));
    EXPECT_FALSE(passes.add(-1, 5));
    EXPECT_TRUE(passes.end(5).empty()) << "nothing before the first pass";

    passes.begin();
    passes.add(1, 5);
    passes.add(3, 5);
    EXPECT_EQ(passes.end(5), (std::vector<int64_t>{0, 2}));
    EXPECT_TRUE(passes.prior().empty());

    // Pages removed meanwhile are not told.
    passes.begin();
    EXPECT_EQ(passes.end(2), (std::vector<int64_t>{1}));
    passes.begin();
    EXPECT_TRUE(passes.end(2).empty());
}

// ---- Reducing large scans ----------------------------------------------------------------------

TEST(ScanReduction, TargetPaperFromShapeAndWidth)
{
    struct Case {
        const char *name;
        QSizeF scan;
        std::optional<QSizeF> target;
    };
    const Case cases[] = {
        {"letter at 150 dpi", {1275, 1650}, QSizeF(612, 792)},
        {"letter no wider than 918", {918, 1188}, std::nullopt},
        {"just wider", {919, 1189}, QSizeF(612, 792)},
        {"letter itself", {612, 792}, std::nullopt},
        {"A4 at 150 dpi", {1240, 1754}, QSizeF(595.2755737304688, 841.8898315429688)},
        {"legal", {1275, 2100}, QSizeF(612, 1008)},
        {"letter landscape", {1650, 1275}, QSizeF(792, 612)},
        {"A4 landscape", {1754, 1240}, QSizeF(841.8898315429688, 595.2755737304688)},
        {"legal landscape", {2100, 1275}, QSizeF(1008, 612)},
        {"square", {2000, 2000}, std::nullopt},
        {"no height", {1275, 0}, std::nullopt},
        {"empty", {0, 0}, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scanTargetSize(c.scan), c.target);
    }
}

namespace {

struct FakeScanPage : ScanPage {
    bool text = false;
    int64_t imprints = 1;
    std::optional<QSizeF> proxyPixels = QSizeF(1275, 1650);
    QSizeF media = QSizeF(1275, 1650);
    int asked = 0;

    bool hasTextLines() override
    {
        ++asked;
        return text;
    }
    int64_t imprintCount() override { return imprints; }
    std::optional<QSizeF> soleProxyImagePixelSize() override { return proxyPixels; }
    QSizeF mediaBoxSize() override { return media; }
};

std::vector<int64_t> reducedPages(std::vector<FakeScanPage> &pages)
{
    std::vector<ScanPage *> list;
    for (FakeScanPage &page : pages)
        list.push_back(&page);
    std::vector<int64_t> indexes;
    for (const ScanReduction &r : scanPagesToReduce(list))
        indexes.push_back(r.pageIndex);
    return indexes;
}

} // namespace

TEST(ScanReduction, OnlyDocumentsOfPlainScansAreReduced)
{
    std::vector<FakeScanPage> scan(2);
    EXPECT_EQ(reducedPages(scan), (std::vector<int64_t>{0, 1}));

    std::vector<FakeScanPage> ocred(1);
    ocred[0].text = true;
    EXPECT_TRUE(reducedPages(ocred).empty());

    // A scanned first page and a text second page: none, though the first was fit.
    std::vector<FakeScanPage> mixed(2);
    mixed[1].text = true;
    EXPECT_TRUE(reducedPages(mixed).empty());

    // Anything but one imprint stops the walk there.
    std::vector<FakeScanPage> annotated(3);
    annotated[1].imprints = 2;
    EXPECT_TRUE(reducedPages(annotated).empty());
    EXPECT_EQ(annotated[2].asked, 0);

    // A page whose one imprint is no proxy image, or an image not at 72 pixels per inch, stays
    // as it is and the walk goes on.
    std::vector<FakeScanPage> some(3);
    some[0].proxyPixels.reset();
    some[1].proxyPixels = QSizeF(2550, 3300);
    some[2].media = QSizeF(1275.9, 1650.2); // truncated, the sizes agree
    EXPECT_EQ(reducedPages(some), (std::vector<int64_t>{2}));
}
