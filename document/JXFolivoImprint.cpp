#include "JXFolivoImprint.h"

#include "JXFolivoPage.h"
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFImprint.h"
#include "KVPDFPage.h"

#include <QPainter>
#include <QTextStream>

#include <poppler-qt6.h>

#include <cmath>

JXFolivoImprint::JXFolivoImprint(std::shared_ptr<KVPDFImprint> record, JXFolivoPage *page)
    : m_page(page), m_pdfImprint(std::move(record))
{
    if (m_pdfImprint && m_pdfImprint->hasDictionary())
        m_locked = m_pdfImprint->dictionary().value(QStringLiteral("locked")).toBool();
}

JXFolivoImprint::~JXFolivoImprint() = default;

std::shared_ptr<JXFolivoImprint> JXFolivoImprint::imprintWith(const std::shared_ptr<KVPDFImprint> &record,
                                                              JXFolivoPage *page)
{
    if (!record)
        return nullptr;
    return std::make_shared<JXFolivoImprint>(record, page);
}

std::shared_ptr<JXFolivoImprint> JXFolivoImprint::imprintWithPDFImage(const std::shared_ptr<KVPDFImage> &image,
                                                                      JXFolivoPage *page)
{
    if (!image)
        return nullptr;
    auto imprint = std::make_shared<JXFolivoImprint>(nullptr, page);
    imprint->m_pdfImage = image;
    return imprint;
}

QString JXFolivoImprint::fieldChange() { return QStringLiteral("FolivoFieldChanged"); }

QString JXFolivoImprint::description() const
{
    const QRectF box = bounds();
    QString text;
    QTextStream(&text) << "[" << className() << "] (0x" << QString::number(quintptr(this), 16) << ") page 0x"
                       << QString::number(quintptr(m_page), 16) << " pdfPage 0x"
                       << QString::number(quintptr(m_page ? m_page->pdfPage().get() : nullptr), 16) << " pdfImprint 0x"
                       << QString::number(quintptr(m_pdfImprint.get()), 16) << " bounds "
                       << QString::asprintf("%.1f %.1f %.1f %.1f", box.x(), box.y(), box.width(), box.height());
    return text;
}

void JXFolivoImprint::setPage(JXFolivoPage *page) { m_page = page; }

void JXFolivoImprint::setPDFImprint(std::shared_ptr<KVPDFImprint> record) { m_pdfImprint = std::move(record); }

int JXFolivoImprint::layer() const { return m_pdfImprint && m_pdfImprint->flatten() ? -1 : 0; }

namespace {
// The engine page's PDF space puts the cropped media box's corner where page coordinates have
// their origin.
QPointF pageOrigin(const JXFolivoPage *page)
{
    if (!page || !page->pdfPage())
        return {};
    return page->pdfPage()->croppedMediaBox().topLeft();
}
}

QRectF JXFolivoImprint::bounds() const
{
    if (m_pdfImprint)
        return QRectF(m_pdfImprint->location() - pageOrigin(m_page), m_pdfImprint->size());
    if (m_pdfImage)
        return QRectF(m_pdfImage->x(), m_pdfImage->y(), m_pdfImage->width(), m_pdfImage->height());
    return {};
}

QRectF JXFolivoImprint::boundsWithRotation(double *angle) const
{
    if (angle)
        *angle = 0;
    return bounds();
}

int JXFolivoImprint::locationCompare(const JXFolivoImprint &other) const
{
    const QPointF mine = m_pdfImprint ? m_pdfImprint->location() : bounds().topLeft();
    const QPointF theirs = other.m_pdfImprint ? other.m_pdfImprint->location() : other.bounds().topLeft();
    if (mine.y() != theirs.y())
        return mine.y() > theirs.y() ? -1 : 1;
    if (mine.x() != theirs.x())
        return mine.x() < theirs.x() ? -1 : 1;
    return 0;
}

void JXFolivoImprint::postAddTo(JXFolivoPage *) { }
void JXFolivoImprint::preRemoveFrom(JXFolivoPage *) { }
void JXFolivoImprint::prepareToSave() { }
void JXFolivoImprint::setFieldName(const QString &) { }
void JXFolivoImprint::setFieldName(const QString &, const QVariant &) { }
void JXFolivoImprint::resetForm() { }

void JXFolivoImprint::draw(QPainter &painter)
{
    // An annotation shows its normal appearance; a stored object its own one-page PDF. An
    // imprint standing for page content is drawn by the page itself.
    QByteArray data;
    if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(m_pdfImprint))
        data = annotation->pdfDataForAppearance("N");
    else if (m_pdfImprint && m_pdfImprint->document())
        data = m_pdfImprint->document()->docData();
    const QRectF box = bounds();
    if (data.isEmpty() || box.isEmpty())
        return;
    std::unique_ptr<Poppler::Document> pdf = Poppler::Document::loadFromData(data);
    if (!pdf || pdf->isLocked() || pdf->numPages() < 1)
        return;
    std::unique_ptr<Poppler::Page> page = pdf->page(0);
    if (!page)
        return;
    const QSizeF pointSize = page->pageSizeF();
    if (pointSize.isEmpty())
        return;
    // Raster at the painter's own resolution, at least 72 dpi.
    const QTransform &device = painter.deviceTransform();
    const double scale = std::max(1.0, std::hypot(device.m11(), device.m12()));
    const double dpiX = 72.0 * scale * box.width() / pointSize.width();
    const double dpiY = 72.0 * scale * box.height() / pointSize.height();
    const QImage image = page->renderToImage(dpiX, dpiY);
    if (image.isNull())
        return;
    // Page coordinates run up; the image's rows run down.
    painter.save();
    painter.translate(box.left(), box.bottom());
    painter.scale(1, -1);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, 0, box.width(), box.height()), image);
    painter.restore();
}
