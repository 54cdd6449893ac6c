#include "KVPDFObjectReference.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
#include "KVPDFLazyState.h"
#include "KVPDFLog.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectNull.h"
#include "KVPDFParser.h"
#include "KVNumbers.h"

KVPDFObjectReference::KVPDFObjectReference()
{
    m_type = TypeReference;
    m_direct = false;
}

std::shared_ptr<KVPDFObjectReference> KVPDFObjectReference::referenceWithObject(const KVPDFObjectPtr &target)
{
    auto reference = std::make_shared<KVPDFObjectReference>();
    reference->setTarget(target);
    if (target) {
        reference->m_context = target->context();
        reference->m_objectNumber = target->objectNumber();
        reference->m_generation = target->generation();
    }
    return reference;
}

std::shared_ptr<KVPDFObjectReference> KVPDFObjectReference::referenceWithObjectWeakly(const KVPDFObjectPtr &target)
{
    auto reference = referenceWithObject(nullptr);
    reference->m_weakTarget = target;
    if (target) {
        reference->m_context = target->context();
        reference->m_objectNumber = target->objectNumber();
        reference->m_generation = target->generation();
    }
    return reference;
}

std::shared_ptr<KVPDFObjectReference> KVPDFObjectReference::referenceWithObjectNumber(uint64_t number, uint64_t generation,
                                                                                      KVPDFObjectContext *context,
                                                                                      uint64_t position)
{
    auto reference = std::make_shared<KVPDFObjectReference>();
    reference->m_context = context;
    reference->m_objectNumber = number;
    reference->m_generation = generation;
    reference->m_dataLocation = position;
    return reference;
}

std::shared_ptr<KVPDFObjectReference> KVPDFObjectReference::referenceWithPtr(const char *text, const char *end,
                                                                             KVPDFObjectContext *context)
{
    auto readUnsigned = [end](const char *&p, bool &ok) {
        size_t consumed = 0;
        const std::optional<uint64_t> value = kvParseUnsigned(p, end, &consumed);
        p += consumed;
        ok = value.has_value();
        return value.value_or(0);
    };
    auto skipWhite = [end](const char *&p) {
        while (p < end && kvIsWhite(uint8_t(*p)))
            ++p;
    };
    const char *p = text;
    bool okNumber = false, okGeneration = false;
    const uint64_t number = readUnsigned(p, okNumber);
    skipWhite(p);
    const uint64_t generation = readUnsigned(p, okGeneration);
    skipWhite(p);
    if (!okNumber || !okGeneration || p >= end || *p != 'R')
        throw FolivoParseFailure("Object reference has incorrect format");
    auto reference = referenceWithObjectNumber(number, generation, context);
    reference->m_rawLength = uint64_t(p + 1 - text);
    return reference;
}

KVPDFObjectPtr KVPDFObjectReference::cachedTarget() const
{
    return m_resolved.load(std::memory_order_acquire) ? m_target : m_weakTarget.lock();
}

void KVPDFObjectReference::setTarget(const KVPDFObjectPtr &target)
{
    m_target = target;
    m_resolved.store(target != nullptr, std::memory_order_release);
}

KVPDFObjectPtr KVPDFObjectReference::targetWithoutCaching()
{
    if (KVPDFObjectPtr held = m_weakTarget.lock())
        return held;
    if (m_resolved.load(std::memory_order_acquire) || !m_context || m_dataLocation != 0)
        return resolvedObject();
    return m_context->readObjectOnce(m_objectNumber, m_generation);
}

void KVPDFObjectReference::stamp(const KVPDFObjectPtr &target) const
{
    // Written only where they differ: a target from the table is shared with every thread
    // reading the document, and carries the table's number, document and indirect mark already.
    // Two cases still write: a reference whose generation disagrees with the table's entry
    // restamps it (the reference is what the file says), and an object an edit entered still
    // marked direct is marked indirect; the first resolution of such a number is not safe from
    // several threads at once.
    if (target->objectNumber() != m_objectNumber)
        target->setObjectNumber(m_objectNumber);
    if (target->generation() != m_generation)
        target->setGeneration(m_generation);
    if (target->context() != m_context)
        target->setContext(m_context);
    if (target->isDirect())
        target->setDirect(false);
}

KVPDFObjectPtr KVPDFObjectReference::publish(const KVPDFObjectPtr &target)
{
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    if (!m_resolved.load(std::memory_order_relaxed)) {
        m_target = target;
        m_resolved.store(true, std::memory_order_release);
    }
    return m_target;
}

KVPDFObjectPtr KVPDFObjectReference::resolvedObject()
{
    if (m_resolved.load(std::memory_order_acquire))
        return m_target;
    if (KVPDFObjectPtr held = m_weakTarget.lock())
        return held;
    if (!m_context)
        return nullptr;
    KVPDFObjectPtr target;
    // A lazy table entry resolves through the table so that the parsed object replaces it; so
    // does one the table has let go of when it holds the number still (another reader parsed
    // it, or it was replaced): a second object for the number would part their readers.
    if (m_dataLocation == 0 || m_context->objectWithNumber(m_objectNumber)) {
        target = m_context->resolveObject(m_objectNumber, m_generation, !m_container.expired());
    } else {
        // A reference that knows where its target's text lies, which the table no longer holds.
        KVPDFResolveGuard guard(m_context, m_objectNumber);
        if (!guard.ok()) {
            kvLog(QStringLiteral("Reference %1 %2 R loops back on itself").arg(m_objectNumber).arg(m_generation));
            return nullptr;
        }
        target = KVPDFParser::objectAtOffset(m_context, m_dataLocation, m_context->docData(), false, false, false, false);
        if (target && target->objectType() == TypeReference) {
            // Renumbered below as this reference's target, it would refer to itself.
            kvLog(QStringLiteral("Object %1 %2 is a reference; read as null").arg(m_objectNumber).arg(m_generation));
            target = KVPDFObjectNull::nullObject();
        }
    }
    if (!target)
        return nullptr;
    stamp(target);
    return publish(target);
}

KVPDFObjectPtr KVPDFObjectReference::resolvedObjectForKey(QByteArrayView key)
{
    KVPDFObjectPtr target = resolvedObject();
    return target ? target->resolvedObjectForKey(key) : nullptr;
}

bool KVPDFObjectReference::isEqual(const KVPDFObject &other) const
{
    if (this == &other)
        return true;
    auto *reference = dynamic_cast<const KVPDFObjectReference *>(&other);
    if (!reference)
        return false;
    auto *self = const_cast<KVPDFObjectReference *>(this);
    auto *that = const_cast<KVPDFObjectReference *>(reference);
    KVPDFObjectPtr mine = self->resolvedObject();
    return mine && mine == that->resolvedObject();
}

int64_t KVPDFObjectReference::longLongValue() const
{
    KVPDFObjectPtr target = const_cast<KVPDFObjectReference *>(this)->resolvedObject();
    return target ? target->longLongValue() : 0;
}

float KVPDFObjectReference::realValue() const
{
    KVPDFObjectPtr target = const_cast<KVPDFObjectReference *>(this)->resolvedObject();
    return target ? target->realValue() : 0;
}

QByteArray KVPDFObjectReference::syntax(KVPDFEncryption)
{
    const KVPDFObjectPtr target = cachedTarget();
    const uint64_t number = target ? target->objectNumber() : m_objectNumber;
    const uint64_t generation = target ? target->generation() : m_generation;
    char buffer[24];
    QByteArray out(buffer, KVPDFObjectUnsignedToStringInPlace(number, buffer) - buffer);
    out.append(' ');
    out.append(buffer, KVPDFObjectUnsignedToStringInPlace(generation, buffer) - buffer);
    out.append(" R");
    return out;
}

KVPDFObjectPtr KVPDFObjectReference::copy()
{
    auto reference = std::make_shared<KVPDFObjectReference>();
    reference->m_context = m_context;
    reference->m_objectNumber = m_objectNumber;
    reference->m_generation = m_generation;
    reference->m_dataLocation = m_dataLocation;
    if (m_resolved.load(std::memory_order_acquire))
        reference->setTarget(m_target);
    else
        reference->m_weakTarget = m_weakTarget;
    reference->m_flags = m_flags;
    reference->m_rawLength = m_rawLength;
    return reference;
}

std::vector<KVPDFObjectPtr> KVPDFObjectReference::subobjects(KVPDFVisitedSet &visited)
{
    return KVPDFObject::subobjects(visited);
}

void KVPDFObjectReference::markSubobjects(KVPDFMarkArray &marks) { KVPDFObject::markSubobjects(marks); }

void KVPDFObjectReference::fixReferences(const KVPDFTranslationTable &table)
{
    const KVPDFObjectPtr cached = cachedTarget();
    const KVPDFObject *target = cached ? cached.get() : this;
    auto byDocument = table.find(target->context());
    if (byDocument == table.end())
        return;
    const uint64_t generation = target->generation();
    if (generation >= byDocument->second.size())
        return;
    const auto &numbers = byDocument->second[generation];
    auto entry = numbers.find(target->objectNumber());
    if (entry != numbers.end() && entry->second)
        setTarget(entry->second);
}

QString KVPDFObjectReference::attributedObject()
{
    KVPDFObjectPtr target = resolvedObject();
    const uint64_t number = target ? target->objectNumber() : m_objectNumber;
    const uint64_t generation = target ? target->generation() : m_generation;
    return QStringLiteral("%1 %2 R").arg(number).arg(generation);
}

QString KVPDFObjectReference::description()
{
    const KVPDFObjectPtr target = cachedTarget();
    if (!target)
        return QStringLiteral("<KVPDFObjectReference, 0x%1>: %2 %3 P")
            .arg(quintptr(this), 8, 16, QLatin1Char('0'))
            .arg(m_objectNumber)
            .arg(m_generation);
    return QStringLiteral("<KVPDFObjectReference, 0x%1>: D:0x%2 0x%3 %4 %5 R 0x%6")
        .arg(quintptr(this), 8, 16, QLatin1Char('0'))
        .arg(quintptr(target->context()), 8, 16, QLatin1Char('0'))
        .arg(quintptr(target.get()), 8, 16, QLatin1Char('0'))
        .arg(target->objectNumber())
        .arg(target->generation())
        .arg(quintptr(this), 8, 16, QLatin1Char('0'));
}
