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
    for (auto &entry : m_table.objects)
        if (entry.second)
            entry.second->releaseGraph();
    m_table.objects.clear();
    for (auto &object : m_retired)
        if (object)
            object->releaseGraph();
    m_retired.clear();
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
    if (generation + 1 > m_table.generationCount)
        m_table.generationCount = generation + 1;
    object->setObjectNumber(number);
    object->setGeneration(generation);
    KVPDFObjectPtr &slot = m_table.objects[number];
    if (slot && slot != object)
        m_retired.push_back(slot);
    slot = object;
    if (number + 1 > m_table.objectCount)
        m_table.objectCount = number + 1;
}

KVPDFObjectPtr KVPDFDocument::objectWithNumber(uint64_t number, uint64_t) const
{
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
    if (isMemberEntry(entry))
        return m_table.objectStreams.member(*this, entry->dataRange().location, entry->rawLength(), number);
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
    KVPDFObjectPtr object = parseEntry(entry, number, generation, contained);
    if (!object) {
        // A member that does not parse is no object: the table answers as for a number its
        // stream never held.
        if (isMemberEntry(entry) && objectWithNumber(number) == entry)
            removeObject(number);
        return nullptr;
    }
    // The entry may have been replaced while parsing (a nested resolution of the same number
    // cannot happen: the guard stops it), so store unconditionally.
    setObject(object, number, entryGeneration);
    return object;
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
