// Text markup annotations: what reading leaves alone, what each setter writes and whether the
// stale appearance goes, a highlight made over a word pdftotext finds, and the corner order of
// files whose trailer chain says version 4.0, through the working copy, a refresh and a save.
#include "KVPDFAnnotationMarkup.h"

#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFTrailer.h"
#include "KVProbeJson.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

std::shared_ptr<KVPDFAnnotationMarkup> markupOn(const std::shared_ptr<KVPDFDocument> &document, size_t index = 0)
{
    for (const auto &annotation : document->pageAtIndex(0)->annotationImprints())
        if (auto markup = std::dynamic_pointer_cast<KVPDFAnnotationMarkup>(annotation); markup && index-- == 0)
            return markup;
    return nullptr;
}

// The numbers of an array as doubles.
std::vector<double> numbers(const KVPDFObjectPtr &object)
{
    std::vector<double> out;
    if (auto array = kv_cast<KVPDFObjectArray>(object ? object->resolvedObject() : nullptr))
        for (size_t i = 0; i < array->count(); ++i)
            out.push_back(array->resolvedObjectAtIndex(i)->realValue());
    return out;
}

// A page holding one markup of `keys` (object 10), and `trailer` as extra trailer keys.
QByteArray markupFile(const QByteArray &keys, const QByteArray &trailer = {})
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
    b.add(10, "<< /Type /Annot /Subtype /Highlight /Rect [0 0 10 10] " + keys + " >>");
    b.trailerExtra = trailer;
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

const std::vector<double> kSwappedQuad{1, 2, 3, 4, 5, 6, 7, 8};
const std::vector<double> kSoundQuad{5, 6, 7, 8, 1, 2, 3, 4};
}

TEST(KVPDFAnnotationMarkupTest, ReadingWritesNothingAndTheKindFollowsTheSubtype)
{
    struct Case {
        QByteArray subtype;
        int type;
    };
    const Case cases[] = {
        {"Highlight", KVPDFAnnotation::AnnotationHighlight},
        {"Underline", KVPDFAnnotation::AnnotationUnderline},
        {"Squiggly", KVPDFAnnotation::AnnotationSquiggly},
        {"StrikeOut", KVPDFAnnotation::AnnotationStrikeOut},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subtype.constData());
        PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
        const QByteArray text = "<< /Type /Annot /Subtype /" + c.subtype + " /Rect [0 0 10 10] /QuadPoints [1 2 3 4 5 6 7] >>";
        b.add(10, text);
        auto document = open(b.build());
        auto markup = markupOn(document);
        ASSERT_TRUE(markup);
        EXPECT_EQ(markup->annotationType(), c.type);
        EXPECT_EQ(markup->color(), KVPDFAnnotationMarkup::defaultColor()) << "no C reads as black";
        EXPECT_EQ(markup->quadPoints(), (std::vector<QPointF>{{1, 2}, {3, 4}, {5, 6}})) << "the unpaired number is ignored";
        EXPECT_GE(markup->modified(), QDateTime::currentDateTime().addSecs(-5));
        EXPECT_EQ(kvProbeValueJson(markup->annotDict()),
                  QByteArray(R"({"/QuadPoints":[1,2,3,4,5,6,7],"/Rect":[0,0,10,10],"/Subtype":"/)") + c.subtype
                      + R"(","/Type":"/Annot"})")
            << "neither C, M nor Subtype is written by reading";
    }
    KVPDFAnnotationMarkup other(KVPDFObjectDictionary::dictionaryWithDictionary({}), "Caret", nullptr);
    EXPECT_EQ(other.annotationType(), KVPDFAnnotation::AnnotationUnderline);
}

// Each setter on a highlight that has an appearance: what it writes, whether the appearance
// stays, and where Rect ends.
TEST(KVPDFAnnotationMarkupTest, SettersWriteTheirKeyAndNewCornersGrowRectAndDropTheAppearance)
{
    struct Case {
        const char *name;
        std::function<void(KVPDFAnnotationMarkup &)> set;
        QByteArray key;
        QByteArray written; // kvProbeValueJson of the key afterwards
        bool keepsAppearance;
        QRectF rect; // Rect afterwards
    };
    const QRectF unchanged(100, 100, 50, 10);
    const Case cases[] = {
        {"contents", [](KVPDFAnnotationMarkup &m) { m.setContents(QStringLiteral("note")); }, "Contents", "\"u:note\"", true,
         unchanged},
        {"no contents", [](KVPDFAnnotationMarkup &m) { m.setContents(QString()); }, "Contents", "\"u:\"", true, unchanged},
        {"name", [](KVPDFAnnotationMarkup &m) { m.setName(QStringLiteral("nm")); }, "NM", "\"u:nm\"", true, unchanged},
        {"colour", [](KVPDFAnnotationMarkup &m) { m.setColor(KVColor::rgb(0, 1, 0, 0.5f)); }, "C", "[0.0,1.0,0.0]", false,
         unchanged},
        {"same subtype", [](KVPDFAnnotationMarkup &m) { m.setSubtype("Highlight"); }, "Subtype", "\"/Highlight\"", true,
         unchanged},
        {"other subtype", [](KVPDFAnnotationMarkup &m) { m.setSubtype("StrikeOut"); }, "Subtype", "\"/StrikeOut\"", false,
         unchanged},
        {"corners inside", [](KVPDFAnnotationMarkup &m) { m.setQuadPoints({{110, 101}, {120, 101}, {120, 105}, {110, 105}}); },
         "QuadPoints", "[110.0,101.0,120.0,101.0,120.0,105.0,110.0,105.0]", false, unchanged},
        {"corners beyond", [](KVPDFAnnotationMarkup &m) { m.setQuadPoints({{90, 100}, {200, 100}, {200, 130}, {90, 130}}); },
         "QuadPoints", "[90.0,100.0,200.0,100.0,200.0,130.0,90.0,130.0]", false, QRectF(90, 100, 110, 30)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
        b.add(10, "<< /Type /Annot /Subtype /Highlight /Rect [100 100 150 110] /C [1 1 0] /AP << /N 11 0 R >> "
                  "/QuadPoints [100 110 150 110 100 100 150 100] >>");
        b.add(11, "<< /Type /XObject /Subtype /Form /BBox [100 100 150 110] /Length 0 >>\nstream\n\nendstream");
        auto document = open(b.build());
        auto markup = markupOn(document);
        ASSERT_TRUE(markup);
        c.set(*markup);
        EXPECT_EQ(kvProbeValueJson(markup->annotDict()->resolvedObjectForKey(c.key)), c.written);
        EXPECT_EQ(markup->annotDict()->objectForKey("AP") != nullptr, c.keepsAppearance);
        EXPECT_EQ(markup->dictionaryRect(), c.rect);
    }
}

TEST(KVPDFAnnotationMarkupTest, NewMarkupsCoverTheirRectangleAndCopiesKeepTheAppearance)
{
    auto document = open(PdfBuilder::withPages(1).build());
    auto page = document->pageAtIndex(0);
    auto highlight = KVPDFAnnotationMarkup::annotationWithContents(QStringLiteral("x"), QRectF(10, 20, 100, 12), page.get(),
                                                                   KVColor());
    EXPECT_EQ(numbers(highlight->annotDict()->objectForKey("QuadPoints")), (std::vector<double>{10, 20, 110, 20, 110, 32, 10, 32}));
    EXPECT_EQ(numbers(highlight->annotDict()->objectForKey("Rect")), (std::vector<double>{10, 20, 110, 32}));
    EXPECT_EQ(numbers(highlight->annotDict()->objectForKey("C")), (std::vector<double>{0}));
    EXPECT_EQ(highlight->subtype(), "Highlight");

    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
    b.add(10, "<< /Type /Annot /Subtype /Squiggly /Rect [0 0 10 10] /NM (a) /C [1 0 0] /AP << /N 11 0 R >> "
              "/QuadPoints [0 10 10 10 0 0 10 0] >>");
    b.add(11, "<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] /Length 0 >>\nstream\n\nendstream");
    auto withAppearance = open(b.build());
    auto source = markupOn(withAppearance);
    ASSERT_TRUE(source);
    auto copy = std::dynamic_pointer_cast<KVPDFAnnotationMarkup>(source->copy());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->annotDict()->objectForKey("AP")) << "a copy shows what its source shows";
    EXPECT_EQ(copy->annotationType(), KVPDFAnnotation::AnnotationSquiggly);
    EXPECT_EQ(copy->name(), QStringLiteral("a"));
    EXPECT_EQ(copy->color(), KVColor::rgb(1, 0, 0));
    EXPECT_EQ(copy->quadPoints(), source->quadPoints());
}

// A highlight made over a word where pdftotext finds it covers exactly that word's box.
TEST(KVPDFAnnotationMarkupTest, HighlightOverAWordPdftotextFinds)
{
    const QByteArray content = "BT /F1 24 Tf 72 700 Td (Folio) Tj ET\n";
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Resources << /Font << /F1 10 0 R >> >> /Contents 11 0 R");
    b.add(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(11, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("word.pdf"));
    ASSERT_TRUE(savechecks::writeFile(source, b.build()));
    const ToolResult bbox = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), source, QStringLiteral("-")});
    ASSERT_EQ(bbox.exitCode, 0) << bbox.err.constData();
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">Folio</word>"));
    const QRegularExpressionMatch match = word.match(QString::fromUtf8(bbox.out));
    ASSERT_TRUE(match.hasMatch()) << bbox.out.constData();
    // pdftotext counts y from the top of the page.
    const double x0 = match.captured(1).toDouble(), x1 = match.captured(3).toDouble();
    const double y0 = 792 - match.captured(4).toDouble(), y1 = 792 - match.captured(2).toDouble();

    auto document = open(b.build());
    auto page = document->pageAtIndex(0);
    ASSERT_TRUE(page->annotationImprints().empty());
    const QRectF box(x0, y0, x1 - x0, y1 - y0);
    auto highlight = KVPDFAnnotationMarkup::annotationWithContents(QString(), box, page.get(), KVColor::rgb(1, 1, 0));
    highlight->setQuadPoints({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
    highlight->setSubtype("Highlight");
    page->addImprint(highlight);
    const QString saved = dir.filePath(QStringLiteral("highlighted.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));

    const ToolResult json = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=2"), QStringLiteral("--json-key=qpdf"), saved});
    ASSERT_EQ(json.exitCode, 0) << json.err.constData();
    const QJsonObject objects = QJsonDocument::fromJson(json.out).object().value(QStringLiteral("qpdf")).toArray().at(1).toObject();
    QJsonArray quads;
    for (const QJsonValue &object : objects)
        if (object.toObject().value(QStringLiteral("value")).toObject().value(QStringLiteral("/Subtype")) == QStringLiteral("/Highlight"))
            quads = object.toObject().value(QStringLiteral("value")).toObject().value(QStringLiteral("/QuadPoints")).toArray();
    const double expected[] = {x0, y0, x1, y0, x1, y1, x0, y1};
    ASSERT_EQ(quads.size(), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(quads.at(i).toDouble(), expected[i], 1e-3) << i;
}

// Files written by version 4.0 stored each quadrilateral's halves swapped.
TEST(KVPDFAnnotationMarkupTest, VersionFourCornersAreReorderedOnlyForThatVersion)
{
    struct Case {
        const char *name;
        QByteArray trailer;
        QByteArray quads;
        std::vector<double> read;
    };
    const Case cases[] = {
        {"4.0", "/FolivoVersion (4.0)", "[1 2 3 4 5 6 7 8]", kSoundQuad},
        {"4.0 as a text string", "/FolivoVersion <FEFF0034002E0030>", "[1 2 3 4 5 6 7 8]", kSoundQuad},
        {"4.1", "/FolivoVersion (4.1)", "[1 2 3 4 5 6 7 8]", kSwappedQuad},
        {"5.0.3", "/FolivoVersion (5.0.3)", "[1 2 3 4 5 6 7 8]", kSwappedQuad},
        {"a name is no version", "/FolivoVersion /4.0", "[1 2 3 4 5 6 7 8]", kSwappedQuad},
        {"none", "", "[1 2 3 4 5 6 7 8]", kSwappedQuad},
        {"a trailing short group stays", "/FolivoVersion (4.0)", "[1 2 3 4 5 6 7 8 9 10 11 12]",
         {5, 6, 7, 8, 1, 2, 3, 4, 9, 10, 11, 12}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(markupFile("/QuadPoints " + c.quads, c.trailer));
        auto markup = markupOn(document);
        ASSERT_TRUE(markup);
        EXPECT_EQ(numbers(markup->annotDict()->objectForKey("QuadPoints")), c.read);
        std::vector<double> points;
        for (const QPointF &point : markup->quadPoints())
            points.insert(points.end(), {point.x(), point.y()});
        EXPECT_EQ(points, c.read);
    }
}

// The version is found however the file reached memory, and the saved file is read in its
// sound order without a second reorder.
TEST(KVPDFAnnotationMarkupTest, VersionFourFilesAreReorderedOnceThroughUpdatesImprintsAndSaves)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The 4.0 file, then one that an update appended to without repeating the version.
    const QByteArray plain = markupFile("/QuadPoints [1 2 3 4 5 6 7 8]", "/FolivoVersion (4.0)");
    QByteArray updated = plain;
    {
        const qsizetype startxref = plain.lastIndexOf("startxref\n") + 10;
        const QByteArray prev = plain.mid(startxref, plain.indexOf('\n', startxref) - startxref);
        const qsizetype at = updated.size();
        updated += "12 0 obj\n<< /Producer (update) >>\nendobj\n";
        const qsizetype xref = updated.size();
        updated += "xref\n12 1\n" + QByteArray::number(at).rightJustified(10, '0') + " 00000 n\r\n"
                   + "trailer\n<< /Size 13 /Root 1 0 R /Prev " + prev + " >>\nstartxref\n" + QByteArray::number(xref)
                   + "\n%%EOF\n";
    }
    // A file with a stored imprint opens through the working copy.
    QByteArray withImprint;
    {
        auto document = open(markupFile("/QuadPoints [1 2 3 4 5 6 7 8]"));
        auto imprint = KVPDFImprint::imprintWithData(blackBox(10, 10), QPointF(300, 300));
        imprint->setSize(QSizeF(10, 10));
        document->pageAtIndex(0)->addImprint(imprint);
        const QString path = dir.filePath(QStringLiteral("imprint.pdf"));
        // The markup's order is read before the version is forged in: leave its corners alone.
        ASSERT_TRUE(document->writeUpdatedDocument(path, {}));
        withImprint = savechecks::readFile(path);
        const qsizetype version = withImprint.lastIndexOf("/FolivoVersion (");
        ASSERT_GT(version, 0);
        const qsizetype end = withImprint.indexOf(')', version);
        withImprint.replace(version, end + 1 - version, "/FolivoVersion (4.0)");
    }
    struct Case {
        const char *name;
        QByteArray data;
    };
    const Case cases[] = {{"plain", plain}, {"older trailer", updated}, {"stored imprint", withImprint}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(c.data);
        ASSERT_TRUE(document);
        if (QByteArrayView(c.name) == "stored imprint") {
            ASSERT_FALSE(document->pageAtIndex(0)->contentImprints().empty());
        }
        auto markup = markupOn(document);
        ASSERT_TRUE(markup);
        EXPECT_EQ(numbers(markup->annotDict()->objectForKey("QuadPoints")), kSoundQuad);

        // The data refresh rebuilds the bytes from the table: the version must survive it.
        ASSERT_TRUE(document->updateDocData());
        KVPDFObjectPtr version = document->trailer()->entryAlongChain("FolivoVersion");
        ASSERT_TRUE(kv_cast<KVPDFObjectString>(version));
        EXPECT_EQ(kv_cast<KVPDFObjectString>(version)->stringValue(), QStringLiteral("4.0"));
        EXPECT_TRUE(document->trailer()->trailerDictionary()->objectForKey("FolivoVersion"))
            << "the newest trailer holds it";

        const QString saved = dir.filePath(QStringLiteral("saved.pdf"));
        ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
        auto reread = open(savechecks::readFile(saved));
        auto again = markupOn(reread);
        ASSERT_TRUE(again);
        EXPECT_EQ(numbers(again->annotDict()->objectForKey("QuadPoints")), kSoundQuad) << "read in the sound order once";
    }
}

// The working copy's own trailer carries the version on: readers look at the newest first.
TEST(KVPDFAnnotationMarkupTest, TheWorkingCopyKeepsTheVersionInItsTrailer)
{
    auto document = open(markupFile("/QuadPoints [1 2 3 4 5 6 7 8]", "/FolivoVersion (4.0)"));
    const QByteArray copy = document->currentDataWithImprints(false);
    const qsizetype trailer = copy.lastIndexOf("trailer");
    ASSERT_GT(trailer, 0);
    EXPECT_TRUE(copy.mid(trailer).contains("/FolivoVersion (4.0)")) << copy.mid(trailer).constData();
}
