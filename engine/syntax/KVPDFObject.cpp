#include "KVPDFObject.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
#include "KVPDFLog.h"
#include "KVPDFObjectReference.h"

#include <algorithm>

KVPDFObject::KVPDFObject() = default;
KVPDFObject::~KVPDFObject() = default;

KVPDFObjectPtr KVPDFObject::placeholder(KVPDFObjectContext *context, uint64_t number, uint64_t generation, uint64_t offset)
{
    auto object = std::make_shared<KVPDFObject>();
    object->m_context = context;
    object->m_objectNumber = number;
    object->m_generation = generation;
    object->m_dataLocation = offset;
    object->m_direct = false;
    return object;
}

KVPDFObjectPtr KVPDFObject::memberPlaceholder(KVPDFObjectContext *context, uint64_t number, uint64_t stream, uint64_t index)
{
    KVPDFObjectPtr object = placeholder(context, number, 0, stream);
    object->setRawLength(index);
    object->m_flags = FlagCompressed;
    return object;
}

QString KVPDFObject::objectTypeName(int type)
{
    switch (type) {
    case TypeInteger: return QStringLiteral("integer");
    case TypeReal: return QStringLiteral("real");
    case TypeString: return QStringLiteral("string");
    case TypeName: return QStringLiteral("name");
    case TypeArray: return QStringLiteral("array");
    case TypeDictionary: return QStringLiteral("dictionary");
    case TypeBoolean: return QStringLiteral("boolean");
    case TypeNull: return QStringLiteral("null");
    case TypeStream: return QStringLiteral("stream");
    case TypeReference: return QStringLiteral("reference");
    default: return QStringLiteral("unknown");
    }
}

QString KVPDFObject::objectTypeName() const { return objectTypeName(objectType()); }

KVPDFObjectPtr KVPDFObject::container() const
{
    KVPDFObjectPtr outer = m_container.lock();
    if (!outer)
        return nullptr;
    // A container chain can only be as deep as the nesting the parser allowed, but objects built
    // by hand could form a loop: stop after a generous bound.
    for (int i = 0; i < 100000; ++i) {
        KVPDFObjectPtr next = outer->m_container.lock();
        if (!next || next == outer)
            break;
        outer = next;
    }
    return outer;
}

bool KVPDFObject::isEqual(const KVPDFObject &other) const
{
    if (this == &other)
        return true;
    return objectNumber() != 0 && objectNumber() == other.objectNumber() && context() == other.context()
           && generation() == other.generation();
}

size_t KVPDFObject::hash() const
{
    uint64_t key = objectNumber() ? objectNumber() : uint64_t(reinterpret_cast<uintptr_t>(this));
    return size_t(key % 3313);
}

int KVPDFObject::compare(const KVPDFObject &other) const
{
    if (objectNumber() < other.objectNumber())
        return -1;
    return objectNumber() > other.objectNumber() ? 1 : 0;
}

void KVPDFObject::copyBaseInto(KVPDFObject &target) const
{
    target.m_type = m_type;
    target.m_context = m_context;
    target.m_flags = m_flags;
    target.m_rawLength = m_rawLength;
}

KVPDFObjectPtr kvCopyElement(const KVPDFObjectPtr &element)
{
    if (!element)
        return nullptr;
    return element->hasFlag(KVPDFObject::FlagDirectInteger) ? element : element->copy();
}

KVPDFObjectPtr KVPDFObject::copy()
{
    auto object = std::make_shared<KVPDFObject>();
    copyBaseInto(*object);
    object->m_dataLocation = m_dataLocation;
    return object;
}

KVPDFObjectPtr KVPDFObject::resolvedObject()
{
    if (m_type != TypeUnknown)
        return shared_from_this();
    if (!m_context || m_dataLocation == 0)
        return nullptr;
    // Keeps this placeholder alive while the table entry is replaced.
    return m_context->resolvePlaceholder(shared_from_this(), !m_container.expired());
}

KVPDFObjectPtr KVPDFObject::resolvedObjectForKey(QByteArrayView) { return nullptr; }

KVPDFObjectPtr kvReadableEntry(const KVPDFObjectPtr &object, QByteArrayView key, QStringView owner)
{
    if (!object)
        return nullptr;
    try {
        return object->resolvedObjectForKey(key);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("%1 entry %2 unreadable: %3")
                  .arg(owner, QString::fromLatin1(key.toByteArray()), QString::fromStdString(failure.reason())));
        return nullptr;
    }
}

QByteArray KVPDFObject::syntax(KVPDFEncryption)
{
    kvLog(QStringLiteral("Failed to get direct object of untyped PDF object"));
    return QByteArray();
}

QByteArray KVPDFObject::lineEnd() const { return m_context ? m_context->EOL() : QByteArrayLiteral("\n"); }

QByteArray KVPDFObject::indirectObject()
{
    const QByteArray eol = lineEnd();
    char buffer[24];
    QByteArray out;
    out.append(buffer, KVPDFObjectUnsignedToStringInPlace(objectNumber(), buffer) - buffer);
    out.append(' ');
    out.append(buffer, KVPDFObjectUnsignedToStringInPlace(generation(), buffer) - buffer);
    out.append(" obj");
    out.append(eol);
    out.append(directObject());
    out.append(eol);
    out.append("endobj");
    out.append(eol);
    return out;
}

void KVPDFObject::appendChildren(std::vector<KVPDFObjectPtr> &, bool) { }

std::vector<KVPDFObjectPtr> KVPDFObject::subobjects(KVPDFVisitedSet &visited) { return subobjects(visited, {}); }

std::vector<KVPDFObjectPtr> KVPDFObject::subobjects(KVPDFVisitedSet &visited,
                                                    const std::function<bool(const KVPDFObjectPtr &)> &skip)
{
    std::vector<KVPDFObjectPtr> found;
    std::vector<KVPDFObjectPtr> pending{shared_from_this()};
    std::vector<KVPDFObjectPtr> children;
    while (!pending.empty()) {
        KVPDFObjectPtr object = std::move(pending.back());
        pending.pop_back();
        if (object->objectType() == TypeReference) {
            KVPDFObjectPtr target = object->resolvedObject();
            if (!target || !visited.insert(target.get()).second || (skip && skip(target)))
                continue;
            found.push_back(target);
            pending.push_back(target);
            continue;
        }
        children.clear();
        object->appendChildren(children, false);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (*it && !visited.count(it->get()))
                pending.push_back(*it);
    }
    return found;
}

void KVPDFObject::markSubobjects(KVPDFMarkArray &marks)
{
    auto isMarked = [&marks](uint64_t number) { return number < marks.size() && marks[number]; };
    auto mark = [&marks](uint64_t number) {
        if (number > KVPDFObjectContext::kMaxObjectNumber)
            return;
        if (number >= marks.size())
            marks.resize(number + 1, 0);
        marks[number] = 1;
    };
    std::vector<KVPDFObjectPtr> pending{shared_from_this()};
    std::vector<KVPDFObjectPtr> children;
    // Unnumbered objects reached twice only through hand-built cycles; walk each once.
    std::unordered_set<const KVPDFObject *> walked;
    while (!pending.empty()) {
        KVPDFObjectPtr object = std::move(pending.back());
        pending.pop_back();
        if (object->objectType() == TypeReference) {
            KVPDFObjectPtr target = object->resolvedObject();
            if (!target)
                continue;
            const uint64_t number = target->objectNumber();
            if (number == 0 || number > KVPDFObjectContext::kMaxObjectNumber) {
                if (walked.insert(target.get()).second)
                    pending.push_back(target);
            } else if (!isMarked(number)) {
                if (KVPDFObjectContext *context = object->context()) {
                    // A table entry replaced since this reference cached its target (a page
                    // given a new dictionary) is the current object: never put the stale one back.
                    KVPDFObjectPtr current = context->objectWithNumber(number);
                    if (current && current != target && current->objectType() != TypeUnknown
                        && !(current->objectType() == TypeReference && current->dataRange().location != 0)) {
                        target = current;
                        if (auto reference = std::dynamic_pointer_cast<KVPDFObjectReference>(object))
                            reference->setTarget(current);
                    } else {
                        context->setObject(target, number, object->generation());
                    }
                }
                mark(number);
                pending.push_back(target);
            }
            continue;
        }
        children.clear();
        object->appendChildren(children, true);
        if (children.empty() && object->objectType() != TypeArray && object->objectType() != TypeDictionary
            && object->objectType() != TypeStream) {
            const uint64_t number = object->objectNumber();
            if (number != 0 && !isMarked(number))
                mark(number);
            continue;
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            const KVPDFObjectPtr &child = *it;
            if (!child)
                continue;
            const uint64_t number = child->objectNumber();
            const bool unnumbered = number == 0 || number > KVPDFObjectContext::kMaxObjectNumber;
            if (unnumbered ? walked.insert(child.get()).second : !isMarked(number))
                pending.push_back(child);
        }
    }
}

void KVPDFObject::fixReferences(const KVPDFTranslationTable &) { }

QString KVPDFObject::attributedObject()
{
    QString text = QString::fromLatin1(directObject());
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return text;
}

QString KVPDFObject::description()
{
    return QStringLiteral("<KVPDFObject, 0x%1>: %2 %3 (%4)")
        .arg(quintptr(this), 8, 16, QLatin1Char('0'))
        .arg(objectNumber())
        .arg(generation())
        .arg(objectTypeName());
}

char *KVPDFObjectUnsignedToStringInPlace(uint64_t value, char *buffer)
{
    char *p = buffer;
    do {
        *p++ = char('0' + value % 10);
        value /= 10;
    } while (value);
    *p = 0;
    std::reverse(buffer, p);
    return p;
}

char *KVPDFObjectSignedToStringInPlace(int64_t value, char *buffer)
{
    // Work in unsigned so that the most negative value has a magnitude.
    uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    char *p = buffer;
    do {
        *p++ = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        *p++ = '-';
    *p = 0;
    std::reverse(buffer, p);
    return p;
}
