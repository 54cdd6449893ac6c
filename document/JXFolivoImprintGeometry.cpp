#include "JXFolivoImprintGeometry.h"

#include "KVPDFAnnotationEdits.h"

#include "JXGraphicsUtil.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace JXFolivoImprintGeometry {

QByteArray storedControlPoints(std::span<const QPointF> points)
{
    QByteArray data(qsizetype(points.size()) * 8, Qt::Uninitialized);
    char *out = data.data();
    for (const QPointF &point : points) {
        for (double value : {point.x(), point.y()}) {
            qToBigEndian(std::bit_cast<quint32>(float(value)), out);
            out += 4;
        }
    }
    return data;
}

ControlPoints controlPointsFromStored(const QByteArray &data)
{
    ControlPoints points;
    const qsizetype count = data.size() / 8;
    points.reserve(size_t(count));
    const char *in = data.constData();
    for (qsizetype i = 0; i < count; ++i, in += 8) {
        const float x = std::bit_cast<float>(qFromBigEndian<quint32>(in));
        const float y = std::bit_cast<float>(qFromBigEndian<quint32>(in + 4));
        points.emplace_back(x, y);
    }
    return points;
}

ControlPoints rectControlPoints(QPointF origin, QPointF corner)
{
    return {origin, {origin.x(), corner.y()}, corner, {corner.x(), origin.y()}};
}

QTransform rotationAbout(QPointF center, double degrees)
{
    return QTransform::fromTranslate(-center.x(), -center.y()) * QTransform().rotate(degrees)
        * QTransform::fromTranslate(center.x(), center.y());
}

QPainterPath boundsPath(std::span<const QPointF> points)
{
    QPainterPath path;
    if (points.empty())
        return path;
    path.moveTo(points[0]);
    for (size_t i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    if (points.size() >= 3)
        path.closeSubpath();
    return path;
}

QRectF drawnBounds(std::span<const QPointF> points)
{
    return kvpdf::annotation::boundsOfPoints(points);
}

BoxWithRotation boundsWithRotation(std::span<const QPointF> points)
{
    if (points.size() != 4)
        return {drawnBounds(points), 0};
    const double angle = JXGraphicsUtil::angleDegreesOfLineSegmentFrom(points[0], points[3]);
    const QPointF corner = QTransform().rotate(-angle).map(points[2] - points[0]);
    return {QRectF(points[0], QSizeF(float(corner.x()), float(corner.y()))), angle};
}

namespace {

double grain(double value)
{
    return std::trunc((value + 0.005) * 100);
}

} // namespace

bool transformPoints(ControlPoints &points, const QTransform &transform)
{
    bool changed = false;
    for (QPointF &point : points) {
        const QPointF mapped = transform.map(point);
        if (grain(mapped.x()) != grain(point.x()) || grain(mapped.y()) != grain(point.y()))
            changed = true;
        point = mapped;
    }
    return changed;
}

QTransform scaleAroundTranslation(const QTransform &translation, const QTransform &scale, double angle)
{
    return translation * QTransform().rotate(-angle) * scale * QTransform().rotate(angle) * translation.inverted();
}

void translateViaControlPoint(ControlPoints &points, int index, QSizeF offset)
{
    if (index < 0 || size_t(index) >= points.size())
        return;
    const QPointF old = points[size_t(index)];
    points[size_t(index)] += QPointF(offset.width(), offset.height());
    if (points.size() != 4)
        return;
    QPointF &next = points[size_t((index + 1) % 4)];
    QPointF &opposite = points[size_t((index + 3) % 4)];
    if (next.x() == double(float(old.x()))) {
        next.rx() += offset.width();
        opposite.ry() += offset.height();
    } else if (next.y() == double(float(old.y()))) {
        next.ry() += offset.height();
        opposite.rx() += offset.width();
    }
}

int indexOriginForControlPoint(int index, int count)
{
    int origin = index + count / 2;
    if (origin >= count)
        origin -= count;
    return origin;
}

QPointF centerPoint(std::span<const QPointF> points)
{
    if (points.empty())
        return {};
    return (points[0] + points[points.size() / 2]) / 2;
}

QTransform sizeToFitScale(const QRectF &drawn, const QRectF &target)
{
    const float fx = float(target.width() / drawn.width());
    const float fy = float(target.height() / drawn.height());
    if (!(fx < 1 || fy < 1))
        return {};
    const float factor = std::min(fx, fy);
    return QTransform::fromScale(factor, factor);
}

QTransform sizeToFitTranslation(const QRectF &drawn, const QRectF &target)
{
    const double tx = std::trunc(std::trunc(target.width() - drawn.width()) / 2);
    const double ty = std::trunc(std::trunc(target.height() - drawn.height()) / 2);
    return QTransform::fromTranslate(tx, ty);
}

QTransform fixCenterTranslation(const QRectF &drawn, QPointF center, const QRectF &bounds)
{
    const double x = drawn.x(), y = drawn.y(), w = drawn.width(), h = drawn.height();
    double dx = center.x() - (x + w / 2);
    double dy = center.y() - (y + h / 2);
    if (x + dx < bounds.x())
        dx = bounds.x() - x;
    if (y + dy < bounds.y())
        dy = bounds.y() - y;
    if (x + w + dx > bounds.x() + bounds.width())
        dx = bounds.x() + bounds.width() - (x + w);
    if (y + h + dy > bounds.y() + bounds.height())
        dy = bounds.y() + bounds.height() - (y + h);
    return QTransform::fromTranslate(dx, dy);
}

void roundToWholePoints(ControlPoints &points)
{
    for (QPointF &point : points)
        point = QPointF(std::trunc(point.x() + 0.5), std::trunc(point.y() + 0.5));
}

} // namespace JXFolivoImprintGeometry
