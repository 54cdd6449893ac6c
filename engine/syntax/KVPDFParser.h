#pragma once
// The object parser: turns the bytes at an offset into a PDF object, and the byte classes and
// number reader every tokeniser of the engine shares. Every read is bounded by the data; the
// end of the data counts as white space. Nesting deeper than KVPDFDepthGuard::kMaxDepth raises
// FolivoParseFailure.
#include "KVPDFObject.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

class KVPDFObjectContext;

// Byte classes.
enum KVPDFCharClass : uint8_t {
    KVPDFCharWhite = 1,
    KVPDFCharDelimiter = 2,
    KVPDFCharNumeric = 4,
    KVPDFCharRegular = 8,
    KVPDFCharOpening = 16, // always together with KVPDFCharDelimiter
};
extern const uint8_t KVPDFDocumentCharLookup[256];

inline bool kvIsWhite(uint8_t c) { return KVPDFDocumentCharLookup[c] & KVPDFCharWhite; }
inline bool kvIsDelimiter(uint8_t c) { return KVPDFDocumentCharLookup[c] & KVPDFCharDelimiter; }
inline bool kvIsNumeric(uint8_t c) { return KVPDFDocumentCharLookup[c] & KVPDFCharNumeric; }
inline bool kvIsRegular(uint8_t c) { return KVPDFDocumentCharLookup[c] & KVPDFCharRegular; }
inline bool kvIsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
int kvHexValue(uint8_t c); // -1 when not a hex digit

// The engine's number-text reader, in single precision: exact up to 2^24. `end` bounds the
// text; `stop` (optional) receives the position after the last byte used.
float KVPDFObjectStrToFloat(const char *text, const char *end, const char **stop = nullptr);

// First occurrence of `needle` in [text, end), or nullptr. An empty needle answers `text`.
const char *strstrtoend(const char *text, QByteArrayView needle, const char *end);

// First occurrence of one keyword at or after an offset of a buffer, remembering what each
// search found: a later search that starts inside an already searched span answers from it, so
// however many searches, in whatever order, every byte of the buffer is read about once.
// Without it, recovering the length of many streams in a file that lacks (or has only one
// far-away) "endstream" read the rest of the file once per stream.
// Threads: find() may be called from any number of threads at once (streams of one document
// are read on several); the scan runs outside the finder's lock, so two threads may scan the
// same span once each. Moving and forget() are writes (one thread).
class KVPDFKeywordFinder {
public:
    static constexpr uint64_t kNotFound = UINT64_MAX;

    explicit KVPDFKeywordFinder(QByteArrayView keyword) : m_keyword(keyword.toByteArray()) { }
    KVPDFKeywordFinder(KVPDFKeywordFinder &&other) noexcept
        : m_keyword(std::move(other.m_keyword)), m_data(std::move(other.m_data)), m_spans(std::move(other.m_spans))
    {
    }
    KVPDFKeywordFinder &operator=(KVPDFKeywordFinder &&other) noexcept
    {
        m_keyword = std::move(other.m_keyword);
        m_data = std::move(other.m_data);
        m_spans = std::move(other.m_spans);
        return *this;
    }
    // The offset of the first occurrence that starts at or after `from`, or kNotFound. What was
    // learnt about another buffer is dropped; the buffer is held, so its address identifies it.
    uint64_t find(const QByteArray &data, uint64_t from);
    // Lets go of the buffer and what was learnt about it.
    void forget()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_data.clear();
        m_spans.clear();
    }

private:
    // With m_mutex held: the answer the spans give for `from`, or nullopt when `from` lies in no
    // searched span; `limit` receives where the next known span starts (the data size for none).
    std::optional<uint64_t> knownLocked(uint64_t from, uint64_t size, uint64_t &limit) const;

    QByteArray m_keyword;
    std::mutex m_mutex;
    QByteArray m_data;
    // Disjoint spans: start -> the first occurrence at or after it (the data size for none).
    std::map<uint64_t, uint64_t> m_spans;
};

// Position after the white space and comments at `offset` (bounded by the data).
uint64_t kvSkipWhiteAndComments(const QByteArray &data, uint64_t offset);
uint64_t kvSkipWhite(const QByteArray &data, uint64_t offset);
// True when `keyword` stands at `offset`.
bool kvHasKeyword(const QByteArray &data, uint64_t offset, QByteArrayView keyword);
// The position after an indirect object's "N G obj" header starting at `offset` (digits, white
// space, digits, white space, and "obj" followed by white space, a delimiter or the end), or 0
// when none starts there. `*number` (optional) receives N, saturating.
uint64_t kvObjectHeaderEnd(const QByteArray &data, uint64_t offset, uint64_t *number = nullptr);
// True where the text of the object being read ends though the object is not closed: at
// "endobj" or at the next object's header. An unclosed array or dictionary ends there rather
// than taking in the objects after it.
bool kvIsObjectBoundary(const QByteArray &data, uint64_t offset);

namespace KVPDFParser {
// The object at `offset` of `data`. `document` may be null (free-standing data). See
// KVPDFDocument::objectAtOffset for the flags.
// `*end` receives the position after the object (or after the bytes skipped when nothing was
// recognised), so loops always advance, shared integers included.
KVPDFObjectPtr objectAtOffset(KVPDFObjectContext *context, uint64_t offset, const QByteArray &data, bool directOnly,
                              bool contained, bool indexed, bool compressed, uint64_t *end = nullptr);
// A real, integer, shared direct integer or reference at `offset`.
KVPDFObjectPtr numberAtOffset(KVPDFObjectContext *context, uint64_t offset, const QByteArray &data, bool directOnly,
                              bool contained, uint64_t *end = nullptr);
}
