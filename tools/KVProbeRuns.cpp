// kvprobe runs FILE --page N [--password P]
//
// The text runs of page N (1-based) in content order, as the engine's content interpreter
// makes them (forms drawn by the page included):
//   {"page": N, "runs": [{"text": "Hello", "x": 72, "y": 700, "font": "F1", "size": 12,
//     "Tr": 0, "ca": 1, "object": 5, "generation": 0, "range": [118, 7]}, ...]}
// "x" and "y" are the run's location (the text rendering matrix's origin, in page space with
// the crop box's lower-left corner at 0, 0), to four decimals. "text" is null when the run's
// font was not found, "" for a TJ of numbers only. "font" is the font's resource name and
// "size" the Tf size. "object" and "generation" name the stream whose decoded data "range"
// ([location, length]) points into: the page's content stream, a form XObject, or "joined"
// (generation 0) for the join of a page of several content streams, whose parts are each
// followed by a line end. The range covers the show's string operand (for TJ the array).
#include "KVProbeRuns.h"

#include "KVProbeJson.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFTextBlob.h"

#include <QJsonArray>

#include <cmath>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe runs FILE --page N [--password P]\n");
    return 2;
}

double rounded(double value) { return std::round(value * 1e4) / 1e4; }

} // namespace

QJsonObject kvprobeRunsJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    QString password;
    qlonglong pageNumber = 0;
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString &option = options[i];
        if (i + 1 >= options.size()) {
            *exitCode = usage();
            return {};
        }
        const QString value = options[++i];
        if (option == QLatin1String("--password")) {
            password = value;
        } else if (option == QLatin1String("--page")) {
            bool ok = false;
            pageNumber = value.toLongLong(&ok);
            if (!ok || pageNumber < 1) {
                *exitCode = usage();
                return {};
            }
        } else {
            *exitCode = usage();
            return {};
        }
    }
    if (pageNumber < 1) {
        *exitCode = usage();
        return {};
    }
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, password, exitCode);
    if (!document)
        return {};
    if (qulonglong(pageNumber) > document->pageCount()) {
        std::fprintf(stderr, "kvprobe: %s has %zu pages\n", qPrintable(path), document->pageCount());
        *exitCode = 2;
        return {};
    }
    const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(size_t(pageNumber - 1));
    page->parseContent();

    QJsonArray runs;
    for (const std::shared_ptr<KVPDFTextBlob> &run : page->textBlobs()) {
        QJsonObject entry;
        entry[QStringLiteral("text")] = run->string.isNull() ? QJsonValue() : QJsonValue(run->string);
        entry[QStringLiteral("x")] = rounded(run->location.x());
        entry[QStringLiteral("y")] = rounded(run->location.y());
        entry[QStringLiteral("font")] = run->Tfont.isEmpty() ? QJsonValue() : QJsonValue(QString::fromLatin1(run->Tfont));
        entry[QStringLiteral("size")] = rounded(run->TfontSize);
        entry[QStringLiteral("Tr")] = run->Tmode;
        entry[QStringLiteral("ca")] = rounded(run->ca);
        const std::shared_ptr<KVPDFObjectStream> &stream = run->contentObject;
        if (stream && stream != page->potentialNewStream()) {
            entry[QStringLiteral("object")] = qint64(stream->objectNumber());
            entry[QStringLiteral("generation")] = qint64(stream->generation());
        } else {
            entry[QStringLiteral("object")] = QStringLiteral("joined");
            entry[QStringLiteral("generation")] = 0;
        }
        entry[QStringLiteral("range")] = QJsonArray{qint64(run->dataRange.location), qint64(run->dataRange.length)};
        runs.append(entry);
    }
    QJsonObject out;
    out[QStringLiteral("page")] = pageNumber;
    out[QStringLiteral("runs")] = runs;
    return out;
}

int kvprobeRuns(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeRunsJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
