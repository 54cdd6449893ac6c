// Fuzz entry point for the object parser and the stream filters.
//
// Each input is used twice. As a document: the whole input becomes the file bytes, every
// "N G obj" found in it enters the object table, and the objects are parsed and forced (lazy
// containers, references, strings, stream data, object streams), together with one object at an
// offset chosen by the first bytes. As filter input: the bytes after the first three go through
// every decoder. The first three bytes also choose the parse flags and the predictor.
//
// FolivoException is the failure the engine is allowed to raise; anything else escapes and
// aborts. The work per input is capped (objects, graph nodes, decoded sizes) so that a slow
// input points at a real fault, not at the harness.
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFilters.h"
#include "KVPDFLog.h"
#include "KVPDFObject.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFParser.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <unordered_set>
#include <vector>

namespace {

constexpr qsizetype kMaxFilterOutput = qsizetype(1) << 20;
constexpr size_t kMaxTableObjects = 256;
constexpr int kMaxForcedNodes = 20000;
constexpr int kMaxDecodedStreams = 64;

struct Budget {
    int nodes = kMaxForcedNodes;
    int streams = kMaxDecodedStreams;
};

// Visits the graph below `root` once per node, forcing every lazy part on the way. References
// are followed, so the walk reaches what the document table reaches.
void force(const KVPDFObjectPtr &root, Budget &budget, std::unordered_set<const KVPDFObject *> &seen)
{
    std::vector<KVPDFObjectPtr> pending{root};
    while (!pending.empty() && budget.nodes > 0) {
        KVPDFObjectPtr object = std::move(pending.back());
        pending.pop_back();
        if (!object || !seen.insert(object.get()).second)
            continue;
        --budget.nodes;
        try {
            switch (object->objectType()) {
            case KVPDFObject::TypeUnknown:
            case KVPDFObject::TypeReference: pending.push_back(object->resolvedObject()); break;
            case KVPDFObject::TypeArray:
                if (auto array = kv_cast<KVPDFObjectArray>(object))
                    for (const auto &element : array->value())
                        pending.push_back(element);
                break;
            case KVPDFObject::TypeDictionary:
                if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object)) {
                    dictionary->resolvedObject();
                    dictionary->objectFromAncestorsForKey("Resources");
                    for (const auto &entry : dictionary->value())
                        pending.push_back(entry.second);
                }
                break;
            case KVPDFObject::TypeStream:
                if (auto stream = kv_cast<KVPDFObjectStream>(object)) {
                    pending.push_back(stream->dictionary());
                    if (budget.streams > 0) {
                        --budget.streams;
                        stream->rawData();
                        stream->decodedData();
                        // As the cross-reference reader does: members fill only numbers that
                        // hold nothing parsed yet.
                        KVPDFObjectContext *document = stream->context();
                        stream->handleCompressedObjects([document](uint64_t number) {
                            KVPDFObjectPtr entry = document ? document->objectWithNumber(number) : nullptr;
                            return !entry || entry->objectType() == KVPDFObject::TypeUnknown;
                        });
                    }
                }
                break;
            case KVPDFObject::TypeString:
                if (auto string = kv_cast<KVPDFObjectString>(object)) {
                    string->stringValue();
                    string->directObject();
                }
                break;
            case KVPDFObject::TypeName:
                if (auto name = kv_cast<KVPDFObjectName>(object)) {
                    name->stringValue();
                    name->directObject();
                }
                break;
            default: object->directObject(); break;
            }
        } catch (const FolivoException &) {
        }
    }
}

// Every writing, copying and walking operation of the common interface, on one parsed object.
void exercise(const KVPDFObjectPtr &object, Budget &budget)
{
    if (!object)
        return;
    std::unordered_set<const KVPDFObject *> seen;
    force(object, budget, seen);
    try {
        object->directObject();
        object->description();
        if (KVPDFObjectPtr copy = object->copy())
            copy->directObject();
        KVPDFVisitedSet visited;
        object->subobjects(visited);
    } catch (const FolivoException &) {
    }
}

// Reads the decimal digits that end just before `p` (white space before `p` skipped first).
bool numberBefore(const QByteArray &data, qsizetype &p, uint64_t &value)
{
    while (p > 0 && kvIsWhite(uint8_t(data[p - 1])))
        --p;
    qsizetype start = p;
    while (start > 0 && kvIsDigit(uint8_t(data[start - 1])) && p - start < 9)
        --start;
    if (start == p)
        return false;
    value = 0;
    for (qsizetype i = start; i < p; ++i)
        value = value * 10 + uint64_t(data[i] - '0');
    p = start;
    return true;
}

// The object table a cross-reference section would give: "N G obj" headers found by a scan.
// Some entries are placeholders, some lazy references with a position, as the table holds both.
std::vector<std::pair<uint64_t, uint64_t>> fillTable(KVPDFDocument &document, bool lazyReferences)
{
    std::vector<std::pair<uint64_t, uint64_t>> numbers;
    const QByteArray &data = document.docData();
    qsizetype at = 0;
    while (numbers.size() < kMaxTableObjects && (at = data.indexOf("obj", at)) >= 0) {
        const qsizetype valueOffset = at + 3;
        qsizetype p = at;
        at += 3;
        uint64_t number = 0, generation = 0;
        if (!numberBefore(data, p, generation) || !numberBefore(data, p, number) || number == 0)
            continue;
        KVPDFObjectPtr entry;
        if (lazyReferences && number % 2)
            entry = KVPDFObjectReference::referenceWithObjectNumber(number, generation, &document, uint64_t(valueOffset));
        else
            entry = KVPDFObject::placeholder(&document, number, generation, uint64_t(valueOffset));
        document.setObject(entry, number, generation);
        numbers.emplace_back(number, generation);
    }
    return numbers;
}

void fuzzDocument(const QByteArray &bytes, uint8_t control, uint16_t offsetSeed)
{
    const bool directOnly = control & 1;
    const bool contained = control & 2;
    const bool indexed = control & 4;
    const bool compressed = control & 8;
    const bool foreignData = control & 16;
    const bool lazyReferences = control & 32;

    KVPDFDocument document;
    document.setDocData(bytes);
    Budget budget;

    const auto numbers = fillTable(document, lazyReferences);

    // One object at a chosen offset, in the file bytes or in a copy that is not the file.
    const QByteArray data = foreignData ? QByteArray(bytes.constData(), bytes.size()) : document.docData();
    const uint64_t offset = offsetSeed % (uint64_t(bytes.size()) + 2);
    try {
        uint64_t end = 0;
        KVPDFObjectPtr object =
            KVPDFParser::objectAtOffset(&document, offset, data, directOnly, contained, indexed, compressed, &end);
        exercise(object, budget);
    } catch (const FolivoException &) {
    }

    // Without a document: free-standing data.
    try {
        KVPDFObjectPtr object =
            KVPDFParser::objectAtOffset(nullptr, offset, data, directOnly, contained, indexed, compressed, nullptr);
        exercise(object, budget);
    } catch (const FolivoException &) {
    }

    // The table, object by object, as the document would be read.
    for (const auto &[number, generation] : numbers) {
        try {
            exercise(document.resolveObject(number, generation), budget);
        } catch (const FolivoException &) {
        }
    }

    // What object streams added to the table. A snapshot: resolving changes the table.
    std::vector<KVPDFObjectPtr> entries;
    for (const auto &entry : document.objects())
        if (entries.size() < kMaxTableObjects)
            entries.push_back(entry.second);
    for (const KVPDFObjectPtr &entry : entries)
        exercise(entry, budget);
}

void fuzzFilters(const QByteArray &in, const uint8_t *control)
{
    KVPDFPredictorParams params;
    static const int predictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 3, 0, -1, 255};
    static const int depths[] = {1, 2, 4, 8, 16, 3, 0, 32};
    params.predictor = predictors[control[0] % 12];
    params.colors = control[1] % 36;
    params.bitsPerComponent = depths[(control[0] >> 4) % 8];
    params.columns = control[2] & 0x80 ? int(0x7FFFFFFF - control[2]) : int(control[2]) - 1;
    const int earlyChange = control[1] & 1;

    KVPDFInflate(in, kMaxFilterOutput);
    KVPDFStreamDecode85(in);
    KVPDFDecodeASCIIHex(in);
    KVPDFDecodeRunLength(in, kMaxFilterOutput);
    KVPDFDecodeLZW(in, earlyChange, kMaxFilterOutput);
    KVPDFApplyPredictor(in, params);
    for (const char *name :
         {"FlateDecode", "LZWDecode", "ASCII85Decode", "ASCIIHexDecode", "RunLengthDecode", "/Fl", "DCTDecode"})
        KVPDFApplyFilter(name, in, params, earlyChange, kMaxFilterOutput);

    // Compression must give back exactly what it was given.
    const KVPDFFilterResult compressed = KVPDFDeflate(in);
    if (!compressed.complete)
        std::abort();
    const KVPDFFilterResult restored = KVPDFInflate(compressed.data, in.size() + 1);
    if (restored.zlibStatus != Z_STREAM_END || restored.data != in)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // Engine messages go to a capture that is dropped with the input: a damaged input can log
    // once per byte.
    KVPDFLogCapture quiet;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    fuzzDocument(bytes, data[0], uint16_t(data[1] | data[2] << 8));
    fuzzFilters(bytes.mid(3), data);
    return 0;
}
