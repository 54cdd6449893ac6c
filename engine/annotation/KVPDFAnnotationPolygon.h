#pragma once
// A polygon annotation (Subtype Polygon): the common stroke members of KVPDFAnnotationPath
// (CA is neither read nor written) and its one path (Vertices), which follows the
// annotation's moves and resizes (see KVPDFAnnotationPath), in a copy too.
//
// Bad input: Vertices with an odd count ignores its last number.
#include "KVPDFAnnotationPath.h"

#include <QPointF>

#include <vector>

class KVPDFAnnotationPolygon : public KVPDFAnnotationPath {
public:
    KVPDFAnnotationPolygon(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new polygon: {Type /Annot, Subtype /Polygon, C, Contents} on `page`, Rect from `rect`,
    // no vertices. An invalid colour gives defaultColor().
    static std::shared_ptr<KVPDFAnnotationPolygon> annotationWithContents(const QString &contents, const QRectF &rect,
                                                                          KVPDFPage *page, const KVColor &color);
    ~KVPDFAnnotationPolygon() override;

    int annotationType() const override { return AnnotationPolygon; }

    const std::vector<QPointF> &polygon() const { return m_polygon; }
    // Vertices = the points' numbers; the stored AP is dropped.
    void setPolygon(const std::vector<QPointF> &points);
    // Every vertex through `transform`, then setPolygon.
    void transformInkWith(const QTransform &transform) { transformPaths(transform, true); }

    std::shared_ptr<KVPDFImprint> copy() const override;

protected:
    void transformPaths(const QTransform &transform, bool look) override;

private:
    KVPDFAnnotationPolygon() = default;

    std::vector<QPointF> m_polygon;
};
