#pragma once
// The writer's reference pass: points the references inside written objects at what is
// written in place of their targets, copying (once) every object they newly reach into the
// write's output, so the output is closed under references. A reference that leads nowhere (a
// missing or unreadable object, a page no longer in the document) becomes null: left alone it
// would name an unrelated object of the new file. Copies are entered in the write state's
// translations, so an object reached twice is written once.
//
// Walks are iterative: chains of any length are safe. Never throws: an object that cannot be
// read or copied is logged and written as null.
// Ownership: refers to the document and the write state, which must outlive it.
#include "KVPDFObject.h"

#include <functional>
#include <unordered_map>

class KVPDFObjectContext;
class KVPDFObjectReference;
struct KVPDFWriteState;

class KVPDFReferenceTranslator {
public:
    // fileSize: in the working copy, numbers below it name objects already in the file, which
    // stay where they are; 0 for the full rewrite.
    KVPDFReferenceTranslator(KVPDFObjectContext &context, KVPDFWriteState &state, uint64_t fileSize = 0)
        : m_context(context), m_state(state), m_fileSize(fileSize)
    {
    }

    // The references inside `object`, not following them.
    void translateWithin(const KVPDFObjectPtr &object);
    // Objects added to the output since the last call, and whatever they reach in turn. Each is
    // handed to the finished handler (when set) once its own references are translated.
    void drain();
    void setFinishedHandler(std::function<void(const KVPDFObjectPtr &)> handler) { m_finished = std::move(handler); }
    // What a reference inside a written object must point at, or nullptr for null. The
    // document's object table decides what a numbered reference means.
    KVPDFObjectPtr targetOf(KVPDFObjectReference &reference);
    // What is written in place of `original`: itself when already written, the page-tree root
    // for any old page-tree node, nullptr for a page no longer in the document, in the
    // working copy the original itself when it is in the file, else a copy added to the output.
    KVPDFObjectPtr replacementFor(const KVPDFObjectPtr &original);
    // Strings of a file being decrypted decrypt on first use with their object's number; a
    // copy would later use its new number. Decrypts them in `object` (not following
    // references), so copies carry plain bytes.
    static void settleStrings(const KVPDFObjectPtr &object);
    // `value` with a reference followed, for the writer's looks outside this pass; nullptr when
    // the object it leads to cannot be read. Logged as written as null unless `quiet` (a look
    // whose reference this pass meets later, and logs then).
    static KVPDFObjectPtr readableValue(const KVPDFObjectPtr &value, bool quiet = false);
    // Working copy: objects made in memory under a number of their own keep it.
    const std::unordered_map<const KVPDFObject *, uint64_t> &keptNumbers() const { return m_keptNumbers; }

private:
    // transient: `original` was read for this write alone (see KVPDFDocument::readObjectOnce).
    KVPDFObjectPtr replacementFor(const KVPDFObjectPtr &original, bool transient);
    bool staysInFile(const KVPDFObject &original) const;

    KVPDFObjectContext &m_context;
    KVPDFWriteState &m_state;
    uint64_t m_fileSize;
    size_t m_drained = 0;
    std::unordered_map<const KVPDFObject *, uint64_t> m_keptNumbers;
    std::function<void(const KVPDFObjectPtr &)> m_finished;
};
