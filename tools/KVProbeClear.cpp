// kvprobe clear FILE --page N --line K -o OUT [--password P]
//
// Takes line K (from 0, in the order of the selection-prepared page's lines, as `kvprobe text
// --selection` lists them) out of page N (from 1): the line's edit records (each run's show
// operation blanked, the last one advancing by the line's width) are applied to the content
// streams, and the document is saved to OUT. Prints
//   {"page": N, "line": K, "text": "the line's text\n", "written": OUT,
//    "edits": [{"object": 5, "range": [118, 12], "replacement": "[-2500]TJ"}, ...]}
// "object" is the edited stream's object number ("joined" for the join of a page of several
// content streams, which becomes the page's content); "replacement" is null for a blanked range.
#include "KVProbeClear.h"

#include "KVProbeJson.h"
#include "KVPDFBaseline.h"
#include "KVPDFDocument.h"
#include "KVPDFFilters.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "support/ImagerServices.h"

#include <QJsonArray>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe clear FILE --page N --line K -o OUT [--password P]\n");
    return 2;
}

} // namespace

bool kvprobeApplyEdits(KVPDFPage &page, const std::vector<KVPDFEditRecord> &edits)
{
    std::map<std::shared_ptr<KVPDFObjectStream>, std::vector<const KVPDFEditRecord *>> byStream;
    for (const KVPDFEditRecord &edit : edits)
        if (edit.contentObject)
            byStream[edit.contentObject].push_back(&edit);

    // Everything is checked before anything changes.
    std::map<std::shared_ptr<KVPDFObjectStream>, QByteArray> edited;
    for (auto &[stream, list] : byStream) {
        QByteArray data = stream->decodedData();
        // From the back, so the ranges still to apply keep their offsets.
        std::sort(list.begin(), list.end(), [](const KVPDFEditRecord *a, const KVPDFEditRecord *b) {
            return a->range.location > b->range.location;
        });
        uint64_t limit = uint64_t(data.size());
        for (const KVPDFEditRecord *edit : list) {
            const KVPDFRange range = edit->range;
            if (range.location > limit || range.length > limit - range.location)
                return false;
            // A space, not nothing, so the tokens on either side never fuse.
            data.replace(qsizetype(range.location), qsizetype(range.length), edit->replacement.value_or(QByteArrayLiteral(" ")));
            limit = range.location;
        }
        edited[stream] = data;
    }
    for (const auto &[stream, data] : edited) {
        if (stream == page.potentialNewStream())
            page.useNewStream();
        const KVPDFFilterResult deflated = KVPDFDeflate(data);
        if (!deflated.complete)
            return false;
        stream->updateRawData(deflated.data);
        if (const std::shared_ptr<KVPDFObjectDictionary> &dictionary = stream->dictionary()) {
            dictionary->setObject("Filter", KVPDFObjectName::nameWithBytes("FlateDecode"));
            dictionary->removeObjectForKey("DecodeParms");
            dictionary->removeObjectForKey("DP");
        }
    }
    return true;
}

QJsonObject kvprobeClearJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    const std::optional<KVProbeOptions> read = kvProbeOptions(options, {QStringLiteral("--line"), QStringLiteral("-o")});
    bool lineOk = false;
    const qlonglong lineIndex = read ? read->values.value(QStringLiteral("--line")).toLongLong(&lineOk) : 0;
    const QString out = read ? read->values.value(QStringLiteral("-o")) : QString();
    if (!read || read->page < 1 || !lineOk || lineIndex < 0 || out.isEmpty()) {
        *exitCode = usage();
        return {};
    }
    // As the program opens it: an encrypted file becomes a plain working copy.
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, read->password, exitCode, false);
    if (!document)
        return {};
    const std::shared_ptr<KVPDFPage> page = kvProbePage(*document, path, read->page);
    if (!page) {
        *exitCode = 2;
        return {};
    }
    KVPDFServices::Installer services(imagerServices());
    page->prepareForSelection();
    const std::vector<std::shared_ptr<KVPDFBaseline>> lines = page->baselines();
    if (lineIndex >= qlonglong(lines.size())) {
        std::fprintf(stderr, "kvprobe: page %lld of %s has %zu lines\n", read->page, qPrintable(path), lines.size());
        *exitCode = 2;
        return {};
    }
    const KVPDFBaseline &line = *lines[size_t(lineIndex)];
    const std::vector<KVPDFEditRecord> edits = line.contentForClearing();

    QJsonArray editsJson;
    for (const KVPDFEditRecord &edit : edits) {
        QJsonObject entry;
        if (edit.contentObject && edit.contentObject != page->potentialNewStream())
            entry[QStringLiteral("object")] = qint64(edit.contentObject->objectNumber());
        else
            entry[QStringLiteral("object")] = QStringLiteral("joined");
        entry[QStringLiteral("range")] = QJsonArray{qint64(edit.range.location), qint64(edit.range.length)};
        entry[QStringLiteral("replacement")] = edit.replacement ? QJsonValue(QString::fromLatin1(*edit.replacement)) : QJsonValue();
        editsJson.append(entry);
    }
    const KVPDFRange range = line.rangeInPageString();
    const QString text = page->pageString().mid(qsizetype(range.location), qsizetype(range.length));

    if (!kvprobeApplyEdits(*page, edits)) {
        std::fprintf(stderr, "kvprobe: the edits of line %lld do not apply to their streams\n", lineIndex);
        *exitCode = 5;
        return {};
    }
    if (!document->writeUpdatedDocument(out, {{QStringLiteral("compression"), 0}})) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
        *exitCode = 5;
        return {};
    }
    QJsonObject result;
    result[QStringLiteral("page")] = read->page;
    result[QStringLiteral("line")] = lineIndex;
    result[QStringLiteral("text")] = text;
    result[QStringLiteral("edits")] = editsJson;
    result[QStringLiteral("written")] = out;
    return result;
}

int kvprobeClear(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeClearJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
