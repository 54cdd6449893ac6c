// Times the page imager for bench/imager-vs-pdftoppm.sh:
//   imager-bench first FILE DPI   the file's bytes parsed once, every page drawn once at DPI
//                                 (the crop box, as the view draws it, on white paper);
//                                 prints the total seconds
//   imager-bench hit FILE [N]     N takes of an idle imager from the pool with the bytes'
//                                 own buffer, and N with an equal copy in another buffer;
//                                 prints microseconds per take of each and the bytes read
#include "JXPDFImager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>

static int usage()
{
    std::fprintf(stderr, "usage: imager-bench first FILE DPI | hit FILE [N]\n");
    return 2;
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 3)
        return usage();
    const QByteArray mode = argv[1];
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    const QByteArray data = file.readAll();

    if (mode == "first" && argc == 4) {
        const double scale = std::atof(argv[3]) / 72.0;
        QElapsedTimer timer;
        timer.start();
        const std::shared_ptr<JXPDFImager> imager = JXPDFImager::imagerWithData(data);
        if (!imager)
            return 1;
        for (int page = 0; page < imager->pageCount(); ++page) {
            // The bench files' pages are not turned: the crop box is the shown size.
            const QRectF shown = imager->boundsOfPage(page);
            QImage canvas(int(std::ceil(shown.width() * scale)), int(std::ceil(shown.height() * scale)),
                          QImage::Format_ARGB32_Premultiplied);
            canvas.fill(Qt::white);
            QPainter painter(&canvas);
            painter.scale(scale, scale);
            imager->drawPage(page, 0.0, painter);
        }
        std::printf("%.4f %d\n", timer.nsecsElapsed() / 1e9, imager->pageCount());
        return 0;
    }
    if (mode == "hit") {
        const int n = argc > 3 ? std::atoi(argv[3]) : 10000;
        const std::shared_ptr<JXPDFImagerPool> pool = JXPDFImagerPool::create();
        std::shared_ptr<JXPDFImager> imager = pool->pooledImagerForData(data);
        if (!imager)
            return 1;
        imager->returnToPool();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < n; ++i)
            pool->pooledImagerForData(data)->returnToPool();
        const double shared = timer.nsecsElapsed() / 1e3 / n;
        const size_t sharedReads = pool->byteReads();
        const QByteArray copy(data.constData(), data.size());
        timer.restart();
        for (int i = 0; i < n; ++i)
            pool->pooledImagerForData(copy)->returnToPool();
        const double other = timer.nsecsElapsed() / 1e3 / n;
        std::printf("%.3f %zu %.3f %zu\n", shared, sharedReads, other, pool->byteReads() - sharedReads);
        return 0;
    }
    return usage();
}
