// The page's text side: its fonts.
#include "KVPDFPage.h"

#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"

#include <exception>
#include <functional>
#include <unordered_set>

std::mutex KVPDFPageLock;

namespace {

std::shared_ptr<KVPDFObjectDictionary> dictionaryOf(const KVPDFObjectPtr &object)
{
    if (!object)
        return nullptr;
    try {
        KVPDFObjectPtr value = object->resolvedObject();
        if (auto dictionary = kv_cast<KVPDFObjectDictionary>(value))
            return dictionary;
        if (auto stream = kv_cast<KVPDFObjectStream>(value))
            return stream->dictionary();
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page resource unreadable: %1").arg(QString::fromUtf8(failure.what())));
    }
    return nullptr;
}

std::shared_ptr<KVPDFObjectDictionary> dictionaryForKey(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                        QByteArrayView key)
{
    if (!dictionary)
        return nullptr;
    try {
        return dictionaryOf(dictionary->objectForKey(key));
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page resource unreadable: %1").arg(QString::fromUtf8(failure.what())));
        return nullptr;
    }
}

// The (key, value) entries of a dictionary, read safely.
std::vector<KVPDFObjectDictionary::Entry> entriesOf(const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    if (!dictionary)
        return {};
    try {
        return dictionary->value();
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page resource unreadable: %1").arg(QString::fromUtf8(failure.what())));
        return {};
    }
}

} // namespace

std::shared_ptr<KVPDFObjectDictionary> KVPDFPage::resources()
{
    if (!m_pageDictionary)
        return nullptr;
    try {
        return dictionaryOf(m_pageDictionary->objectFromAncestorsForKey("Resources"));
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page resources unreadable: %1").arg(QString::fromUtf8(failure.what())));
        return nullptr;
    }
}

std::shared_ptr<KVPDFFont> KVPDFPage::sharedFont(const KVPDFObjectPtr &fontObject, const QByteArray &name)
{
    std::shared_ptr<KVPDFObjectDictionary> dictionary = dictionaryOf(fontObject);
    if (!dictionary) {
        kvLog(QStringLiteral("Font %1 is no dictionary; left out").arg(QString::fromLatin1(name)));
        return nullptr;
    }
    if (m_document) {
        std::lock_guard<std::mutex> guard(KVPDFPageLock);
        if (std::shared_ptr<KVPDFFont> known = m_document->lookupFont(*dictionary))
            return known;
    }
    // Built outside the lock: building reads the font's objects, whose locks come before
    // KVPDFPageLock in the lock order, and other pages' fonts need not wait for it.
    std::shared_ptr<KVPDFFont> font = KVPDFFont::fontWithFontDictionary(dictionary);
    if (!font) {
        kvLog(QStringLiteral("Font %1 could not be read; left out").arg(QString::fromLatin1(name)));
        return nullptr;
    }
    if (m_document) {
        std::lock_guard<std::mutex> guard(KVPDFPageLock);
        // Another thread may have built the same font meanwhile: the one listed first is shared.
        if (std::shared_ptr<KVPDFFont> known = m_document->lookupFont(*dictionary))
            return known;
        m_document->addFont(font);
    }
    return font;
}

std::shared_ptr<KVPDFFont> KVPDFPage::fontNamed(const std::shared_ptr<KVPDFObjectDictionary> &resources, const QByteArray &name)
{
    std::shared_ptr<KVPDFObjectDictionary> fonts = dictionaryForKey(resources, "Font");
    KVPDFObjectPtr object;
    try {
        object = fonts ? fonts->objectForKey(name) : nullptr;
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page resource unreadable: %1").arg(QString::fromUtf8(failure.what())));
    }
    if (!object) {
        kvLog(QStringLiteral("Font %1 is not in the resources").arg(QString::fromLatin1(name)));
        return nullptr;
    }
    return sharedFont(object, name);
}

void KVPDFPage::addPageFont(const QByteArray &name, const std::shared_ptr<KVPDFFont> &font, bool own)
{
    if (!font)
        return;
    if (own)
        m_pageFonts[name] = font;
    else
        m_pageFonts.try_emplace(name, font);
}

void KVPDFPage::setupFontInfo(const std::shared_ptr<KVPDFObjectDictionary> &resources)
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    for (const auto &[name, object] : entriesOf(dictionaryForKey(resources, "Font")))
        if (std::shared_ptr<KVPDFFont> font = sharedFont(object, name))
            m_pageFonts[name] = font;
}

std::vector<KVPDFPage::FontUse> KVPDFPage::fontsInResources()
{
    std::vector<FontUse> uses;
    std::unordered_set<const KVPDFObject *> walked;
    // Explicit recursion with a depth bound; each resource dictionary is walked once, which
    // also cuts cycles (a form whose resources hold itself).
    std::function<void(const std::shared_ptr<KVPDFObjectDictionary> &, const QByteArray &, int)> walk =
        [&](const std::shared_ptr<KVPDFObjectDictionary> &resources, const QByteArray &prefix, int depth) {
            if (!resources || depth > kMaxResourceDepth || !walked.insert(resources.get()).second)
                return;
            for (const auto &[name, object] : entriesOf(dictionaryForKey(resources, "Font")))
                uses.push_back({prefix + name, object, sharedFont(object, name)});
            for (const char *kind : {"XObject", "Pattern"}) {
                for (const auto &[name, object] : entriesOf(dictionaryForKey(resources, kind))) {
                    std::shared_ptr<KVPDFObjectDictionary> child = dictionaryOf(object);
                    if (!child)
                        continue;
                    walk(dictionaryForKey(child, "Resources"), prefix + name + '/', depth + 1);
                }
            }
        };
    walk(resources(), QByteArray(), 0);
    return uses;
}
