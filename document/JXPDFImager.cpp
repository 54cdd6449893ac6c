#include "JXPDFImager.h"

#include "KVLog.h"

#include <poppler-qt6.h>

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Rasters past this many pixels are drawn smaller and scaled up, so a huge device cannot ask
// for gigabytes.
constexpr double kMaxRasterPixels = 64.0 * 1024 * 1024;

int quarterTurns(double degrees) { return ((int(std::lround(degrees / 90.0)) % 4) + 4) % 4; }

// The upright picture of a w × h box (y down, corner at the origin) to the same picture turned
// clockwise by `quarters` quarter turns, its corner again at the origin.
QTransform turnedPicture(int quarters, double w, double h)
{
    QTransform turn;
    turn.rotate(90.0 * quarters);
    const QRectF box = turn.mapRect(QRectF(0, 0, w, h));
    return turn * QTransform::fromTranslate(-box.left(), -box.top());
}

bool isUprightScale(const QTransform &t)
{
    constexpr double kEpsilon = 1e-9;
    return std::abs(t.m12()) < kEpsilon && std::abs(t.m21()) < kEpsilon && t.m11() > kEpsilon && t.m22() > kEpsilon
        && std::abs(t.m13()) < kEpsilon && std::abs(t.m23()) < kEpsilon;
}

} // namespace

JXPDFImager::JXPDFImager(QByteArray data, std::unique_ptr<Poppler::Document> document)
    : m_data(std::move(data))
    , m_document(std::move(document))
{
}

JXPDFImager::~JXPDFImager() = default;

std::shared_ptr<JXPDFImager> JXPDFImager::imagerWithData(const QByteArray &data)
{
    if (data.isEmpty())
        return nullptr;
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(data);
    if (!document || document->isLocked())
        return nullptr;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    // The paper stays transparent: pages are laid over the view's own blank page.
    document->setRenderHint(Poppler::Document::IgnorePaperColor);
    // Annotations are imprints, which draw themselves over the page.
    document->setRenderHint(Poppler::Document::HideAnnotations);
    return std::shared_ptr<JXPDFImager>(new JXPDFImager(data, std::move(document)));
}

int JXPDFImager::pageCount() const { return m_document->numPages(); }

bool JXPDFImager::pageGeometry(int pageIndex, PageGeometry &geometry) const
{
    if (pageIndex < 0 || pageIndex >= m_document->numPages())
        return false;
    std::unique_ptr<Poppler::Page> page = m_document->page(pageIndex);
    if (!page)
        return false;
    switch (page->orientation()) {
    case Poppler::Page::Landscape: geometry.rotate = 90; break;
    case Poppler::Page::UpsideDown: geometry.rotate = 180; break;
    case Poppler::Page::Seascape: geometry.rotate = 270; break;
    case Poppler::Page::Portrait: geometry.rotate = 0; break;
    }
    QSizeF size = page->pageSizeF();
    if (geometry.rotate % 180)
        size.transpose();
    // The default transform of an unturned page at 72 dpi, y up, is a translation by minus the
    // corner of the (media-clipped) crop box: the only way the binding tells where the box is.
    double ctm[6] = {1, 0, 0, 1, 0, 0};
    page->defaultCTM(ctm, 72, 72, (360 - geometry.rotate) % 360, false);
    geometry.cropBox = QRectF(QPointF(-ctm[4], -ctm[5]), size);
    return size.width() > 0 && size.height() > 0;
}

QRectF JXPDFImager::boundsOfPage(int pageIndex) const
{
    PageGeometry geometry;
    return pageGeometry(pageIndex, geometry) ? geometry.cropBox : QRectF();
}

QRectF JXPDFImager::bounds() const
{
    QRectF all;
    for (int i = 0; i < pageCount(); ++i)
        all = all.united(boundsOfPage(i));
    return all;
}

QTransform JXPDFImager::pageSpaceTransform(const QRectF &cropBox, int rotatedBy, bool applyTranslation)
{
    const QTransform toCorner = QTransform::fromTranslate(-cropBox.left(), -cropBox.top());
    const QTransform back = applyTranslation ? QTransform() : QTransform::fromTranslate(cropBox.left(), cropBox.top());
    if (rotatedBy == 0)
        return toCorner * back;
    const double w = cropBox.width();
    const double h = cropBox.height();
    // An odd number of quarter turns exchanges the frame's sides.
    const bool sidesKept = (std::abs(rotatedBy) / 90) % 2 == 0;
    const QTransform turn = QTransform::fromTranslate(-w / 2, -h / 2) * QTransform().rotate(double(float(rotatedBy)))
        * (sidesKept ? QTransform::fromTranslate(w / 2, h / 2) : QTransform::fromTranslate(h / 2, w / 2));
    return toCorner * turn * back;
}

void JXPDFImager::drawPage(int pageIndex, double rotatedBy, QPainter &painter)
{
    PageGeometry geometry;
    if (!pageGeometry(pageIndex, geometry))
        return;
    const int quarters = (geometry.rotate / 90 + quarterTurns(rotatedBy)) % 4;
    drawUpright(pageIndex, geometry, turnedPicture(quarters, geometry.cropBox.width(), geometry.cropBox.height()), painter);
}

void JXPDFImager::drawPage(int pageIndex, int rotatedBy, bool applyTranslation, QPainter &painter)
{
    PageGeometry geometry;
    if (!pageGeometry(pageIndex, geometry))
        return;
    const QRectF &crop = geometry.cropBox;
    // The upright picture has y down from the crop box's top edge.
    const QTransform toPage(1, 0, 0, -1, crop.left(), crop.bottom());
    drawUpright(pageIndex, geometry, toPage * pageSpaceTransform(crop, rotatedBy, applyTranslation), painter);
}

void JXPDFImager::drawUpright(int pageIndex, const PageGeometry &geometry, const QTransform &upright, QPainter &painter)
{
    if (!painter.isActive())
        return;
    if (painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Pdf) {
        kvLog(QStringLiteral("A page is not drawn into PDF output as an image"));
        return;
    }
    std::unique_ptr<Poppler::Page> page = m_document->page(pageIndex);
    if (!page)
        return;
    const double w = geometry.cropBox.width();
    const double h = geometry.cropBox.height();
    const QTransform device = painter.deviceTransform();
    const int ownQuarters = geometry.rotate / 90;

    // Poppler turns its picture by quarters; the turn that leaves the picture upright on the
    // device, if any, is drawn pixel for pixel.
    for (int quarters = 0; quarters < 4; ++quarters) {
        const QTransform picture = turnedPicture(quarters, w, h);
        const QTransform toDevice = picture.inverted() * upright * device;
        if (!isUprightScale(toDevice))
            continue;
        const QSizeF points = picture.mapRect(QRectF(0, 0, w, h)).size();
        const double sx = toDevice.m11();
        const double sy = toDevice.m22();
        if (points.width() * sx > INT_MAX / 2 || points.height() * sy > INT_MAX / 2)
            break;
        const QPoint at(int(std::lround(toDevice.dx())), int(std::lround(toDevice.dy())));
        const QRect whole(at, QSize(int(std::ceil(points.width() * sx - 1e-6)), int(std::ceil(points.height() * sy - 1e-6))));
        // Only what falls on the device is rasterised: at a high zoom the rest may be huge.
        QPaintDevice *target = painter.device();
        const double ratio = std::max(1.0, target->devicePixelRatio());
        const QRect onDevice =
            whole.intersected(QRect(0, 0, int(std::ceil(target->width() * ratio)), int(std::ceil(target->height() * ratio))));
        if (onDevice.isEmpty())
            return;
        if (double(onDevice.width()) * onDevice.height() > kMaxRasterPixels)
            break;
        const QRect slice = onDevice == whole ? QRect(-1, -1, -1, -1) : onDevice.translated(-at);
        const QImage image = page->renderToImage(72.0 * sx, 72.0 * sy, slice.x(), slice.y(), slice.width(), slice.height(),
                                                 Poppler::Page::Rotation((quarters - ownQuarters + 4) % 4));
        if (image.isNull())
            return;
        painter.save();
        painter.resetTransform();
        const QTransform base = painter.deviceTransform();
        painter.setWorldTransform(QTransform::fromTranslate(onDevice.left(), onDevice.top()) * base.inverted());
        painter.drawImage(QPointF(0, 0), image);
        painter.restore();
        return;
    }

    // A shear, a turn other than by quarters, or a mirror: a raster at the mean scale, resampled.
    const QTransform picture = turnedPicture(ownQuarters, w, h);
    const QTransform toDevice = picture.inverted() * upright * device;
    double scale = std::sqrt(std::abs(toDevice.determinant()));
    if (!(scale > 0))
        return;
    scale = std::min(scale, std::sqrt(kMaxRasterPixels / (w * h)));
    const QImage image = page->renderToImage(72.0 * scale, 72.0 * scale);
    if (image.isNull())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setWorldTransform(QTransform::fromScale(1 / scale, 1 / scale) * picture.inverted() * upright * painter.worldTransform());
    painter.drawImage(QPointF(0, 0), image);
    painter.restore();
}

void JXPDFImager::returnToPool()
{
    if (std::shared_ptr<JXPDFImagerPool> pool = m_pool.lock())
        pool->giveBack(shared_from_this());
}

JXPDFImagerPool::JXPDFImagerPool(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
}

std::shared_ptr<JXPDFImagerPool> JXPDFImagerPool::create(Clock clock)
{
    return std::shared_ptr<JXPDFImagerPool>(new JXPDFImagerPool(std::move(clock)));
}

std::shared_ptr<JXPDFImagerPool> JXPDFImagerPool::shared()
{
    static const std::shared_ptr<JXPDFImagerPool> pool = create();
    return pool;
}

std::shared_ptr<KVPDFImager> JXPDFImagerPool::pooledPDFImagerForData(const QByteArray &data)
{
    return pooledImagerForData(data);
}

ptrdiff_t JXPDFImagerPool::findIdle(const QByteArray &data, const JXPDFImager *hashedImager)
{
    for (size_t i = 0; i < m_idle.size(); ++i) {
        const QByteArray &held = m_idle[i].imager->data();
        if (held.constData() == data.constData() && held.size() == data.size())
            return ptrdiff_t(i);
    }
    bool haveHash = false;
    size_t hash = 0;
    for (size_t i = 0; i < m_idle.size(); ++i) {
        JXPDFImager &idle = *m_idle[i].imager;
        if (idle.data().size() != data.size())
            continue;
        if (!haveHash) {
            if (hashedImager && hashedImager->m_hashed) {
                hash = hashedImager->m_hash;
            } else {
                hash = qHash(data, 0);
                ++m_byteReads;
                if (hashedImager) {
                    hashedImager->m_hash = hash;
                    hashedImager->m_hashed = true;
                }
            }
            haveHash = true;
        }
        if (!idle.m_hashed) {
            idle.m_hash = qHash(idle.data(), 0);
            idle.m_hashed = true;
            ++m_byteReads;
        }
        if (idle.m_hash != hash)
            continue;
        ++m_byteReads;
        if (idle.data() == data)
            return ptrdiff_t(i);
    }
    return -1;
}

std::shared_ptr<JXPDFImager> JXPDFImagerPool::pooledImagerForData(const QByteArray &data)
{
    std::shared_ptr<JXPDFImager> imager;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const ptrdiff_t found = findIdle(data, nullptr);
        if (found >= 0) {
            imager = std::move(m_idle[size_t(found)].imager);
            m_idle.erase(m_idle.begin() + found);
        }
        ++m_takes;
        if (m_takes & 64u) {
            const auto now = m_clock();
            std::erase_if(m_idle, [&](const Idle &idle) { return now - idle.returnedAt >= kIdleLifetime; });
        }
    }
    // Parsing a large file takes a while; other threads take and return meanwhile.
    if (!imager) {
        imager = JXPDFImager::imagerWithData(data);
        if (imager)
            imager->m_pool = weak_from_this();
    }
    return imager;
}

void JXPDFImagerPool::giveBack(const std::shared_ptr<JXPDFImager> &imager)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto now = m_clock();
    // Returned twice: stamped again, still one entry.
    for (Idle &idle : m_idle)
        if (idle.imager == imager) {
            idle.returnedAt = now;
            return;
        }
    const ptrdiff_t equal = findIdle(imager->data(), imager.get());
    if (equal >= 0)
        m_idle[size_t(equal)] = Idle{imager, now};
    else
        m_idle.push_back(Idle{imager, now});
}

size_t JXPDFImagerPool::idleCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_idle.size();
}

size_t JXPDFImagerPool::byteReads() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_byteReads;
}
