// Free-text boxes: DA and DS as read and written (in any locale), the default font, what
// reading and the opacity setter write, and the appearance built from a rendering, alone and
// as other readers see it once saved.
#include "KVPDFAnnotationFreeText.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace savechecks;

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// The first free-text box of a one-page file whose only annotation is `dictionary`.
struct Box {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFAnnotationFreeText> box;
};
Box boxFrom(const QByteArray &dictionary)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
    b.add(10, dictionary);
    Box made{open(b.build()), nullptr};
    for (const auto &annotation : made.document->pageAtIndex(0)->annotationImprints())
        if (auto box = std::dynamic_pointer_cast<KVPDFAnnotationFreeText>(annotation))
            made.box = box;
    return made;
}

QString stringEntry(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key)
{
    auto string = kv_cast<KVPDFObjectString>(dictionary->resolvedObjectForKey(key));
    return string ? string->stringValue() : QString();
}
}

TEST(KVPDFAnnotationFreeTextTest, DefaultAppearanceTextsRead)
{
    struct Case {
        const char *da;
        std::optional<KVColor> color;
        QString font;
        float size;
    };
    const Case cases[] = {
        {"0 0 1 rg /Helv 12 Tf", KVColor::rgb(0, 0, 1), QStringLiteral("Helvetica"), 12},
        {"/Helv 0 Tf 0.5 g", KVColor::gray(0.5f), QStringLiteral("Helvetica"), 0},
        {"1 0 0 0 k /TiRo 9.5 Tf", KVColor::cmyk(1, 0, 0, 0), QStringLiteral("Times-Roman"), 9.5f},
        {"/Open#20Sans 10 Tf", std::nullopt, QStringLiteral("Open Sans"), 10},
        {"0.2 0.4 0.6 rg", KVColor::rgb(0.2f, 0.4f, 0.6f), QString(), 0},
        {"/F1 11 Tf /F2 14 Tf", std::nullopt, QStringLiteral("F1"), 11},
        {"q BT /F1 8 Tfx", std::nullopt, QString(), 0},
        {"", std::nullopt, QString(), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.da);
        const KVPDFAnnotationFreeText::DA da = KVPDFAnnotationFreeText::parseDA(QString::fromLatin1(c.da));
        EXPECT_EQ(da.color, c.color);
        EXPECT_EQ(da.fontName, c.font);
        EXPECT_EQ(da.fontSize, c.size);
    }
}

TEST(KVPDFAnnotationFreeTextTest, DAAndDSAreWrittenWithFixedDecimalsAndTruncatedHex)
{
    auto [document, box] = boxFrom("<< /Type /Annot /Subtype /FreeText /Rect [50 50 150 80] /DA (0 0 1 rg /Helv 12 Tf)"
                                   " /DS (font: Helvetica 12pt; color:#ff8000) >>");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->borderColor(), KVColor::rgb(0, 0, 1));
    EXPECT_EQ(box->textColor(), KVColor::rgb(1, 128.0f / 255, 0));

    box->updateDA();
    EXPECT_EQ(stringEntry(box->annotDict(), "DA"), QStringLiteral("0.000 0.000 1.000 rg /Helvetica 12.00 Tf"));
    box->setTextColor(KVColor::rgb(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(stringEntry(box->annotDict(), "DS"),
              QStringLiteral("font: Helvetica,sans-serif 12.00pt; text-align:left; color:#7f7f7f"));
    box->setBorderColor(std::nullopt);
    box->setFontName(QStringLiteral("Open Sans"));
    box->updateDA();
    EXPECT_EQ(stringEntry(box->annotDict(), "DA"), QStringLiteral("/Open#20Sans 12.00 Tf")) << "a name token, read back whole";
    EXPECT_EQ(KVPDFAnnotationFreeText::parseDA(stringEntry(box->annotDict(), "DA")).fontName, QStringLiteral("Open Sans"));

    box->setFontSize(0);
    box->updateDA();
    EXPECT_EQ(stringEntry(box->annotDict(), "DA"), QStringLiteral("/Open#20Sans 12.00 Tf")) << "size 0 writes nothing";
}

TEST(KVPDFAnnotationFreeTextTest, ABoxWithoutFontTakesTheInstalledDefaultFont)
{
    struct Case {
        const char *name;
        KVPDFDefaultFontFunction provider;
        QString font;
        float size;
    };
    const Case cases[] = {
        {"nothing installed", nullptr, QStringLiteral("Helvetica"), 12},
        {"the program's font",
         [] {
             return KVPDFDefaultFont{QStringLiteral("Times-Roman"), 9};
         },
         QStringLiteral("Times-Roman"), 9},
        {"no name, no size",
         [] {
             return KVPDFDefaultFont{QString(), 0};
         },
         QStringLiteral("Helvetica"), 12},
        {"a size that is no number",
         [] {
             return KVPDFDefaultFont{QStringLiteral("Courier"), std::nan("")};
         },
         QStringLiteral("Courier"), 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFServices services;
        services.defaultFont = c.provider;
        KVPDFServices::Installer installed(services);
        auto [document, box] = boxFrom("<< /Type /Annot /Subtype /FreeText /Rect [50 50 150 80] /DA (0 g) >>");
        ASSERT_TRUE(box);
        EXPECT_EQ(box->fontName(), c.font);
        EXPECT_EQ(box->fontSize(), c.size);
    }
}

TEST(KVPDFAnnotationFreeTextTest, ReadingWritesNothingAndOpacityIsWrittenWhenItChanges)
{
    const QByteArray dictionary = "<< /Type /Annot /Subtype /FreeText /Rect [50 50 150 80] /Contents (box) >>";
    auto [document, box] = boxFrom(dictionary);
    ASSERT_TRUE(box);
    const QByteArray read = box->annotDict()->directObject();
    EXPECT_EQ(box->alpha(), 1.0f);
    box->setAlpha(1.0f);
    EXPECT_EQ(box->annotDict()->directObject(), read);
    EXPECT_EQ(read, boxFrom(dictionary).box->annotDict()->directObject());

    box->setAlpha(0.5f);
    EXPECT_EQ(box->annotDict()->resolvedObjectForKey("CA")->realValue(), 0.5f);

    auto [zeroDocument, zero] = boxFrom("<< /Type /Annot /Subtype /FreeText /Rect [0 0 1 1] /CA 0 >>");
    EXPECT_EQ(zero->alpha(), 0.0f);
}

TEST(KVPDFAnnotationFreeTextTest, BorderChangesWriteBSAndDropTheAppearance)
{
    struct Case {
        std::vector<double> dash;
        const char *style;
    };
    for (const Case &c : {Case{{3, 2}, "D"}, Case{{}, "S"}}) {
        SCOPED_TRACE(c.style);
        auto [document, box] = boxFrom("<< /Type /Annot /Subtype /FreeText /Rect [50 50 150 80] /AP << /N 11 0 R >> >>");
        box->setStrokePattern(c.dash);
        auto bs = kv_cast<KVPDFObjectDictionary>(box->annotDict()->resolvedObjectForKey("BS"));
        ASSERT_TRUE(bs);
        EXPECT_EQ(bs->nameForKey("S"), QByteArray(c.style));
        EXPECT_EQ(box->annotDict()->objectForKey("AP"), nullptr);
    }
}

TEST(KVPDFAnnotationFreeTextTest, AppearanceIsTheRenderingsBytesWithItsFirstFontRenamed)
{
    auto [document, box] = boxFrom("<< /Type /Annot /Subtype /FreeText /Rect [50 50 150 80] /Contents (old) >>");
    ASSERT_TRUE(box);
    // A rendering with two fonts whose names share a prefix, a comment and CR LF line ends.
    const QByteArray content = "% drawn\r\nBT /F1 12 Tf 2 10 Td (a) Tj ET\r\nBT /F10 8 Tf (b) Tj ET\r\nBT /F1 9 Tf (c) Tj ET";
    PdfBuilder rendering =
        PdfBuilder::withPages(1, "/MediaBox [0 0 100 30] /Contents 5 0 R /Resources << /Font << /F1 6 0 R /F10 7 0 R >> >>");
    rendering.add(5, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    rendering.add(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    rendering.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
    box->setDocument(open(rendering.build()));

    const KVPDFAnnotationFreeText::Edit edit{QStringLiteral("new text"), QStringLiteral("Helvetica"), 12};
    box->update(&edit);
    EXPECT_EQ(box->contents(), QStringLiteral("new text"));
    EXPECT_EQ(stringEntry(box->annotDict(), "Contents"), QStringLiteral("new text"));
    EXPECT_TRUE(box->annotDict()->objectForKey("M"));

    auto ap = kv_cast<KVPDFObjectDictionary>(box->annotDict()->resolvedObjectForKey("AP"));
    ASSERT_TRUE(ap);
    auto stream = kv_cast<KVPDFObjectStream>(ap->resolvedObjectForKey("N"));
    ASSERT_TRUE(stream);
    const QByteArray data = stream->decodedData();
    EXPECT_TRUE(data.startsWith("q 1 0 0 1 50.000000 50.000000 cm")) << data.constData();
    EXPECT_TRUE(data.contains("% drawn\r\nBT /FVFont 12 Tf 2 10 Td (a) Tj ET\r\nBT /F10 8 Tf (b) Tj ET\r\nBT /FVFont 9 Tf"))
        << "bytes and line ends kept, only the whole name /F1 renamed: " << data.constData();
    EXPECT_TRUE(data.endsWith("\nQ\n")) << "the comment cannot swallow the closing Q";
    EXPECT_EQ(KVPDFPage::getPDFRectFromArray(stream->resolvedObjectForKey("BBox")), QRectF(50, 50, 100, 30));
    EXPECT_EQ(KVPDFAnnotation::transformForArray(stream->resolvedObjectForKey("Matrix")), QTransform(1, 0, 0, 1, -50, -50));
    auto resources = kv_cast<KVPDFObjectDictionary>(stream->resolvedObjectForKey("Resources"));
    ASSERT_TRUE(resources);
    auto fonts = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("Font"));
    ASSERT_TRUE(fonts);
    EXPECT_TRUE(fonts->objectForKey("FVFont"));
    EXPECT_TRUE(fonts->objectForKey("F10"));
    EXPECT_FALSE(box->subobjects().empty());
}

TEST(KVPDFAnnotationFreeTextTest, ABoxDrawnByQPdfWriterShowsItsTextInsideTheBox)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in.pdf"));
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(writeFile(in, PdfBuilder::withPages(1).build()));
    const QRectF box(100, 500, 200, 40);
    const ToolResult added =
        runTool(QStringLiteral(FOLIVO_KVPROBE),
                {QStringLiteral("add-freetext"), in, QStringLiteral("--page"), QStringLiteral("1"), QStringLiteral("--rect"),
                 QStringLiteral("100,500,200,40"), QStringLiteral("Hello free text"), QStringLiteral("-o"), out});
    ASSERT_EQ(added.exitCode, 0) << added.err.constData();
    EXPECT_EQ(qpdfCheck(out).exitCode, 0);

    const ToolResult json =
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=1"), QStringLiteral("--json-key=objects"), out});
    const QJsonObject objects = QJsonDocument::fromJson(json.out).object().value(QStringLiteral("objects")).toObject();
    QJsonObject form;
    for (const QJsonValue &value : objects) {
        const QJsonObject object = value.toObject();
        if (object.value(QStringLiteral("/Subtype")) == QStringLiteral("/FreeText"))
            form =
                objects.value(object.value(QStringLiteral("/AP")).toObject().value(QStringLiteral("/N")).toString()).toObject();
    }
    ASSERT_FALSE(form.isEmpty());
    EXPECT_EQ(form.value(QStringLiteral("/BBox")).toArray(), QJsonArray({100, 500, 300, 540}));
    EXPECT_EQ(form.value(QStringLiteral("/Matrix")).toArray(), QJsonArray({1, 0, 0, 1, -100, -500}));
    EXPECT_TRUE(form.value(QStringLiteral("/Resources"))
                    .toObject()
                    .value(QStringLiteral("/Font"))
                    .toObject()
                    .contains(QStringLiteral("/FVFont")));

    // pdftotext's boxes have their origin at the top left of the 792-point page.
    const ToolResult words = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), out, QStringLiteral("-")});
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QStringList found;
    for (auto it = word.globalMatch(QString::fromUtf8(words.out)); it.hasNext();) {
        const auto match = it.next();
        const QRectF place(QPointF(match.captured(1).toDouble(), 792 - match.captured(4).toDouble()),
                           QPointF(match.captured(3).toDouble(), 792 - match.captured(2).toDouble()));
        EXPECT_TRUE(box.contains(place)) << match.captured(5).toStdString();
        found << match.captured(5);
    }
    EXPECT_EQ(found, QStringList({QStringLiteral("Hello"), QStringLiteral("free"), QStringLiteral("text")}));
}
