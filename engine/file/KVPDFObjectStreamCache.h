#pragma once
// The decoded object streams a document keeps while it reads their members one at a time. A
// member is parsed on first use from its stream's decoded data; decoding a stream for every
// member would be quadratic, and keeping every stream decoded would hold a second copy of the
// file's objects, so the streams used last are kept up to a byte budget.
//
// Budget: an entry costs its decoded bytes and its header. Past the budget the least recently
// used entries go, but never the one just read: a stream larger than the budget stays until
// another is read. A stream decoded kMaxDecodes times within one operation (an open, a save)
// is kept, whatever the budget, until the next operation begins: members read in an order
// that alternates between streams decode each stream at most that often, and past the bound
// the budget yields (memory then as if the stream's members were all read at once).
//
// Ownership: the document owns its cache (with its object table, so a refresh that reads new
// bytes starts an empty one). Entries hold decoded bytes only, never objects: members are
// parsed into fresh objects, which the caller keeps or drops. Streams are looked up by number
// in the context given to each call; the context must outlive the call only.
// Threads: member(), memberNumbers() and the queries may be called from any number of threads
// at once (pages of one document read on several). The cache's lock is held only to look up,
// enter or drop an entry; a stream is resolved and decoded, and a member parsed, outside it, so
// two threads that miss the same stream decode it once each and the first entry stays.
// beginOperation() and moving the cache are for the document's one writing thread.
//
// Bad input never throws out of member(): a number that names no stream, a stream that is not
// an object stream or decodes to nothing (remembered, not decoded again), or a member that does
// not parse answers nullptr with a log line. memberNumbers() reports the same faults to the
// cross-reference reader, which logs them as it did when members were read at open.
#include "KVPDFObject.h"
#include "KVPDFObjectStream.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class KVPDFObjectContext;

class KVPDFObjectStreamCache {
public:
    static constexpr uint64_t kDefaultBudget = uint64_t(16) << 20;
    static constexpr unsigned kMaxDecodes = 4;

    KVPDFObjectStreamCache() = default;
    explicit KVPDFObjectStreamCache(uint64_t budget) : m_budget(budget) { }
    // The document resets its table by assigning a fresh one (no reader runs then).
    KVPDFObjectStreamCache(KVPDFObjectStreamCache &&other) noexcept { *this = std::move(other); }
    KVPDFObjectStreamCache &operator=(KVPDFObjectStreamCache &&other) noexcept;

    // The object numbers object stream `stream` lists, in the order of its header (a number may
    // appear twice). nullopt when `stream` names no stream; no numbers for a stream that is no
    // object stream. FolivoParseFailure when the stream decodes to nothing.
    std::optional<std::vector<uint64_t>> memberNumbers(KVPDFObjectContext &context, uint64_t stream);
    // Member `index` of the header of object stream `stream`, which should be object `number`
    // (when it is not, the last member of that number is taken), parsed within its own bytes.
    // A fresh object each call, flagged compressed and not entered anywhere.
    KVPDFObjectPtr member(KVPDFObjectContext &context, uint64_t stream, uint64_t index, uint64_t number);

    // A new operation: decode counts start again and streams kept past the budget by the bound
    // may go.
    void beginOperation();

    uint64_t budget() const { return m_budget; }
    // Bytes the kept entries cost.
    uint64_t keptBytes() const;
    bool holds(uint64_t stream) const;
    // How often `stream` was decoded in the current operation.
    unsigned decodeCount(uint64_t stream) const;

private:
    // What a stream's entry holds. Shared, so a reader keeps it while the cache lets it go.
    struct Contents {
        QByteArray data;
        std::vector<KVPDFObjectStream::Member> members;
        std::vector<uint64_t> starts; // the members' offsets, sorted
    };
    struct Entry {
        std::shared_ptr<const Contents> contents;
        uint64_t cost = 0;
        uint64_t lastUse = 0;
        bool pinned = false; // kept past the budget until the operation ends
    };

    // The contents of `stream`, decoded now when they are not kept. nullptr when the stream is
    // no stream (logged once when `quiet` is false). FolivoParseFailure as memberNumbers().
    std::shared_ptr<const Contents> contents(KVPDFObjectContext &context, uint64_t stream, bool quiet);
    // With m_mutex held.
    void evictBeyondBudget(uint64_t keep);

    mutable std::mutex m_mutex;

    uint64_t m_budget = kDefaultBudget;
    uint64_t m_kept = 0;
    uint64_t m_clock = 0;
    std::unordered_map<uint64_t, Entry> m_entries;
    std::unordered_map<uint64_t, unsigned> m_decodes;
    std::unordered_set<uint64_t> m_unreadable;
};
