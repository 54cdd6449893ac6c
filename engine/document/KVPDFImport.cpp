#include "KVPDFImport.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"

#include <algorithm>
#include <unordered_set>

KVPDFImport::KVPDFImport(KVPDFDocument &target) : m_target(target), m_translator(target, m_state)
{
    // A copy between documents has no page tree to join: its old nodes become null.
    m_state.fullRewrite = true;
    m_state.newPagesObject = nullptr;
}

KVPDFImport::~KVPDFImport() = default;

bool KVPDFImport::isForeign(const KVPDFObject &object) const
{
    const KVPDFObjectContext *context = object.context();
    return context && context != &m_target;
}

KVPDFObjectPtr KVPDFImport::add(const KVPDFObjectPtr &original) { return m_translator.replacementFor(original); }

KVPDFObjectPtr KVPDFImport::addCopy(const KVPDFObjectPtr &original)
{
    if (!original)
        return nullptr;
    KVPDFObjectPtr copy;
    try {
        KVPDFReferenceTranslator::settleStrings(original);
        copy = original->copy();
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Object %1 could not be copied into the document: %2")
                  .arg(original->objectNumber())
                  .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
    m_state.translate(original, copy);
    m_state.addObject(copy);
    return copy;
}

void KVPDFImport::alias(const KVPDFObjectContext *context, uint64_t number, const KVPDFObjectPtr &copy)
{
    m_state.translateNumber(context, number, 0, copy);
}

void KVPDFImport::finish()
{
    m_translator.drain();
    const std::vector<KVPDFObjectPtr> copies = m_state.copyObjects;
    for (const KVPDFObjectPtr &copy : copies) {
        // A copied stream shares the source file's bytes; it keeps only its own.
        if (auto stream = kv_cast<KVPDFObjectStream>(copy))
            stream->setRawData(stream->rawData());
        copy->setDirect(false);
        copy->setContext(&m_target);
        m_target.setObject(copy, std::max<uint64_t>(m_target.objectCount(), 1), 0);
    }
    // Every copy has its number and document before any reference is made to name them.
    for (const KVPDFObjectPtr &copy : copies)
        settle(copy);
    m_state.handOver();
}

void KVPDFImport::settle(const KVPDFObjectPtr &copy)
{
    std::vector<KVPDFObjectPtr> pending{copy};
    std::vector<KVPDFObjectPtr> children;
    std::unordered_set<const KVPDFObject *> seen;
    while (!pending.empty()) {
        KVPDFObjectPtr current = std::move(pending.back());
        pending.pop_back();
        if (!current || !seen.insert(current.get()).second)
            continue;
        if (auto reference = kv_cast<KVPDFObjectReference>(current)) {
            // The reference pass pointed every reference it kept at a copy (or an object of the
            // target); its number and document still name the original.
            if (const KVPDFObjectPtr &target = reference->cachedTarget()) {
                reference->setContext(target->context());
                reference->setObjectNumber(target->objectNumber());
                reference->setGeneration(target->generation());
                reference->setDataRange({});
            }
            continue;
        }
        // A dictionary does not pass its context on under Parent; each value is seen here.
        if (current->context() != &m_target)
            current->setContext(&m_target);
        children.clear();
        current->appendChildren(children, false);
        pending.insert(pending.end(), children.begin(), children.end());
    }
}
