// kvprobe ocr-text FILE [--page N] [--password P]
//   {"pages": [{"page": 1, "ocrText": true}, ...], "ocrText": true}: whether each page (or page
//   N) shows invisible text, and whether any does.
// kvprobe remove-ocr-text IN OUT [--page N] [--password P]
//   Removes the invisible text of every page (or page N) and writes the full rewrite to OUT:
//   {"written": OUT, "changed": [page numbers changed]}.
// kvprobe blank-image IN OUT --page N [--index I] [--restore yes] [--password P]
//   Blanks out image I (from 0, in content order; default 0) of page N and writes OUT; with
//   --restore yes restores it again before writing. {"written": OUT, "object": "12 0 R",
//   "blankedOut": true}.
// kvprobe image-pdf IN OUT --page N [--index I] [--password P]
//   Writes the one-page PDF that shows image I of page N alone to OUT: {"written": OUT,
//   "box": [x, y, width, height]}.
//
// Exits as the other subcommands: 0 done, 1 unreadable file, 2 bad usage or no such page or
// image, 4 a file that does not open with result 0, 5 when OUT could not be written.
#include "KVProbeImageOps.h"

#include "KVProbeJson.h"
#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace {

int usage(const char *text)
{
    std::fprintf(stderr, "usage: kvprobe %s\n", text);
    return 2;
}

// The pages an option names: page N alone, or all.
std::pair<size_t, size_t> pageSpan(KVPDFDocument &document, qlonglong page)
{
    if (page > 0)
        return {size_t(page - 1), size_t(page)};
    return {0, document.pageCount()};
}

bool save(KVPDFDocument &document, const QString &out)
{
    if (document.writeUpdatedDocument(out, {{QStringLiteral("compression"), 0}}))
        return true;
    std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
    return false;
}

struct ImageChoice {
    std::shared_ptr<KVPDFDocument> document;
    std::shared_ptr<KVPDFPage> page;
    std::shared_ptr<KVPDFImage> image;
    QString out;
    QJsonObject options;
};

// Opens IN and finds image --index of page --page; 0 or the exit code.
int chooseImage(const QStringList &arguments, const char *text, ImageChoice &choice, const QStringList &known)
{
    if (arguments.size() < 2)
        return usage(text);
    const std::optional<KVProbeOptions> read = kvProbeOptions(arguments.mid(2), QStringList{QStringLiteral("--index")} + known);
    if (!read || read->page <= 0)
        return usage(text);
    bool ok = true;
    const qlonglong index = read->values.value(QStringLiteral("--index"), QStringLiteral("0")).toLongLong(&ok);
    if (!ok || index < 0)
        return usage(text);
    int status = 0;
    choice.document = kvProbeOpen(arguments[0], read->password, &status, false);
    if (!choice.document)
        return status;
    choice.page = kvProbePage(*choice.document, arguments[0], read->page);
    if (!choice.page)
        return 2;
    choice.page->parseContent();
    const auto &images = choice.page->images();
    if (size_t(index) >= images.size() || !images[size_t(index)]) {
        std::fprintf(stderr, "kvprobe: page %lld has no image %lld\n", read->page, index);
        return 2;
    }
    choice.image = images[size_t(index)];
    choice.out = arguments[1];
    for (auto it = read->values.begin(); it != read->values.end(); ++it)
        choice.options[it.key()] = it.value();
    return 0;
}

} // namespace

int kvprobeOCRText(const QString &path, const QStringList &options)
{
    const std::optional<KVProbeOptions> read = kvProbeOptions(options, {});
    if (!read)
        return usage("ocr-text FILE [--page N] [--password P]");
    int status = 0;
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, read->password, &status);
    if (!document)
        return status;
    if (read->page > 0 && !kvProbePage(*document, path, read->page))
        return 2;
    QJsonArray pages;
    bool any = false;
    const auto [first, end] = pageSpan(*document, read->page);
    for (size_t index = first; index < end; ++index) {
        const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(index);
        const bool found = page && page->containsOCRText();
        any = any || found;
        pages.append(QJsonObject{{QStringLiteral("page"), qint64(index + 1)}, {QStringLiteral("ocrText"), found}});
    }
    kvProbePrint(QJsonObject{{QStringLiteral("pages"), pages}, {QStringLiteral("ocrText"), any}});
    return 0;
}

int kvprobeRemoveOCRText(const QStringList &arguments)
{
    const char *text = "remove-ocr-text IN OUT [--page N] [--password P]";
    if (arguments.size() < 2)
        return usage(text);
    const std::optional<KVProbeOptions> read = kvProbeOptions(arguments.mid(2), {});
    if (!read)
        return usage(text);
    int status = 0;
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(arguments[0], read->password, &status, false);
    if (!document)
        return status;
    if (read->page > 0 && !kvProbePage(*document, arguments[0], read->page))
        return 2;
    QJsonArray changed;
    const auto [first, end] = pageSpan(*document, read->page);
    for (size_t index = first; index < end; ++index) {
        const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(index);
        if (page && page->removeOCRText())
            changed.append(qint64(index + 1));
    }
    if (!save(*document, arguments[1]))
        return 5;
    kvProbePrint(QJsonObject{{QStringLiteral("written"), arguments[1]}, {QStringLiteral("changed"), changed}});
    return 0;
}

int kvprobeBlankImage(const QStringList &arguments)
{
    ImageChoice choice;
    if (int status = chooseImage(arguments, "blank-image IN OUT --page N [--index I] [--restore yes] [--password P]", choice,
                                 {QStringLiteral("--restore")}))
        return status;
    if (!choice.image->blankOutImage(*choice.document)) {
        std::fprintf(stderr, "kvprobe: the image could not be blanked out\n");
        return 5;
    }
    if (choice.options.value(QStringLiteral("--restore")).toString() == QLatin1String("yes")
        && !choice.image->restoreImage(*choice.document)) {
        std::fprintf(stderr, "kvprobe: the image could not be restored\n");
        return 5;
    }
    if (!save(*choice.document, choice.out))
        return 5;
    const auto &stream = choice.image->xObject();
    kvProbePrint(QJsonObject{{QStringLiteral("written"), choice.out},
                             {QStringLiteral("object"), QStringLiteral("%1 %2 R").arg(stream->objectNumber()).arg(stream->generation())},
                             {QStringLiteral("blankedOut"), choice.image->hasBeenBlankedOut()}});
    return 0;
}

int kvprobeImagePDF(const QStringList &arguments)
{
    ImageChoice choice;
    if (int status = chooseImage(arguments, "image-pdf IN OUT --page N [--index I] [--password P]", choice, {}))
        return status;
    const QByteArray data = choice.image->pdfData();
    QFile file(choice.out);
    if (data.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(choice.out));
        return 5;
    }
    const KVPDFImage &image = *choice.image;
    kvProbePrint(QJsonObject{{QStringLiteral("written"), choice.out},
                             {QStringLiteral("box"), QJsonArray{kvProbeRounded(image.x()), kvProbeRounded(image.y()),
                                                                kvProbeRounded(image.width()), kvProbeRounded(image.height())}}});
    return 0;
}
