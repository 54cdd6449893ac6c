// The open road: header and line end, the cross-reference chain, security, the page tree.
#include "KVPDFDocument.h"

#include "KVIdentifiers.h"
#include "KVPDFExceptions.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectString.h"
#include "KVPDFOutline.h"
#include "KVPDFPage.h"
#include "KVPDFParser.h"
#include "KVPDFServices.h"
#include "KVPDFTrailer.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <limits>
#include <unordered_set>

namespace {
// The ID the blank-document template carries; documents made from it get a fresh one.
const QByteArray kTemplateID("\x7B\xEC\x2A\x5E\xD9\x3F\x94\xFA\xA0\x41\xDE\xAC\x2A\xEB\xF1\x3B", 16);
}

std::shared_ptr<KVPDFDocument> KVPDFDocument::documentWithData(const QByteArray &data, KVPDFOpenResult *result,
                                                               const KVPDFRedrawConsent &consent, KVPDFOpenMode mode)
{
    auto document = std::make_shared<KVPDFDocument>();
    const KVPDFOpenResult code = document->openData(data, consent, mode);
    if (result)
        *result = code;
    return document;
}

std::shared_ptr<KVPDFDocument> KVPDFDocument::documentWithContentsOfFile(const QString &path, KVPDFOpenResult *result,
                                                                         const KVPDFRedrawConsent &consent, KVPDFOpenMode mode)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        kvLog(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        if (result)
            *result = KVPDFOpenBroken;
        return nullptr;
    }
    // One buffer of the file's size: readAll() grows its buffer in steps, which for a large
    // file holds a third more memory than the file for as long as the document lives.
    QByteArray bytes;
    const qint64 size = file.size();
    if (size > 0 && size < qint64(std::numeric_limits<qsizetype>::max())) {
        // Allocated at its exact size (resize() would round the capacity up).
        bytes = QByteArray(qsizetype(size), Qt::Uninitialized);
        const qint64 read = file.read(bytes.data(), size);
        bytes.resize(qsizetype(std::max<qint64>(read, 0)));
        if (read == size && !file.atEnd())
            bytes += file.readAll(); // the file grew while it was read
    } else {
        bytes = file.readAll();
    }
    // The path is known while the open reads the outline: a link to another file is resolved
    // against this one's folder.
    auto document = std::make_shared<KVPDFDocument>();
    document->setPath(path);
    const KVPDFOpenResult code = document->openData(bytes, consent, mode);
    if (result)
        *result = code;
    return document;
}

void KVPDFDocument::reset()
{
    releaseObjects();
    m_bytes = {};
    m_table = {};
    m_structure = {};
    m_security = {};
    m_contents = {};
}

KVPDFOpenResult KVPDFDocument::openData(const QByteArray &data, const KVPDFRedrawConsent &consent, KVPDFOpenMode mode)
{
    m_openMode = mode;
    kvpdf::restartLogBudget();
    KVPDFLogCapture capture;
    m_openCapture = &capture;
    KVPDFOpenResult result = KVPDFOpenOK;
    QByteArray input = data;
    for (;;) {
        reset();
        m_bytes.data = input;
        try {
            result = openOnce();
            break;
        } catch (const FolivoException &failure) {
            kvLog(QStringLiteral("Exception: %1").arg(QString::fromStdString(failure.reason())));
        }
        // The engine could not read the file: offer the copy a renderer can draw, once.
        const KVPDFRedrawFunction redraw = KVPDFServices::installed()->redraw;
        if (m_secondTry || !redraw || !consent || !consent()) {
            result = KVPDFOpenBroken;
            m_contents.pages.clear();
            break;
        }
        m_secondTry = true;
        input = redraw(data);
        if (input.isEmpty()) {
            kvLog(QStringLiteral("The redrawn copy could not be made"));
            result = KVPDFOpenBroken;
            break;
        }
    }
    m_openCapture = nullptr;
    for (const KVPDFWarning &warning : capture.records)
        m_warningSink.add(warning);
    return result;
}

KVPDFOpenResult KVPDFDocument::openOnce()
{
    if (m_bytes.data.isEmpty())
        return KVPDFOpenOK;
    if (!versionAndEOF())
        return KVPDFOpenBroken;
    if (!workTrailer())
        return KVPDFOpenBroken;
    setUpDocumentID();

    auto trailerDictionary = m_structure.trailer ? m_structure.trailer->trailerDictionary() : nullptr;
    if (trailerDictionary && trailerDictionary->objectForKey("Encrypt")) {
        const KVPDFOpenResult security = setupSecurity();
        if (security != KVPDFOpenOK)
            return security;
    } else {
        m_security.isOwner = true;
    }
    const KVPDFOpenResult result = finishOpen();
    keyWithWrittenID();
    return result;
}

KVPDFOpenResult KVPDFDocument::finishOpen()
{
    if (m_structure.trailer)
        m_structure.trailer->handleAllDeferredResolves(&m_table.objectStreams);
    auto trailerDictionary = m_structure.trailer ? m_structure.trailer->trailerDictionary() : nullptr;
    if (!m_structure.rootObject && trailerDictionary)
        m_structure.rootObject = kv_cast<KVPDFObjectDictionary>(trailerDictionary->resolvedObjectForKey("Root"));
    if (!m_structure.rootObject) {
        kvLog(QStringLiteral("No document catalogue"));
        return KVPDFOpenBroken;
    }
    if (auto version = kv_cast<KVPDFObjectName>(m_structure.rootObject->resolvedObjectForKey("Version"))) {
        const QString catalogVersion = version->stringValue();
        if (!catalogVersion.isEmpty() && catalogVersion != m_bytes.pdfVersion)
            m_bytes.pdfVersion = catalogVersion;
    }
    if (m_structure.rootObject->objectForKey("AcroForm"))
        m_structure.hasFields = true;
    setPagesObject(kv_cast<KVPDFObjectDictionary>(m_structure.rootObject->resolvedObjectForKey("Pages")));
    const bool hasImprints = prepPages();
    processDests();
    processOutline();
    if (m_openMode == KVPDFOpenMode::AsStored)
        return KVPDFOpenOK;
    if (isDecrypting())
        return decryptedRewrite();
    if (hasImprints)
        workingCopyRewrite();
    return KVPDFOpenOK;
}

bool KVPDFDocument::versionAndEOF()
{
    const qsizetype size = m_bytes.data.size();
    qsizetype marker = -1;
    // A header at the very start is the file's own, whatever follows: a stream's raw bytes
    // soon after it may hold another "%PDF-" (an embedded file, or chance in compressed data),
    // and taking that one would cut the real header and every object before it. Only a file
    // with junk in front is searched, from the back, for the marker nearest its objects.
    for (qsizetype i = 0; i < 2 && marker < 0; ++i)
        if (i + 8 <= size && kvHasKeyword(m_bytes.data, uint64_t(i), "%PDF-"))
            marker = i;
    for (qsizetype i = std::min<qsizetype>(size, 1000); i >= 0 && marker < 0; --i) {
        if (i + 8 <= size && m_bytes.data.at(i) == '%' && kvHasKeyword(m_bytes.data, uint64_t(i), "%PDF-")) {
            marker = i;
            break;
        }
    }
    if (marker < 0) {
        kvLog(QStringLiteral("No PDF header found"));
        return false;
    }
    qsizetype p = marker + 5;
    while (p < size && !kvIsWhite(uint8_t(m_bytes.data.at(p))) && p - marker < 32)
        ++p;
    m_bytes.pdfVersion = QString::fromLatin1(m_bytes.data.mid(marker + 5, p - marker - 5));
    if (marker >= 2) {
        // Junk before the header shifts every offset in the file; the byte before "%" stays
        // because writers that prepend junk usually count offsets from there.
        const qsizetype cut = marker - 1;
        m_bytes.data = m_bytes.data.mid(cut);
        marker -= cut;
        kvLog(QStringLiteral("%1 bytes precede PDF start marker -- adjusted document data").arg(cut));
    }
    for (qsizetype i = marker; i < size && i < marker + 94 && i < m_bytes.data.size(); ++i) {
        const char c = m_bytes.data.at(i);
        if (c == '\r') {
            m_bytes.eol = i + 1 < m_bytes.data.size() && m_bytes.data.at(i + 1) == '\n' ? QByteArrayLiteral("\r\n")
                                                                                        : QByteArrayLiteral("\r");
            return true;
        }
        if (c == '\n') {
            m_bytes.eol = QByteArrayLiteral("\n");
            return true;
        }
    }
    kvLog(QStringLiteral("No line end after the PDF header"));
    return false;
}

bool KVPDFDocument::workTrailer()
{
    const QByteArray &data = m_bytes.data;
    const char *begin = data.constData();
    const char *end = begin + data.size();
    bool hasXref = false;
    uint64_t offset = 0;
    const qsizetype startxref = data.lastIndexOf("startxref");
    if (startxref >= 0 && data.indexOf('%', startxref) >= 0) {
        uint64_t p = kvSkipWhite(data, uint64_t(startxref) + 9);
        const int64_t value = KVPDFObjectInteger::parseInteger(begin + p, end, nullptr);
        m_structure.startxref = value > 0 ? uint64_t(value) : 0;
        const uint64_t at = kvSkipWhite(data, m_structure.startxref);
        if (m_structure.startxref > 0 && m_structure.startxref < uint64_t(data.size())
            && (kvHasKeyword(data, at, "xref") || (at < uint64_t(data.size()) && kvIsDigit(uint8_t(data.at(qsizetype(at))))))) {
            hasXref = true;
            offset = m_structure.startxref;
        } else {
            kvLog(QStringLiteral("startxref does not point at a cross-reference section; reading objects one by one"));
        }
    } else {
        // A file cut short after its last objects still holds them: read it object by object.
        kvLog(QStringLiteral("No startxref at the end of the file; reading objects one by one"));
    }
    m_structure.trailer = KVPDFTrailer::trailerWithOffset(offset, this, hasXref);
    if (!m_structure.trailer && hasXref) {
        kvLog(QStringLiteral("The cross-reference section could not be read; reading objects one by one"));
        m_structure.trailer = KVPDFTrailer::trailerWithOffset(0, this, false);
    }
    if (!m_structure.trailer)
        return false;
    if (!m_structure.trailer->setupAllObjects())
        return false;
    auto trailerDictionary = m_structure.trailer->trailerDictionary();
    if (!trailerDictionary)
        return false;
    // Strings and streams of an encrypted file stay encrypted until a key is known; object
    // streams must not be expanded before then either.
    const bool encrypted = trailerDictionary->objectForKey("Encrypt") != nullptr;
    if (encrypted)
        m_structure.pastDecryption = false;
    KVPDFObjectPtr root = trailerDictionary->resolvedObjectForKey("Root");
    if (!kv_cast<KVPDFObjectDictionary>(root) && !encrypted) {
        m_structure.trailer->handleAllDeferredResolves(&m_table.objectStreams);
        root = trailerDictionary->resolvedObjectForKey("Root");
    }
    m_structure.rootObject = kv_cast<KVPDFObjectDictionary>(root);
    const int64_t size = trailerDictionary->integerForKey("Size", 0);
    uint64_t highest = 0;
    for (KVPDFTrailer *section = m_structure.trailer.get(); section; section = section->prev())
        highest = std::max(highest, section->maxObjectNumber());
    if (size > 0 && uint64_t(size) > m_table.objectCount)
        m_table.objectCount = uint64_t(size);
    // A stream section reports its Size as its highest number, so only a number past Size counts.
    if (highest > uint64_t(std::max<int64_t>(size, 0)))
        kvLog(QStringLiteral("Document object count mismatch; reported: %1, actual: %2").arg(size).arg(highest + 1));
    if (highest + 1 > m_table.objectCount)
        m_table.objectCount = highest + 1;
    // New objects are numbered from here; a hostile Size must not push them past what the table
    // keeps.
    if (m_table.objectCount > kMaxObjectNumber) {
        kvLog(QStringLiteral("Object count %1 is beyond what the engine keeps").arg(m_table.objectCount));
        m_table.objectCount = std::max<uint64_t>(uint64_t(m_table.objects.size()) + 1, 1);
        for (const auto &entry : m_table.objects)
            m_table.objectCount = std::max(m_table.objectCount, entry.first + 1);
    }
    return true;
}

void KVPDFDocument::setPagesObject(const std::shared_ptr<KVPDFObjectDictionary> &pages)
{
    m_structure.pagesObject = pages;
    m_structure.hadFormSubmitInstructionsOnOpen = false;
    if (!pages)
        return;
    auto kids = kv_cast<KVPDFObjectArray>(pages->resolvedObjectForKey("Kids"));
    auto first = kids ? kv_cast<KVPDFObjectDictionary>(kids->resolvedObjectAtIndex(0)) : nullptr;
    if (first && (first->integerForKey("FolivoFlags", 0) & 0x1))
        m_structure.hadFormSubmitInstructionsOnOpen = true;
}

bool KVPDFDocument::prepPages()
{
    m_contents.pages.clear();
    if (!m_structure.pagesObject)
        return false;
    const std::vector<std::shared_ptr<KVPDFObjectDictionary>> leaves = pageDictionariesInTree();
    bool hasImprints = false;
    KVPDFRebuiltImprintDocuments rebuilt;
    for (size_t i = 0; i < leaves.size(); ++i) {
        m_contents.pages.push_back(KVPDFPage::pageWithDocument(this, i, leaves[i]));
        hasImprints |= m_contents.pages.back()->setupImprints(rebuilt);
    }
    return hasImprints;
}

std::vector<std::shared_ptr<KVPDFObjectDictionary>> KVPDFDocument::pageDictionariesInTree()
{
    std::vector<std::shared_ptr<KVPDFObjectDictionary>> leaves;
    if (!m_structure.pagesObject)
        return leaves;
    // Depth first, iteratively; a node met again is a loop in the tree and is not walked twice.
    std::unordered_set<const KVPDFObject *> nodes;
    struct Frame {
        std::shared_ptr<KVPDFObjectArray> kids;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    nodes.insert(m_structure.pagesObject.get());
    if (auto kids = kv_cast<KVPDFObjectArray>(m_structure.pagesObject->resolvedObjectForKey("Kids")))
        stack.push_back({kids, 0});
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next >= frame.kids->count()) {
            stack.pop_back();
            continue;
        }
        KVPDFObjectPtr kid = frame.kids->resolvedObjectAtIndex(frame.next++);
        auto dictionary = kv_cast<KVPDFObjectDictionary>(kid);
        if (!dictionary) {
            kvLog(QStringLiteral("Expected Page or Pages object, found: %1")
                      .arg(kid ? kid->objectTypeName() : QStringLiteral("nothing")));
            continue;
        }
        const QByteArray type = dictionary->nameForKey("Type");
        auto kids = kv_cast<KVPDFObjectArray>(dictionary->resolvedObjectForKey("Kids"));
        if (type == "Pages" || (type != "Page" && kids)) {
            if (!nodes.insert(dictionary.get()).second) {
                kvLog(QStringLiteral("The page tree loops back to object %1").arg(dictionary->objectNumber()));
                continue;
            }
            if (stack.size() > 1000) {
                kvLog(QStringLiteral("The page tree is nested too deeply"));
                continue;
            }
            if (kids)
                stack.push_back({kids, 0});
            continue;
        }
        if (type != "Page")
            kvLog(QStringLiteral("Expected Page or Pages object, found: %1").arg(QString::fromLatin1(type)));
        leaves.push_back(dictionary);
    }
    const int64_t count = m_structure.pagesObject->integerForKey("Count", -1);
    if (count != int64_t(leaves.size()))
        kvLog(QStringLiteral("The page tree counts %1 pages but holds %2").arg(count).arg(leaves.size()));
    return leaves;
}

void KVPDFDocument::setUpDocumentID()
{
    auto trailerDictionary = m_structure.trailer ? m_structure.trailer->trailerDictionary() : nullptr;
    auto fresh = KVPDFObjectString::stringWithData(uuidData());
    auto ids = trailerDictionary ? kv_cast<KVPDFObjectArray>(trailerDictionary->resolvedObjectForKey("ID")) : nullptr;
    if (ids && ids->count() >= 1) {
        std::vector<KVPDFObjectPtr> elements = ids->value();
        if (elements.size() < 2)
            elements.resize(2);
        auto first = kv_cast<KVPDFObjectString>(elements[0] ? elements[0]->resolvedObject() : nullptr);
        if (!first || first->stringData() == kTemplateID)
            elements[0] = fresh;
        elements[1] = fresh->copy();
        m_contents.docID = KVPDFObjectArray::arrayWithArray(std::move(elements));
    } else {
        m_contents.docID = KVPDFObjectArray::arrayWithArray({fresh, fresh->copy()});
    }
    m_contents.docID->setContext(this);
}

std::shared_ptr<KVPDFPage> KVPDFDocument::pageAtIndex(size_t index) const
{
    return index < m_contents.pages.size() ? m_contents.pages[index] : nullptr;
}

std::shared_ptr<KVPDFPage> KVPDFDocument::pageToList(const std::shared_ptr<KVPDFPage> &page,
                                                     std::vector<std::shared_ptr<KVPDFDocument>> &released)
{
    if (!page)
        return page;
    std::shared_ptr<KVPDFPage> entry = page;
    if (KVPDFDocument *source = page->document(); source && source != this) {
        // Taken over, a page its document still lists would belong to two documents.
        const auto &listed = source->pages();
        if (std::find(listed.begin(), listed.end(), page) != listed.end()) {
            kvLog(QStringLiteral("A page still listed by its own document is put in as a copy"));
            entry = page->copy();
        }
    }
    std::vector<std::shared_ptr<KVPDFDocument>> let = entry->moveToDocument(*this);
    released.insert(released.end(), std::make_move_iterator(let.begin()), std::make_move_iterator(let.end()));
    return entry;
}

// The page-list setters keep what the pages let go of until they return: it may be the last
// owner of this very document.
void KVPDFDocument::insertPage(const std::shared_ptr<KVPDFPage> &page, size_t index)
{
    std::vector<std::shared_ptr<KVPDFDocument>> released;
    std::shared_ptr<KVPDFPage> entry = pageToList(page, released);
    m_contents.pages.insert(m_contents.pages.begin() + qsizetype(std::min(index, m_contents.pages.size())), std::move(entry));
}

void KVPDFDocument::removePageAtIndex(size_t index)
{
    if (index >= m_contents.pages.size())
        return;
    std::shared_ptr<KVPDFPage> page = m_contents.pages[index];
    m_contents.pages.erase(m_contents.pages.begin() + qsizetype(index));
    // Whoever still has the page now relies on the page for this document; while the list
    // holds it elsewhere, holding the document would make a cycle.
    if (page && std::find(m_contents.pages.begin(), m_contents.pages.end(), page) == m_contents.pages.end())
        page->holdDocument();
}

void KVPDFDocument::setPagesFromArray(std::vector<std::shared_ptr<KVPDFPage>> pages)
{
    std::vector<std::shared_ptr<KVPDFDocument>> released;
    for (auto &page : pages)
        page = pageToList(page, released);
    std::vector<std::shared_ptr<KVPDFPage>> gone;
    std::vector<std::shared_ptr<KVPDFPage>> added;
    for (const auto &old : m_contents.pages)
        if (old && std::find(pages.begin(), pages.end(), old) == pages.end()) {
            old->holdDocument();
            gone.push_back(old);
        }
    for (const auto &page : pages)
        if (page && std::find(m_contents.pages.begin(), m_contents.pages.end(), page) == m_contents.pages.end())
            added.push_back(page);
    m_contents.pages = std::move(pages);
    // Parked items go back by the positions of the new list, where their pages now stand.
    if (!gone.empty())
        removeTOCEntriesForPages(gone, *outlines());
    if (!added.empty())
        addTOCEntriesForPages(added);
}

std::shared_ptr<KVPDFPage> KVPDFDocument::pageForReference(const KVPDFObjectPtr &object) const
{
    if (!object)
        return nullptr;
    KVPDFObjectPtr target = object;
    if (object->objectNumber() == 0)
        target = object->resolvedObject();
    if (!target)
        return nullptr;
    for (const auto &page : m_contents.pages) {
        const auto &dictionary = page->pageDictionary();
        if (dictionary && dictionary->objectNumber() == target->objectNumber()
            && dictionary->generation() == target->generation())
            return page;
    }
    return nullptr;
}

QString KVPDFDocument::docID(int index) const
{
    if (!m_contents.docID || index < 0 || size_t(index) >= m_contents.docID->count())
        return QString();
    auto string = kv_cast<KVPDFObjectString>(m_contents.docID->resolvedObjectAtIndex(size_t(index)));
    if (!string)
        return QString();
    return QString::fromLatin1(string->stringData().left(16).toHex().toUpper());
}

QString KVPDFDocument::permanentID() const
{
    if (!m_contents.docID || m_contents.docID->count() == 0)
        return QString();
    auto string = kv_cast<KVPDFObjectString>(m_contents.docID->resolvedObjectAtIndex(0));
    return string ? string->stringValue() : QString();
}

QByteArray KVPDFDocument::uuidData() { return kvFreshIdentifierBytes(); }

QTransform KVPDFDocument::pageTransformForRotation(float degrees, QSizeF size)
{
    if (degrees <= 0)
        return QTransform();
    QTransform transform;
    const int angle = int(degrees);
    if (angle == 90)
        transform.translate(0, -size.height());
    else if (angle == 180)
        transform.translate(-size.width(), -size.height());
    else if (angle == 270)
        transform.translate(-size.width(), 0);
    // Row-vector order: the translation applies first, then the rotation.
    return transform * QTransform().rotate(degrees);
}

QSizeF KVPDFDocument::pageSizeForPage(KVPDFPage &page)
{
    QSizeF size = page.cropBox().value_or(page.mediaBox()).size();
    const int angle = page.rotate().value_or(0);
    return angle == 90 || angle == 270 ? size.transposed() : size;
}

bool KVPDFDocument::isJPEG(const QString &path) { return QImageReader::imageFormat(path) == "jpeg"; }
