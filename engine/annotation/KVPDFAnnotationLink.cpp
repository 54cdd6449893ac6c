#include "KVPDFAnnotationLink.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"

#include <QUrl>

#include <cmath>

namespace {
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

KVPDFObjectPtr resolved(const KVPDFObjectPtr &object) { return object ? object->resolvedObject() : nullptr; }

void put(Entries &entries, const QByteArray &key, const KVPDFObjectPtr &value)
{
    for (auto &entry : entries)
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    entries.emplace_back(key, value);
}

void drop(Entries &entries, const QByteArray &key)
{
    std::erase_if(entries, [&key](const auto &entry) { return entry.first == key; });
}

std::shared_ptr<KVPDFObjectDictionary> newLinkDictionary()
{
    return KVPDFObjectDictionary::dictionaryWithDictionary(
        {{"Type", KVPDFObjectName::nameWithBytes("Annot")}, {"Subtype", KVPDFObjectName::nameWithBytes("Link")}});
}
} // namespace

KVPDFAnnotationLink::KVPDFAnnotationLink(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
    : KVPDFAnnotation(dictionary, page)
{
    readLink();
}

KVColor KVPDFAnnotationLink::defaultLinkColor() { return KVColor::rgb(0.0f, 0.0f, 0.9f, 0.2f); }

KVPDFDocument *KVPDFAnnotationLink::linkDocument() const
{
    if (annotDict())
        if (KVPDFDocument *document = kvpdf::documentOf(*annotDict()))
            return document;
    std::shared_ptr<KVPDFPage> owner = page();
    return owner ? owner->document() : nullptr;
}

void KVPDFAnnotationLink::readLink()
{
    const std::shared_ptr<KVPDFObjectDictionary> &dictionary = annotDict();
    if (!dictionary)
        return;
    try {
        if (std::optional<KVColor> color = colorFromArray(dictionary->objectForKey("C")))
            setColor(*color, true);
        if (auto border = kv_cast<KVPDFObjectArray>(resolved(dictionary->objectForKey("Border")))) {
            KVPDFObjectPtr width = border->count() >= 3 ? border->resolvedObjectAtIndex(2) : nullptr;
            const float value = width ? width->realValue() : 1.0f;
            m_borderWidth = std::isfinite(value) ? value : 1.0f;
        }
        if (KVPDFObjectPtr dest = dictionary->objectForKey("Dest")) {
            m_linkType = LinkPage;
            readDestination(dest);
            return;
        }
        auto action = kv_cast<KVPDFObjectDictionary>(resolved(dictionary->objectForKey("A")));
        if (!action)
            return;
        const QByteArray kind = action->nameForKey("S");
        if (kind == "URI") {
            m_linkType = LinkURI;
            QString text;
            if (auto uri = kv_cast<KVPDFObjectString>(action->resolvedObjectForKey("URI")))
                text = uri->stringValue();
            text.remove(QLatin1Char(' '));
            text.remove(QChar(u'\0'));
            m_destinationText = text;
        } else if (kind == "GoToR") {
            m_linkType = LinkFile;
            KVPDFDocument *document = linkDocument();
            m_destinationText = KVPDFDestination::fileAddress(action->objectForKey("F"), document ? document->path() : QString());
        } else if (kind == "GoTo") {
            m_linkType = LinkPage;
            readDestination(action->objectForKey("D"));
        } else {
            kvLog(QStringLiteral("TBI: '%1' action not supported").arg(QString::fromLatin1(kind)));
        }
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("A link could not be read: %1").arg(QString::fromStdString(failure.reason())));
    }
}

void KVPDFAnnotationLink::readDestination(const KVPDFObjectPtr &value)
{
    KVPDFDocument *document = linkDocument();
    KVPDFObjectPtr dest = document ? document->resolveDestination(value) : resolved(value);
    if (!dest || dest->objectType() == KVPDFObject::TypeNull)
        return;
    auto array = kv_cast<KVPDFObjectArray>(dest);
    if (!array) {
        kvLog(QStringLiteral("found badly formed link Dest: %1").arg(dest->objectTypeName()));
        return;
    }
    m_fit = KVPDFFitOperands::fromArray(*array);
    KVPDFDestination target;
    if (document && target.readArray(*array, *document))
        m_destinationPage = target.page();
}

void KVPDFAnnotationLink::setColor(const KVColor &color, bool initialSet)
{
    m_color = color;
    if (initialSet)
        return;
    Entries changed = entries();
    put(changed, "C", arrayFromColor(color));
    storeEntries(std::move(changed));
}

void KVPDFAnnotationLink::setBorderWidth(float width, bool initialSet)
{
    m_borderWidth = width;
    if (initialSet)
        return;
    Entries changed = entries();
    put(changed, "Border",
        KVPDFObjectArray::arrayWithArray(
            {KVPDFObjectReal::realWithFloat(0), KVPDFObjectReal::realWithFloat(0), KVPDFObjectReal::realWithFloat(width)}));
    storeEntries(std::move(changed));
}

void KVPDFAnnotationLink::writePageDest(const std::shared_ptr<KVPDFPage> &target, const KVPDFFitOperands &operands)
{
    std::vector<KVPDFObjectPtr> elements;
    if (target && target->pageDictionary()) {
        elements.push_back(KVPDFObjectReference::referenceWithObject(target->pageDictionary()));
        operands.appendTo(elements);
    }
    Entries changed = entries();
    put(changed, "Dest", KVPDFObjectArray::arrayWithArray(std::move(elements)));
    drop(changed, "A");
    storeEntries(std::move(changed));
}

void KVPDFAnnotationLink::setDestinationPage(const std::shared_ptr<KVPDFPage> &target)
{
    m_linkType = LinkPage;
    m_destinationPage = target;
    m_destinationText.clear();
    m_fit = {};
    m_fit.fit = KVPDFFitOperands::Fit;
    writePageDest(target, m_fit);
}

void KVPDFAnnotationLink::setDestinationURL(const QString &url)
{
    m_linkType = LinkURI;
    m_destinationPage.reset();
    m_destinationText = url;
    Entries changed = entries();
    std::shared_ptr<KVPDFObjectDictionary> action;
    for (const auto &entry : changed)
        if (entry.first == "A")
            if (auto existing = kv_cast<KVPDFObjectDictionary>(resolved(entry.second)))
                action = kv_cast<KVPDFObjectDictionary>(existing->copy());
    if (action) {
        action->setObjectNumber(0);
        action->setGeneration(0);
    } else {
        action = KVPDFObjectDictionary::dictionaryWithDictionary({{"S", KVPDFObjectName::nameWithBytes("URI")}});
        drop(changed, "Dest");
    }
    action->setObject("URI", KVPDFObjectString::stringWithString(url));
    put(changed, "A", action);
    storeEntries(std::move(changed));
}

std::shared_ptr<KVPDFAnnotationLink> KVPDFAnnotationLink::linkWithRect(const QRectF &rect, const std::shared_ptr<KVPDFPage> &target,
                                                                       KVPDFPage *page, const KVPDFFitOperands &operands)
{
    std::vector<KVPDFObjectPtr> elements;
    if (target && target->pageDictionary() && !KVPDFFitOperands::nameForFit(operands.fit).isEmpty()) {
        elements.push_back(KVPDFObjectReference::referenceWithObject(target->pageDictionary()));
        operands.appendTo(elements);
    }
    auto dictionary = newLinkDictionary();
    dictionary->setObject("Dest", KVPDFObjectArray::arrayWithArray(std::move(elements)));
    auto link = std::make_shared<KVPDFAnnotationLink>(dictionary, page);
    link->setLocation(rect.topLeft());
    link->setSize(rect.size());
    return link;
}

std::shared_ptr<KVPDFAnnotationLink> KVPDFAnnotationLink::linkWithRect(const QRectF &rect, const std::shared_ptr<KVPDFPage> &target,
                                                                       KVPDFPage *page)
{
    KVPDFFitOperands fit;
    fit.fit = KVPDFFitOperands::Fit;
    return linkWithRect(rect, target, page, fit);
}

std::shared_ptr<KVPDFAnnotationLink> KVPDFAnnotationLink::linkWithRect(const QRectF &rect, const QString &url, KVPDFPage *page)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString address = parsed.isValid() && !url.isEmpty() ? parsed.adjusted(QUrl::NormalizePathSegments).toString() : QString();
    auto action = KVPDFObjectDictionary::dictionaryWithDictionary({{"Type", KVPDFObjectName::nameWithBytes("Action")},
                                                                    {"S", KVPDFObjectName::nameWithBytes("URI")},
                                                                    {"URI", KVPDFObjectString::stringWithString(address)}});
    auto dictionary = newLinkDictionary();
    dictionary->setObject("A", action);
    auto link = std::make_shared<KVPDFAnnotationLink>(dictionary, page);
    link->setLocation(rect.topLeft());
    link->setSize(rect.size());
    return link;
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationLink::copy() const
{
    std::shared_ptr<KVPDFAnnotationLink> link(new KVPDFAnnotationLink());
    copyAnnotationInto(*link);
    link->m_linkType = m_linkType;
    link->m_destinationPage = m_destinationPage;
    link->m_destinationText = m_destinationText;
    link->m_fit = m_fit;
    link->m_borderWidth = m_borderWidth;
    link->m_color = m_color;
    // A named target may mean nothing where the copy goes: the copy states its page itself.
    if (m_linkType == LinkPage)
        if (std::shared_ptr<KVPDFPage> target = destinationPage())
            link->writePageDest(target, m_fit);
    return link;
}
