#include "KVPDFObjectReference.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
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
    reference->m_target = target;
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

KVPDFObjectPtr KVPDFObjectReference::targetWithoutCaching()
{
    if (m_target || !m_context || m_dataLocation != 0)
        return resolvedObject();
    return m_context->readObjectOnce(m_objectNumber, m_generation);
}

KVPDFObjectPtr KVPDFObjectReference::resolvedObject()
{
    if (m_target)
        return m_target;
    if (!m_context)
        return nullptr;
    KVPDFObjectPtr target;
    // A lazy table entry resolves through the table so that the parsed object replaces it.
    if (m_dataLocation == 0 || m_context->objectWithNumber(m_objectNumber).get() == this)
        target = m_context->resolveObject(m_objectNumber, m_generation, !m_container.expired());
    else {
        // A reference that knows where its target's text lies (a lazy table entry itself).
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
    target->setObjectNumber(m_objectNumber);
    target->setGeneration(m_generation);
    target->setContext(m_context);
    target->setDirect(false);
    m_target = target;
    return target;
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
    const uint64_t number = m_target ? m_target->objectNumber() : m_objectNumber;
    const uint64_t generation = m_target ? m_target->generation() : m_generation;
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
    reference->m_target = m_target;
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
    const KVPDFObject *target = m_target ? m_target.get() : this;
    auto byDocument = table.find(target->context());
    if (byDocument == table.end())
        return;
    const uint64_t generation = target->generation();
    if (generation >= byDocument->second.size())
        return;
    const auto &numbers = byDocument->second[generation];
    auto entry = numbers.find(target->objectNumber());
    if (entry != numbers.end() && entry->second)
        m_target = entry->second;
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
    if (!m_target)
        return QStringLiteral("<KVPDFObjectReference, 0x%1>: %2 %3 P")
            .arg(quintptr(this), 8, 16, QLatin1Char('0'))
            .arg(m_objectNumber)
            .arg(m_generation);
    return QStringLiteral("<KVPDFObjectReference, 0x%1>: D:0x%2 0x%3 %4 %5 R 0x%6")
        .arg(quintptr(this), 8, 16, QLatin1Char('0'))
        .arg(quintptr(m_target->context()), 8, 16, QLatin1Char('0'))
        .arg(quintptr(m_target.get()), 8, 16, QLatin1Char('0'))
        .arg(m_target->objectNumber())
        .arg(m_target->generation())
        .arg(quintptr(this), 8, 16, QLatin1Char('0'));
}
