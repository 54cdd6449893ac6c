// The roads from images, Word files and nothing to PDF data, checked with the peer tools
// (qpdf, pdfimages, pdfinfo, tiffcp, soffice) on fixtures made here.
#include "JXFolivoImport.h"

#include "KVPDFImprint.h"
#include "KVProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <poppler-qt6.h>

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <sys/stat.h>

#include <memory>

namespace {

using jximport::FileKind;

QByteArray encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
    return data;
}

// qpdf --check passes (exit 0, or 3 for warnings only, which it also gives for files it fixes
// would be a fault here: only 0 is accepted).
void expectQpdfClean(const QTemporaryDir &dir, const QByteArray &pdf, const char *what)
{
    ASSERT_FALSE(pdf.isEmpty()) << what;
    const QString path = writeFile(dir, QStringLiteral("check.pdf"), pdf);
    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    EXPECT_EQ(check.exitCode, 0) << what << "\n" << check.out.constData() << check.err.constData();
}

// pdfimages -list rows: type, width, height, colour, components, bpc, enc.
struct ListedImage {
    QString type;
    int width = 0;
    int height = 0;
    QString color;
    int bpc = 0;
    QString enc;
};

std::vector<ListedImage> listImages(const QTemporaryDir &dir, const QByteArray &pdf)
{
    const QString path = writeFile(dir, QStringLiteral("list.pdf"), pdf);
    const ToolResult list = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
    EXPECT_EQ(list.exitCode, 0) << list.err.constData();
    std::vector<ListedImage> images;
    const QList<QByteArray> lines = list.out.split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QStringList cells = QString::fromLatin1(lines[i]).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (cells.size() < 10)
            continue;
        images.push_back({cells[2], cells[3].toInt(), cells[4].toInt(), cells[5], cells[7].toInt(), cells[8]});
    }
    return images;
}

// "W x H" of each page, as pdfinfo prints it.
QStringList pageSizes(const QTemporaryDir &dir, const QByteArray &pdf, const QString &name = QStringLiteral("sizes.pdf"))
{
    const QString path = writeFile(dir, name, pdf);
    const ToolResult info =
        runTool(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("9999"), path});
    EXPECT_EQ(info.exitCode, 0) << info.err.constData();
    QStringList sizes;
    static const QRegularExpression line(QStringLiteral("^Page +\\d+ size: +([0-9.]+ x [0-9.]+) pts"), QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(QString::fromLatin1(info.out)); it.hasNext();)
        sizes << it.next().captured(1);
    return sizes;
}

QImage render(const QByteArray &pdf, int page = 0, double dpi = 72)
{
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->numPages() <= page)
        return {};
    std::unique_ptr<Poppler::Page> p = document->page(page);
    return p ? p->renderToImage(dpi, dpi) : QImage();
}

bool near(QRgb a, QRgb b, int tolerance = 12)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A picture that compresses like a photograph: gradients with noise.
QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(40));
            image.setPixel(x, y, qRgb((x * 255 / width + noise) % 256, (y * 255 / height + noise) % 256, (x + y + noise) % 256));
        }
    return image;
}

constexpr int kDotsPerMeterAt72 = 2835; // 72.009 ppi, what 72 ppi is stored as

// PNG bytes without their pHYs chunk, so the file states no resolution.
QByteArray withoutPhys(const QByteArray &png)
{
    QByteArray out = png.left(8);
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const auto *p = reinterpret_cast<const uchar *>(png.constData() + at);
        const qsizetype length = qsizetype(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (png.mid(at + 4, 4) != "pHYs")
            out += png.mid(at, 12 + length);
        at += 12 + length;
    }
    return out;
}

// A JPEG with an EXIF orientation inserted after its start marker.
QByteArray withOrientation(const QByteArray &jpeg, int orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    tiff += QByteArray("\0\x01", 2);                                              // one entry
    tiff += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8) + char(0) + char(orientation) + QByteArray(2, 0);
    tiff += QByteArray(4, 0);                                                      // no next IFD
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment += char((body.size() + 2) >> 8);
    segment += char((body.size() + 2) & 0xFF);
    segment += body;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

TEST(JXFolivoImportTest, FileKindComesFromTheBytesNotTheName)
{
    QImage small(4, 3, QImage::Format_RGB32);
    small.fill(Qt::red);
    QByteArray compound = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(504, '\0');
    QByteArray compoundWord = compound + QByteArray("R\0o\0o\0t\0", 8) + QByteArray(56, '\0') + QByteArray("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t\0", 24);
    QByteArray compoundSheet = compound + QByteArray("W\0o\0r\0k\0b\0o\0o\0k\0", 16);
    QByteArray zipWord = QByteArray("PK\x03\x04", 4) + QByteArray(26, '\0') + "[Content_Types].xml" + QByteArray(300, 'x') + "PK\x03\x04" +
                         QByteArray(26, '\0') + "word/document.xml";
    QByteArray zipOther = QByteArray("PK\x03\x04", 4) + QByteArray(26, '\0') + "content.xml" + QByteArray(300, 'x');
    struct Row {
        const char *what;
        QByteArray data;
        FileKind kind;
    } rows[] = {
        {"a PDF", KVPDFBlankPage(), FileKind::PDF},
        {"a PDF after junk", QByteArray(200, 'j') + KVPDFBlankPage(), FileKind::PDF},
        {"a PDF header too far in", QByteArray(1200, 'j') + KVPDFBlankPage(), FileKind::Unknown},
        {"a PNG", encoded(small, "png"), FileKind::Image},
        {"a JPEG", encoded(small, "jpeg"), FileKind::Image},
        {"a TIFF", encoded(small, "tiff"), FileKind::Image},
        {"a Word binary", compoundWord, FileKind::Word},
        {"another compound file", compoundSheet, FileKind::Unknown},
        {"a docx", zipWord, FileKind::Word},
        {"another zip", zipOther, FileKind::Unknown},
        {"text", QByteArray("hello, world\n"), FileKind::Unknown},
        {"nothing", QByteArray(), FileKind::Unknown},
    };
    QTemporaryDir dir;
    for (const Row &row : rows) {
        EXPECT_EQ(jximport::fileKindOfData(row.data), row.kind) << row.what;
        // Named as something else entirely.
        EXPECT_EQ(jximport::fileKindOfFile(writeFile(dir, QStringLiteral("renamed.png"), row.data)), row.kind) << row.what;
    }
    EXPECT_EQ(jximport::fileKindOfFile(dir.filePath(QStringLiteral("missing.pdf"))), FileKind::Unknown);

    // A docx whose part names sit only in its central directory, beyond the first bytes read.
    QByteArray bigZip = zipOther + QByteArray(200 * 1024, 'z') + "PK\x01\x02" + QByteArray(42, '\0') + "word/document.xml";
    EXPECT_EQ(jximport::fileKindOfFile(writeFile(dir, QStringLiteral("big.bin"), bigZip)), FileKind::Word);
}

TEST(JXFolivoImportTest, JpegIsStoredAsItIsAtItsResolution)
{
    QTemporaryDir dir;
    QImage image = photo(600, 400);
    image.setDotsPerMeterX(5669); // 144 ppi
    image.setDotsPerMeterY(5669);
    const QByteArray jpeg = encoded(image, "jpeg", 90);
    QString error;
    const QByteArray pdf = jximport::pdfFromImageFile(writeFile(dir, QStringLiteral("photo.jpg"), jpeg), &error);
    ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
    expectQpdfClean(dir, pdf, "jpeg");
    RecordProperty("jpegBytes", int(jpeg.size()));
    RecordProperty("pdfBytes", int(pdf.size()));
    EXPECT_LE(pdf.size(), jpeg.size() + 4096);
    EXPECT_GE(pdf.indexOf(jpeg), 0) << "the JPEG's bytes are not in the PDF unchanged";

    const std::vector<ListedImage> images = listImages(dir, pdf);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].enc, QStringLiteral("jpeg"));
    EXPECT_EQ(images[0].color, QStringLiteral("rgb"));
    EXPECT_EQ(images[0].width, 600);
    EXPECT_EQ(pageSizes(dir, pdf), QStringList{QStringLiteral("300 x 200")});

    // Grey JPEGs stay grey and one channel.
    QImage grey = photo(64, 48).convertToFormat(QImage::Format_Grayscale8);
    const QByteArray greyPdf = jximport::pdfFromImageData(encoded(grey, "jpeg", 90), &error);
    ASSERT_FALSE(greyPdf.isEmpty()) << qPrintable(error);
    const std::vector<ListedImage> greyImages = listImages(dir, greyPdf);
    ASSERT_EQ(greyImages.size(), 1u);
    EXPECT_EQ(greyImages[0].enc, QStringLiteral("jpeg"));
    EXPECT_EQ(greyImages[0].color, QStringLiteral("gray"));
}

TEST(JXFolivoImportTest, JpegOrientationTurnsThePageAndKeepsTheBytes)
{
    QTemporaryDir dir;
    // Red at the stored top left, blue elsewhere.
    QImage image(80, 40, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, 20, 10, Qt::red);
    image.setDotsPerMeterX(kDotsPerMeterAt72);
    image.setDotsPerMeterY(kDotsPerMeterAt72);
    const QByteArray plain = encoded(image, "jpeg", 95);
    for (int orientation : {1, 2, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(orientation);
        const QByteArray jpeg = withOrientation(plain, orientation);
        QImageReader reader(writeFile(dir, QStringLiteral("turned.jpg"), jpeg));
        reader.setAutoTransform(true);
        const QImage shown = reader.read();
        ASSERT_FALSE(shown.isNull());

        QString error;
        const QByteArray pdf = jximport::pdfFromImageData(jpeg, &error);
        ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
        EXPECT_GE(pdf.indexOf(jpeg), 0);
        EXPECT_EQ(pageSizes(dir, pdf), QStringList{QStringLiteral("%1 x %2").arg(shown.width()).arg(shown.height())});
        const QImage drawn = render(pdf);
        ASSERT_EQ(drawn.size(), shown.size());
        // Each corner as Qt shows the file.
        for (QPoint corner : {QPoint(3, 3), QPoint(shown.width() - 4, 3), QPoint(3, shown.height() - 4),
                              QPoint(shown.width() - 4, shown.height() - 4)})
            EXPECT_TRUE(near(drawn.pixel(corner), shown.pixel(corner), 40)) << corner.x() << "," << corner.y();
    }
}

TEST(JXFolivoImportTest, DecodedImagesKeepTheirSamplesChannelsAndOpacity)
{
    QTemporaryDir dir;
    QImage grey(7, 5, QImage::Format_Grayscale8);
    QImage colour(7, 5, QImage::Format_RGB32);
    QImage translucent(7, 5, QImage::Format_ARGB32);
    QImage greyTranslucent(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            grey.setPixel(x, y, qRgb(x * 30, x * 30, x * 30));
            colour.setPixel(x, y, qRgb(x * 30, y * 50, 200 - x * 20));
            translucent.setPixel(x, y, qRgba(x * 30, y * 50, 17, x * 36));
            greyTranslucent.setPixel(x, y, qRgba(y * 40, y * 40, y * 40, 255 - x * 30));
        }
    struct Row {
        const char *what;
        QImage image;
        const char *format;
        const char *color;
        bool smask;
    } rows[] = {
        {"grey PNG", grey, "png", "gray", false},
        {"colour PNG", colour, "png", "rgb", false},
        {"translucent PNG", translucent, "png", "rgb", true},
        {"grey translucent PNG", greyTranslucent, "png", "gray", true},
        {"colour BMP", colour, "bmp", "rgb", false},
        {"grey TIFF", grey, "tiff", "gray", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QString error;
        const QByteArray pdf = jximport::pdfFromImageData(encoded(row.image, row.format), &error);
        ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
        expectQpdfClean(dir, pdf, row.what);
        const std::vector<ListedImage> images = listImages(dir, pdf);
        ASSERT_EQ(images.size(), row.smask ? 2u : 1u);
        EXPECT_EQ(images[0].type, QStringLiteral("image"));
        EXPECT_EQ(images[0].color, QString::fromLatin1(row.color));
        EXPECT_EQ(images[0].bpc, 8);
        if (row.smask)
            EXPECT_EQ(images[1].type, QStringLiteral("smask"));

        // The samples come back exactly (pdfimages writes what the PDF stores).
        const QString prefix = dir.filePath(QStringLiteral("out"));
        ASSERT_EQ(runTool(QStringLiteral("pdfimages"), {QStringLiteral("-png"), dir.filePath(QStringLiteral("list.pdf")), prefix}).exitCode, 0);
        const QImage stored(prefix + QStringLiteral("-000.png"));
        ASSERT_EQ(stored.size(), row.image.size());
        const QImage expected = row.image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x)
                EXPECT_EQ(stored.pixel(x, y) & 0xFFFFFF, expected.pixel(x, y) & 0xFFFFFF) << x << "," << y;
        if (row.smask) {
            const QImage mask(prefix + QStringLiteral("-001.png"));
            for (int x = 0; x < 7; ++x)
                EXPECT_EQ(qGray(mask.pixel(x, 2)), qAlpha(expected.pixel(x, 2))) << x;
        }
        for (const QString &name : QDir(dir.path()).entryList({QStringLiteral("out-*")}))
            QFile::remove(dir.filePath(name));
    }
}

TEST(JXFolivoImportTest, TiffPagesBecomePagesOfTheirSizes)
{
    QTemporaryDir dir;
    struct Frame {
        int width;
        int height;
        int dotsPerMeter;
        QColor colour;
    } frames[] = {{100, 50, kDotsPerMeterAt72, Qt::red}, {60, 80, kDotsPerMeterAt72, Qt::green}, {200, 100, 5669, Qt::blue}};
    QStringList arguments;
    for (size_t i = 0; i < std::size(frames); ++i) {
        QImage image(frames[i].width, frames[i].height, QImage::Format_RGB32);
        image.fill(frames[i].colour);
        image.setDotsPerMeterX(frames[i].dotsPerMeter);
        image.setDotsPerMeterY(frames[i].dotsPerMeter);
        arguments << writeFile(dir, QStringLiteral("frame%1.tif").arg(i), encoded(image, "tiff"));
    }
    const QString joined = dir.filePath(QStringLiteral("joined.tif"));
    const ToolResult tiffcp = runTool(QStringLiteral("tiffcp"), arguments << joined);
    ASSERT_EQ(tiffcp.exitCode, 0) << tiffcp.err.constData();

    QString error;
    const QByteArray pdf = jximport::pdfFromImageFile(joined, &error);
    ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
    expectQpdfClean(dir, pdf, "tiff");
    EXPECT_EQ(pageSizes(dir, pdf), (QStringList{QStringLiteral("100 x 50"), QStringLiteral("60 x 80"), QStringLiteral("100 x 50")}));
    for (int page = 0; page < 3; ++page) {
        const QImage drawn = render(pdf, page);
        ASSERT_FALSE(drawn.isNull());
        EXPECT_TRUE(near(drawn.pixel(drawn.width() / 2, drawn.height() / 2), frames[page].colour.rgb())) << page;
    }
}

TEST(JXFolivoImportTest, ResolutionIsTheStatedOneOr72)
{
    QTemporaryDir dir;
    QImage image(90, 60, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setDotsPerMeterX(11811); // 300 ppi
    image.setDotsPerMeterY(11811);
    QImage screen = image;
    screen.setDotsPerMeterX(3780); // 96 ppi, which Qt also gives an image that states none
    screen.setDotsPerMeterY(3780);
    struct Row {
        const char *what;
        QByteArray data;
        const char *size;
    } rows[] = {
        {"PNG at 300 ppi", encoded(image, "png"), "21.6 x 14.4"},
        {"PNG at 96 ppi", encoded(screen, "png"), "67.5 x 45"},
        {"PNG stating none", withoutPhys(encoded(image, "png")), "90 x 60"},
        {"JPEG at 300 ppi", encoded(image, "jpeg"), "21.6 x 14.4"},
        {"TIFF at 300 ppi", encoded(image, "tiff"), "21.6 x 14.4"},
        {"BMP at 300 ppi", encoded(image, "bmp"), "21.6 x 14.4"},
        {"PPM, which states none", encoded(image, "ppm"), "90 x 60"},
    };
    for (const Row &row : rows) {
        QString error;
        const QByteArray pdf = jximport::pdfFromImageData(row.data, &error);
        ASSERT_FALSE(pdf.isEmpty()) << row.what << ": " << qPrintable(error);
        EXPECT_EQ(pageSizes(dir, pdf), QStringList{QString::fromLatin1(row.size)}) << row.what;
    }
}

TEST(JXFolivoImportTest, UnreadableImagesFailWithAReason)
{
    QTemporaryDir dir;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::gray);
    const QByteArray png = encoded(image, "png");
    // A JPEG whose frame header claims 65535 x 65535 pixels.
    QByteArray huge = encoded(image, "jpeg");
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = huge[sof + 6] = huge[sof + 7] = huge[sof + 8] = char(0xFF);
    struct Row {
        const char *what;
        QByteArray data;
    } rows[] = {
        {"nothing", QByteArray()},
        {"text", QByteArray("not an image at all")},
        {"a PNG cut after its header", png.left(40)},
        {"a JPEG claiming 65535 x 65535 pixels", huge},
        {"a PDF", KVPDFBlankPage()},
    };
    for (const Row &row : rows) {
        QString error;
        EXPECT_TRUE(jximport::pdfFromImageData(row.data, &error).isEmpty()) << row.what;
        EXPECT_FALSE(error.isEmpty()) << row.what;
    }
    QString error;
    EXPECT_TRUE(jximport::pdfFromImageFile(dir.filePath(QStringLiteral("missing.png")), &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("missing.png"))) << qPrintable(error);
}

TEST(JXFolivoImportTest, ImageOnAPageIsShrunkAndCentredNeverEnlarged)
{
    struct Row {
        QSizeF image;
        QRectF page;
        QRectF expected;
    } rows[] = {
        {{100, 50}, {0, 0, 200, 100}, {50, 25, 100, 50}},      // smaller: kept, centred
        {{400, 100}, {0, 0, 200, 100}, {0, 25, 200, 50}},      // too wide
        {{100, 400}, {10, 10, 200, 100}, {87.5, 0, 25, 100}},  // too high; the page's origin does not matter
        {{400, 400}, {0, 0, 200, 100}, {50, 0, 100, 100}},     // both
        {{200, 100}, {0, 0, 200, 100}, {0, 0, 200, 100}},      // exactly
        {{0, 10}, {0, 0, 200, 100}, {100, 50, 0, 0}},          // no area
    };
    for (const Row &row : rows)
        EXPECT_EQ(jximport::imageRectOnPage(row.image, row.page), row.expected)
            << row.image.width() << "x" << row.image.height() << " on " << row.page.width() << "x" << row.page.height();
}

TEST(JXFolivoImportTest, ImageIsDrawnWhereThePageRectSays)
{
    QTemporaryDir dir;
    QImage image(50, 40, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(0, 0, 10, 10, Qt::blue); // marks the image's top left
    const QRectF where(30, 20, 100, 80);
    QString error;
    const QByteArray pdf = jximport::pdfFromImage(image, QSizeF(200, 150), where, &error);
    ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
    expectQpdfClean(dir, pdf, "placed image");
    EXPECT_EQ(pageSizes(dir, pdf), QStringList{QStringLiteral("200 x 150")});
    const QImage drawn = render(pdf);
    ASSERT_EQ(drawn.size(), QSize(200, 150));
    EXPECT_TRUE(near(drawn.pixel(10, 10), qRgb(255, 255, 255)));
    EXPECT_TRUE(near(drawn.pixel(35, 25), qRgb(0, 0, 255)));
    EXPECT_TRUE(near(drawn.pixel(100, 70), qRgb(255, 0, 0)));
    EXPECT_TRUE(near(drawn.pixel(135, 95), qRgb(255, 255, 255)));

    EXPECT_TRUE(jximport::pdfFromImage(QImage(), QSizeF(10, 10), QRectF(0, 0, 5, 5), &error).isEmpty());
    EXPECT_TRUE(jximport::pdfFromImage(image, QSizeF(0, 10), QRectF(0, 0, 5, 5), &error).isEmpty());
    EXPECT_TRUE(jximport::pdfFromImage(image, QSizeF(10, 10), QRectF(0, 0, 0, 5), &error).isEmpty());
}

TEST(JXFolivoImportTest, BaseNameDropsTrailingDigitsButNotTheLastCharacter)
{
    const std::pair<const char *, const char *> rows[] = {
        {"Text12", "Text"}, {"7", "7"}, {"A7", "A"}, {"77", "7"}, {"", ""}, {"Text", "Text"}, {"1a2", "1a"}, {"Group 3", "Group "},
    };
    for (const auto &[name, base] : rows)
        EXPECT_EQ(jximport::baseName(QString::fromLatin1(name)), QString::fromLatin1(base)) << name;
}

TEST(JXFolivoImportTest, BlankPageHasExactlyItsSize)
{
    QTemporaryDir dir;
    for (QSizeF size : {QSizeF(612, 792), QSizeF(100.5, 200.25), QSizeF(14400, 1)}) {
        QString error;
        const QByteArray pdf = jximport::blankPagePDF(size, &error);
        ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
        expectQpdfClean(dir, pdf, "blank page");
        EXPECT_EQ(pageSizes(dir, pdf), QStringList{QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())});
    }
    for (QSizeF size : {QSizeF(0, 100), QSizeF(-5, 100), QSizeF(100, 14401), QSizeF(qQNaN(), 10)}) {
        QString error;
        EXPECT_TRUE(jximport::blankPagePDF(size, &error).isEmpty()) << size.width() << "x" << size.height();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(JXFolivoImportTest, TemporaryFilesAreMadeExclusivelyInThePrivateFolder)
{
    QString error;
    std::unique_ptr<QFile> first = jximport::createTemporaryFile(QStringLiteral("wordXXX.pdf"), &error);
    ASSERT_TRUE(first) << qPrintable(error);
    std::unique_ptr<QFile> second = jximport::createTemporaryFile(QStringLiteral("wordXXX.pdf"), &error);
    ASSERT_TRUE(second) << qPrintable(error);
    std::unique_ptr<QFile> data = jximport::createTemporaryFile(jximport::kDataFileTemplate, &error);
    ASSERT_TRUE(data) << qPrintable(error);
    const QFileInfo info(first->fileName());
    EXPECT_EQ(info.absolutePath(), QFileInfo(kvTemporaryFolder()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^word[A-Za-z0-9]{3}\\.pdf$")).match(info.fileName()).hasMatch()) << qPrintable(info.fileName());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^com\\.quorvane\\.folivo\\.data[A-Za-z0-9]{8}$"))
                    .match(QFileInfo(data->fileName()).fileName())
                    .hasMatch());
    EXPECT_NE(first->fileName(), second->fileName());
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(first->fileName()).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_TRUE(first->isOpen() && first->isWritable());
    for (auto *file : {first.get(), second.get(), data.get()})
        file->remove();

    for (const char *bad : {"noplaceholders.pdf", "sub/dirXXX", ""}) {
        error.clear();
        EXPECT_FALSE(jximport::createTemporaryFile(QString::fromLatin1(bad), &error)) << bad;
        EXPECT_FALSE(error.isEmpty()) << bad;
    }
    // A single X leaves 62 names: once they are all taken the call fails instead of looping.
    std::vector<std::unique_ptr<QFile>> taken;
    while (auto file = jximport::createTemporaryFile(QStringLiteral("oneX"), &error))
        taken.push_back(std::move(file));
    EXPECT_LE(taken.size(), 62u);
    EXPECT_FALSE(error.isEmpty());
    for (const auto &file : taken)
        file->remove();
}

// Whether `pid` runs (a zombie waiting for its parent does not), given a moment to be reaped.
bool stillRuns(pid_t pid)
{
    for (int tries = 0; tries < 40; ++tries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z "))
            return false;
        QThread::msleep(50);
    }
    return true;
}

// A stand-in for LibreOffice: a script that acts on the arguments the road gives soffice.
QString fakeOffice(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    const QString path = writeFile(dir, name,
                                   "#!/bin/sh\n"
                                   "out=; for a in \"$@\"; do if [ \"$prev\" = --outdir ]; then out=$a; fi; prev=$a; done\n" +
                                       body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST(JXFolivoImportTest, WordConversionFailuresAreErrors)
{
    QTemporaryDir dir;
    const QString docx = writeFile(dir, QStringLiteral("letter.docx"), QByteArray("PK\x03\x04word/document.xml", 21));
    // A PDF whose page tree is empty.
    const QByteArray noPages = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                               "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
                               "trailer << /Root 1 0 R >>\n%%EOF\n";
    writeFile(dir, QStringLiteral("nopages.pdf"), noPages);
    struct Row {
        const char *what;
        QByteArray script;
        const char *error;
    } rows[] = {
        {"no PDF", "exit 0\n", "could not convert"},
        {"an empty PDF", ": > \"$out/document.pdf\"\n", "could not convert"},
        {"a PDF without pages", "cp " + QFile::encodeName(dir.filePath(QStringLiteral("nopages.pdf"))) + " \"$out/document.pdf\"\n", "no pages"},
        {"not a PDF", "echo hello > \"$out/document.pdf\"\n", "cannot be read"},
    };
    for (const Row &row : rows) {
        jximport::WordConversionOptions options;
        options.program = fakeOffice(dir, QStringLiteral("office.sh"), row.script);
        QString error;
        EXPECT_TRUE(jximport::convertWordToPDF(docx, options, &error).isEmpty()) << row.what;
        EXPECT_TRUE(error.contains(QLatin1String(row.error))) << row.what << ": " << qPrintable(error);
    }

    // Over its time limit the program and what it started are stopped, and the caller was kept
    // informed meanwhile.
    jximport::WordConversionOptions slow;
    const QString pidFile = dir.filePath(QStringLiteral("child.pid"));
    slow.program = fakeOffice(dir, QStringLiteral("slow.sh"), "sleep 60 & echo $! > " + QFile::encodeName(pidFile) + "\nwait\n");
    slow.timeLimit = std::chrono::milliseconds(800);
    int busyCalls = 0;
    slow.busy = [&busyCalls] { ++busyCalls; };
    QElapsedTimer clock;
    clock.start();
    QString error;
    EXPECT_TRUE(jximport::convertWordToPDF(docx, slow, &error).isEmpty());
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(error.contains(QLatin1String("did not finish"))) << qPrintable(error);
    EXPECT_GE(busyCalls, 3);
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const QByteArray child = pid.readAll().trimmed();
    ASSERT_FALSE(child.isEmpty());
    EXPECT_FALSE(stillRuns(child.toInt())) << "the converter's child still runs";

    // A missing input, and a missing LibreOffice.
    jximport::WordConversionOptions fine;
    fine.program = fakeOffice(dir, QStringLiteral("fine.sh"), "exit 0\n");
    EXPECT_TRUE(jximport::convertWordToPDF(dir.filePath(QStringLiteral("gone.docx")), fine, &error).isEmpty());
    EXPECT_TRUE(error.contains(QLatin1String("gone.docx"))) << qPrintable(error);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "");
    EXPECT_TRUE(jximport::convertWordToPDF(docx, {}, &error).isEmpty());
    qputenv("PATH", path);
    EXPECT_TRUE(error.contains(QLatin1String("LibreOffice is needed"))) << qPrintable(error);
}

// Two landscape A4 pages, as a flat OpenDocument text.
const char kLandscapeFodt[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:page-layout style:name="pm1">
   <style:page-layout-properties fo:page-width="29.7cm" fo:page-height="21cm" style:print-orientation="landscape"
    fo:margin-top="1.5cm" fo:margin-bottom="1.5cm" fo:margin-left="2cm" fo:margin-right="2cm"/>
  </style:page-layout>
  <style:style style:name="P2" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style>
 </office:automatic-styles>
 <office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"/></office:master-styles>
 <office:body><office:text>
  <text:p>First page, landscape.</text:p>
  <text:p text:style-name="P2">Second page.</text:p>
 </office:text></office:body>
</office:document>
)";

// soffice run by the test itself, with a profile of the test's own.
bool officeConvert(const QTemporaryDir &dir, const QString &input, const char *format)
{
    const ToolResult run = runTool(QStringLiteral("soffice"),
                                   {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(dir.filePath(QStringLiteral("profile"))).toString(),
                                    QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
                                    QString::fromLatin1(format), QStringLiteral("--outdir"), dir.filePath(QStringLiteral("made")), input},
                                   120000);
    return run.exitCode == 0;
}

TEST(JXFolivoImportTest, WordFileOpensWithTheOfficeSuitesOwnPageSizes)
{
    QTemporaryDir dir;
    const QString fodt = writeFile(dir, QStringLiteral("landscape.fodt"), kLandscapeFodt);
    ASSERT_TRUE(officeConvert(dir, fodt, "docx"));
    ASSERT_TRUE(officeConvert(dir, fodt, "pdf"));
    const QString docx = dir.filePath(QStringLiteral("made/landscape.docx"));
    QFile own(dir.filePath(QStringLiteral("made/landscape.pdf")));
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    const QStringList expected = pageSizes(dir, own.readAll(), QStringLiteral("own.pdf"));
    ASSERT_EQ(expected.size(), 2);
    EXPECT_EQ(jximport::fileKindOfFile(docx), FileKind::Word);

    int busyCalls = 0;
    jximport::WordConversionOptions options;
    options.timeLimit = std::chrono::seconds(50);
    options.busy = [&busyCalls] { ++busyCalls; };
    QString error;
    const QByteArray pdf = jximport::convertWordToPDF(docx, options, &error);
    ASSERT_FALSE(pdf.isEmpty()) << qPrintable(error);
    expectQpdfClean(dir, pdf, "word");
    const QStringList sizes = pageSizes(dir, pdf);
    EXPECT_EQ(sizes, expected);
    const QStringList first = sizes.value(0).split(QStringLiteral(" x "));
    ASSERT_EQ(first.size(), 2);
    EXPECT_GT(first[0].toDouble(), first[1].toDouble()) << "not landscape";
    EXPECT_GT(busyCalls, 0);
    // Nothing is left beside the user's file.
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("made"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

} // namespace
