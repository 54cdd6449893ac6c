// Line, ink, polygon and stamp annotations: paths that follow moves and resizes (in copies
// too), line points and endings, which setters drop the appearance, opacity, and that reading
// and making leave what they should.
#include "KVPDFAnnotationInk.h"
#include "KVPDFAnnotationLine.h"
#include "KVPDFAnnotationPolygon.h"
#include "KVPDFAnnotationStamp.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"
#include "KVProbeJson.h"
#include "support/PdfBuilder.h"

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

// A page whose one annotation (object 10) is `annotation`; object 11 is a small form for AP.
std::shared_ptr<KVPDFDocument> withAnnotation(const QByteArray &annotation)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
    b.add(10, annotation);
    b.add(11, "<< /Type /XObject /Subtype /Form /BBox [0 0 100 50] /Length 0 >>\nstream\n\nendstream");
    return open(b.build());
}

template <class Annotation>
std::shared_ptr<Annotation> first(const std::shared_ptr<KVPDFDocument> &document)
{
    const auto annotations = document->pageAtIndex(0)->annotationImprints();
    return annotations.empty() ? nullptr : std::dynamic_pointer_cast<Annotation>(annotations.front());
}

std::vector<double> numbers(const KVPDFObjectPtr &object)
{
    std::vector<double> out;
    if (auto array = kv_cast<KVPDFObjectArray>(object ? object->resolvedObject() : nullptr))
        for (size_t i = 0; i < array->count(); ++i)
            if (auto element = array->resolvedObjectAtIndex(i); kvIsNumber(element))
                out.push_back(element->realValue());
    return out;
}
}

// Moves and resizes carry InkList and Vertices along, about the lower-left corner, in the
// annotation read from the file and in a copy of it.
TEST(KVPDFAnnotationPathTest, PathsFollowMovesAndResizesInCopiesToo)
{
    struct Case {
        const char *name;
        std::function<void(KVPDFAnnotation &)> change;
        QRectF rect;               // Rect afterwards
        std::vector<double> point; // (150, 120) afterwards
    };
    const Case cases[] = {
        {"move left", [](KVPDFAnnotation &a) { a.setLocation({50, 100}); }, QRectF(50, 100, 100, 50), {100, 120}},
        {"wider", [](KVPDFAnnotation &a) { a.setSize({200, 50}); }, QRectF(100, 100, 200, 50), {200, 120}},
        {"taller and narrower", [](KVPDFAnnotation &a) { a.setSize({50, 100}); }, QRectF(100, 100, 50, 100), {125, 140}},
        {"no move", [](KVPDFAnnotation &a) { a.setLocation({100, 100}); }, QRectF(100, 100, 100, 50), {150, 120}},
    };
    const QByteArray ink = "<< /Type /Annot /Subtype /Ink /Rect [100 100 200 150] /InkList [[150 120 100 100] [200 150]] "
                           "/AP << /N 11 0 R >> >>";
    const QByteArray polygon = "<< /Type /Annot /Subtype /Polygon /Rect [100 100 200 150] /Vertices [150 120 100 100] "
                               "/AP << /N 11 0 R >> >>";
    for (const Case &c : cases) {
        for (const bool copied : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (copied ? ", copy" : ""));
            auto inkDocument = withAnnotation(ink);
            auto polygonDocument = withAnnotation(polygon);
            std::shared_ptr<KVPDFAnnotationInk> inkAnnotation = first<KVPDFAnnotationInk>(inkDocument);
            std::shared_ptr<KVPDFAnnotationPolygon> polygonAnnotation = first<KVPDFAnnotationPolygon>(polygonDocument);
            ASSERT_TRUE(inkAnnotation && polygonAnnotation);
            if (copied) {
                inkAnnotation = std::dynamic_pointer_cast<KVPDFAnnotationInk>(inkAnnotation->copy());
                polygonAnnotation = std::dynamic_pointer_cast<KVPDFAnnotationPolygon>(polygonAnnotation->copy());
                ASSERT_TRUE(inkAnnotation && polygonAnnotation);
            }
            c.change(*inkAnnotation);
            c.change(*polygonAnnotation);
            EXPECT_EQ(inkAnnotation->dictionaryRect(), c.rect);
            EXPECT_EQ(polygonAnnotation->dictionaryRect(), c.rect);
            ASSERT_EQ(inkAnnotation->inkList().size(), 2u);
            EXPECT_EQ(inkAnnotation->inkList()[0][0], QPointF(c.point[0], c.point[1]));
            EXPECT_EQ(inkAnnotation->inkList()[0][1], c.rect.topLeft()) << "the corner point stays on the corner";
            auto inkList = kv_cast<KVPDFObjectArray>(inkAnnotation->annotDict()->resolvedObjectForKey("InkList"));
            ASSERT_TRUE(inkList);
            EXPECT_EQ(numbers(inkList->resolvedObjectAtIndex(0)),
                      (std::vector<double>{c.point[0], c.point[1], c.rect.x(), c.rect.y()}));
            EXPECT_EQ(numbers(polygonAnnotation->annotDict()->objectForKey("Vertices")),
                      (std::vector<double>{c.point[0], c.point[1], c.rect.x(), c.rect.y()}));
            EXPECT_TRUE(inkAnnotation->annotDict()->objectForKey("AP")) << "the appearance is fitted to Rect anyway";
        }
    }
}

TEST(KVPDFAnnotationPathTest, NewPathAnnotationsArePlacedWithoutMovingTheirPathsOrGainingThem)
{
    auto document = open(PdfBuilder::withPages(1).build());
    auto page = document->pageAtIndex(0);
    auto ink = KVPDFAnnotationInk::annotationWithContents(QStringLiteral("i"), QRectF(10, 10, 40, 40), page.get(), KVColor());
    EXPECT_FALSE(ink->annotDict()->objectForKey("InkList")) << "placing a new one writes no paths";
    ink->setInkList({{{20, 20}, {30, 30}}});
    ink->setLocation({0, 10});
    EXPECT_EQ(numbers(kv_cast<KVPDFObjectArray>(ink->annotDict()->resolvedObjectForKey("InkList"))->resolvedObjectAtIndex(0)),
              (std::vector<double>{10, 20, 20, 30}));

    auto line = KVPDFAnnotationLine::annotationWithContents(QStringLiteral("l"), QRectF(1, 2, 3, 4), page.get(),
                                                           KVColor::rgb(1, 0, 0));
    EXPECT_EQ(kvProbeValueJson(line->annotDict()),
              QByteArray(R"({"/C":[1.0,0.0,0.0],"/Contents":"u:l","/Rect":[1.0,2.0,4.0,6.0],"/Subtype":"/Line","/Type":"/Annot"})"));
    EXPECT_EQ(line->points()[0], QPointF());
    EXPECT_EQ(line->points()[1], QPointF());

    auto stamp = KVPDFAnnotationStamp::annotationWithContents(QStringLiteral("s"), QRectF(0, 0, 5, 5), page.get());
    EXPECT_EQ(stamp->annotationType(), KVPDFAnnotation::AnnotationStamp);
    EXPECT_TRUE(stamp->pdfDataForAppearance("N").isEmpty()) << "a stamp without AP has nothing to draw";
}

TEST(KVPDFAnnotationPathTest, LinePointsAndEndings)
{
    struct Case {
        const char *le;
        QStringList endings;
    };
    const Case cases[] = {
        {"", {QStringLiteral("None"), QStringLiteral("None")}},
        {"/LE [/OpenArrow]", {QStringLiteral("OpenArrow"), QStringLiteral("None")}},
        {"/LE [/Circle /Square]", {QStringLiteral("Circle"), QStringLiteral("Square")}},
        {"/LE [(x) /Diamond]", {QStringLiteral("None"), QStringLiteral("Diamond")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.le);
        auto document = withAnnotation(QByteArray("<< /Type /Annot /Subtype /Line /Rect [0 0 100 50] /L [1 2 3] ") + c.le + " >>");
        auto line = first<KVPDFAnnotationLine>(document);
        ASSERT_TRUE(line);
        EXPECT_EQ(line->lineEndings(), c.endings);
        EXPECT_EQ(line->lineEndingAtIndex(5), QStringLiteral("None"));
        EXPECT_EQ(line->points()[0], QPointF(1, 2));
        EXPECT_EQ(line->points()[1], QPointF()) << "a missing end point is (0, 0)";
    }
}

// Which setters drop the stored appearance, and what the colour setters write: only a line
// has opacity.
TEST(KVPDFAnnotationPathTest, SettersWriteTheirKeysAndDropTheAppearanceWhenTheLookChanges)
{
    struct Case {
        const char *name;
        QByteArray subtype;
        std::function<void(KVPDFAnnotation &)> set;
        QByteArray key;
        QByteArray written; // kvProbeValueJson afterwards; empty: removed
        bool keepsAppearance;
        QByteArray opacity; // CA afterwards; empty: none
    };
    auto path = [](KVPDFAnnotation &a) -> KVPDFAnnotationPath & { return dynamic_cast<KVPDFAnnotationPath &>(a); };
    const Case cases[] = {
        {"line colour with alpha", "Line", [&](KVPDFAnnotation &a) { path(a).setColor(KVColor::rgb(1, 0, 0, 0.5f)); }, "C",
         "[1.0,0.0,0.0]", false, "0.5"},
        {"ink colour with alpha", "Ink", [&](KVPDFAnnotation &a) { path(a).setColor(KVColor::rgb(1, 0, 0, 0.5f)); }, "C",
         "[1.0,0.0,0.0]", false, ""},
        {"line fill", "Line", [&](KVPDFAnnotation &a) { path(a).setFillColor(KVColor::gray(0.25f, 0.25f)); }, "IC", "[0.25]",
         false, "0.25"},
        {"polygon no fill", "Polygon", [&](KVPDFAnnotation &a) { path(a).setFillColor(std::nullopt); }, "IC", "", false, ""},
        {"dash", "Ink", [&](KVPDFAnnotation &a) { path(a).setStrokePattern({2}); }, "BS",
         R"({"/D":[2.0],"/S":"/D","/Type":"/Border","/W":1.0})", false, ""},
        {"width", "Polygon", [&](KVPDFAnnotation &a) { path(a).setStrokeWidth(3); }, "BS",
         R"({"/S":"/S","/Type":"/Border","/W":3.0})", false, ""},
        {"contents", "Line", [&](KVPDFAnnotation &a) { path(a).setContents(QStringLiteral("c")); }, "Contents", "\"u:c\"", true,
         ""},
        {"line points", "Line",
         [](KVPDFAnnotation &a) { dynamic_cast<KVPDFAnnotationLine &>(a).setPoints({1, 2}, {3, 4}); }, "L",
         "[1.0,2.0,3.0,4.0]", false, ""},
        {"line endings", "Line",
         [](KVPDFAnnotation &a) { dynamic_cast<KVPDFAnnotationLine &>(a).setLineEndings({QStringLiteral("OpenArrow")}); }, "LE",
         R"(["/OpenArrow","/None"])", false, ""},
        {"ink paths", "Ink", [](KVPDFAnnotation &a) { dynamic_cast<KVPDFAnnotationInk &>(a).setInkList({{{1, 2}}}); },
         "InkList", "[[1.0,2.0]]", false, ""},
        {"stamp name", "Stamp", [](KVPDFAnnotation &a) { dynamic_cast<KVPDFAnnotationStamp &>(a).setName(QStringLiteral("n")); },
         "NM", "\"u:n\"", true, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = withAnnotation("<< /Type /Annot /Subtype /" + c.subtype + " /Rect [0 0 100 50] /AP << /N 11 0 R >> >>");
        const auto annotations = document->pageAtIndex(0)->annotationImprints();
        ASSERT_EQ(annotations.size(), 1u);
        c.set(*annotations.front());
        const auto &dictionary = annotations.front()->annotDict();
        const KVPDFObjectPtr value = dictionary->resolvedObjectForKey(c.key);
        if (c.written.isEmpty())
            EXPECT_FALSE(value);
        else
            EXPECT_EQ(kvProbeValueJson(value), c.written);
        EXPECT_EQ(dictionary->objectForKey("AP") != nullptr, c.keepsAppearance);
        EXPECT_EQ(dictionary->objectForKey("CA") ? kvProbeValueJson(dictionary->objectForKey("CA")) : QByteArray(), c.opacity);
        EXPECT_EQ(dictionary->objectForKey("Rect") ? numbers(dictionary->objectForKey("Rect")) : std::vector<double>{},
                  (std::vector<double>{0, 0, 100, 50}))
            << "Rect stays";
    }
}

TEST(KVPDFAnnotationPathTest, ReadingWritesNothing)
{
    const QByteArray cases[] = {
        "<< /Type /Annot /Subtype /Line /Rect [0 0 100 50] /L [0 0 100 50] /CA 0.5 /IC [1 0 0] >>",
        "<< /Type /Annot /Subtype /Ink /Rect [0 0 100 50] /InkList [[0 0 1 1]] /BS << /W 3 /D [2] >> >>",
        "<< /Type /Annot /Subtype /Polygon /Rect [0 0 100 50] /Vertices [0 0 1 1 2] >>",
        "<< /Type /Annot /Subtype /Stamp /Rect [0 0 100 50] /Name /Draft >>",
    };
    for (const QByteArray &text : cases) {
        SCOPED_TRACE(text.constData());
        auto document = withAnnotation(text);
        const auto annotations = document->pageAtIndex(0)->annotationImprints();
        ASSERT_EQ(annotations.size(), 1u);
        auto unread = withAnnotation(text);
        EXPECT_EQ(kvProbeValueJson(annotations.front()->annotDict()), kvProbeValueJson(unread->resolveObject(10, 0)));
        if (auto line = std::dynamic_pointer_cast<KVPDFAnnotationLine>(annotations.front())) {
            EXPECT_EQ(line->color(), KVColor::gray(0, 0.5f)) << "CA is the alpha of a line's colours";
            EXPECT_EQ(line->fillColor(), KVColor::rgb(1, 0, 0, 0.5f));
        }
        if (auto ink = std::dynamic_pointer_cast<KVPDFAnnotationInk>(annotations.front())) {
            EXPECT_FLOAT_EQ(ink->strokeWidth(), 3);
            EXPECT_EQ(ink->strokePattern(), (std::vector<double>{2, 2}));
        }
        if (auto polygon = std::dynamic_pointer_cast<KVPDFAnnotationPolygon>(annotations.front())) {
            EXPECT_EQ(polygon->polygon(), (std::vector<QPointF>{{0, 0}, {1, 1}}));
        }
    }
}
