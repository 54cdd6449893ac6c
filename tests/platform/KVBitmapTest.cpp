// The bitmap type: its pixel operations, the row layouts of its own bitmaps and of QImage's,
// and bitmaps whose rows carry spare bytes.
#include "KVBitmap.h"

#include <gtest/gtest.h>

#include <climits>
#include <numeric>
#include <vector>

namespace {
// An 8-bit gray bitmap of one row holding `bytes`.
KVBitmap grayRow(const std::vector<uint8_t> &bytes)
{
    return KVBitmap::fromData(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())),
                              int(bytes.size()), 1, qsizetype(bytes.size()), KVBitmap::ColorModel::Gray, false);
}

std::vector<uint8_t> rowBytes(const KVBitmap &bitmap, int y)
{
    const qsizetype count = (qsizetype(bitmap.width()) * bitmap.bitsPerPixel() + 7) / 8;
    return {bitmap.row(y), bitmap.row(y) + count};
}

// Gray rows of `width` pixels followed by `spare` bytes of 7 (neither black, white nor gray
// levels the tests use).
KVBitmap paddedGray(const std::vector<std::vector<uint8_t>> &rows, int spare)
{
    const int width = int(rows.front().size());
    QByteArray bytes;
    for (const auto &row : rows) {
        bytes.append(reinterpret_cast<const char *>(row.data()), width);
        bytes.append(QByteArray(spare, char(7)));
    }
    return KVBitmap::fromData(bytes, width, int(rows.size()), width + spare, KVBitmap::ColorModel::Gray, false);
}
}

TEST(KVBitmapTest, ThresholdMapsUpTo216ToBlackAndTheRestToWhite)
{
    KVBitmap bitmap = grayRow({0, 1, 128, 216, 217, 218, 255});
    bitmap.forceAdjustContrastGrayscale();
    EXPECT_EQ(rowBytes(bitmap, 0), (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255}));
}

TEST(KVBitmapTest, ProportionBlackIsZeroBytesOverAllBytes)
{
    struct Case {
        const char *name;
        int zeros;
        int total;
        double expected;
    };
    const Case cases[] = {
        {"300 of 1,000", 300, 1000, 0.3},
        {"no zero byte", 0, 1000, 0.0},
        {"all zero", 10, 10, 1.0},
        // 1 / (3 / 2) would be 1 in whole numbers.
        {"2 of 3", 2, 3, 2.0 / 3.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes(size_t(c.total), 200);
        std::fill_n(bytes.begin(), c.zeros, 0);
        EXPECT_DOUBLE_EQ(grayRow(bytes).proportionBlack(), c.expected);
    }
}

TEST(KVBitmapTest, IsBitmapReallyAllowsTwoDistinctBytes)
{
    EXPECT_TRUE(grayRow({0, 255, 255, 0}).isBitmapReally());
    EXPECT_TRUE(grayRow({17, 17}).isBitmapReally());
    EXPECT_FALSE(grayRow({0, 255, 128}).isBitmapReally());
}

TEST(KVBitmapTest, SpareRowBytesCountInNoAnswerAndStayUnchanged)
{
    KVBitmap bitmap = paddedGray({{0, 255, 255}, {255, 0, 255}}, 5);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_TRUE(bitmap.isBitmapReally());
    EXPECT_DOUBLE_EQ(bitmap.proportionBlack(), 2.0 / 6.0);
    bitmap.invert();
    EXPECT_EQ(rowBytes(bitmap, 1), (std::vector<uint8_t>{0, 255, 0}));
    bitmap.forceAdjustContrastGrayscale();
    const QByteArray spare = bitmap.bits().mid(3, 5) + bitmap.bits().mid(11, 5);
    EXPECT_EQ(spare, QByteArray(10, char(7)));

    // RGBA rows padded with zero bytes: the zeros are no transparent pixel.
    QByteArray rgba(2 * 12, char(0));
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 8; ++i)
            rgba[y * 12 + i] = char(255);
    const KVBitmap opaque = KVBitmap::fromData(rgba, 2, 2, 12, KVBitmap::ColorModel::RGB, true);
    ASSERT_FALSE(opaque.isNull());
    EXPECT_FALSE(opaque.reallyHasAlpha());
}

TEST(KVBitmapTest, ColourDistanceWeighsRedGreenBlueThreeFourTwo)
{
    struct Case {
        const char *name;
        uint8_t red, green, blue;
        float tolerance;
        bool transparent;
    };
    // Against the colour (100, 100, 100) with tolerance 18, so tolerance² = 324.
    const Case cases[] = {
        {"red off by 10: 300", 110, 100, 100, 18, true},
        {"green off by 9: 324 is not below", 100, 109, 100, 18, false},
        {"green off by 8: 256", 100, 92, 100, 18, true},
        {"blue off by 12: 288", 100, 100, 112, 18, true},
        {"blue off by 13: 338", 100, 100, 87, 18, false},
        {"red off by 11: 363", 89, 100, 100, 18, false},
        {"tolerance 0 spares even the colour itself", 100, 100, 100, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVBitmap bitmap(1, 1, KVBitmap::ColorModel::RGB, true);
        uint8_t *pixel = bitmap.mutableBits();
        pixel[0] = c.red;
        pixel[1] = c.green;
        pixel[2] = c.blue;
        pixel[3] = 255;
        bitmap.makeColorTransparent(100, 100, 100, c.tolerance);
        const std::vector<uint8_t> expected
            = c.transparent ? std::vector<uint8_t>{0, 0, 0, 0} : std::vector<uint8_t>{c.red, c.green, c.blue, 255};
        EXPECT_EQ(rowBytes(bitmap, 0), expected);
    }
}

TEST(KVBitmapTest, OneBitRowsArePaddedTo64Bits)
{
    struct Case {
        int width;
        qsizetype bytesPerRow;
    };
    for (const Case &c : {Case{1, 8}, Case{64, 8}, Case{65, 16}, Case{128, 16}, Case{129, 24}}) {
        SCOPED_TRACE(c.width);
        const KVBitmap converted = KVBitmap(c.width, 3, KVBitmap::ColorModel::Gray, false).convertToBitmap();
        EXPECT_EQ(converted.bitsPerPixel(), 1);
        EXPECT_EQ(converted.bytesPerRow(), c.bytesPerRow);
    }
}

TEST(KVBitmapTest, ConversionToOneBitThresholdsAt128AndLeavesTheSourceAlone)
{
    std::vector<uint8_t> levels(65, 127);
    levels[1] = 128;
    levels[64] = 255;
    const KVBitmap gray = grayRow(levels);
    const KVBitmap converted = gray.convertToBitmap();
    EXPECT_EQ(converted.size(), gray.size());
    // Pixel 1 and pixel 64 white: bits 0b0100'0000 of byte 0 and the top bit of byte 8.
    std::vector<uint8_t> expected(9, 0);
    expected[0] = 0x40;
    expected[8] = 0x80;
    EXPECT_EQ(rowBytes(converted, 0), expected);

    KVBitmap mid(40, 40, KVBitmap::ColorModel::Gray, false);
    std::fill_n(mid.mutableBits(), 40 * 40, uint8_t(100));
    const KVBitmap dithered = mid.convertToBitmapDither();
    EXPECT_EQ(mid.bits(), QByteArray(40 * 40, char(100)));
    // Error diffusion keeps the mean roughly: 100/255 of the pixels white.
    int white = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            white += (dithered.row(y)[x >> 3] >> (7 - (x & 7))) & 1;
    EXPECT_NEAR(white / 1600.0, 100 / 255.0, 0.08);
}

TEST(KVBitmapTest, DeeperBitmapsConvertOverWhiteByLuminance)
{
    KVBitmap rgba(4, 1, KVBitmap::ColorModel::RGB, true);
    const uint8_t pixels[] = {
        0,   0,   0,   0,   // transparent black: white once put over white
        0,   0,   0,   255, // black
        255, 255, 0,   255, // yellow: luminance 226
        0,   0,   255, 255, // blue: luminance 29
    };
    std::copy(std::begin(pixels), std::end(pixels), rgba.mutableBits());
    EXPECT_EQ(rowBytes(rgba.convertToBitmap(), 0), (std::vector<uint8_t>{0xA0}));
}

TEST(KVBitmapTest, DitherOnlyTouchesEightBitGrayAndLeavesTwoLevels)
{
    KVBitmap gray(16, 16, KVBitmap::ColorModel::Gray, false);
    uint8_t *bits = gray.mutableBits();
    for (int i = 0; i < 256; ++i)
        bits[i] = uint8_t(i);
    gray.dither();
    EXPECT_TRUE(gray.isBitmapReally());

    KVBitmap rgb(2, 2, KVBitmap::ColorModel::RGB, false);
    std::fill_n(rgb.mutableBits(), 12, uint8_t(100));
    rgb.dither();
    EXPECT_EQ(rgb.bits(), QByteArray(12, char(100)));
}

TEST(KVBitmapTest, PointsMapThroughTheSizeAndClampToTheBitmap)
{
    // 4 × 2 pixels shown at 8 × 4 points; pixel (x, y) has gray 10 y + x.
    KVBitmap gray(4, 2, KVBitmap::ColorModel::Gray, false);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            gray.mutableBits()[y * 4 + x] = uint8_t(10 * y + x);
    gray.setSize(QSizeF(8, 4));
    struct Case {
        QPointF point;
        uint8_t gray;
    };
    const Case cases[] = {
        {{0, 0}, 0}, {{2.9, 0}, 1}, {{3.1, 0}, 2}, {{6, 2}, 13}, {{1000, 1000}, 13}, {{-5, -5}, 0}, {{1e300, -1e300}, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.x() << ", " << c.point.y());
        EXPECT_EQ(gray.grayscaleValueAtPoint(c.point), c.gray);
        // The last pixel of a gray bitmap has one byte: the rest of the answer is filled in,
        // not read from beyond the buffer.
        uint8_t r, g, b, a;
        gray.pixelValueAtPoint(c.point, r, g, b, a);
        EXPECT_EQ(std::vector<uint8_t>({r, g, b, a}), std::vector<uint8_t>({c.gray, c.gray, c.gray, 255}));
    }
}

TEST(KVBitmapTest, TransitionsAreCountedOnTheTopRowOfARectangleCountedFromTheBottom)
{
    KVBitmap gray(8, 4, KVBitmap::ColorModel::Gray, false);
    std::fill_n(gray.mutableBits(), 32, uint8_t(255));
    uint8_t *top = gray.mutableBits();             // data row 0: the top
    uint8_t *bottom = gray.mutableBits() + 3 * 8;  // data row 3
    top[2] = top[3] = top[6] = 0;                 // transitions at 2, 4, 6, 7
    bottom[1] = 0;                                // transitions at 1, 2
    EXPECT_EQ(gray.numberOfTransitionsInTopLineOfRect(QRectF(0, 0, 8, 4)), 4);
    EXPECT_EQ(gray.numberOfTransitionsInTopLineOfRect(QRectF(0, 0, 8, 0)), 2);
    EXPECT_EQ(gray.numberOfTransitionsInTopLineOfRect(QRectF(3, 0, 2, 4)), 1);
    EXPECT_EQ(gray.numberOfTransitionsInTopLineOfRect(QRectF(-100, -100, 1000, 1000)), 4);
}

TEST(KVBitmapTest, ScreenshotWhiteFrom246BecomesTransparent)
{
    KVBitmap rgb(3, 1, KVBitmap::ColorModel::RGB, false);
    const uint8_t pixels[] = {246, 250, 255, 245, 255, 255, 10, 20, 30};
    std::copy(std::begin(pixels), std::end(pixels), rgb.mutableBits());
    rgb.setSize(QSizeF(6, 2));
    const KVBitmap result = rgb.bitmapWithWhiteTransparentInScreenshot();
    EXPECT_EQ(result.size(), QSizeF(6, 2));
    EXPECT_EQ(rowBytes(result, 0), (std::vector<uint8_t>{255, 255, 255, 0, 245, 255, 255, 255, 10, 20, 30, 255}));
    EXPECT_TRUE(result.reallyHasAlpha());
    EXPECT_FALSE(rgb.reallyHasAlpha());
}

TEST(KVBitmapTest, QImageRowsPaddedTo32BitsBecomeTightRowsAndBack)
{
    // Width 5: QImage pads gray rows to 8 bytes and mono rows to 4, ours have 5 and 8.
    QImage gray(5, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            gray.scanLine(y)[x] = uchar(40 * y + x);
    gray.setDotsPerMeterX(5906); // 150 pixels per inch
    gray.setDotsPerMeterY(5906);
    const KVBitmap bitmap = KVBitmap::fromQImage(gray);
    ASSERT_EQ(bitmap.bytesPerRow(), 5);
    EXPECT_EQ(rowBytes(bitmap, 2), (std::vector<uint8_t>{80, 81, 82, 83, 84}));
    EXPECT_NEAR(bitmap.size().width(), 5 * 72 / 150.0, 0.01);
    const QImage back = bitmap.toQImage();
    EXPECT_EQ(back, gray);
    EXPECT_NEAR(back.dotsPerMeterX(), 5906, 1);

    // A mono image whose colour table has white at index 0 still gives set bits for white.
    QImage mono(5, 1, QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.fill(0);
    mono.setPixel(1, 0, 1);
    const KVBitmap oneBit = KVBitmap::fromQImage(mono);
    ASSERT_EQ(oneBit.bytesPerRow(), 8);
    EXPECT_EQ(oneBit.row(0)[0] & 0xF8, 0xB8);
    EXPECT_EQ(oneBit.toQImage().pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(oneBit.toQImage().pixel(0, 0), qRgb(255, 255, 255));

    // Opaque colour becomes RGB, colour with alpha RGBA.
    QImage argb(2, 2, QImage::Format_ARGB32);
    argb.fill(QColor(10, 20, 30, 40));
    const KVBitmap rgba = KVBitmap::fromQImage(argb);
    EXPECT_EQ(rgba.samples(), 4);
    EXPECT_TRUE(rgba.reallyHasAlpha());
    QImage rgb32(2, 2, QImage::Format_RGB32);
    rgb32.fill(QColor(10, 20, 30));
    const KVBitmap rgb = KVBitmap::fromQImage(rgb32);
    EXPECT_EQ(rgb.samples(), 3);
    EXPECT_EQ(rowBytes(rgb, 1), (std::vector<uint8_t>{10, 20, 30, 10, 20, 30}));
}

TEST(KVBitmapTest, ShapesThatCannotHoldMakeNullBitmaps)
{
    struct Case {
        const char *name;
        KVBitmap bitmap;
    };
    const Case cases[] = {
        {"no pixels", KVBitmap(0, 5, KVBitmap::ColorModel::Gray, false)},
        {"1-bit colour", KVBitmap(4, 4, KVBitmap::ColorModel::RGB, false, 1)},
        {"16-bit samples", KVBitmap(4, 4, KVBitmap::ColorModel::Gray, false, 16)},
        {"bytes past qsizetype", KVBitmap(INT_MAX, INT_MAX, KVBitmap::ColorModel::CMYK, true)},
        {"rows shorter than the pixels", KVBitmap::fromData(QByteArray(30, 0), 4, 3, 9, KVBitmap::ColorModel::RGB, false)},
        {"fewer bytes than the rows", KVBitmap::fromData(QByteArray(35, 0), 4, 3, 12, KVBitmap::ColorModel::RGB, false)},
        {"row bytes times rows overflow",
         KVBitmap::fromData(QByteArray(8, 0), 2, INT_MAX, qsizetype(1) << 40, KVBitmap::ColorModel::Gray, false)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVBitmap bitmap = c.bitmap;
        EXPECT_TRUE(bitmap.isNull());
        bitmap.invert();
        bitmap.dither();
        EXPECT_EQ(bitmap.proportionBlack(), 0);
        EXPECT_TRUE(bitmap.convertToBitmap().isNull());
        EXPECT_TRUE(bitmap.toQImage().isNull());
        EXPECT_EQ(bitmap.grayscaleValueAtPoint({0, 0}), 0);
    }
}
