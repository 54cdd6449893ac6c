#pragma once
// What lets several threads read one document at once: search and page-image threads prepare
// pages of the same document together, and reading is lazy throughout (references cache their
// targets, strings and streams decrypt and decode on first use, pages keep what their content
// gave). Work is done outside any lock; only its result is published, under a short lock or by
// an atomic store, and the first result published is the one every reader gets. Two threads may
// so do the same work once each, never tear or lose a result.
//
// Locks. kvpdf::lazyStateLock() is one of a fixed pool of mutexes, chosen by the address of the
// object whose state it guards. It is held only while a handful of fields are read or written,
// never while anything else is locked or parsed: two objects that share a mutex of the pool can
// therefore never deadlock. Where it stands in the engine's lock order, see KVPDFPage.h.
//
// Writes (edits, saves, refreshes, setters) stay one thread at a time, with no reader running:
// they change state without these locks.
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

namespace kvpdf {
// The pool mutex for the lazy state of `owner`.
std::mutex &lazyStateLock(const void *owner);
}

// A shared pointer that one thread sets (under a lock of its own choosing, such as a page's
// mutex) while other threads test and read it: the pointee is published whole, and a reader
// that sees it set sees everything written before it was set. Resetting it or setting it again
// is a write (one thread, no reader). Reads through it stay valid until then.
template <typename T> class KVPDFPublishedPtr {
public:
    KVPDFPublishedPtr() = default;
    KVPDFPublishedPtr(const KVPDFPublishedPtr &) = delete;
    KVPDFPublishedPtr &operator=(const KVPDFPublishedPtr &) = delete;

    KVPDFPublishedPtr &operator=(std::shared_ptr<T> value)
    {
        m_owner = std::move(value);
        m_published.store(m_owner.get(), std::memory_order_release);
        return *this;
    }
    KVPDFPublishedPtr &operator=(std::nullptr_t)
    {
        reset();
        return *this;
    }
    void reset()
    {
        m_published.store(nullptr, std::memory_order_release);
        m_owner.reset();
    }

    T *get() const { return m_published.load(std::memory_order_acquire); }
    // The owning pointer, for sharing the pointee with another holder (a write's reader: read
    // it where no thread sets or resets this pointer).
    const std::shared_ptr<T> &shared() const { return m_owner; }
    explicit operator bool() const { return get() != nullptr; }
    T &operator*() const { return *get(); }
    T *operator->() const { return get(); }
    friend bool operator==(const KVPDFPublishedPtr &pointer, std::nullptr_t) { return pointer.get() == nullptr; }

private:
    std::shared_ptr<T> m_owner;
    std::atomic<T *> m_published{nullptr};
};
