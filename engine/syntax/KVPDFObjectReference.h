#pragma once
// An indirect reference "N G R" (type 10). It resolves its target through the document's object
// table on first use and caches it; a reference made from an object holds that object.
// A cycle (an object whose resolution needs itself) resolves to nullptr with a log line.
#include "KVPDFObject.h"

class KVPDFObjectReference : public KVPDFObject {
public:
    KVPDFObjectReference();

    static std::shared_ptr<KVPDFObjectReference> referenceWithObject(const KVPDFObjectPtr &target);
    // `position`: where the target's text starts in the file, 0 when unknown.
    static std::shared_ptr<KVPDFObjectReference> referenceWithObjectNumber(uint64_t number, uint64_t generation,
                                                                           KVPDFObjectContext *context, uint64_t position = 0);
    // Reads "N G R" at `text` (bounded by `end`); FolivoParseFailure when the R is missing.
    static std::shared_ptr<KVPDFObjectReference> referenceWithPtr(const char *text, const char *end, KVPDFObjectContext *context);

    const KVPDFObjectPtr &cachedTarget() const { return m_target; }
    void setTarget(const KVPDFObjectPtr &target) { m_target = target; }
    // Drops the cached target so the next resolution asks the table again.
    void forgetTarget() { m_target.reset(); }

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
    KVPDFObjectPtr m_target;
};
