#pragma once
// Brakes for recursion over hostile input. A file can nest arrays a million deep or make an
// object's Length refer to the object itself; both must end in an error, not a stack overflow.
#include <cstdint>
#include <set>
#include <utility>

// Bounds the nesting of parse and copy calls on this thread.
class KVPDFDepthGuard {
public:
    static constexpr int kMaxDepth = 256;
    KVPDFDepthGuard() : m_ok(++s_depth <= kMaxDepth) { }
    ~KVPDFDepthGuard() { --s_depth; }
    KVPDFDepthGuard(const KVPDFDepthGuard &) = delete;
    KVPDFDepthGuard &operator=(const KVPDFDepthGuard &) = delete;
    bool ok() const { return m_ok; }

private:
    static thread_local int s_depth;
    bool m_ok;
};

// Marks indirect object (document, number) as being resolved on this thread; a second
// resolution of the same object while the first runs is a cycle.
class KVPDFResolveGuard {
public:
    KVPDFResolveGuard(const void *document, uint64_t number);
    ~KVPDFResolveGuard();
    KVPDFResolveGuard(const KVPDFResolveGuard &) = delete;
    KVPDFResolveGuard &operator=(const KVPDFResolveGuard &) = delete;
    bool ok() const { return m_ok; }

private:
    static thread_local std::set<std::pair<const void *, uint64_t>> s_active;
    std::pair<const void *, uint64_t> m_key;
    bool m_ok;
    KVPDFDepthGuard m_depth;
};
