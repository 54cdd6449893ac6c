#include "JXFolivoGeometry.h"

#include "KVPDFObject.h"
#include "KVPDFPage.h"

#include <algorithm>
#include <cmath>

namespace JXFolivoGeometry {

namespace {

// A turn by a whole number of quarter turns comes out exact: Qt special-cases 90, 180 and 270
// but not -180, and a corner landing at 611.9999999 instead of 612 shifts what is truncated
// or compared later.
QTransform rotation(float degrees)
{
    double angle = std::fmod(double(degrees), 360.0);
    if (angle < 0)
        angle += 360.0;
    return QTransform().rotate(angle);
}

QTransform about(QPointF centre, float degrees)
{
    return QTransform::fromTranslate(-centre.x(), -centre.y()) * rotation(degrees)
           * QTransform::fromTranslate(centre.x(), centre.y());
}

QPointF swapped(QPointF point, int rotation) { return swapsSides(rotation) ? point.transposed() : point; }

// The page's size before its rotation turned it.
QSizeF unturnedSize(int rotation, QSizeF bounds) { return swapsSides(rotation) ? bounds.transposed() : bounds; }

} // namespace

// ---- Page boxes ------------------------------------------------------------------------------

PageBoxes pageBoxes(KVPDFPage &page)
{
    PageBoxes boxes;
    boxes.mediaBox = page.mediaBox();
    boxes.cropBox = page.cropBox();
    boxes.croppedMediaBox = page.croppedMediaBox();
    boxes.rotation = pageRotation(page.rotate());
    return boxes;
}

bool isQuarterTurn(int degrees) { return degrees == 0 || degrees == 90 || degrees == 180 || degrees == 270; }

int pageRotation(std::optional<int> rotate) { return rotate && isQuarterTurn(*rotate) ? *rotate : 0; }

bool swapsSides(int rotation) { return rotation == 90 || rotation == 270; }

QRectF boundsWithoutRotation(const PageBoxes &boxes)
{
    QRectF box = boxes.mediaBox;
    if (boxes.cropBox) {
        const QRectF cut = box.intersected(*boxes.cropBox);
        if (cut.isValid())
            box = cut;
    }
    return QRectF(QPointF(0, 0), box.size());
}

QRectF bounds(const PageBoxes &boxes)
{
    const QRectF unturned = boundsWithoutRotation(boxes);
    return QRectF(QPointF(0, 0), unturnedSize(boxes.rotation, unturned.size()));
}

QPointF pageOriginOffset(const PageBoxes &boxes)
{
    const QPointF origin = boxes.cropBox ? boxes.cropBox->topLeft() : boxes.croppedMediaBox.topLeft();
    return swapped(origin, boxes.rotation);
}

QPointF quadPointsOriginOffset(const PageBoxes &boxes)
{
    const bool cropInside = boxes.cropBox && boxes.cropBox->isValid() && boxes.mediaBox.contains(*boxes.cropBox);
    const QPointF origin = cropInside ? boxes.cropBox->topLeft() : boxes.croppedMediaBox.topLeft();
    return swapped(origin, boxes.rotation);
}

// ---- Turning a page --------------------------------------------------------------------------

std::optional<int> turnForRotation(int current, int wanted)
{
    if (!isQuarterTurn(wanted) || current == wanted)
        return std::nullopt;
    int turn = (current - wanted) % 360;
    if (turn < 0)
        turn += 360;
    return turn;
}

int rotationAfterTurn(int rotation, int degrees)
{
    int turned = (rotation - degrees) % 360;
    if (turned < 0)
        turned += 360;
    return turned;
}

QTransform turnTransform(QSizeF before, QSizeF after, int degrees)
{
    const QPointF oldCentre(before.width() / 2, before.height() / 2);
    const QPointF newCentre(after.width() / 2, after.height() / 2);
    const QPointF shift = newCentre - oldCentre;
    return about(oldCentre, float(degrees)) * QTransform::fromTranslate(shift.x(), shift.y());
}

// ---- Between the turned view and the unturned page -------------------------------------------

std::optional<QTransform> pageTransform(int rotation, QSizeF bounds)
{
    if (rotation == 0)
        return std::nullopt;
    const double w = bounds.width(), h = bounds.height();
    QTransform shift;
    if (rotation == 90)
        shift = QTransform::fromTranslate(-h, 0);
    else if (rotation == 180)
        shift = QTransform::fromTranslate(-w, -h);
    else if (rotation == 270)
        shift = QTransform::fromTranslate(0, -w);
    return shift * JXFolivoGeometry::rotation(-float(rotation));
}

QTransform turnedViewToPage(int rotation, QSizeF bounds)
{
    if (rotation == 0)
        return QTransform();
    const QSizeF page = unturnedSize(rotation, bounds);
    const QPointF centre(page.width() / 2, page.height() / 2);
    return QTransform::fromTranslate(centre.x() - bounds.width() / 2, centre.y() - bounds.height() / 2)
           * about(centre, float(rotation));
}

QTransform pageToTurnedView(int rotation, QSizeF bounds)
{
    if (rotation == 0)
        return QTransform();
    const QSizeF page = unturnedSize(rotation, bounds);
    const QPointF centre(page.width() / 2, page.height() / 2);
    return about(centre, -float(rotation))
           * QTransform::fromTranslate(bounds.width() / 2 - centre.x(), bounds.height() / 2 - centre.y());
}

// ---- Text positions ----------------------------------------------------------------------------

int64_t charPositionInPage(KVPDFPage &page, QPointF point)
{
    page.prepareForSelection();
    int64_t position = page.charPositionForPoint(point);
    if (position == KVPDFNotFound)
        position = page.closestCharPositionForPoint(point);
    return position == KVPDFNotFound ? 0 : position;
}

bool hasCharPositionInPage(KVPDFPage &page, QPointF point, float tolerance)
{
    // Unprepared, the page has no lines and would answer no even over its text.
    page.prepareForSelection();
    return page.charPositionForPoint(point, double(tolerance)) != KVPDFNotFound;
}

// ---- The document ----------------------------------------------------------------------------

QRectF defaultPageSizeForCreation(QSizeF paper, bool landscape)
{
    return QRectF(QPointF(0, 0), landscape ? paper.transposed() : paper);
}

QRectF documentBounds(const std::vector<QRectF> &pageBounds)
{
    QRectF all;
    for (const QRectF &page : pageBounds)
        all = all.united(page);
    return QRectF(QPointF(0, 0), all.size());
}

QRectF facingSpreadBounds(int64_t index, bool facingPageOne, int64_t pageCount,
                          const std::function<QRectF(int64_t)> &boundsOfPage, QRectF creationSize)
{
    int64_t left;
    bool hasLeft;
    if (facingPageOne) {
        left = index & ~int64_t(1);
        hasLeft = index >= 0 && left < pageCount;
    } else {
        left = index % 2 == 0 ? index - 1 : index;
        // A left page past the end would be measured at the creation size, which is what
        // having no page at all gives too.
        hasLeft = left > 0 && left < pageCount;
    }
    const int64_t right = left + 1;
    const bool hasRight = right >= 0 && right < pageCount;

    if (hasLeft && hasRight) {
        const QRectF l = boundsOfPage(left), r = boundsOfPage(right);
        return QRectF(0, 0, l.width() + r.width(), std::max(l.height(), r.height()));
    }
    QRectF alone = creationSize;
    if (hasLeft)
        alone = boundsOfPage(left);
    else if (hasRight)
        alone = boundsOfPage(right);
    return QRectF(0, 0, 2 * alone.width(), alone.height());
}

// ---- The document window ---------------------------------------------------------------------

WindowPlacement windowPlacement(const WindowPlacementInput &input)
{
    WindowPlacement placement;
    placement.frameTopLeft = QPointF(input.windowScreenVisible.left(), input.mainScreenVisible.top());

    const QRectF &screen = input.mainScreenVisible;
    QSizeF size = input.hasPages ? input.documentSize : defaultPageSizeWhenNone().size();
    // A document without height (pages whose boxes are empty) has nothing to scale by.
    if (input.fillScreenHeight && size.height() > 0) {
        const float factor = float(screen.height() / size.height());
        size = QSizeF(size.width() * factor, size.height() * factor);
    }
    size.setWidth(std::min(size.width() + 164, screen.width()));
    if (input.savedContentSize.width() > 0)
        size = input.savedContentSize;
    else
        size.setHeight(std::min(size.height() + 16, screen.height()));
    placement.contentSize = size;
    return placement;
}

double toolbarHeight(bool toolbarVisible, double contentRectHeight, double contentViewHeight)
{
    return toolbarVisible ? double(float(contentRectHeight - contentViewHeight)) : 0.0;
}

QRectF zoomedFrame(const ZoomInput &input)
{
    if (!input.documentViewSize)
        return input.defaultFrame;
    const double width = input.documentViewSize->width() + 24 + input.sidebarWidth;
    const double height = input.documentViewSize->height() + 16;
    QRectF content = input.currentContent;
    content.setHeight(height + input.toolbarHeight); // y down: the top edge stays
    content.setWidth(width);
    return content.marginsAdded(input.frameMargins);
}

// ---- Full-size caching passes ----------------------------------------------------------------

void CachePasses::begin()
{
    if (!m_started) {
        m_started = true;
        m_current.clear();
        return;
    }
    m_prior = m_current;
    m_current.clear();
}

bool CachePasses::add(int64_t index, int64_t pageCount)
{
    if (index < 0 || index >= pageCount)
        return false;
    m_current.push_back(index);
    return true;
}

std::vector<int64_t> CachePasses::end(int64_t pageCount)
{
    std::vector<int64_t> release;
    for (int64_t number : m_prior) {
        if (number < pageCount && std::find(m_current.begin(), m_current.end(), number) == m_current.end()
            && std::find(release.begin(), release.end(), number) == release.end())
            release.push_back(number);
    }
    m_prior.clear();
    return release;
}

// ---- Reducing large scans ----------------------------------------------------------------------

std::optional<QSizeF> scanTargetSize(QSizeF size)
{
    if (!(size.height() > 0))
        return std::nullopt;
    // The shape of the common papers at two decimals: letter, A4, legal, A4 with letter's
    // width, and their landscape forms.
    struct Row {
        int ratio;
        double widthAbove;
        QSizeF target;
    };
    static const Row rows[] = {
        {77, 918, {612, 792}},
        {70, 892.913330078125, {595.2755737304688, 841.8898315429688}},
        {60, 918, {612, 1008}},
        {72, 918, {612, 841.8898315429688}},
        {129, 1188, {792, 612}},
        {141, 1262.834716796875, {841.8898315429688, 595.2755737304688}},
        {164, 1512, {1008, 612}},
        {137, 918, {841.8898315429688, 612}},
    };
    const float shape = float(size.width() / size.height());
    const float percent = 100 * shape;
    if (!std::isfinite(percent) || percent >= float(INT32_MAX))
        return std::nullopt;
    const int ratio = int(percent);
    for (const Row &row : rows) {
        if (row.ratio == ratio && size.width() > row.widthAbove)
            return row.target;
    }
    return std::nullopt;
}

std::vector<ScanReduction> scanPagesToReduce(const std::vector<ScanPage *> &pages)
{
    std::vector<ScanReduction> reductions;
    for (size_t index = 0; index < pages.size(); ++index) {
        ScanPage &page = *pages[index];
        if (page.hasTextLines())
            return {};
        if (page.imprintCount() != 1)
            return {};
        const std::optional<QSizeF> pixels = page.soleProxyImagePixelSize();
        if (!pixels)
            continue;
        const QSizeF media = page.mediaBoxSize();
        if (std::trunc(pixels->width()) == std::trunc(media.width()) && std::trunc(pixels->height()) == std::trunc(media.height()))
            reductions.push_back({int64_t(index), *pixels});
    }
    return reductions;
}

} // namespace JXFolivoGeometry
