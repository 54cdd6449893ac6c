// A document's geometry on documents read from small files made here: bounds kept between
// reads, the print paper of new pages, caching passes over real pages, the window's first
// size against a given screen, and the reduction of large scans right after a read.
#include "JXFolivoDocument.h"
#include "JXFolivoImprint.h"
#include "JXFolivoPage.h"
#include "KVDefaults.h"
#include "support/PdfBuilder.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zlib.h>

#include <memory>

namespace {

std::unique_ptr<JXFolivoDocument> readDocument(const QByteArray &bytes,
                                               JXFolivoDocument::ScanPageMaker maker = {})
{
    auto document = std::make_unique<JXFolivoDocument>();
    if (maker)
        document->setScanPageMaker(std::move(maker));
    EXPECT_TRUE(document->readFromData(bytes, JXFolivoDocument::pdfTypeName()));
    return document;
}

QByteArray pagesOfSizes(const std::vector<QSizeF> &sizes)
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    QByteArray kids;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int number = int(3 + i);
        kids += QByteArray::number(number) + " 0 R ";
        b.add(number, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(sizes[i].width()) + ' '
                          + QByteArray::number(sizes[i].height()) + "] >>");
    }
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(qsizetype(sizes.size())) + " >>");
    return b.build();
}

} // namespace

TEST(JXFolivoDocumentGeometry, BoundsOfAllPagesKeptUntilTheNextRead)
{
    auto one = readDocument(pagesOfSizes({{612, 792}}));
    EXPECT_EQ(one->bounds(), QRectF(0, 0, 612, 792));

    auto two = readDocument(pagesOfSizes({{612, 792}, {842, 595}}));
    EXPECT_EQ(two->bounds(), QRectF(0, 0, 842, 792));
    two->removePageAtIndex(1);
    EXPECT_EQ(two->bounds(), QRectF(0, 0, 842, 792)) << "kept while pages change";
    ASSERT_TRUE(two->readFromData(pagesOfSizes({{300, 400}}), JXFolivoDocument::pdfTypeName()));
    EXPECT_EQ(two->bounds(), QRectF(0, 0, 300, 400));
}

TEST(JXFolivoDocumentGeometry, PagesOutsideTheDocumentTakeThePrintPaper)
{
    auto document = readDocument(pagesOfSizes({{612, 792}, {842, 595}, {500, 700}}));
    document->setPrintPaper(KVPDFPaper{QSizeF(595, 842), true});
    EXPECT_EQ(document->boundsOfPage(1), QRectF(0, 0, 842, 595));
    EXPECT_EQ(document->boundsOfPage(3), QRectF(0, 0, 842, 595));
    EXPECT_EQ(document->boundsOfPage(-1), QRectF(0, 0, 842, 595));
    EXPECT_EQ(document->defaultPageRotationWhenNone(), 90);
    EXPECT_EQ(JXFolivoDocument::defaultPageSizeWhenNone(), QRectF(0, 0, 612, 792));

    EXPECT_EQ(document->boundsOfFacingPage(0, false), QRectF(0, 0, 1224, 792));
    EXPECT_EQ(document->boundsOfFacingPage(2, false), QRectF(0, 0, 1342, 700));
    EXPECT_EQ(document->boundsOfFacingPage(1, true), QRectF(0, 0, 1454, 792));
    EXPECT_EQ(document->boundsOfFacingPage(2, true), QRectF(0, 0, 1000, 700));

    document->setPrintPaper(KVPDFPaper{QSizeF(612, 792), false});
    EXPECT_EQ(document->defaultPageSizeForCreation(), QRectF(0, 0, 612, 792));
    EXPECT_EQ(document->defaultPageRotationWhenNone(), 0);
}

TEST(JXFolivoDocumentGeometry, CachingPassesLetGoOfPagesNoLongerAskedFor)
{
    auto document = readDocument(pagesOfSizes({{612, 792}, {612, 792}, {612, 792}}));
    auto cached = [&] {
        std::vector<bool> on;
        for (const auto &page : document->pages())
            on.push_back(page->isFullyCached());
        return on;
    };
    document->beginFullyCachePages();
    document->fullyCachePage(0);
    document->fullyCachePage(1);
    document->fullyCachePage(7);
    document->endFullyCachePages();
    EXPECT_EQ(cached(), (std::vector<bool>{true, true, false}));

    document->beginFullyCachePages();
    document->fullyCachePage(1);
    document->fullyCachePage(2);
    EXPECT_EQ(cached(), (std::vector<bool>{true, true, true})) << "let go only at the end of the pass";
    document->endFullyCachePages();
    EXPECT_EQ(cached(), (std::vector<bool>{false, true, true}));
}

TEST(JXFolivoDocumentGeometry, WindowHeightOneFillsTheScreensHeight)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    KVDefaults defaults(folder.filePath(QStringLiteral("defaults.ini")));
    const QRectF screen(0, 0, 1400, 1000);
    auto document = readDocument(pagesOfSizes({{612, 792}}));

    JXFolivoGeometry::WindowPlacement plain = document->windowPlacement(screen, screen, QSizeF(), defaults);
    EXPECT_EQ(plain.contentSize, QSizeF(776, 808));

    defaults.setInteger(QStringLiteral("windowHeight"), 1);
    JXFolivoGeometry::WindowPlacement full = document->windowPlacement(screen, screen, QSizeF(), defaults);
    EXPECT_DOUBLE_EQ(full.contentSize.height(), 1000);
    EXPECT_DOUBLE_EQ(full.contentSize.width(), 612 * double(float(1000.0 / 792.0)) + 164);
    EXPECT_EQ(full.frameTopLeft, QPointF(0, 0));

    JXFolivoDocument empty;
    EXPECT_EQ(empty.windowPlacement(screen, screen, QSizeF(), defaults).contentSize.height(), 1000)
        << "letter size without pages";
}

namespace {

// A page of `media` drawing one grey image of `pixels` over all of it, and text when asked.
QByteArray scanPage(QSizeF media, QSize pixels, bool withText)
{
    QByteArray raw(qsizetype(pixels.width()) * pixels.height(), char(0xc0));
    uLongf packedSize = compressBound(uLong(raw.size()));
    QByteArray packed(qsizetype(packedSize), Qt::Uninitialized);
    compress(reinterpret_cast<Bytef *>(packed.data()), &packedSize, reinterpret_cast<const Bytef *>(raw.constData()),
             uLong(raw.size()));
    packed.resize(qsizetype(packedSize));

    const QByteArray w = QByteArray::number(media.width()), h = QByteArray::number(media.height());
    QByteArray content = "q " + w + " 0 0 " + h + " 0 0 cm /Im1 Do Q";
    if (withText)
        content += " BT /F1 12 Tf 100 100 Td (recognised) Tj ET";
    PdfBuilder b = PdfBuilder::withPages(
        1, "/MediaBox [0 0 " + w + ' ' + h + "] /Contents 5 0 R /Resources << /XObject << /Im1 6 0 R >> /Font << /F1 7 0 R >> >>");
    b.add(5, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    b.add(6, "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(pixels.width()) + " /Height "
                 + QByteArray::number(pixels.height()) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length "
                 + QByteArray::number(packed.size()) + " >>\nstream\n" + packed + "\nendstream");
    b.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b.build();
}

} // namespace

TEST(JXFolivoDocumentGeometry, LargeScansAreReducedRightAfterTheRead)
{
    struct Case {
        const char *name;
        QSizeF media;
        QSize pixels;
        bool withText;
        QRectF bounds; // after the read
    };
    const Case cases[] = {
        {"letter scanned at 150 dpi", {1275, 1650}, {1275, 1650}, false, {0, 0, 612, 792}},
        {"no wider than 918", {918, 1188}, {918, 1188}, false, {0, 0, 918, 1188}},
        {"with recognised text", {1275, 1650}, {1275, 1650}, true, {0, 0, 1275, 1650}},
        {"image not at 72 pixels per inch", {1275, 1650}, {637, 825}, false, {0, 0, 1275, 1650}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QRectF madeOn;
        auto maker = [&](JXFolivoDocument &document, JXFolivoImprint &image, const QRectF &pageRect) {
            EXPECT_TRUE(image.pdfImage());
            madeOn = pageRect;
            return JXFolivoPage::blankPageWithRect(pageRect, &document);
        };
        auto document = readDocument(scanPage(c.media, c.pixels, c.withText), maker);
        ASSERT_EQ(document->pageCount(), 1u);
        EXPECT_EQ(document->bounds(), c.bounds);
        EXPECT_EQ(document->pages()[0]->bounds(), c.bounds);
        EXPECT_EQ(madeOn.isNull(), c.bounds.size() != QSizeF(612, 792));
    }
}

TEST(JXFolivoDocumentGeometry, ScanStaysWhenNoSmallerPageCanBeMade)
{
    auto document = readDocument(scanPage({1275, 1650}, {1275, 1650}, false),
                                 [](JXFolivoDocument &, JXFolivoImprint &, const QRectF &) { return nullptr; });
    ASSERT_EQ(document->pageCount(), 1u);
    ASSERT_TRUE(document->pages()[0]);
    EXPECT_EQ(document->bounds(), QRectF(0, 0, 1275, 1650));
}
