#include "JXGraphicsUtil.h"

#include "KVLog.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(JXGraphicsUtilTest, AnglesAreCounterClockwiseInHalfOpenRangeEndingAt360)
{
    struct Case {
        const char *name;
        QPointF p, q;
        double angle;
    } cases[] = {
        {"along +x is 360, never 0", {0, 0}, {1, 0}, 360},
        {"zero length is 360", {3, 4}, {3, 4}, 360},
        {"diagonal up", {0, 0}, {1, 1}, 45},
        {"diagonal down", {0, 0}, {1, -1}, 315},
        {"straight up", {0, 0}, {0, 5}, 90},
        {"straight down", {0, 0}, {0, -5}, 270},
        {"along -x", {2, 0}, {0, 0}, 180},
        {"up and back", {0, 0}, {-1, 1}, 135},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(JXGraphicsUtil::angleDegreesOfLineSegmentFrom(c.p, c.q), c.angle, 1e-9);
    }
}

TEST(JXGraphicsUtilTest, DistancesToPointsAndLines)
{
    EXPECT_DOUBLE_EQ(JXGraphicsUtil::squaredDistanceFrom({1, 1}, {4, 5}), 25);
    EXPECT_DOUBLE_EQ(JXGraphicsUtil::distanceFrom({1, 1}, {4, 5}), 5);
    // The line is infinite: a point beyond the segment's end measures to the extended line.
    EXPECT_DOUBLE_EQ(JXGraphicsUtil::distanceToLineFrom({0, 0}, {1, 0}, {10, 3}), 3);
    EXPECT_TRUE(std::isnan(JXGraphicsUtil::distanceToLineFrom({2, 2}, {2, 2}, {5, 5})));
}

TEST(JXGraphicsUtilTest, IntersectionsRoundToThreeDecimalsAndRespectTheSegments)
{
    struct Case {
        const char *name;
        QPointF p1, p2, q1, q2;
        bool meets;
        bool written;
        QPointF at;
    } cases[] = {
        {"crossing diagonals", {0, 0}, {10, 10}, {0, 10}, {10, 0}, true, true, {5, 5}},
        {"parallels", {0, 0}, {10, 0}, {0, 1}, {10, 1}, false, false, {}},
        {"lines meet beyond the segments", {0, 0}, {1, 1}, {0, 10}, {10, 0}, false, true, {5, 5}},
        {"touching within the 0.001 slack", {0, 0}, {4.9995, 0}, {5, -1}, {5, 1}, true, true, {5, 0}},
        {"thirds are cut to three decimals", {0, 0}, {1, 0}, {1.0 / 3, -1}, {1.0 / 3, 1}, true, true, {0.333, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QPointF at(-99, -99);
        EXPECT_EQ(JXGraphicsUtil::intersectionOfLineFrom(c.p1, c.p2, c.q1, c.q2, &at), c.meets);
        EXPECT_EQ(at, c.written ? c.at : QPointF(-99, -99));
    }
}

TEST(JXGraphicsUtilTest, CoincidenceNeedsOneLineAndOverlapAndLogsTheCandidates)
{
    struct Case {
        const char *name;
        QPointF p1, p2, q1, q2;
        bool coincident;
        bool logged;
    } cases[] = {
        {"overlapping on one line", {0, 0}, {10, 10}, {5, 5}, {20, 20}, true, true},
        {"same line, apart", {0, 0}, {1, 1}, {5, 5}, {6, 6}, false, true},
        {"parallel but offset", {0, 0}, {10, 0}, {0, 1}, {10, 1}, false, false},
        {"crossing", {0, 0}, {10, 10}, {0, 10}, {10, 0}, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture capture;
        EXPECT_EQ(JXGraphicsUtil::coincidentSegmentsFrom(c.p1, c.p2, c.q1, c.q2), c.coincident);
        EXPECT_EQ(capture.contains("potentially coincident"), c.logged);
    }
    KVPDFLogCapture capture;
    JXGraphicsUtil::coincidentSegmentsFrom({0, 0}, {10, 10}, {5, 5}, {20, 20});
    EXPECT_TRUE(capture.contains("potentially coincident (5.0 5.0) (20.0 20.0) (0.0 0.0) (10.0 10.0)"));
}
