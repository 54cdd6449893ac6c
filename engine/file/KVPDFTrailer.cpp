#include "KVPDFTrailer.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectStreamCache.h"
#include "KVPDFParser.h"
#include "KVNumbers.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

enum class KVPDFTrailer::Claim : uint8_t { InUse, Free, Compressed };

namespace {
// Decimal digits at `p` as an unsigned value (saturating); `*stop` receives the position after
// them.
uint64_t readDecimal(const QByteArray &data, uint64_t p, uint64_t *stop)
{
    const uint64_t size = uint64_t(data.size());
    size_t consumed = 0;
    const uint64_t value = p < size ? kvParseUnsigned(data.constData() + p, data.constData() + size, &consumed).value_or(0) : 0;
    *stop = p + consumed;
    return value;
}

// The digits between `begin` and `end`, which the caller has checked are all digits.
uint64_t readDecimal(const char *begin, const char *end) { return kvParseUnsigned(begin, end).value_or(0); }

// Where the value of object `number` begins when its "N G obj" header stands at `offset`
// (after white space and comments); 0 when no header for that number stands there.
uint64_t valueAfterHeader(const QByteArray &data, uint64_t offset, uint64_t number)
{
    uint64_t found = 0;
    const uint64_t end = kvObjectHeaderEnd(data, kvSkipWhiteAndComments(data, offset), &found);
    return end && found == number ? kvSkipWhite(data, end) : 0;
}
}

// What the sections of one chain share: which section claimed each object number, which
// object streams were expanded, and the walk over the file's object headers (made once, on
// first need).
struct KVPDFTrailer::Chain {
    struct Entry {
        unsigned rank; // lower is newer
        Claim kind;
        uint64_t stream; // the object stream of a compressed entry
    };
    struct Header {
        uint64_t number;
        uint64_t generation;
        uint64_t headerPosition;
        uint64_t valuePosition;
    };

    KVPDFObjectContext *context = nullptr;
    bool olderThanTable = false;
    std::unordered_map<uint64_t, Entry> claims;
    std::unordered_set<uint64_t> expanded;
    std::vector<Header> headers; // in file order
    std::unordered_map<uint64_t, size_t> lastHeader;
    bool walked = false;

    const std::vector<Header> &walk();
    const Header *lastDefinition(uint64_t number)
    {
        walk();
        auto it = lastHeader.find(number);
        return it == lastHeader.end() ? nullptr : &headers[it->second];
    }
    // The object text after header i, up to its "stream" keyword, the next header or `limit`
    // bytes, holds `needle`.
    bool objectTextContains(size_t i, QByteArrayView needle, uint64_t limit) const;
    // The value after header i, read from its own text alone (up to the next header). A value
    // that never closes ("<<" without ">>", and no "endobj") would otherwise read on through
    // every later object, once per candidate the walk looks at: quadratic on hostile files.
    // Stream data is still read from the whole file. Raises FolivoParseFailure.
    KVPDFObjectPtr readCandidate(size_t i) const;
    // A trailer Root must name a dictionary; the entry is parsed aside, not entered.
    bool holdsDictionary(uint64_t number) const;
};

const std::vector<KVPDFTrailer::Chain::Header> &KVPDFTrailer::Chain::walk()
{
    if (walked)
        return headers;
    walked = true;
    const QByteArray &data = context->docData();
    const char *begin = data.constData();
    const char *end = begin + data.size();
    auto white = [](const char *p) { return kvIsWhite(uint8_t(*p)); };
    for (const char *hit = strstrtoend(begin, "obj", end); hit; hit = strstrtoend(hit + 3, "obj", end)) {
        if (hit - begin >= 3 && std::memcmp(hit - 3, "end", 3) == 0)
            continue;
        if (hit + 3 < end && !kvIsWhite(uint8_t(hit[3])) && !kvIsDelimiter(uint8_t(hit[3])))
            continue;
        // Backwards: white space, the generation, white space, the number. The white-space runs
        // stop at the previous "obj" at the latest, so the walk stays linear.
        const char *p = hit;
        if (p == begin || !white(p - 1))
            continue;
        while (p > begin && white(p - 1))
            --p;
        const char *generationEnd = p;
        while (p > begin && kvIsDigit(uint8_t(p[-1])) && generationEnd - p < 10)
            --p;
        const char *generationBegin = p;
        if (p == generationEnd || p == begin || !white(p - 1))
            continue;
        while (p > begin && white(p - 1))
            --p;
        const char *numberEnd = p;
        while (p > begin && kvIsDigit(uint8_t(p[-1])) && numberEnd - p < 20)
            --p;
        if (p == numberEnd || (p > begin && !white(p - 1) && !kvIsDelimiter(uint8_t(p[-1]))))
            continue;
        const uint64_t number = readDecimal(p, numberEnd);
        // Object 0 is the head of the free list and never a real object.
        if (number == 0)
            continue;
        headers.push_back({number, readDecimal(generationBegin, generationEnd), uint64_t(p - begin),
                           kvSkipWhite(data, uint64_t(hit + 3 - begin))});
        lastHeader[number] = headers.size() - 1;
    }
    return headers;
}

bool KVPDFTrailer::Chain::objectTextContains(size_t i, QByteArrayView needle, uint64_t limit) const
{
    const QByteArray &data = context->docData();
    const char *bytes = data.constData();
    const uint64_t start = headers[i].valuePosition;
    uint64_t stop = i + 1 < headers.size() ? headers[i + 1].headerPosition : uint64_t(data.size());
    stop = std::min(stop, start + limit);
    if (stop <= start)
        return false;
    if (const char *keyword = strstrtoend(bytes + start, "stream", bytes + stop))
        stop = uint64_t(keyword - bytes);
    return strstrtoend(bytes + start, needle, bytes + stop) != nullptr;
}

KVPDFObjectPtr KVPDFTrailer::Chain::readCandidate(size_t i) const
{
    const QByteArray &data = context->docData();
    const uint64_t stop = i + 1 < headers.size() ? headers[i + 1].headerPosition : uint64_t(data.size());
    // A view at the same address still counts as the file's bytes (KVPDFDocument::isDocData).
    const QByteArray text = QByteArray::fromRawData(data.constData(), qsizetype(stop));
    return KVPDFParser::objectAtOffset(context, headers[i].valuePosition, text, false, false, false, false);
}

bool KVPDFTrailer::Chain::holdsDictionary(uint64_t number) const
{
    KVPDFObjectPtr entry = context->objectWithNumber(number);
    if (!entry)
        return false;
    if (entry->objectType() != KVPDFObject::TypeReference || entry->dataRange().location == 0)
        return entry->objectType() == KVPDFObject::TypeDictionary;
    try {
        KVPDFObjectPtr object =
            KVPDFParser::objectAtOffset(context, entry->dataRange().location, context->docData(), false, false, false, false);
        return object && object->objectType() == KVPDFObject::TypeDictionary;
    } catch (const FolivoParseFailure &) {
        return false;
    }
}

KVPDFTrailer::KVPDFTrailer(KVPDFObjectContext *context, std::shared_ptr<Chain> chain, size_t index, bool hasXref, bool isPrevious)
    : m_context(context), m_chain(std::move(chain)), m_index(index), m_hasXref(hasXref), m_isPrevious(isPrevious)
{
}

KVPDFTrailer::~KVPDFTrailer() { close(); }

KVPDFObjectPtr KVPDFTrailer::entryAlongChain(QByteArrayView key) const
{
    for (const KVPDFTrailer *section = this; section; section = section->m_prev.get())
        if (KVPDFObjectPtr value = section->m_trailerDictionary ? section->m_trailerDictionary->objectForKey(key) : nullptr)
            return value;
    return nullptr;
}

void KVPDFTrailer::close()
{
    std::unique_ptr<KVPDFTrailer> older = std::move(m_prev);
    while (older) {
        older->m_next = nullptr;
        std::unique_ptr<KVPDFTrailer> next = std::move(older->m_prev);
        older = std::move(next);
    }
}

std::unique_ptr<KVPDFTrailer> KVPDFTrailer::trailerWithOffset(uint64_t offset, KVPDFObjectContext *context, bool hasXref,
                                                              bool isPrevious)
{
    if (!context)
        return nullptr;
    auto chain = std::make_shared<Chain>();
    chain->context = context;
    chain->olderThanTable = isPrevious;
    std::unique_ptr<KVPDFTrailer> newest = section(offset, chain, 0, hasXref, isPrevious);
    if (!newest)
        return nullptr;

    // Built iteratively: a chain of any length costs no stack, and the offsets already read
    // (after white space, so "Prev 99" and "Prev 100" meet when byte 99 is a line end) stop
    // loops.
    const QByteArray &data = context->docData();
    std::unordered_set<uint64_t> visited{kvSkipWhite(data, offset)};
    KVPDFTrailer *current = newest.get();
    size_t count = 1;
    while (current->m_hasXref) {
        KVPDFObjectPtr prev;
        try {
            prev = current->m_trailerDictionary->objectForKey("Prev");
        } catch (const FolivoParseFailure &) {
        }
        if (!prev)
            break;
        const int64_t prevOffset = prev->objectType() == KVPDFObject::TypeInteger ? prev->longLongValue() : -1;
        const uint64_t position = prevOffset >= 0 ? kvSkipWhite(data, uint64_t(prevOffset)) : 0;
        std::unique_ptr<KVPDFTrailer> older;
        if (prevOffset >= 0 && visited.count(position)) {
            kvLog(QStringLiteral("Cross reference chain loops back to offset %1. Back off to walking objects.").arg(prevOffset));
            older = walkSection(uint64_t(prevOffset), chain, count, true);
        } else if (count >= kMaxSections) {
            kvLog(
                QStringLiteral("Cross reference chain longer than %1 sections. Back off to walking objects.").arg(kMaxSections));
            older = walkSection(uint64_t(std::max<int64_t>(prevOffset, 0)), chain, count, true);
        } else if (prevOffset <= 0 || position >= uint64_t(data.size())) {
            kvLog(
                QStringLiteral(
                    "Prev of the cross reference section at offset %1 is not an offset in the data. Back off to walking objects.")
                    .arg(current->m_offset));
            older = walkSection(uint64_t(std::max<int64_t>(prevOffset, 0)), chain, count, true);
        } else {
            visited.insert(position);
            older = section(uint64_t(prevOffset), chain, count, true, true);
            if (!older) {
                kvLog(QStringLiteral("Cross reference section at offset %1 could not be read. Back off to walking objects.")
                          .arg(prevOffset));
                older = walkSection(uint64_t(prevOffset), chain, count, true);
            }
        }
        older->m_next = current;
        current->m_prev = std::move(older);
        current = current->m_prev.get();
        ++count;
    }
    return newest;
}

std::unique_ptr<KVPDFTrailer> KVPDFTrailer::section(uint64_t offset, const std::shared_ptr<Chain> &chain, size_t index,
                                                    bool hasXref, bool isPrevious)
{
    if (!hasXref)
        return walkSection(offset, chain, index, isPrevious);
    const QByteArray &data = chain->context->docData();
    const uint64_t position = kvSkipWhite(data, offset);
    std::unique_ptr<KVPDFTrailer> trailer(new KVPDFTrailer(chain->context, chain, index, true, isPrevious));
    trailer->m_offset = offset;
    if (position < uint64_t(data.size()) && kvIsDigit(uint8_t(data[qsizetype(position)]))) {
        std::shared_ptr<KVPDFObjectStream> stream = trailer->xrefStreamAt(position);
        int widths[3];
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        uint64_t size = 0;
        if (!stream || !trailer->checkStream(stream, widths, ranges, size))
            return nullptr;
        if (stream->decodedData().isEmpty()) {
            kvLog(
                QStringLiteral("Cross reference stream at offset %1 holds no entries. Back off to walking objects.").arg(offset));
            return walkSection(offset, chain, index, isPrevious);
        }
        trailer->m_stream = stream;
        trailer->m_hasXRefStm = true;
        trailer->m_trailerDictionary = stream->dictionary();
        trailer->m_maxObjectNumber = size;
        return trailer;
    }
    if (kvHasKeyword(data, position, "xref")) {
        try {
            trailer->readClassicTable(position);
            return trailer;
        } catch (const FolivoParseFailure &) {
            kvLog(QStringLiteral("Encountered exception when processing cross reference table. Back off to walking objects."));
        }
    } else {
        kvLog(QStringLiteral("No cross reference section at offset %1. Back off to walking objects.").arg(offset));
    }
    return walkSection(offset, chain, index, isPrevious);
}

std::unique_ptr<KVPDFTrailer> KVPDFTrailer::walkSection(uint64_t offset, const std::shared_ptr<Chain> &chain, size_t index,
                                                        bool isPrevious)
{
    std::unique_ptr<KVPDFTrailer> trailer(new KVPDFTrailer(chain->context, chain, index, false, isPrevious));
    trailer->m_offset = offset;
    trailer->readWalkTrailer();
    if (!trailer->m_trailerDictionary)
        trailer->m_trailerDictionary = std::make_shared<KVPDFObjectDictionary>();
    trailer->m_trailerDictionary->removeObjectForKey("XRefStm");
    return trailer;
}

std::shared_ptr<KVPDFObjectStream> KVPDFTrailer::xrefStreamAt(uint64_t offset)
{
    const QByteArray &data = m_context->docData();
    const uint64_t size = uint64_t(data.size());
    uint64_t p = kvSkipWhite(data, offset);
    uint64_t stop = p;
    uint64_t number = 0, generation = 0;
    bool header = p < size && kvIsDigit(uint8_t(data[qsizetype(p)]));
    if (header) {
        number = readDecimal(data, p, &stop);
        p = kvSkipWhite(data, stop);
        header = p > stop && p < size && kvIsDigit(uint8_t(data[qsizetype(p)]));
    }
    if (header) {
        generation = readDecimal(data, p, &stop);
        p = kvSkipWhite(data, stop);
        header = p > stop && kvHasKeyword(data, p, "obj");
    }
    if (!header) {
        kvLog(QStringLiteral("Expected a cross reference stream object at offset %1").arg(offset));
        return nullptr;
    }
    p = kvSkipWhiteAndComments(data, p + 3);
    try {
        auto stream = kv_cast<KVPDFObjectStream>(KVPDFParser::objectAtOffset(m_context, p, data, false, false, false, false));
        if (!stream) {
            kvLog(QStringLiteral("Expected stream of type XRef"));
            return nullptr;
        }
        stream->setObjectNumber(number);
        stream->setGeneration(generation);
        return stream;
    } catch (const FolivoParseFailure &failure) {
        kvLog(QStringLiteral("Cross reference stream at offset %1 could not be parsed: %2")
                  .arg(offset)
                  .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
}

bool KVPDFTrailer::checkStream(const std::shared_ptr<KVPDFObjectStream> &stream, int widths[3],
                               std::vector<std::pair<uint64_t, uint64_t>> &index, uint64_t &size)
{
    try {
        const std::shared_ptr<KVPDFObjectDictionary> dictionary = stream ? stream->dictionary() : nullptr;
        if (!dictionary || dictionary->nameForKey("Type") != "XRef") {
            kvLog(QStringLiteral("Expected stream of type XRef"));
            return false;
        }
        const int64_t declared = dictionary->integerForKey("Size", 0);
        if (declared <= 0) {
            kvLog(QStringLiteral("Expected size of XRefStm to be greater than zero"));
            return false;
        }
        size = uint64_t(declared);
        auto w = kv_cast<KVPDFObjectArray>(dictionary->resolvedObjectForKey("W"));
        if (!w) {
            kvLog(QStringLiteral("Expected W array in XRefStm"));
            return false;
        }
        if (w->count() != 3) {
            kvLog(QStringLiteral("Expected W array length in XRefStm to be 3"));
            return false;
        }
        for (size_t i = 0; i < 3; ++i) {
            KVPDFObjectPtr width = w->resolvedObjectAtIndex(i);
            // Eight bytes hold any offset; wider fields are no file we can address.
            if (!width || width->objectType() != KVPDFObject::TypeInteger || width->longLongValue() < 0
                || width->longLongValue() > 8) {
                kvLog(QStringLiteral("Expected W array entries in XRefStm to be 0 to 8 bytes"));
                return false;
            }
            widths[i] = int(width->longLongValue());
        }
        index.clear();
        auto array = kv_cast<KVPDFObjectArray>(dictionary->resolvedObjectForKey("Index"));
        if (!array) {
            index.emplace_back(0, size);
            return true;
        }
        size_t count = array->count();
        if (count % 2) {
            kvLog(QStringLiteral("Expected XRefStm Index array length to be even"));
            --count;
        }
        for (size_t i = 0; i + 1 < count; i += 2) {
            KVPDFObjectPtr first = array->resolvedObjectAtIndex(i);
            KVPDFObjectPtr length = array->resolvedObjectAtIndex(i + 1);
            if (!first || !length || first->longLongValue() < 0 || length->longLongValue() < 0)
                continue;
            const auto start = uint64_t(first->longLongValue());
            index.emplace_back(start, std::min(uint64_t(length->longLongValue()), UINT64_MAX - start));
        }
        return true;
    } catch (const FolivoParseFailure &failure) {
        kvLog(QStringLiteral("Cross reference stream dictionary could not be read: %1")
                  .arg(QString::fromStdString(failure.reason())));
        return false;
    }
}

void KVPDFTrailer::readClassicTable(uint64_t position)
{
    const QByteArray &data = m_context->docData();
    const uint64_t size = uint64_t(data.size());
    const char *bytes = data.constData();
    uint64_t p = kvSkipWhite(data, position + 4);
    while (!kvHasKeyword(data, p, "trailer")) {
        if (p >= size || !kvIsDigit(uint8_t(bytes[p])))
            throw FolivoParseFailure("Cross reference subsection must start with its first object number");
        uint64_t stop = p;
        const uint64_t first = readDecimal(data, p, &stop);
        p = kvSkipWhite(data, stop);
        if (p == stop || p >= size || !kvIsDigit(uint8_t(bytes[p])))
            throw FolivoParseFailure("Cross reference subsection must give its row count");
        const uint64_t count = readDecimal(data, p, &stop);
        p = kvSkipWhite(data, stop);
        if (count > UINT64_MAX - first)
            throw FolivoParseFailure("Cross reference subsection runs past the largest object number");
        m_xrefRanges.push_back({first, count});
        m_rangeOffsets.push_back(p);
        // Every row is at least 18 bytes, so a count larger than the data ends here quickly.
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t offset = 0, generation = 0;
            char flag = 0;
            const int length = getOffset(offset, generation, flag, bytes + p, bytes + size);
            if (length == 0)
                throw FolivoParseFailure("Cross reference row is malformed");
            p += uint64_t(length);
        }
        p = kvSkipWhite(data, p);
    }
    const uint64_t start = kvSkipWhiteAndComments(data, p + 7);
    m_trailerDictionary =
        kv_cast<KVPDFObjectDictionary>(KVPDFParser::objectAtOffset(m_context, start, data, false, true, false, false));
    if (!m_trailerDictionary)
        throw FolivoParseFailure("Trailer must hold a dictionary");
    takeXRefStmOffset();
}

void KVPDFTrailer::takeXRefStmOffset()
{
    KVPDFObjectPtr value = m_trailerDictionary->objectForKey("XRefStm");
    if (!value)
        return;
    if (value->objectType() == KVPDFObject::TypeInteger && value->longLongValue() > 0
        && value->longLongValue() < int64_t(m_context->docData().size()))
        m_xrefStmOffset = uint64_t(value->longLongValue());
    else
        kvLog(QStringLiteral("Ignoring XRefStm that is not an offset in the data"));
    // Rewritten files carry one classic table; a stale XRefStm would point into nothing.
    m_trailerDictionary->removeObjectForKey("XRefStm");
}

void KVPDFTrailer::readWalkTrailer()
{
    const QByteArray &data = m_context->docData();
    const qsizetype keyword = data.lastIndexOf("trailer");
    // Files written with cross-reference streams keep Root, Info, ID and Encrypt in the
    // stream's dictionary. Whichever comes last in the file, that stream or the last "trailer"
    // keyword, belongs to the newest update.
    const auto &headers = m_chain->walk();
    for (size_t i = headers.size(); i-- > 0 && int64_t(headers[i].headerPosition) > int64_t(keyword);) {
        if (!m_chain->objectTextContains(i, "/XRef", 64 * 1024))
            continue;
        try {
            auto stream = kv_cast<KVPDFObjectStream>(m_chain->readCandidate(i));
            if (!stream || !stream->dictionary() || stream->dictionary()->nameForKey("Type") != "XRef")
                continue;
            m_trailerDictionary = kv_cast<KVPDFObjectDictionary>(stream->dictionary()->copy());
        } catch (const FolivoException &) {
            continue;
        }
        for (const char *key : {"Type", "Length", "Filter", "DecodeParms", "W", "Index", "Prev"})
            m_trailerDictionary->removeObjectForKey(key);
        kvLog(QStringLiteral("Took the trailer from the cross reference stream of object %1").arg(headers[i].number));
        return;
    }
    if (keyword < 0)
        return;
    try {
        const uint64_t start = kvSkipWhiteAndComments(data, uint64_t(keyword) + 7);
        m_trailerDictionary =
            kv_cast<KVPDFObjectDictionary>(KVPDFParser::objectAtOffset(m_context, start, data, false, true, false, false));
    } catch (const FolivoParseFailure &) {
    }
    if (!m_trailerDictionary)
        kvLog(QStringLiteral("No trailer dictionary after the last trailer keyword"));
}

bool KVPDFTrailer::setupObjects()
{
    if (m_setUp)
        return m_setupResult;
    m_setUp = true;
    if (!m_hasXref)
        m_setupResult = enterByWalking();
    else if (m_stream)
        m_setupResult = enterStreamEntries(m_stream, rank());
    else {
        m_setupResult = enterClassicRows();
        if (m_xrefStmOffset)
            readHybridStream();
    }
    if (m_repaired)
        kvLog(QStringLiteral("%1 cross reference entries of the section at offset %2 point at no header for their object; "
                             "took the definitions found by walking objects")
                  .arg(m_repaired)
                  .arg(m_offset));
    return m_setupResult;
}

bool KVPDFTrailer::setupAllObjects()
{
    for (KVPDFTrailer *section = this; section; section = section->prev())
        if (!section->setupObjects())
            return false;
    return true;
}

bool KVPDFTrailer::setupObjectsFromStream(const std::shared_ptr<KVPDFObjectStream> &stream)
{
    return enterStreamEntries(stream, rank());
}

bool KVPDFTrailer::enterClassicRows()
{
    const QByteArray &data = m_context->docData();
    const char *bytes = data.constData();
    const char *end = bytes + data.size();
    bool ok = true;
    for (size_t range = 0; range < m_xrefRanges.size(); ++range) {
        const uint64_t first = m_xrefRanges[range].location;
        uint64_t p = m_rangeOffsets[range];
        for (uint64_t i = 0; i < m_xrefRanges[range].length; ++i) {
            uint64_t offset = 0, generation = 0;
            char flag = 0;
            const int length = getOffset(offset, generation, flag, bytes + p, end);
            if (length == 0) {
                ok = false;
                break;
            }
            p += uint64_t(length);
            if (flag == 'f')
                enterFree(first + i, rank());
            else if (offset != 0)
                ok = enterInUse(first + i, generation, offset, rank()) && ok;
        }
    }
    return ok;
}

bool KVPDFTrailer::enterStreamEntries(const std::shared_ptr<KVPDFObjectStream> &stream, unsigned rank)
{
    int widths[3] = {0, 0, 0};
    std::vector<std::pair<uint64_t, uint64_t>> index;
    uint64_t size = 0;
    if (!checkStream(stream, widths, index, size))
        return false;
    if (rank == this->rank())
        m_maxObjectNumber = std::max(m_maxObjectNumber, size);
    const QByteArray entries = stream->decodedData();
    const auto *bytes = reinterpret_cast<const uint8_t *>(entries.constData());
    const uint64_t total = uint64_t(entries.size());
    const uint64_t entrySize = uint64_t(widths[0] + widths[1] + widths[2]);
    if (entrySize == 0)
        return true;
    bool ok = true;
    uint64_t p = 0;
    for (const auto &[first, count] : index) {
        for (uint64_t i = 0; i < count; ++i) {
            if (total - p < entrySize) {
                kvLog(QStringLiteral("Cross reference stream %1 ends before its entries do").arg(stream->objectNumber()));
                return ok;
            }
            // An absent type field means every entry is in use.
            const uint64_t type = widths[0] ? readBigBytes(widths[0], bytes + p) : 1;
            const uint64_t field2 = readBigBytes(widths[1], bytes + p + widths[0]);
            const uint64_t field3 = readBigBytes(widths[2], bytes + p + widths[0] + widths[1]);
            p += entrySize;
            const uint64_t number = first + i;
            if (type == 0) {
                enterFree(number, rank);
            } else if (type == 1) {
                if (field2 != 0)
                    ok = enterInUse(number, field3, field2, rank) && ok;
            } else if (type == 2) {
                m_maxObjectNumber = std::max(m_maxObjectNumber, number);
                enterCompressed(number, field2, rank);
            }
        }
    }
    return ok;
}

void KVPDFTrailer::readHybridStream()
{
    // The stream's entries rank just below this section's own rows: writers list in the
    // table what older readers must see and put only the rest in the stream.
    std::shared_ptr<KVPDFObjectStream> stream = xrefStreamAt(m_xrefStmOffset);
    if (stream && enterStreamEntries(stream, rank() + 1)) {
        m_hasXRefStm = true;
        return;
    }
    kvLog(QStringLiteral("Cross reference stream named by XRefStm at offset %1 could not be read fully").arg(m_xrefStmOffset));
}

bool KVPDFTrailer::enterByWalking()
{
    const auto &headers = m_chain->walk();
    for (const auto &header : headers) {
        m_maxObjectNumber = std::max(m_maxObjectNumber, header.number);
        // Same rank: a later definition in the file replaces an earlier one.
        if (!mayClaim(header.number, rank()))
            continue;
        claim(header.number, rank(), Claim::InUse, 0);
        m_context->setObject(
            KVPDFObjectReference::referenceWithObjectNumber(header.number, header.generation, m_context, header.valuePosition),
            header.number, header.generation);
    }
    // Objects inside object streams have no header of their own; their streams are expanded
    // with the others, filling only numbers nothing else defines.
    for (size_t i = 0; i < headers.size(); ++i) {
        const uint64_t number = headers[i].number;
        auto claimed = m_chain->claims.find(number);
        if (m_chain->lastHeader[number] != i || claimed == m_chain->claims.end() || claimed->second.rank != rank())
            continue;
        if (!m_chain->objectTextContains(i, "/ObjStm", 64 * 1024) || m_resolveLaterSet.count(number))
            continue;
        // Expanding resolves the object through the table, which reads a value that never
        // closes to the end of the file; look-alikes must not get that far.
        try {
            auto stream = kv_cast<KVPDFObjectStream>(m_chain->readCandidate(i));
            if (!stream || !stream->dictionary() || stream->dictionary()->nameForKey("Type") != "ObjStm")
                continue;
        } catch (const FolivoException &) {
            continue;
        }
        m_resolveLaterSet.insert(number);
        m_resolveLater.push_back(number);
    }
    ensureRoot();
    return true;
}

void KVPDFTrailer::ensureRoot()
{
    KVPDFObjectPtr root = m_trailerDictionary->objectForKey("Root");
    if (auto reference = kv_cast<KVPDFObjectReference>(root)) {
        auto claimed = m_chain->claims.find(reference->objectNumber());
        // A compressed catalogue can only be checked once its stream is expanded.
        if (claimed != m_chain->claims.end() && claimed->second.kind == Claim::Compressed)
            return;
        if (m_chain->holdsDictionary(reference->objectNumber()))
            return;
    } else if (root && root->objectType() == KVPDFObject::TypeDictionary) {
        return;
    }
    // A repaired file gets its catalogue from the last object that says it is one.
    const auto &headers = m_chain->walk();
    for (size_t i = headers.size(); i-- > 0;) {
        const auto &header = headers[i];
        auto claimed = m_chain->claims.find(header.number);
        if (m_chain->lastHeader[header.number] != i || claimed == m_chain->claims.end() || claimed->second.rank != rank())
            continue;
        if (!m_chain->objectTextContains(i, "/Catalog", 1024 * 1024))
            continue;
        try {
            auto dictionary = kv_cast<KVPDFObjectDictionary>(m_chain->readCandidate(i));
            if (!dictionary || dictionary->nameForKey("Type") != "Catalog")
                continue;
        } catch (const FolivoParseFailure &) {
            continue;
        }
        m_trailerDictionary->setObject(
            "Root", KVPDFObjectReference::referenceWithObjectNumber(header.number, header.generation, m_context));
        kvLog(QStringLiteral("Trailer has no usable Root; took catalogue object %1 found by walking objects").arg(header.number));
        return;
    }
}

bool KVPDFTrailer::mayClaim(uint64_t number, unsigned rank) const
{
    auto claimed = m_chain->claims.find(number);
    if (claimed != m_chain->claims.end())
        return claimed->second.rank >= rank;
    return !(m_chain->olderThanTable && m_context->objectWithNumber(number));
}

void KVPDFTrailer::claim(uint64_t number, unsigned rank, Claim kind, uint64_t stream)
{
    m_chain->claims[number] = {rank, kind, stream};
}

bool KVPDFTrailer::enterInUse(uint64_t number, uint64_t generation, uint64_t offset, unsigned rank)
{
    const QByteArray &data = m_context->docData();
    const bool beyond = offset >= uint64_t(data.size());
    if (beyond)
        kvLog(QStringLiteral("Cross reference entry for object %1 points beyond the data (offset %2)").arg(number).arg(offset));
    else
        m_maxObjectNumber = std::max(m_maxObjectNumber, number);
    // An entry a newer section overrides is never read, wherever it points.
    if (number == 0 || !mayClaim(number, rank))
        return true;
    uint64_t position = beyond ? 0 : valueAfterHeader(data, offset, number);
    if (!position) {
        const Chain::Header *header = m_chain->lastDefinition(number);
        // Past the end of the data the file was cut or the table is stale: with no definition
        // anywhere, the table cannot be trusted.
        if (!header && beyond)
            return false;
        if (!header) {
            kvLog(QStringLiteral("Object %1 listed at offset %2 is defined nowhere in the file; entry dropped")
                      .arg(number)
                      .arg(offset));
            return true;
        }
        ++m_repaired;
        position = header->valuePosition;
    }
    m_maxObjectNumber = std::max(m_maxObjectNumber, number);
    claim(number, rank, Claim::InUse, 0);
    m_context->setObject(KVPDFObjectReference::referenceWithObjectNumber(number, generation, m_context, position), number,
                         generation);
    return true;
}

void KVPDFTrailer::enterFree(uint64_t number, unsigned rank)
{
    if (number == 0 || !mayClaim(number, rank))
        return;
    claim(number, rank, Claim::Free, 0);
    // Generation 0: free rows carry the next generation to use (up to 65535), which says
    // nothing about any object in the table.
    m_context->setObject(KVPDFObjectNull::nullObject(), number, 0);
}

void KVPDFTrailer::enterCompressed(uint64_t number, uint64_t stream, unsigned rank)
{
    if (number == 0 || stream == 0 || number == stream || !mayClaim(number, rank))
        return;
    // An older section's entry set up before this one must not outlive the newer claim.
    auto claimed = m_chain->claims.find(number);
    if (claimed != m_chain->claims.end() && claimed->second.rank > rank)
        m_context->removeObject(number);
    claim(number, rank, Claim::Compressed, stream);
    if (m_resolveLaterSet.insert(stream).second)
        m_resolveLater.push_back(stream);
}

void KVPDFTrailer::handleDeferredResolves(KVPDFObjectStreamCache *cache)
{
    std::vector<uint64_t> pending;
    pending.swap(m_resolveLater);
    m_resolveLaterSet.clear();
    KVPDFObjectStreamCache own;
    KVPDFObjectStreamCache &streams = cache ? *cache : own;
    for (const uint64_t streamNumber : pending) {
        if (!m_chain->expanded.insert(streamNumber).second)
            continue;
        std::optional<std::vector<uint64_t>> members;
        try {
            members = streams.memberNumbers(*m_context, streamNumber);
        } catch (const FolivoParseFailure &failure) {
            kvLog(QStringLiteral("Object stream %1 could not be expanded: %2")
                      .arg(streamNumber)
                      .arg(QString::fromStdString(failure.reason())));
            continue;
        }
        if (!members) {
            kvLog(QStringLiteral("Object %1 is named as an object stream but is not a stream").arg(streamNumber));
            continue;
        }
        for (size_t index = 0; index < members->size(); ++index) {
            const uint64_t member = (*members)[index];
            auto claimed = m_chain->claims.find(member);
            const bool accepted = claimed != m_chain->claims.end()
                                      ? claimed->second.kind == Claim::Compressed && claimed->second.stream == streamNumber
                                      : !m_context->objectWithNumber(member);
            if (accepted)
                m_context->setObject(KVPDFObject::memberPlaceholder(m_context, member, streamNumber, index), member, 0);
        }
    }
}

void KVPDFTrailer::handleAllDeferredResolves(KVPDFObjectStreamCache *cache)
{
    KVPDFTrailer *oldest = this;
    while (oldest->prev())
        oldest = oldest->prev();
    for (KVPDFTrailer *section = oldest; section; section = section == this ? nullptr : section->next())
        section->handleDeferredResolves(cache);
}

int KVPDFTrailer::getOffset(uint64_t &offset, uint64_t &generation, char &flag, const char *row, const char *end)
{
    if (!row || !end || end - row < 18)
        return 0;
    const auto *r = reinterpret_cast<const uint8_t *>(row);
    auto digits = [r](int from, int to) {
        for (int i = from; i < to; ++i)
            if (!kvIsDigit(r[i]))
                return false;
        return true;
    };
    // Some writers mark unused rows with a negative offset.
    const bool negative = r[0] == '-';
    if (!(negative || digits(0, 10)) || !kvIsWhite(r[10]) || !digits(11, 16) || !kvIsWhite(r[16])
        || (r[17] != 'n' && r[17] != 'f'))
        return 0;
    offset = negative ? 0 : readDecimal(row, row + 10);
    generation = readDecimal(row + 11, row + 16);
    flag = char(r[17]);
    const ptrdiff_t available = end - row;
    // The line end is two bytes, one, or missing; the next row or keyword starts with a byte
    // at or above '0', a line end byte lies below it.
    if (available == 18 || r[18] >= '0')
        return 18;
    if (available == 19 || r[19] >= '0')
        return 19;
    return 20;
}

uint64_t KVPDFTrailer::readBigBytes(int count, const uint8_t *bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}
