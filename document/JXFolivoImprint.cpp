#include "JXFolivoImprint.h"

#include "JXFolivoPage.h"
#include "JXNSColorExtensions.h"
#include "KVPDFAnnotation.h"
#include "KVPDFAnnotationFreeText.h"
#include "KVPDFAnnotationText.h"
#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFImager.h"
#include "KVPDFImprint.h"
#include "KVPDFPage.h"

#include <QDir>
#include <QFileInfo>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <poppler-qt6.h>

#include <cmath>
#include <typeinfo>

namespace geometry = JXFolivoImprintGeometry;

namespace {

JXFolivoImprint::Rerenderer &installedRerenderer()
{
    static JXFolivoImprint::Rerenderer rerenderer;
    return rerenderer;
}

// Classes whose own issue has not come yet: a base imprint that keeps the record's dictionary
// whole and answers the name of the class it stands for.
class JXFolivoImprintStandIn : public JXFolivoImprint {
public:
    explicit JXFolivoImprintStandIn(QString className) : m_className(std::move(className)) { }
    QString className() const override { return m_className; }

protected:
    std::shared_ptr<JXFolivoImprint> newInstance() const override
    {
        return std::make_shared<JXFolivoImprintStandIn>(m_className);
    }

private:
    QString m_className;
};

// An engine annotation whose imprint kind is not built yet: its fields are the saved truth, so
// reading it must not rewrite its Rect or dictionary, and it shows its normal appearance.
class JXFolivoAnnotationStandIn : public JXFolivoImprint {
public:
    void initWith(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page) override
    {
        adoptRecordUntouched(record, page);
    }
    void draw(QPainter &painter) override;

protected:
    std::shared_ptr<JXFolivoImprint> newInstance() const override { return std::make_shared<JXFolivoAnnotationStandIn>(); }
};

void JXFolivoAnnotationStandIn::draw(QPainter &painter)
{
    auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(pdfImprint());
    const QByteArray data = annotation ? annotation->pdfDataForAppearance("N") : QByteArray();
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
    const QImage image = page->renderToImage(72.0 * scale * box.width() / pointSize.width(),
                                             72.0 * scale * box.height() / pointSize.height());
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

struct FactoryEntry {
    const char *key;
    const char *className;
};

// The first key present decides: a text field's dictionary also holds "textData" and a line's
// "path", so the more specific keys come first.
constexpr FactoryEntry kFactoryOrder[] = {
    {"link", "JXFolivoAnnotationLink"},
    {"annotationText", "JXFolivoAnnotationText"},
    {"widgetButton", "JXFolivoAnnotationWidgetButton"},
    {"widgetText", "JXFolivoAnnotationWidgetText"},
    {"textData", "JXFolivoTextImprint"},
    {"line", "JXFolivoLineImprint"},
    {"highlight", "JXFolivoHighlightImprint"},
    {"path", "JXFolivoStrokeImprint"},
    {"widgetChoice", "JXFolivoAnnotationWidgetChoice"},
};

// Printers and PDF writers are the devices that do not show on the screen.
bool drawsToScreen(const QPainter &painter)
{
    const QPaintDevice *device = painter.device();
    const QPaintEngine *engine = painter.paintEngine();
    return !(device && device->devType() == QInternal::Printer) && !(engine && engine->type() == QPaintEngine::Pdf);
}

// No print panel has set them, so comments and notes are left out of printed output.
bool documentPrintsComments(JXFolivoPage *) { return false; }
bool documentPrintsNotes(JXFolivoPage *) { return false; }

} // namespace

JXFolivoImprint::JXFolivoImprint() = default;
JXFolivoImprint::~JXFolivoImprint() = default;

std::shared_ptr<JXFolivoImprint> JXFolivoImprint::imprintWith(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page)
{
    if (!record)
        return nullptr;
    std::shared_ptr<JXFolivoImprint> imprint;
    if (record->imprintType() == KVPDFImprint::ImprintAnnotation) {
        imprint = std::make_shared<JXFolivoAnnotationStandIn>();
    } else {
        const QVariantMap &dictionary = record->dictionary();
        for (const FactoryEntry &entry : kFactoryOrder) {
            if (dictionary.contains(QLatin1String(entry.key))) {
                imprint = std::make_shared<JXFolivoImprintStandIn>(QLatin1String(entry.className));
                break;
            }
        }
    }
    if (!imprint)
        imprint = std::make_shared<JXFolivoImprint>();
    imprint->initWith(record, page);
    return imprint;
}

void JXFolivoImprint::initWith(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page)
{
    m_beingInitialized = true;
    m_pdfImprint = record;
    m_page = page;
    m_controlPoints.clear();
    const QVariantMap dictionary = record ? record->dictionary() : QVariantMap();
    if (const auto stored = dictionary.constFind(QStringLiteral("controlPoints")); record && stored != dictionary.cend()) {
        const geometry::ControlPoints points = geometry::controlPointsFromStored(stored->toByteArray());
        setControlPoints(points.data(), int(points.size()));
    } else {
        setBaseControlPointsFromPDFImprint(record, page);
    }
    const QVariant color = dictionary.value(QStringLiteral("color"));
    m_color = color.metaType().id() == QMetaType::QColor ? color.value<QColor>() : QColor();
    m_locked = dictionary.value(QStringLiteral("locked")).toBool();
    m_beingInitialized = false;
}

std::shared_ptr<JXFolivoImprint> JXFolivoImprint::imprintWithPDFImage(const std::shared_ptr<KVPDFImage> &image,
                                                                      JXFolivoPage *page)
{
    if (!image)
        return nullptr;
    auto proxy = std::make_shared<JXFolivoImprintStandIn>(QStringLiteral("JXFolivoProxyImageImprint"));
    proxy->initWith(nullptr, page);
    proxy->m_pdfImage = image;
    proxy->m_beingInitialized = true;
    const QPointF origin(image->x(), image->y());
    proxy->setRectControlPointsOrigin(origin, origin + QPointF(image->width(), image->height()), 0);
    proxy->m_beingInitialized = false;
    return proxy;
}

void JXFolivoImprint::adoptRecordUntouched(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page)
{
    m_pdfImprint = record;
    m_page = page;
    const QRectF box = record ? computeRectOriginOffsetWithinPage(page, QRectF(record->location(), record->size())) : QRectF();
    m_controlPoints = geometry::rectControlPoints(QPointF(box.x(), box.y()), QPointF(box.x() + box.width(), box.y() + box.height()));
    m_color = QColor();
    m_locked = record && record->dictionary().value(QStringLiteral("locked")).toBool();
    m_beingInitialized = false;
}

std::shared_ptr<JXFolivoImprint> JXFolivoImprint::newInstance() const
{
    return std::make_shared<JXFolivoImprint>();
}

std::shared_ptr<JXFolivoImprint> JXFolivoImprint::copy() const
{
    std::shared_ptr<JXFolivoImprint> twin = newInstance();
    twin->initWith(m_pdfImprint ? m_pdfImprint->copy() : nullptr, nullptr);
    twin->m_beingInitialized = true;
    twin->m_color = m_color;
    twin->setControlPoints(m_controlPoints.data(), int(m_controlPoints.size()));
    if (m_locked)
        twin->setLocked(true);
    twin->m_beingInitialized = false;
    return twin;
}

bool JXFolivoImprint::isPlainImage() const
{
    return typeid(*this) == typeid(JXFolivoImprint);
}

QString JXFolivoImprint::fieldChange()
{
    return QStringLiteral("FolivoFieldChanged");
}

QVariantList JXFolivoImprint::arrayFromArray(const double *values, int count)
{
    QVariantList array;
    for (int i = 0; i < count; ++i)
        array.append(QVariant::fromValue(float(values[i])));
    return array;
}

QPointF JXFolivoImprint::computeOriginOffsetWithPage(JXFolivoPage *page, QPointF origin)
{
    if (!page || !page->pdfPage())
        return origin;
    const QRectF cropped = page->pdfPage()->croppedMediaBox();
    return {origin.x() + float(cropped.x()), origin.y() + float(cropped.y())};
}

QRectF JXFolivoImprint::computeRectOriginOffsetWithinPage(JXFolivoPage *page, const QRectF &rect)
{
    if (!page || !page->pdfPage())
        return rect;
    const QRectF cropped = page->pdfPage()->croppedMediaBox();
    return rect.translated(-cropped.x(), -cropped.y());
}

const QColor &JXFolivoImprint::JXnoColor()
{
    static const QColor noColor = QColor::fromRgbF(1, 1, 1, 0);
    return noColor;
}

void JXFolivoImprint::setPage(JXFolivoPage *page)
{
    m_page = page;
    m_beingInitialized = false;
    resized();
}

void JXFolivoImprint::setPageWithoutRedraw(JXFolivoPage *page)
{
    m_page = page;
    m_beingInitialized = true;
}

void JXFolivoImprint::doneInitialization()
{
    m_beingInitialized = false;
    rerender();
}

void JXFolivoImprint::setFlatten(bool flatten)
{
    if (m_pdfImprint)
        m_pdfImprint->setFlatten(flatten);
}

std::span<QPointF> JXFolivoImprint::controlPoints()
{
    if (m_controlPoints.empty())
        m_controlPoints.assign(4, QPointF(0, 0));
    return m_controlPoints;
}

void JXFolivoImprint::setControlPoints(const QPointF *points, int count)
{
    if (points && count > 0)
        m_controlPoints.assign(points, points + count);
    else
        m_controlPoints.clear();
    pushControlPointsToPDFDictionary();
    resized();
}

void JXFolivoImprint::pushControlPointsToPDFDictionary()
{
    if (!m_pdfImprint)
        return;
    QVariantMap dictionary = m_pdfImprint->dictionary();
    dictionary.insert(QStringLiteral("controlPoints"), _controlPointsInPowerPCFormat());
    m_pdfImprint->setDictionary(dictionary);
}

QByteArray JXFolivoImprint::_controlPointsInPowerPCFormat() const
{
    return geometry::storedControlPoints(m_controlPoints);
}

geometry::ControlPoints JXFolivoImprint::_swizeledControlPoints(const QByteArray &stored)
{
    return geometry::controlPointsFromStored(stored);
}

QByteArray JXFolivoImprint::_swizeledControlPoints64(std::span<const QPointF> points)
{
    return geometry::storedControlPoints(points);
}

QString JXFolivoImprint::description() const
{
    const QRectF box = drawnBounds();
    return QStringLiteral("[%1] (0x%2) page 0x%3 pdfPage 0x%4 pdfImprint 0x%5 bounds ")
               .arg(className(), QString::number(quintptr(this), 16), QString::number(quintptr(m_page), 16),
                    QString::number(quintptr(m_page ? m_page->pdfPage().get() : nullptr), 16),
                    QString::number(quintptr(m_pdfImprint.get()), 16))
        + QString::asprintf("%.1f %.1f %.1f %.1f", box.x(), box.y(), box.width(), box.height());
}

int JXFolivoImprint::layer() const
{
    return m_pdfImprint && m_pdfImprint->flatten() ? -1 : 0;
}

JXFolivoImprint::Rerenderer JXFolivoImprint::setRerenderer(Rerenderer rerenderer)
{
    std::swap(installedRerenderer(), rerenderer);
    return rerenderer;
}

void JXFolivoImprint::rerenderInRect(const QRectF &rect)
{
    if (m_beingInitialized || m_dragType != 0)
        return;
    if (const Rerenderer &rerenderer = installedRerenderer())
        rerenderer(*this, rect);
}

void JXFolivoImprint::rerender()
{
    rerenderInRect(drawnBounds());
}

void JXFolivoImprint::resized()
{
    const QRectF b = drawnBounds();
    if (m_pdfImprint) {
        m_pdfImprint->setLocation(computeOriginOffsetWith(QPointF(b.x(), b.y())));
        m_pdfImprint->setSize(b.size());
    }
    rerender();
}

void JXFolivoImprint::fixTransform()
{
    if (!m_controlPoints.empty() && isPlainImage())
        geometry::roundToWholePoints(m_controlPoints);
    const QRectF b = drawnBounds();
    if (m_pdfImprint) {
        m_pdfImprint->setLocation(computeOriginOffsetWith(QPointF(b.x(), b.y())));
        const std::shared_ptr<KVPDFDocument> &document = m_pdfImprint->document();
        if (document && document->pageCount() > 0 && b.size() == document->pageAtIndex(0)->mediaBox().size())
            return;
    }
    rerenderInRect(b);
}

void JXFolivoImprint::setBaseControlPointsFromPDFImprint(const std::shared_ptr<KVPDFImprint> &record, JXFolivoPage *page)
{
    QPointF location = record ? record->location() : QPointF();
    const QSizeF size = record ? record->size() : QSizeF(0, 0);
    if (page && page->pdfPage()) {
        const QRectF cropped = page->pdfPage()->croppedMediaBox();
        location -= QPointF(cropped.x(), cropped.y());
    }
    setRectControlPointsOrigin(location, location + QPointF(size.width(), size.height()), 0);
}

QPainterPath JXFolivoImprint::boundsPath() const
{
    return geometry::boundsPath(m_controlPoints);
}

QRectF JXFolivoImprint::drawnBounds() const
{
    return boundsPath().boundingRect();
}

void JXFolivoImprint::normalizeRectangle()
{
    const QRectF b = drawnBounds();
    setRectControlPointsOrigin(QPointF(b.x(), b.y()), QPointF(b.x() + b.width(), b.y() + b.height()), 0);
}

void JXFolivoImprint::transform(const QTransform &transform)
{
    if (m_controlPoints.empty())
        return;
    if (geometry::transformPoints(m_controlPoints, transform)) {
        pushControlPointsToPDFDictionary();
        resized();
    }
    // A plain image keeps no rotation in its points: the re-rendering above drew the old content
    // turned into the bounding box, and that drawing is its content from now on.
    if (isPlainImage()) {
        const QRectF b = bounds();
        m_controlPoints = geometry::rectControlPoints(QPointF(b.x(), b.y()), QPointF(b.x() + b.width(), b.y() + b.height()));
        pushControlPointsToPDFDictionary();
    }
}

void JXFolivoImprint::drawIn(QPainter &painter)
{
    if (drawsToScreen(painter) || shouldPrint())
        draw(painter);
}

void JXFolivoImprint::draw(QPainter &painter)
{
    if (!m_pdfImprint)
        return;
    if (!drawsToScreen(painter) && !shouldPrint())
        return;
    const std::shared_ptr<KVPDFDocument> &document = m_pdfImprint->document();
    if (!document || document->pageCount() == 0)
        return;
    const QRectF media = document->pageAtIndex(0)->mediaBox();
    const QRectF b = bounds();
    // An empty page box would scale by infinity.
    if (media.width() <= 0 || media.height() <= 0)
        return;
    std::shared_ptr<KVPDFImager> imager = KVPDFImager::pooledPDFImagerForData(document->docData());
    if (!imager)
        return;
    painter.save();
    // The imager draws from the page's top-left corner downwards; page coordinates run upwards.
    painter.translate(b.x(), b.y() + b.height());
    painter.scale(b.width() / media.width(), -b.height() / media.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    imager->drawPage(0, 0, painter);
    painter.restore();
    imager->returnToPool();
}

float JXFolivoImprint::width() const
{
    return float(boundsWithRotation(nullptr).width());
}

float JXFolivoImprint::height() const
{
    return float(boundsWithRotation(nullptr).height());
}

void JXFolivoImprint::setXPosition(float x)
{
    const QRectF b = boundsWithRotation(nullptr);
    transform(QTransform::fromTranslate(x - b.x(), 0));
    resized();
}

void JXFolivoImprint::setYPosition(float y)
{
    const QRectF b = boundsWithRotation(nullptr);
    transform(QTransform::fromTranslate(0, y - b.y()));
    resized();
}

void JXFolivoImprint::setWidth(float width)
{
    double angle = 0;
    const QRectF b = boundsWithRotation(&angle);
    setRectControlPointsOrigin(QPointF(b.x(), b.y()), QPointF(b.x() + width, b.y() + b.height()), float(angle));
    rerender();
}

void JXFolivoImprint::setHeight(float height)
{
    double angle = 0;
    const QRectF b = boundsWithRotation(&angle);
    setRectControlPointsOrigin(QPointF(b.x(), b.y()), QPointF(b.x() + b.width(), b.y() + height), float(angle));
    rerender();
}

void JXFolivoImprint::setColor(const QColor &color)
{
    m_color = color;
    if (!m_beingInitialized)
        rerender();
}

QColor JXFolivoImprint::color() const
{
    return m_color.isValid() ? m_color : QColor(Qt::black);
}

QStringList JXFolivoImprint::colorFromScript() const
{
    return JXNSColorExtensions::colorString(m_color.isValid() ? m_color : JXnoColor()).split(QStringLiteral(", "));
}

void JXFolivoImprint::setColorFromScript(const QStringList &components)
{
    if (components.size() < 3)
        return;
    QString text = components.join(QStringLiteral(", "));
    if (components.size() == 3)
        text += QStringLiteral(", 1");
    const QColor color = JXNSColorExtensions::colorWithString(text);
    // Five or more components make no colour; taking that would silently clear the colour.
    if (!color.isValid())
        return;
    setColor(color);
}

bool JXFolivoImprint::shouldPrint() const
{
    if (!m_pdfImprint)
        return false;
    if (m_pdfImprint->flagPrint())
        return true;
    if (m_pdfImprint->imprintType() != KVPDFImprint::ImprintAnnotation)
        return false;
    if (dynamic_cast<const KVPDFAnnotationFreeText *>(m_pdfImprint.get()))
        return documentPrintsComments(m_page);
    if (dynamic_cast<const KVPDFAnnotationText *>(m_pdfImprint.get()))
        return documentPrintsNotes(m_page);
    return false;
}

std::vector<JXFolivoImprint::SearchHit> JXFolivoImprint::search(const QString &string) const
{
    std::vector<SearchHit> hits;
    const QString text = searchStringRep();
    // An empty pattern matches everywhere without moving on.
    if (text.isNull() || string.isEmpty())
        return hits;
    for (qsizetype at = text.indexOf(string, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(string, at + string.size(), Qt::CaseInsensitive))
        hits.push_back({int(at), text});
    return hits;
}

void JXFolivoImprint::setPath(const QString &path)
{
    if (path.isEmpty()) {
        m_filePath = path;
        return;
    }
    QString expanded = path;
    if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
        expanded.replace(0, 1, QDir::homePath());
    if (!QFileInfo::exists(expanded))
        return;
    m_filePath = expanded;
}

int JXFolivoImprint::locationCompare(const JXFolivoImprint &other) const
{
    const QPointF mine = m_pdfImprint ? m_pdfImprint->location() : QPointF();
    const QPointF theirs = other.m_pdfImprint ? other.m_pdfImprint->location() : QPointF();
    if (mine.y() != theirs.y())
        return mine.y() > theirs.y() ? -1 : 1;
    if (mine.x() != theirs.x())
        return mine.x() < theirs.x() ? -1 : 1;
    return 0;
}

void JXFolivoImprint::setRectControlPointsOrigin(QPointF origin, QPointF corner, float rotation)
{
    const geometry::ControlPoints points = geometry::rectControlPoints(origin, corner);
    setControlPoints(points.data(), int(points.size()));
    if (rotation != 0)
        transform(geometry::rotationAbout(origin, rotation));
}

QRectF JXFolivoImprint::boundsWithRotation(double *angle) const
{
    const geometry::BoxWithRotation box = geometry::boundsWithRotation(m_controlPoints);
    if (angle)
        *angle = box.angle;
    return box.box;
}

void JXFolivoImprint::scaleAroundTranslation(const QTransform &translation, const QTransform &scale)
{
    double angle = 0;
    boundsWithRotation(&angle);
    transform(geometry::scaleAroundTranslation(translation, scale, angle));
    if (m_page && m_dragType != 0)
        m_page->pageChanged();
}

void JXFolivoImprint::translateViaControlPoint(int index, QSizeF offset)
{
    if (m_controlPoints.empty())
        return;
    geometry::translateViaControlPoint(m_controlPoints, index, offset);
    resized();
}

int JXFolivoImprint::indexOriginForControlPoint(int index) const
{
    return geometry::indexOriginForControlPoint(index, nControlPoints());
}

QPointF JXFolivoImprint::originForControlPoint(int index) const
{
    const int origin = indexOriginForControlPoint(index);
    if (origin < 0 || origin >= nControlPoints())
        return {};
    return m_controlPoints[size_t(origin)];
}

QPointF JXFolivoImprint::centerPoint() const
{
    return geometry::centerPoint(m_controlPoints);
}

void JXFolivoImprint::sizeToFit(const QRectF &rect)
{
    // A plain image's transform snaps its points even when nothing moves, so fitting calls it
    // only to shrink.
    if (const QTransform scale = geometry::sizeToFitScale(drawnBounds(), rect); !scale.isIdentity())
        transform(scale);
    transform(geometry::sizeToFitTranslation(drawnBounds(), rect));
    fixTransform();
}

void JXFolivoImprint::fixCenterAround(QPointF center, const QRectF &rect)
{
    transform(geometry::fixCenterTranslation(drawnBounds(), center, rect));
}

float JXFolivoImprint::xPosition() const
{
    return m_controlPoints.empty() ? 0.0f : float(m_controlPoints[0].x());
}

float JXFolivoImprint::yPosition() const
{
    return m_controlPoints.empty() ? 0.0f : float(m_controlPoints[0].y());
}
