#include "KVPDFDocument.h"

#include "KVPDFFont.h"
#include "KVPDFGuards.h"
#include "KVPDFLog.h"
#include "KVPDFObjectNull.h"
#include "KVPDFPage.h"
#include "KVPDFParser.h"
#include "KVPDFTrailer.h"

KVPDFDocument::KVPDFDocument() = default;

KVPDFDocument::~KVPDFDocument() { releaseObjects(); }

void KVPDFDocument::releaseObjects()
{
    // Objects point at each other through references (page <-> parent, annotation <-> page);
    // break those cycles so the graph is freed with the document.
    std::unordered_map<uint64_t, KVPDFObjectPtr> objects;
    std::vector<KVPDFObjectPtr> retired;
    {
        std::lock_guard<std::mutex> guard(m_tableMutex);
        objects.swap(m_table.objects);
        retired.swap(m_retired);
    }
    for (auto &entry : objects)
        if (entry.second)
            entry.second->releaseGraph();
    for (auto &object : retired)
        if (object)
            object->releaseGraph();
    m_fonts.clear();
}

std::shared_ptr<KVPDFFont> KVPDFDocument::lookupFont(const KVPDFObjectDictionary &fontDictionary) const
{
    for (const auto &font : m_fonts)
        if (font->isEqualToDictionary(fontDictionary))
            return font;
    return nullptr;
}

void KVPDFDocument::addFont(const std::shared_ptr<KVPDFFont> &font)
{
    if (font)
        m_fonts.push_back(font);
}

void KVPDFDocument::setObject(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation)
{
    if (number == 0 || !object)
        return;
    if (number > kMaxObjectNumber) {
        kvLog(QStringLiteral("Object number %1 is beyond what the engine keeps").arg(number));
        return;
    }
    std::lock_guard<std::mutex> guard(m_tableMutex);
    setObjectLocked(object, number, generation);
}

void KVPDFDocument::setObjectLocked(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation)
{
    if (generation + 1 > m_table.generationCount)
        m_table.generationCount = generation + 1;
    // Stamped only where it differs: an object entered again is read by other threads.
    if (object->objectNumber() != number)
        object->setObjectNumber(number);
    if (object->generation() != generation)
        object->setGeneration(generation);
    KVPDFObjectPtr &slot = m_table.objects[number];
    if (slot && slot != object)
        m_retired.push_back(slot);
    slot = object;
    if (number + 1 > m_table.objectCount)
        m_table.objectCount = number + 1;
}

void KVPDFDocument::removeObject(uint64_t number)
{
    KVPDFObjectPtr removed;
    std::lock_guard<std::mutex> guard(m_tableMutex);
    auto it = m_table.objects.find(number);
    if (it == m_table.objects.end())
        return;
    // Freed once the lock is let go.
    removed = std::move(it->second);
    m_table.objects.erase(it);
}

uint64_t KVPDFDocument::generationCount() const
{
    std::lock_guard<std::mutex> guard(m_tableMutex);
    return m_table.generationCount;
}

uint64_t KVPDFDocument::objectCount() const
{
    std::lock_guard<std::mutex> guard(m_tableMutex);
    return m_table.objectCount;
}

KVPDFObjectPtr KVPDFDocument::objectWithNumber(uint64_t number, uint64_t) const
{
    std::lock_guard<std::mutex> guard(m_tableMutex);
    auto it = m_table.objects.find(number);
    return it == m_table.objects.end() ? nullptr : it->second;
}

namespace {
bool isUnreadEntry(const KVPDFObjectPtr &entry)
{
    const auto type = entry->objectType();
    return type == KVPDFObject::TypeUnknown || (type == KVPDFObject::TypeReference && entry->dataRange().location != 0);
}

// A placeholder for an object-stream member (KVPDFObject::memberPlaceholder).
bool isMemberEntry(const KVPDFObjectPtr &entry)
{
    return entry->objectType() == KVPDFObject::TypeUnknown && entry->hasFlag(KVPDFObject::FlagCompressed);
}
}

KVPDFObjectPtr KVPDFDocument::parseEntry(const KVPDFObjectPtr &entry, uint64_t number, uint64_t generation, bool contained)
{
    KVPDFResolveGuard guard(this, number);
    if (!guard.ok()) {
        kvLog(QStringLiteral("Object %1 %2 refers to itself while being read").arg(number).arg(generation));
        return nullptr;
    }
    if (isMemberEntry(entry)) {
        // Indirect like any table object, before any other thread can see it: marked later by
        // the first reference to resolve it, it would be written while others read it.
        KVPDFObjectPtr member = m_table.objectStreams.member(*this, entry->dataRange().location, entry->rawLength(), number);
        if (member)
            member->setDirect(false);
        return member;
    }
    const uint64_t position = entry->dataRange().location;
    const QByteArray data = m_bytes.data;
    KVPDFObjectPtr object = objectAtOffset(position, data, false, contained, false, false);
    if (!object)
        return nullptr;
    if (object->objectType() == KVPDFObject::TypeReference) {
        // The value of an object cannot be a reference: stamped with this object's number below,
        // it would refer to itself.
        kvLog(QStringLiteral("Object %1 %2 is a reference; read as null").arg(number).arg(generation));
        object = KVPDFObjectNull::nullObject();
    }
    if (object->flags() & KVPDFObject::FlagDirectInteger)
        object = object->copy();
    object->setDirect(false);
    return object;
}

KVPDFObjectPtr KVPDFDocument::resolveObject(uint64_t number, uint64_t generation, bool contained)
{
    KVPDFObjectPtr entry = objectWithNumber(number, generation);
    if (!entry || !isUnreadEntry(entry))
        return entry;
    const uint64_t entryGeneration = entry->generation();
    // Parsed outside the table's lock: parsing resolves other numbers, and another thread may
    // be reading this one meanwhile.
    KVPDFObjectPtr object = parseEntry(entry, number, generation, contained);
    KVPDFObjectPtr dropped; // freed once the lock is let go
    std::lock_guard<std::mutex> guard(m_tableMutex);
    auto slot = m_table.objects.find(number);
    if (!object) {
        // A member that does not parse is no object: the table answers as for a number its
        // stream never held.
        if (isMemberEntry(entry) && slot != m_table.objects.end() && slot->second == entry) {
            dropped = std::move(slot->second);
            m_table.objects.erase(slot);
        }
        return nullptr;
    }
    // Another thread entered its object for the number first: everyone shares that one. (A
    // nested resolution of the same number on this thread cannot happen: the guard stops it.)
    if (slot != m_table.objects.end() && slot->second != entry && !isUnreadEntry(slot->second))
        return slot->second;
    // Not seen by any other thread yet: stamped before it goes in, so readers never see it
    // change.
    if (object->context() != this)
        object->setContext(this);
    setObjectLocked(object, number, entryGeneration);
    return object;
}

KVPDFObjectPtr KVPDFDocument::resolvePlaceholder(const KVPDFObjectPtr &placeholder, bool contained)
{
    const uint64_t number = placeholder->objectNumber();
    const uint64_t generation = placeholder->generation();
    if (number == 0 || number > kMaxObjectNumber)
        return nullptr;
    {
        // What the table holds under the number now is what the number stands for: the object
        // another reader parsed from this very entry, or whatever replaced it since.
        std::lock_guard<std::mutex> guard(m_tableMutex);
        if (m_table.objects.find(number) == m_table.objects.end())
            setObjectLocked(placeholder, number, generation);
    }
    return resolveObject(number, generation, contained);
}

bool KVPDFDocument::isUnread(uint64_t number) const
{
    const KVPDFObjectPtr entry = objectWithNumber(number);
    return entry && isUnreadEntry(entry);
}

KVPDFObjectPtr KVPDFDocument::readObjectOnce(uint64_t number, uint64_t generation)
{
    KVPDFObjectPtr entry = objectWithNumber(number, generation);
    if (!entry || !isUnreadEntry(entry))
        return entry;
    // A fresh object, this caller's alone: stamping it disturbs no other reader.
    KVPDFObjectPtr object = parseEntry(entry, number, generation, false);
    if (object) {
        object->setObjectNumber(number);
        object->setGeneration(entry->generation());
    }
    return object;
}

KVPDFObjectPtr KVPDFDocument::objectAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained,
                                             bool indexed, bool compressed)
{
    return KVPDFParser::objectAtOffset(this, offset, data, directOnly, contained, indexed, compressed);
}

KVPDFObjectPtr KVPDFDocument::numberAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained)
{
    return KVPDFParser::numberAtOffset(this, offset, data, directOnly, contained);
}

void KVPDFDocument::warn(const KVPDFWarning &warning)
{
    if (m_openCapture)
        m_openCapture->locate(warning);
    else
        m_warningSink.add(warning);
}
