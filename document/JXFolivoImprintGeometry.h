#pragma once
// The geometry of an imprint's control points, apart from the imprint: the stored form of the
// points, the box and rotation they describe, and the transforms that move, turn and fit them.
// JXFolivoImprint applies these to its own points; they are pure, thread-safe and throw nothing.
//
// Coordinates are page coordinates (points, y upwards). A box-shaped imprint has four points in
// the order origin, (origin x, corner y), corner, (corner x, origin y); the edge from point 0 to
// point 3 gives its rotation. Transforms follow QTransform's order: in `A * B`, A acts first.
#include <QByteArray>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

#include <span>
#include <vector>

namespace JXFolivoImprintGeometry {

using ControlPoints = std::vector<QPointF>;

// Stored form ("controlPoints"): x then y of each point as big-endian IEEE 754 32-bit floats, so
// 8 bytes a point. Coordinates survive storage at 32-bit precision only. Reading takes the whole
// 8-byte points of any data: a trailing partial point (a file's damage, or another writer's
// padding) is dropped rather than read past.
QByteArray storedControlPoints(std::span<const QPointF> points);
ControlPoints controlPointsFromStored(const QByteArray &data);

// The unrotated box from `origin` to `corner`, in the box order above.
ControlPoints rectControlPoints(QPointF origin, QPointF corner);
// Turns by `degrees` counter-clockwise about `center`.
QTransform rotationAbout(QPointF center, double degrees);

// Move to point 0, lines through the others, closed from three points on.
QPainterPath boundsPath(std::span<const QPointF> points);
// Bounding box of the points; a null rectangle for none.
QRectF drawnBounds(std::span<const QPointF> points);

struct BoxWithRotation {
    QRectF box;
    double angle = 0;
};
// Four points: the box in its own frame, with point 0 as origin and width and height narrowed to
// 32-bit floats, and the direction of the edge from point 0 to point 3 in (0, 360] (360 for an
// unrotated box). Any other number of points: the drawn bounds and angle 0.
BoxWithRotation boundsWithRotation(std::span<const QPointF> points);

// Maps every point through `transform` in place. True when some coordinate crossed a step of
// the 0.01 grain (integer part of (v + 0.005) * 100): smaller moves change the points but are not
// worth a new rendering.
bool transformPoints(ControlPoints &points, const QTransform &transform);

// `translation`, then a turn by -angle, then `scale`, then a turn by +angle, then the inverse of
// `translation`: scales in the imprint's own frame about the point `translation` brings to the
// origin.
QTransform scaleAroundTranslation(const QTransform &translation, const QTransform &scale, double angle);

// Moves point `index` by `offset`; with exactly four points also moves its neighbours so the box
// stays rectangular. The neighbour test compares with the old coordinate narrowed to 32 bits, as
// points read from storage are. An index outside the points changes nothing.
void translateViaControlPoint(ControlPoints &points, int index, QSizeF offset);
// The point that stays put while point `index` of `count` points is dragged: the opposite one.
int indexOriginForControlPoint(int index, int count);
// Midpoint of point 0 and point count / 2: a box's centre, a line's midpoint. (0, 0) for none.
QPointF centerPoint(std::span<const QPointF> points);

// The uniform scale about the page origin that shrinks `drawn` to fit `target`; the identity
// when it fits already (fitting never enlarges).
QTransform sizeToFitScale(const QRectF &drawn, const QRectF &target);
// Half the whole-point difference of the sizes, each half truncated toward zero: centres a box
// that starts at the target's origin.
QTransform sizeToFitTranslation(const QRectF &drawn, const QRectF &target);
// The translation that centres `drawn` on `center`, limited so that the box stays inside
// `bounds`; a box larger than `bounds` ends aligned with its right or top edge.
QTransform fixCenterTranslation(const QRectF &drawn, QPointF center, const QRectF &bounds);
// Each coordinate to the integer part of (v + 0.5): whole points for plain images, whose
// renderings blur at fractional offsets. Rounds negative halves toward zero (-2.7 gives -2).
void roundToWholePoints(ControlPoints &points);

} // namespace JXFolivoImprintGeometry
