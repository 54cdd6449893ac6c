// Page images: which images recompression takes and what it writes, downsampling, a compressing
// save (checked by pdfimages, qpdf and renders against the input), blanking out and
// restoring, and the one-page PDF of an image.
#include "KVPDFDocument.h"
#include "KVPDFFilters.h"
#include "KVPDFImage.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVProbeImages.h"

#include "KVBitmap.h"

#include "support/CorpusManifest.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

namespace {

QByteArray stream(const QByteArray &keys, const QByteArray &data)
{
    return "<< " + keys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Samples that vary smoothly, as a photograph's do: JPEG keeps them well.
QByteArray samples(int width, int height, int components, int depthBytes = 1)
{
    QByteArray out;
    out.reserve(qsizetype(width) * height * components * depthBytes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components * depthBytes; ++c)
                out.append(char((x * 255 / std::max(1, width - 1) + y * 3 + c * 40) & 0xFF));
    return out;
}

QByteArray deflated(const QByteArray &data) { return KVPDFDeflate(data).data; }

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result{};
    auto document = KVPDFDocument::documentWithData(data, &result);
    return result == KVPDFOpenOK ? document : nullptr;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// A one-page file drawing image object 10 with `keys` and `data` (and object 11 for whatever
// the image refers to) at `cm`.
QByteArray imagePage(const QByteArray &keys, const QByteArray &data, const QByteArray &cm = "100 0 0 100 50 50",
                     const QByteArray &object11 = "<< >>")
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Resources << /XObject << /Im0 10 0 R >> >> /Contents 4 0 R");
    b.add(4, stream("", "q " + cm + " cm /Im0 Do Q"));
    b.add(10, stream("/Type /XObject /Subtype /Image " + keys, data));
    b.add(11, object11);
    return b.build();
}

std::shared_ptr<KVPDFObjectStream> imageOf(KVPDFDocument &document)
{
    return kv_cast<KVPDFObjectStream>(document.resolveObject(10, 0));
}

// ---- which images recompress ------------------------------------------------------------------

struct QualifyCase {
    const char *what;
    QByteArray keys;
    QByteArray data;
    QByteArray object11;
    bool recompresses;
};

TEST(KVPDFPageImagesTest, OnlyPlainEightBitGrayAndRGBFlateImagesRecompress)
{
    const QByteArray rgb = deflated(samples(16, 8, 3));
    const QByteArray gray = deflated(samples(16, 8, 1));
    const QByteArray icc3 = stream("/N 3", "profile");
    const QByteArray icc4 = stream("/N 4", "profile");
    const std::vector<QualifyCase> cases = {
        {"RGB", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /FlateDecode", rgb, "<< >>", true},
        {"gray, filter array of one", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceGray /Filter [/FlateDecode]", gray, "<< >>", true},
        {"ICC with N 3", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace [/ICCBased 11 0 R] /Filter /FlateDecode", rgb, icc3, true},
        {"ICC with N 4", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace [/ICCBased 11 0 R] /Filter /FlateDecode",
         deflated(samples(16, 8, 4)), icc4, false},
        {"CMYK", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceCMYK /Filter /FlateDecode", deflated(samples(16, 8, 4)), "<< >>", false},
        {"Indexed", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace [/Indexed /DeviceRGB 255 11 0 R] /Filter /FlateDecode",
         gray, stream("", QByteArray(768, '\x10')), false},
        {"16 bits", "/Width 16 /Height 8 /BitsPerComponent 16 /ColorSpace /DeviceRGB /Filter /FlateDecode", deflated(samples(16, 8, 3, 2)), "<< >>", false},
        {"Decode array", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceGray /Decode [1 0] /Filter /FlateDecode", gray, "<< >>", false},
        {"image mask", "/Width 16 /Height 8 /ImageMask true /Filter /FlateDecode", deflated(QByteArray(16, '\x55')), "<< >>", false},
        {"colour key", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceGray /Mask [0 10] /Filter /FlateDecode", gray, "<< >>", false},
        {"Flate then DCT", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter [/FlateDecode /DCTDecode]", rgb, "<< >>", false},
        {"no filter", "/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceGray", samples(16, 8, 1), "<< >>", false},
        {"data too short", "/Width 16 /Height 9 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /FlateDecode", rgb, "<< >>", false},
    };
    for (const QualifyCase &c : cases) {
        SCOPED_TRACE(c.what);
        auto document = open(imagePage(c.keys, c.data, "100 0 0 100 50 50", c.object11));
        ASSERT_TRUE(document);
        auto image = imageOf(*document);
        ASSERT_TRUE(image);
        const QByteArray before = image->rawData();
        EXPECT_EQ(KVPDFPage::isRecompressibleImage(*image), c.recompresses);
        EXPECT_EQ(KVPDFPage::compressImage(*image, QSizeF(100, 100), 0.8f, 300), c.recompresses);
        if (!c.recompresses)
            EXPECT_EQ(image->rawData(), before) << "an image that does not qualify stays as it was";
    }
}

TEST(KVPDFPageImagesTest, RecompressedImageDescribesItsJPEG)
{
    auto document = open(imagePage("/Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /FlateDecode"
                                   " /DecodeParms << /Columns 16 >> /SMask 11 0 R",
                                   deflated(samples(16, 8, 3))));
    ASSERT_TRUE(document);
    auto image = imageOf(*document);
    ASSERT_TRUE(KVPDFPage::compressImage(*image, QSizeF(100, 100), 0.8f, 300));
    KVPDFObjectDictionary &dictionary = *image->dictionary();
    EXPECT_EQ(dictionary.nameForKey("Filter"), "DCTDecode");
    EXPECT_FALSE(dictionary.objectForKey("DecodeParms"));
    EXPECT_TRUE(dictionary.objectForKey("SMask")) << "other entries stay";
    EXPECT_EQ(dictionary.integerForKey("Length"), image->rawData().size());
    const QImage jpeg = QImage::fromData(image->rawData(), "JPEG");
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_EQ(jpeg.width(), dictionary.integerForKey("Width"));
    EXPECT_EQ(jpeg.height(), dictionary.integerForKey("Height"));
    EXPECT_EQ(dictionary.integerForKey("BitsPerComponent"), 8);
}

TEST(KVPDFPageImagesTest, DefaultOptionsDownsampleAbove300PixelsPerInchOnly)
{
    struct Case {
        int pixels;
        int expected;
    };
    // Drawn 2 in wide (144 pt) and 1 in high over 12 rows.
    for (const Case c : {Case{1200, 600}, Case{500, 500}}) {
        SCOPED_TRACE(c.pixels);
        const QByteArray keys = "/Width " + QByteArray::number(c.pixels)
                                + " /Height 12 /BitsPerComponent 8 /ColorSpace /DeviceGray /Filter /FlateDecode";
        auto document = open(imagePage(keys, deflated(samples(c.pixels, 12, 1)), "144 0 0 72 50 50"));
        ASSERT_TRUE(document);
        auto page = document->pageAtIndex(0);
        page->compressImages();
        auto image = imageOf(*document);
        EXPECT_EQ(image->dictionary()->nameForKey("Filter"), "DCTDecode");
        EXPECT_EQ(image->dictionary()->integerForKey("Width"), c.expected);
        EXPECT_EQ(image->dictionary()->integerForKey("Height"), 12);
        const QImage jpeg = QImage::fromData(image->rawData(), "JPEG");
        EXPECT_EQ(jpeg.width(), c.expected);
        EXPECT_TRUE(jpeg.isGrayscale()) << "a gray image stays one sample per pixel";
    }
}

TEST(KVPDFPageImagesTest, BitmapHoldsTheSamplesOfPlainImagesOnly)
{
    const QByteArray rgb = samples(4, 2, 3);
    auto document = open(imagePage("/Width 4 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /FlateDecode", deflated(rgb)));
    ASSERT_TRUE(document);
    const KVBitmap bitmap = KVPDFPage::bitmapFromImage(*imageOf(*document));
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.width(), 4);
    EXPECT_EQ(bitmap.height(), 2);
    EXPECT_EQ(bitmap.colorModel(), KVBitmap::ColorModel::RGB);
    EXPECT_EQ(bitmap.bits().left(rgb.size()), rgb);

    auto cmyk = open(imagePage("/Width 4 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceCMYK", samples(4, 2, 4)));
    ASSERT_TRUE(cmyk);
    EXPECT_TRUE(KVPDFPage::bitmapFromImage(*imageOf(*cmyk)).isNull()) << "four samples are not read as three";
}

// ---- a compressing save ------------------------------------------------------------------------

struct ListedRow {
    int page = 0;
    QString type, colour, encoding, object;
    int width = 0, height = 0, bpc = 0;
};

std::vector<ListedRow> pdfimagesRows(const QString &path, const QString &password = {})
{
    QStringList arguments{QStringLiteral("-list")};
    if (!password.isEmpty())
        arguments << QStringLiteral("-upw") << password;
    const ToolResult result = runTool(QStringLiteral("pdfimages"), arguments << path);
    std::vector<ListedRow> rows;
    const QList<QByteArray> lines = result.out.split('\n');
    for (qsizetype k = 2; k < lines.size(); ++k) {
        const QStringList cells = QString::fromUtf8(lines[k]).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (cells.size() < 11 || (cells[2] != QLatin1String("image") && cells[2] != QLatin1String("stencil"))
            || cells[10] == QLatin1String("[inline]"))
            continue;
        rows.push_back({cells[0].toInt(), cells[2], cells[5], cells[8], cells[10] + QLatin1Char(' ') + cells[11] + QStringLiteral(" R"),
                        cells[3].toInt(), cells[4].toInt(), cells[7].toInt()});
    }
    return rows;
}

// PSNR in dB of two renders of the same size (RGB); infinity for identical ones.
double psnr(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size() || x.isNull())
        return 0;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar *p = x.constScanLine(row);
        const uchar *q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += double(p[i] - q[i]) * double(p[i] - q[i]);
    }
    const double mse = sum / (double(x.width()) * x.height() * 3);
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

std::vector<QImage> renders(const QString &path, const QString &folder, const QString &stem, const QString &password = {})
{
    QStringList arguments{QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png")};
    if (!password.isEmpty())
        arguments << QStringLiteral("-upw") << password;
    runTool(QStringLiteral("pdftoppm"), arguments << path << QDir(folder).filePath(stem));
    std::vector<QImage> pages;
    QDir dir(folder);
    for (const QString &name : dir.entryList({stem + QStringLiteral("-*.png")}, QDir::Files, QDir::Name))
        pages.push_back(QImage(dir.filePath(name)));
    return pages;
}

// Checks a compressing save of `input` written to `output`: the images listed are the same in
// the same order, Flate gray and RGB ones (`recompressed`) now JPEG of the same size, the file
// clean for qpdf, and each page renders within 30 dB of the input.
void expectCompressedSave(const QString &input, const QString &output, const std::vector<bool> &recompressed,
                          const QString &folder, const QString &password = {})
{
    const std::vector<ListedRow> before = pdfimagesRows(input, password);
    const std::vector<ListedRow> after = pdfimagesRows(output, password);
    ASSERT_EQ(before.size(), after.size());
    ASSERT_EQ(before.size(), recompressed.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(after[i].page, before[i].page);
        EXPECT_EQ(after[i].type, before[i].type);
        EXPECT_EQ(after[i].width, before[i].width);
        EXPECT_EQ(after[i].height, before[i].height);
        EXPECT_EQ(after[i].bpc, before[i].bpc);
        EXPECT_EQ(after[i].colour, before[i].colour);
        EXPECT_EQ(after[i].encoding, recompressed[i] ? QStringLiteral("jpeg") : before[i].encoding);
    }
    QStringList check{QStringLiteral("--check")};
    if (!password.isEmpty())
        check << QStringLiteral("--password=") + password;
    const ToolResult qpdf = runTool(QStringLiteral("qpdf"), check << output);
    EXPECT_EQ(qpdf.exitCode, 0) << qpdf.out.toStdString() << qpdf.err.toStdString();
    const std::vector<QImage> in = renders(input, folder, QStringLiteral("in"), password);
    const std::vector<QImage> out = renders(output, folder, QStringLiteral("out"), password);
    ASSERT_EQ(in.size(), out.size());
    ASSERT_FALSE(in.empty());
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_GE(psnr(in[i], out[i]), 30.0) << "page " << i + 1;
}

TEST(KVPDFPageImagesTest, CompressingSaveWritesFlateGrayAndRGBAsJPEGAndKeepsTheDocument)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray rgb = deflated(samples(64, 32, 3));
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /XObject"
             " << /Rgb 10 0 R /Gray 11 0 R /Cmyk 12 0 R /Mask 13 0 R /Deep 14 0 R >> >> >>");
    b.add(4, stream("", "q 128 0 0 64 10 10 cm /Rgb Do Q q 128 0 0 64 150 10 cm /Gray Do Q q 128 0 0 64 10 100 cm /Cmyk Do Q"
                        " q 1 0 0 rg 128 0 0 64 150 100 cm /Mask Do Q q 128 0 0 64 10 200 cm /Deep Do Q"));
    // The second page draws the RGB image again: it is written once, as JPEG.
    b.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 6 0 R /Resources << /XObject << /Rgb 10 0 R >> >> >>");
    b.add(6, stream("", "q 128 0 0 64 10 10 cm /Rgb Do Q"));
    b.add(10, stream("/Type /XObject /Subtype /Image /Width 64 /Height 32 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /FlateDecode", rgb));
    b.add(11, stream("/Type /XObject /Subtype /Image /Width 64 /Height 32 /BitsPerComponent 8 /ColorSpace /DeviceGray /Filter /FlateDecode",
                     deflated(samples(64, 32, 1))));
    b.add(12, stream("/Type /XObject /Subtype /Image /Width 64 /Height 32 /BitsPerComponent 8 /ColorSpace /DeviceCMYK /Filter /FlateDecode",
                     deflated(samples(64, 32, 4))));
    b.add(13, stream("/Type /XObject /Subtype /Image /Width 64 /Height 32 /ImageMask true /Filter /FlateDecode",
                     deflated(QByteArray(8 * 32, '\x5A'))));
    b.add(14, stream("/Type /XObject /Subtype /Image /Width 64 /Height 32 /BitsPerComponent 16 /ColorSpace /DeviceRGB /Filter /FlateDecode",
                     deflated(samples(64, 32, 3, 2))));
    const QString input = QDir(folder.path()).filePath(QStringLiteral("in.pdf"));
    const QString output = QDir(folder.path()).filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(writeFile(input, b.build()));

    KVPDFOpenResult result{};
    auto document = KVPDFDocument::documentWithContentsOfFile(input, &result);
    ASSERT_TRUE(document);
    const QByteArray data = document->currentDataWithImprints(true, 2);
    ASSERT_FALSE(data.isEmpty());
    ASSERT_TRUE(writeFile(output, data));
    expectCompressedSave(input, output, {true, true, false, false, false, true}, folder.path());

    auto image = imageOf(*document);
    EXPECT_EQ(image->dictionary()->nameForKey("Filter"), "FlateDecode") << "the document keeps its own stream";
    EXPECT_EQ(image->rawData(), rgb);
    EXPECT_EQ(pdfimagesRows(output)[0].object, pdfimagesRows(output)[5].object) << "one image, written once";
}

class KVPDFImageCompressionCorpusTest : public ::testing::TestWithParam<const char *> { };

QString passwordOf(const QString &file)
{
    for (const CorpusManifestEntry &entry : readCorpusManifest())
        if (entry.file == file)
            return entry.password;
    return {};
}

QString colourOf(const QJsonObject &record)
{
    static const std::map<QString, QString> names = {
        {"DeviceGray", "gray"}, {"CalGray", "gray"}, {"DeviceRGB", "rgb"}, {"CalRGB", "rgb"}, {"DeviceCMYK", "cmyk"},
        {"Lab", "lab"}, {"ICCBased", "icc"}, {"Indexed", "index"}, {"Separation", "sep"}, {"DeviceN", "devn"}};
    auto found = names.find(record.value(QStringLiteral("colorSpace")).toString());
    return found == names.end() ? QStringLiteral("-") : found->second;
}

QString encodingOf(const QJsonObject &record)
{
    const QJsonArray filters = record.value(QStringLiteral("filters")).toArray();
    const QString last = filters.isEmpty() ? QString() : filters.last().toString();
    static const std::map<QString, QString> names = {
        {"DCTDecode", "jpeg"}, {"JPXDecode", "jpx"}, {"JBIG2Decode", "jbig2"}, {"CCITTFaxDecode", "ccitt"}};
    auto found = names.find(last);
    return found == names.end() ? QStringLiteral("image") : found->second;
}

TEST_P(KVPDFImageCompressionCorpusTest, ImagesListAsPdfimagesDoesAndCompressingSaveKeepsTheRenders)
{
    const QString file = QString::fromLatin1(GetParam());
    const QString input = corpusDir() + QLatin1Char('/') + file;
    ASSERT_TRUE(QFile::exists(input));
    const QString password = passwordOf(file);
    QStringList options;
    if (!password.isEmpty())
        options << QStringLiteral("--password") << password;
    int exitCode = -1;
    const QJsonArray records = kvprobeImagesJson(input, options, &exitCode).value(QStringLiteral("images")).toArray();
    ASSERT_EQ(exitCode, 0);
    const std::vector<ListedRow> listed = pdfimagesRows(input, password);
    ASSERT_EQ(size_t(records.size()), listed.size());
    std::vector<bool> recompressed;
    for (qsizetype i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        const QJsonObject record = records[i].toObject();
        const QJsonArray pixels = record.value(QStringLiteral("pixels")).toArray();
        EXPECT_EQ(record.value(QStringLiteral("page")).toInt(), listed[size_t(i)].page);
        EXPECT_EQ(record.value(QStringLiteral("object")).toString(), listed[size_t(i)].object);
        EXPECT_EQ(pixels.at(0).toInt(), listed[size_t(i)].width);
        EXPECT_EQ(pixels.at(1).toInt(), listed[size_t(i)].height);
        EXPECT_EQ(record.value(QStringLiteral("bpc")).toInt(), listed[size_t(i)].bpc);
        EXPECT_EQ(colourOf(record), listed[size_t(i)].colour);
        EXPECT_EQ(encodingOf(record), listed[size_t(i)].encoding);
        const int components = record.value(QStringLiteral("components")).toInt();
        const QString space = record.value(QStringLiteral("colorSpace")).toString();
        recompressed.push_back(record.value(QStringLiteral("filters")).toArray() == QJsonArray{QStringLiteral("FlateDecode")}
                               && record.value(QStringLiteral("bpc")).toInt() == 8
                               && (space == QLatin1String("DeviceGray") || space == QLatin1String("DeviceRGB")
                                   || (space == QLatin1String("ICCBased") && (components == 1 || components == 3))));
    }

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString output = QDir(folder.path()).filePath(QStringLiteral("out.pdf"));
    const ToolResult saved = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     QStringList{QStringLiteral("save"), input, output, QStringLiteral("--compression"),
                                                 QStringLiteral("2")}
                                         + options);
    ASSERT_EQ(saved.exitCode, 0) << saved.err.toStdString();
    expectCompressedSave(input, output, recompressed, folder.path(), password);
    std::cout << file.toStdString() << ": " << QFile(input).size() << " -> " << QFile(output).size() << " bytes\n";
}

INSTANTIATE_TEST_SUITE_P(Corpus, KVPDFImageCompressionCorpusTest,
                         ::testing::Values("pdfjs/tracemonkey.pdf", "pdfjs/TAMReview.pdf", "pdfjs/cmykjpeg.pdf",
                                           "pdfjs/alphatrans.pdf", "qpdf/encrypted-with-images.pdf"));

// ---- blanking out, restoring, the image alone ---------------------------------------------------

TEST(KVPDFPageImagesTest, BlankOutThenRestoreGivesBackTheFirstStreamUnderItsNumber)
{
    const QByteArray data = deflated(samples(8, 8, 3));
    auto document = open(imagePage("/Width 8 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /FlateDecode", data));
    ASSERT_TRUE(document);
    auto page = document->pageAtIndex(0);
    page->parseContent();
    ASSERT_EQ(page->images().size(), 1u);
    std::shared_ptr<KVPDFImage> image = page->images()[0];
    EXPECT_FALSE(image->hasBeenBlankedOut());

    ASSERT_TRUE(image->blankOutImage(*document));
    EXPECT_TRUE(image->hasBeenBlankedOut());
    auto blank = imageOf(*document);
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->rawData(), QByteArray(1, char(0xFF)));
    EXPECT_EQ(blank->dictionary()->integerForKey("Width"), 1);
    // A record made afresh, as after a save, still knows the image was blanked out.
    EXPECT_TRUE(KVPDFImage(blank).hasBeenBlankedOut());

    ASSERT_TRUE(image->restoreImage(*document));
    EXPECT_FALSE(image->hasBeenBlankedOut());
    auto restored = imageOf(*document);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->objectNumber(), 10u);
    EXPECT_EQ(restored->rawData(), data);
    EXPECT_EQ(restored->dictionary()->nameForKey("Filter"), "FlateDecode");

    // The rebuilt data holds the restored stream too: a fresh reading of it finds it.
    auto reread = open(document->currentDataWithImprints(false));
    ASSERT_TRUE(reread);
    EXPECT_EQ(imageOf(*reread)->decodedData(), samples(8, 8, 3));
}

TEST(KVPDFPageImagesTest, ImageAloneHasTheDrawnBoxAsMediaBox)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto document = open(imagePage("/Width 8 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceRGB /SMask 11 0 R /Filter /FlateDecode",
                                   deflated(samples(8, 8, 3)), "50 0 0 80 100 200",
                                   stream("/Type /XObject /Subtype /Image /Width 8 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceGray",
                                          samples(8, 8, 1))));
    ASSERT_TRUE(document);
    auto page = document->pageAtIndex(0);
    page->parseContent();
    ASSERT_EQ(page->images().size(), 1u);
    const QByteArray alone = page->images()[0]->pdfData();
    ASSERT_FALSE(alone.isEmpty());
    auto single = open(alone);
    ASSERT_TRUE(single);
    ASSERT_EQ(single->pageCount(), 1u);
    EXPECT_EQ(single->pageAtIndex(0)->mediaBox(), QRectF(100, 200, 50, 80));

    const QString path = QDir(folder.path()).filePath(QStringLiteral("alone.pdf"));
    ASSERT_TRUE(writeFile(path, alone));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}).exitCode, 0);
    const std::vector<ListedRow> rows = pdfimagesRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].width, 8);
    // The image covers the whole page: its render is the image, not white.
    const std::vector<QImage> pages = renders(path, folder.path(), QStringLiteral("alone"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].size(), QSize(50, 80));
    EXPECT_NE(pages[0].pixel(25, 40), qRgb(255, 255, 255));
}

} // namespace
