// Fuzz entry point for the CMap readers: the input is read both as a ToUnicode CMap and as an
// encoding CMap, and its own bytes are then split into codes and looked up through both. When
// the input is a PDF file, every ToUnicode stream, embedded encoding CMap and CIDSystemInfo of
// its fonts goes through the same readers, so the regression driver can run the corpus.
//
// The readers never throw; the document's accessors may raise the engine's own failure on a
// damaged object, which is caught per object.
#include "KVPDFCMap.h"
#include "KVPDFDocument.h"
#include "KVPDFEncodingCMap.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Enough codes to reach every branch; a long input must not make one run slow.
constexpr qsizetype kMaxLookupBytes = 4096;
constexpr size_t kMaxObjects = 20000;

void lookUp(const KVPDFCMap &unicode, const KVPDFEncodingCMap &encoding, QByteArrayView bytes)
{
    bytes = bytes.first(std::min(bytes.size(), kMaxLookupBytes));
    QString text;
    qsizetype position = 0;
    while (position < bytes.size()) {
        int length = 0;
        const qsizetype before = position;
        const uint32_t code = encoding.nextCode(bytes, position, &length);
        if (position <= before || length < 1 || length > 4 || position - before != length) {
            // A splitter that stands still would hang every caller.
            std::fprintf(stderr, "nextCode moved from %lld to %lld with length %d\n", qlonglong(before), qlonglong(position), length);
            std::abort();
        }
        encoding.inCodeSpace(code, length);
        unicode.appendText(encoding.cidForCode(code), text);
        unicode.appendText(code, text);
        unicode.maps(code);
    }
    unicode.stringDataForGlyph(0);
    unicode.stringDataForGlyph(0xFFFFFFFF);
}

void lookUp(const KVPDFCMap &unicode, QByteArrayView bytes)
{
    static const std::shared_ptr<KVPDFEncodingCMap> identity = KVPDFEncodingCMap::identity(false);
    lookUp(unicode, *identity, bytes);
}

// The font dictionaries of a PDF: whatever object carries the keys a font's CMaps hang from.
void readFontCMaps(KVPDFDocument &document)
{
    std::vector<uint64_t> numbers;
    for (const auto &entry : document.objects())
        numbers.push_back(entry.first);
    std::sort(numbers.begin(), numbers.end());
    if (numbers.size() > kMaxObjects)
        numbers.resize(kMaxObjects);
    for (uint64_t number : numbers) {
        try {
            KVPDFObjectPtr object = document.resolveObject(number, 0);
            auto dictionary = kv_cast<KVPDFObjectDictionary>(object);
            if (auto stream = kv_cast<KVPDFObjectStream>(object))
                dictionary = stream->dictionary();
            if (!dictionary)
                continue;
            if (auto toUnicode = kv_cast<KVPDFObjectStream>(dictionary->resolvedObjectForKey("ToUnicode"))) {
                std::shared_ptr<KVPDFCMap> unicode = KVPDFCMap::cmapWithStream(toUnicode);
                lookUp(*unicode, toUnicode->decodedData());
            }
            if (auto embedded = kv_cast<KVPDFObjectStream>(dictionary->resolvedObjectForKey("Encoding"))) {
                if (std::shared_ptr<KVPDFEncodingCMap> encoding = KVPDFEncodingCMap::cmapWithStream(embedded))
                    lookUp(KVPDFCMap(), *encoding, embedded->decodedData());
            }
            if (auto info = kv_cast<KVPDFObjectDictionary>(dictionary->resolvedObjectForKey("CIDSystemInfo")))
                KVPDFCMap::cmapWithCIDSystemInfo(info);
        } catch (const FolivoException &) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Engine messages go to a capture that is dropped with the input.
    KVPDFLogCapture quiet;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    KVPDFCMap unicode;
    unicode.processCMapString(bytes);
    std::shared_ptr<KVPDFEncodingCMap> encoding = KVPDFEncodingCMap::cmapWithText(bytes);
    if (encoding)
        lookUp(unicode, *encoding, bytes);
    else
        lookUp(unicode, bytes);

    if (bytes.left(1024).contains("%PDF-")) {
        KVPDFOpenResult result = KVPDFOpenBroken;
        std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(bytes, &result, {}, KVPDFOpenMode::AsStored);
        if (document) {
            if (result == KVPDFOpenNeedsPassword)
                document->validatePassword(QString());
            readFontCMaps(*document);
        }
    }
    return 0;
}
