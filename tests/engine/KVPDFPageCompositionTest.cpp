#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVPDFPageComposition.h"
#include "support/PdfBuilder.h"
#include "support/PdfStructure.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A page whose text uses a font inherited from the page tree, a filled square, and a second
// content stream, so the composition has to join streams and find inherited resources.
QByteArray sourcePdf(const QByteArray &pageKeys = "/MediaBox [0 0 200 100]")
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /Resources << /Font << /F1 6 0 R >> >> >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R " + pageKeys + " /Contents [4 0 R 5 0 R] >>");
    const QByteArray first = "0 0 1 rg 10 10 30 30 re f";
    const QByteArray second = "BT /F1 12 Tf 50 40 Td (Composed words) Tj ET";
    b.add(4, "<< /Length " + QByteArray::number(first.size()) + " >>\nstream\n" + first + "\nendstream");
    b.add(5, "<< /Length " + QByteArray::number(second.size()) + " >>\nstream\n" + second + "\nendstream");
    b.add(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b.build();
}

QByteArray layerPdf()
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 200 100] /Contents 4 0 R /Resources << /Font << /F9 5 0 R >> >>");
    const QByteArray text = "BT /F9 10 Tf 5 80 Td (Layer words) Tj ET";
    b.add(4, "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "\nendstream");
    b.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    return b.build();
}

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

} // namespace

TEST(KVPDFPageCompositionTest, TurnedFadedPageKeepsItsTextAndGainsTheLayer)
{
    auto document = KVPDFDocument::documentWithData(sourcePdf(), nullptr);
    ASSERT_TRUE(document && document->pageCount() == 1);
    KVPDFPageComposition composition;
    composition.mediaBox = QRectF(0, 0, 300, 300);
    composition.transform = QTransform().rotate(30) * QTransform::fromTranslate(100, 20);
    composition.opacity = 0.5;
    composition.layer = layerPdf();
    QString error;
    const QByteArray data = KVPDFPageComposer::compose(document->pageAtIndex(0).get(), composition, &error);
    ASSERT_FALSE(data.isEmpty()) << qPrintable(error);

    QTemporaryDir dir;
    const QString path = write(dir, QStringLiteral("composed.pdf"), data);
    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    const ToolResult text = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), path, QStringLiteral("-")});
    EXPECT_TRUE(text.out.contains("Composed words")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("Layer words")) << text.out.toStdString();

    const QJsonObject objects = qpdfObjects(path);
    EXPECT_EQ(qpdfFormNesting(objects), 1);
    // Only the source fades, as one group; the layer stays opaque.
    const QByteArray json = QJsonDocument(objects).toJson(QJsonDocument::Compact);
    EXPECT_EQ(json.count("\"/Group\":{\"/S\":\"/Transparency\"}"), 1) << json.toStdString();
    EXPECT_EQ(json.count("\"/CA\":0.5"), 1);
    EXPECT_EQ(json.count("\"/ca\":0.5"), 1);
}

TEST(KVPDFPageCompositionTest, PlacementAndOpacityShowInTheDrawing)
{
    auto document = KVPDFDocument::documentWithData(sourcePdf(), nullptr);
    ASSERT_TRUE(document);
    QTemporaryDir dir;
    struct Case {
        const char *name;
        QTransform transform;
        std::optional<QRectF> clip;
        double opacity;
        QPoint bluePixel;   // in 72 dpi pixels, y down on a 200 x 100 page
        QPoint whitePixel;
        int blueLevel;      // the blue pixel's red channel: 0 opaque, about 128 at half
    };
    const Case cases[] = {
        {"identity", QTransform(), std::nullopt, 1.0, {25, 75}, {25, 40}, 0},
        {"moved", QTransform::fromTranslate(100, 50), std::nullopt, 1.0, {125, 25}, {25, 75}, 0},
        {"clipped away", QTransform(), QRectF(100, 0, 100, 100), 1.0, {-1, -1}, {25, 75}, 0},
        {"half opacity", QTransform(), std::nullopt, 0.5, {25, 75}, {25, 40}, 128},
        {"opacity clamped to one", QTransform(), std::nullopt, 7.0, {25, 75}, {25, 40}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFPageComposition composition;
        composition.mediaBox = QRectF(0, 0, 200, 100);
        composition.transform = c.transform;
        composition.clip = c.clip;
        composition.opacity = c.opacity;
        const QByteArray data = KVPDFPageComposer::compose(document->pageAtIndex(0).get(), composition);
        ASSERT_FALSE(data.isEmpty());
        const QImage image = popplerRender(write(dir, QStringLiteral("case.pdf"), data), 72);
        ASSERT_EQ(image.size(), QSize(200, 100));
        EXPECT_EQ(image.pixelColor(c.whitePixel), QColor(Qt::white));
        if (c.bluePixel.x() >= 0) {
            const QColor blue = image.pixelColor(c.bluePixel);
            EXPECT_NEAR(blue.red(), c.blueLevel, 3);
            EXPECT_EQ(blue.blue(), 255);
        } else {
            EXPECT_EQ(image.pixelColor(25, 75), QColor(Qt::white));
        }
    }
}

TEST(KVPDFPageCompositionTest, UprightTransformShowsTheCropBoxTurnedByRotate)
{
    // A 200 x 100 media box cropped to 20..120 x 10..70 (100 x 60).
    for (int rotate : {0, 90, 180, 270}) {
        SCOPED_TRACE(rotate);
        auto document = KVPDFDocument::documentWithData(
            sourcePdf("/MediaBox [0 0 200 100] /CropBox [20 10 120 70] /Rotate " + QByteArray::number(rotate)), nullptr);
        ASSERT_TRUE(document);
        KVPDFPage &page = *document->pageAtIndex(0);
        EXPECT_EQ(KVPDFPageComposer::visibleBox(page), QRectF(20, 10, 100, 60));
        const QTransform upright = KVPDFPageComposer::uprightTransform(page);
        const QRectF shown = upright.mapRect(QRectF(20, 10, 100, 60));
        const QSizeF expected = rotate % 180 ? QSizeF(60, 100) : QSizeF(100, 60);
        EXPECT_NEAR(shown.x(), 0, 1e-9);
        EXPECT_NEAR(shown.y(), 0, 1e-9);
        EXPECT_NEAR(shown.width(), expected.width(), 1e-9);
        EXPECT_NEAR(shown.height(), expected.height(), 1e-9);
        // The crop box's top-left corner as shown: where a clockwise turn by /Rotate takes it.
        const QPointF topLeft = upright.map(QPointF(20, 70));
        const QPointF shownTopLeft[] = {{0, 60}, {60, 100}, {100, 0}, {0, 0}};
        EXPECT_NEAR(topLeft.x(), shownTopLeft[rotate / 90].x(), 1e-9);
        EXPECT_NEAR(topLeft.y(), shownTopLeft[rotate / 90].y(), 1e-9);
    }
}

TEST(KVPDFPageCompositionTest, BadInputGivesNoDataAndSaysWhy)
{
    auto document = KVPDFDocument::documentWithData(sourcePdf(), nullptr);
    ASSERT_TRUE(document);
    const double nan = std::nan("");
    struct Case {
        const char *name;
        QRectF mediaBox;
        QTransform transform;
        std::optional<QRectF> clip;
        double opacity;
        QByteArray layer;
    };
    const Case cases[] = {
        {"empty media box", QRectF(0, 0, 0, 100), QTransform(), std::nullopt, 1, {}},
        {"infinite media box", QRectF(0, 0, INFINITY, 100), QTransform(), std::nullopt, 1, {}},
        {"singular transform", QRectF(0, 0, 10, 10), QTransform::fromScale(0, 1), std::nullopt, 1, {}},
        {"not finite transform", QRectF(0, 0, 10, 10), QTransform(nan, 0, 0, 1, 0, 0), std::nullopt, 1, {}},
        {"perspective transform", QRectF(0, 0, 10, 10), QTransform(1, 0, 0.001, 0, 1, 0, 0, 0, 1), std::nullopt, 1, {}},
        {"not finite clip", QRectF(0, 0, 10, 10), QTransform(), QRectF(0, 0, nan, 1), 1, {}},
        {"opacity not a number", QRectF(0, 0, 10, 10), QTransform(), std::nullopt, nan, {}},
        {"layer not a PDF", QRectF(0, 0, 10, 10), QTransform(), std::nullopt, 1, "not a PDF at all"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFPageComposition composition{c.mediaBox, c.transform, c.clip, c.opacity, c.layer};
        QString error;
        EXPECT_TRUE(KVPDFPageComposer::compose(document->pageAtIndex(0).get(), composition, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(KVPDFPageCompositionTest, WithoutASourceThePageHoldsTheLayerOrNothing)
{
    QTemporaryDir dir;
    KVPDFPageComposition composition;
    composition.mediaBox = QRectF(0, 0, 123.5, 45.25);
    const QString empty = write(dir, QStringLiteral("empty.pdf"), KVPDFPageComposer::compose(nullptr, composition));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), empty}).exitCode, 0);
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {empty});
    EXPECT_TRUE(info.out.contains("123.5 x 45.25 pts")) << info.out.toStdString();

    composition.mediaBox = QRectF(0, 0, 200, 100);
    composition.layer = layerPdf();
    const QString layered = write(dir, QStringLiteral("layer.pdf"), KVPDFPageComposer::compose(nullptr, composition));
    const ToolResult text = runTool(QStringLiteral("pdftotext"), {layered, QStringLiteral("-")});
    EXPECT_TRUE(text.out.contains("Layer words")) << text.out.toStdString();
}

TEST(KVPDFPageCompositionCorpusTest, TracemonkeyTurnedAndFadedKeepsItsWords)
{
    const QString source = corpusDir() + QStringLiteral("/pdfjs/tracemonkey.pdf");
    if (!QFile::exists(source))
        GTEST_SKIP() << "no corpus";
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("turned.pdf"));
    const ToolResult probe = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     {QStringLiteral("compose"), source, QStringLiteral("--page"), QStringLiteral("1"),
                                      QStringLiteral("--rotate"), QStringLiteral("30"), QStringLiteral("--opacity"),
                                      QStringLiteral("0.5"), QStringLiteral("-o"), out});
    ASSERT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), out}).exitCode, 0);

    auto words = [](const QString &path, const QStringList &range) {
        const ToolResult text = runTool(QStringLiteral("pdftotext"), QStringList{QStringLiteral("-raw")} + range + QStringList{path, QStringLiteral("-")});
        return QString::fromUtf8(text.out).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    };
    const QStringList before = words(source, {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1")});
    const QStringList after = words(out, {});
    ASSERT_GT(before.size(), 500);
    const QSet<QString> kept(after.begin(), after.end());
    qsizetype found = 0;
    for (const QString &word : before)
        found += kept.contains(word);
    // Turned text may split a word where the extractor guesses the line apart; nearly all stay.
    EXPECT_GT(double(found) / double(before.size()), 0.95) << found << " of " << before.size();
    EXPECT_TRUE(kept.contains(QStringLiteral("Trace-based")));
    EXPECT_EQ(qpdfFormNesting(qpdfObjects(out)), 1);
}
