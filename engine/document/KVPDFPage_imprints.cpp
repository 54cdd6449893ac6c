// The page's imprint list: stored imprints read back from the page, and the page's annotations.
#include "KVPDFPage.h"

#include "KVPDFAnnotation.h"
#include "KVPDFArchive.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVStringCompare.h"

#include <algorithm>
#include <cmath>

namespace {
double finiteElement(const std::shared_ptr<KVPDFObjectArray> &array, size_t index)
{
    if (!array || index >= array->count())
        return 0.0;
    KVPDFObjectPtr element = array->resolvedObjectAtIndex(index);
    const double value = element ? double(element->realValue()) : 0.0;
    return std::isfinite(value) ? value : 0.0;
}

std::shared_ptr<KVPDFImprint> readStoredImprint(const std::shared_ptr<KVPDFObjectStream> &form,
                                                KVPDFRebuiltImprintDocuments &rebuilt)
{
    const std::shared_ptr<KVPDFObjectDictionary> &formDictionary = form->dictionary();
    KVPDFObjectPtr box = formDictionary->resolvedObjectForKey("BBox");
    std::shared_ptr<KVPDFDocument> document = rebuilt.documentForForm(form, box);

    auto location = kv_cast<KVPDFObjectArray>(formDictionary->resolvedObjectForKey("FolivoLocation"));
    auto imprint = std::make_shared<KVPDFImprint>();
    imprint->setDocument(document);
    imprint->setLocation(QPointF(finiteElement(location, 0), finiteElement(location, 1)));
    // The size is the box's extent whichever corner comes first, like every other box we read.
    auto boxArray = kv_cast<KVPDFObjectArray>(box);
    imprint->setSize(QSizeF(std::abs(finiteElement(boxArray, 2) - finiteElement(boxArray, 0)),
                            std::abs(finiteElement(boxArray, 3) - finiteElement(boxArray, 1))));

    if (auto stored = kv_cast<KVPDFObjectStream>(formDictionary->resolvedObjectForKey("FolivoDictionary"))) {
        const QByteArray archived = stored->decodedData();
        if (std::optional<QVariantMap> dictionary = KVPDFArchive::unarchive(archived)) {
            // Saves never store "filename"; one found here was put there by someone else.
            dictionary->remove(QStringLiteral("filename"));
            imprint->setDictionary(*dictionary);
        } else {
            imprint->setOpaqueDictionaryData(archived);
        }
    }
    return imprint;
}
}

bool KVPDFPage::setupImprints(KVPDFRebuiltImprintDocuments &rebuilt)
{
    if (!m_pageDictionary)
        return false;
    bool found = false;
    try {
        if (!m_pageDictionary->objectForKey("FolivoImprints"))
            return false;
        // The page's own resources: imprints are written there, never into an ancestor's.
        auto resources = kv_cast<KVPDFObjectDictionary>(m_pageDictionary->resolvedObjectForKey("Resources"));
        auto xobjects = resources ? kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("XObject")) : nullptr;
        if (!xobjects)
            return false;
        std::vector<QByteArray> names;
        for (const QByteArray &name : xobjects->keys())
            if (name.startsWith("FolivoImprint"))
                names.push_back(name);
        std::sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
            return compareNumeric(QString::fromLatin1(a), QString::fromLatin1(b)) < 0;
        });
        for (const QByteArray &name : names) {
            try {
                auto form = kv_cast<KVPDFObjectStream>(xobjects->resolvedObjectForKey(name));
                if (!form || !form->dictionary()) {
                    kvLog(QStringLiteral("Stored imprint %1 is not a form object").arg(QString::fromLatin1(name)));
                    continue;
                }
                m_imprints.push_back(readStoredImprint(form, rebuilt));
                found = true;
            } catch (const FolivoException &failure) {
                kvLog(QStringLiteral("Stored imprint %1 unreadable: %2")
                          .arg(QString::fromLatin1(name), QString::fromStdString(failure.reason())));
            }
        }
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Stored imprints of page %1 unreadable: %2")
                  .arg(m_pageNumber + 1)
                  .arg(QString::fromStdString(failure.reason())));
    }
    return found;
}

void KVPDFPage::processAnnotations()
{
    if (m_annotationsRead.load(std::memory_order_acquire))
        return;
    // Another thread reading them meanwhile is waited for; this thread, asked again by an
    // annotation being made, finds the pass started below and goes on.
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (m_processedAnnotations.load(std::memory_order_relaxed))
        return;
    // Set first: an annotation class that asks the page for its imprints while being made must
    // not start a second pass, and a failure below is not retried on every request.
    m_processedAnnotations.store(true, std::memory_order_release);
    struct Done {
        std::atomic<bool> &read;
        ~Done() { read.store(true, std::memory_order_release); }
    } done{m_annotationsRead};
    if (!m_pageDictionary)
        return;
    std::shared_ptr<KVPDFObjectArray> annots;
    try {
        annots = kv_cast<KVPDFObjectArray>(m_pageDictionary->resolvedObjectForKey("Annots"));
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Annots of page %1 unreadable: %2")
                  .arg(m_pageNumber + 1)
                  .arg(QString::fromStdString(failure.reason())));
        return;
    }
    if (!annots)
        return;
    std::vector<std::shared_ptr<KVPDFAnnotation>> popups, parents;
    for (size_t i = 0; i < annots->count(); ++i) {
        try {
            KVPDFObjectPtr element = annots->resolvedObjectAtIndex(i);
            std::shared_ptr<KVPDFObjectDictionary> dictionary;
            if (auto stream = kv_cast<KVPDFObjectStream>(element))
                dictionary = stream->dictionary();
            else
                dictionary = kv_cast<KVPDFObjectDictionary>(element);
            if (!dictionary)
                continue;
            if (auto annotation = KVPDFAnnotation::annotationForDictionary(dictionary, this)) {
                m_imprints.push_back(annotation);
                const int type = annotation->annotationType();
                if (type == KVPDFAnnotation::AnnotationPopup)
                    popups.push_back(annotation);
                else if (type == KVPDFAnnotation::AnnotationText || type == KVPDFAnnotation::AnnotationFreeText)
                    parents.push_back(annotation);
            }
        } catch (const FolivoException &failure) {
            kvLog(QStringLiteral("Annotation %1 of page %2 unreadable: %3")
                      .arg(i)
                      .arg(m_pageNumber + 1)
                      .arg(QString::fromStdString(failure.reason())));
        }
    }
    // By object number: a Parent given as a direct dictionary names no annotation of the page.
    for (const auto &popup : popups) {
        const KVPDFObjectPtr parent = kvReadableEntry(popup->annotDict(), "Parent", u"Popup");
        const uint64_t number = parent ? parent->objectNumber() : 0;
        if (number == 0)
            continue;
        for (const auto &candidate : parents)
            if (candidate->originalObjectNumber() == number)
                popup->joinParent(candidate);
    }
}

const std::vector<std::shared_ptr<KVPDFImprint>> &KVPDFPage::imprints()
{
    processAnnotations();
    return m_imprints;
}

std::vector<std::shared_ptr<KVPDFImprint>> KVPDFPage::contentImprints() const
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (!m_processedAnnotations.load(std::memory_order_relaxed))
        return m_imprints;
    std::vector<std::shared_ptr<KVPDFImprint>> content;
    for (const auto &imprint : m_imprints)
        if (imprint->imprintType() == KVPDFImprint::ImprintContent)
            content.push_back(imprint);
    return content;
}

std::vector<std::shared_ptr<KVPDFAnnotation>> KVPDFPage::annotationImprints()
{
    processAnnotations();
    std::vector<std::shared_ptr<KVPDFAnnotation>> annotations;
    for (const auto &imprint : m_imprints)
        if (imprint->imprintType() == KVPDFImprint::ImprintAnnotation)
            if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint))
                annotations.push_back(annotation);
    return annotations;
}

std::vector<std::shared_ptr<KVPDFAnnotation>> KVPDFPage::widgets()
{
    std::vector<std::shared_ptr<KVPDFAnnotation>> found = annotationImprints();
    std::erase_if(found, [](const auto &a) { return a->annotationType() != KVPDFAnnotation::AnnotationWidget; });
    return found;
}

std::vector<std::shared_ptr<KVPDFAnnotation>> KVPDFPage::links()
{
    std::vector<std::shared_ptr<KVPDFAnnotation>> found = annotationImprints();
    std::erase_if(found, [](const auto &a) { return a->annotationType() != KVPDFAnnotation::AnnotationLink; });
    return found;
}

std::shared_ptr<KVPDFDocument> KVPDFPage::adopt(const std::shared_ptr<KVPDFImprint> &imprint)
{
    if (imprint && imprint->imprintType() == KVPDFImprint::ImprintAnnotation)
        if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint))
            return annotation->attachToPage(*this);
    return nullptr;
}

// Each setter keeps what the annotations let go of until it returns: that may be the last
// owner of this page's document, and so of this page.
void KVPDFPage::holdDocument()
{
    if (!m_heldDocument && m_document)
        m_heldDocument = m_document->weak_from_this().lock();
}

namespace {
void detach(const std::shared_ptr<KVPDFImprint> &imprint)
{
    if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint))
        annotation->detachFromPage();
}
}

void KVPDFPage::setImprints(std::vector<std::shared_ptr<KVPDFImprint>> imprints)
{
    for (const auto &old : m_imprints)
        if (std::find(imprints.begin(), imprints.end(), old) == imprints.end())
            detach(old);
    m_imprints = std::move(imprints);
    std::vector<std::shared_ptr<KVPDFDocument>> released;
    for (const auto &imprint : m_imprints)
        if (std::shared_ptr<KVPDFDocument> document = adopt(imprint))
            released.push_back(std::move(document));
}

void KVPDFPage::addImprint(const std::shared_ptr<KVPDFImprint> &imprint)
{
    if (!imprint)
        return;
    m_imprints.push_back(imprint);
    std::shared_ptr<KVPDFDocument> released = adopt(imprint);
    // A text field makes a form of the document, so the next save writes one.
    if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint); annotation && m_document)
        if (annotation->annotationType() == KVPDFAnnotation::AnnotationWidget && annotation->widgetType() == 1)
            m_document->setHasFields(true);
}

void KVPDFPage::insertImprint(const std::shared_ptr<KVPDFImprint> &imprint, size_t index)
{
    if (!imprint)
        return;
    m_imprints.insert(m_imprints.begin() + qsizetype(std::min(index, m_imprints.size())), imprint);
    std::shared_ptr<KVPDFDocument> released = adopt(imprint);
}

void KVPDFPage::removeImprintAtIndex(size_t index)
{
    if (index >= m_imprints.size())
        return;
    std::shared_ptr<KVPDFImprint> imprint = m_imprints[index];
    m_imprints.erase(m_imprints.begin() + qsizetype(index));
    // Still listed, the annotation is on this page: holding the document would make a cycle.
    if (std::find(m_imprints.begin(), m_imprints.end(), imprint) == m_imprints.end())
        detach(imprint);
}

void KVPDFPage::removeImprint(const std::shared_ptr<KVPDFImprint> &imprint)
{
    if (std::find(m_imprints.begin(), m_imprints.end(), imprint) == m_imprints.end())
        return;
    detach(imprint);
    std::erase(m_imprints, imprint);
}
