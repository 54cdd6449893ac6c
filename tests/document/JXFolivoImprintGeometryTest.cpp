#include "JXFolivoImprintGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace JXFolivoImprintGeometry;

namespace {

void expectPoints(const ControlPoints &actual, const ControlPoints &expected, double tolerance = 1e-9)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(actual[i].x(), expected[i].x(), tolerance);
        EXPECT_NEAR(actual[i].y(), expected[i].y(), tolerance);
    }
}

} // namespace

TEST(JXFolivoImprintGeometryTest, StoredPointsAreBigEndianFloatsAndReadBack)
{
    const ControlPoints box{{1.5, 2}, {1.5, 10}, {7.25, 10}, {7.25, 2}};
    const QByteArray stored = storedControlPoints(box);
    EXPECT_EQ(stored.toHex(' ').toUpper(), "3F C0 00 00 40 00 00 00 3F C0 00 00 41 20 00 00 "
                                           "40 E8 00 00 41 20 00 00 40 E8 00 00 40 00 00 00");
    EXPECT_EQ(controlPointsFromStored(stored), box);
}

TEST(JXFolivoImprintGeometryTest, StorageKeepsThirtyTwoBitPrecisionAndWholePointsOnly)
{
    const ControlPoints tenth = controlPointsFromStored(storedControlPoints(ControlPoints{{0.1, -0.1}}));
    ASSERT_EQ(tenth.size(), 1u);
    EXPECT_NE(tenth[0].x(), 0.1);
    EXPECT_EQ(tenth[0].x(), double(0.1f));
    EXPECT_EQ(tenth[0].y(), double(-0.1f));

    const QByteArray four = storedControlPoints(ControlPoints{{1, 2}, {3, 4}, {5, 6}, {7, 8}});
    struct Case {
        const char *name;
        QByteArray data;
        size_t points;
    } cases[] = {
        {"a trailing single float is dropped", four + QByteArray::fromHex("3F800000"), 4},
        {"a trailing stray byte is dropped", four + QByteArray(1, '\x01'), 4},
        {"seven bytes make no point", four.left(7), 0},
        {"empty", {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ControlPoints read = controlPointsFromStored(c.data);
        ASSERT_EQ(read.size(), c.points);
        if (c.points == 4) {
            EXPECT_EQ(read[3], QPointF(7, 8));
        }
    }
}

TEST(JXFolivoImprintGeometryTest, BoxesReportSizeAndRotation)
{
    ControlPoints box = rectControlPoints({10, 20}, {110, 70});
    EXPECT_EQ(box, (ControlPoints{{10, 20}, {10, 70}, {110, 70}, {110, 20}}));
    BoxWithRotation plain = boundsWithRotation(box);
    EXPECT_EQ(plain.box, QRectF(10, 20, 100, 50));
    EXPECT_EQ(plain.angle, 360);

    transformPoints(box, rotationAbout({10, 20}, 90));
    expectPoints(box, {{10, 20}, {-40, 20}, {-40, 120}, {10, 120}});
    const BoxWithRotation turned = boundsWithRotation(box);
    EXPECT_DOUBLE_EQ(turned.angle, 90);
    EXPECT_EQ(turned.box, QRectF(10, 20, 100, 50));

    const ControlPoints line{{0, 0}, {30, 40}};
    EXPECT_EQ(boundsWithRotation(line).angle, 0);
    EXPECT_EQ(boundsWithRotation(line).box, QRectF(0, 0, 30, 40));
    EXPECT_EQ(centerPoint(line), QPointF(15, 20));
    EXPECT_EQ(centerPoint(rectControlPoints({10, 20}, {110, 70})), QPointF(60, 45));
}

TEST(JXFolivoImprintGeometryTest, BoundsPathClosesFromThreePoints)
{
    EXPECT_EQ(boundsPath(ControlPoints{}).elementCount(), 0);
    EXPECT_EQ(boundsPath(ControlPoints{{1, 1}}).elementCount(), 1);
    const QPainterPath segment = boundsPath(ControlPoints{{0, 0}, {5, 5}});
    EXPECT_EQ(segment.elementCount(), 2);
    const QPainterPath triangle = boundsPath(ControlPoints{{0, 0}, {5, 0}, {0, 5}});
    EXPECT_EQ(triangle.elementCount(), 4);
    EXPECT_EQ(triangle.elementAt(3).x, 0);
    EXPECT_EQ(drawnBounds(ControlPoints{{3, 4}}), QRectF(3, 4, 0, 0));
    EXPECT_TRUE(drawnBounds(ControlPoints{}).isNull());
}

TEST(JXFolivoImprintGeometryTest, TransformsCountAsChangesFromTheHundredthOfAPoint)
{
    struct Case {
        const char *name;
        QTransform transform;
        bool changed;
    } cases[] = {
        {"a thousandth", QTransform::fromTranslate(0.001, 0), false},
        {"a hundredth", QTransform::fromTranslate(0.01, 0), true},
        {"a hundredth in y only", QTransform::fromTranslate(0, 0.01), true},
        {"identity", QTransform(), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ControlPoints box = rectControlPoints({10, 20}, {110, 70});
        EXPECT_EQ(transformPoints(box, c.transform), c.changed);
        EXPECT_EQ(box[0], c.transform.map(QPointF(10, 20)));
    }
}

TEST(JXFolivoImprintGeometryTest, CompositionsActInTheirWrittenOrder)
{
    // Turn 90 about (10, 20): (110, 20) first moves to (100, 0), turns to (0, 100), moves back.
    EXPECT_EQ(rotationAbout({10, 20}, 90).map(QPointF(110, 20)), QPointF(10, 120));

    // Doubling the width of a box turned 90 about its origin (10, 20): in the box's own frame the
    // width runs along page y, so the page height doubles and the origin stays.
    ControlPoints box = rectControlPoints({10, 20}, {110, 70});
    transformPoints(box, rotationAbout({10, 20}, 90));
    transformPoints(box, scaleAroundTranslation(QTransform::fromTranslate(-10, -20), QTransform::fromScale(2, 1), 90));
    expectPoints(box, {{10, 20}, {-40, 20}, {-40, 220}, {10, 220}});
    const BoxWithRotation scaled = boundsWithRotation(box);
    EXPECT_NEAR(scaled.box.width(), 200, 1e-4);
    EXPECT_NEAR(scaled.box.height(), 50, 1e-4);
}

TEST(JXFolivoImprintGeometryTest, HandleDragsKeepBoxesRectangular)
{
    struct Case {
        const char *name;
        ControlPoints points;
        int index;
        QSizeF offset;
        ControlPoints expected;
    } cases[] = {
        {"point 0 of a box", rectControlPoints({0, 0}, {10, 10}), 0, {5, -3}, {{5, -3}, {5, 10}, {10, 10}, {10, -3}}},
        {"point 1 of a box", rectControlPoints({0, 0}, {10, 10}), 1, {2, 4}, {{2, 0}, {2, 14}, {10, 14}, {10, 0}}},
        {"point 2 of a box", rectControlPoints({0, 0}, {10, 10}), 2, {1, 1}, {{0, 0}, {0, 11}, {11, 11}, {11, 0}}},
        {"stored 32-bit coordinates still match",
         controlPointsFromStored(storedControlPoints(rectControlPoints({0.1, 0.1}, {10.3, 10.3}))), 0, {1, 1},
         {{1.1f + 0.0, 1.1f + 0.0}, {1.1f + 0.0, 10.3f + 0.0}, {10.3f + 0.0, 10.3f + 0.0}, {10.3f + 0.0, 1.1f + 0.0}}},
        {"a line moves only its end", {{0, 0}, {10, 0}}, 1, {0, 5}, {{0, 0}, {10, 5}}},
        {"an index past the end does nothing", rectControlPoints({0, 0}, {10, 10}), 4, {1, 1},
         rectControlPoints({0, 0}, {10, 10})},
        {"a negative index does nothing", rectControlPoints({0, 0}, {10, 10}), -1, {1, 1},
         rectControlPoints({0, 0}, {10, 10})},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        translateViaControlPoint(c.points, c.index, c.offset);
        expectPoints(c.points, c.expected, 1e-6);
    }
    EXPECT_EQ(indexOriginForControlPoint(0, 4), 2);
    EXPECT_EQ(indexOriginForControlPoint(3, 4), 1);
    EXPECT_EQ(indexOriginForControlPoint(1, 2), 0);
}

TEST(JXFolivoImprintGeometryTest, FittingShrinksOnlyAndCentresByWholeHalves)
{
    const QRectF target(0, 0, 100, 100);
    ControlPoints box = rectControlPoints({0, 0}, {400, 200});
    const QTransform scale = sizeToFitScale(drawnBounds(box), target);
    EXPECT_EQ(scale, QTransform::fromScale(0.25, 0.25));
    transformPoints(box, scale);
    transformPoints(box, sizeToFitTranslation(drawnBounds(box), target));
    EXPECT_EQ(drawnBounds(box), QRectF(0, 25, 100, 50));

    EXPECT_TRUE(sizeToFitScale(QRectF(0, 0, 50, 80), target).isIdentity());
    // 100 - 33.5 = 66.5 -> 66 -> 33 and 100 - 1 = 99 -> 49: both halves cut toward zero.
    EXPECT_EQ(sizeToFitTranslation(QRectF(0, 0, 33.5, 1), target), QTransform::fromTranslate(33, 49));
    EXPECT_EQ(sizeToFitTranslation(QRectF(0, 0, 103, 100), target), QTransform::fromTranslate(-1, 0));
}

TEST(JXFolivoImprintGeometryTest, CentringKeepsTheBoxInsideTheBounds)
{
    const QRectF bounds(100, 200, 300, 400);
    const QRectF box(0, 0, 50, 20);
    struct Case {
        const char *name;
        QPointF center;
        QRectF bounds;
        QRectF moved;
    } cases[] = {
        {"well inside", {250, 400}, bounds, {225, 390, 50, 20}},
        {"beyond the lower left", {0, 0}, bounds, {100, 200, 50, 20}},
        {"beyond the upper right", {1000, 1000}, bounds, {350, 580, 50, 20}},
        {"larger than the bounds ends at their right and top", {0, 0}, QRectF(100, 200, 30, 10), {80, 190, 50, 20}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fixCenterTranslation(box, c.center, c.bounds).mapRect(box), c.moved);
    }
}

TEST(JXFolivoImprintGeometryTest, WholePointsRoundHalfUpThenTowardZero)
{
    ControlPoints points{{10.6, -2.7}, {10.4, -0.4}, {0.5, -2.5}};
    roundToWholePoints(points);
    EXPECT_EQ(points, (ControlPoints{{11, -2}, {10, 0}, {1, -2}}));
}
