// The imprint record, the property archive, the blank page, and stored imprints read back from
// a page into one-page PDFs of their own.
#include "KVPDFArchive.h"
#include "KVPDFDocument.h"
#include "KVPDFFilters.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"
#include "support/ImagerServices.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <optional>

// Fontconfig keeps its configuration for the life of the process and never frees it; the
// leak checker would blame every test that draws text through poppler. One definition per
// test binary.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {
QByteArray deflated(const QByteArray &data) { return KVPDFDeflate(data).data; }

// An indirect stream object's text for PdfBuilder.
QByteArray stream(const QByteArray &keys, const QByteArray &data)
{
    return "<< " + keys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

QByteArray archivedStream(const QVariantMap &properties)
{
    return stream("/Filter /FlateDecode", deflated(KVPDFArchive::archive(properties)));
}

// A page as a save leaves it: its own content between marker streams, one placement stream per
// imprint, and the imprints' forms in the page's XObject resources, listed out of order.
PdfBuilder storedImprintsFile(const QByteArray &pageMarker = "/FolivoImprints [30 0 R 31 0 R 32 0 R 33 0 R]")
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 4 0 R "
             "/Contents [5 0 R 6 0 R 7 0 R 30 0 R 31 0 R 32 0 R 33 0 R] "
                 + pageMarker + " >>");
    b.add(4, "<< /XObject << /FolivoImprint10 12 0 R /FolivoFlattened3 13 0 R /FolivoImprint2 11 0 R "
             "/FolivoImprint1 10 0 R >> >>");
    b.add(5, stream("/FolivoMarker 1", "q"));
    b.add(6, stream("", "0.9 g 0 0 612 792 re f"));
    b.add(7, stream("/FolivoMarker 1", "Q"));
    const QByteArray blue = deflated("/G0 gs 0 0 1 rg 10 20 100 50 re f");
    b.add(10, stream("/Type /XObject /Subtype /Form /FormType 1 /BBox [10 20 110 70] /FolivoLocation [36 500] "
                     "/Resources << /ExtGState << /G0 21 1 R >> >> /FolivoDictionary 40 0 R /Filter /FlateDecode",
                     blue));
    b.add(11, stream("/Type /XObject /Subtype /Form /BBox [0 0 200 100] /FolivoLocation [300.5 100.25] "
                     "/Resources 22 0 R /FolivoDictionary 41 0 R",
                     "BT /F1 24 Tf 10 40 Td (Imprint) Tj ET"));
    b.add(12, stream("/Type /XObject /Subtype /Form /BBox [0 0 50 50] /FolivoLocation [1 2] "
                     "/Resources << /XObject << /Im0 24 0 R >> >> /FolivoDictionary 42 0 R",
                     "q 50 0 0 50 0 0 cm /Im0 Do Q"));
    b.add(13,
          stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /FolivoLocation [5 5] /Resources << >>", "0 g 0 0 10 10 re f"));
    b.add(21, "<< /Type /ExtGState /ca 1 >>");
    b.add(22, "<< /Font << /F1 23 0 R >> >>");
    b.add(23, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(24, stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB "
                     "/BitsPerComponent 8 /filename (/etc/hostname)",
                     QByteArray(12, '\x80')));
    for (int i = 0; i < 3; ++i)
        b.add(30 + i, stream("/FolivoImprint " + QByteArray::number(10 + i) + " 0 R",
                             "q 1 0 0 1 0 0 cm /FolivoImprint" + QByteArray::number(i == 2 ? 10 : i + 1) + " Do Q"));
    b.add(33, stream("/FolivoImprint 13 0 R /Flattened true", "q /FolivoFlattened3 Do Q"));
    b.add(40, archivedStream({{"kind", "rectangle"}, {"lineWidth", 2.5}, {"filled", true}}));
    b.add(41, archivedStream(
                  {{"kind", "text"}, {"textData", QByteArray("{\\rtf1 Imprint}")}, {"lines", QVariantList{"Imprint", 1}}}));
    b.add(42, archivedStream({{"kind", "image"}, {"filename", "/etc/hostname"}}));
    return b;
}

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// qpdf --check on the bytes: exit code and what it said.
ToolResult qpdfCheck(const QByteArray &data)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("imprint.pdf"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(data);
    file.close();
    return runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
}

class KVPDFImprintTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_services.emplace(imagerServices()); }
    static void TearDownTestSuite() { s_services.reset(); }
    static inline std::optional<KVPDFServices::Installer> s_services;
};
}

TEST_F(KVPDFImprintTest, StoredImprintsComeBackInNumericNameOrderWithTheirPlaceAndProperties)
{
    auto document = open(storedImprintsFile().build());
    ASSERT_EQ(document->pageCount(), 1u);
    auto page = document->pageAtIndex(0);
    const auto imprints = page->contentImprints();
    ASSERT_EQ(imprints.size(), 3u) << "the flattened imprint stays page content";

    struct Expected {
        const char *name;
        QPointF location;
        QSizeF size;
        QVariantMap properties;
    };
    const Expected expected[] = {
        {"FolivoImprint1", {36, 500}, {100, 50}, {{"kind", "rectangle"}, {"lineWidth", 2.5}, {"filled", true}}},
        {"FolivoImprint2",
         {300.5, 100.25},
         {200, 100},
         {{"kind", "text"}, {"textData", QByteArray("{\\rtf1 Imprint}")}, {"lines", QVariantList{"Imprint", 1}}}},
        {"FolivoImprint10", {1, 2}, {50, 50}, {{"kind", "image"}}},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].name);
        const auto &imprint = imprints[i];
        EXPECT_EQ(imprint->imprintType(), KVPDFImprint::ImprintContent);
        EXPECT_TRUE(imprint->flagPrint());
        EXPECT_FALSE(imprint->flatten());
        EXPECT_EQ(imprint->location(), expected[i].location);
        EXPECT_EQ(imprint->size(), expected[i].size);
        ASSERT_TRUE(imprint->hasDictionary());
        EXPECT_EQ(imprint->dictionary(), expected[i].properties);
        ASSERT_TRUE(imprint->document());
        ASSERT_EQ(imprint->document()->pageCount(), 1u);
        const QRectF box = imprint->document()->pageAtIndex(0)->mediaBox();
        EXPECT_EQ(box.size(), expected[i].size) << "the form's BBox is the rebuilt page's MediaBox";
    }
    EXPECT_EQ(imprints[0]->document()->pageAtIndex(0)->mediaBox(), QRectF(10, 20, 100, 50));
    // The page-tree walk reports stored imprints in the file as stored; the document opened for
    // editing holds its working copy, whose pages carry them as objects only.
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    EXPECT_TRUE(KVPDFDocument::documentWithData(storedImprintsFile().build(), &result, {}, KVPDFOpenMode::AsStored)->prepPages());
    EXPECT_FALSE(document->prepPages());
}

TEST_F(KVPDFImprintTest, RebuiltOnePagePDFsPassQpdfAndDrawTheImprint)
{
    auto document = open(storedImprintsFile().build());
    const auto imprints = document->pageAtIndex(0)->contentImprints();
    ASSERT_EQ(imprints.size(), 3u);
    for (size_t i = 0; i < imprints.size(); ++i) {
        SCOPED_TRACE(i);
        const QByteArray data = imprints[i]->document()->docData();
        ASSERT_FALSE(data.isEmpty());
        EXPECT_TRUE(data.startsWith("%PDF-1.3\n"));
        EXPECT_TRUE(data.contains("xref\n1 ")) << "one subsection starting at object 1";
        EXPECT_FALSE(data.contains("filename")) << "a path read from a file is never carried along";
        EXPECT_FALSE(data.contains("Folivo")) << "private keys of the form stay out of the content stream";

        const ToolResult check = qpdfCheck(data);
        ASSERT_TRUE(check.started);
        EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
    }

    // The blue rectangle fills the box, so the whole rebuilt page is blue.
    const QImage image = renderWithPool(imprints[0]->document()->docData(), 72, {100, 50});
    ASSERT_FALSE(image.isNull());
    for (QPoint at : {QPoint(5, 5), QPoint(50, 25), QPoint(95, 45)})
        EXPECT_EQ(image.pixelColor(at), QColor(0, 0, 255)) << at.x() << "," << at.y();
    // Text through the copied font resource draws something dark on the second imprint.
    const QImage text = renderWithPool(imprints[1]->document()->docData(), 72, {200, 100});
    ASSERT_FALSE(text.isNull());
    int inked = 0;
    for (int y = 0; y < text.height(); ++y)
        for (int x = 0; x < text.width(); ++x)
            inked += qAlpha(text.pixel(x, y)) > 128;
    EXPECT_GT(inked, 100);
}

TEST_F(KVPDFImprintTest, ImprintsAreReadOnlyFromMarkedPagesAndOnlyLiveNames)
{
    struct Case {
        const char *name;
        QByteArray marker;
        size_t imprints;
    };
    const Case cases[] = {
        {"marked page", "/FolivoImprints [30 0 R]", 3},
        {"marker present but empty", "/FolivoImprints []", 3},
        {"no marker: names alone are ordinary resources", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(storedImprintsFile(c.marker).build());
        auto page = document->pageAtIndex(0);
        EXPECT_EQ(page->contentImprints().size(), c.imprints);
        KVPDFOpenResult result = KVPDFOpenResult(-1);
        EXPECT_EQ(KVPDFDocument::documentWithData(storedImprintsFile(c.marker).build(), &result, {}, KVPDFOpenMode::AsStored)
                      ->prepPages(),
                  c.imprints > 0);
    }

    // A marked page without any imprint name reads nothing.
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /FolivoImprints [] "
                                            "/Resources << /XObject << /FolivoFlattened1 5 0 R /Im1 5 0 R >> >>");
    b.add(5, stream("/Type /XObject /Subtype /Form /BBox [0 0 1 1]", ""));
    auto document = open(b.build());
    EXPECT_TRUE(document->pageAtIndex(0)->contentImprints().empty());
    EXPECT_FALSE(document->prepPages());
}

TEST_F(KVPDFImprintTest, HostileStoredImprintsStillLoadAndStayConfined)
{
    // Deeply nested arrays: a recursive reader would run out of stack.
    const QByteArray deep = QByteArray(100000, '\x81') + QByteArray(1, '\x00');
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R /FolivoImprints [] /Annots [7 0 R] "
             "/Resources << /XObject << /FolivoImprint1 10 0 R /FolivoImprint2 11 0 R /FolivoImprint3 12 0 R "
             "/FolivoImprint4 13 0 R /FolivoImprint5 14 0 R >> >> >>");
    b.add(6, stream("", ""));
    b.add(7, "<< /Type /Annot /Subtype /Text /Rect [0 0 10 10] /P 3 0 R >>");
    // Resources that lead back to the page, its annotation and the form itself; a reference
    // to a missing object; garbage where the archived properties should be.
    b.add(10, stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /FolivoLocation [1 1] "
                     "/Resources << /XObject << /Self 10 0 R >> /Properties << /Pg 3 0 R /An 7 0 R /Gone 99 0 R "
                     "/Cat 1 0 R >> >> /FolivoDictionary 20 0 R",
                     "0 g 0 0 10 10 re f"));
    b.add(20, stream("", "not an archive at all"));
    // Neither location nor box nor properties.
    b.add(11, stream("/Type /XObject /Subtype /Form", "0 g"));
    // Properties nested far too deep, stored uncompressed.
    b.add(12, stream("/Type /XObject /Subtype /Form /BBox [0 0 5 5] /FolivoDictionary 21 0 R", ""));
    b.add(21, stream("", deep));
    // Not a form at all, and a form whose resources do not parse.
    b.add(13, "<< /Type /XObject >>");
    b.add(14, stream("/Type /XObject /Subtype /Form /BBox [0 0 5 5] /Resources 22 0 R", ""));
    b.add(22, "[ << /A [ ( ] >>");
    KVPDFLogCapture capture;
    auto document = open(b.build());
    const auto imprints = document->pageAtIndex(0)->contentImprints();
    ASSERT_GE(imprints.size(), 3u);

    const auto &confined = imprints[0];
    EXPECT_FALSE(confined->hasDictionary());
    EXPECT_EQ(confined->opaqueDictionaryData(), QByteArray("not an archive at all")) << "kept for the next save";
    const QByteArray rebuilt = confined->document()->docData();
    EXPECT_EQ(rebuilt.count("/Type /Page "), 1) << "the page tree was not copied in";
    EXPECT_FALSE(rebuilt.contains("/Annot")) << "nor the page's annotation";
    EXPECT_FALSE(rebuilt.contains("/Type /Catalog /Pages 2"));
    const ToolResult check = qpdfCheck(rebuilt);
    EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
    EXPECT_LT(confined->document()->objectCount(), 12u);
    // What was left out is null in the copy, never a number that now names something else.
    auto resources =
        kv_cast<KVPDFObjectDictionary>(confined->document()->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Resources"));
    ASSERT_TRUE(resources);
    auto properties = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("Properties"));
    ASSERT_TRUE(properties);
    for (const char *key : {"Pg", "An", "Gone", "Cat"}) {
        SCOPED_TRACE(key);
        const KVPDFObjectPtr value = properties->resolvedObjectForKey(key);
        EXPECT_TRUE(!value || value->objectType() == KVPDFObject::TypeNull);
    }
    auto self = kv_cast<KVPDFObjectStream>(
        kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("XObject"))->resolvedObjectForKey("Self"));
    ASSERT_TRUE(self) << "a form among its own resources is copied once and points at its copy";
    EXPECT_EQ(self->context(), confined->document().get());

    const auto &bare = imprints[1];
    EXPECT_EQ(bare->location(), QPointF(0, 0));
    EXPECT_EQ(bare->size(), QSizeF(0, 0));
    EXPECT_FALSE(bare->hasDictionary());
    EXPECT_TRUE(bare->opaqueDictionaryData().isEmpty());

    const auto &deepOne = imprints[2];
    EXPECT_FALSE(deepOne->hasDictionary());
    EXPECT_EQ(deepOne->opaqueDictionaryData(), deep);
    EXPECT_EQ(deepOne->size(), QSizeF(5, 5));
}

// Stored imprints whose forms rebuild alike share one document; any difference in what the
// rebuild reads keeps them apart. Shared or not, each imprint's document holds what its own
// form rebuilds to, and its place and properties stay its own.
TEST_F(KVPDFImprintTest, StoredImprintsShareTheirDocumentOnlyWhenTheirFormsRebuildAlike)
{
    const QByteArray form = "/Type /XObject /Subtype /Form /FormType 1 /BBox [0 0 50 50]";
    const QByteArray drawing = "q 50 0 0 50 0 0 cm /Im0 Do Q";
    const QByteArray direct = "<< /XObject << /Im0 21 0 R >> >>";
    struct Case {
        const char *name;
        QByteArray firstResources;
        QByteArray secondKeys;
        QByteArray secondDrawing;
        bool shared;
    };
    const Case cases[] = {
        {"same content, box and Resources", "20 0 R", form + " /Resources 20 0 R", drawing, true},
        {"other content", "20 0 R", form + " /Resources 20 0 R", "q 25 0 0 25 0 0 cm /Im0 Do Q", false},
        {"other box", "20 0 R", "/Type /XObject /Subtype /Form /FormType 1 /BBox [0 0 60 50] /Resources 20 0 R", drawing, false},
        {"other content keys", "20 0 R", form + " /Resources 20 0 R /Matrix [1 0 0 1 5 5]", drawing, false},
        {"other Resources", "20 0 R", form + " /Resources 23 0 R", drawing, false},
        {"direct Resources alike", direct, form + " /Resources " + direct, drawing, true},
        {"direct Resources naming another image", direct, form + " /Resources << /XObject << /Im0 22 0 R >> >>", drawing, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /FolivoImprints [] "
                                                "/Resources << /XObject << /FolivoImprint1 10 0 R /FolivoImprint2 11 0 R >> >>");
        b.add(10, stream(form + " /Resources " + c.firstResources + " /FolivoLocation [1 2] /FolivoDictionary 40 0 R", drawing));
        b.add(11, stream(c.secondKeys + " /FolivoLocation [300 400] /FolivoDictionary 41 0 R", c.secondDrawing));
        b.add(20, "<< /XObject << /Im0 21 0 R >> >>");
        b.add(21, stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8",
                         QByteArray(12, '\x80')));
        b.add(22, stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8",
                         QByteArray(12, '\x20')));
        b.add(23, "<< /XObject << /Im0 22 0 R >> >>");
        b.add(40, archivedStream({{"n", 1}}));
        b.add(41, archivedStream({{"n", 2}}));
        const QByteArray data = b.build();

        auto document = open(data);
        const auto imprints = document->pageAtIndex(0)->contentImprints();
        ASSERT_EQ(imprints.size(), 2u);
        EXPECT_EQ(imprints[0]->document() == imprints[1]->document(), c.shared);
        EXPECT_EQ(imprints[0]->location(), QPointF(1, 2));
        EXPECT_EQ(imprints[1]->location(), QPointF(300, 400));
        EXPECT_EQ(imprints[0]->dictionary().value(QStringLiteral("n")), QVariant(1));
        EXPECT_EQ(imprints[1]->dictionary().value(QStringLiteral("n")), QVariant(2));

        KVPDFOpenResult result = KVPDFOpenResult(-1);
        auto stored = KVPDFDocument::documentWithData(data, &result, {}, KVPDFOpenMode::AsStored);
        for (size_t i = 0; i < 2; ++i) {
            auto storedForm = kv_cast<KVPDFObjectStream>(stored->resolveObject(10 + i, 0));
            ASSERT_TRUE(storedForm);
            ASSERT_TRUE(imprints[i]->document());
            EXPECT_TRUE(imprints[i]->document()->docData()
                        == KVPDFImprint::onePageDataForForm(storedForm, storedForm->dictionary()->resolvedObjectForKey("BBox")))
                << "imprint " << i << " draws what its own form rebuilds to";
        }
    }

    // Pages that share one Resources dictionary reach the same forms: each page has imprints of
    // its own, drawn by the documents the other pages' imprints draw.
    PdfBuilder b = PdfBuilder::withPages(3, "/MediaBox [0 0 612 792] /FolivoImprints [] /Resources 7 0 R");
    b.add(7, "<< /XObject << /FolivoImprint1 10 0 R /FolivoImprint2 11 0 R >> >>");
    b.add(10, stream(form + " /Resources << >> /FolivoLocation [1 2]", "0 g 0 0 50 50 re f"));
    b.add(11, stream(form + " /Resources << >> /FolivoLocation [3 4]", "1 g 0 0 50 50 re f"));
    auto document = open(b.build());
    ASSERT_EQ(document->pageCount(), 3u);
    const auto first = document->pageAtIndex(0)->contentImprints();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_NE(first[0]->document().get(), first[1]->document().get());
    for (size_t page = 1; page < 3; ++page) {
        SCOPED_TRACE(page);
        const auto imprints = document->pageAtIndex(page)->contentImprints();
        ASSERT_EQ(imprints.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_NE(imprints[i].get(), first[i].get());
            EXPECT_EQ(imprints[i]->document().get(), first[i]->document().get());
        }
    }
}

TEST_F(KVPDFImprintTest, StoredImprintsOfAnEncryptedFileAreRebuiltInClear)
{
    struct Case {
        const char *name;
        QStringList encryption;
    };
    const Case cases[] = {
        {"RC4 128-bit", {QStringLiteral("128"), QStringLiteral("--use-aes=n")}},
        {"AES 128-bit", {QStringLiteral("128"), QStringLiteral("--use-aes=y")}},
    };
    PdfBuilder b = storedImprintsFile();
    // A string in the resources: it decrypts with its object's number, which the copy lacks.
    b.add(21, "<< /Type /ExtGState /ca 1 /Label (secret label) >>");
    // The peer tool drops a reference whose generation does not match; this one must survive.
    b.objects[10].replace("21 1 R", "21 0 R");
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.pdf"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(b.build());
    file.close();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString encrypted = dir.filePath(QStringLiteral("encrypted.pdf"));
        QStringList arguments{QStringLiteral("--allow-weak-crypto"), QStringLiteral("--object-streams=disable"),
                              QStringLiteral("--encrypt"), QString(), QStringLiteral("owner")};
        arguments << c.encryption << QStringLiteral("--") << plain << encrypted;
        const ToolResult made = runTool(QStringLiteral("qpdf"), arguments);
        ASSERT_TRUE(made.exitCode == 0 || made.exitCode == 3) << made.err.constData();
        QFile in(encrypted);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        const QByteArray data = in.readAll();
        ASSERT_FALSE(data.contains("secret label"));
        auto document = open(data);
        const auto imprints = document->pageAtIndex(0)->contentImprints();
        ASSERT_EQ(imprints.size(), 3u);
        EXPECT_EQ(imprints[0]->dictionary().value(QStringLiteral("kind")), QVariant("rectangle"));
        const QByteArray rebuilt = imprints[0]->document()->docData();
        EXPECT_TRUE(rebuilt.contains("<" + QByteArray("secret label").toHex().toUpper() + ">")
                    || rebuilt.contains("(secret label)"));
        EXPECT_FALSE(rebuilt.contains("/Encrypt"));
        const QImage image = renderWithPool(rebuilt, 72, {100, 50});
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.pixelColor(50, 25), QColor(0, 0, 255)) << "the content decrypted";
        const ToolResult check = qpdfCheck(rebuilt);
        EXPECT_EQ(check.exitCode, 0) << check.out.constData();
    }
}

TEST(KVPDFImprintRecordTest, DictionaryKeepsTheSessionFileNameAcrossReplacement)
{
    KVPDFImprint imprint;
    EXPECT_FALSE(imprint.hasDictionary());
    imprint.setDictionary({{"kind", "image"}, {"filename", "/home/me/cat.jpg"}});
    imprint.setDictionary({{"kind", "image"}, {"scale", 2}});
    EXPECT_EQ(imprint.dictionary(), (QVariantMap{{"kind", "image"}, {"scale", 2}, {"filename", "/home/me/cat.jpg"}}));
    EXPECT_EQ(imprint.fileName(), QStringLiteral("/home/me/cat.jpg"));
    imprint.removeFileName();
    EXPECT_EQ(imprint.dictionary(), (QVariantMap{{"kind", "image"}, {"scale", 2}}));
    imprint.setDictionary({{"kind", "text"}});
    EXPECT_EQ(imprint.dictionary(), (QVariantMap{{"kind", "text"}})) << "nothing to keep once removed";

    imprint.setOpaqueDictionaryData("blob");
    EXPECT_FALSE(imprint.hasDictionary());
    imprint.setDictionary({{"kind", "text"}});
    EXPECT_TRUE(imprint.opaqueDictionaryData().isEmpty()) << "a new dictionary replaces the unreadable bytes";
}

TEST(KVPDFImprintRecordTest, CopySharesTheDocumentAndIsNeverFlattened)
{
    auto imprint = KVPDFImprint::imprintWithData(KVPDFBlankPage(), {3, 4});
    imprint->setSize({10, 20});
    imprint->setDictionary({{"kind", "stamp"}});
    imprint->setFlatten(true);
    auto copy = imprint->copy();
    EXPECT_EQ(copy->document(), imprint->document());
    EXPECT_EQ(copy->location(), QPointF(3, 4));
    EXPECT_EQ(copy->size(), QSizeF(10, 20));
    EXPECT_EQ(copy->dictionary(), imprint->dictionary());
    EXPECT_FALSE(copy->flatten());
    copy->setDictionary({{"kind", "other"}});
    EXPECT_EQ(imprint->dictionary().value("kind"), QVariant("stamp")) << "the dictionary is a copy";

    auto broken = KVPDFImprint::imprintWithData("not a pdf", {0, 0});
    ASSERT_TRUE(broken->document()) << "data that does not parse still gives an imprint";
    EXPECT_EQ(broken->document()->pageCount(), 0u);
}

TEST(KVPDFImprintRecordTest, ImageFileNameIsHonouredOnlyWhereThisSessionSetIt)
{
    auto made = std::make_shared<KVPDFObjectDictionary>();
    KVPDFImprint::setImageFileName(made, QStringLiteral("/tmp/photo.jpg"));
    EXPECT_EQ(KVPDFImprint::imageFileName(*made), QStringLiteral("/tmp/photo.jpg"));

    auto copied = kv_cast<KVPDFObjectDictionary>(made->copy());
    EXPECT_TRUE(copied->objectForKey("filename"));
    EXPECT_EQ(KVPDFImprint::imageFileName(*copied), QString()) << "a copy was not made by setImageFileName";

    auto read = std::make_shared<KVPDFObjectDictionary>();
    read->setObject("filename", KVPDFObjectString::stringWithString(QStringLiteral("/etc/passwd")));
    EXPECT_EQ(KVPDFImprint::imageFileName(*read), QString()) << "as a file would carry it";

    made->setObject("filename", KVPDFObjectString::stringWithString(QStringLiteral("/etc/passwd")));
    EXPECT_EQ(KVPDFImprint::imageFileName(*made), QString()) << "changed after it was set";
}

TEST(KVPDFArchiveTest, PropertiesRoundTripUnchanged)
{
    const QVariantMap properties{
        {"kind", "text"},
        {"count", 42},
        {"ratio", 0.125},
        {"visible", false},
        {"textData", QByteArray("{\\rtf1\\ansi \\b bold\\b0}", 24)},
        {"date", QDateTime(QDate(2024, 2, 29), QTime(12, 30), Qt::UTC)},
        {"url", QUrl(QStringLiteral("https://example.org/a?b=c"))},
        {"points", QVariantList{1.5, 2, QVariantList{"nested", true}}},
        {"style", QVariantMap{{"font", "Helvetica"}, {"size", 12}}},
        {"empty", QVariantMap()},
    };
    const std::optional<QVariantMap> back = KVPDFArchive::unarchive(KVPDFArchive::archive(properties));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, properties);
}

TEST(KVPDFArchiveTest, UnreadableArchivesAreRefusedWithoutBuildingThem)
{
    const QByteArray map = KVPDFArchive::archive({{"a", 1}});
    struct Case {
        const char *name;
        QByteArray data;
    };
    const Case cases[] = {
        {"empty", QByteArray()},
        {"not CBOR", QByteArray("\xff\xff\xff", 3)},
        {"top item is a list", QByteArray("\x82\x01\x02", 3)},
        {"trailing bytes after the map", map + "junk"},
        {"map cut short", map.left(map.size() - 1)},
        {"arrays nested 100000 deep", QByteArray(100000, '\x81') + QByteArray(1, '\x00')},
        {"indefinite maps nested deep", "\xa1\x61"
                                        "a" + QByteArray(10000, '\x9f')
                                            + QByteArray(10000, '\xff')},
        {"a run of tags", "\xa1\x61"
                          "a" + QByteArray(5000, '\xc6')
                              + QByteArray(1, '\x01')},
        {"an array claiming four billion items", QByteArray("\xa1\x61"
                                                            "a\x9a\xff\xff\xff\xff\x01",
                                                            9)},
        {"a string claiming more bytes than there are", QByteArray("\xa1\x61"
                                                                   "a\x7a\x00\x10\x00\x00"
                                                                   "abc",
                                                                   11)},
        {"more items than allowed", QByteArray("\xa1\x61"
                                               "a\x9a\x00\x20\x00\x00",
                                               8)
                                        + QByteArray(0x200000, '\x00')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture capture;
        EXPECT_FALSE(KVPDFArchive::unarchive(c.data).has_value());
    }
}

TEST(KVPDFBlankPageTest, BlankPageIsOneEmptyLetterPageWithTheTemplateID)
{
    const QByteArray data = KVPDFBlankPage();
    ASSERT_FALSE(data.isEmpty()) << "compiled into the library";
    const QByteArray templateID("\x7B\xEC\x2A\x5E\xD9\x3F\x94\xFA\xA0\x41\xDE\xAC\x2A\xEB\xF1\x3B", 16);
    EXPECT_TRUE(data.contains("<" + templateID.toHex().toUpper() + ">"));
    auto document = open(data);
    ASSERT_EQ(document->pageCount(), 1u);
    EXPECT_EQ(document->pageAtIndex(0)->mediaBox(), QRectF(0, 0, 612, 792));
    EXPECT_NE(document->docID(0), QString::fromLatin1(templateID.toHex().toUpper()))
        << "a document made from the template gets an ID of its own";
    const ToolResult check = qpdfCheck(data);
    EXPECT_EQ(check.exitCode, 0) << check.out.constData();

    // The file beside the script is the one compiled in.
    QFile shipped(QDir::cleanPath(QStringLiteral(FOLIVO_TEST_DATA "/../../resources/blankpage.pdf")));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_EQ(shipped.readAll(), data);
}
