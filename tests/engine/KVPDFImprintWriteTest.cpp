// Imprints written by a save: a live imprint shows at its place and reads back with the same
// place, size and properties; saving again leaves one marker pair and one placement stream per
// imprint; a rotated page places it in the page as the viewer sees it; a flattened imprint
// stays page content; annotations go back through their dictionaries; and an encrypted output
// encrypts the imprint's and the annotation's streams with the output's own numbers.
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <set>

#include <gtest/gtest.h>

using namespace savechecks;

namespace {
// The samples of the 8 x 8 grey image pictureFile() draws.
const QByteArray kPicturePixels(8 * 8 * 3, '\x7f');

// A 40-point page drawing an 8 x 8 grey image, object 5.
QByteArray pictureFile()
{
    const QByteArray &pixels = kPicturePixels;
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 40 40] /Resources << /XObject << /Im1 5 0 R >> >> /Contents 6 0 R");
    b.add(5, "<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length "
                 + QByteArray::number(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream");
    const QByteArray drawing = "q 40 0 0 40 0 0 cm /Im1 Do Q\n";
    b.add(6, "<< /Length " + QByteArray::number(drawing.size()) + " >>\nstream\n" + drawing + "endstream");
    return b.build();
}

// A one-page PDF of w x h points filled black: what an imprint draws.
QByteArray blackBox(double w, double h)
{
    const QByteArray size = QByteArray::number(w) + ' ' + QByteArray::number(h);
    const QByteArray content = "0 g 0 0 " + size + " re f\n";
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + size + "] /Resources << >> /Contents 4 0 R >>");
    b.add(4, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream");
    return b.build();
}

std::shared_ptr<KVPDFImprint> boxImprint(QPointF at, QSizeF size, const QVariantMap &properties, bool flatten = false)
{
    auto imprint = KVPDFImprint::imprintWithData(blackBox(size.width(), size.height()), at);
    imprint->setSize(size);
    imprint->setDictionary(properties);
    imprint->setFlatten(flatten);
    return imprint;
}

std::shared_ptr<KVPDFDocument> open(const QByteArray &data, const QString &password = QString(),
                                    KVPDFOpenMode mode = KVPDFOpenMode::Editing)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result, {}, mode);
    if (result == KVPDFOpenNeedsPassword && document->validatePassword(password) == KVPDFPasswordResult::Accepted)
        result = KVPDFOpenOK;
    EXPECT_EQ(result, KVPDFOpenOK);
    return result == KVPDFOpenOK ? document : nullptr;
}

// Gray value at a point given in the rendered page's own space (origin at the lower left).
int grayAt(const QImage &image, double x, double y) { return qGray(image.pixel(int(x), image.height() - 1 - int(y))); }

// Streams of the page's Contents as stored, and how many carry a key.
struct ContentCounts {
    int markers = 0;
    int livePlacements = 0;
    int flattenedPlacements = 0;
    int listed = 0;
};

ContentCounts countsOf(KVPDFPage &page)
{
    ContentCounts counts;
    auto contents = kv_cast<KVPDFObjectArray>(page.pageDictionary()->resolvedObjectForKey("Contents"));
    for (size_t i = 0; contents && i < contents->count(); ++i) {
        auto stream = kv_cast<KVPDFObjectStream>(contents->resolvedObjectAtIndex(i));
        if (!stream)
            continue;
        const auto &d = stream->dictionary();
        counts.markers += d->objectForKey("FolivoMarker") != nullptr;
        if (d->objectForKey("FolivoImprint"))
            (d->objectForKey("Flattened") ? counts.flattenedPlacements : counts.livePlacements)++;
    }
    if (auto listed = kv_cast<KVPDFObjectArray>(page.pageDictionary()->resolvedObjectForKey("FolivoImprints")))
        counts.listed = int(listed->count());
    return counts;
}

std::shared_ptr<KVPDFObjectDictionary> dictionary(std::vector<KVPDFObjectDictionary::Entry> entries)
{
    return KVPDFObjectDictionary::dictionaryWithDictionary(std::move(entries));
}

KVPDFObjectPtr name(const char *bytes) { return KVPDFObjectName::nameWithBytes(bytes); }

// A square annotation made in this session, with an appearance stream of its own.
std::shared_ptr<KVPDFAnnotation> squareWithAppearance(KVPDFPage &page, QRectF rect, const QByteArray &drawing)
{
    auto appearance = KVPDFObjectStream::streamWithData(drawing);
    appearance->dictionary()->setObject("Type", name("XObject"));
    appearance->dictionary()->setObject("Subtype", name("Form"));
    appearance->dictionary()->setObject("BBox", KVPDFAnnotation::arrayForRect(QRectF(QPointF(0, 0), rect.size())));
    auto annotation = KVPDFAnnotation::annotationWithDictionary(
        dictionary({{"Type", name("Annot")},
                    {"Subtype", name("Square")},
                    {"Rect", KVPDFAnnotation::arrayForRect(rect)},
                    {"F", KVPDFObjectInteger::integerWithLongLong(4)},
                    {"AP", dictionary({{"N", KVPDFObjectReference::referenceWithObject(appearance)}})}}),
        &page);
    return annotation;
}

class KVPDFImprintWriteTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString save(KVPDFDocument &document, const QString &name)
    {
        EXPECT_TRUE(document.writeUpdatedDocument(path(name), {}));
        return path(name);
    }
    QTemporaryDir m_dir;
};
}

// The imprint shows where it was put, whatever the page's rotation, and comes back as it was.
TEST_F(KVPDFImprintWriteTest, ImprintShowsAtItsPlaceAndReadsBack)
{
    struct Case {
        const char *name;
        QByteArray pageKeys;
        QPointF at; // in the page as the viewer sees it
        QSizeF size;
        QSizeF rendered; // the page as drawn, rotation applied
    };
    const Case cases[] = {
        {"upright page", "/MediaBox [0 0 300 200]", {40, 30}, {60, 40}, {300, 200}},
        {"page turned by 90 degrees", "/MediaBox [0 0 300 200] /Rotate 90", {40, 30}, {60, 40}, {200, 300}},
        {"page turned by 270 degrees with a crop box",
         "/MediaBox [0 0 400 300] /CropBox [0 0 300 200] /Rotate 270",
         {20, 150},
         {30, 30},
         {200, 300}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(PdfBuilder::withPages(1, c.pageKeys).build());
        ASSERT_TRUE(document);
        const QVariantMap properties{{QStringLiteral("kind"), QStringLiteral("rectangle")}, {QStringLiteral("lineWidth"), 2.5}};
        document->pageAtIndex(0)->addImprint(boxImprint(c.at, c.size, properties));
        const QString saved = save(*document, QStringLiteral("imprint.pdf"));
        const ToolResult check = qpdfCheck(saved);
        EXPECT_EQ(check.exitCode, 0) << check.out.toStdString();

        const std::vector<QImage> pages = renderGray(saved, path(QStringLiteral("render")));
        ASSERT_EQ(pages.size(), 1u);
        const QImage &page = pages[0];
        EXPECT_EQ(page.size(), c.rendered.toSize());
        const QPointF middle = c.at + QPointF(c.size.width() / 2, c.size.height() / 2);
        EXPECT_EQ(grayAt(page, middle.x(), middle.y()), 0) << "inside the imprint";
        EXPECT_EQ(grayAt(page, c.at.x() + 2, c.at.y() + 2), 0) << "near its lower-left corner";
        EXPECT_EQ(grayAt(page, c.at.x() + c.size.width() - 2, c.at.y() + c.size.height() - 2), 0)
            << "near its upper-right corner";
        EXPECT_EQ(grayAt(page, c.at.x() - 3, middle.y()), 255) << "left of it";
        EXPECT_EQ(grayAt(page, middle.x(), c.at.y() + c.size.height() + 3), 255) << "above it";

        auto reread = open(readFile(saved));
        ASSERT_TRUE(reread);
        const auto imprints = reread->pageAtIndex(0)->contentImprints();
        ASSERT_EQ(imprints.size(), 1u);
        EXPECT_EQ(imprints[0]->location(), c.at);
        EXPECT_EQ(imprints[0]->size(), c.size);
        EXPECT_EQ(imprints[0]->dictionary(), properties);
        EXPECT_FALSE(reread->pageAtIndex(0)->pageDictionary()->objectForKey("FolivoImprints"))
            << "the working copy's page holds no stored imprint";
    }
}

TEST_F(KVPDFImprintWriteTest, RotatedPagePlacementIsThePageTransform)
{
    struct Case {
        const char *name;
        QByteArray pageKeys;
        QByteArray matrix;
    };
    const Case cases[] = {
        {"no rotation", "/MediaBox [0 0 300 200]", "1.000000 0.000000 0.000000 1.000000 0.000000 0.000000 cm"},
        // The translation (0, -h) then the rotation, h being the turned page's height (300 wide).
        {"90 degrees", "/MediaBox [0 0 300 200] /Rotate 90", "0.000000 1.000000 -1.000000 0.000000 300.000000 0.000000 cm"},
        {"180 degrees", "/MediaBox [0 0 300 200] /Rotate 180", "-1.000000 0.000000 0.000000 -1.000000 300.000000 200.000000 cm"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(PdfBuilder::withPages(1, c.pageKeys).build());
        ASSERT_TRUE(document);
        document->pageAtIndex(0)->addImprint(boxImprint({10, 20}, {5, 5}, {}));
        auto stored = open(document->currentDataWithImprints(true), QString(), KVPDFOpenMode::AsStored);
        ASSERT_TRUE(stored);
        auto listed = kv_cast<KVPDFObjectArray>(stored->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("FolivoImprints"));
        ASSERT_TRUE(listed);
        auto placement = kv_cast<KVPDFObjectStream>(listed->resolvedObjectAtIndex(0));
        ASSERT_TRUE(placement);
        const QByteArray text = placement->decodedData();
        EXPECT_TRUE(text.startsWith("q\n\t\t\t\t1 0 0 1 0 0 cm\n\t\t\t\t" + c.matrix
                                    + "\n\t\t\t\t1 0 0 1 10.000000 20.000000 cm\n\t\t\t\t/FolivoImprint"))
            << text.toStdString();
        EXPECT_TRUE(text.endsWith(" Do\nQ")) << text.toStdString();
    }
}

// Saving, reopening and saving again (and again) never piles up markers or placement streams.
TEST_F(KVPDFImprintWriteTest, EverySaveLeavesOneMarkerPairAndOnePlacementPerImprint)
{
    auto document = open(PdfBuilder::withPages(2, "/MediaBox [0 0 300 300]").build());
    ASSERT_TRUE(document);
    document->pageAtIndex(0)->addImprint(boxImprint({10, 10}, {20, 20}, {{QStringLiteral("n"), 1}}));
    document->pageAtIndex(0)->addImprint(boxImprint({100, 100}, {20, 20}, {{QStringLiteral("n"), 2}}));
    document->pageAtIndex(0)->addImprint(boxImprint({200, 10}, {20, 20}, {}, true));
    QByteArray data = document->currentDataWithImprints(true);
    EXPECT_TRUE(document->currentDataWithImprints(true) == data) << "a save changes nothing in memory";
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        auto stored = open(data, QString(), KVPDFOpenMode::AsStored);
        ASSERT_TRUE(stored);
        const ContentCounts counts = countsOf(*stored->pageAtIndex(0));
        EXPECT_EQ(counts.markers, 2);
        EXPECT_EQ(counts.livePlacements, 2);
        EXPECT_EQ(counts.flattenedPlacements, 1) << "the flattened imprint stays, once";
        EXPECT_EQ(counts.listed, cycle == 1 ? 3 : 2) << "later saves list only the live imprints they wrote";
        EXPECT_EQ(countsOf(*stored->pageAtIndex(1)).markers, 0) << "a page without imprints gets no markers";

        auto reopened = open(data);
        ASSERT_TRUE(reopened);
        const auto imprints = reopened->pageAtIndex(0)->contentImprints();
        ASSERT_EQ(imprints.size(), 2u) << "the flattened imprint is page content, not an imprint";
        EXPECT_EQ(imprints[0]->dictionary().value(QStringLiteral("n")).toInt(), 1);
        EXPECT_EQ(imprints[1]->dictionary().value(QStringLiteral("n")).toInt(), 2);
        data = reopened->currentDataWithImprints(true);
        ASSERT_FALSE(data.isEmpty());
    }
    const QString last = path(QStringLiteral("last.pdf"));
    ASSERT_TRUE(writeFile(last, data));
    const std::vector<QImage> pages = renderGray(last, path(QStringLiteral("render")));
    ASSERT_EQ(pages.size(), 2u);
    for (QPointF at : {QPointF(20, 20), QPointF(110, 110), QPointF(210, 20)})
        EXPECT_EQ(grayAt(pages[0], at.x(), at.y()), 0) << at.x() << "," << at.y();
    EXPECT_EQ(grayAt(pages[0], 150, 150), 255);
}

// A page whose flattened imprint was saved keeps drawing it when a new one is added after
// reopening: the new form must not take the old one's name.
TEST_F(KVPDFImprintWriteTest, NewFlattenedImprintNeverShadowsAnOldOne)
{
    auto document = open(PdfBuilder::withPages(1, "/MediaBox [0 0 300 300]").build());
    ASSERT_TRUE(document);
    document->pageAtIndex(0)->addImprint(boxImprint({10, 10}, {20, 20}, {}, true));
    document->pageAtIndex(0)->addImprint(boxImprint({100, 10}, {20, 20}, {}));
    auto reopened = open(document->currentDataWithImprints(true));
    ASSERT_TRUE(reopened);
    reopened->setNameCount(0);
    reopened->pageAtIndex(0)->addImprint(boxImprint({200, 10}, {20, 20}, {}, true));
    const QString saved = path(QStringLiteral("flattened.pdf"));
    ASSERT_TRUE(reopened->writeUpdatedDocument(saved, {}));
    const std::vector<QImage> pages = renderGray(saved, path(QStringLiteral("render")));
    ASSERT_EQ(pages.size(), 1u);
    for (double x : {20.0, 110.0, 210.0})
        EXPECT_EQ(grayAt(pages[0], x, 20), 0) << x;
}

TEST_F(KVPDFImprintWriteTest, AnnotationsAreWrittenBackThroughTheirDictionaries)
{
    PdfBuilder b = PdfBuilder::withPages(2, "/MediaBox [0 0 300 300]");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Annots [10 0 R 11 0 R] >>");
    b.add(10, "<< /Type /Annot /Subtype /Link /Rect [10 10 60 40] /Border [0 0 0] /Dest [4 0 R /Fit] >>");
    b.add(11, "<< /Type /Annot /Subtype /Text /Rect [100 100 120 120] /Contents (gone) >>");
    auto document = open(b.build());
    ASSERT_TRUE(document);
    auto page = document->pageAtIndex(0);
    auto annotations = page->annotationImprints();
    ASSERT_EQ(annotations.size(), 2u);
    annotations[0]->setLocation({50, 60}); // moved
    page->removeImprint(annotations[1]);   // deleted
    page->addImprint(squareWithAppearance(*page, {150, 150, 40, 30}, "0 0 1 rg 0 0 40 30 re f"));
    const QString saved = path(QStringLiteral("annotations.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
    EXPECT_EQ(qpdfCheck(saved).exitCode, 0);

    auto reread = open(readFile(saved));
    ASSERT_TRUE(reread);
    const auto written = reread->pageAtIndex(0)->annotationImprints();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0]->subtype(), QByteArray("Link"));
    EXPECT_EQ(written[0]->dictionaryRect(), QRectF(50, 60, 50, 30));
    auto dest = kv_cast<KVPDFObjectArray>(written[0]->annotDict()->resolvedObjectForKey("Dest"));
    ASSERT_TRUE(dest);
    EXPECT_EQ(dest->resolvedObjectAtIndex(0), reread->pageAtIndex(1)->pageDictionary()) << "the link still leads to page 2";
    EXPECT_EQ(written[1]->subtype(), QByteArray("Square"));
    EXPECT_EQ(written[1]->annotDict()->resolvedObjectForKey("P"), reread->pageAtIndex(0)->pageDictionary());
    const std::vector<QImage> pages = renderGray(saved, path(QStringLiteral("render")));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_LT(grayAt(pages[0], 170, 165), 100) << "the new square's appearance is drawn";
}

// In an encrypted output every string and stream is encrypted with the output's own number,
// also those that came from the imprint's and the appearance's own documents.
TEST_F(KVPDFImprintWriteTest, EncryptedOutputsEncryptImprintAndAnnotationStreams)
{
    struct Case {
        const char *name;
        QString file;
        QString password;
        bool aes;
    };
    const Case cases[] = {
        {"AES-128", QStringLiteral("qpdf/V4-aes.pdf"), QString(), true},
        {"RC4 with a user password", QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf"), QStringLiteral("view"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(readFile(QDir(corpusDir()).filePath(c.file)), c.password);
        ASSERT_TRUE(document);
        EXPECT_FALSE(document->isDecrypting()) << "the document holds its plain copy";
        auto page = document->pageAtIndex(0);
        page->imprints();
        page->addImprint(boxImprint({30, 30}, {40, 40}, {{QStringLiteral("secret"), QStringLiteral("value")}}));
        auto square = squareWithAppearance(*page, {200, 200, 40, 30}, "0 0 1 rg 0 0 40 30 re f");
        square->annotDict()->setObject("Contents", KVPDFObjectString::stringWithString(QStringLiteral("a private note")));
        page->addImprint(square);
        const QString saved = path(QStringLiteral("encrypted.pdf"));
        ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));

        const ToolResult check = qpdfCheck(saved, c.password);
        EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
        const ToolResult shown = runTool(
            QStringLiteral("qpdf"), {QStringLiteral("--show-encryption"), QStringLiteral("--password=") + c.password, saved});
        EXPECT_EQ(shown.out.contains("stream encryption method: AESv2"), c.aes) << shown.out.toStdString();
        EXPECT_EQ(shown.out.contains("string encryption method: AESv2"), c.aes) << shown.out.toStdString();
        const QByteArray raw = readFile(saved);
        EXPECT_FALSE(raw.contains("0 g 0 0 40")) << "the imprint's content is not in clear";
        EXPECT_FALSE(raw.contains("0 0 1 rg")) << "the appearance is not in clear";
        EXPECT_FALSE(raw.contains("private note")) << "the annotation's text is not in clear";

        // Decrypted by qpdf, the streams hold what was drawn.
        const QString plain = path(QStringLiteral("decrypted.pdf"));
        const ToolResult decrypted =
            runTool(QStringLiteral("qpdf"), {QStringLiteral("--decrypt"), QStringLiteral("--password=") + c.password,
                                             QStringLiteral("--stream-data=uncompress"), saved, plain});
        ASSERT_TRUE(decrypted.exitCode == 0 || decrypted.exitCode == 3) << decrypted.err.toStdString();
        const QByteArray clear = readFile(plain);
        EXPECT_TRUE(clear.contains("0 g 0 0 40 40 re f"));
        EXPECT_TRUE(clear.contains("0 0 1 rg 0 0 40 30 re f"));
        EXPECT_TRUE(clear.contains("(a private note)"));

        auto reread = open(raw, c.password);
        ASSERT_TRUE(reread);
        const auto imprints = reread->pageAtIndex(0)->contentImprints();
        ASSERT_EQ(imprints.size(), 1u);
        EXPECT_EQ(imprints[0]->dictionary().value(QStringLiteral("secret")).toString(), QStringLiteral("value"));
        const std::vector<QImage> pages = renderGray(saved, path(QStringLiteral("render")), c.password);
        ASSERT_FALSE(pages.empty());
        EXPECT_EQ(grayAt(pages[0], 50, 50), 0);
    }
}

// A picture made in this session from a JPEG file is stored as that file's own bytes; the
// file's path is not written.
TEST_F(KVPDFImprintWriteTest, PictureFromAJpegFileStoresTheFileItself)
{
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QString jpeg = path(QStringLiteral("picture.jpg"));
    ASSERT_TRUE(picture.save(jpeg, "JPEG"));
    const QByteArray jpegBytes = readFile(jpeg);
    auto imprint = KVPDFImprint::imprintWithData(pictureFile(), {10, 10});
    imprint->setSize({40, 40});
    auto image = kv_cast<KVPDFObjectStream>(imprint->document()->resolveObject(5, 0));
    ASSERT_TRUE(image);
    KVPDFImprint::setImageFileName(image->dictionary(), jpeg);

    auto document = open(PdfBuilder::withPages(1, "/MediaBox [0 0 200 200]").build());
    ASSERT_TRUE(document);
    document->pageAtIndex(0)->addImprint(imprint);
    const QByteArray saved = document->currentDataWithImprints(true);
    EXPECT_FALSE(saved.contains(QFile::encodeName(jpeg))) << "no local path in the file";
    auto stored = open(saved, QString(), KVPDFOpenMode::AsStored);
    ASSERT_TRUE(stored);
    int images = 0;
    for (const auto &[number, entry] : stored->objects()) {
        auto stream = kv_cast<KVPDFObjectStream>(stored->resolveObject(number, 0));
        if (!stream || stream->dictionary()->nameForKey("Subtype") != "Image")
            continue;
        ++images;
        EXPECT_EQ(stream->dictionary()->nameForKey("Filter"), QByteArray("DCTDecode"));
        EXPECT_TRUE(stream->rawData() == jpegBytes);
    }
    EXPECT_EQ(images, 1);
    const QString file = path(QStringLiteral("picture.pdf"));
    ASSERT_TRUE(writeFile(file, saved));
    EXPECT_EQ(qpdfCheck(file).exitCode, 0);
}

// Fifty copies of one picture store one image; read back for editing they rebuild it once
// between them, so the next save stores it once again instead of fifty times.
TEST_F(KVPDFImprintWriteTest, CopiesOfOnePictureRebuildAndSaveItsImageOnce)
{
    auto picture = KVPDFImprint::imprintWithData(pictureFile(), {0, 0});
    picture->setSize({40, 40});

    constexpr int kCopies = 50;
    auto document = open(PdfBuilder::withPages(1, "/MediaBox [0 0 612 792]").build());
    ASSERT_TRUE(document);
    for (int i = 0; i < kCopies; ++i) {
        auto copy = picture->copy();
        copy->setLocation(QPointF(10 * (i % 10), 40 * (i / 10)));
        copy->setDictionary({{"n", i}});
        document->pageAtIndex(0)->addImprint(copy);
    }

    // Image objects of a file as stored.
    auto storedImages = [](const QByteArray &data) {
        auto stored = open(data, QString(), KVPDFOpenMode::AsStored);
        int images = 0;
        for (const auto &[number, entry] : stored ? stored->objects() : decltype(stored->objects()){}) {
            auto stream = kv_cast<KVPDFObjectStream>(stored->resolveObject(number, 0));
            images += stream && stream->dictionary()->nameForKey("Subtype") == "Image";
        }
        return images;
    };
    const QByteArray saved = document->currentDataWithImprints(true);
    EXPECT_EQ(storedImages(saved), 1);

    auto reread = open(saved);
    ASSERT_TRUE(reread);
    const auto imprints = reread->pageAtIndex(0)->contentImprints();
    ASSERT_EQ(imprints.size(), size_t(kCopies));
    std::set<const KVPDFObject *> images;
    for (int i = 0; i < kCopies; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(imprints[i]->location(), QPointF(10 * (i % 10), 40 * (i / 10)));
        EXPECT_EQ(imprints[i]->dictionary().value(QStringLiteral("n")), QVariant(i));
        ASSERT_TRUE(imprints[i]->document());
        auto page = imprints[i]->document()->pageAtIndex(0);
        ASSERT_TRUE(page);
        auto resources = kv_cast<KVPDFObjectDictionary>(page->pageDictionary()->resolvedObjectForKey("Resources"));
        auto xobjects = resources ? kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("XObject")) : nullptr;
        auto image = xobjects ? kv_cast<KVPDFObjectStream>(xobjects->resolvedObjectForKey("Im1")) : nullptr;
        ASSERT_TRUE(image);
        EXPECT_TRUE(image->rawData() == kPicturePixels);
        images.insert(image.get());
    }
    EXPECT_EQ(images.size(), 1u) << "one rebuilt image for every imprint drawing it";

    const QByteArray again = reread->currentDataWithImprints(true);
    EXPECT_EQ(storedImages(again), 1);
    auto third = open(again);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->pageAtIndex(0)->contentImprints().size(), size_t(kCopies));
    const QString file = path(QStringLiteral("copies.pdf"));
    ASSERT_TRUE(writeFile(file, again));
    EXPECT_EQ(qpdfCheck(file).exitCode, 0);
}

// The probe adds an imprint and reports it back, for tests outside the engine.
TEST_F(KVPDFImprintWriteTest, ProbeAddsAndReportsImprints)
{
    const QString input = path(QStringLiteral("in.pdf"));
    ASSERT_TRUE(writeFile(input, PdfBuilder::withPages(2, "/MediaBox [0 0 300 300]").build()));
    const QString output = path(QStringLiteral("out.pdf"));
    const ToolResult added = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     {QStringLiteral("add-imprint"), input, output, QStringLiteral("--page"), QStringLiteral("2"),
                                      QStringLiteral("--at"), QStringLiteral("12.5,20"), QStringLiteral("--size"),
                                      QStringLiteral("30,40"), QStringLiteral("--property"), QStringLiteral("kind=stamp"),
                                      QStringLiteral("--property"), QStringLiteral("by=test")});
    ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();
    const ToolResult listed = runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("imprints"), output});
    ASSERT_EQ(listed.exitCode, 0);
    const QJsonObject report = QJsonDocument::fromJson(listed.out).object();
    EXPECT_EQ(report.value(QStringLiteral("result")).toInt(), 0);
    const QJsonArray pages = report.value(QStringLiteral("pages")).toArray();
    ASSERT_EQ(pages.size(), 2);
    EXPECT_TRUE(pages[0].toArray().isEmpty());
    ASSERT_EQ(pages[1].toArray().size(), 1);
    const QJsonObject imprint = pages[1].toArray()[0].toObject();
    EXPECT_EQ(imprint.value(QStringLiteral("location")).toArray(), (QJsonArray{12.5, 20}));
    EXPECT_EQ(imprint.value(QStringLiteral("size")).toArray(), (QJsonArray{30, 40}));
    EXPECT_EQ(imprint.value(QStringLiteral("properties")).toObject(),
              (QJsonObject{{QStringLiteral("kind"), QStringLiteral("stamp")}, {QStringLiteral("by"), QStringLiteral("test")}}));

    const ToolResult bad =
        runTool(QStringLiteral(FOLIVO_KVPROBE),
                {QStringLiteral("add-imprint"), input, output, QStringLiteral("--page"), QStringLiteral("3"),
                 QStringLiteral("--at"), QStringLiteral("1,1"), QStringLiteral("--size"), QStringLiteral("1,1")});
    EXPECT_NE(bad.exitCode, 0) << "no page 3";
}
