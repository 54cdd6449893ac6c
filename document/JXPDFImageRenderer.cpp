#include "JXPDFImageRenderer.h"

#include "KVLog.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFPage.h"
#include "KVPDFPageComposition.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

#include <poppler-qt6.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {
std::mutex drawerMutex;
JXPDFImageRenderer::BaseImageDrawer &installedDrawer()
{
    static JXPDFImageRenderer::BaseImageDrawer drawer;
    return drawer;
}

bool isUsableRect(const QRectF &rect)
{
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width()) && std::isfinite(rect.height())
           && rect.width() > 0 && rect.height() > 0;
}

// Scales from a source's natural size to the imaged size; no scale for a side without size.
QTransform naturalToImaged(QSizeF natural, QSizeF imaged)
{
    const double sx = natural.width() > 0 ? imaged.width() / natural.width() : 1.0;
    const double sy = natural.height() > 0 ? imaged.height() / natural.height() : 1.0;
    return QTransform::fromScale(sx, sy);
}

// Makes `painter`'s coordinates the y-up bounds coordinates of `rect`, from y-down points with
// `rect`'s top-left corner at (0, 0).
void enterBoundsSpace(QPainter &painter, const QRectF &rect)
{
    painter.translate(0, rect.height());
    painter.scale(1, -1);
    painter.translate(-rect.x(), -rect.y());
}
}

class JXPDFImageRenderer::DocumentTextView : public JXRendererTextView {
public:
    explicit DocumentTextView(QTextDocument *document) : m_document(document) { }
    QRectF bounds() const override { return QRectF(QPointF(), m_document->size()); }
    void drawRect(QPainter &painter, const QRectF &rect) override { m_document->drawContents(&painter, rect); }

private:
    QTextDocument *m_document;
};

struct JXPDFImageRenderer::PDFSource {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
    QByteArray data;
    // The page's default user space into y-up bounds coordinates.
    QTransform placement;
};

void JXPDFImageRenderer::setBaseImageDrawer(BaseImageDrawer drawer)
{
    std::lock_guard lock(drawerMutex);
    installedDrawer() = std::move(drawer);
}

JXPDFImageRenderer::JXPDFImageRenderer(const QRectF &frame) : m_frame(frame), m_imagedSize(frame.size()) { }

JXPDFImageRenderer::~JXPDFImageRenderer() = default;

void JXPDFImageRenderer::setPDFImprint(KVPDFImprint *imprint, QPointF origin)
{
    m_pdfImprint = imprint;
    m_origin = origin;
}

void JXPDFImageRenderer::setImage(const QImage &image, QPointF origin)
{
    m_image = image;
    m_pdfImage.clear();
    m_origin = origin;
}

void JXPDFImageRenderer::setPDFImage(const QByteArray &data, QPointF origin)
{
    m_pdfImage = data;
    m_image = QImage();
    m_origin = origin;
}

void JXPDFImageRenderer::setTextView(JXRendererTextView *textView, QPointF origin, QPointF textOrigin)
{
    m_documentView.reset();
    m_textView = textView;
    m_origin = origin;
    m_textOrigin = textOrigin;
}

void JXPDFImageRenderer::setTextView(QTextDocument *document, QPointF origin, QPointF textOrigin)
{
    m_documentView = document ? std::make_unique<DocumentTextView>(document) : nullptr;
    m_textView = m_documentView.get();
    m_origin = origin;
    m_textOrigin = textOrigin;
}

void JXPDFImageRenderer::setStroke(JXRendererStrokeSource *stroke, const QList<QPainterPath> &paths, QPointF origin)
{
    m_strokeImprint = stroke;
    m_strokePaths = paths;
    m_origin = origin;
}

void JXPDFImageRenderer::setStringsAndRects(const QList<StringAndRect> &stringsAndRects, KVPDFPage *page)
{
    m_stringsAndRects = stringsAndRects;
    m_hasStrings = true;
    m_pdfPage = page;
}

void JXPDFImageRenderer::setJXPDFPage(JXFolivoPage *page, double scale, JXPDFImager *imager)
{
    m_jxPDFPage = page;
    m_scale = scale;
    m_imager = imager;
}

double JXPDFImageRenderer::lineScale() const
{
    // The square root of the area scale is the transform's mean length scale: a turn keeps it
    // at 1, and a uniform scale by s gives s, whatever the angle.
    const double det = std::abs(m_appliedTransform.determinant());
    return det > 0 && std::isfinite(det) ? 1.0 / std::sqrt(det) : 1.0;
}

std::optional<JXPDFImageRenderer::PDFSource> JXPDFImageRenderer::pdfSource() const
{
    if (m_jxPDFPage)
        return std::nullopt;
    PDFSource source;
    QSizeF natural;
    bool placed = true;
    if (m_pdfImprint) {
        source.document = m_pdfImprint->document();
        source.data = source.document ? source.document->docData() : QByteArray();
    } else if (!m_strokeImprint && !m_pdfImage.isEmpty()) {
        source.document = KVPDFDocument::documentWithData(m_pdfImage, nullptr);
        source.data = m_pdfImage;
    } else if (!m_strokeImprint && m_image.isNull() && !m_textView && m_hasStrings && m_pdfPage) {
        source.page = m_pdfPage->shared_from_this();
        source.data = m_pdfPage->document() ? m_pdfPage->document()->docData() : QByteArray();
        placed = false;
    } else {
        return std::nullopt;
    }
    if (!source.page)
        source.page = source.document && source.document->pageCount() > 0 ? source.document->pageAtIndex(0) : nullptr;
    if (!source.page) {
        kvLog(QStringLiteral("The PDF source of a rendering has no page and draws nothing"));
        return std::nullopt;
    }
    QTransform placement = KVPDFPageComposer::uprightTransform(*source.page);
    if (placed) {
        if (m_pdfImprint)
            natural = source.page->mediaBox().size();
        else
            natural = m_realImageSize.width() > 0 ? m_realImageSize : KVPDFPageComposer::visibleBox(*source.page).size();
        if (m_doScale)
            placement *= naturalToImaged(natural, m_imagedSize);
    }
    placement *= QTransform::fromTranslate(m_origin.x(), m_origin.y());
    placement *= m_appliedTransform;
    source.placement = placement;
    return source;
}

bool JXPDFImageRenderer::hasOwnDrawing() const
{
    if (m_jxPDFPage)
        return true;
    if (m_pdfImprint)
        return false;
    return m_strokeImprint || !m_image.isNull() || m_textView || (m_hasStrings && !m_stringsAndRects.isEmpty());
}

void JXPDFImageRenderer::drawOwn(QPainter &painter, const QRectF &rect)
{
    painter.save();
    enterBoundsSpace(painter, rect);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setWorldTransform(m_appliedTransform * painter.worldTransform());
    if (m_jxPDFPage) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        BaseImageDrawer drawer;
        {
            std::lock_guard lock(drawerMutex);
            drawer = installedDrawer();
        }
        if (drawer)
            drawer(painter, m_jxPDFPage, m_scale, m_imager);
    } else if (!m_pdfImprint) {
        painter.translate(m_origin);
        if (m_strokeImprint)
            drawStroke(painter);
        else if (!m_image.isNull())
            drawImage(painter);
        else if (m_pdfImage.isEmpty() && m_textView)
            drawText(painter);
        else if (m_pdfImage.isEmpty() && m_hasStrings)
            drawStrings(painter);
    }
    painter.restore();
}

void JXPDFImageRenderer::drawStroke(QPainter &painter)
{
    const QRectF natural = m_strokePaths.isEmpty() ? m_strokeImprint->bounds() : m_strokeImprint->boundsForPaths(m_strokePaths, 0);
    if (m_doScale)
        painter.setWorldTransform(naturalToImaged(natural.size(), m_imagedSize) * painter.worldTransform());
    m_strokeImprint->drawInternal(painter, m_strokePaths, lineScale());
}

void JXPDFImageRenderer::drawImage(QPainter &painter)
{
    const double width = m_imagedSize.width();
    const double height = std::abs(m_imagedSize.height());
    // Rows run downward in a QImage and upward here: a positive height turns the image over
    // once so it shows upright, a negative one leaves it as it lies.
    if (m_imagedSize.height() >= 0) {
        painter.translate(0, height);
        painter.scale(1, -1);
    }
    painter.setOpacity(m_color.isValid() ? m_color.alphaF() : 1.0);
    painter.drawImage(QRectF(0, 0, width, height), m_image);
}

void JXPDFImageRenderer::drawText(QPainter &painter)
{
    QRectF frame(0, 0, m_imagedSize.width(), std::abs(m_imagedSize.height()));
    painter.save();
    if (m_imagedSize.height() < 0) {
        painter.translate(0, frame.height());
        painter.scale(1, -1);
    }
    if (m_fillColor.isValid())
        painter.fillRect(frame, m_fillColor);
    if (m_strokeWidth > 0 && m_color.isValid()) {
        QPen pen(m_color, m_strokeWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        if (m_patternArray.size() >= 2) {
            // QPen counts dashes in pen widths.
            QList<qreal> dashes;
            for (qreal length : m_patternArray)
                dashes.append(length / m_strokeWidth);
            pen.setCapStyle(Qt::FlatCap);
            pen.setDashPattern(dashes);
        }
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const double inset = m_strokeWidth / 2;
        painter.drawRect(frame.adjusted(inset, inset, -inset, -inset));
    }
    painter.restore();

    const QRectF viewBounds = m_textView->bounds();
    painter.translate(m_textOrigin.x() - m_origin.x(), m_origin.y() - m_textOrigin.y());
    painter.translate(viewBounds.x(), viewBounds.y() + m_imagedSize.height());
    painter.scale(1, -1);
    m_textView->drawRect(painter, viewBounds);
}

void JXPDFImageRenderer::drawStrings(QPainter &painter)
{
    for (const StringAndRect &entry : m_stringsAndRects) {
        if (!isUsableRect(entry.rect))
            continue;
        painter.save();
        painter.translate(entry.rect.x(), entry.rect.y() + entry.rect.height());
        painter.scale(1, -1);
        QFont font = painter.font();
        font.setPointSizeF(entry.rect.height() * 0.8);
        painter.setFont(font);
        painter.drawText(QRectF(QPointF(), entry.rect.size()), Qt::AlignLeft | Qt::AlignVCenter, entry.text);
        painter.restore();
    }
}

QByteArray JXPDFImageRenderer::writerData(const QRectF &rect)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setPageLayout(QPageLayout(QPageSize(rect.size(), QPageSize::Point, QString(), QPageSize::ExactMatch),
                                         QPageLayout::Portrait, QMarginsF()));
        QPainter painter(&writer);
        painter.setRenderHint(QPainter::LosslessImageRendering);
        drawOwn(painter, rect);
    }
    return buffer.data();
}

QByteArray JXPDFImageRenderer::pdfDataInsideRect(const QRectF &rect)
{
    if (!isUsableRect(rect) || !isUsableRect(m_frame))
        return QByteArray();
    KVPDFPageComposition composition;
    composition.mediaBox = QRectF(QPointF(), rect.size());
    const QTransform toPage = QTransform::fromTranslate(-rect.x(), -rect.y());
    std::optional<PDFSource> source = pdfSource();
    if (hasOwnDrawing()) {
        const QByteArray drawn = writerData(rect);
        if (!source) {
            // The writer keeps whole points; a page of any other size is set right by the engine.
            const std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(drawn, nullptr);
            const std::shared_ptr<KVPDFPage> page = document && document->pageCount() > 0 ? document->pageAtIndex(0) : nullptr;
            if (page && page->mediaBox() == composition.mediaBox)
                return drawn;
            // Its page keeps its top edge where the writer put it.
            if (page)
                composition.transform = QTransform::fromTranslate(0, rect.height() - page->mediaBox().height());
            return KVPDFPageComposer::compose(page.get(), composition);
        }
        composition.layer = drawn;
    }
    KVPDFPage *sourcePage = nullptr;
    if (source) {
        composition.transform = source->placement * toPage;
        sourcePage = source->page.get();
    }
    return KVPDFPageComposer::compose(sourcePage, composition);
}

void JXPDFImageRenderer::drawInto(QPainter &painter, const QRectF &rect)
{
    if (!isUsableRect(rect))
        return;
    if (std::optional<PDFSource> source = pdfSource()) {
        std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(source->data);
        const int number = int(source->page->pageNumberInDocument());
        std::unique_ptr<Poppler::Page> page = document ? document->page(number) : nullptr;
        if (page) {
            document->setRenderHint(Poppler::Document::Antialiasing);
            document->setRenderHint(Poppler::Document::TextAntialiasing);
            const QSizeF shown = page->pageSizeF();
            painter.save();
            enterBoundsSpace(painter, rect);
            painter.setClipRect(rect, Qt::IntersectClip);
            // Poppler draws the page as shown, y-down from its top-left corner.
            const QTransform fromShown = QTransform::fromScale(1, -1) * QTransform::fromTranslate(0, shown.height())
                                         * KVPDFPageComposer::uprightTransform(*source->page).inverted();
            painter.setWorldTransform(fromShown * source->placement * painter.worldTransform());
            // Poppler's painter back-end sets the painter's transform itself, so the page is
            // drawn as an image at the resolution the placement gives it on the device.
            const QTransform device = painter.combinedTransform();
            const double dpi = 72.0 * std::clamp(std::sqrt(std::abs(device.determinant())), 0.01, 16.0);
            const QImage image = page->renderToImage(dpi, dpi);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(QPointF(), shown), image);
            painter.restore();
        } else {
            kvLog(QStringLiteral("The PDF source of a rendering could not be read and draws nothing"));
        }
    }
    if (hasOwnDrawing())
        drawOwn(painter, rect);
}
