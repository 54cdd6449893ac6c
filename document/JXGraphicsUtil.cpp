#include "JXGraphicsUtil.h"

#include "KVLog.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <numbers>

double JXGraphicsUtil::squaredDistanceFrom(QPointF p, QPointF q)
{
    const double dx = q.x() - p.x();
    const double dy = q.y() - p.y();
    return dx * dx + dy * dy;
}

double JXGraphicsUtil::distanceFrom(QPointF p, QPointF q)
{
    return std::sqrt(squaredDistanceFrom(p, q));
}

double JXGraphicsUtil::distanceToLineFrom(QPointF a, QPointF b, QPointF p)
{
    const QPointF ab = b - a;
    const double t = QPointF::dotProduct(p - a, ab) / squaredDistanceFrom(a, b);
    return distanceFrom(p, a + t * ab);
}

double JXGraphicsUtil::angleDegreesOfLineSegmentFrom(QPointF p, QPointF q)
{
    const double dist = distanceFrom(p, q);
    double alpha = 0;
    if (dist > 0) {
        const double c = std::clamp((q.x() - p.x()) / dist, -1.0, 1.0);
        alpha = std::acos(c) * 360 / (2 * std::numbers::pi);
    }
    if (q.y() > p.y() || (q.y() == p.y() && p.x() > q.x()))
        alpha = 360 - alpha;
    while (alpha < 0)
        alpha += 360;
    while (alpha > 360)
        alpha -= 360;
    return 360 - alpha;
}

namespace {

double denominator(QPointF p1, QPointF p2, QPointF q1, QPointF q2)
{
    return (q2.y() - q1.y()) * (p2.x() - p1.x()) - (q2.x() - q1.x()) * (p2.y() - p1.y());
}

bool within(double v, double a, double b, double slack)
{
    return v >= std::min(a, b) - slack && v <= std::max(a, b) + slack;
}

double toThreeDecimals(double v)
{
    return std::trunc((v + 0.00005) * 1000) / 1000;
}

} // namespace

bool JXGraphicsUtil::intersectionOfLineFrom(QPointF p1, QPointF p2, QPointF q1, QPointF q2, QPointF *intersection)
{
    const double den = denominator(p1, p2, q1, q2);
    if (std::abs(den) < 0.001)
        return false;
    const double u = ((p1.y() - q1.y()) * (q2.x() - q1.x()) - (p1.x() - q1.x()) * (q2.y() - q1.y())) / den;
    const double x = p1.x() + u * (p2.x() - p1.x());
    const double y = p1.y() + u * (p2.y() - p1.y());
    if (intersection)
        *intersection = QPointF(toThreeDecimals(x), toThreeDecimals(y));
    constexpr double slack = 0.001;
    return within(x, p1.x(), p2.x(), slack) && within(x, q1.x(), q2.x(), slack) && within(y, p1.y(), p2.y(), slack)
        && within(y, q1.y(), q2.y(), slack);
}

bool JXGraphicsUtil::coincidentSegmentsFrom(QPointF p1, QPointF p2, QPointF q1, QPointF q2)
{
    const double den = denominator(p1, p2, q1, q2);
    const double s = (p2.x() - p1.x()) * (p1.y() - q1.y()) - (p2.y() - p1.y()) * (p1.x() - q1.x());
    const double t = (p1.y() - q1.y()) * (q2.x() - q1.x()) - (p1.x() - q1.x()) * (q2.y() - q1.y());
    constexpr double tolerance = 0.0001;
    if (std::abs(den) >= tolerance || std::abs(t) >= tolerance || std::abs(s) >= tolerance)
        return false;
    kvLog(QString::asprintf("potentially coincident (%.1f %.1f) (%.1f %.1f) (%.1f %.1f) (%.1f %.1f)", q1.x(), q1.y(), q2.x(),
                            q2.y(), p1.x(), p1.y(), p2.x(), p2.y()));
    if (!within(p1.x(), q1.x(), q2.x(), 0) && !within(p2.x(), q1.x(), q2.x(), 0))
        return false;
    return within(p1.y(), q1.y(), q2.y(), 0) || within(p2.y(), q1.y(), q2.y(), 0);
}
