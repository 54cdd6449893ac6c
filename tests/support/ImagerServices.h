#pragma once
// The program's imager pool as the engine's services, for suites and tools that draw pages
// (installed through KVPDFServices::Installer), and a one-page drawing through it.
#include "JXPDFImager.h"
#include "KVPDFServices.h"

#include <QImage>
#include <QPainter>

#include <cmath>

// Default services with the process-wide imager pool.
inline KVPDFServices imagerServices()
{
    KVPDFServices services;
    services.imagerPool = JXPDFImagerPool::shared();
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
