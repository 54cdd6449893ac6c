#include "KVPDFReferenceTranslator.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFWriteState.h"

#include <unordered_set>

namespace {
bool isContainer(const KVPDFObjectPtr &object)
{
    if (!object)
        return false;
    const auto type = object->objectType();
    return type == KVPDFObject::TypeArray || type == KVPDFObject::TypeDictionary || type == KVPDFObject::TypeStream;
}
}

void KVPDFReferenceTranslator::drain()
{
    while (m_drained < m_state.copyObjects.size()) {
        const KVPDFObjectPtr next = m_state.copyObjects[m_drained++];
        translateWithin(next);
        if (m_finished)
            m_finished(next);
    }
}

bool KVPDFReferenceTranslator::staysInFile(const KVPDFObject &original) const
{
    return !m_state.fullRewrite && original.context() == &m_context && original.objectNumber() != 0
           && original.objectNumber() < m_fileSize;
}

void KVPDFReferenceTranslator::settleStrings(const KVPDFObjectPtr &object)
{
    if (!object || !object->context() || !object->context()->isDecrypting())
        return;
    std::vector<KVPDFObjectPtr> pending{object};
    std::vector<KVPDFObjectPtr> children;
    std::unordered_set<const KVPDFObject *> seen;
    while (!pending.empty()) {
        KVPDFObjectPtr current = std::move(pending.back());
        pending.pop_back();
        if (!current || !seen.insert(current.get()).second || current->objectType() == KVPDFObject::TypeReference)
            continue;
        if (auto string = kv_cast<KVPDFObjectString>(current))
            string->stringData();
        children.clear();
        current->appendChildren(children, false);
        pending.insert(pending.end(), children.begin(), children.end());
    }
}

KVPDFObjectPtr KVPDFReferenceTranslator::readableValue(const KVPDFObjectPtr &value, bool quiet)
{
    if (!value || value->objectType() != KVPDFObject::TypeReference)
        return value;
    try {
        return value->resolvedObject();
    } catch (const FolivoException &failure) {
        if (!quiet)
            kvLog(QStringLiteral("Object %1 could not be read and is written as null: %2")
                      .arg(value->objectNumber())
                      .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
}

KVPDFObjectPtr KVPDFReferenceTranslator::targetOf(KVPDFObjectReference &reference)
{
    const KVPDFObjectPtr cached = reference.cachedTarget();
    if (cached && m_state.isWritten(cached.get()))
        return cached;
    // The object table is the truth: a cached target can be an older version of an object the
    // program has since replaced in the table (a page whose rotation changed).
    const uint64_t number = cached ? cached->objectNumber() : reference.objectNumber();
    KVPDFObjectContext *source = cached ? cached->context() : reference.context();
    // The full rewrite reads what the program has not read itself only to copy it, and lets it
    // go: a number already copied is not read again.
    // Only for numbers the table has not read: an object it holds is matched by identity, since
    // a copy the program made of it (a duplicated page) may carry the same number.
    const bool readOnce = m_state.fullRewrite && number != 0 && source && source->isUnread(number);
    if (readOnce)
        if (KVPDFObjectPtr known = m_state.translation(source, number))
            return known;
    KVPDFObjectPtr original;
    bool transient = false;
    try {
        if (readOnce) {
            // An unread entry gives an object nothing else holds.
            original = source->readObjectOnce(number, cached ? cached->generation() : reference.generation());
            transient = original != nullptr;
        } else if (number != 0 && source) {
            original = source->resolveObject(number, cached ? cached->generation() : reference.generation());
        }
        if (!original)
            original = cached ? cached : reference.resolvedObject();
        // An indirect object whose value is itself a reference stands for that reference's target.
        for (int hops = 0; original && original->objectType() == KVPDFObject::TypeReference && hops < 32; ++hops)
            original = original->resolvedObject();
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Object %1 could not be read and is written as null: %2")
                  .arg(number)
                  .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
    if (!original || original->objectType() == KVPDFObject::TypeReference || original->objectType() == KVPDFObject::TypeUnknown) {
        kvLog(QStringLiteral("Reference to missing object %1 written as null").arg(number));
        return nullptr;
    }
    return replacementFor(original, transient);
}

KVPDFObjectPtr KVPDFReferenceTranslator::replacementFor(const KVPDFObjectPtr &original)
{
    return replacementFor(original, false);
}

KVPDFObjectPtr KVPDFReferenceTranslator::replacementFor(const KVPDFObjectPtr &original, bool transient)
{
    if (!original)
        return nullptr;
    if (m_state.isWritten(original.get()))
        return original;
    if (KVPDFObjectPtr known = m_state.translation(*original))
        return known;
    const uint64_t number = original->objectNumber();
    try {
        if (auto dictionary = kv_cast<KVPDFObjectDictionary>(original)) {
            const QByteArray type = dictionary->nameForKey("Type");
            if (m_state.pageTreeNodes.count(original.get()) || type == "Pages") {
                m_state.translate(original, m_state.newPagesObject);
                return m_state.newPagesObject;
            }
            if (type == "Page") {
                // Written, it would be a page outside the page tree (readers disagree on
                // such pages); the user removed it.
                kvLog(QStringLiteral("Reference to page object %1, no longer in the document, written as null").arg(number));
                return nullptr;
            }
        }
        if (staysInFile(*original))
            return original;
        settleStrings(original);
        // An object read for this write alone is nobody else's: it is written as it is, which
        // spares a copy of most of a full rewrite. Its stream data decrypts now, under the number
        // it was read with, before the write numbers it anew.
        if (transient)
            if (auto stream = kv_cast<KVPDFObjectStream>(original))
                stream->rawDataView();
        KVPDFObjectPtr copy = transient ? original : original->copy();
        if (!m_state.fullRewrite && original->context() == &m_context && number != 0)
            m_keptNumbers[copy.get()] = number;
        m_state.translate(original, copy, transient);
        m_state.addObject(copy);
        if (m_state.copied)
            m_state.copied(original, copy);
        return copy;
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Object %1 could not be copied and is written as null: %2")
                  .arg(number)
                  .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
}

void KVPDFReferenceTranslator::translateWithin(const KVPDFObjectPtr &object)
{
    std::vector<KVPDFObjectPtr> pending{object};
    std::unordered_set<const KVPDFObject *> seen;
    while (!pending.empty()) {
        KVPDFObjectPtr current = std::move(pending.back());
        pending.pop_back();
        if (!current || !seen.insert(current.get()).second)
            continue;
        if (auto stream = kv_cast<KVPDFObjectStream>(current)) {
            if (stream->dictionary())
                pending.push_back(stream->dictionary());
        } else if (auto dictionary = kv_cast<KVPDFObjectDictionary>(current)) {
            std::vector<QByteArray> dropped;
            for (const auto &[key, value] : dictionary->value()) {
                if (auto reference = kv_cast<KVPDFObjectReference>(value)) {
                    if (KVPDFObjectPtr target = targetOf(*reference))
                        reference->setTarget(target);
                    else
                        dropped.push_back(key); // a null value and an absent key mean the same
                } else if (isContainer(value)) {
                    pending.push_back(value);
                }
            }
            for (const QByteArray &key : dropped)
                dictionary->removeObjectForKey(key);
        } else if (auto array = kv_cast<KVPDFObjectArray>(current)) {
            for (size_t i = 0; i < array->count(); ++i) {
                const KVPDFObjectPtr value = array->objectAtIndex(i);
                if (auto reference = kv_cast<KVPDFObjectReference>(value)) {
                    if (KVPDFObjectPtr target = targetOf(*reference))
                        reference->setTarget(target);
                    else
                        array->replaceObjectAtIndex(i, KVPDFObjectNull::nullObject()); // positions matter
                } else if (isContainer(value)) {
                    pending.push_back(value);
                }
            }
        }
    }
}
