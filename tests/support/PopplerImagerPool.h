#pragma once
// The imager pool the engine asks for page drawings, as the application provides it, over
// poppler's Qt binding: suites that draw pages install it through KVPDFServices::Installer
// (popplerServices). Pages are rasterised at the painter's scale and drawn as images; the paper
// is transparent, so a drawing can be laid over another one.
#include "KVPDFImager.h"
#include "KVPDFServices.h"

#include <poppler-qt6.h>

#include <QDateTime>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <mutex>
#include <vector>

class PopplerImagerPool;

class PopplerImager : public KVPDFImager, public std::enable_shared_from_this<PopplerImager> {
public:
    PopplerImager(PopplerImagerPool *pool, QByteArray data) : m_pool(pool), m_data(std::move(data)) { }

    bool load()
    {
        if (!m_document)
            m_document = Poppler::Document::loadFromData(m_data);
        if (!m_document || m_document->isLocked())
            return false;
        m_document->setRenderHint(Poppler::Document::Antialiasing);
        m_document->setRenderHint(Poppler::Document::TextAntialiasing);
        m_document->setRenderHint(Poppler::Document::IgnorePaperColor);
        return true;
    }

    void drawPage(int pageNumber, double rotatedBy, QPainter &painter) override
    {
        if (!m_document || pageNumber < 0 || pageNumber >= m_document->numPages())
            return;
        std::unique_ptr<Poppler::Page> page = m_document->page(pageNumber);
        const QTransform world = painter.worldTransform();
        const int quarter = ((int(std::lround(rotatedBy / 90.0)) % 4) + 4) % 4;
        painter.save();
        if (world.m12() == 0 && world.m21() == 0 && world.m11() > 0 && world.m22() > 0) {
            // Drawn at the device's own resolution, so nothing is resampled.
            const QImage image =
                page->renderToImage(72.0 * world.m11(), 72.0 * world.m22(), -1, -1, -1, -1, Poppler::Page::Rotation(quarter));
            painter.setWorldTransform(QTransform::fromTranslate(std::round(world.dx()), std::round(world.dy())));
            painter.drawImage(QPointF(0, 0), image);
        } else {
            const double scale = std::max(1.0, std::sqrt(std::abs(world.determinant())));
            const QImage image =
                page->renderToImage(72.0 * scale, 72.0 * scale, -1, -1, -1, -1, Poppler::Page::Rotation(quarter));
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.scale(1.0 / scale, 1.0 / scale);
            painter.drawImage(QPointF(0, 0), image);
        }
        painter.restore();
    }

    void returnToPool() override;

    const QByteArray &data() const { return m_data; }
    qint64 returnedAt = 0;

private:
    friend class PopplerImagerPool;
    PopplerImagerPool *m_pool;
    QByteArray m_data;
    std::unique_ptr<Poppler::Document> m_document;
};

class PopplerImagerPool : public KVPDFImager::Pool {
public:
    std::shared_ptr<KVPDFImager> pooledPDFImagerForData(const QByteArray &data) override
    {
        std::shared_ptr<PopplerImager> imager;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (auto it = m_idle.begin(); it != m_idle.end(); ++it)
                if ((*it)->data() == data) {
                    imager = *it;
                    m_idle.erase(it);
                    break;
                }
        }
        if (!imager)
            imager = std::make_shared<PopplerImager>(this, data);
        return imager->load() ? imager : nullptr;
    }

    void giveBack(const std::shared_ptr<PopplerImager> &imager)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_idle.push_back(imager);
    }

    size_t idleCount()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_idle.size();
    }

private:
    std::mutex m_lock;
    std::vector<std::shared_ptr<PopplerImager>> m_idle;
};

inline void PopplerImager::returnToPool()
{
    m_document.reset();
    returnedAt = QDateTime::currentMSecsSinceEpoch();
    m_pool->giveBack(shared_from_this());
}

// Default services with a poppler imager pool.
inline KVPDFServices popplerServices()
{
    KVPDFServices services;
    services.imagerPool = std::make_shared<PopplerImagerPool>();
    return services;
}

// The one-page PDF `data` drawn at `dpi` on a transparent canvas of the page's size.
inline QImage renderWithPool(const QByteArray &data, double dpi, QSizeF pagePoints)
{
    std::shared_ptr<KVPDFImager> imager = KVPDFImager::pooledPDFImagerForData(data);
    if (!imager)
        return QImage();
    const double scale = dpi / 72.0;
    QImage canvas(QSize(int(std::ceil(pagePoints.width() * scale)), int(std::ceil(pagePoints.height() * scale))),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.scale(scale, scale);
        imager->drawPage(0, 0, painter);
    }
    imager->returnToPool();
    return canvas;
}
