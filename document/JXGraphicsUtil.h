#pragma once
// Plane geometry shared by the imprints, the path geometry, the text view and the document view.
// Points are pairs of doubles in any one coordinate system; the functions assume nothing about
// its orientation except where an angle is reported (counter-clockwise with y upwards).
//
// Bad input: a degenerate line (equal end points) gives NaN from distanceToLineFrom and angle
// 360 from angleDegreesOfLineSegmentFrom; parallel or degenerate segments never intersect.
// Pure functions, thread-safe; coincidentSegmentsFrom logs a line when the segments lie on one
// line, so a caller that draws paths can tell why an overlap was treated as a touch.
#include <QPointF>

class JXGraphicsUtil {
public:
    static double squaredDistanceFrom(QPointF p, QPointF q);
    static double distanceFrom(QPointF p, QPointF q);
    // Distance from `p` to the infinite line through `a` and `b`.
    static double distanceToLineFrom(QPointF a, QPointF b, QPointF p);

    // Counter-clockwise direction of the segment in degrees, in (0, 360]: a segment along +x and
    // a segment of zero length give 360, never 0, which callers of box rotations rely on (an
    // unrotated box reports 360).
    static double angleDegreesOfLineSegmentFrom(QPointF p, QPointF q);

    // Where the lines through p1-p2 and q1-q2 meet, rounded to three decimals, written whenever
    // the lines are not parallel (|denominator| < 0.001 counts as parallel and leaves
    // `intersection` alone). True only when the unrounded point lies on both segments, each
    // widened by 0.001 on every side.
    static bool intersectionOfLineFrom(QPointF p1, QPointF p2, QPointF q1, QPointF q2, QPointF *intersection);

    // True when the segments lie on one line and overlap. The x and y ranges are tested
    // separately, one end of p1-p2 may pass the one and the other end the other test.
    static bool coincidentSegmentsFrom(QPointF p1, QPointF p2, QPointF q1, QPointF q2);
};

inline QPointF NSOffsetPoint(QPointF point, float dx, float dy)
{
    return {point.x() + dx, point.y() + dy};
}
