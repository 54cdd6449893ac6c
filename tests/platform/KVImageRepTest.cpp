// Image data and extensions of bitmaps and pictures, checked with libtiff's own tiffinfo and
// Qt's JPEG reader; colour adjustment of images read from CMYK files.
#include "KVImageRep.h"

#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {
KVBitmap filled(int width, int height, KVBitmap::ColorModel model, bool alpha, std::vector<uint8_t> pixel, int bits = 8)
{
    KVBitmap bitmap(width, height, model, alpha, bits);
    uint8_t *to = bitmap.mutableBits();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width && bits == 8; ++x)
            std::copy(pixel.begin(), pixel.end(), to + y * bitmap.bytesPerRow() + x * qsizetype(pixel.size()));
    return bitmap;
}

QString tiffinfo(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("tiffinfo"), {path});
    process.waitForFinished(10000);
    return QString::fromLatin1(process.readAllStandardOutput() + process.readAllStandardError());
}
}

TEST(KVImageRepTest, DataFormatAndExtensionAgree)
{
    struct Case {
        const char *name;
        KVImageRep rep;
        const char *extension;
        QByteArray magic;
    };
    const Case cases[] = {
        {"opaque 24-bit", filled(9, 5, KVBitmap::ColorModel::RGB, false, {200, 100, 50}), "jpg", "\xFF\xD8"},
        {"opaque CMYK", filled(9, 5, KVBitmap::ColorModel::CMYK, false, {0, 50, 100, 0}), "jpg", "\xFF\xD8"},
        {"with alpha", filled(9, 5, KVBitmap::ColorModel::RGB, true, {200, 100, 50, 128}), "tiff", "II*"},
        // An 8-bit gray bitmap is written as TIFF: its name must say so too.
        {"8-bit gray", filled(9, 5, KVBitmap::ColorModel::Gray, false, {77}), "tiff", "II*"},
        {"1-bit", filled(70, 5, KVBitmap::ColorModel::Gray, false, {}, 1), "tiff", "II*"},
        {"PDF", KVImageRep(KVImageRep::Kind::PDF, "%PDF-1.4 ..."), "pdf", "%PDF-1.4 ..."},
        {"EPS", KVImageRep(KVImageRep::Kind::EPS, "%!PS-Adobe-3.0 EPSF-3.0"), "eps", "%!PS"},
        {"null bitmap", KVImageRep(KVBitmap()), "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.rep.getImageFileExtension(), QLatin1String(c.extension));
        const QByteArray data = c.rep.getImageData();
        EXPECT_TRUE(data.startsWith(c.magic));
        EXPECT_EQ(data.isEmpty(), c.magic.isEmpty());
    }
}

TEST(KVImageRepTest, TiffDataIsLzwCompressedWithTheBitmapsShape)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char *name;
        KVBitmap bitmap;
        const char *photometric;
        const char *samples;
    };
    KVBitmap oneBit = filled(65, 3, KVBitmap::ColorModel::Gray, false, {}, 1);
    const Case cases[] = {
        {"1-bit", oneBit, "min-is-black", "Bits/Sample: 1"},
        {"gray", filled(7, 3, KVBitmap::ColorModel::Gray, false, {90}), "min-is-black", "Samples/Pixel: 1"},
        {"RGBA", filled(7, 3, KVBitmap::ColorModel::RGB, true, {1, 2, 3, 4}), "RGB color", "Samples/Pixel: 4"},
        {"CMYK with alpha", filled(7, 3, KVBitmap::ColorModel::CMYK, true, {1, 2, 3, 4, 5}), "separated", "Samples/Pixel: 5"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(dir, QString::fromLatin1(c.name) + ".tiff", KVImageRep(c.bitmap).getImageData());
        ASSERT_FALSE(path.isEmpty());
        const QString info = tiffinfo(path);
        EXPECT_TRUE(info.contains(QStringLiteral("Image Width: %1 Image Length: 3").arg(c.bitmap.width()))) << info.toStdString();
        EXPECT_TRUE(info.contains(QLatin1String("Compression Scheme: LZW"))) << info.toStdString();
        EXPECT_TRUE(info.contains(QLatin1String(c.photometric))) << info.toStdString();
        EXPECT_TRUE(info.contains(QLatin1String(c.samples))) << info.toStdString();
    }
}

TEST(KVImageRepTest, JpegDataDecodesToTheBitmap)
{
    const KVBitmap rgb = filled(16, 8, KVBitmap::ColorModel::RGB, false, {200, 100, 50});
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(KVImageRep(rgb).getImageData(), "JPEG"));
    EXPECT_EQ(decoded.size(), QSize(16, 8));
    const QColor pixel = decoded.pixelColor(5, 5);
    EXPECT_NEAR(pixel.red(), 200, 4);
    EXPECT_NEAR(pixel.green(), 100, 4);
    EXPECT_NEAR(pixel.blue(), 50, 4);

    // Quality 0.85 sits between the sizes of lower and higher qualities of a busy image.
    KVBitmap noisy(64, 64, KVBitmap::ColorModel::RGB, false);
    for (int i = 0; i < 64 * 64 * 3; ++i)
        noisy.mutableBits()[i] = uint8_t((i * 7919) % 251);
    const qsizetype atDefault = KVImageRep(noisy).getImageData().size();
    EXPECT_LT(KVBitmapJPEGData(noisy, 0.80).size(), atDefault);
    EXPECT_GT(KVBitmapJPEGData(noisy, 0.90).size(), atDefault);
    EXPECT_EQ(KVBitmapJPEGData(noisy, 0.85).size(), atDefault);
}

TEST(KVImageRepTest, ImagesFromCmykOrGrayFilesAreReadAgainAsRgba)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const KVBitmap cmyk = filled(6, 4, KVBitmap::ColorModel::CMYK, false, {0, 255, 255, 0});
    const KVBitmap gray = filled(6, 4, KVBitmap::ColorModel::Gray, false, {60});
    const QString cmykJpeg = writeFile(dir, "cmyk.jpg", KVBitmapJPEGData(cmyk, 0.85));
    const QString grayTiff = writeFile(dir, "gray.tiff", KVBitmapTIFFData(gray));
    const QString rgbJpeg = writeFile(dir, "rgb.jpg", KVBitmapJPEGData(filled(6, 4, KVBitmap::ColorModel::RGB, false, {1, 2, 3}), 0.85));

    // The image as first read: the file's samples taken as they are, at another size.
    KVBitmap shown = filled(6, 4, KVBitmap::ColorModel::CMYK, false, {0, 255, 255, 0});
    shown.setSize(QSizeF(12, 8));
    const KVImageRep rep(shown);
    struct Case {
        const char *name;
        QString path;
        bool adjusted;
        std::vector<int> rgb;
    };
    const Case cases[] = {
        {"CMYK JPEG: red", cmykJpeg, true, {255, 0, 0}},
        {"gray TIFF", grayTiff, true, {60, 60, 60}},
        {"RGB JPEG", rgbJpeg, false, {}},
        {"missing file", dir.filePath("none.jpg"), false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QString path = c.path;
        const KVImageRep result = rep.colorAdjustedImageRep(path);
        EXPECT_EQ(path.isEmpty(), c.adjusted);
        if (!c.adjusted) {
            EXPECT_EQ(result.bitmap().bits(), shown.bits());
            continue;
        }
        const KVBitmap &bitmap = result.bitmap();
        EXPECT_EQ(bitmap.samples(), 4);
        EXPECT_EQ(bitmap.size(), QSizeF(12, 8));
        uint8_t r, g, b, a;
        bitmap.pixelValueAtPoint({6, 4}, r, g, b, a);
        EXPECT_NEAR(r, c.rgb[0], 6);
        EXPECT_NEAR(g, c.rgb[1], 6);
        EXPECT_NEAR(b, c.rgb[2], 6);
        EXPECT_EQ(a, 255);
    }

    // Bitmaps with alpha or of 8 bits or less are never adjusted.
    QString path = cmykJpeg;
    KVImageRep(gray).colorAdjustedImageRep(path);
    EXPECT_EQ(path, cmykJpeg);
}

TEST(KVImageRepTest, PixelRepresentationAndBitmapContextsAreRgba)
{
    KVBitmap gray = filled(3, 2, KVBitmap::ColorModel::Gray, false, {90});
    gray.setSize(QSizeF(30, 20));
    const KVBitmap rgba = KVPixelRepresentation(gray);
    ASSERT_EQ(rgba.samples(), 4);
    EXPECT_EQ(rgba.size(), QSizeF(30, 20));
    EXPECT_EQ(std::vector<uint8_t>(rgba.row(1), rgba.row(1) + 4), (std::vector<uint8_t>{90, 90, 90, 255}));

    std::vector<uchar> pixels(4 * 3 * 2, 0);
    QImage context = KVCreateBitmapContext(4, 3, pixels.data());
    ASSERT_EQ(context.bytesPerLine(), 16);
    QPainter(&context).fillRect(QRect(0, 0, 1, 1), QColor(255, 0, 0, 128));
    // Premultiplied: half-transparent red is stored as 128, 0, 0, 128.
    EXPECT_NEAR(pixels[0], 128, 1);
    EXPECT_EQ(pixels[1], 0);
    EXPECT_EQ(pixels[3], 128);
    EXPECT_TRUE(KVCreateBitmapContext(0, 3, pixels.data()).isNull());
}
