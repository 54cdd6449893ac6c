#include "KVPDFLazyState.h"

#include <array>
#include <cstdint>

namespace {
// Enough mutexes that unrelated objects rarely wait for each other; each is held for a few
// field writes only, so a collision costs next to nothing.
constexpr size_t kPoolSize = 256;

struct alignas(64) PaddedMutex {
    std::mutex mutex;
};
}

std::mutex &kvpdf::lazyStateLock(const void *owner)
{
    // Never destroyed: objects torn down by other static objects may still publish.
    static auto *pool = new std::array<PaddedMutex, kPoolSize>;
    // Objects are at least 16-byte aligned: the low bits say nothing; mix the rest.
    uint64_t key = uint64_t(reinterpret_cast<uintptr_t>(owner)) >> 4;
    key *= 0x9E3779B97F4A7C15ull;
    return (*pool)[size_t(key >> 56) % kPoolSize].mutex;
}
