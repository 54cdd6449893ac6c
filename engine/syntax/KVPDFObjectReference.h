#pragma once
// An indirect reference "N G R" (type 10). It resolves its target through the document's object
// table on first use and caches it; a reference made from an object holds that object.
// A cycle (an object whose resolution needs itself) resolves to nullptr with a log line.
// A back link made with referenceWithObjectWeakly does not keep its target alive: two new
// objects that refer to each other (a pop-up's Parent and its note's Popup) would otherwise hold
// each other for ever, since neither is in a document's table, whose teardown breaks cycles.
//
// Threads: any number of threads may resolve one reference at once (see KVPDFLazyState.h); the
// first target published is cached and every later resolution answers it. setTarget,
// forgetTarget and fixReferences are writes (one thread, no reader).
#include "KVPDFObject.h"

#include <atomic>

class KVPDFObjectReference : public KVPDFObject {
public:
    KVPDFObjectReference();

    static std::shared_ptr<KVPDFObjectReference> referenceWithObject(const KVPDFObjectPtr &target);
    // A reference to `target` that holds it only while something else does; once the target is
    // gone it resolves by number as a reference read from a file does (nullptr when unnumbered).
    // Copies stay weak until fixReferences points them at a copied target.
    static std::shared_ptr<KVPDFObjectReference> referenceWithObjectWeakly(const KVPDFObjectPtr &target);
    // `position`: where the target's text starts in the file, 0 when unknown.
    static std::shared_ptr<KVPDFObjectReference> referenceWithObjectNumber(uint64_t number, uint64_t generation,
                                                                           KVPDFObjectContext *context, uint64_t position = 0);
    // Reads "N G R" at `text` (bounded by `end`); FolivoParseFailure when the R is missing.
    static std::shared_ptr<KVPDFObjectReference> referenceWithPtr(const char *text, const char *end, KVPDFObjectContext *context);

    // The target resolved so far, or nullptr.
    KVPDFObjectPtr cachedTarget() const;
    void setTarget(const KVPDFObjectPtr &target);
    // Drops the cached target so the next resolution asks the table again.
    void forgetTarget() { setTarget(nullptr); }

    KVPDFObjectPtr resolvedObject() override;
    // The cached target, else the target read for the caller alone and not kept (neither here
    // nor in the table; see KVPDFDocument::readObjectOnce): for a look that should not leave
    // the object parsed in memory.
    KVPDFObjectPtr targetWithoutCaching();
    KVPDFObjectPtr resolvedObjectForKey(QByteArrayView key) override;
    bool isEqual(const KVPDFObject &other) const override;
    int64_t longLongValue() const override;
    float realValue() const override;

    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    using KVPDFObject::subobjects;
    std::vector<KVPDFObjectPtr> subobjects(KVPDFVisitedSet &visited) override;
    void markSubobjects(KVPDFMarkArray &marks) override;
    void fixReferences(const KVPDFTranslationTable &table) override;
    QString attributedObject() override;
    QString description() override;

private:
    // Stamps a target with this reference's number, generation and document where they differ
    // (a target the table shared out already carries them, and is not written to).
    void stamp(const KVPDFObjectPtr &target) const;
    // Caches `target` unless another thread cached one first; answers the cached one.
    KVPDFObjectPtr publish(const KVPDFObjectPtr &target);

    // Written before m_resolved is set (release) and not again until a write: a reader that sees
    // m_resolved set reads it without a lock.
    KVPDFObjectPtr m_target;
    std::atomic<bool> m_resolved{false};
    // Set once, at creation or copy, before the reference is shared.
    std::weak_ptr<KVPDFObject> m_weakTarget;
};
