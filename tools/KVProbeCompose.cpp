// kvprobe compose FILE --page N [--rotate D] [--opacity A] -o OUT [--password P]
//
// Writes to OUT a one-page PDF that draws page N (from 1) as it is shown, turned D degrees
// counter-clockwise (default 0) about its lower-left corner, at opacity A (default 1), on a
// page just large enough for the turned box (KVPDFPageComposer). Prints
//   {"page": N, "rotate": D, "opacity": A, "mediaBox": [x0, y0, x1, y1], "written": OUT}
#include "KVProbeCompose.h"

#include "KVProbeJson.h"
#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVPDFPageComposition.h"

#include <QFile>
#include <QJsonArray>

#include <cmath>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe compose FILE --page N [--rotate D] [--opacity A] -o OUT [--password P]\n");
    return 2;
}

// The option's number, `fallback` when it is not given; nullopt when it is not a finite number.
std::optional<double> number(const KVProbeOptions &options, const QString &name, double fallback)
{
    if (!options.values.contains(name))
        return fallback;
    bool ok = false;
    const double value = options.values.value(name).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

QJsonObject kvprobeComposeJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    const std::optional<KVProbeOptions> read =
        kvProbeOptions(options, {QStringLiteral("--rotate"), QStringLiteral("--opacity"), QStringLiteral("-o")});
    const std::optional<double> rotate = read ? number(*read, QStringLiteral("--rotate"), 0) : std::nullopt;
    const std::optional<double> opacity = read ? number(*read, QStringLiteral("--opacity"), 1) : std::nullopt;
    const QString out = read ? read->values.value(QStringLiteral("-o")) : QString();
    if (!read || read->page < 1 || !rotate || !opacity || out.isEmpty()) {
        *exitCode = usage();
        return {};
    }
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, read->password, exitCode, false);
    if (!document)
        return {};
    const std::shared_ptr<KVPDFPage> page = kvProbePage(*document, path, read->page);
    if (!page) {
        *exitCode = 2;
        return {};
    }

    const QTransform upright = KVPDFPageComposer::uprightTransform(*page);
    QTransform transform = upright * QTransform().rotate(*rotate);
    const QRectF turned = transform.mapRect(KVPDFPageComposer::visibleBox(*page));
    transform *= QTransform::fromTranslate(-turned.x(), -turned.y());

    KVPDFPageComposition composition;
    composition.mediaBox = QRectF(QPointF(), turned.size());
    composition.transform = transform;
    composition.opacity = *opacity;
    QString error;
    const QByteArray data = KVPDFPageComposer::compose(page.get(), composition, &error);
    QFile file(out);
    if (data.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "kvprobe: could not compose page %lld into %s%s%s\n", read->page, qPrintable(out),
                     error.isEmpty() ? "" : ": ", qPrintable(error));
        *exitCode = 5;
        return {};
    }
    QJsonObject result;
    result[QStringLiteral("page")] = read->page;
    result[QStringLiteral("rotate")] = *rotate;
    result[QStringLiteral("opacity")] = *opacity;
    result[QStringLiteral("mediaBox")] =
        QJsonArray{0, 0, kvProbeRounded(composition.mediaBox.width()), kvProbeRounded(composition.mediaBox.height())};
    result[QStringLiteral("written")] = out;
    return result;
}

int kvprobeCompose(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeComposeJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
