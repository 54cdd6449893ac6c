#include "JXFolivoImprint.h"

#include "JXFolivoPage.h"
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVPDFArchive.h"
#include "KVPDFImprint.h"
#include "support/PdfBuilder.h"
#include "support/ImagerServices.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {

// Counts what reaches the re-renderer while alive; puts the previous one back afterwards.
struct RerenderLog {
    std::vector<QRectF> rects;
    JXFolivoImprint::Rerenderer previous;
    RerenderLog()
    {
        previous = JXFolivoImprint::setRerenderer([this](JXFolivoImprint &, const QRectF &rect) { rects.push_back(rect); });
    }
    ~RerenderLog() { JXFolivoImprint::setRerenderer(std::move(previous)); }
    size_t count() const { return rects.size(); }
};

std::shared_ptr<KVPDFImprint> recordWith(const QVariantMap &dictionary, QPointF location = {}, QSizeF size = {})
{
    auto record = KVPDFImprint::imprintWithData(QByteArray(), location);
    record->setSize(size);
    record->setDictionary(dictionary);
    return record;
}

std::shared_ptr<JXFolivoImprint> imprintWith(const QVariantMap &dictionary, QPointF location = {}, QSizeF size = {})
{
    return JXFolivoImprint::imprintWith(recordWith(dictionary, location, size), nullptr);
}

// A text box stands in for every subclass: any class but the plain image keeps turned points.
std::shared_ptr<JXFolivoImprint> textImprint()
{
    return imprintWith({{"textData", QByteArray("{\\rtf1 x}")}});
}

JXFolivoImprintGeometry::ControlPoints pointsOf(const JXFolivoImprint &imprint)
{
    const auto points = imprint.controlPoints();
    return {points.begin(), points.end()};
}

void expectPoints(const JXFolivoImprintGeometry::ControlPoints &actual, const JXFolivoImprintGeometry::ControlPoints &expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(actual[i].x(), expected[i].x(), 1e-4);
        EXPECT_NEAR(actual[i].y(), expected[i].y(), 1e-4);
    }
}

} // namespace

TEST(JXFolivoImprintTest, ControlPointsTravelThroughTheDictionaryAsBigEndianFloats)
{
    auto record = recordWith({{"custom", 7}});
    auto imprint = JXFolivoImprint::imprintWith(record, nullptr);
    imprint->setRectControlPointsOrigin({1.5, 2}, {7.25, 10}, 0);
    const QByteArray stored = record->dictionary().value("controlPoints").toByteArray();
    EXPECT_EQ(stored.toHex(' ').toUpper(), "3F C0 00 00 40 00 00 00 3F C0 00 00 41 20 00 00 "
                                           "40 E8 00 00 41 20 00 00 40 E8 00 00 40 00 00 00");
    EXPECT_EQ(record->dictionary().value("custom"), 7);
    // The record's box follows the points.
    EXPECT_EQ(record->location(), QPointF(1.5, 2));
    EXPECT_EQ(record->size(), QSizeF(5.75, 8));

    auto reread = JXFolivoImprint::imprintWith(recordWith(record->dictionary()), nullptr);
    EXPECT_EQ(pointsOf(*reread), (JXFolivoImprintGeometry::ControlPoints{{1.5, 2}, {1.5, 10}, {7.25, 10}, {7.25, 2}}));

    imprint->setRectControlPointsOrigin({0.1, 0}, {1, 1}, 0);
    auto tenth = JXFolivoImprint::imprintWith(recordWith(record->dictionary()), nullptr);
    EXPECT_EQ(tenth->controlPoints()[0].x(), double(0.1f));

    auto padded = JXFolivoImprint::imprintWith(recordWith({{"controlPoints", stored + QByteArray(4, '\0')}}), nullptr);
    EXPECT_EQ(padded->nControlPoints(), 4);
    EXPECT_EQ(padded->controlPoints()[3], QPointF(7.25, 2));
}

TEST(JXFolivoImprintTest, WithoutStoredPointsTheRecordBoxGivesTheBox)
{
    auto imprint = imprintWith({}, {30, 40}, {20, 10});
    EXPECT_EQ(pointsOf(*imprint), (JXFolivoImprintGeometry::ControlPoints{{30, 40}, {30, 50}, {50, 50}, {50, 40}}));
    EXPECT_FALSE(imprint->locked());
    EXPECT_EQ(imprint->color(), QColor(Qt::black));

    EXPECT_EQ(JXFolivoImprint::imprintWith(nullptr, nullptr), nullptr);
    auto bare = std::make_shared<JXFolivoImprint>();
    bare->initWith(nullptr, nullptr);
    EXPECT_EQ(bare->drawnBounds(), QRectF(0, 0, 0, 0));
    EXPECT_EQ(bare->layer(), 0);
    EXPECT_FALSE(bare->shouldPrint());
}

TEST(JXFolivoImprintTest, FactoryPicksTheClassByTheFirstKeyInItsOrder)
{
    struct Case {
        const char *name;
        QStringList keys;
        QString className;
    } cases[] = {
        {"text field before text", {"textData", "widgetText"}, "JXFolivoAnnotationWidgetText"},
        {"line before path", {"path", "line"}, "JXFolivoLineImprint"},
        {"none of the keys", {"filename", "alphaString"}, "JXFolivoImprint"},
        {"link before everything", {"widgetChoice", "path", "link"}, "JXFolivoAnnotationLink"},
        {"note", {"annotationText", "textData"}, "JXFolivoAnnotationText"},
        {"button before text field", {"widgetText", "widgetButton"}, "JXFolivoAnnotationWidgetButton"},
        {"text box", {"textData", "alphaString"}, "JXFolivoTextImprint"},
        {"highlight before path", {"path", "highlight"}, "JXFolivoHighlightImprint"},
        {"stroke", {"path"}, "JXFolivoStrokeImprint"},
        {"choice field", {"widgetChoice"}, "JXFolivoAnnotationWidgetChoice"},
        {"a key's value does not matter", {"line"}, "JXFolivoLineImprint"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap dictionary;
        for (const QString &key : c.keys)
            dictionary.insert(key, QVariant());
        dictionary.insert("kept", "yes");
        auto imprint = imprintWith(dictionary);
        EXPECT_EQ(imprint->className(), c.className);
        // Classes not built yet keep what their dictionary said, for a later save.
        for (const QString &key : c.keys)
            EXPECT_TRUE(imprint->pdfImprint()->dictionary().contains(key)) << key.toStdString();
        EXPECT_EQ(imprint->pdfImprint()->dictionary().value("kept"), "yes");
        EXPECT_FALSE(imprint->beingInitialized());
    }
}

namespace {
std::shared_ptr<KVPDFImprint> bareCopy()
{
    auto bare = std::make_shared<JXFolivoImprint>();
    bare->initWith(nullptr, nullptr);
    return bare->copy()->pdfImprint();
}
} // namespace

TEST(JXFolivoImprintTest, ACopyHasEqualStateItsOwnRecordAndNoPage)
{
    auto original = textImprint();
    original->setRectControlPointsOrigin({10, 20}, {60, 40}, 30);
    original->setColor(QColor::fromRgbF(0.2, 0.4, 0.6, 0.8));
    original->setLocked(true);

    RerenderLog log;
    auto copy = original->copy();
    EXPECT_EQ(log.count(), 0u);
    EXPECT_EQ(copy->className(), "JXFolivoTextImprint");
    EXPECT_EQ(pointsOf(*copy), pointsOf(*original));
    EXPECT_EQ(copy->color(), original->color());
    EXPECT_TRUE(copy->locked());
    EXPECT_EQ(copy->page(), nullptr);
    EXPECT_FALSE(copy->beingInitialized());
    ASSERT_NE(copy->pdfImprint(), nullptr);
    EXPECT_NE(copy->pdfImprint(), original->pdfImprint());

    copy->setRectControlPointsOrigin({0, 0}, {1, 1}, 0);
    EXPECT_NE(copy->pdfImprint()->dictionary().value("controlPoints"),
              original->pdfImprint()->dictionary().value("controlPoints"));
    EXPECT_EQ(original->controlPoints()[0], QPointF(10, 20));

    auto plain = imprintWith({}, {1, 2}, {3, 4});
    EXPECT_EQ(plain->copy()->className(), "JXFolivoImprint");
    EXPECT_FALSE(plain->copy()->locked());
    EXPECT_EQ(bareCopy(), nullptr);
}

TEST(JXFolivoImprintTest, ColoursForScripts)
{
    auto imprint = textImprint();
    EXPECT_EQ(imprint->color(), QColor(Qt::black));
    EXPECT_EQ(imprint->colorFromScript(), QStringList({"1.00", "1.00", "1.00", "0.00"}));

    RerenderLog log;
    struct Case {
        const char *name;
        QStringList components;
        QStringList afterwards;
    } cases[] = {
        {"two entries change nothing", {"1", "0"}, {"1.00", "1.00", "1.00", "0.00"}},
        {"three entries are opaque", {"1", "0.5", "0"}, {"1.00", "0.50", "0.00", "1.00"}},
        {"four entries keep their alpha", {"0", "0", "1", "0.25"}, {"0.00", "0.00", "1.00", "0.25"}},
        {"five entries make no colour and change nothing", {"1", "1", "1", "1", "1"}, {"0.00", "0.00", "1.00", "0.25"}},
    };
    size_t rerenders = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList before = imprint->colorFromScript();
        imprint->setColorFromScript(c.components);
        EXPECT_EQ(imprint->colorFromScript(), c.afterwards);
        if (before != c.afterwards)
            ++rerenders;
        EXPECT_EQ(log.count(), rerenders);
    }

    imprint->stillBeingInitialized();
    imprint->setColor(Qt::red);
    EXPECT_EQ(log.count(), rerenders);
    EXPECT_EQ(imprint->color(), QColor(Qt::red));
}

TEST(JXFolivoImprintTest, AColourStoredArchivedAndReadBackIsTheSameColour)
{
    const QColor color = QColor::fromRgbF(0.25, 0.5, 0.75, 0.5);
    auto record = recordWith({{"color", color}, {"locked", true}}, {5, 5}, {10, 10});
    const std::optional<QVariantMap> unarchived = KVPDFArchive::unarchive(KVPDFArchive::archive(record->dictionary()));
    ASSERT_TRUE(unarchived);
    auto imprint = JXFolivoImprint::imprintWith(recordWith(*unarchived), nullptr);
    EXPECT_EQ(imprint->color(), color);
    EXPECT_TRUE(imprint->locked());
    EXPECT_EQ(imprint->colorFromScript(), QStringList({"0.25", "0.50", "0.75", "0.50"}));

    // An archive from before colours were tagged gives a text, which is no colour.
    auto legacy = imprintWith({{"color", "#80ff0000"}});
    EXPECT_EQ(legacy->colorFromScript(), QStringList({"1.00", "1.00", "1.00", "0.00"}));
}

TEST(JXFolivoImprintTest, BoxesKeepTheirSizeThroughTurnsAndHandleDrags)
{
    auto imprint = textImprint();
    imprint->setRectControlPointsOrigin({10, 20}, {110, 70}, 0);
    EXPECT_EQ(pointsOf(*imprint), (JXFolivoImprintGeometry::ControlPoints{{10, 20}, {10, 70}, {110, 70}, {110, 20}}));
    double angle = 0;
    EXPECT_EQ(imprint->boundsWithRotation(&angle), QRectF(10, 20, 100, 50));
    EXPECT_EQ(angle, 360);
    EXPECT_EQ(imprint->width(), 100.0f);
    EXPECT_EQ(imprint->height(), 50.0f);
    EXPECT_EQ(imprint->centerPoint(), QPointF(60, 45));
    EXPECT_EQ(imprint->originForControlPoint(0), QPointF(110, 70));

    imprint->setRectControlPointsOrigin({10, 20}, {110, 70}, 90);
    imprint->boundsWithRotation(&angle);
    EXPECT_DOUBLE_EQ(angle, 90);
    EXPECT_FLOAT_EQ(imprint->width(), 100);
    EXPECT_FLOAT_EQ(imprint->height(), 50);

    imprint->setRectControlPointsOrigin({10, 20}, {110, 70}, 0);
    imprint->translateViaControlPoint(0, {5, -3});
    EXPECT_EQ(pointsOf(*imprint), (JXFolivoImprintGeometry::ControlPoints{{15, 17}, {15, 70}, {110, 70}, {110, 17}}));
    EXPECT_EQ(imprint->pdfImprint()->location(), QPointF(15, 17));
    EXPECT_EQ(imprint->pdfImprint()->size(), QSizeF(95, 53));

    imprint->setWidth(40);
    imprint->setHeight(30);
    EXPECT_EQ(imprint->drawnBounds(), QRectF(15, 17, 40, 30));
    imprint->setXPosition(100);
    imprint->setYPosition(-5);
    EXPECT_EQ(imprint->drawnBounds(), QRectF(100, -5, 40, 30));
    EXPECT_EQ(imprint->xPosition(), 100.0f);
}

TEST(JXFolivoImprintTest, OnlyMovesOfAHundredthOrMoreRerender)
{
    auto imprint = textImprint();
    imprint->setRectControlPointsOrigin({10, 20}, {110, 70}, 0);
    const QByteArray before = imprint->pdfImprint()->dictionary().value("controlPoints").toByteArray();
    RerenderLog log;
    imprint->transform(QTransform::fromTranslate(0.001, 0));
    EXPECT_EQ(log.count(), 0u);
    EXPECT_DOUBLE_EQ(imprint->controlPoints()[0].x(), 10.001);
    EXPECT_EQ(imprint->pdfImprint()->dictionary().value("controlPoints").toByteArray(), before);

    imprint->transform(QTransform::fromTranslate(0.01, 0));
    EXPECT_EQ(log.count(), 1u);
    EXPECT_NEAR(imprint->pdfImprint()->location().x(), 10.011, 1e-9);
}

TEST(JXFolivoImprintTest, APlainImageTurnedBecomesItsBoundingBoxWhileOthersStayTurned)
{
    const QTransform turn = JXFolivoImprintGeometry::rotationAbout({0, 0}, 45);
    const double diagonal = 10 * std::sqrt(2.0);

    auto image = imprintWith({}, {0, 0}, {10, 10});
    RerenderLog log;
    image->transform(turn);
    EXPECT_EQ(log.count(), 1u);
    expectPoints(pointsOf(*image), {{-diagonal / 2, 0}, {-diagonal / 2, diagonal}, {diagonal / 2, diagonal}, {diagonal / 2, 0}});
    double angle = 0;
    image->boundsWithRotation(&angle);
    EXPECT_EQ(angle, 360);
    EXPECT_EQ(JXFolivoImprint::_swizeledControlPoints(image->pdfImprint()->dictionary().value("controlPoints").toByteArray()).size(),
              4u);
    EXPECT_FLOAT_EQ(float(JXFolivoImprint::_swizeledControlPoints(
                              image->pdfImprint()->dictionary().value("controlPoints").toByteArray())[0]
                              .x()),
                    float(-diagonal / 2));

    auto text = textImprint();
    text->setRectControlPointsOrigin({0, 0}, {10, 10}, 0);
    text->transform(turn);
    expectPoints(pointsOf(*text), {{0, 0}, {-diagonal / 2, diagonal / 2}, {0, diagonal}, {diagonal / 2, diagonal / 2}});
    text->boundsWithRotation(&angle);
    EXPECT_NEAR(angle, 45, 1e-9);
}

TEST(JXFolivoImprintTest, FittingCentringAndSettling)
{
    auto big = imprintWith({}, {0, 0}, {400, 200});
    big->sizeToFit(QRectF(0, 0, 100, 100));
    EXPECT_EQ(big->drawnBounds(), QRectF(0, 25, 100, 50));

    // A turned text box is not shrunk when it fits, and so keeps its turn.
    auto small = textImprint();
    small->setRectControlPointsOrigin({0, 0}, {10, 10}, 30);
    small->sizeToFit(QRectF(-50, -50, 200, 200));
    double angle = 0;
    small->boundsWithRotation(&angle);
    EXPECT_NEAR(angle, 30, 1e-4);

    const QRectF away(300, 400, 100, 80);
    struct Case {
        const char *name;
        QPointF center;
        QRectF expected;
    } cases[] = {
        {"centred inside", {350, 440}, {340, 430, 20, 20}},
        {"held at the lower left", {0, 0}, {300, 400, 20, 20}},
        {"held at the upper right", {900, 900}, {380, 460, 20, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto box = imprintWith({}, {5, 5}, {20, 20});
        box->fixCenterAround(c.center, away);
        EXPECT_EQ(box->drawnBounds(), c.expected);
        EXPECT_TRUE(away.contains(box->drawnBounds()));
    }
}

TEST(JXFolivoImprintTest, SettlingRoundsPlainImagesAndSkipsARenderingOfTheSameSize)
{
    struct Case {
        const char *name;
        QPointF origin;
        QPointF settled;
    } cases[] = {
        {"up", {10.6, 4.2}, {11, 4}},
        {"negative toward zero", {-2.7, -0.4}, {-2, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto image = imprintWith({});
        image->setRectControlPointsOrigin(c.origin, c.origin + QPointF(20, 30), 0);
        RerenderLog log;
        image->fixTransform();
        EXPECT_EQ(image->controlPoints()[0], c.settled);
        EXPECT_EQ(image->pdfImprint()->location(), c.settled);
        ASSERT_EQ(log.count(), 1u);
        EXPECT_EQ(log.rects[0].topLeft(), c.settled);
    }

    auto text = textImprint();
    text->setRectControlPointsOrigin({10.6, 4.2}, {30.6, 34.2}, 0);
    text->fixTransform();
    EXPECT_EQ(text->controlPoints()[0], QPointF(10.6, 4.2));

    // The blank page is 612 x 792: a rendering of that size is not made again.
    auto record = KVPDFImprint::imprintWithData(KVPDFBlankPage(), {});
    auto sized = JXFolivoImprint::imprintWith(record, nullptr);
    sized->setRectControlPointsOrigin({3.4, 5}, {615.4, 797}, 0);
    RerenderLog log;
    sized->fixTransform();
    EXPECT_EQ(log.count(), 0u);
    EXPECT_EQ(record->location(), QPointF(3, 5));
    sized->setRectControlPointsOrigin({3, 5}, {300, 400}, 0);
    log.rects.clear();
    sized->fixTransform();
    EXPECT_EQ(log.count(), 1u);
}

TEST(JXFolivoImprintTest, InitialisationAndDragsHoldRerendering)
{
    auto imprint = imprintWith({}, {0, 0}, {10, 10});
    RerenderLog log;
    imprint->setPageWithoutRedraw(nullptr);
    imprint->setColor(Qt::green);
    imprint->transform(QTransform::fromTranslate(5, 5));
    EXPECT_EQ(log.count(), 0u);
    // The record's box is kept in step even while rendering waits.
    EXPECT_EQ(imprint->pdfImprint()->location(), QPointF(5, 5));
    imprint->doneInitialization();
    EXPECT_EQ(log.count(), 1u);

    imprint->beingDragged(1);
    imprint->transform(QTransform::fromTranslate(5, 5));
    imprint->scaleAroundTranslation(QTransform::fromTranslate(-10, -10), QTransform::fromScale(2, 2));
    EXPECT_EQ(log.count(), 1u);
    EXPECT_EQ(imprint->drawnBounds(), QRectF(10, 10, 20, 20));
    imprint->beingDragged(0);
    imprint->fixTransform();
    EXPECT_EQ(log.count(), 2u);

    imprint->stillBeingInitialized();
    imprint->setPage(nullptr);
    EXPECT_FALSE(imprint->beingInitialized());
    EXPECT_EQ(log.count(), 3u);
}

TEST(JXFolivoImprintTest, SearchFindsEveryCaseInsensitiveHit)
{
    struct TextImprint : JXFolivoImprint {
        QString text;
        QString searchStringRep() const override { return text; }
    };
    TextImprint imprint;
    EXPECT_TRUE(imprint.search("ab").empty());
    imprint.text = "xabyAB";
    using Hit = JXFolivoImprint::SearchHit;
    EXPECT_EQ(imprint.search("ab"), (std::vector<Hit>{{1, "xabyAB"}, {4, "xabyAB"}}));
    EXPECT_TRUE(imprint.search("").empty());
    EXPECT_TRUE(imprint.search("q").empty());
    imprint.text = "aaaa";
    EXPECT_EQ(imprint.search("AA"), (std::vector<Hit>{{0, "aaaa"}, {2, "aaaa"}}));
    // Locations count UTF-16 units: the clef before the hit takes two.
    imprint.text = QString::fromUtf8("\xF0\x9D\x84\x9E" "Ab");
    EXPECT_EQ(imprint.search("ab"), (std::vector<Hit>{{2, imprint.text}}));
}

TEST(JXFolivoImprintTest, LayerPrintingAndReadingOrder)
{
    auto imprint = imprintWith({}, {0, 0}, {10, 10});
    EXPECT_EQ(imprint->layer(), 0);
    EXPECT_TRUE(imprint->shouldPrint());
    imprint->setFlatten(true);
    EXPECT_TRUE(imprint->pdfImprint()->flatten());
    EXPECT_EQ(imprint->layer(), -1);

    struct Case {
        const char *name;
        QPointF mine, theirs;
        int order;
    } cases[] = {
        {"higher first", {50, 100}, {0, 50}, -1},
        {"lower last", {0, 50}, {50, 100}, 1},
        {"level, left first", {10, 50}, {20, 50}, -1},
        {"level, right last", {20, 50}, {10, 50}, 1},
        {"same place", {20, 50}, {20, 50}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto mine = imprintWith({}, c.mine, {1, 1});
        auto theirs = imprintWith({}, c.theirs, {1, 1});
        EXPECT_EQ(mine->locationCompare(*theirs), c.order);
    }
}

TEST(JXFolivoImprintTest, PathsNameExistingFilesOnly)
{
    auto imprint = imprintWith({});
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    imprint->setPath(file.fileName());
    EXPECT_EQ(imprint->path(), file.fileName());
    imprint->setPath(file.fileName() + ".missing");
    EXPECT_EQ(imprint->path(), file.fileName());
    imprint->setPath("~/.folivo-no-such-file-here");
    EXPECT_EQ(imprint->path(), file.fileName());
    imprint->setPath("");
    EXPECT_EQ(imprint->path(), "");
}

TEST(JXFolivoImprintTest, StaticHelpers)
{
    EXPECT_EQ(JXFolivoImprint::fieldChange(), "FolivoFieldChanged");
    const double values[] = {0.1, 2};
    const QVariantList array = JXFolivoImprint::arrayFromArray(values, 2);
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0].toFloat(), 0.1f);
    EXPECT_TRUE(JXFolivoImprint::arrayFromArray(values, 0).isEmpty());
    EXPECT_TRUE(JXFolivoImprint::arrayFromArray(values, -3).isEmpty());
    EXPECT_EQ(JXFolivoImprint::computeOriginOffsetWithPage(nullptr, {1.5, 2}), QPointF(1.5, 2));
    EXPECT_EQ(JXFolivoImprint::JXnoColor(), QColor::fromRgbF(1, 1, 1, 0));
}

TEST(JXFolivoImprintTest, DrawsItsOnePageUprightIntoItsBox)
{
    KVPDFServices::Installer services(imagerServices());
    const QByteArray content = "1 0 0 rg 0 50 100 50 re f 0 0 1 rg 0 0 100 50 re f";
    PdfBuilder pdf = PdfBuilder::withPages(1, "/MediaBox [0 0 100 100] /Contents 4 0 R");
    pdf.add(4, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    auto record = KVPDFImprint::imprintWithData(pdf.build(), {10, 20});
    record->setSize({200, 100});
    auto imprint = JXFolivoImprint::imprintWith(record, nullptr);

    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        // Page coordinates run upwards.
        painter.translate(0, 200);
        painter.scale(1, -1);
        imprint->drawIn(painter);
    }
    auto at = [&](int x, int y) { return image.pixelColor(x, 199 - y); };
    EXPECT_EQ(at(110, 100), QColor(Qt::red));  // upper half of the box
    EXPECT_EQ(at(200, 40), QColor(Qt::blue));  // lower half
    EXPECT_EQ(at(250, 100), QColor(Qt::white)); // right of the box (it ends at 210)
    EXPECT_EQ(at(110, 150), QColor(Qt::white)); // above it (it ends at 120)
}

namespace {

// A page whose cropped media box starts away from the origin, with one square annotation.
std::shared_ptr<KVPDFDocument> croppedPageWithAnnotation()
{
    PdfBuilder pdf = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /CropBox [10.5 20.25 500 700] /Annots [4 0 R]");
    pdf.add(4, "<< /Type /Annot /Subtype /Square /Rect [100.3 200.7 150.9 260.1] /F 4 >>");
    return KVPDFDocument::documentWithData(pdf.build(), nullptr);
}

} // namespace

TEST(JXFolivoImprintTest, OnACroppedPageRecordsSitInPdfSpaceAndPointsInPageSpace)
{
    auto document = croppedPageWithAnnotation();
    ASSERT_TRUE(document && document->pageCount() == 1);
    auto page = JXFolivoPage::pageWith(document->pageAtIndex(0), nullptr);

    auto record = recordWith({}, {110.5, 220.25}, {50, 40});
    auto imprint = JXFolivoImprint::imprintWith(record, page.get());
    EXPECT_EQ(imprint->drawnBounds(), QRectF(100, 200, 50, 40));
    EXPECT_EQ(JXFolivoImprint::computeRectOriginOffsetWithinPage(page.get(), QRectF(110.5, 220.25, 1, 1)),
              QRectF(100, 200, 1, 1));

    RerenderLog log;
    auto other = imprintWith({}, {0, 0}, {10, 10});
    page->insertImprint(other, 0);
    EXPECT_EQ(other->page(), page.get());
    EXPECT_EQ(log.count(), 1u);
    EXPECT_EQ(other->pdfImprint()->location(), QPointF(10.5, 20.25));
    other->setXPosition(30);
    EXPECT_EQ(other->pdfImprint()->location(), QPointF(40.5, 20.25));
}

TEST(JXFolivoImprintTest, ReadingAnAnnotationLeavesItsRectAlone)
{
    auto document = croppedPageWithAnnotation();
    ASSERT_TRUE(document && document->pageCount() == 1);
    auto page = JXFolivoPage::pageWith(document->pageAtIndex(0), nullptr);
    const auto annotations = document->pageAtIndex(0)->annotationImprints();
    ASSERT_EQ(annotations.size(), 1u);
    const QRectF rect = annotations[0]->dictionaryRect();

    RerenderLog log;
    auto imprint = JXFolivoImprint::imprintWith(annotations[0], page.get());
    ASSERT_NE(imprint, nullptr);
    EXPECT_EQ(annotations[0]->dictionaryRect(), rect);
    EXPECT_FALSE(annotations[0]->dictionary().contains("controlPoints"));
    EXPECT_EQ(log.count(), 0u);
    const QRectF expected = rect.translated(-10.5, -20.25);
    EXPECT_NEAR(imprint->drawnBounds().x(), expected.x(), 1e-9);
    EXPECT_NEAR(imprint->drawnBounds().height(), expected.height(), 1e-9);
    // An annotation is no plain image: turning it keeps its turn.
    imprint->transform(JXFolivoImprintGeometry::rotationAbout(expected.topLeft(), 30));
    double angle = 0;
    imprint->boundsWithRotation(&angle);
    EXPECT_NEAR(angle, 30, 1e-6);
}
