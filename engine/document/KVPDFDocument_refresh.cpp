// Bytes rebuilt and read again in place: the plain copy of an encrypted file and the working
// copy made at open, and the refresh after objects of the table changed in memory. The page
// objects survive every one of them (the layers above hold them, with their imprints).
#include "KVPDFDocument.h"

#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFTrailer.h"
#include "KVPDFXrefWriter.h"

#include <algorithm>
#include <map>
#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

// A copy that refers to nothing: references are replaced by copies of their targets. The
// security state outlives the object table it was read from, and a reference into a table
// that is gone would lead nowhere. Encrypt dictionaries are small and shallow; the depth
// bound only stops a hostile one that refers to itself.
KVPDFObjectPtr detachedCopy(const KVPDFObjectPtr &object, int depth = 0)
{
    if (!object || depth > 16)
        return nullptr;
    KVPDFObjectPtr value = object;
    if (value->objectType() == KVPDFObject::TypeReference)
        value = value->resolvedObject();
    if (!value || value->objectType() == KVPDFObject::TypeReference)
        return nullptr;
    if (auto dictionary = kv_cast<KVPDFObjectDictionary>(value)) {
        std::vector<KVPDFObjectDictionary::Entry> entries;
        for (const auto &[key, entry] : dictionary->value())
            if (KVPDFObjectPtr copy = detachedCopy(entry, depth + 1))
                entries.emplace_back(key, copy);
        return KVPDFObjectDictionary::dictionaryWithDictionary(std::move(entries));
    }
    if (auto array = kv_cast<KVPDFObjectArray>(value)) {
        std::vector<KVPDFObjectPtr> elements;
        for (const auto &element : array->value())
            elements.push_back(detachedCopy(element, depth + 1));
        return KVPDFObjectArray::arrayWithArray(std::move(elements));
    }
    return value->copy();
}

bool isStructureStream(const KVPDFObjectPtr &object)
{
    auto stream = kv_cast<KVPDFObjectStream>(object);
    if (!stream || !stream->dictionary())
        return false;
    const QByteArray type = stream->dictionary()->nameForKey("Type");
    return type == "ObjStm" || type == "XRef";
}
}

KVPDFOpenResult KVPDFDocument::decryptedRewrite()
{
    QByteArray plain;
    {
        // While decrypting, the writer writes no Encrypt dictionary and nothing encrypted.
        const EncryptionStatus saved = m_security.encryptionStatus;
        m_security.encryptionStatus = EncryptionDecrypting;
        plain = currentDataWithImprints(true, 0);
        m_security.encryptionStatus = saved;
    }
    if (plain.isEmpty()) {
        kvLog(QStringLiteral("The decrypted copy could not be written; the file is read as it is"));
        return KVPDFOpenOK;
    }

    // What the next save needs to encrypt again, held apart from the table that goes now.
    Security kept = m_security;
    kept.encryptDictionary = kv_cast<KVPDFObjectDictionary>(detachedCopy(m_security.encryptDictionary));
    const std::shared_ptr<KVPDFObjectArray> docID = m_contents.docID;

    reset();
    m_bytes.data = plain;
    if (!versionAndEOF() || !workTrailer()) {
        kvLog(QStringLiteral("The decrypted copy does not read back"));
        return KVPDFOpenBroken;
    }
    m_contents.docID = docID;
    const KVPDFOpenResult result = finishOpen();

    // The plain copy is read in clear from now on; the rest of the security state is for writing.
    m_security = std::move(kept);
    if (m_security.encryptDictionary)
        m_security.encryptDictionary->setContext(this);
    m_security.readKey.clear();
    m_security.encryptionStatus = m_security.encryptKey.isEmpty() ? EncryptionNone : EncryptionEncrypting;
    m_structure.pastDecryption = true;
    return result;
}

void KVPDFDocument::workingCopyRewrite()
{
    const QByteArray working = currentDataWithImprints(false);
    if (working.isEmpty()) {
        kvLog(QStringLiteral("The working copy could not be written; the file's own bytes stay in use"));
        return;
    }
    readDocDataOrKeep(working, QStringLiteral("The working copy does not read back; the file's own bytes stay in use"));
}

bool KVPDFDocument::readDocDataOrKeep(const QByteArray &data, const QString &failure)
{
    const QByteArray previous = m_bytes.data;
    m_bytes.data = data;
    if (refreshDocData())
        return true;
    kvLog(failure);
    m_bytes.data = previous;
    refreshDocData();
    return false;
}

bool KVPDFDocument::updateDocData()
{
    const QByteArray changed = changedDocData();
    if (changed.isEmpty())
        return false;
    if (!readDocDataOrKeep(changed, QStringLiteral("The rebuilt document does not read back; the previous bytes stay in use")))
        return false;
    const QByteArray working = currentDataWithImprints(false);
    if (!working.isEmpty())
        m_bytes.data = working;
    return true;
}

QByteArray KVPDFDocument::changedDocData()
{
    if (!m_structure.rootObject)
        return QByteArray();
    // Always plain: this is the engine's own copy, never a file for others.
    const EncryptionStatus savedStatus = m_security.encryptionStatus;
    m_security.encryptionStatus = EncryptionNone;

    std::vector<uint64_t> numbers;
    numbers.reserve(m_table.objects.size());
    for (const auto &entry : m_table.objects)
        numbers.push_back(entry.first);
    std::sort(numbers.begin(), numbers.end());
    const uint64_t size = numbers.empty() ? 1 : numbers.back() + 1;

    QByteArray out = "%PDF-1.3" + m_bytes.eol;
    KVPDFXrefWriter xref;
    for (uint64_t number : numbers) {
        KVPDFObjectPtr object;
        try {
            const KVPDFObjectPtr entry = objectWithNumber(number);
            object = resolveObject(number, entry ? entry->generation() : 0);
            // A null object and a free entry mean the same.
            if (!object || object->objectType() == KVPDFObject::TypeUnknown || object->objectType() == KVPDFObject::TypeNull
                || object->objectType() == KVPDFObject::TypeReference || isStructureStream(object))
                continue;
            const QByteArray text = object->indirectObject();
            xref.addObject(number, uint64_t(out.size()), object->generation());
            out.append(text);
        } catch (const FolivoException &failure) {
            kvLog(QStringLiteral("Object %1 could not be read and is left out: %2")
                      .arg(number)
                      .arg(QString::fromStdString(failure.reason())));
        }
    }

    const uint64_t xrefOffset = uint64_t(out.size());
    out.append(xref.tableWithOneSection(0, size, 0, m_bytes.eol));

    // A fresh trailer: the newest section's dictionary may be a cross-reference stream's, whose
    // W, Index and Filter describe a table that is not there.
    auto trailer = std::make_shared<KVPDFObjectDictionary>();
    trailer->setObject("Size", KVPDFObjectInteger::integerWithLongLong(int64_t(size)));
    trailer->setObject("Root", KVPDFObjectReference::referenceWithObject(m_structure.rootObject));
    const Dictionary oldTrailer = m_structure.trailer ? m_structure.trailer->trailerDictionary() : nullptr;
    if (KVPDFObjectPtr info = oldTrailer ? oldTrailer->objectForKey("Info") : nullptr)
        trailer->setObject("Info", info->copy());
    // The refreshed bytes have no older trailer left to hold it: the version that wrote the
    // file decides how its markups' quadrilaterals are read.
    if (KVPDFObjectPtr version = m_structure.trailer ? m_structure.trailer->entryAlongChain("FolivoVersion") : nullptr)
        trailer->setObject("FolivoVersion", version->copy());
    if (m_contents.docID)
        trailer->setObject("ID", m_contents.docID->copy());
    out.append(KVPDFXrefWriter::trailerAndEnd(trailer, xrefOffset, m_bytes.eol));
    m_security.encryptionStatus = savedStatus;
    return out;
}

bool KVPDFDocument::refreshDocData()
{
    // The old objects may still be held (annotations, the layers above): keep them alive, and
    // take them apart only with the document.
    for (auto &entry : m_table.objects)
        if (entry.second)
            m_retired.push_back(entry.second);
    m_table = {};
    m_structure = {};

    if (!readStructureAgain())
        return false;
    if (auto version = kv_cast<KVPDFObjectName>(m_structure.rootObject->resolvedObjectForKey("Version")))
        if (!version->stringValue().isEmpty())
            m_bytes.pdfVersion = version->stringValue();
    m_structure.hasFields = m_structure.rootObject->objectForKey("AcroForm") != nullptr;
    setPagesObject(kv_cast<KVPDFObjectDictionary>(m_structure.rootObject->resolvedObjectForKey("Pages")));
    givePagesTheirDictionaries(pageDictionariesInTree());
    return true;
}

bool KVPDFDocument::readStructureAgain()
{
    try {
        if (!versionAndEOF() || !workTrailer())
            return false;
        auto trailerDictionary = m_structure.trailer->trailerDictionary();
        // Rebuilt bytes are plain; only bytes still encrypted keep the read key.
        if (!trailerDictionary->objectForKey("Encrypt"))
            m_security.readKey.clear();
        if (!trailerDictionary->objectForKey("Encrypt") || isDecrypting())
            m_structure.trailer->handleAllDeferredResolves(&m_table.objectStreams);
        if (!m_structure.rootObject)
            m_structure.rootObject = kv_cast<KVPDFObjectDictionary>(trailerDictionary->resolvedObjectForKey("Root"));
        return m_structure.rootObject != nullptr;
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Exception: %1").arg(QString::fromStdString(failure.reason())));
        return false;
    }
}

void KVPDFDocument::givePagesTheirDictionaries(const std::vector<std::shared_ptr<KVPDFObjectDictionary>> &leaves)
{
    // Pages are matched by object number: the page list may have been reordered since the
    // bytes were made, so the i-th page need not be the i-th page of the tree.
    std::map<std::pair<uint64_t, uint64_t>, size_t> byNumber;
    for (size_t i = 0; i < leaves.size(); ++i)
        if (leaves[i]->objectNumber() != 0)
            byNumber.emplace(std::make_pair(leaves[i]->objectNumber(), leaves[i]->generation()), i);
    std::vector<bool> taken(leaves.size(), false);
    std::vector<KVPDFPage *> unmatched;
    size_t ownPages = 0;
    for (const auto &page : m_contents.pages) {
        if (!page || page->document() != this)
            continue; // a page brought in from another document keeps its own dictionary
        const Dictionary &old = page->pageDictionary();
        auto it = old ? byNumber.find({old->objectNumber(), old->generation()}) : byNumber.end();
        if (it == byNumber.end() && old && old->objectNumber() != 0) {
            // A page imported since the tree was written is in the table but in no tree: the
            // rebuilt bytes hold its dictionary under its own number. A renumbered rewrite puts
            // every page in its tree, so a page dictionary found here outside the tree is it.
            auto own = kv_cast<KVPDFObjectDictionary>(resolveObject(old->objectNumber(), old->generation()));
            if (own && own->nameForKey("Type") == "Page") {
                page->setPageDictionary(own);
                page->resetContent();
                continue;
            }
        }
        ++ownPages;
        if (it == byNumber.end() || taken[it->second]) {
            unmatched.push_back(page.get());
            continue;
        }
        taken[it->second] = true;
        page->setPageDictionary(leaves[it->second]);
        page->resetContent();
    }
    // Numbers change when the bytes were a complete rewrite; the order did not.
    if (!unmatched.empty() && ownPages == leaves.size()) {
        size_t next = 0;
        for (KVPDFPage *page : unmatched) {
            while (next < leaves.size() && taken[next])
                ++next;
            if (next == leaves.size())
                break;
            taken[next] = true;
            page->setPageDictionary(leaves[next]);
            page->resetContent();
        }
    } else if (!unmatched.empty()) {
        kvLog(QStringLiteral("%1 pages were not found in the re-read page tree and keep their old dictionaries")
                  .arg(unmatched.size()));
    }
}
