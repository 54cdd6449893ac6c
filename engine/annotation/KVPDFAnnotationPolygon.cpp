#include "KVPDFAnnotationPolygon.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFObjectArray.h"

namespace {
namespace edits = kvpdf::annotation;
constexpr QStringView kOwner = u"Polygon";
}

KVPDFAnnotationPolygon::KVPDFAnnotationPolygon(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
    : KVPDFAnnotationPath(dictionary, page, false)
{
    m_polygon = edits::pointArrayFromPDFArrayPoints(edits::readKey(annotDict(), "Vertices", kOwner));
    m_followsRect = true;
}

std::shared_ptr<KVPDFAnnotationPolygon> KVPDFAnnotationPolygon::annotationWithContents(const QString &contents,
                                                                                      const QRectF &rect, KVPDFPage *page,
                                                                                      const KVColor &color)
{
    auto polygon = std::make_shared<KVPDFAnnotationPolygon>(newDictionary("Polygon", contents, color), page);
    // Placing the new annotation is no move of its vertices.
    polygon->m_followsRect = false;
    polygon->setLocation(rect.topLeft());
    polygon->setSize(rect.size());
    polygon->m_followsRect = true;
    return polygon;
}

KVPDFAnnotationPolygon::~KVPDFAnnotationPolygon() = default;

void KVPDFAnnotationPolygon::setPolygon(const std::vector<QPointF> &points)
{
    m_polygon = points;
    write({{"Vertices", edits::pointsAsPDFArray(m_polygon)}}, true);
}

void KVPDFAnnotationPolygon::transformPaths(const QTransform &transform, bool look)
{
    if (m_polygon.empty())
        return;
    m_polygon = mapped(m_polygon, transform);
    write({{"Vertices", edits::pointsAsPDFArray(m_polygon)}}, look);
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationPolygon::copy() const
{
    std::shared_ptr<KVPDFAnnotationPolygon> polygon(new KVPDFAnnotationPolygon());
    copyPathInto(*polygon);
    polygon->m_polygon = m_polygon;
    return polygon;
}
