// kvprobe text FILE --page N [--selection] [--columns OUT.png] [--password P]
//
// The page string of page N (1-based) as search prepares it, or with --selection as selection
// prepares it (measured, in column order), and its lines:
//   {"page": N, "selection": false, "text": "Title\nBody ...\n",
//    "lines": [{"range": [0, 6], "text": "Title\n", "y": 700}, ...]}
// "y" is the line's baseline (its first run's y) in page space with the crop box's lower-left
// corner at 0, 0. With --selection each line also has "bounds" [x, y, width, height] and
// "edges" [left, right]: the left edge of its first character and the right edge of its last
// character that is not blank; the report has "links": [{"range": [loc, len], "url": U}].
// With --columns (which implies --selection) the page is drawn into OUT.png at 2 pixels per
// point with each section found outlined, and "sections" lists them as [x, y, width, height].
//
// kvprobe charpos FILE --page N --at X,Y
//
// The character position under the point (X, Y in the same space) on the selection-prepared
// page, and its line: {"page": N, "at": [X, Y], "position": P, "character": "c",
// "line": {"index": K, "range": [loc, len], "text": "..."}}; "position" and "line" are null
// when no line holds the point.
#include "KVProbeText.h"

#include "KVProbeJson.h"
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFImager.h"
#include "KVPDFPage.h"
#include "KVPDFPageString.h"
#include "KVPDFServices.h"
#include "KVPDFTextBlob.h"
#include "support/ImagerServices.h"

#include <QImage>
#include <QJsonArray>
#include <QPainter>

#include <cmath>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe text FILE --page N [--selection] [--columns OUT.png] [--password P]\n"
                         "       kvprobe charpos FILE --page N --at X,Y [--password P]\n");
    return 2;
}

QJsonArray rectJson(const QRectF &rect)
{
    return QJsonArray{kvProbeRounded(rect.x()), kvProbeRounded(rect.y()), kvProbeRounded(rect.width()),
                      kvProbeRounded(rect.height())};
}

QJsonArray rangeJson(KVPDFRange range) { return QJsonArray{qint64(range.location), qint64(range.length)}; }

// The left edge of the line's first character and the right edge of its last one that is not
// blank (a line break or trailing blanks draw nothing).
std::optional<std::pair<double, double>> inkEdges(const KVPDFBaseline &line, const QString &text)
{
    std::optional<double> left, right;
    for (const std::shared_ptr<KVPDFTextBlob> &run : line.blobs()) {
        double x = run->location.x();
        const qsizetype start = qsizetype(run->rangeInPageString.location);
        for (size_t k = 0; k < run->widths.size(); ++k) {
            const qsizetype at = start + qsizetype(k);
            const QChar c = at < text.size() ? text.at(at) : QChar(u' ');
            if (!c.isSpace()) {
                if (!left)
                    left = x;
                right = x + run->widths[k];
            }
            x += run->widths[k];
        }
    }
    if (!left)
        return std::nullopt;
    return std::make_pair(*left, *right);
}

struct Opened {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
    KVProbeOptions options;
};

std::optional<Opened> open(const QString &path, const QStringList &options, const QStringList &known, int *exitCode)
{
    const std::optional<KVProbeOptions> read = kvProbeOptions(options, known);
    if (!read || read->page < 1) {
        *exitCode = usage();
        return std::nullopt;
    }
    Opened opened;
    opened.options = *read;
    // As the program opens it: an encrypted file becomes a plain working copy, which the
    // imager can draw.
    opened.document = kvProbeOpen(path, read->password, exitCode, false);
    if (!opened.document)
        return std::nullopt;
    opened.page = kvProbePage(*opened.document, path, read->page);
    if (!opened.page) {
        *exitCode = 2;
        return std::nullopt;
    }
    return opened;
}

bool writeColumns(KVPDFPage &page, const std::vector<QRectF> &sections, const QString &out)
{
    const QRectF crop = page.cropBox().value_or(page.mediaBox());
    constexpr double scale = 2.0;
    QImage image(int(std::ceil(crop.width() * scale)), int(std::ceil(crop.height() * scale)), QImage::Format_RGB32);
    if (image.isNull())
        return false;
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.scale(scale, scale);
        if (std::shared_ptr<KVPDFImager> imager = KVPDFImager::pooledPDFImagerForData(page.document()->docData())) {
            imager->drawPage(int(page.pageNumberInDocument()), -double(page.rotate().value_or(0)), painter);
            imager->returnToPool();
        }
        static const Qt::GlobalColor colours[] = {Qt::red, Qt::blue, Qt::darkGreen, Qt::magenta, Qt::darkCyan};
        painter.setTransform(QTransform(scale, 0, 0, -scale, 0, scale * crop.height()));
        for (size_t k = 0; k < sections.size(); ++k) {
            QPen pen(colours[k % std::size(colours)]);
            pen.setCosmetic(true);
            pen.setWidth(3);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(sections[k]);
        }
    }
    return image.save(out, "PNG");
}

} // namespace

QJsonObject kvprobeTextJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    QStringList rest = options;
    const bool selectionFlag = rest.removeAll(QStringLiteral("--selection")) > 0;
    std::optional<Opened> opened = open(path, rest, {QStringLiteral("--columns")}, exitCode);
    if (!opened)
        return {};
    const QString columns = opened->options.values.value(QStringLiteral("--columns"));
    const bool selection = selectionFlag || !columns.isEmpty();
    KVPDFServices::Installer services(imagerServices());
    KVPDFPage &page = *opened->page;
    std::vector<QRectF> sections;
    if (selection)
        page.prepareForSelection(&sections);
    else
        page.prepareForSearch();

    const QString text = page.pageString();
    QJsonArray lines;
    for (const std::shared_ptr<KVPDFBaseline> &line : page.baselines()) {
        QJsonObject entry;
        const KVPDFRange range = line->rangeInPageString();
        entry[QStringLiteral("range")] = rangeJson(range);
        entry[QStringLiteral("text")] = text.mid(qsizetype(range.location), qsizetype(range.length));
        entry[QStringLiteral("y")] = line->blobs().empty() ? QJsonValue() : QJsonValue(kvProbeRounded(line->blobs().front()->location.y()));
        if (selection) {
            entry[QStringLiteral("bounds")] = rectJson(line->bounds());
            if (auto edges = inkEdges(*line, text))
                entry[QStringLiteral("edges")] = QJsonArray{kvProbeRounded(edges->first), kvProbeRounded(edges->second)};
        }
        lines.append(entry);
    }
    QJsonObject out;
    out[QStringLiteral("page")] = opened->options.page;
    out[QStringLiteral("selection")] = selection;
    out[QStringLiteral("text")] = text;
    out[QStringLiteral("lines")] = lines;
    if (selection) {
        QJsonArray links;
        for (const KVPDFDetectedLink &link : page.clickableURLs())
            links.append(QJsonObject{{QStringLiteral("range"), rangeJson(link.range)},
                                     {QStringLiteral("url"), link.url.toString(QUrl::FullyEncoded)}});
        out[QStringLiteral("links")] = links;
    }
    if (!columns.isEmpty()) {
        QJsonArray found;
        for (const QRectF &section : sections)
            found.append(rectJson(section));
        out[QStringLiteral("sections")] = found;
        if (!writeColumns(page, sections, columns)) {
            std::fprintf(stderr, "kvprobe: cannot write %s\n", qPrintable(columns));
            *exitCode = 5;
            return {};
        }
    }
    return out;
}

QJsonObject kvprobeCharPosJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    std::optional<Opened> opened = open(path, options, {QStringLiteral("--at")}, exitCode);
    if (!opened)
        return {};
    const QStringList at = opened->options.values.value(QStringLiteral("--at")).split(QLatin1Char(','));
    bool xOk = false, yOk = false;
    const double x = at.size() == 2 ? at[0].toDouble(&xOk) : 0, y = at.size() == 2 ? at[1].toDouble(&yOk) : 0;
    if (!xOk || !yOk) {
        *exitCode = usage();
        return {};
    }
    KVPDFServices::Installer services(imagerServices());
    KVPDFPage &page = *opened->page;
    page.prepareForSelection();

    std::shared_ptr<KVPDFBaseline> line;
    const int64_t position = page.charPositionForPoint(QPointF(x, y), &line);
    const QString text = page.pageString();
    QJsonObject out;
    out[QStringLiteral("page")] = opened->options.page;
    out[QStringLiteral("at")] = QJsonArray{x, y};
    if (position == KVPDFNotFound || !line) {
        out[QStringLiteral("position")] = QJsonValue();
        out[QStringLiteral("line")] = QJsonValue();
        return out;
    }
    out[QStringLiteral("position")] = qint64(position);
    out[QStringLiteral("character")] = position >= 0 && position < text.size() ? QJsonValue(QString(text.at(position))) : QJsonValue();
    const std::vector<std::shared_ptr<KVPDFBaseline>> lines = page.baselines();
    const KVPDFRange range = line->rangeInPageString();
    out[QStringLiteral("line")] =
        QJsonObject{{QStringLiteral("index"), qint64(std::find(lines.begin(), lines.end(), line) - lines.begin())},
                    {QStringLiteral("range"), rangeJson(range)},
                    {QStringLiteral("text"), text.mid(qsizetype(range.location), qsizetype(range.length))}};
    return out;
}

int kvprobeText(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeTextJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}

int kvprobeCharPos(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeCharPosJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
