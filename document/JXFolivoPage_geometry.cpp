// The page's geometry and rotation: its rectangles from the engine page's boxes, quarter turns
// that carry the imprints along, and the transforms between the turned view and the page.
#include "JXFolivoPage.h"

#include "JXFolivoDocument.h"
#include "JXFolivoGeometry.h"
#include "JXFolivoImprint.h"
#include "KVPDFPage.h"

#include <QPainter>

namespace {

JXFolivoGeometry::PageBoxes boxesOf(const std::shared_ptr<KVPDFPage> &page)
{
    return page ? JXFolivoGeometry::pageBoxes(*page) : JXFolivoGeometry::PageBoxes{};
}

} // namespace

QRectF JXFolivoPage::croppedMediaBox() const { return m_pdfPage ? m_pdfPage->croppedMediaBox() : QRectF(); }

QRectF JXFolivoPage::boundsWithoutRotation() const { return JXFolivoGeometry::boundsWithoutRotation(boxesOf(m_pdfPage)); }

QRectF JXFolivoPage::bounds() const { return JXFolivoGeometry::bounds(boxesOf(m_pdfPage)); }

QPointF JXFolivoPage::pageOriginOffset() const { return JXFolivoGeometry::pageOriginOffset(boxesOf(m_pdfPage)); }

QPointF JXFolivoPage::quadPointsOriginOffset() const
{
    return JXFolivoGeometry::quadPointsOriginOffset(boxesOf(m_pdfPage));
}

uint32_t JXFolivoPage::rotation() const
{
    return m_pdfPage ? uint32_t(JXFolivoGeometry::pageRotation(m_pdfPage->rotate())) : 0;
}

void JXFolivoPage::setRotation(uint32_t degrees)
{
    if (degrees > 270)
        return;
    const std::optional<int> turn = JXFolivoGeometry::turnForRotation(int(rotation()), int(degrees));
    if (!turn)
        return;
    rotatePage(*turn);
    if (m_document)
        m_document->updateChangeCount(JXDocumentChange::Done);
}

void JXFolivoPage::rotatePage(int degrees)
{
    if (!m_pdfPage || degrees % 90 != 0)
        return;
    const QRectF before = bounds();
    m_pageCache = QImage();

    m_pdfPage->setRotate(JXFolivoGeometry::rotationAfterTurn(int(rotation()), degrees));
    m_appliedRotation += degrees;

    const QRectF after = bounds();
    const QTransform turn = JXFolivoGeometry::turnTransform(before.size(), after.size(), degrees);
    // Walked on a copy: whatever an imprint does while it settles cannot upset the walk.
    const JXImprintList list = imprints();
    for (const auto &imprint : list) {
        imprint->transform(turn);
        imprint->resized();
    }
    pageChanged(nullptr, &after, &before);
}

std::optional<QTransform> JXFolivoPage::pageTransform() const
{
    return JXFolivoGeometry::pageTransform(int(rotation()), bounds().size());
}

bool JXFolivoPage::setupPageRotation(QPainter &painter) const
{
    const std::optional<QTransform> transform = pageTransform();
    if (!transform)
        return false;
    painter.save();
    painter.setTransform(*transform, true);
    return true;
}

QPointF JXFolivoPage::reverseTransformPointForRotatedPage(QPointF point) const
{
    return JXFolivoGeometry::turnedViewToPage(int(rotation()), bounds().size()).map(point);
}

std::vector<QPointF> JXFolivoPage::quadPointsWithPageRotation(const std::vector<QPointF> &points) const
{
    const int turned = int(rotation());
    if (turned == 0)
        return points;
    const QTransform forward = JXFolivoGeometry::pageToTurnedView(turned, bounds().size());
    std::vector<QPointF> out;
    out.reserve(points.size());
    for (const QPointF &point : points)
        out.push_back(forward.map(point));
    return out;
}

QPainterPath JXFolivoPage::bezierPathWithPageRotation(const QPainterPath &path) const
{
    const int turned = int(rotation());
    if (turned == 0)
        return path;
    return JXFolivoGeometry::pageToTurnedView(turned, bounds().size()).map(path);
}

int64_t JXFolivoPage::charPositionInPageAtPoint(QPointF point) const
{
    if (!m_pdfPage)
        return 0;
    return JXFolivoGeometry::charPositionInPage(*m_pdfPage, reverseTransformPointForRotatedPage(point));
}

bool JXFolivoPage::hasCharPositionInPageAtPoint(QPointF point, float tolerance) const
{
    if (!m_pdfPage)
        return false;
    return JXFolivoGeometry::hasCharPositionInPage(*m_pdfPage, reverseTransformPointForRotatedPage(point), tolerance);
}
