// Fuzz entry point for the whole open road and the writers: the input is a file.
//
// The input is opened for editing (the program's way: decryption into a plain copy, stored
// imprints read back) and, when small, as stored. Pages are walked (boxes, content, imprints
// and annotations), each page's joined content is interpreted with the graphics state kept and
// text runs built, then the document is saved both ways. A save that succeeds must give a file
// that opens with result 0 and the same number of pages: a save the engine cannot read back
// again is data loss, so the harness aborts on it.
//
// Opening and saving never throw (they answer results and log), so nothing is caught around
// them; the page accessors may raise the engine's own failure on a damaged object.
#include "KVPDFAnnotation.h"
#include "KVPDFContentInterpreter.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextRunBuilder.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr size_t kMaxPages = 32;
constexpr qsizetype kMaxAsStoredInput = 64 * 1024;
// Forms that fan out may multiply a small input into much work: less form data per page here
// than a real page may draw.
constexpr uint64_t kMaxFormBytes = 4 << 20;

void interpretContent(KVPDFDocument &document, KVPDFPage &page)
{
    const std::vector<std::shared_ptr<KVPDFObjectStream>> streams = page.contentStreams();
    const QByteArray content = KVPDFPage::joinedContent(streams, QStringLiteral("fuzz"));
    std::shared_ptr<KVPDFObjectDictionary> resources;
    if (const auto &dictionary = page.pageDictionary())
        if (KVPDFObjectPtr value = dictionary->objectFromAncestorsForKey("Resources"))
            resources = kv_cast<KVPDFObjectDictionary>(value->resolvedObject());
    KVPDFGraphicsStateKeeper keeper;
    // Runs with rewrites, so fonts, decoding and the rewrite writer all see the input.
    std::vector<std::shared_ptr<KVPDFTextBlob>> runs;
    KVPDFTextRewrites rewrites;
    KVPDFTextRunBuilder builder(page, streams.empty() ? nullptr : streams.front(), runs, &rewrites);
    builder.attach(keeper);
    KVPDFContentInterpreter::Limits limits;
    limits.maxFormBytes = kMaxFormBytes;
    KVPDFContentInterpreter(keeper, &document, limits).interpret(content, resources);
}

void walkPages(KVPDFDocument &document)
{
    const size_t count = std::min(document.pageCount(), kMaxPages);
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<KVPDFPage> page = document.pageAtIndex(i);
        if (!page)
            continue;
        try {
            page->mediaBox();
            page->cropBox();
            page->rotate();
            interpretContent(document, *page);
        } catch (const FolivoException &) {
        }
        page->imprints();
        page->annotationImprints();
    }
}

void abortWith(const char *what, int result, size_t before, size_t after)
{
    std::fprintf(stderr, "%s: reopen result %d, pages %zu before and %zu after\n", what, result, before, after);
    std::abort();
}

// A save that claims success must read back with every page.
void saveAndReopen(KVPDFDocument &document, bool withImprints)
{
    const QByteArray saved = document.currentDataWithImprints(withImprints);
    if (saved.isEmpty())
        return;
    KVPDFOpenResult result = KVPDFOpenBroken;
    std::shared_ptr<KVPDFDocument> reopened = KVPDFDocument::documentWithData(saved, &result);
    const size_t after = reopened ? reopened->pageCount() : 0;
    if (result != KVPDFOpenOK || after != document.pageCount())
        abortWith(withImprints ? "full rewrite" : "working copy", result, document.pageCount(), after);
}

void fuzzOpen(const QByteArray &bytes, KVPDFOpenMode mode)
{
    KVPDFOpenResult result = KVPDFOpenBroken;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(bytes, &result, {}, mode);
    if (!document)
        return;
    if (result == KVPDFOpenNeedsPassword)
        document->validatePassword(QString());
    walkPages(*document);
    if (result != KVPDFOpenOK || mode != KVPDFOpenMode::Editing)
        return;
    saveAndReopen(*document, true);
    saveAndReopen(*document, false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Engine messages go to a capture that is dropped with the input: a damaged input can log
    // once per byte.
    KVPDFLogCapture quiet;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fuzzOpen(bytes, KVPDFOpenMode::Editing);
    if (bytes.size() <= kMaxAsStoredInput)
        fuzzOpen(bytes, KVPDFOpenMode::AsStored);
    return 0;
}
