// The page imager and its pool: keys, lifetimes and purges on an injected clock; where each
// way of drawing puts a page; pages drawn on several threads at once.
#include "JXPDFImager.h"
#include "support/PdfBuilder.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    JXPDFImagerPool::Clock clock()
    {
        return [this] { return now; };
    }
};

// One page per entry: its page keys and its content.
QByteArray pdfWithPages(const std::vector<std::pair<QByteArray, QByteArray>> &pages)
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    QByteArray kids;
    int number = 3;
    for (const auto &[keys, content] : pages) {
        kids += QByteArray::number(number) + " 0 R ";
        b.add(number, "<< /Type /Page /Parent 2 0 R " + keys + " /Contents " + QByteArray::number(number + 1) + " 0 R >>");
        b.add(number + 1, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
        number += 2;
    }
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>");
    return b.build();
}

// A grey page with a red square in its lower-left corner and a blue one in its upper-right.
QByteArray markedPage(const QByteArray &keys, double w, double h, double x0 = 0, double y0 = 0)
{
    const QByteArray content = QStringLiteral("0.5 g %1 %2 %3 %4 re f 1 0 0 rg %1 %2 50 50 re f 0 0 1 rg %5 %6 50 50 re f")
                                   .arg(x0)
                                   .arg(y0)
                                   .arg(w)
                                   .arg(h)
                                   .arg(x0 + w - 50)
                                   .arg(y0 + h - 50)
                                   .toLatin1();
    return pdfWithPages({{keys, content}});
}

QImage blankCanvas(int w, int h)
{
    QImage canvas(w, h, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    return canvas;
}

// The colour name of the pixel: "red", "blue", "grey", "none" (transparent) or "other".
std::string colourAt(const QImage &image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    if (c.alpha() < 128)
        return "none";
    if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
        return "red";
    if (c.blue() > 200 && c.red() < 60 && c.green() < 60)
        return "blue";
    if (std::abs(c.red() - 128) < 10 && std::abs(c.green() - 128) < 10 && std::abs(c.blue() - 128) < 10)
        return "grey";
    return "other";
}

} // namespace

TEST(JXPDFImagerPoolTest, TakingTwiceGivesTwoImagersAndOnlyTheLastGivenBackStays)
{
    FakeClock time;
    const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create(time.clock());
    const QByteArray data = markedPage("/MediaBox [0 0 200 100]", 200, 100);
    std::shared_ptr<JXPDFImager> first = pool->pooledImagerForData(data);
    std::shared_ptr<JXPDFImager> second = pool->pooledImagerForData(data);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    first->returnToPool();
    second->returnToPool();
    EXPECT_EQ(pool->idleCount(), 1u);

    time.now += 59s;
    const std::shared_ptr<JXPDFImager> again = pool->pooledImagerForData(data);
    EXPECT_EQ(again, second);
    EXPECT_EQ(pool->idleCount(), 0u);
    // A kept imager still holds its parsed document.
    EXPECT_EQ(again->pageCount(), 1);
}

TEST(JXPDFImagerPoolTest, LookupReadsBytesOnlyForAnotherBufferOfTheSameSize)
{
    FakeClock time;
    const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create(time.clock());
    const QByteArray data = markedPage("/MediaBox [0 0 200 100]", 200, 100);
    const std::shared_ptr<JXPDFImager> imager = pool->pooledImagerForData(data);
    ASSERT_TRUE(imager);
    imager->returnToPool();

    // A copy shares the buffer.
    const QByteArray copy = data;
    std::shared_ptr<JXPDFImager> taken = pool->pooledImagerForData(copy);
    EXPECT_EQ(taken, imager);
    EXPECT_EQ(pool->byteReads(), 0u);
    taken->returnToPool();

    // Equal bytes in a buffer of their own: hashed, compared, found.
    const QByteArray equal(data.constData(), data.size());
    ASSERT_NE(equal.constData(), data.constData());
    taken = pool->pooledImagerForData(equal);
    EXPECT_EQ(taken, imager);
    EXPECT_GT(pool->byteReads(), 0u);
    taken->returnToPool();

    // Other bytes of the same size: hashed, not found.
    QByteArray other = data;
    other[other.indexOf("0.5 g")] = '1';
    taken = pool->pooledImagerForData(other);
    ASSERT_TRUE(taken);
    EXPECT_NE(taken, imager);
    taken->returnToPool();
    EXPECT_EQ(pool->idleCount(), 2u);

    // The hit by buffer again reads nothing.
    const size_t reads = pool->byteReads();
    taken = pool->pooledImagerForData(data);
    EXPECT_EQ(taken, imager);
    EXPECT_EQ(pool->byteReads(), reads);
}

TEST(JXPDFImagerPoolTest, StaleImagersGoOnlyOnCallsWhoseCountHasBitSixSet)
{
    FakeClock time;
    const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create(time.clock());
    const QByteArray busy = markedPage("/MediaBox [0 0 300 100]", 300, 100);
    const std::shared_ptr<JXPDFImager> stale = pool->pooledImagerForData(markedPage("/MediaBox [0 0 200 100]", 200, 100));
    ASSERT_TRUE(stale);
    // Put back a minute ago, whenever a purge has taken it.
    auto idleForAMinute = [&] {
        stale->returnToPool();
        time.now += 60s;
    };
    idleForAMinute();

    std::vector<int> purgedOn, expected;
    for (int call = 2; call <= 300; ++call) {
        // The busy imager is stamped afresh on every return; only the stale one can go.
        pool->pooledImagerForData(busy)->returnToPool();
        if (pool->idleCount() == 1) {
            purgedOn.push_back(call);
            idleForAMinute();
        }
        if ((call >= 64 && call <= 127) || (call >= 192 && call <= 255))
            expected.push_back(call);
    }
    EXPECT_EQ(purgedOn, expected);
}

TEST(JXPDFImagerPoolTest, AnImagerIdleJustUnderAMinuteSurvivesAPurge)
{
    const struct {
        std::chrono::milliseconds idle;
        bool kept;
    } rows[] = {{59'999ms, true}, {60'000ms, false}, {61'000ms, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.idle.count());
        FakeClock time;
        const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create(time.clock());
        const QByteArray data = markedPage("/MediaBox [0 0 200 100]", 200, 100);
        const QByteArray other = markedPage("/MediaBox [0 0 300 100]", 300, 100);
        const std::shared_ptr<JXPDFImager> imager = pool->pooledImagerForData(data);
        imager->returnToPool();
        for (int call = 2; call < 64; ++call)
            pool->pooledImagerForData(other)->returnToPool();
        time.now += row.idle;
        pool->pooledImagerForData(other)->returnToPool(); // the 64th call
        EXPECT_EQ(pool->idleCount(), row.kept ? 2u : 1u);
    }
}

TEST(JXPDFImagerPoolTest, BytesThatDoNotLoadGiveNoImager)
{
    const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create();
    for (const QByteArray &bytes : {QByteArray(), QByteArray("not a PDF at all"), QByteArray("%PDF-1.4\n%%EOF\n")}) {
        SCOPED_TRACE(bytes.toStdString());
        EXPECT_EQ(pool->pooledImagerForData(bytes), nullptr);
    }
    EXPECT_EQ(pool->idleCount(), 0u);
}

TEST(JXPDFImagerTest, PageSpaceTransformsPutTheTurnedCropBoxInItsFrame)
{
    const struct {
        QRectF crop;
        int angle;
        bool translate;
        QRectF frame;      // where the crop box lands
        QPointF corner;    // where the crop box's lower-left corner lands
    } rows[] = {
        {{0, 0, 600, 800}, 0, false, {0, 0, 600, 800}, {0, 0}},
        {{0, 0, 600, 800}, 90, false, {0, 0, 800, 600}, {800, 0}},
        {{0, 0, 600, 800}, 180, false, {0, 0, 600, 800}, {600, 800}},
        {{0, 0, 600, 800}, 270, true, {0, 0, 800, 600}, {0, 600}},
        {{0, 0, 600, 800}, -90, false, {0, 0, 800, 600}, {0, 600}},
        {{36, 36, 540, 720}, 0, true, {0, 0, 540, 720}, {0, 0}},
        {{36, 36, 540, 720}, 0, false, {36, 36, 540, 720}, {36, 36}},
        // A turned crop box that does not start at the origin still fills its turned frame.
        {{36, 36, 540, 720}, 90, true, {0, 0, 720, 540}, {720, 0}},
        {{36, 36, 540, 720}, 270, true, {0, 0, 720, 540}, {0, 540}},
        {{36, 36, 540, 720}, 180, true, {0, 0, 540, 720}, {540, 720}},
        {{36, 36, 540, 720}, 90, false, {36, 36, 720, 540}, {756, 36}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.angle << (row.translate ? " translated" : "") << " crop at " << row.crop.x());
        const QTransform t = JXPDFImager::pageSpaceTransform(row.crop, row.angle, row.translate);
        const QRectF frame = t.mapRect(row.crop);
        EXPECT_NEAR(frame.left(), row.frame.left(), 1e-9);
        EXPECT_NEAR(frame.top(), row.frame.top(), 1e-9);
        EXPECT_NEAR(frame.width(), row.frame.width(), 1e-9);
        EXPECT_NEAR(frame.height(), row.frame.height(), 1e-9);
        const QPointF corner = t.map(row.crop.topLeft());
        EXPECT_NEAR(corner.x(), row.corner.x(), 1e-9);
        EXPECT_NEAR(corner.y(), row.corner.y(), 1e-9);
    }
}

// Where the marks of a 600 × 800 page land, drawn both ways at half size.
TEST(JXPDFImagerTest, BothWaysOfDrawingPutTheMarksWhereTheContractSays)
{
    const struct {
        const char *label;
        QByteArray keys;
        bool pageSpace; // else the engine's way
        int angle;
        QSize canvas;
        QPoint red, blue; // canvas pixels of the marks' centres, y down
    } rows[] = {
        {"engine upright", "/MediaBox [0 0 600 800]", false, 0, {300, 400}, {12, 387}, {287, 12}},
        {"engine, own Rotate 90", "/MediaBox [0 0 600 800] /Rotate 90", false, 0, {400, 300}, {12, 12}, {387, 287}},
        {"engine, Rotate 90 undone", "/MediaBox [0 0 600 800] /Rotate 90", false, -90, {300, 400}, {12, 387}, {287, 12}},
        {"engine, turned 180 more", "/MediaBox [0 0 600 800]", false, 180, {300, 400}, {287, 12}, {12, 387}},
        {"page space upright", "/MediaBox [0 0 600 800]", true, 0, {300, 400}, {12, 387}, {287, 12}},
        // Page space ignores the page's own Rotate; turning by 90 counterclockwise centres
        // the page in an 800 × 600 frame.
        {"page space turned 90", "/MediaBox [0 0 600 800] /Rotate 90", true, 90, {400, 300}, {387, 287}, {12, 12}},
        {"page space turned 180", "/MediaBox [0 0 600 800]", true, 180, {300, 400}, {287, 12}, {12, 387}},
        {"page space, Rotate 90 shown", "/MediaBox [0 0 600 800] /Rotate 90", true, 270, {400, 300}, {12, 12}, {387, 287}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.label);
        const std::shared_ptr<JXPDFImager> imager = JXPDFImager::imagerWithData(markedPage(row.keys, 600, 800));
        ASSERT_TRUE(imager);
        QImage canvas = blankCanvas(row.canvas.width(), row.canvas.height());
        {
            QPainter painter(&canvas);
            if (row.pageSpace) {
                painter.translate(0, row.canvas.height());
                painter.scale(0.5, -0.5);
                imager->drawPage(0, row.angle, true, painter);
            } else {
                painter.scale(0.5, 0.5);
                imager->drawPage(0, double(row.angle), painter);
            }
        }
        EXPECT_EQ(colourAt(canvas, row.red.x(), row.red.y()), "red");
        EXPECT_EQ(colourAt(canvas, row.blue.x(), row.blue.y()), "blue");
        // The page fills the canvas to its edges and no further.
        for (QPoint p : {QPoint(0, 0), QPoint(row.canvas.width() - 1, 0), QPoint(0, row.canvas.height() - 1),
                         QPoint(row.canvas.width() - 1, row.canvas.height() - 1), QPoint(row.canvas.width() / 2, row.canvas.height() / 2)})
            EXPECT_NE(colourAt(canvas, p.x(), p.y()), "none") << p.x() << "," << p.y();
    }
}

TEST(JXPDFImagerTest, ACropBoxAwayFromTheOriginIsDrawnAtItsPlaceOrAtTheOrigin)
{
    // The marks sit in the crop box's corners; the media box is larger.
    const QByteArray data = markedPage("/MediaBox [0 0 612 792] /CropBox [36 36 576 756]", 540, 720, 36, 36);
    const std::shared_ptr<JXPDFImager> imager = JXPDFImager::imagerWithData(data);
    ASSERT_TRUE(imager);
    EXPECT_EQ(imager->boundsOfPage(0), QRectF(36, 36, 540, 720));
    EXPECT_EQ(imager->bounds(), QRectF(36, 36, 540, 720));
    EXPECT_TRUE(imager->boundsOfPage(1).isEmpty());

    for (bool translate : {true, false}) {
        SCOPED_TRACE(translate);
        QImage canvas = blankCanvas(612, 792);
        {
            QPainter painter(&canvas);
            painter.translate(0, 792);
            painter.scale(1, -1);
            imager->drawPage(0, 0, translate, painter);
        }
        const int shift = translate ? 0 : 36;
        EXPECT_EQ(colourAt(canvas, shift + 25, 791 - shift - 25), "red");
        EXPECT_EQ(colourAt(canvas, shift + 515, 791 - shift - 695), "blue");
        EXPECT_EQ(colourAt(canvas, shift + 539, 791 - shift), "grey");
        EXPECT_EQ(colourAt(canvas, shift + 541, 791 - shift), "none");
    }
}

TEST(JXPDFImagerTest, NothingIsDrawnForAMissingPageOrIntoPdfOutput)
{
    const std::shared_ptr<JXPDFImager> imager = JXPDFImager::imagerWithData(markedPage("/MediaBox [0 0 200 100]", 200, 100));
    ASSERT_TRUE(imager);
    for (int page : {-1, 1, 1000}) {
        QImage canvas = blankCanvas(200, 100);
        {
            QPainter painter(&canvas);
            imager->drawPage(page, 0.0, painter);
            imager->drawPage(page, 0, true, painter);
        }
        EXPECT_EQ(canvas, blankCanvas(200, 100)) << page;
    }

    // A raster in PDF output would lose the page's text; the page is left out instead.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QSizeF(200, 100), QPageSize::Point));
        writer.setPageMargins(QMarginsF());
        writer.setResolution(72);
        QPainter painter(&writer);
        imager->drawPage(0, 0.0, painter);
        imager->drawPage(0, 0, true, painter);
    }
    EXPECT_FALSE(buffer.data().isEmpty());
    EXPECT_FALSE(buffer.data().contains("/Subtype /Image"));
}

TEST(JXPDFImagerTest, ADeepZoomRastersOnlyWhatFallsOnTheDevice)
{
    const std::shared_ptr<JXPDFImager> imager = JXPDFImager::imagerWithData(markedPage("/MediaBox [0 0 600 800]", 600, 800));
    ASSERT_TRUE(imager);
    // At 100 times the whole page would be 60000 × 80000 pixels; the canvas shows the corner
    // where the red mark meets the grey.
    QImage canvas = blankCanvas(200, 200);
    {
        QPainter painter(&canvas);
        painter.translate(-4900, -74900);
        painter.scale(100, 100);
        imager->drawPage(0, 0.0, painter);
    }
    EXPECT_EQ(colourAt(canvas, 50, 150), "red");
    for (QPoint p : {QPoint(50, 50), QPoint(150, 50), QPoint(150, 150)})
        EXPECT_EQ(colourAt(canvas, p.x(), p.y()), "grey") << p.x() << "," << p.y();
}

// Four threads draw every page of one document through one pool at once; what each drew is
// compared with a drawing made alone, after the threads have ended.
TEST(JXPDFImagerThreadsTest, FourThreadsDrawingOneDocumentDrawWhatOneThreadDraws)
{
    std::vector<std::pair<QByteArray, QByteArray>> pages;
    for (int i = 0; i < 8; ++i) {
        const QByteArray text = "BT /F1 " + QByteArray::number(12 + i) + " Tf 20 " + QByteArray::number(40 + 10 * i) + " Td (Page "
                                + QByteArray::number(i + 1) + " of eight) Tj ET 0 0 1 rg 10 10 " + QByteArray::number(20 + 5 * i)
                                + " 20 re f";
        pages.emplace_back("/MediaBox [0 0 300 200] /Rotate " + QByteArray::number(90 * (i % 4))
                               + " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>",
                           text);
    }
    const QByteArray data = pdfWithPages(pages);
    auto drawAll = [&](JXPDFImagerPool &pool) {
        std::vector<QImage> images;
        for (int page = 0; page < int(pages.size()); ++page) {
            const std::shared_ptr<JXPDFImager> imager = pool.pooledImagerForData(data);
            if (!imager)
                return images;
            const QRectF box = imager->boundsOfPage(page);
            const bool turned = page % 2 == 1;
            QImage canvas = blankCanvas(int(turned ? box.height() : box.width()), int(turned ? box.width() : box.height()));
            {
                QPainter painter(&canvas);
                imager->drawPage(page, 0.0, painter);
            }
            imager->returnToPool();
            images.push_back(canvas);
        }
        return images;
    };

    const std::shared_ptr<JXPDFImagerPool> alonePool = JXPDFImagerPool::create();
    const std::vector<QImage> alone = drawAll(*alonePool);
    ASSERT_EQ(alone.size(), pages.size());

    const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create();
    constexpr int kThreads = 4;
    std::vector<std::vector<QImage>> drawn(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads)
                std::this_thread::yield();
            for (int round = 0; round < 3; ++round)
                drawn[size_t(t)] = drawAll(*pool);
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(drawn[size_t(t)].size(), alone.size()) << t;
        for (size_t page = 0; page < alone.size(); ++page)
            EXPECT_EQ(drawn[size_t(t)][page], alone[page]) << "thread " << t << " page " << page;
    }
    // Equal data keeps one idle imager, however many were made.
    EXPECT_EQ(pool->idleCount(), 1u);
}
