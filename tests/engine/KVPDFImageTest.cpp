// Image records: what a record reads from its image XObject, where the collector places each
// image a page's content draws (forms and the crop box included), and the probe's report of
// them. Every fixture is a small file made here.
#include "KVPDFImage.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVProbeImages.h"
#include "support/PdfBuilder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <ostream>
#include <memory>
#include <vector>

namespace {

QByteArray stream(const QByteArray &dictionaryKeys, const QByteArray &data)
{
    return "<< " + dictionaryKeys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

const QByteArray kPixels("\x00\x40\x80\xFF", 4);

std::shared_ptr<KVPDFDocument> openBuilt(const PdfBuilder &builder)
{
    KVPDFOpenResult result = KVPDFOpenBroken;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(builder.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// ---- the record's fields ----------------------------------------------------------------

struct FieldCase {
    const char *name;
    QByteArray imageKeys; // besides /Type /XObject /Subtype /Image
    std::map<int, QByteArray> others;
    float pixelWidth;
    float pixelHeight;
    int32_t bitsPerComponent;
    bool grey;
    const char *url; // nullptr: no "FolivoURL" string
};

const QByteArray kGreyProfile = stream("/N 1 /Alternate /DeviceGray", "profile");

const FieldCase kFieldCases[] = {
    {"DeviceGrayIsGrey", "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray", {}, 2, 2, 8, true, nullptr},
    {"CalGrayNameIsGrey", "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /CalGray", {}, 2, 2, 8, true, nullptr},
    {"CalGrayArrayIsGrey",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace [/CalGray << /WhitePoint [0.9505 1 1.089] >>]",
     {},
     2,
     2,
     8,
     true,
     nullptr},
    {"DeviceRGBIsNotGrey", "/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceRGB", {}, 1, 1, 8, false, nullptr},
    {"ProfileWithGreyAlternateIsGrey",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace [/ICCBased 11 0 R]",
     {{11, kGreyProfile}},
     2,
     2,
     8,
     true,
     nullptr},
    {"ProfileWithRgbAlternateIsNotGrey",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace [/ICCBased 11 0 R]",
     {{11, stream("/N 3 /Alternate /DeviceRGB", "profile")}},
     2,
     2,
     8,
     false,
     nullptr},
    {"ProfileOfOneComponentWithoutAlternateIsGrey",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace [/ICCBased 11 0 R]",
     {{11, stream("/N 1", "profile")}},
     2,
     2,
     8,
     true,
     nullptr},
    {"ProfileOfThreeComponentsWithoutAlternateIsNotGrey",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace [/ICCBased 11 0 R]",
     {{11, stream("/N 3", "profile")}},
     2,
     2,
     8,
     false,
     nullptr},
    {"ColourSpaceByReferenceIsFollowed",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace 12 0 R",
     {{11, kGreyProfile}, {12, "[/ICCBased 11 0 R]"}},
     2,
     2,
     8,
     true,
     nullptr},
    {"PaletteOverGreyIsNotGrey",
     "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace [/Indexed /DeviceGray 1 <00FF>]",
     {},
     2,
     2,
     8,
     false,
     nullptr},
    {"SizesByReferenceAreFollowed",
     "/Width 13 0 R /Height 14 0 R /BitsPerComponent 15 0 R /ColorSpace /DeviceGray",
     {{13, "40"}, {14, "30.5"}, {15, "4"}},
     40,
     30.5f,
     4,
     true,
     nullptr},
    {"MissingKeysReadAsZero", "", {}, 0, 0, 0, false, nullptr},
    {"ValuesOfTheWrongKindReadAsZero",
     "/Width (wide) /Height /Tall /BitsPerComponent [8] /ColorSpace 42 /FolivoURL /NotAString",
     {},
     0,
     0,
     0,
     false,
     nullptr},
    {"UnreadableObjectsReadAsZero",
     "/Width 13 0 R /Height 99 0 R /BitsPerComponent 13 0 R /ColorSpace [/ICCBased 13 0 R] /FolivoURL 13 0 R",
     {{13, "<< /Broken [1 2 "}},
     0,
     0,
     0,
     false,
     nullptr},
    {"ImageMaskWithoutDepthHasOneBit", "/Width 16 /Height 2 /ImageMask true", {}, 16, 2, 1, false, nullptr},
    {"DepthOutOfRangeSaturates",
     "/Width 2 /Height 2 /BitsPerComponent 99999999999 /ColorSpace /DeviceGray",
     {},
     2,
     2,
     std::numeric_limits<int32_t>::max(),
     true,
     nullptr},
    {"UrlIsKept", "/Width 2 /Height 2 /FolivoURL (https://example.org/a.png)", {}, 2, 2, 0, false, "https://example.org/a.png"},
    {"UrlByReferenceIsResolved",
     "/Width 2 /Height 2 /FolivoURL 16 0 R",
     {{16, "(https://example.org/b.png)"}},
     2,
     2,
     0,
     false,
     "https://example.org/b.png"},
};

void PrintTo(const FieldCase &c, std::ostream *out) { *out << c.name; }

class ImageFields : public ::testing::TestWithParam<FieldCase> { };

TEST_P(ImageFields, ReadFromTheXObject)
{
    const FieldCase &c = GetParam();
    PdfBuilder builder = PdfBuilder::withPages(1);
    builder.add(10, stream("/Type /XObject /Subtype /Image " + c.imageKeys, kPixels));
    for (const auto &[number, text] : c.others)
        builder.add(number, text);
    const std::shared_ptr<KVPDFDocument> document = openBuilt(builder);
    ASSERT_TRUE(document);
    auto xObject = kv_cast<KVPDFObjectStream>(document->resolveObject(10, 0));
    ASSERT_TRUE(xObject);

    std::shared_ptr<KVPDFImage> image;
    ASSERT_NO_THROW(image = KVPDFImage::imageWithXObject(xObject));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->xObject(), xObject);
    EXPECT_FLOAT_EQ(image->pixelWidth(), c.pixelWidth);
    EXPECT_FLOAT_EQ(image->pixelHeight(), c.pixelHeight);
    EXPECT_EQ(image->hasPixels(), c.pixelWidth > 0 && c.pixelHeight > 0);
    // Until the collector places it, an image is drawn at its pixel size.
    EXPECT_FLOAT_EQ(image->width(), c.pixelWidth);
    EXPECT_FLOAT_EQ(image->height(), c.pixelHeight);
    EXPECT_EQ(image->bitspercomponent(), c.bitsPerComponent);
    EXPECT_EQ(image->isGrayScale(), c.grey);
    EXPECT_EQ(image->length(), kPixels.size());
    if (c.url) {
        ASSERT_TRUE(image->urlString());
        EXPECT_EQ(image->urlString()->stringValue(), QString::fromLatin1(c.url));
    } else {
        EXPECT_FALSE(image->urlString());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageFields, ::testing::ValuesIn(kFieldCases),
                         [](const ::testing::TestParamInfo<FieldCase> &info) { return std::string(info.param.name); });

TEST(KVPDFImageTest, NullStreamMakesNoRecord) { EXPECT_EQ(KVPDFImage::imageWithXObject(nullptr), nullptr); }

// ---- the collector ----------------------------------------------------------------------

// A page drawing `content` with the resources Im1 (a 2 x 2 grey image), Mask (an image mask),
// Fm1 (a form with Matrix [1 0 0 1 10 10] that draws Im1 at 50 x 40) and Fm2 (a form that
// draws nothing).
PdfBuilder collectorFixture(const QByteArray &content, const QByteArray &pageKeys = {})
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + pageKeys
                 + " /Resources << /XObject << /Im1 10 0 R /Mask 11 0 R /Fm1 12 0 R /Fm2 13 0 R >> >> /Contents 4 0 R >>");
    b.add(4, stream("", content));
    b.add(10, stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray", kPixels));
    b.add(11, stream("/Type /XObject /Subtype /Image /Width 8 /Height 1 /ImageMask true", "\xAA"));
    b.add(12, stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [1 0 0 1 10 10]"
                     " /Resources << /XObject << /Im1 10 0 R >> >>",
                     "50 0 0 40 0 0 cm /Im1 Do"));
    b.add(13, stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100]", "0 0 10 10 re f"));
    return b;
}

struct Placed {
    QByteArray name;
    uint64_t object;
    float x, y, width, height;
};

struct CollectorCase {
    const char *name;
    QByteArray pageKeys;
    QByteArray content;
    std::vector<Placed> images;
};

const CollectorCase kCollectorCases[] = {
    {"ScaledImageFillsItsCm", {}, "q 100 0 0 50 10 20 cm /Im1 Do Q", {{"Im1", 10, 10, 20, 100, 50}}},
    {"RotatedImageTakesItsBoundingBox", {}, "q 0 100 -50 0 200 300 cm /Im1 Do Q", {{"Im1", 10, 150, 300, 50, 100}}},
    {"ImageInAFormIsPlacedByTheFormMatrix", {}, "q 2 0 0 2 0 0 cm /Fm1 Do Q", {{"Im1", 10, 20, 20, 100, 80}}},
    {"ImageDrawnTwiceGivesTwoRecords",
     {},
     "q 10 0 0 10 0 0 cm /Im1 Do Q q 20 0 0 20 30 40 cm /Im1 Do Q",
     {{"Im1", 10, 0, 0, 10, 10}, {"Im1", 10, 30, 40, 20, 20}}},
    {"CropBoxCornerIsTheOrigin",
     "/CropBox [36 36 576 756]",
     "q 100 0 0 100 136 136 cm /Im1 Do Q",
     {{"Im1", 10, 100, 100, 100, 100}}},
    {"CropBoxMovesAFormsImagesOnce", "/CropBox [36 36 576 756]", "/Fm1 Do", {{"Im1", 10, -26, -26, 50, 40}}},
    {"ImageMaskIsAnImage", {}, "q 8 0 0 1 5 5 cm /Mask Do Q", {{"Mask", 11, 5, 5, 8, 1}}},
    {"InlineImagesFormsAndUnknownNamesMakeNoRecord",
     {},
     "q 10 0 0 10 0 0 cm BI /W 1 /H 1 /BPC 8 /CS /G ID \xFF EI Q /Nope Do /Fm2 Do",
     {}},
};

void PrintTo(const CollectorCase &c, std::ostream *out) { *out << c.name; }

class ImageCollector : public ::testing::TestWithParam<CollectorCase> { };

TEST_P(ImageCollector, RecordsEachDoOfAnImage)
{
    const CollectorCase &c = GetParam();
    const std::shared_ptr<KVPDFDocument> document = openBuilt(collectorFixture(c.content, c.pageKeys));
    ASSERT_TRUE(document);
    const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(0);
    page->parseContent();
    const auto &images = page->images();
    ASSERT_EQ(images.size(), c.images.size());
    for (size_t k = 0; k < images.size(); ++k) {
        SCOPED_TRACE(k);
        const Placed &expected = c.images[k];
        EXPECT_EQ(images[k]->name(), expected.name);
        ASSERT_TRUE(images[k]->xObject());
        EXPECT_EQ(images[k]->xObject()->objectNumber(), expected.object);
        EXPECT_NEAR(images[k]->x(), expected.x, 1e-4);
        EXPECT_NEAR(images[k]->y(), expected.y, 1e-4);
        EXPECT_NEAR(images[k]->width(), expected.width, 1e-4);
        EXPECT_NEAR(images[k]->height(), expected.height, 1e-4);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageCollector, ::testing::ValuesIn(kCollectorCases),
                         [](const ::testing::TestParamInfo<CollectorCase> &info) { return std::string(info.param.name); });

TEST(KVPDFImageTest, RecordKeepsTheStateOfItsDoWhateverFollows)
{
    const std::shared_ptr<KVPDFDocument> document =
        openBuilt(collectorFixture("1 0 0 1 5 5 cm 0.5 g /Im1 Do 0.25 g 3 0 0 3 0 0 cm /Im1 Do 0 g 7 0 0 7 0 0 cm"));
    ASSERT_TRUE(document);
    const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(0);
    page->parseContent();
    const auto &images = page->images();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0]->gstate().CTM, QTransform(1, 0, 0, 1, 5, 5));
    EXPECT_EQ(images[0]->gstate().nonstrokeColor, KVColor::gray(0.5f));
    EXPECT_EQ(images[1]->gstate().CTM, QTransform(3, 0, 0, 3, 5, 5));
    EXPECT_EQ(images[1]->gstate().nonstrokeColor, KVColor::gray(0.25f));
    EXPECT_NEAR(images[1]->width(), 3, 1e-4);
    // The page went on to change both.
    EXPECT_EQ(page->gstate().CTM, QTransform(21, 0, 0, 21, 5, 5));
    EXPECT_EQ(page->gstate().nonstrokeColor, KVColor::gray(0));
}

// ---- kvprobe images ---------------------------------------------------------------------

TEST(KVPDFImageTest, ProbeReportsEachDoWithItsObjectPixelsAndBox)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("images.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(collectorFixture("q 0 100 -50 0 200 300 cm /Im1 Do Q q 8 0 0 1 5 5 cm /Mask Do Q BI /W 1 /H 1 /BPC 8 /CS /G ID "
                                "\x01 EI /Fm1 Do",
                                "/CropBox [36 36 576 756]")
                   .build());
    file.close();

    int exitCode = -1;
    const QJsonObject out = kvprobeImagesJson(path, {QStringLiteral("--page"), QStringLiteral("1")}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    const QByteArray expected = R"({"images":[)"
                                R"({"box":[114,264,50,100],"bpc":8,"colorSpace":"DeviceGray","components":1,"filters":[],)"
                                R"("grey":true,"name":"Im1","object":"10 0 R","page":1,"pixels":[2,2]},)"
                                R"({"box":[-31,-31,8,1],"bpc":1,"colorSpace":null,"components":null,"filters":[],)"
                                R"("grey":false,"name":"Mask","object":"11 0 R","page":1,"pixels":[8,1]},)"
                                R"({"box":[-26,-26,50,40],"bpc":8,"colorSpace":"DeviceGray","components":1,"filters":[],)"
                                R"("grey":true,"name":"Im1","object":"10 0 R","page":1,"pixels":[2,2]}]})";
    EXPECT_EQ(QJsonDocument(out).toJson(QJsonDocument::Compact).toStdString(), expected.toStdString());
    EXPECT_EQ(kvprobeImagesJson(path, {}, &exitCode), out);
    EXPECT_EQ(exitCode, 0);

    const QStringList badUsage[] = {{QStringLiteral("--page"), QStringLiteral("2")},
                                    {QStringLiteral("--page"), QStringLiteral("0")},
                                    {QStringLiteral("--page")},
                                    {QStringLiteral("--frame"), QStringLiteral("1")}};
    for (const QStringList &options : badUsage) {
        SCOPED_TRACE(options.join(QLatin1Char(' ')).toStdString());
        EXPECT_TRUE(kvprobeImagesJson(path, options, &exitCode).isEmpty());
        EXPECT_EQ(exitCode, 2);
    }
}

} // namespace
