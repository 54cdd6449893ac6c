#pragma once
// One cross-reference section of a PDF file: a classic "xref" table with its trailer
// dictionary, a cross-reference stream, or, when neither can be read, a walk over every
// "N G obj" header in the file. trailerWithOffset() builds the newest section and, through
// Prev, the older ones; setupObjects() enters a section's entries into the document's object
// table as lazy references (a reference whose data range starts where the object's value
// begins), parsed on first resolution.
//
// Precedence: the sections of one chain share a record of which object numbers each has
// claimed (in use, free or compressed). An entry never replaces one claimed by a newer
// section, whatever order the sections are set up in, so an object changed by an update never
// reverts to an older version, and a number freed by an update stays freed (a null object).
// A hybrid section's XRefStm entries rank below its own classic rows and above its Prev.
// Object-stream members enter only where the newest section that mentions their number lists
// them as compressed in that very stream (members nobody lists fill numbers the table lacks,
// the first stream and the first header pair to name a number winning; a listed number named
// twice in its stream's header takes the last).
//
// Ownership: the document owns the newest section; each section owns its prev; next is a raw
// link to the newer section, which owns this one. The document must outlive its chain.
// Threads: one thread at a time, the document's.
//
// Bad input never throws out of this class:
// - a cross-reference stream at the offset given to trailerWithOffset() that fails its checks
//   answers nullptr (with the reason logged);
// - a classic table that cannot be read falls back to the walk, with the trailer dictionary
//   after the last "trailer" keyword (or the last cross-reference stream's dictionary);
// - a Prev that loops, or a chain longer than kMaxSections, ends the chain with a log line; a
//   Prev that names nothing readable is replaced by a walk, which then is the oldest section;
// - a row (or a stream's in-use entry) that does not lead to an "N G obj" header for its number,
//   whether it points beyond the data, between objects or at another object's header, takes
//   the last definition the walk finds (the walk is made once per chain, on first need; the
//   repairs are logged). When the file defines the number nowhere, a row inside the data is
//   dropped, and a row beyond the data makes setupObjects() answer false (the other rows are
//   still entered). A row for a number a newer section claimed is not looked at.
#include "KVPDFObject.h"

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

class KVPDFObjectContext;
class KVPDFObjectDictionary;
class KVPDFObjectStream;
class KVPDFObjectStreamCache;

class KVPDFTrailer {
public:
    // Longest Prev chain read; older sections are left to a walk.
    static constexpr size_t kMaxSections = 1000;

    ~KVPDFTrailer();
    KVPDFTrailer(const KVPDFTrailer &) = delete;
    KVPDFTrailer &operator=(const KVPDFTrailer &) = delete;

    // The section at `offset` of the document's data and every older one its Prev chain names.
    // hasXref false reads the section by walking the objects. isPrevious: the chain is older
    // than what the table already holds, so it never replaces an entry it did not make.
    // nullptr when a cross-reference stream at `offset` fails its checks.
    static std::unique_ptr<KVPDFTrailer> trailerWithOffset(uint64_t offset, KVPDFObjectContext *context, bool hasXref,
                                                           bool isPrevious = false);

    // Enters this section's entries (a hybrid's XRefStm entries included) into the table.
    // False when a row points beyond the data at an object the file defines nowhere. A second
    // call answers the first result.
    bool setupObjects();
    // setupObjects() on this section and every older one, newest first; stops at a failure.
    bool setupAllObjects();
    // Checks a cross-reference stream and enters its entries with this section's precedence.
    bool setupObjectsFromStream(const std::shared_ptr<KVPDFObjectStream> &stream);
    // Enters the members of the object streams this section's entries point into, then
    // forgets those streams. Members enter unread (KVPDFObject::memberPlaceholder), parsed on
    // first use through the document; only the streams' headers are read here, through `cache`
    // (the document's, so the streams read last stay decoded for their members; a cache of
    // the call's own without one). A stream expanded through any section of the chain is not
    // expanded again.
    void handleDeferredResolves(KVPDFObjectStreamCache *cache = nullptr);
    // handleDeferredResolves() from the oldest section up to this one.
    void handleAllDeferredResolves(KVPDFObjectStreamCache *cache = nullptr);

    // Reads a whole classic row, not only its offset: at `row` (bounded by `end`), 10 offset digits, a space, 5
    // generation digits, a space and the flag "n" or "f"; a row starting with "-" has offset 0.
    // Answers the row's length with its line end (18, 19 or 20), or 0 when no well-formed row
    // stands there.
    static int getOffset(uint64_t &offset, uint64_t &generation, char &flag, const char *row, const char *end);
    // Big-endian unsigned value of the first `count` bytes (0 for a count of 0 or less; at most
    // 8 are meaningful).
    static uint64_t readBigBytes(int count, const uint8_t *bytes);

    // Releases the older sections (iteratively, so long chains cannot exhaust the stack).
    void close();

    // Never null: an empty dictionary when the file has none. Stream sections answer the
    // stream's dictionary. A classic trailer has lost its XRefStm key.
    const std::shared_ptr<KVPDFObjectDictionary> &trailerDictionary() const { return m_trailerDictionary; }
    // The value of `key` in the newest trailer dictionary of this section and the older ones
    // that holds it, unresolved; nullptr when none does. For the keys an update may leave out
    // of its own trailer while an older one still speaks for the file (FolivoVersion).
    KVPDFObjectPtr entryAlongChain(QByteArrayView key) const;
    KVPDFTrailer *prev() const { return m_prev.get(); }
    KVPDFTrailer *next() const { return m_next; }
    void setNext(KVPDFTrailer *next) { m_next = next; }
    // One (first object number in location, count in length) per classic subsection.
    const std::vector<KVPDFRange> &xrefRanges() const { return m_xrefRanges; }
    // Data offset of the first row of each subsection, in the same order.
    const std::vector<uint64_t> &rangeOffsets() const { return m_rangeOffsets; }
    // Highest object number met; a stream section's Size.
    uint64_t maxObjectNumber() const { return m_maxObjectNumber; }
    // Entries came from a cross-reference stream (the section's own, or a hybrid's XRefStm).
    bool hasXRefStm() const { return m_hasXRefStm; }
    // False when the section was read by walking the objects.
    bool hasXref() const { return m_hasXref; }
    bool isPrevious() const { return m_isPrevious; }
    // Where the section was looked for.
    uint64_t offset() const { return m_offset; }
    // The hybrid's XRefStm offset taken from the trailer, 0 when none.
    uint64_t xrefStmOffset() const { return m_xrefStmOffset; }

private:
    struct Chain;
    enum class Claim : uint8_t;

    KVPDFTrailer(KVPDFObjectContext *context, std::shared_ptr<Chain> chain, size_t index, bool hasXref, bool isPrevious);

    static std::unique_ptr<KVPDFTrailer> section(uint64_t offset, const std::shared_ptr<Chain> &chain, size_t index, bool hasXref,
                                                 bool isPrevious);
    static std::unique_ptr<KVPDFTrailer> walkSection(uint64_t offset, const std::shared_ptr<Chain> &chain, size_t index,
                                                     bool isPrevious);
    std::shared_ptr<KVPDFObjectStream> xrefStreamAt(uint64_t offset);
    bool checkStream(const std::shared_ptr<KVPDFObjectStream> &stream, int widths[3],
                     std::vector<std::pair<uint64_t, uint64_t>> &index, uint64_t &size);
    void readClassicTable(uint64_t position);
    void readWalkTrailer();
    void takeXRefStmOffset();

    bool enterClassicRows();
    bool enterStreamEntries(const std::shared_ptr<KVPDFObjectStream> &stream, unsigned rank);
    void readHybridStream();
    bool enterByWalking();
    void ensureRoot();

    unsigned rank() const { return unsigned(m_index) * 2; }
    bool mayClaim(uint64_t number, unsigned rank) const;
    void claim(uint64_t number, unsigned rank, Claim kind, uint64_t stream);
    bool enterInUse(uint64_t number, uint64_t generation, uint64_t offset, unsigned rank);
    void enterFree(uint64_t number, unsigned rank);
    void enterCompressed(uint64_t number, uint64_t stream, unsigned rank);

    KVPDFObjectContext *m_context;
    std::shared_ptr<Chain> m_chain;
    std::shared_ptr<KVPDFObjectDictionary> m_trailerDictionary;
    std::vector<KVPDFRange> m_xrefRanges;
    std::vector<uint64_t> m_rangeOffsets;
    std::unique_ptr<KVPDFTrailer> m_prev;
    KVPDFTrailer *m_next = nullptr;
    std::shared_ptr<KVPDFObjectStream> m_stream;    // the cross-reference stream of a stream section
    std::vector<uint64_t> m_resolveLater;           // object-stream numbers, in the order first met
    std::unordered_set<uint64_t> m_resolveLaterSet; // the same numbers, for constant-time lookups
    size_t m_index;                                 // 0 for the newest section of the chain
    uint64_t m_offset = 0;
    uint64_t m_xrefStmOffset = 0;
    uint64_t m_maxObjectNumber = 0;
    uint64_t m_repaired = 0; // rows of this section that took the walk's definition
    bool m_hasXref;
    bool m_hasXRefStm = false;
    bool m_isPrevious;
    bool m_setUp = false;
    bool m_setupResult = true;
};
