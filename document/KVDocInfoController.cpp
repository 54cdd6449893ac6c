#include "KVDocInfoController.h"

#include "JXFolivoDocument.h"
#include "KVLocalizedStrings.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectString.h"
#include "KVPDFReferenceTranslator.h"
#include "KVPDFTrailer.h"

namespace {
bool isNonEmptyString(const KVPDFObjectPtr &object)
{
    auto string = kv_cast<KVPDFObjectString>(KVPDFReferenceTranslator::readableValue(object, true));
    return string && !string->stringValue().isEmpty();
}

// Entries are replaced as a whole, from a changed copy.
void storeEntries(KVPDFObjectDictionary &info, const std::vector<std::pair<QByteArray, KVPDFObjectPtr>> &changes)
{
    std::vector<KVPDFObjectDictionary::Entry> entries = info.value();
    for (const auto &[key, object] : changes) {
        auto it = std::find_if(entries.begin(), entries.end(), [&](const auto &entry) { return entry.first == key; });
        if (it != entries.end())
            it->second = object;
        else
            entries.emplace_back(key, object);
    }
    info.setValue(std::move(entries));
}
}

void KVDocInfoController::setDocument(JXFolivoDocument *document)
{
    m_document = document;
    documentLoaded();
}

void KVDocInfoController::documentLoaded()
{
    if (!m_document || !m_document->pdfDocument() || m_document->pdfDocument()->awaitingPassword())
        return;
    ++m_loadCount;
}

QString KVDocInfoController::valueFrom(const KVPDFObjectDictionary *info, const QString &name, const QString &fallback)
{
    if (!info)
        return fallback;
    auto string = kv_cast<KVPDFObjectString>(KVPDFReferenceTranslator::readableValue(
        const_cast<KVPDFObjectDictionary *>(info)->objectForKey(name.toLatin1()), true));
    return string ? string->stringValue() : fallback;
}

std::shared_ptr<KVPDFObjectDictionary> KVDocInfoController::ensureInfo(KVPDFDocument &document)
{
    KVPDFTrailer *trailer = document.trailer();
    if (!trailer || !trailer->trailerDictionary())
        return nullptr;
    const auto &trailerDictionary = trailer->trailerDictionary();
    if (auto info = kv_cast<KVPDFObjectDictionary>(
            KVPDFReferenceTranslator::readableValue(trailerDictionary->objectForKey("Info"), true)))
        return info;
    auto info = KVPDFObjectDictionary::dictionaryWithDictionary({});
    trailerDictionary->setObject("Info", info);
    return info;
}

void KVDocInfoController::prepareToSave(KVPDFDocument &document, const QDateTime &now)
{
    auto info = ensureInfo(document);
    if (!info)
        return;
    std::vector<std::pair<QByteArray, KVPDFObjectPtr>> changes;
    if (!isNonEmptyString(info->objectForKey("Creator"))) {
        changes.emplace_back("Creator", KVPDFObjectString::stringWithString(KVBundleName));
        if (!isNonEmptyString(info->objectForKey("Producer")))
            changes.emplace_back("Producer", KVPDFObjectString::stringWithString(KVBundleName));
    }
    changes.emplace_back("ModDate", KVPDFObjectDate::dateWithDate(now));
    if (!info->objectForKey("CreationDate"))
        changes.emplace_back("CreationDate", KVPDFObjectDate::dateWithDate(now));
    storeEntries(*info, changes);
}

void KVDocInfoController::blankDocument(KVPDFDocument &document, const QDateTime &now)
{
    auto info = ensureInfo(document);
    if (!info)
        return;
    const auto empty = [] { return KVPDFObjectString::stringWithString(QString()); };
    storeEntries(*info, {{"Creator", KVPDFObjectString::stringWithString(KVBundleName)},
                         {"Producer", KVPDFObjectString::stringWithString(KVBundleName)},
                         {"ModDate", KVPDFObjectDate::dateWithDate(now)},
                         {"CreationDate", KVPDFObjectDate::dateWithDate(now)},
                         {"Title", empty()},
                         {"Author", empty()},
                         {"Subject", empty()},
                         {"Keywords", empty()}});
}
