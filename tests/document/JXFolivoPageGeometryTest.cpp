// A page's geometry on documents read from small files made here: rectangles and offsets of a
// cropped page, turning it (its objects along, the change reported and counted), hit tests in
// the turned view, and the painter set up for drawing the unturned page.
#include "JXFolivoDocument.h"
#include "JXFolivoGeometry.h"
#include "JXFolivoImprint.h"
#include "JXFolivoPage.h"
#include "KVNotificationCenter.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<JXFolivoDocument> readDocument(const PdfBuilder &builder)
{
    auto document = std::make_unique<JXFolivoDocument>();
    EXPECT_TRUE(document->readFromData(builder.build(), JXFolivoDocument::pdfTypeName()));
    return document;
}

// Stands in for an imprint whose geometry follows its page: it keeps a box and moves it.
class TurnedBox : public JXFolivoImprint {
public:
    explicit TurnedBox(QRectF box) : box(box) { }
    QRectF bounds() const override { return box; }
    void transform(const QTransform &turn) override { box = turn.mapRect(box); }
    void resized() override { ++resizes; }

    QRectF box;
    int resizes = 0;
};

void expectRect(QRectF actual, QRectF expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9);
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9);
}

} // namespace

TEST(JXFolivoPageGeometry, CroppedPageBoundsAndOffsetsTurnWithIt)
{
    auto document = readDocument(PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]"));
    ASSERT_EQ(document->pageCount(), 1u);
    JXFolivoPage &page = *document->pages()[0];
    EXPECT_EQ(page.bounds(), QRectF(0, 0, 540, 720));
    EXPECT_EQ(page.boundsWithoutRotation(), QRectF(0, 0, 540, 720));
    EXPECT_EQ(page.pageOriginOffset(), QPointF(36, 36));
    EXPECT_EQ(page.croppedMediaBox(), QRectF(36, 36, 540, 720));

    page.setRotation(90);
    EXPECT_EQ(page.rotation(), 90u);
    EXPECT_EQ(page.bounds(), QRectF(0, 0, 720, 540));
    EXPECT_EQ(page.boundsWithoutRotation(), QRectF(0, 0, 540, 720));
}

TEST(JXFolivoPageGeometry, SetRotationTakesQuarterTurnsOnlyAndCountsTheEdit)
{
    auto document = readDocument(PdfBuilder::withPages(1));
    JXFolivoPage &page = *document->pages()[0];

    page.setRotation(45);
    EXPECT_EQ(page.rotation(), 0u);
    EXPECT_EQ(document->changeCount(), 0);
    page.setRotation(0);
    EXPECT_EQ(document->changeCount(), 0) << "already there";

    page.setRotation(90);
    EXPECT_EQ(page.rotation(), 90u);
    EXPECT_EQ(page.bounds(), QRectF(0, 0, 792, 612));
    EXPECT_EQ(document->changeCount(), 1);

    page.setRotation(270);
    EXPECT_EQ(page.rotation(), 270u);
    page.setRotation(0);
    EXPECT_EQ(page.rotation(), 0u);
    EXPECT_EQ(page.bounds(), QRectF(0, 0, 612, 792));
    EXPECT_EQ(document->changeCount(), 3);
    EXPECT_EQ(page.pdfPage()->rotate(), 0) << "stored in the page dictionary";
}

TEST(JXFolivoPageGeometry, TurningCarriesObjectsAndReportsTheNewAndOldBounds)
{
    auto document = readDocument(PdfBuilder::withPages(1));
    JXFolivoPage &page = *document->pages()[0];
    auto box = std::make_shared<TurnedBox>(QRectF(0, 0, 100, 50)); // at the lower left corner
    page.insertImprint(box, 0);
    box->resizes = 0; // going onto the page settles it once

    QVariantMap reported;
    KVObservation observation = KVNotificationCenter::defaultCenter().observe(
        JXFolivoDocument::pagesChangedNotification(), document.get(),
        [&](const KVNotification &notification) { reported = notification.userInfo; });

    page.rotatePage(90);
    EXPECT_EQ(page.rotation(), 270u);
    EXPECT_EQ(page.bounds(), QRectF(0, 0, 792, 612));
    EXPECT_EQ(page.appliedRotation(), 90);
    expectRect(box->box, QRectF(742, 0, 50, 100)); // at the lower right corner
    EXPECT_EQ(box->resizes, 1);
    EXPECT_EQ(reported.value(JXFolivoDocument::imprintRectKey()).toRectF(), QRectF(0, 0, 792, 612));
    EXPECT_EQ(reported.value(JXFolivoDocument::imprintPrevRectKey()).toRectF(), QRectF(0, 0, 612, 792));
    EXPECT_FALSE(reported.contains(JXFolivoDocument::imprintKey()));

    page.rotatePage(-90);
    EXPECT_EQ(page.rotation(), 0u);
    EXPECT_EQ(page.bounds(), QRectF(0, 0, 612, 792));
    EXPECT_EQ(page.appliedRotation(), 0);
    expectRect(box->box, QRectF(0, 0, 100, 50));

    // A Rotate must be a quarter turn: anything else would store a value no reader honours.
    page.rotatePage(45);
    EXPECT_EQ(page.rotation(), 0u);
    EXPECT_EQ(page.appliedRotation(), 0);
    expectRect(box->box, QRectF(0, 0, 100, 50));
}

TEST(JXFolivoPageGeometry, TurnedViewPointsFindTheTextUnderThem)
{
    QByteArray widths;
    for (int code = 32; code <= 126; ++code)
        widths += " 500";
    const QByteArray content = "BT /F1 10 Tf 100 700 Td (abc) Tj ET";
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Rotate 90 /Contents 5 0 R /Resources << /Font << /F1 10 0 R >> >>");
    b.add(5, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 32 /LastChar 126 /Widths [" + widths + "] >>");
    auto document = readDocument(b);
    JXFolivoPage &page = *document->pages()[0];
    ASSERT_EQ(page.rotation(), 90u);

    // (107, 702) on the page shows at (702, 612 - 107) in the view turned clockwise.
    const QPointF inView(702, 505);
    EXPECT_EQ(page.reverseTransformPointForRotatedPage(inView), QPointF(107, 702));
    EXPECT_EQ(page.charPositionInPageAtPoint(inView), 1);
    EXPECT_TRUE(page.hasCharPositionInPageAtPoint(inView, 0));
    EXPECT_FALSE(page.hasCharPositionInPageAtPoint(QPointF(702, 100), 0));
    EXPECT_EQ(page.charPositionInPageAtPoint(QPointF(10, 10)), 3) << "far from the text: the closest character";
}

TEST(JXFolivoPageGeometry, QuadPointsPathsAndPainterFollowThePageTransform)
{
    auto document = readDocument(PdfBuilder::withPages(2, "/MediaBox [0 0 612 792]"));
    JXFolivoPage &flat = *document->pages()[0];
    JXFolivoPage &turned = *document->pages()[1];
    turned.setRotation(270);

    const std::vector<QPointF> quad = {{0, 0}, {612, 0}, {0, 792}, {100, 50}};
    EXPECT_EQ(flat.quadPointsWithPageRotation(quad), quad);
    EXPECT_FALSE(flat.pageTransform());
    const std::vector<QPointF> turnedQuad = turned.quadPointsWithPageRotation(quad);
    ASSERT_EQ(turnedQuad.size(), quad.size());
    const std::vector<QPointF> expected = {{792, 0}, {792, 612}, {0, 0}, {742, 100}};
    for (size_t i = 0; i < quad.size(); ++i) {
        EXPECT_NEAR(turnedQuad[i].x(), expected[i].x(), 1e-9) << i;
        EXPECT_NEAR(turnedQuad[i].y(), expected[i].y(), 1e-9) << i;
    }

    QPainterPath path;
    path.addRect(0, 0, 100, 50);
    expectRect(turned.bezierPathWithPageRotation(path).boundingRect(), QRectF(742, 0, 50, 100));

    QImage canvas(10, 10, QImage::Format_RGB32);
    QPainter painter(&canvas);
    EXPECT_FALSE(flat.setupPageRotation(painter));
    ASSERT_TRUE(turned.setupPageRotation(painter));
    EXPECT_EQ(painter.transform(), *turned.pageTransform());
    painter.restore();
    EXPECT_TRUE(painter.transform().isIdentity());
}
