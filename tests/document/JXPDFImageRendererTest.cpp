#include "JXPDFImageRenderer.h"

#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "support/PdfStructure.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QPainter>
#include <QPolygonF>
#include <QTemporaryDir>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

QImage redImage(QSize size = QSize(300, 200))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
}

// The PDF of an image source drawn at its own size.
QByteArray imagePdf(const QImage &image, const QColor &color = QColor(), double imagedHeight = 0)
{
    JXPDFImageRenderer renderer(QRectF(QPointF(), image.size()));
    renderer.setImage(image, QPointF());
    if (imagedHeight != 0)
        renderer.setImagedSize(QSizeF(image.width(), imagedHeight));
    if (color.isValid())
        renderer.setColor(color);
    return renderer.pdfDataInsideRect(renderer.bounds());
}

// Re-renders `previous` (a one-page PDF of `size`) turned by `degrees` about its lower-left
// corner, into the bounding box of the turned box, as an imprint re-renders itself.
QByteArray turnedPdf(const QByteArray &previous, QSizeF size, double degrees, QRectF *turnedBox)
{
    const QTransform turn = QTransform().rotate(degrees);
    const QRectF box = turn.mapRect(QRectF(QPointF(), size));
    JXPDFImageRenderer renderer(box);
    renderer.setPDFImage(previous, QPointF());
    renderer.setTransform(turn);
    renderer.translateOriginToPoint(-box.topLeft());
    renderer.setImagedSize(size);
    *turnedBox = box;
    return renderer.pdfDataInsideRect(box);
}

bool isRed(QRgb pixel) { return qRed(pixel) > 200 && qGreen(pixel) < 100 && qBlue(pixel) < 100; }
bool isDark(QRgb pixel) { return qGray(pixel) < 128; }

// How well the red pixels of `image` (72 dpi, page `box` of page space) cover `size` turned by
// `degrees` about the origin.
double turnedRectangleIoU(const QImage &image, const QRectF &box, QSizeF size, double degrees)
{
    const QPolygonF shape = QTransform().rotate(degrees).map(QPolygonF(QRectF(QPointF(), size)));
    qsizetype both = 0, either = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QPointF point(box.x() + x + 0.5, box.y() + box.height() - (y + 0.5));
            const bool inside = shape.containsPoint(point, Qt::OddEvenFill);
            const bool red = isRed(image.pixel(x, y));
            both += inside && red;
            either += inside || red;
        }
    return either ? double(both) / double(either) : 0;
}

// A stand-in for the stroke imprint: one horizontal line across its box, 2 points wide.
class LineStandIn : public JXRendererStrokeSource {
public:
    QRectF boundsForPaths(const QList<QPainterPath> &paths, double) const override
    {
        QRectF bounds;
        for (const QPainterPath &path : paths)
            bounds |= path.boundingRect();
        return bounds;
    }
    QRectF bounds() const override { return QRectF(0, 0, 100, 100); }
    void drawInternal(QPainter &painter, const QList<QPainterPath> &paths, double lineScale) override
    {
        painter.setPen(QPen(Qt::black, 2 * lineScale, Qt::SolidLine, Qt::FlatCap));
        for (const QPainterPath &path : paths)
            painter.drawPath(path);
    }
};

// The run of dark pixels through `column` of `image` that covers row `row`.
int darkRunThrough(const QImage &image, int column, int row)
{
    int top = row, bottom = row;
    while (top > 0 && isDark(image.pixel(column, top - 1)))
        --top;
    while (bottom + 1 < image.height() && isDark(image.pixel(column, bottom + 1)))
        ++bottom;
    return isDark(image.pixel(column, row)) ? bottom - top + 1 : 0;
}

} // namespace

TEST(JXPDFImageRendererTest, NoSourceGivesAnEmptyPageOfTheFrame)
{
    QTemporaryDir dir;
    JXPDFImageRenderer renderer(QRectF(0, 0, 123.5, 45.25));
    const QString path = write(dir, QStringLiteral("empty.pdf"), renderer.pdfDataInsideRect(renderer.bounds()));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}).exitCode, 0);
    EXPECT_TRUE(runTool(QStringLiteral("pdfinfo"), {path}).out.contains("123.5 x 45.25 pts"));
    const QImage image = popplerRender(path, 72);
    ASSERT_FALSE(image.isNull());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(image.pixel(x, y), qRgb(255, 255, 255));
    EXPECT_TRUE(JXPDFImageRenderer(QRectF(0, 0, 10, 10)).pdfDataInsideRect(QRectF(0, 0, 0, 10)).isEmpty());
}

TEST(JXPDFImageRendererTest, ImageSourceBecomesOneLosslessImageOfItsSize)
{
    QTemporaryDir dir;
    const QString path = write(dir, QStringLiteral("image.pdf"), imagePdf(redImage()));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}).exitCode, 0);
    EXPECT_TRUE(runTool(QStringLiteral("pdfinfo"), {path}).out.contains("300 x 200 pts"));
    const QStringList list = QString::fromUtf8(runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path}).out)
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(list.size(), 3) << list.join(QLatin1Char('\n')).toStdString(); // two header lines, one image
    const QStringList columns = list.at(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    EXPECT_EQ(columns.at(3), QStringLiteral("300"));
    EXPECT_EQ(columns.at(4), QStringLiteral("200"));
    EXPECT_NE(columns.at(8), QStringLiteral("jpeg"));
}

TEST(JXPDFImageRendererTest, DrawnSourceOnAPageOfFractionalSizeKeepsItsTopEdge)
{
    // The red band lies along the frame's top edge; a page set to whole points below it would
    // move it down or cut it.
    QImage band(1, 1, QImage::Format_RGB32);
    band.fill(Qt::red);
    JXPDFImageRenderer renderer(QRectF(0, 0, 60.5, 40.25));
    renderer.setImage(band, QPointF(0, 30.25));
    renderer.setImagedSize(QSizeF(60.5, 10));
    QTemporaryDir dir;
    const QString path = write(dir, QStringLiteral("fraction.pdf"), renderer.pdfDataInsideRect(renderer.bounds()));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}).exitCode, 0);
    EXPECT_TRUE(runTool(QStringLiteral("pdfinfo"), {path}).out.contains("60.5 x 40.25 pts"));
    const QImage drawn = popplerRender(path, 288);
    ASSERT_EQ(drawn.size(), QSize(242, 161));
    EXPECT_TRUE(isRed(drawn.pixel(100, 1)));
    EXPECT_TRUE(isRed(drawn.pixel(100, 38)));
    EXPECT_FALSE(isRed(drawn.pixel(100, 43)));
}

TEST(JXPDFImageRendererTest, ImageFlipAndOpacity)
{
    // Top half red, bottom half blue, as the image's rows run.
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    QTemporaryDir dir;
    struct Case {
        const char *name;
        QColor color;
        double imagedHeight;
        QRgb top;
        QRgb bottom;
    };
    const Case cases[] = {
        {"upright", QColor(), 40, qRgb(255, 0, 0), qRgb(0, 0, 255)},
        {"negative height flips", QColor(), -40, qRgb(0, 0, 255), qRgb(255, 0, 0)},
        {"opaque colour draws fully", QColor(0, 0, 0, 255), 40, qRgb(255, 0, 0), qRgb(0, 0, 255)},
        {"alpha 0.5 draws half", QColor(0, 0, 0, 128), 40, qRgb(255, 127, 127), qRgb(127, 127, 255)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage drawn = popplerRender(write(dir, QStringLiteral("case.pdf"), imagePdf(image, c.color, c.imagedHeight)), 72);
        ASSERT_EQ(drawn.size(), QSize(40, 40));
        for (auto [pixel, expected] : {std::pair{drawn.pixel(20, 10), c.top}, std::pair{drawn.pixel(20, 30), c.bottom}}) {
            EXPECT_NEAR(qRed(pixel), qRed(expected), 3);
            EXPECT_NEAR(qGreen(pixel), qGreen(expected), 3);
            EXPECT_NEAR(qBlue(pixel), qBlue(expected), 3);
        }
    }
}

TEST(JXPDFImageRendererTest, TextFrameSitsInsideAndShortDashesAreIgnored)
{
    QTemporaryDir dir;
    QTextDocument text;
    struct Case {
        const char *name;
        QList<qreal> pattern;
        bool gapsOnTheTopEdge;
    };
    const Case cases[] = {{"solid", {}, false}, {"one-entry dash ignored", {3}, false}, {"two-entry dash", {6, 6}, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JXPDFImageRenderer renderer(QRectF(0, 0, 100, 60));
        renderer.setTextView(&text, QPointF(), QPointF());
        renderer.setColor(Qt::black);
        renderer.setStrokeWidth(4);
        renderer.setPatternArray(c.pattern);
        // 288 dpi: 4 pixels a point.
        const QImage drawn = popplerRender(write(dir, QStringLiteral("frame.pdf"), renderer.pdfDataInsideRect(renderer.bounds())), 288);
        ASSERT_EQ(drawn.size(), QSize(400, 240));
        // The 4-point line lies wholly inside: from the edge to 4 points in, then white (a
        // dashed line somewhere along the edge).
        int depth = 0;
        for (int x = 150; x < 250; ++x)
            depth = std::max(depth, darkRunThrough(drawn, x, 0));
        EXPECT_EQ(depth, 16);
        EXPECT_FALSE(isDark(drawn.pixel(200, 17)));
        int gaps = 0;
        for (int x = 20; x < 380; ++x)
            gaps += !isDark(drawn.pixel(x, 8));
        EXPECT_EQ(gaps > 0, c.gapsOnTheTopEdge) << gaps;
    }
}

TEST(JXPDFImageRendererTest, StrokeLineScaleKeepsTheWidthInPoints)
{
    struct Case {
        const char *name;
        QTransform transform;
        double lineScale;
    };
    const Case cases[] = {
        {"identity", QTransform(), 1.0},
        {"turned 30 degrees", QTransform().rotate(30), 1.0},
        {"turned 45 degrees", QTransform().rotate(45), 1.0},
        {"scaled by 2", QTransform::fromScale(2, 2), 0.5},
        {"stretched 4 by 1", QTransform::fromScale(4, 1), 0.5},
        {"singular", QTransform::fromScale(0, 1), 1.0},
    };
    for (const Case &c : cases) {
        JXPDFImageRenderer renderer(QRectF(0, 0, 10, 10));
        renderer.setTransform(c.transform);
        EXPECT_NEAR(renderer.lineScale(), c.lineScale, 1e-12) << c.name;
    }

    LineStandIn stroke;
    QPainterPath line;
    line.moveTo(0, 50);
    line.lineTo(100, 50);
    QPainterPath corner;
    corner.addRect(0, 0, 100, 100);
    JXPDFImageRenderer renderer(QRectF(0, 0, 100, 100));
    renderer.setStroke(&stroke, {corner, line}, QPointF());
    QTemporaryDir dir;
    const QImage drawn = popplerRender(write(dir, QStringLiteral("stroke.pdf"), renderer.pdfDataInsideRect(renderer.bounds())), 288);
    ASSERT_EQ(drawn.size(), QSize(400, 400));
    EXPECT_EQ(darkRunThrough(drawn, 200, 200), 8);
}

TEST(JXPDFImageRendererTest, TurnedImageStaysOneImageAndMatchesTheTurnedRectangle)
{
    QTemporaryDir dir;
    const QSizeF size(300, 200);
    const QByteArray first = imagePdf(redImage());
    QRectF box;
    const QString turned = write(dir, QStringLiteral("turned.pdf"), turnedPdf(first, size, 30, &box));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), turned}).exitCode, 0);
    const QImage drawn = popplerRender(turned, 72);
    // The drawing covers partly covered pixels too.
    EXPECT_EQ(drawn.size(), QSize(int(std::ceil(box.width())), int(std::ceil(box.height()))));
    EXPECT_GT(turnedRectangleIoU(drawn, box, size, 30), 0.98);

    // Each re-rendering starts from the first one with the total turn, so nothing nests.
    QString last;
    for (int step = 1; step <= 9; ++step) {
        last = write(dir, QStringLiteral("step%1.pdf").arg(step), turnedPdf(first, size, 10 * step, &box));
        EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), last}).exitCode, 0);
    }
    const QJsonObject objects = qpdfObjects(last);
    EXPECT_EQ(qpdfImages(objects).size(), 1);
    EXPECT_EQ(qpdfFormNesting(objects), 1);
    EXPECT_TRUE(runTool(QStringLiteral("pdfinfo"), {last}).out.contains("200 x 300 pts"));
    EXPECT_GT(turnedRectangleIoU(popplerRender(last, 72), box, size, 90), 0.98);
}

TEST(JXPDFImageRendererTest, TextSourceKeepsItsTextWhenRenderedAgainTurned)
{
    QTemporaryDir dir;
    QTextDocument text;
    text.setPlainText(QStringLiteral("Hello, wörld"));
    const QSizeF size = text.size();
    JXPDFImageRenderer renderer(QRectF(QPointF(), size));
    renderer.setTextView(&text, QPointF(), QPointF());
    const QByteArray first = renderer.pdfDataInsideRect(renderer.bounds());
    const QString firstPath = write(dir, QStringLiteral("text.pdf"), first);
    EXPECT_TRUE(QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {firstPath, QStringLiteral("-")}).out).contains(QStringLiteral("Hello, wörld")));

    QRectF box;
    const QString turned = write(dir, QStringLiteral("turned.pdf"), turnedPdf(first, size, 30, &box));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), turned}).exitCode, 0);
    const QString again = QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), turned, QStringLiteral("-")}).out);
    EXPECT_TRUE(again.contains(QStringLiteral("Hello, wörld"))) << again.toStdString();
}

TEST(JXPDFImageRendererTest, PDFSourcesThatDoNotOpenDrawAnEmptyPage)
{
    QTemporaryDir dir;
    JXPDFImageRenderer renderer(QRectF(0, 0, 50, 40));
    renderer.setPDFImage("%PDF-1.4 nothing else", QPointF());
    const QString path = write(dir, QStringLiteral("broken.pdf"), renderer.pdfDataInsideRect(renderer.bounds()));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}).exitCode, 0);
    EXPECT_TRUE(runTool(QStringLiteral("pdfinfo"), {path}).out.contains("50 x 40 pts"));

    auto imprint = KVPDFImprint::imprintWithData("not a PDF", QPointF());
    JXPDFImageRenderer fromImprint(QRectF(0, 0, 50, 40));
    fromImprint.setPDFImprint(imprint.get(), QPointF());
    EXPECT_TRUE(runTool(QStringLiteral("pdfinfo"), {write(dir, QStringLiteral("imprint.pdf"), fromImprint.pdfDataInsideRect(fromImprint.bounds()))})
                    .out.contains("50 x 40 pts"));
}

TEST(JXPDFImageRendererTest, PainterOutputDrawsTheSameSources)
{
    // An engine imprint of the red image, drawn turned a quarter into a 200 x 300 bitmap.
    auto imprint = KVPDFImprint::imprintWithData(imagePdf(redImage()), QPointF());
    const QRectF box(-200, 0, 200, 300);
    JXPDFImageRenderer renderer(box);
    renderer.setPDFImprint(imprint.get(), QPointF());
    renderer.setTransform(QTransform().rotate(90));
    renderer.translateOriginToPoint(-box.topLeft());
    renderer.setImagedSize(QSizeF(300, 200));
    QImage bitmap(200, 300, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    {
        QPainter painter(&bitmap);
        renderer.drawInto(painter, box);
    }
    EXPECT_GT(turnedRectangleIoU(bitmap, box, QSizeF(300, 200), 90), 0.98);

    // The application page's base image comes from the installed drawer.
    int calls = 0;
    JXPDFImageRenderer::setBaseImageDrawer([&calls](QPainter &painter, JXFolivoPage *, double scale, JXPDFImager *) {
        ++calls;
        EXPECT_EQ(scale, 2.0);
        painter.fillRect(QRectF(0, 0, 10, 10), Qt::red);
    });
    JXPDFImageRenderer pageRenderer(QRectF(0, 0, 20, 20));
    pageRenderer.setJXPDFPage(reinterpret_cast<JXFolivoPage *>(&calls), 2.0, nullptr);
    QImage pageBitmap(20, 20, QImage::Format_RGB32);
    pageBitmap.fill(Qt::white);
    {
        QPainter painter(&pageBitmap);
        pageRenderer.drawInto(painter, pageRenderer.bounds());
    }
    JXPDFImageRenderer::setBaseImageDrawer({});
    EXPECT_EQ(calls, 1);
    // y grows upward: the drawer's square at the origin shows at the bitmap's bottom left.
    EXPECT_TRUE(isRed(pageBitmap.pixel(5, 15)));
    EXPECT_FALSE(isRed(pageBitmap.pixel(5, 5)));
}
