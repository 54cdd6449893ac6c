// Pages drawn by the imager, both ways, against pdftoppm's drawing of the crop box without
// annotations at the same resolution. The drawings and the peer's are kept as PNG files in
// the test's working folder (imager-peer/) for looking at.
#include "JXPDFImager.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <poppler-qt6.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct PeerCase {
    const char *name;
    QString path; // a corpus file, or empty for a fixture made here
    QByteArray fixture;
};

void PrintTo(const PeerCase &c, std::ostream *os) { *os << c.name; }

// Pages with text, a turned page and a crop box away from the origin, also turned; dark
// quarters make a misplaced drawing differ on a large area.
QByteArray croppedFixture()
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
    const QByteArray content = "0.9 0.9 0.6 rg 0 0 612 792 re f 0.3 g 0 0 306 396 re f 306 396 306 396 re f 0 0 1 RG 4 w 40 40 m 570 750 l S 1 0 0 rg 36 36 60 60 re f "
                               "BT /F1 24 Tf 72 700 Td (Cropped page, top left) Tj ET "
                               "BT /F1 18 Tf 300 60 Td (bottom right) Tj ET";
    const QByteArray resources = "/Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >> >> >>";
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /CropBox [36 24 576 768] " + resources + " /Contents 4 0 R >>");
    b.add(4, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    b.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /CropBox [20 50 580 700] /Rotate 90 " + resources
                 + " /Contents 4 0 R >>");
    return b.build();
}

QString outputDir()
{
    const QString dir = QDir::current().filePath(QStringLiteral("imager-peer"));
    QDir().mkpath(dir);
    return dir;
}

// Mean absolute channel difference in 0..255 over the pixels both images have, a band of
// `edge` pixels along the sides left out (the two renderers round the page's size each their
// own way).
double meanDifference(const QImage &a, const QImage &b, int edge = 2)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(x.width(), y.width()) - edge;
    const int h = std::min(x.height(), y.height()) - edge;
    double sum = 0;
    qint64 count = 0;
    for (int row = edge; row < h; ++row) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = edge; col < w; ++col) {
            sum += std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col]))
                   + std::abs(qBlue(p[col]) - qBlue(q[col]));
            count += 3;
        }
    }
    return count ? sum / double(count) : 255;
}

// The engine's way: the page as it displays, top-left at the origin, y down.
QImage drawnTheEngineWay(JXPDFImager &imager, int page, int dpi, QSize size)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.scale(dpi / 72.0, dpi / 72.0);
    imager.drawPage(page, 0.0, painter);
    return canvas;
}

// The page-space way, as a page bitmap at a resolution is made: y up, the crop box's corner
// at the origin, turned by what undoes the page's own Rotate.
QImage drawnInPageSpace(JXPDFImager &imager, int page, int dpi, QSize size, int rotate)
{
    const QRectF crop = imager.boundsOfPage(page);
    const double shownHeight = rotate % 180 ? crop.width() : crop.height();
    const double k = dpi / 72.0;
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.translate(0, shownHeight * k);
    painter.scale(k, -k);
    imager.drawPage(page, (360 - rotate) % 360, true, painter);
    return canvas;
}

class JXPDFImagerPeer : public testing::TestWithParam<PeerCase> { };

TEST_P(JXPDFImagerPeer, EveryPageMatchesPdftoppmBothWaysAtOneAndTwoTimes)
{
    const PeerCase &c = GetParam();
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    QString path = c.path;
    if (path.isEmpty()) {
        path = temp.filePath(QStringLiteral("fixture.pdf"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.fixture);
    } else {
        path = QDir(corpusDir()).filePath(path);
        if (!QFile::exists(path))
            GTEST_SKIP() << "no corpus file " << path.toStdString();
    }
    if (QString(c.name) == QLatin1String("turnedByQpdf")) {
        const QString turned = temp.filePath(QStringLiteral("turned.pdf"));
        const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--rotate=+90:1"), path, turned});
        ASSERT_TRUE(qpdf.started) << "qpdf missing";
        ASSERT_TRUE(qpdf.exitCode == 0 || qpdf.exitCode == 3) << qpdf.err.toStdString();
        path = turned;
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    const std::shared_ptr<JXPDFImager> imager = JXPDFImager::imagerWithData(data);
    ASSERT_TRUE(imager);
    ASSERT_GT(imager->pageCount(), 0);
    // Each page's own Rotate, read apart from the imager.
    std::vector<int> rotations;
    {
        const std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(data);
        ASSERT_TRUE(document);
        for (int page = 0; page < document->numPages(); ++page) {
            const Poppler::Page::Orientation o = document->page(page)->orientation();
            rotations.push_back(o == Poppler::Page::Landscape ? 90 : o == Poppler::Page::UpsideDown ? 180 : o == Poppler::Page::Seascape ? 270 : 0);
        }
    }

    for (int dpi : {72, 144}) {
        const QString prefix = temp.filePath(QStringLiteral("peer%1").arg(dpi));
        const ToolResult peer = runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-cropbox"),
                                                                     QStringLiteral("-hide-annotations"), path, prefix});
        ASSERT_TRUE(peer.started) << "pdftoppm missing (poppler-utils)";
        ASSERT_EQ(peer.exitCode, 0) << peer.err.toStdString();
        const QStringList made = QDir(temp.path()).entryList({QStringLiteral("peer%1-*.ppm").arg(dpi)}, QDir::Files, QDir::Name);
        ASSERT_EQ(made.size(), imager->pageCount());
        for (int page = 0; page < imager->pageCount(); ++page) {
            SCOPED_TRACE(testing::Message() << c.name << " page " << page + 1 << " at " << dpi);
            const QImage expected(temp.filePath(made[page]));
            ASSERT_FALSE(expected.isNull());
            const int rotate = rotations[size_t(page)];
            const QImage engineWay = drawnTheEngineWay(*imager, page, dpi, expected.size());
            const QImage pageSpace = drawnInPageSpace(*imager, page, dpi, expected.size(), rotate);
            const QString stem = QStringLiteral("%1/%2-p%3-%4dpi").arg(outputDir(), QLatin1String(c.name)).arg(page + 1).arg(dpi);
            engineWay.save(stem + QStringLiteral("-engine.png"));
            pageSpace.save(stem + QStringLiteral("-pagespace.png"));
            expected.save(stem + QStringLiteral("-pdftoppm.png"));
            EXPECT_LT(meanDifference(engineWay, expected), 2.0);
            EXPECT_LT(meanDifference(pageSpace, expected), 2.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, JXPDFImagerPeer,
                         testing::Values(PeerCase{"annotationsRotated90", QStringLiteral("qpdf/annotations-rotated-90.pdf"), {}},
                                         PeerCase{"tracemonkey", QStringLiteral("pdfjs/tracemonkey.pdf"), {}},
                                         PeerCase{"alphatrans", QStringLiteral("pdfjs/alphatrans.pdf"), {}},
                                         PeerCase{"turnedByQpdf", QString(), croppedFixture()},
                                         PeerCase{"cropped", QString(), croppedFixture()}),
                         [](const testing::TestParamInfo<PeerCase> &info) { return std::string(info.param.name); });

} // namespace
