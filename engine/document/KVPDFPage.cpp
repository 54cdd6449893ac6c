#include "KVPDFPage.h"

#include "KVPDFAnnotation.h"
#include "KVPDFImprint.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFImport.h"
#include "KVPDFFilters.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFServices.h"

#include <algorithm>
#include <cmath>

namespace {
// Each part is capped by its filters, but a Contents array may list one huge stream thousands
// of times; the joined stream gets the same cap as a single decoded one.
constexpr qsizetype kMaxJoinedContentSize = KVPDFMaxDecodedSize;

// The page's value for `key`, through the Parent chain; nullptr when it, or a node on the way,
// cannot be read: one unreadable object must not make the page unusable.
KVPDFObjectPtr inheritedValue(const std::shared_ptr<KVPDFObjectDictionary> &page, const char *key)
{
    if (!page)
        return nullptr;
    try {
        return page->objectFromAncestorsForKey(key);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("The page's %1 could not be read and is taken as absent: %2")
                  .arg(QLatin1String(key))
                  .arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
}
}

KVPDFPage::KVPDFPage() = default;
KVPDFPage::~KVPDFPage() = default;

std::shared_ptr<KVPDFPage> KVPDFPage::pageWithDocument(KVPDFDocument *document, uint64_t number,
                                                       const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    auto page = std::make_shared<KVPDFPage>();
    page->m_document = document;
    page->m_pageNumber = number;
    page->m_pageDictionary = dictionary;
    return page;
}

std::shared_ptr<KVPDFPage> KVPDFPage::pageWithData(const QByteArray &data, uint64_t number,
                                                   const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(data, &result);
    auto page = pageWithDocument(document.get(), number, dictionary);
    page->m_heldDocument = document;
    return page;
}

std::shared_ptr<KVPDFDocument> KVPDFPage::releaseHeldDocument(const KVPDFDocument *document)
{
    if (!m_heldDocument || m_heldDocument.get() != document)
        return nullptr;
    return std::move(m_heldDocument);
}

void KVPDFPage::setPageDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    m_pageDictionary = dictionary;
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    m_cachedMediaBox.reset();
    m_cachedCropBox.reset();
    m_cachedRotation.reset();
}

QRectF KVPDFPage::getPDFRectFromArray(const KVPDFObjectPtr &object)
{
    double v[4];
    try {
        auto array = kv_cast<KVPDFObjectArray>(object ? object->resolvedObject() : nullptr);
        if (!array || array->count() < 4)
            return QRectF();
        for (size_t i = 0; i < 4; ++i) {
            KVPDFObjectPtr element = array->resolvedObjectAtIndex(i);
            v[i] = element ? double(element->realValue()) : 0.0;
            if (!std::isfinite(v[i]))
                v[i] = 0;
        }
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("A rectangle could not be read and is taken as empty: %1")
                  .arg(QString::fromStdString(failure.reason())));
        return QRectF();
    }
    // Some producers write the upper-right corner first; readers agree on the normalised box.
    const double x0 = std::min(v[0], v[2]), x1 = std::max(v[0], v[2]);
    const double y0 = std::min(v[1], v[3]), y1 = std::max(v[1], v[3]);
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

std::shared_ptr<KVPDFObjectArray> KVPDFPage::makePDFRect(const QRectF &rect)
{
    return KVPDFObjectArray::arrayWithArray({KVPDFObjectReal::realWithFloat(float(rect.x())),
                                             KVPDFObjectReal::realWithFloat(float(rect.y())),
                                             KVPDFObjectReal::realWithFloat(float(rect.x() + rect.width())),
                                             KVPDFObjectReal::realWithFloat(float(rect.y() + rect.height()))});
}

QRectF KVPDFPage::mediaBox()
{
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        if (m_cachedMediaBox)
            return *m_cachedMediaBox;
    }
    QRectF box;
    if (m_pageDictionary)
        box = getPDFRectFromArray(inheritedValue(m_pageDictionary, "MediaBox"));
    if (box.width() == 0 && box.height() == 0) {
        // Writes into the page: one thread at a time, and only once.
        std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
        {
            std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
            if (m_cachedMediaBox)
                return *m_cachedMediaBox;
        }
        box = QRectF(QPointF(0, 0), KVPDFServices::installed()->defaultPaper.orientedSize());
        replacePageDictionaryWith("MediaBox", makePDFRect(box));
    }
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    if (!m_cachedMediaBox)
        m_cachedMediaBox = box;
    return *m_cachedMediaBox;
}

std::optional<QRectF> KVPDFPage::cropBox()
{
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        if (m_cachedCropBox)
            return *m_cachedCropBox;
    }
    std::optional<QRectF> box;
    KVPDFObjectPtr object = inheritedValue(m_pageDictionary, "CropBox");
    if (kv_cast<KVPDFObjectArray>(object))
        box = getPDFRectFromArray(object);
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    if (!m_cachedCropBox)
        m_cachedCropBox = box;
    return *m_cachedCropBox;
}

std::optional<int> KVPDFPage::rotate()
{
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        if (m_cachedRotation)
            return *m_cachedRotation;
    }
    std::optional<int> rotation;
    KVPDFObjectPtr object = inheritedValue(m_pageDictionary, "Rotate");
    if (object && (object->objectType() == KVPDFObject::TypeInteger || object->objectType() == KVPDFObject::TypeReal)) {
        int64_t angle = object->longLongValue() % 360;
        if (angle < 0)
            angle += 360;
        rotation = int(angle);
    }
    std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
    if (!m_cachedRotation)
        m_cachedRotation = rotation;
    return *m_cachedRotation;
}

void KVPDFPage::setRotate(int angle)
{
    int normalised = angle % 360;
    if (normalised < 0)
        normalised += 360;
    replacePageDictionaryWith("Rotate", KVPDFObjectInteger::integerWithLongLong(normalised));
}

void KVPDFPage::replacePageDictionaryWith(QByteArrayView key, const KVPDFObjectPtr &value)
{
    // A new dictionary object under the old number, entered in the table again, so the change
    // is what every reference to the page sees.
    auto dictionary =
        m_pageDictionary ? kv_cast<KVPDFObjectDictionary>(m_pageDictionary->copy()) : std::make_shared<KVPDFObjectDictionary>();
    if (m_pageDictionary) {
        dictionary->setObjectNumber(m_pageDictionary->objectNumber());
        dictionary->setGeneration(m_pageDictionary->generation());
        dictionary->setDirect(m_pageDictionary->isDirect());
    }
    dictionary->setObject(key, value);
    setPageDictionary(dictionary);
    if (m_document && dictionary->objectNumber())
        m_document->setObject(dictionary, dictionary->objectNumber(), dictionary->generation());
}

QRectF KVPDFPage::croppedMediaBox()
{
    QRectF box = mediaBox();
    if (auto crop = cropBox()) {
        const QRectF cut = box.intersected(*crop);
        box = cut.isValid() ? cut : box;
    }
    const int angle = rotate().value_or(0);
    if (angle == 90 || angle == 270)
        box = QRectF(box.topLeft(), box.size().transposed());
    return box;
}

bool KVPDFPage::isLiveImprintStream(const std::shared_ptr<KVPDFObjectStream> &stream)
{
    if (!stream || !stream->dictionary() || !stream->dictionary()->objectForKey("FolivoImprint"))
        return false;
    auto flattened = kv_cast<KVPDFObjectBoolean>(stream->dictionary()->resolvedObjectForKey("Flattened"));
    return !(flattened && flattened->boolValue());
}

QByteArray KVPDFPage::joinedContent(const std::vector<std::shared_ptr<KVPDFObjectStream>> &parts, const QString &owner)
{
    QByteArray joined;
    for (const auto &stream : parts) {
        if (!stream)
            continue;
        const QByteArray part = stream->decodedData();
        // Checked before appending, so the join never grows past the cap, however often one
        // stream is listed.
        if (part.size() >= kMaxJoinedContentSize - joined.size()) {
            kvLog(QStringLiteral("%1: joined content would exceed %2 bytes; kept the first %3 bytes")
                      .arg(owner)
                      .arg(kMaxJoinedContentSize)
                      .arg(joined.size()));
            break;
        }
        joined.append(part);
        // Content streams join as if separated by white space, so "Q" and "q" never fuse.
        joined.append('\n');
    }
    return joined;
}

std::vector<std::shared_ptr<KVPDFObjectStream>> KVPDFPage::contentStreams()
{
    // The joined stream is kept on the page.
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    std::vector<std::shared_ptr<KVPDFObjectStream>> streams;
    if (!m_pageDictionary)
        return streams;
    KVPDFObjectPtr contents = m_pageDictionary->resolvedObjectForKey("Contents");
    if (auto single = kv_cast<KVPDFObjectStream>(contents)) {
        streams.push_back(single);
        return streams;
    }
    auto array = kv_cast<KVPDFObjectArray>(contents);
    if (!array)
        return streams;
    for (size_t i = 0; i < array->count(); ++i) {
        auto stream = kv_cast<KVPDFObjectStream>(array->resolvedObjectAtIndex(i));
        if (stream && !isLiveImprintStream(stream))
            streams.push_back(stream);
    }
    if (streams.size() <= 1)
        return streams;
    std::vector<std::shared_ptr<KVPDFObjectStream>> parts;
    for (const auto &stream : streams)
        if (!stream->dictionary() || !stream->dictionary()->objectForKey("FolivoMarker"))
            parts.push_back(stream);
    const QByteArray joined = joinedContent(parts, QStringLiteral("Page at index %1").arg(m_pageNumber));
    qsizetype whole = 0;
    bool complete = true;
    for (const auto &part : parts) {
        whole += part->decodedData().size() + 1;
        complete = complete && part->decodeComplete();
    }
    m_joinedContentWhole = complete && whole == joined.size();
    m_potentialNewStream = KVPDFObjectStream::streamByDeflatingData(joined);
    m_potentialNewStream->setContext(m_document);
    return {m_potentialNewStream};
}

void KVPDFPage::useNewStream()
{
    if (!m_potentialNewStream || m_usingNewContentStream || !m_pageDictionary || !m_document)
        return;
    // A fresh object: the old streams may be shared with other pages and stay as they are.
    const uint64_t number = std::max<uint64_t>(m_document->objectCount(), 1);
    m_document->setObject(m_potentialNewStream, number, 0);
    m_potentialNewStream->setDirect(false);
    std::vector<KVPDFObjectPtr> contents{KVPDFObjectReference::referenceWithObject(m_potentialNewStream)};
    m_pageDictionary->setObject("Contents", KVPDFObjectArray::arrayWithArray(std::move(contents)));
    if (m_pageDictionary->objectNumber())
        m_document->setObject(m_pageDictionary, m_pageDictionary->objectNumber(), m_pageDictionary->generation());
    m_usingNewContentStream = true;
}

void KVPDFPage::resetContent()
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    m_potentialNewStream.reset();
    m_usingNewContentStream = false;
    m_joinedContentWhole = true;
    {
        std::lock_guard<std::mutex> guard(kvpdf::lazyStateLock(this));
        m_cachedMediaBox.reset();
        m_cachedCropBox.reset();
        m_cachedRotation.reset();
    }
    m_pageFonts.clear();
    if (m_rewrites) {
        std::lock_guard<std::mutex> guard(KVPDFPageLock);
        m_rewrites->clear();
    }
    m_content.reset();
    // The links stay until the next selection preparation replaces them.
    m_pageString.reset();
    m_baselines.clear();
    m_preparedForSelection.store(false, std::memory_order_release);
    m_preparedForSearch.store(false, std::memory_order_release);
}

void KVPDFPage::removeExtraObject(const KVPDFObjectPtr &object)
{
    m_extraObjects.erase(std::remove(m_extraObjects.begin(), m_extraObjects.end(), object), m_extraObjects.end());
}

std::shared_ptr<KVPDFPage> KVPDFPage::copy() const
{
    auto page = std::make_shared<KVPDFPage>();
    page->m_document = m_document;
    // The copy may outlive whoever owns the document now; its objects still resolve through it.
    page->m_heldDocument = m_heldDocument;
    if (!page->m_heldDocument && m_document)
        page->m_heldDocument = m_document->weak_from_this().lock();
    page->m_pageNumber = m_pageNumber;
    if (m_pageDictionary) {
        auto dictionary = kv_cast<KVPDFObjectDictionary>(m_pageDictionary->copy());
        dictionary->setObjectNumber(m_pageDictionary->objectNumber());
        dictionary->setGeneration(m_pageDictionary->generation());
        page->m_pageDictionary = dictionary;
    }
    page->m_extraObjects = m_extraObjects;
    // Content imprints and annotations are copied; links to a page of this document are left
    // out, since the copy may land in another document or place.
    for (const auto &imprint : m_imprints) {
        if (!imprint)
            continue;
        if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint))
            if (annotation->leadsToPage())
                continue;
        page->m_imprints.push_back(imprint->copy());
        // The page copy holds the document, so what an annotation copy lets go of here is
        // never its last owner.
        (void)page->adopt(page->m_imprints.back());
    }
    page->m_processedAnnotations.store(m_processedAnnotations.load(std::memory_order_acquire), std::memory_order_relaxed);
    page->m_annotationsRead.store(m_annotationsRead.load(std::memory_order_acquire), std::memory_order_relaxed);
    // A prepared page hands its prepared text on: the same runs, fonts and page string, and
    // its own list of the same lines.
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (preparedForSearch()) {
        page->m_content = m_content.shared();
        page->m_pageFonts = m_pageFonts;
        page->m_pageString = m_pageString;
        page->m_baselines = m_baselines;
        page->m_clickableURLs = m_clickableURLs;
        page->m_lastFontName = m_lastFontName;
        page->m_lastFontMatch = m_lastFontMatch;
        page->m_preparedForSelection.store(preparedForSelection(), std::memory_order_relaxed);
        page->m_preparedForSearch.store(true, std::memory_order_relaxed);
    }
    return page;
}

std::vector<std::shared_ptr<KVPDFDocument>> KVPDFPage::moveToDocument(KVPDFDocument &target)
{
    std::vector<std::shared_ptr<KVPDFDocument>> released;
    if (m_document == &target || !m_document) {
        if (std::shared_ptr<KVPDFDocument> document = releaseHeldDocument(&target))
            released.push_back(std::move(document));
        return released;
    }
    KVPDFImport import(target);
    std::shared_ptr<KVPDFObjectDictionary> dictionary;
    try {
        if (m_pageDictionary) {
            // Pages are written under one flat root: what the old tree gave the page becomes
            // its own, and the link into that tree goes.
            dictionary = kv_cast<KVPDFObjectDictionary>(import.addCopy(m_pageDictionary));
            if (!dictionary)
                return released;
            for (const char *key : kInheritableKeys) {
                if (dictionary->objectForKey(key))
                    continue;
                if (KVPDFObjectPtr inherited = m_pageDictionary->objectFromAncestorsForKey(key))
                    dictionary->setObject(key, inherited->objectNumber() != 0
                                                   ? KVPDFObjectReference::referenceWithObject(inherited)
                                                   : inherited->copy());
            }
            dictionary->removeObjectForKey("Parent");
        }
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Page %1 could not be brought into the document and keeps its own: %2")
                  .arg(m_pageNumber + 1)
                  .arg(QString::fromStdString(failure.reason())));
        return released;
    }
    // Objects added by edits are the page's own: their copies replace them.
    std::vector<KVPDFObjectPtr> extras;
    for (const KVPDFObjectPtr &extra : m_extraObjects)
        if (KVPDFObjectPtr copy = import.add(extra))
            extras.push_back(copy);
    std::vector<std::shared_ptr<KVPDFAnnotation>> annotations;
    for (const auto &imprint : m_imprints)
        if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint)) {
            annotation->importInto(import);
            annotations.push_back(annotation);
        }
    import.finish();

    m_document = &target;
    if (dictionary)
        setPageDictionary(dictionary);
    resetContent();
    m_extraObjects = std::move(extras);
    // The target's page list holds the page from now on.
    if (m_heldDocument)
        released.push_back(std::move(m_heldDocument));
    for (const auto &annotation : annotations)
        if (std::shared_ptr<KVPDFDocument> document = annotation->attachToPage(*this))
            released.push_back(std::move(document));
    return released;
}

size_t KVPDFPage::streamIndex(const std::vector<KVPDFRange> &ranges, uint64_t position)
{
    for (size_t i = 0; i < ranges.size(); ++i)
        if (ranges[i].location <= position && position < ranges[i].location + ranges[i].length)
            return i;
    return 0;
}
