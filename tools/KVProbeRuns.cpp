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

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe runs FILE --page N [--password P]\n");
    return 2;
}

} // namespace

QJsonObject kvprobeRunsJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    const std::optional<KVProbeOptions> read = kvProbeOptions(options, {});
    if (!read || read->page < 1) {
        *exitCode = usage();
        return {};
    }
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, read->password, exitCode);
    if (!document)
        return {};
    const std::shared_ptr<KVPDFPage> page = kvProbePage(*document, path, read->page);
    if (!page) {
        *exitCode = 2;
        return {};
    }
    page->parseContent();

    QJsonArray runs;
    for (const std::shared_ptr<KVPDFTextBlob> &run : page->textBlobs()) {
        QJsonObject entry;
        entry[QStringLiteral("text")] = run->string.isNull() ? QJsonValue() : QJsonValue(run->string);
        entry[QStringLiteral("x")] = kvProbeRounded(run->location.x());
        entry[QStringLiteral("y")] = kvProbeRounded(run->location.y());
        entry[QStringLiteral("font")] = run->Tfont.isEmpty() ? QJsonValue() : QJsonValue(QString::fromLatin1(run->Tfont));
        entry[QStringLiteral("size")] = kvProbeRounded(run->TfontSize);
        entry[QStringLiteral("Tr")] = run->Tmode;
        entry[QStringLiteral("ca")] = kvProbeRounded(run->ca);
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
    out[QStringLiteral("page")] = read->page;
    out[QStringLiteral("runs")] = runs;
    return out;
}

int kvprobeRuns(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeRunsJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
