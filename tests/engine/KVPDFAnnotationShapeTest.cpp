// Square and circle annotations and the border-style helpers: what a BS dictionary reads as and
// is written as, what each setter writes into a real file's shapes and whether the appearance
// stays, and the opacity shared by the two colours.
#include "KVPDFAnnotationShape.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFPage.h"
#include "KVProbeJson.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {
using Dict = std::shared_ptr<KVPDFObjectDictionary>;

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

Dict parsed(const QByteArray &text)
{
    PdfBuilder b = PdfBuilder::withPages(1);
    b.add(9, text);
    static std::vector<std::shared_ptr<KVPDFDocument>> keep;
    keep.push_back(open(b.build()));
    return kv_cast<KVPDFObjectDictionary>(keep.back()->resolveObject(9, 0));
}

// A real that is a whole number is written without a fraction and reads back as an integer.
QString wholeNumbers(const QByteArray &json)
{
    static const QRegularExpression fraction(QStringLiteral("(\\d)\\.0\\b"));
    return QString::fromUtf8(json).replace(fraction, QStringLiteral("\\1"));
}

// The index-th shape of the first page (pop-ups and other kinds are passed over).
std::shared_ptr<KVPDFAnnotationShape> shapeOn(const std::shared_ptr<KVPDFDocument> &document, size_t index)
{
    for (const auto &annotation : document->pageAtIndex(0)->annotationImprints())
        if (auto shape = std::dynamic_pointer_cast<KVPDFAnnotationShape>(annotation); shape && index-- == 0)
            return shape;
    return nullptr;
}

TEST(KVPDFAnnotationShapeTest, BorderStylesReadAsStrokes)
{
    struct Case {
        const char *name;
        const char *bs; // nullptr: no BS at all
        QByteArray style;
        float width;
        std::vector<double> dash;
    };
    const Case cases[] = {
        {"one dash length is on and off alike", "<< /W 2 /D [3] >>", "", 2, {3, 3}},
        {"dashed", "<< /S /D /W 1.5 /D [4 2 1] >>", "D", 1.5f, {4, 2, 1}},
        {"no W is width 1", "<< /S /S >>", "S", 1, {}},
        {"no BS is width 1, solid", nullptr, "", 1, {}},
        {"empty D is solid", "<< /W 3 /D [] >>", "", 3, {}},
        {"W that is no number is width 1", "<< /W /Thick /D [2 (x)] >>", "", 1, {2, 0}},
        {"negative W is width 1", "<< /W -4 >>", "", 1, {}},
        {"width 0 stays 0: no border", "<< /W 0 >>", "", 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray style = "unset";
        float width = -1;
        std::vector<double> dash{99};
        KVPDFAnnotationShape::extractStrokeFromBorderStyleDict(c.bs ? parsed(c.bs) : nullptr, &style, &width, &dash);
        EXPECT_EQ(style, c.style);
        EXPECT_FLOAT_EQ(width, c.width);
        EXPECT_EQ(dash, c.dash);
    }
    float width = -1;
    KVPDFAnnotationShape::extractStrokeFromBorderStyleDict(parsed("<< /W 5 /D [1] >>"), nullptr, &width, nullptr);
    EXPECT_FLOAT_EQ(width, 5) << "out-arguments not given are left alone";
}

TEST(KVPDFAnnotationShapeTest, BorderStylesAreWrittenWithTheirDash)
{
    EXPECT_EQ(kvProbeValueJson(KVPDFAnnotationShape::makeBorderStyleDict("D", 2, {3, 3})),
              QByteArray(R"({"/D":[3.0,3.0],"/S":"/D","/Type":"/Border","/W":2.0})"));
    EXPECT_EQ(kvProbeValueJson(KVPDFAnnotationShape::makeBorderStyleDict("S", 0.5f, {})),
              QByteArray(R"({"/S":"/S","/Type":"/Border","/W":0.5})"));
}

// Each setter on the square and the circle of a real file: the key it writes, whether the
// stored appearance stays, and that a save reads back the same.
TEST(KVPDFAnnotationShapeTest, SettersWriteTheirKeyAndDropTheAppearanceWhenTheLookChanges)
{
    const QString path = QDir(corpusDir()).filePath(QStringLiteral("pdfjs/annotation-square-circle.pdf"));
    struct Case {
        const char *name;
        std::function<void(KVPDFAnnotationShape &)> set;
        QByteArray key;
        QByteArray written; // the key's value as kvProbeValueJson prints it; empty: removed
        bool keepsAppearance;
    };
    const Case cases[] = {
        {"contents", [](KVPDFAnnotationShape &s) { s.setContents(QStringLiteral("changed")); }, "Contents", "\"u:changed\"", true},
        {"no contents", [](KVPDFAnnotationShape &s) { s.setContents(QString()); }, "Contents", "\"u:\"", true},
        {"colour", [](KVPDFAnnotationShape &s) { s.setColor(KVColor::rgb(1, 0, 0)); }, "C", "[1.0,0.0,0.0]", false},
        {"gray colour", [](KVPDFAnnotationShape &s) { s.setColor(KVColor::gray(0.5f)); }, "C", "[0.5]", false},
        {"fill colour", [](KVPDFAnnotationShape &s) { s.setFillColor(KVColor::cmyk(0, 1, 0, 0)); }, "IC", "[0.0,1.0,0.0,0.0]", false},
        {"no fill colour", [](KVPDFAnnotationShape &s) { s.setFillColor(std::nullopt); }, "IC", "", false},
        {"name", [](KVPDFAnnotationShape &s) { s.setName(QStringLiteral("nm-1")); }, "NM", "\"u:nm-1\"", true},
        {"subtype", [](KVPDFAnnotationShape &s) { s.setSubtype("Circle"); }, "Subtype", "\"/Circle\"", false},
        {"width keeps the style read", [](KVPDFAnnotationShape &s) { s.setStrokeWidth(4); }, "BS", "", false},
        {"dash", [](KVPDFAnnotationShape &s) { s.setStrokePattern({5}); }, "BS",
         R"({"/D":[5.0],"/S":"/D","/Type":"/Border","/W":6.0})", false},
        {"no dash", [](KVPDFAnnotationShape &s) { s.setStrokePattern({}); }, "BS", R"({"/S":"/S","/Type":"/Border","/W":6.0})", false},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(savechecks::readFile(path));
        ASSERT_TRUE(document);
        auto square = shapeOn(document, 0);
        ASSERT_TRUE(square);
        ASSERT_EQ(square->annotationType(), KVPDFAnnotation::AnnotationSquare);
        ASSERT_TRUE(square->annotDict()->objectForKey("AP"));
        c.set(*square);
        const Dict &dictionary = square->annotDict();
        const KVPDFObjectPtr value = dictionary->resolvedObjectForKey(c.key);
        if (c.key == "BS" && c.written.isEmpty()) {
            // The square's BS is /S /S with D [2 2]: a new width keeps it solid.
            EXPECT_EQ(kvProbeValueJson(value), QByteArray(R"({"/D":[2.0,2.0],"/S":"/S","/Type":"/Border","/W":4.0})"));
        } else if (c.written.isEmpty()) {
            EXPECT_FALSE(value);
        } else {
            EXPECT_EQ(kvProbeValueJson(value), c.written);
        }
        EXPECT_EQ(dictionary->objectForKey("AP") != nullptr, c.keepsAppearance);
        auto circle = shapeOn(document, 1);
        ASSERT_TRUE(circle);
        EXPECT_EQ(circle->annotationType(), KVPDFAnnotation::AnnotationCircle);
        EXPECT_TRUE(circle->annotDict()->objectForKey("AP")) << "the circle is untouched";

        const QString saved = dir.filePath(QStringLiteral("saved.pdf"));
        ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
        EXPECT_EQ(savechecks::qpdfCheck(saved).exitCode, 0);
        auto reread = open(savechecks::readFile(saved));
        ASSERT_TRUE(reread);
        auto again = shapeOn(reread, 0);
        ASSERT_TRUE(again);
        EXPECT_EQ(wholeNumbers(kvProbeValueJson(again->annotDict()->resolvedObjectForKey(c.key))),
                  wholeNumbers(kvProbeValueJson(value)));
    }
}

TEST(KVPDFAnnotationShapeTest, ReadingWritesNothingAndTheKindFollowsTheSubtype)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R 11 0 R 12 0 R]");
    b.add(10, "<< /Type /Annot /Subtype /Circle /Rect [0 0 10 10] /C [0 0 1] /CA 0.5 /IC [1] >>");
    b.add(11, "<< /Type /Annot /Subtype /Square /Rect [0 0 10 10] /C [1 2] /BS << /W 2 /D [3] >> >>");
    b.add(12, "<< /Type /Annot /Subtype /Square /Rect [0 0 10 10] /M (D:20200102030405Z) >>");
    auto document = open(b.build());
    auto circle = shapeOn(document, 0);
    auto square = shapeOn(document, 1);
    ASSERT_TRUE(circle && square);
    EXPECT_EQ(circle->annotationType(), KVPDFAnnotation::AnnotationCircle);
    EXPECT_EQ(square->annotationType(), KVPDFAnnotation::AnnotationSquare);
    EXPECT_EQ(KVPDFAnnotationShape(parsed("<< /Subtype /Oval >>"), "Oval", nullptr).annotationType(), KVPDFAnnotation::AnnotationSquare);
    EXPECT_EQ(circle->color(), KVColor::rgb(0, 0, 1, 0.5f)) << "CA is the stroke's alpha";
    EXPECT_EQ(circle->fillColor(), KVColor::gray(1, 0.5f)) << "and the interior's";
    EXPECT_EQ(square->color(), KVPDFAnnotationShape::defaultColor()) << "two numbers are no colour";
    EXPECT_FALSE(square->fillColor());
    EXPECT_FLOAT_EQ(square->strokeWidth(), 2);
    EXPECT_EQ(square->strokePattern(), (std::vector<double>{3, 3}));
    EXPECT_EQ(square->strokePatternCount(), 2);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    EXPECT_GE(square->modified(), before) << "no M: now";
    EXPECT_FALSE(square->annotDict()->objectForKey("M")) << "and nothing written for it";
    EXPECT_EQ(shapeOn(document, 2)->modified(), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC));
}

TEST(KVPDFAnnotationShapeTest, OpacityIsWrittenOnlyForAPartialAlpha)
{
    struct Case {
        const char *name;
        std::function<void(KVPDFAnnotationShape &)> set;
        QByteArray opacity; // CA afterwards
    };
    const Case cases[] = {
        {"half-transparent stroke", [](KVPDFAnnotationShape &s) { s.setColor(KVColor::rgb(1, 0, 0, 0.5f)); }, "0.5"},
        {"opaque stroke keeps CA", [](KVPDFAnnotationShape &s) { s.setColor(KVColor::rgb(1, 0, 0)); }, "0.25"},
        {"transparent stroke keeps CA", [](KVPDFAnnotationShape &s) { s.setColor(KVColor::rgb(1, 0, 0, 0)); }, "0.25"},
        {"fill removed keeps CA", [](KVPDFAnnotationShape &s) { s.setFillColor(std::nullopt); }, "0.25"},
        {"the last partial alpha wins",
         [](KVPDFAnnotationShape &s) {
             s.setColor(KVColor::gray(0, 0.75f));
             s.setFillColor(KVColor::gray(1, 0.5f));
         },
         "0.5"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto shape = std::make_shared<KVPDFAnnotationShape>(parsed("<< /Subtype /Square /CA 0.25 /IC [1 1 1] >>"), "Square", nullptr);
        c.set(*shape);
        EXPECT_EQ(kvProbeValueJson(shape->annotDict()->resolvedObjectForKey("CA")), c.opacity);
    }
}

TEST(KVPDFAnnotationShapeTest, NewShapeTakesItsSubtypeColourAndRect)
{
    auto document = open(PdfBuilder::withPages(1).build());
    auto page = document->pageAtIndex(0);
    auto circle = KVPDFAnnotationShape::annotationWithContents(QStringLiteral("note"), QRectF(10, 20, 30, 40), page.get(),
                                                               KVColor(), "Circle");
    EXPECT_EQ(circle->annotationType(), KVPDFAnnotation::AnnotationCircle);
    EXPECT_EQ(kvProbeValueJson(circle->annotDict()),
              QByteArray(R"({"/C":[0.0],"/Contents":"u:note","/Rect":[10.0,20.0,40.0,60.0],"/Subtype":"/Circle","/Type":"/Annot"})"));
}

} // namespace
