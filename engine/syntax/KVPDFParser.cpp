#include "KVPDFParser.h"

#include "KVNumbers.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectDirectInteger.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

namespace {
constexpr uint8_t W = KVPDFCharWhite;
constexpr uint8_t D = KVPDFCharDelimiter;
constexpr uint8_t O = KVPDFCharDelimiter | KVPDFCharOpening;
constexpr uint8_t N = KVPDFCharNumeric;
constexpr uint8_t R = KVPDFCharRegular;

constexpr std::array<uint8_t, 256> makeLookup()
{
    std::array<uint8_t, 256> table{};
    for (auto &entry : table)
        entry = R;
    for (uint8_t c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20})
        table[c] = W;
    for (uint8_t c : {'%', ')', '>', ']', '}'})
        table[c] = D;
    for (uint8_t c : {'(', '/', '<', '[', '{'})
        table[c] = O;
    for (uint8_t c : {'+', '-', '.'})
        table[c] = N;
    for (int c = '0'; c <= '9'; ++c)
        table[size_t(c)] = N;
    return table;
}
constexpr std::array<uint8_t, 256> kLookup = makeLookup();
}

const uint8_t KVPDFDocumentCharLookup[256] = {
#define ROW(i)                                                                                                                   \
    kLookup[i], kLookup[i + 1], kLookup[i + 2], kLookup[i + 3], kLookup[i + 4], kLookup[i + 5], kLookup[i + 6], kLookup[i + 7]
    ROW(0),   ROW(8),   ROW(16),  ROW(24),  ROW(32),  ROW(40),  ROW(48),  ROW(56),  ROW(64),  ROW(72),  ROW(80),
    ROW(88),  ROW(96),  ROW(104), ROW(112), ROW(120), ROW(128), ROW(136), ROW(144), ROW(152), ROW(160), ROW(168),
    ROW(176), ROW(184), ROW(192), ROW(200), ROW(208), ROW(216), ROW(224), ROW(232), ROW(240), ROW(248),
#undef ROW
};

int kvHexValue(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

float KVPDFObjectStrToFloat(const char *text, const char *end, const char **stop)
{
    const char *p = text;
    float sign = 1;
    if (p < end && (*p == '+' || *p == '-')) {
        sign = *p == '-' ? -1 : 1;
        ++p;
    }
    float value = 0;
    while (p < end && *p >= '0' && *p <= '9')
        value = value * 10 + float(*p++ - '0');
    if (p < end && *p == '.') {
        ++p;
        float f = 0.1f;
        while (p < end && *p >= '0' && *p <= '9') {
            value += float(*p++ - '0') * f;
            f *= 0.1f;
        }
    }
    // An exponent, a second "." or letters after the number: let the full decimal conversion
    // have it, as long as it makes sense of more than a sign.
    if (p < end && !kvIsWhite(uint8_t(*p)) && !kvIsDelimiter(uint8_t(*p)) && p - text > 1) {
        double full = 0;
        auto r = std::from_chars(text + (text < end && *text == '+' ? 1 : 0), end, full, std::chars_format::general);
        if (r.ec == std::errc() && r.ptr > p) {
            if (stop)
                *stop = r.ptr;
            return float(full);
        }
    }
    if (stop)
        *stop = p;
    return sign * value;
}

const char *strstrtoend(const char *text, QByteArrayView needle, const char *end)
{
    if (needle.isEmpty())
        return text;
    if (!text || text >= end || qsizetype(end - text) < needle.size())
        return nullptr;
    const void *found = memmem(text, size_t(end - text), needle.data(), size_t(needle.size()));
    return static_cast<const char *>(found);
}

std::optional<uint64_t> KVPDFKeywordFinder::knownLocked(uint64_t from, uint64_t size, uint64_t &limit) const
{
    auto next = m_spans.upper_bound(from);
    limit = next == m_spans.end() ? size : next->first;
    if (next != m_spans.begin()) {
        const auto known = std::prev(next);
        if (from <= known->second)
            return known->second;
    }
    return std::nullopt;
}

uint64_t KVPDFKeywordFinder::find(const QByteArray &data, uint64_t from)
{
    const uint64_t size = uint64_t(data.size());
    if (from >= size)
        return kNotFound;
    uint64_t limit = size;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (data.constData() != m_data.constData() || data.size() != m_data.size()) {
            m_data = data;
            m_spans.clear();
        }
        if (const std::optional<uint64_t> known = knownLocked(from, size, limit))
            return *known < size ? *known : kNotFound;
    }
    // Only the bytes up to the next known span are new; an occurrence may still start in the
    // last keyword-length bytes before it.
    const uint64_t stop = std::min(size, limit + uint64_t(m_keyword.size()) - 1);
    const char *bytes = data.constData();
    const char *hit = strstrtoend(bytes + from, m_keyword, bytes + stop);

    std::unique_lock<std::mutex> guard(m_mutex);
    if (data.constData() != m_data.constData() || data.size() != m_data.size()) {
        // Another buffer was searched meanwhile: what was known about this one is gone.
        guard.unlock();
        if (!hit && limit < size)
            hit = strstrtoend(bytes + from, m_keyword, bytes + size);
        return hit ? uint64_t(hit - bytes) : kNotFound;
    }
    // Another thread may have searched meanwhile: what it learnt holds as well as this scan.
    uint64_t nextLimit = size;
    if (const std::optional<uint64_t> known = knownLocked(from, size, nextLimit))
        return *known < size ? *known : kNotFound;
    uint64_t found = size;
    if (hit) {
        found = uint64_t(hit - bytes);
    } else {
        // No occurrence starts in [from, limit): any span starting there has our answer. One
        // started at `limit` when the scan began; a span put in since may have taken its place.
        auto after = m_spans.lower_bound(from);
        found = after != m_spans.end() && after->first <= limit ? after->second : size;
    }
    // Spans starting inside [from, found] have the same answer; ours takes their place.
    m_spans.erase(m_spans.upper_bound(from), m_spans.upper_bound(found));
    m_spans.emplace(from, found);
    return found < size ? found : kNotFound;
}

uint64_t kvSkipWhite(const QByteArray &data, uint64_t offset)
{
    const uint64_t size = uint64_t(data.size());
    const auto *b = reinterpret_cast<const uint8_t *>(data.constData());
    while (offset < size && kvIsWhite(b[offset]))
        ++offset;
    return offset;
}

uint64_t kvSkipWhiteAndComments(const QByteArray &data, uint64_t offset)
{
    const uint64_t size = uint64_t(data.size());
    const auto *b = reinterpret_cast<const uint8_t *>(data.constData());
    while (offset < size) {
        if (kvIsWhite(b[offset])) {
            ++offset;
        } else if (b[offset] == '%') {
            while (offset < size && b[offset] != '\n' && b[offset] != '\r')
                ++offset;
        } else {
            break;
        }
    }
    return offset;
}

bool kvHasKeyword(const QByteArray &data, uint64_t offset, QByteArrayView keyword)
{
    return offset <= uint64_t(data.size()) && uint64_t(data.size()) - offset >= uint64_t(keyword.size())
           && std::memcmp(data.constData() + offset, keyword.data(), size_t(keyword.size())) == 0;
}

uint64_t kvObjectHeaderEnd(const QByteArray &data, uint64_t offset, uint64_t *number)
{
    const uint64_t size = uint64_t(data.size());
    auto digits = [&](uint64_t p, uint64_t *value) {
        size_t consumed = 0;
        const uint64_t v = p < size ? kvParseUnsigned(data.constData() + p, data.constData() + size, &consumed).value_or(0) : 0;
        if (value)
            *value = v;
        return p + consumed;
    };
    uint64_t p = digits(offset, number);
    if (p == offset)
        return 0;
    uint64_t next = kvSkipWhite(data, p);
    if (next == p)
        return 0;
    p = digits(next, nullptr);
    if (p == next)
        return 0;
    next = kvSkipWhite(data, p);
    if (next == p || !kvHasKeyword(data, next, "obj"))
        return 0;
    p = next + 3;
    return p >= size || !kvIsRegular(uint8_t(data[qsizetype(p)])) ? p : 0;
}

bool kvIsObjectBoundary(const QByteArray &data, uint64_t offset)
{
    if (offset >= uint64_t(data.size()))
        return false;
    const char c = data[qsizetype(offset)];
    return (c == 'e' && kvHasKeyword(data, offset, "endobj")) || (kvIsDigit(uint8_t(c)) && kvObjectHeaderEnd(data, offset));
}

namespace KVPDFParser {

KVPDFObjectPtr numberAtOffset(KVPDFObjectContext *context, uint64_t offset, const QByteArray &data, bool directOnly,
                              bool contained, uint64_t *end)
{
    const uint64_t size = uint64_t(data.size());
    const char *bytes = data.constData();
    const char *limit = bytes + size;
    // Only the bytes a number can take (sign, digits, the "." after them) decide between real and
    // integer. Looking for a "." in the whole run of numeric bytes made "1-1-1-..." quadratic:
    // each number of the run scanned the rest of it.
    uint64_t run = offset;
    if (run < size && (bytes[run] == '+' || bytes[run] == '-'))
        ++run;
    while (run < size && kvIsDigit(uint8_t(bytes[run])))
        ++run;
    const bool hasDot = run < size && bytes[run] == '.';
    if (hasDot) {
        auto real = KVPDFObjectReal::realWithPtr(bytes + offset, limit, context);
        if (end)
            *end = offset + std::max<uint64_t>(real->rawLength(), 1);
        return real;
    }
    if (!directOnly && run > offset && kvIsDigit(uint8_t(bytes[offset]))) {
        uint64_t p = kvSkipWhite(data, run);
        const uint64_t generationStart = p;
        while (p < size && kvIsDigit(uint8_t(bytes[p])))
            ++p;
        if (p > generationStart) {
            p = kvSkipWhite(data, p);
            if (p < size && bytes[p] == 'R') {
                auto reference = KVPDFObjectReference::referenceWithPtr(bytes + offset, limit, context);
                if (end)
                    *end = offset + reference->rawLength();
                return reference;
            }
        }
    }
    size_t consumed = 0;
    KVPDFObjectPtr integer;
    if (contained) {
        integer = KVPDFObjectDirectInteger::integerWithPtr(bytes + offset, limit, &consumed);
    } else {
        auto plain = KVPDFObjectInteger::integerWithPtr(bytes + offset, limit, context);
        consumed = plain->rawLength();
        integer = plain;
    }
    // A lone sign or "+-" holds no digit; consume the whole numeric run so loops move on.
    if (consumed == 0) {
        while (run < size && kvIsNumeric(uint8_t(bytes[run])))
            ++run;
        consumed = std::max<uint64_t>(run - offset, 1);
    }
    if (end)
        *end = offset + consumed;
    return integer;
}

namespace {

// true, false or null at `p` (whose first byte is 'f', 't' or 'n'); nullptr when the bytes
// there spell no keyword. Objects of the file's bytes remember where they stand.
KVPDFObjectPtr keywordAt(KVPDFObjectContext *context, uint64_t p, const QByteArray &data, bool fileBytes, uint64_t *length)
{
    const char c = data[qsizetype(p)];
    if (c == 'n') {
        if (!kvHasKeyword(data, p, "null"))
            return nullptr;
        *length = 4;
        return fileBytes ? KVPDFObjectNull::nullAtOffset(p, data, context) : KVPDFObjectNull::nullObject();
    }
    if (!kvHasKeyword(data, p, c == 'f' ? "false" : "true"))
        return nullptr;
    *length = c == 'f' ? 5 : 4;
    return fileBytes ? KVPDFObjectBoolean::boolAtOffset(p, data, context) : KVPDFObjectBoolean::boolWithBool(c == 't');
}

// The dictionary at `p`, or the stream it heads when `streamPossible` and a "stream" keyword
// follows it. *length covers the stream's data and "endstream" too.
KVPDFObjectPtr dictionaryOrStreamAt(KVPDFObjectContext *context, uint64_t p, const QByteArray &data, bool directOnly,
                                    bool streamPossible, uint64_t *length)
{
    auto dictionary = KVPDFObjectDictionary::dictionaryAtOffset(p, context, data, directOnly);
    *length = dictionary->rawLength();
    if (!streamPossible)
        return dictionary;
    const uint64_t keyword = kvSkipWhite(data, p + *length);
    if (!kvHasKeyword(data, keyword, "stream") || keyword + 6 >= uint64_t(data.size()))
        return dictionary;
    dictionary->resolvedObject();
    auto stream = KVPDFObjectStream::streamAtOffset(keyword, context, dictionary);
    *length = keyword - p + stream->rawLength();
    return stream;
}

// A literal or hex string at `p`. Only a string of the file's bytes read as part of an
// indirect object keeps its place there (to be decrypted on first use).
KVPDFObjectPtr stringAt(KVPDFObjectContext *context, uint64_t p, const QByteArray &data, bool fileBytes, bool directOnly,
                        bool indexed, uint64_t *length)
{
    const char c = data[qsizetype(p)];
    KVPDFObjectPtr object = KVPDFObjectString::stringAtOffset(
        p, data, fileBytes && !directOnly ? context : nullptr,
        c == '(' ? KVPDFObjectString::StringLiteral : KVPDFObjectString::StringHex, directOnly, indexed);
    if (!fileBytes || directOnly)
        object->setContext(context);
    *length = object->rawLength();
    return object;
}

} // namespace

KVPDFObjectPtr objectAtOffset(KVPDFObjectContext *context, uint64_t offset, const QByteArray &data, bool directOnly,
                              bool contained, bool indexed, bool compressed, uint64_t *end)
{
    KVPDFDepthGuard depth;
    if (!depth.ok())
        throw FolivoParseFailure("Folivo failed to parse an object");
    const uint64_t size = uint64_t(data.size());
    const char *bytes = data.constData();
    uint64_t p = kvSkipWhiteAndComments(data, offset);
    if (end)
        *end = p;
    if (p == 0 && !directOnly) {
        kvLog(QStringLiteral("Missing object (0 offset)"));
        return KVPDFObjectNull::nullObject();
    }
    if (p >= size) {
        if (directOnly)
            return nullptr;
        throw FolivoParseFailure("Folivo failed to parse an object");
    }
    const bool fileBytes = context && context->isDocData(data);
    // Arrays and dictionaries parse at once: finding where an unparsed one ends (to look for a
    // "stream" keyword after it) by searching for keywords misreads "endobj" or "stream" inside
    // a string. Objects stay lazy as a whole: an indirect object parses on first resolution.
    KVPDFObjectPtr object;
    uint64_t length = 0;
    const char c = bytes[p];
    switch (c) {
    case 'f':
    case 't':
    case 'n':
        object = keywordAt(context, p, data, fileBytes, &length);
        if (!object)
            return nullptr;
        break;
    case '[':
        object = KVPDFObjectArray::arrayAtOffset(p, context, data, directOnly);
        length = object->rawLength();
        break;
    case '(':
    case '<':
        // Stream data lies in the file bytes only; in other data (an object stream, a content
        // stream) the keyword's offset means nothing there.
        if (c == '<' && p + 1 < size && bytes[p + 1] == '<')
            object = dictionaryOrStreamAt(context, p, data, directOnly, !compressed && fileBytes, &length);
        else
            object = stringAt(context, p, data, fileBytes, directOnly, indexed, &length);
        break;
    case '/':
        object = KVPDFObjectName::nameAtOffset(p, data);
        object->setContext(context);
        length = object->rawLength();
        break;
    default:
        if (kvIsNumeric(uint8_t(c))) {
            uint64_t numberEnd = p;
            object = numberAtOffset(context, p, data, directOnly, contained, &numberEnd);
            if (end)
                *end = numberEnd;
            return object;
        }
        if (directOnly) {
            if (end)
                *end = p + 1;
            return nullptr;
        }
        throw FolivoParseFailure("Folivo failed to parse an object");
    }
    if (end)
        *end = p + std::max<uint64_t>(length, 1);
    return object;
}

} // namespace KVPDFParser
