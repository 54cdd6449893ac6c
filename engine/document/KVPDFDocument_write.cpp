// Saving: the full rewrite (a new file holding what the current pages, the catalogue and Info
// reach, renumbered 1..N, with one classic cross-reference table) and the working copy (the
// current bytes followed by an incremental update that holds the current page list).
#include "KVPDFDocument.h"

#include "KVPDFAnnotation.h"
#include "KVPDFPage.h"

#include "KVPDFDataWriter.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectEmitter.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFReferenceTranslator.h"
#include "KVPDFTrailer.h"
#include "KVPDFVersion.h"
#include "KVPDFWriteState.h"

#include <algorithm>
#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

const QString kFolivoVersion = QStringLiteral(FOLIVO_VERSION);

float qualityForLevel(int level)
{
    switch (level) {
    case 1: return 0.9f;
    case 2: return 0.8f;
    case 3: return 0.7f;
    default: return 1.0f;
    }
}

KVPDFObjectPtr referenceTo(const KVPDFObjectPtr &object) { return KVPDFObjectReference::referenceWithObject(object); }

// What a value leads to, nullptr when that cannot be read. For values the written objects keep
// as they are: the reference pass writes an unreadable one as null and says so.
KVPDFObjectPtr readable(const KVPDFObjectPtr &value) { return KVPDFReferenceTranslator::readableValue(value, true); }

// The page-tree nodes above the written pages: those of this document's tree and the
// ancestors of every page (pages brought in from other documents bring theirs).
std::vector<KVPDFObjectPtr> pageTreeNodes(KVPDFDocument &document)
{
    std::vector<KVPDFObjectPtr> nodes;
    std::unordered_set<const KVPDFObject *> seen;
    auto add = [&](const KVPDFObjectPtr &node) {
        if (node && seen.insert(node.get()).second)
            nodes.push_back(node);
    };
    std::vector<KVPDFObjectPtr> pending;
    if (document.pagesObject())
        pending.push_back(document.pagesObject());
    while (!pending.empty()) {
        KVPDFObjectPtr current = std::move(pending.back());
        pending.pop_back();
        auto node = kv_cast<KVPDFObjectDictionary>(current);
        if (!node || seen.count(node.get()))
            continue;
        add(node);
        auto kids = kv_cast<KVPDFObjectArray>(readable(node->objectForKey("Kids")));
        for (size_t i = 0; kids && i < kids->count(); ++i) {
            auto kid = kv_cast<KVPDFObjectDictionary>(readable(kids->objectAtIndex(i)));
            // The walk that made the page list took a kid with Kids that is not a Page as a node.
            if (kid && kid->nameForKey("Type") != "Page" && kid->objectForKey("Kids"))
                pending.push_back(kid);
        }
    }
    for (const auto &page : document.pages()) {
        if (!page || !page->pageDictionary())
            continue;
        std::unordered_set<const KVPDFObject *> chain{page->pageDictionary().get()};
        auto parent = kv_cast<KVPDFObjectDictionary>(readable(page->pageDictionary()->objectForKey("Parent")));
        while (parent && chain.insert(parent.get()).second) {
            add(parent);
            parent = kv_cast<KVPDFObjectDictionary>(readable(parent->objectForKey("Parent")));
        }
    }
    return nodes;
}

// Info keeps only its text entries (dates are text too).
Dictionary infoCopy(const Dictionary &old)
{
    auto info = std::make_shared<KVPDFObjectDictionary>();
    if (!old)
        return info;
    for (const auto &[key, value] : old->value()) {
        auto string = kv_cast<KVPDFObjectString>(KVPDFReferenceTranslator::readableValue(value));
        if (!string)
            continue;
        KVPDFReferenceTranslator::settleStrings(string);
        info->setObject(key, string->copy());
    }
    return info;
}

// The ID array in force, or a fresh pair for a document that never had one.
KVPDFObjectPtr documentID(KVPDFDocument &document)
{
    if (document.docIDArray())
        return document.docIDArray()->copy();
    auto fresh = KVPDFObjectString::stringWithData(KVPDFDocument::uuidData());
    return KVPDFObjectArray::arrayWithArray({fresh, fresh->copy()});
}

struct NumberedObject {
    KVPDFObjectPtr object;
    uint64_t number = 0;
};

// The new root's entries: the old root's, without the tree structure and without what each
// page now carries itself.
void fillPagesObject(const Dictionary &target, const Dictionary &oldRoot, const KVPDFWriteState &state)
{
    if (oldRoot) {
        auto copy = kv_cast<KVPDFObjectDictionary>(oldRoot->copy());
        for (const char *key : {"Kids", "Count", "Parent"})
            copy->removeObjectForKey(key);
        for (const char *key : KVPDFPage::kInheritableKeys)
            copy->removeObjectForKey(key);
        target->setValue(copy->value());
    }
    target->setObject("Type", KVPDFObjectName::nameWithBytes("Pages"));
    std::vector<KVPDFObjectPtr> kids;
    kids.reserve(state.pageList.size());
    for (const auto &page : state.pageList)
        kids.push_back(referenceTo(page));
    target->setObject("Kids", KVPDFObjectArray::arrayWithArray(std::move(kids)));
    target->setObject("Count", KVPDFObjectInteger::integerWithLongLong(int64_t(state.pageList.size())));
}

// The form's Fields and CO once the pages are written. Rebuilt fields take the place of the
// fields they came from, each field is listed once, and field dictionaries the page rewrite
// collected join Fields; the entries the form already has stay (the engine does not model
// every kind of field).
void addCollectedFields(const Dictionary &catalog, KVPDFWriteState &state, KVPDFReferenceTranslator &translator)
{
    if (state.collectedFields.empty() && !state.fieldsRebuilt)
        return;
    auto resolveInPlace = [&translator](const KVPDFObjectPtr &value) -> KVPDFObjectPtr {
        if (auto reference = kv_cast<KVPDFObjectReference>(value))
            return translator.targetOf(*reference);
        return value;
    };
    auto form = kv_cast<KVPDFObjectDictionary>(resolveInPlace(catalog->objectForKey("AcroForm")));
    if (!form && state.collectedFields.empty())
        return;
    if (!form) {
        form = std::make_shared<KVPDFObjectDictionary>();
        state.addObject(form);
    } else if (!state.isWritten(form.get())) {
        // A form held directly in the catalogue becomes an object of its own.
        state.addObject(form);
    }
    catalog->setObject("AcroForm", referenceTo(form));
    // The written fields a list names, in its order, each once.
    auto settle = [&](const std::shared_ptr<KVPDFObjectArray> &list, std::unordered_set<const KVPDFObject *> &present) {
        std::vector<KVPDFObjectPtr> entries;
        for (const auto &entry : list->value()) {
            auto reference = kv_cast<KVPDFObjectReference>(entry);
            if (!reference) {
                entries.push_back(entry); // not ours to judge; the reference pass writes it
                continue;
            }
            KVPDFObjectPtr target = translator.targetOf(*reference);
            if (!target)
                continue; // leads nowhere: written, it would be null
            if (auto replaced = state.fieldReplacements.find(target.get()); replaced != state.fieldReplacements.end())
                target = replaced->second;
            if (present.insert(target.get()).second)
                entries.push_back(referenceTo(target));
        }
        list->setValue(std::move(entries));
    };
    auto fields = kv_cast<KVPDFObjectArray>(resolveInPlace(form->objectForKey("Fields")));
    if (!fields)
        fields = KVPDFObjectArray::arrayWithArray({});
    std::unordered_set<const KVPDFObject *> present;
    settle(fields, present);
    for (const auto &field : state.collectedFields) {
        if (!field || !present.insert(field.get()).second)
            continue;
        state.addObject(field);
        fields->addObject(referenceTo(field));
    }
    form->setObject("Fields", state.isWritten(fields.get()) ? referenceTo(fields) : KVPDFObjectPtr(fields));
    if (auto order = kv_cast<KVPDFObjectArray>(resolveInPlace(form->objectForKey("CO")))) {
        std::unordered_set<const KVPDFObject *> ordered;
        settle(order, ordered);
    }
}

Dictionary trailerInfo(KVPDFDocument &document)
{
    auto trailer = document.trailer() ? document.trailer()->trailerDictionary() : nullptr;
    return trailer ? kv_cast<KVPDFObjectDictionary>(KVPDFReferenceTranslator::readableValue(trailer->objectForKey("Info")))
                   : nullptr;
}

// plain: never encrypted, whatever the security settings (the engine's own working copy).
bool writeFullRewrite(KVPDFDocument &document, KVPDFWriteState &state, KVPDFDataWriter &writer, bool plain = false);
bool writeWorkingCopy(KVPDFDocument &document, KVPDFWriteState &state, KVPDFDataWriter &writer);
}

void KVPDFDocument::setNotificationHandler(NotificationHandler handler) { m_notificationHandler = std::move(handler); }

void KVPDFDocument::postNotification(const QString &name, const QVariantMap &info) const
{
    if (m_notificationHandler)
        m_notificationHandler(name, info);
}

bool KVPDFDocument::writeUpdatedDocument(const QString &path, const QVariantMap &options)
{
    bool ok = false;
    int compression = options.value(QStringLiteral("compression")).toInt(&ok);
    if (!ok)
        compression = 0;
    std::unique_ptr<KVPDFFileDataWriter> writer = KVPDFFileDataWriter::fileDataWriterWithName(path);
    if (!writer) {
        kvLog(QStringLiteral("Error creating file %1").arg(path));
        return false;
    }
    if (!currentDataWithImprints(true, compression, *writer) || !writer->close()) {
        kvLog(QStringLiteral("Error writing file"));
        if (!writer->errorString().isEmpty())
            kvLog(writer->errorString());
        return false; // the writer's destructor removes what it wrote; the old file stays
    }
    return true;
}

QByteArray KVPDFDocument::currentDataWithImprints(bool withImprints, int compression)
{
    KVPDFMutableDataWriter writer;
    if (!currentDataWithImprints(withImprints, compression, writer))
        return QByteArray();
    return writer.data();
}

bool KVPDFDocument::currentDataWithImprints(bool withImprints, int compression, KVPDFDataWriter &writer)
{
    // Form names are unique within a page's resources; counting from 0 in every write makes
    // the same document give the same bytes on every save.
    m_contents.nameCount = 0;
    m_table.objectStreams.beginOperation();
    KVPDFWriteState state;
    state.fullRewrite = withImprints;
    state.withImprints = withImprints;
    state.compressionLevel = compression;
    state.compression = qualityForLevel(compression);
    bool written = false;
    try {
        written = withImprints ? writeFullRewrite(*this, state, writer) : writeWorkingCopy(*this, state, writer);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Exception: %1").arg(QString::fromStdString(failure.reason())));
        written = false;
    }
    if (written && !writer.ok())
        written = false;
    if (!written) {
        if (!writer.errorString().isEmpty())
            kvLog(writer.errorString());
        return false;
    }
    // Extra objects are written once; a failed save keeps them for the next attempt.
    for (const auto &page : m_contents.pages) {
        if (!page)
            continue;
        const std::vector<KVPDFObjectPtr> extras = page->extraObjects();
        for (const auto &extra : extras)
            page->removeExtraObject(extra);
    }
    return true;
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFDocument::encryptDictionaryForWriting()
{
    // While the open road rewrites a file to decrypt it, the result is the plain working file.
    if (encryptionStatus() == EncryptionDecrypting || !encryptDictionary() || !hasEncryptionKey())
        return nullptr;
    auto copy = kv_cast<KVPDFObjectDictionary>(encryptDictionary()->copy());
    for (const char *key : {"U", "O"})
        if (auto string = kv_cast<KVPDFObjectString>(copy->resolvedObjectForKey(key)))
            copy->setObject(key, KVPDFObjectString::stringWithData(string->stringData()));
    return copy;
}

namespace {
// The flat page-tree root every written page goes under, standing for every old node.
void startPageTree(KVPDFDocument &document, KVPDFWriteState &state)
{
    state.newPagesObject = std::make_shared<KVPDFObjectDictionary>();
    state.markWritten(state.newPagesObject);
    state.assignNumber(state.newPagesObject);
    for (const KVPDFObjectPtr &node : pageTreeNodes(document)) {
        state.pageTreeNodes.insert(node.get());
        state.translate(node, state.newPagesObject);
    }
}

// Every page gets its number before any is built, so links between pages find them. A page is
// built only when its turn comes: what it adds to the write is then written with it, rather
// than all pages' additions being copied at the first page. Answers the pages written.
std::vector<std::shared_ptr<KVPDFPage>> numberPages(KVPDFDocument &document, KVPDFWriteState &state)
{
    std::vector<std::shared_ptr<KVPDFPage>> pages;
    for (const auto &page : document.pages()) {
        if (!page || !page->pageDictionary()) {
            kvLog(QStringLiteral("A page without a page dictionary is left out"));
            continue;
        }
        auto dictionary = std::make_shared<KVPDFObjectDictionary>();
        state.pageList.push_back(dictionary);
        state.markWritten(dictionary);
        state.assignNumber(dictionary);
        state.translate(page->pageDictionary(), dictionary);
        pages.push_back(page);
    }
    return pages;
}

// The form, its Fields and its CO change once all pages are written (fields the pages
// collected join them, rebuilt fields take their places): the originals, whose copies wait
// until the end.
std::vector<KVPDFObjectPtr> formObjects(KVPDFDocument &document)
{
    std::vector<KVPDFObjectPtr> originals;
    if (const Dictionary &root = document.rootObject()) {
        KVPDFObjectPtr form = readable(root->objectForKey("AcroForm"));
        if (auto formDictionary = kv_cast<KVPDFObjectDictionary>(form)) {
            originals.push_back(form);
            for (const char *key : {"Fields", "CO"})
                if (KVPDFObjectPtr list = readable(formDictionary->objectForKey(key)))
                    originals.push_back(list);
        }
    }
    return originals;
}

// An annotation reached before its page is built (a widget of a field whose other widgets sit
// on earlier pages) is written then: it takes what its page would give it at once.
void finishAnnotationsWhenCopied(const std::vector<std::shared_ptr<KVPDFPage>> &pages, KVPDFWriteState &state)
{
    std::unordered_map<const KVPDFObject *, std::pair<std::shared_ptr<KVPDFAnnotation>, size_t>> annotations;
    for (size_t i = 0; i < pages.size(); ++i)
        if (pages[i]->processedAnnotations())
            for (const auto &annotation : pages[i]->annotationImprints())
                if (annotation->annotDict())
                    annotations.emplace(annotation->annotDict().get(), std::make_pair(annotation, i));
    state.copied = [annotations = std::move(annotations), &state](const KVPDFObjectPtr &original, const KVPDFObjectPtr &copy) {
        auto found = annotations.find(original.get());
        auto dictionary = kv_cast<KVPDFObjectDictionary>(copy);
        if (found != annotations.end() && dictionary)
            KVPDFDocument::finishAnnotationCopy(*found->second.first, dictionary, state.pageList[found->second.second]);
    };
}

// A compressing save writes a page's Flate images as JPEG: their copies in the write are
// recompressed and stand for them from then on, so the document keeps its own streams. An
// image a page before this one wrote already stays as written.
void addCompressedImages(KVPDFPage &page, KVPDFWriteState &state)
{
    constexpr int kNoDownsampling = 65535;
    auto notWritten = [&state](const KVPDFObjectStream &image) {
        return !state.isWritten(&image) && !state.translation(image);
    };
    for (const auto &[original, copy] : page.compressedImageCopies(state.compression, kNoDownsampling, notWritten)) {
        state.translate(original, copy);
        state.addObject(copy);
    }
}

// Builds and writes each page with what it reaches. Copying what each page reaches is most of
// the work: progress is reported by it.
bool writePages(KVPDFDocument &document, KVPDFWriteState &state, const std::vector<std::shared_ptr<KVPDFPage>> &pages,
                KVPDFReferenceTranslator &translator, KVPDFObjectEmitter &emitter, KVPDFDataWriter &writer)
{
    const size_t count = state.pageList.size();
    for (size_t i = 0; i < count; ++i) {
        document.postNotification(QString::fromLatin1(KVPDFDocument::SaveProgressNotification),
                                  {{QStringLiteral("Percentage"), double(i) / double(count)}});
        if (state.compression != 1.0f)
            addCompressedImages(*pages[i], state);
        Dictionary built = document.page(*pages[i], state.withImprints, state);
        if (!built) {
            kvLog(QStringLiteral("Page %1 could not be written").arg(i + 1));
            return false;
        }
        // What the build made refers to it (an annotation's P): it stands for the numbered page.
        state.pageList[i]->setValue(built->value());
        state.translate(built, state.pageList[i]);
        built->releaseGraph();
        translator.translateWithin(state.pageList[i]);
        emitter.writeObject(state.pageList[i], state.pageList[i]->objectNumber(), true);
        for (const KVPDFObjectPtr &extra : pages[i]->extraObjects())
            translator.replacementFor(extra);
        translator.drain();
        if (!writer.ok())
            return false;
    }
    return true;
}

// The catalogue's entries once the pages are written: the old catalogue's, with the new page
// tree, the outline and the collected fields.
void fillCatalog(KVPDFDocument &document, KVPDFWriteState &state, const Dictionary &catalog, KVPDFReferenceTranslator &translator,
                 bool submitPageInserted)
{
    const Dictionary &oldCatalog = document.rootObject();
    if (oldCatalog && oldCatalog->objectForKey("Outlines"))
        document.postNotification(QString::fromLatin1(KVPDFDocument::WillSaveOutlineNotification));
    if (oldCatalog)
        catalog->setValue(kv_cast<KVPDFObjectDictionary>(oldCatalog->copy())->value());
    catalog->setObject("Type", KVPDFObjectName::nameWithBytes("Catalog"));
    catalog->setObject("Pages", referenceTo(state.newPagesObject));
    // A reader of the file just given its submit information page starts at the form itself.
    if (submitPageInserted && state.pageList.size() >= 2)
        catalog->setObject("OpenAction", KVPDFObjectDictionary::dictionaryWithDictionary({
                                             {"S", KVPDFObjectName::nameWithBytes("GoTo")},
                                             {"D", KVPDFObjectArray::arrayWithArray({referenceTo(state.pageList[1]),
                                                                                     KVPDFObjectName::nameWithBytes("XYZ"),
                                                                                     KVPDFObjectNull::nullObject(), KVPDFObjectNull::nullObject(),
                                                                                     KVPDFObjectNull::nullObject()})},
                                         }));
    if (KVPDFObjectPtr outlines = document.outlinesForWriting(state))
        catalog->setObject("Outlines", outlines);
    addCollectedFields(catalog, state, translator);
}

Dictionary fullRewriteTrailer(KVPDFDocument &document, const KVPDFWriteState &state, const Dictionary &catalog,
                              const Dictionary &info, const Dictionary &encrypt)
{
    auto trailer = std::make_shared<KVPDFObjectDictionary>();
    trailer->setObject("Root", referenceTo(catalog));
    trailer->setObject("FolivoVersion", KVPDFObjectString::stringWithString(kFolivoVersion));
    trailer->setObject("Size", KVPDFObjectInteger::integerWithLongLong(int64_t(state.nextNumber)));
    if (info)
        trailer->setObject("Info", referenceTo(info));
    if (encrypt)
        trailer->setObject("Encrypt", referenceTo(encrypt));
    trailer->setObject("ID", documentID(document));
    return trailer;
}

bool writeFullRewrite(KVPDFDocument &document, KVPDFWriteState &state, KVPDFDataWriter &writer, bool plain)
{
    // Only a save: the rewrite that decrypts a file while it opens, and the working copy written
    // whole, leave the document as it is.
    const bool submitPageInserted = !plain && document.encryptionStatus() != KVPDFDocument::EncryptionDecrypting
                                    && document.prepareFormSubmission();
    if (!writer.appendData("%PDF-1.3" + document.EOL()))
        return false;
    // Every object gets its number when it joins the write and is written as soon as its own
    // references are translated; written, it is let go. The save then holds the document and
    // what is still to come, not a second copy of the whole file.
    state.nextNumber = 1;
    KVPDFObjectEmitter emitter(document, writer, state);
    startPageTree(document, state);

    // The catalogue and Info are known before the pages, so references met there find them.
    auto catalog = std::make_shared<KVPDFObjectDictionary>();
    state.markWritten(catalog);
    state.assignNumber(catalog);
    if (document.rootObject())
        state.translate(document.rootObject(), catalog);
    Dictionary info;
    if (Dictionary oldInfo = trailerInfo(document)) {
        info = infoCopy(oldInfo);
        state.translate(oldInfo, info);
        state.addObject(info);
    }
    Dictionary encrypt = plain ? nullptr : document.encryptDictionaryForWriting();
    if (encrypt && !document.hasEncryptionKey()) {
        // An Encrypt dictionary over plain strings would make a file nobody can read.
        kvLog(QStringLiteral("No file key for the Encrypt dictionary; the file is written unencrypted"));
        encrypt = nullptr;
    }
    // Strings and streams encrypt exactly when the file says it is encrypted.
    state.encrypt = encrypt != nullptr;
    if (encrypt) {
        state.addObject(encrypt);
        emitter.setEncryptDictionary(encrypt.get());
    }

    const std::vector<std::shared_ptr<KVPDFPage>> pages = numberPages(document, state);
    const std::vector<KVPDFObjectPtr> laterOriginals = formObjects(document);
    auto waits = [&](const KVPDFObjectPtr &object) {
        for (const KVPDFObjectPtr &original : laterOriginals)
            if (state.translation(*original) == object)
                return true;
        return false;
    };
    document.writeFields(pages, state);
    finishAnnotationsWhenCopied(pages, state);
    KVPDFReferenceTranslator translator(document, state);
    translator.setFinishedHandler([&](const KVPDFObjectPtr &object) {
        if (!waits(object))
            emitter.writeObject(object, object->objectNumber(), true);
    });
    if (!writePages(document, state, pages, translator, emitter, writer))
        return false;

    fillCatalog(document, state, catalog, translator, submitPageInserted);
    fillPagesObject(state.newPagesObject, document.pagesObject(), state);
    translator.translateWithin(state.newPagesObject);
    translator.translateWithin(catalog);
    translator.drain();
    for (const KVPDFObjectPtr &object : state.copyObjects)
        if (!emitter.isEmitted(object.get()))
            emitter.writeObject(object, object->objectNumber(), true);
    emitter.writeObject(state.newPagesObject, state.newPagesObject->objectNumber(), false);
    emitter.writeObject(catalog, catalog->objectNumber(), false);

    const Dictionary trailer = fullRewriteTrailer(document, state, catalog, info, encrypt);
    if (emitter.emittedCount() + 1 != state.nextNumber)
        kvLog(QStringLiteral("%1 numbered objects were not written").arg(state.nextNumber - 1 - emitter.emittedCount()));
    return emitter.finish(trailer, KVPDFObjectEmitter::Table::Complete);
}

// The working copy's update: the page tree, the catalogue and the pages rewritten, each
// keeping the number it has in the file where it has one, so every reference the file already
// holds to a page, the page tree or the catalogue stays good.
class WorkingCopyUpdate {
public:
    WorkingCopyUpdate(KVPDFDocument &document, KVPDFWriteState &state) : m_document(document), m_state(state) { }

    // The first number past every object of the file and of the table; `fileSize` becomes the
    // file's own Size (at least past every section's highest number).
    static uint64_t firstNewNumber(KVPDFDocument &document, uint64_t &fileSize)
    {
        KVPDFTrailer *section = document.trailer();
        fileSize = uint64_t(std::max<int64_t>(section->trailerDictionary()->integerForKey("Size", 0), 0));
        for (KVPDFTrailer *older = section; older; older = older->prev())
            fileSize = std::max(fileSize, older->maxObjectNumber() + 1);
        uint64_t next = std::max(fileSize, document.objectCount());
        for (const auto &entry : document.objects())
            next = std::max(next, entry.first + 1);
        return next;
    }

    // Rewrites the page tree, the catalogue and the pages; false when a page cannot be written.
    bool rewriteStructure()
    {
        m_state.newPagesObject = std::make_shared<KVPDFObjectDictionary>();
        m_state.markWritten(m_state.newPagesObject);
        keep(m_state.newPagesObject, m_document.pagesObject());
        for (const KVPDFObjectPtr &node : pageTreeNodes(m_document)) {
            m_state.pageTreeNodes.insert(node.get());
            m_state.translate(node, m_state.newPagesObject);
        }
        m_catalog = std::make_shared<KVPDFObjectDictionary>();
        m_state.markWritten(m_catalog);
        if (m_document.rootObject()) {
            m_state.translate(m_document.rootObject(), m_catalog);
            keep(m_catalog, m_document.rootObject());
        }
        for (const auto &page : m_document.pages()) {
            if (!page || !page->pageDictionary())
                continue;
            Dictionary dictionary = m_document.page(*page, m_state.withImprints, m_state);
            if (!dictionary)
                return false;
            m_state.pageList.push_back(dictionary);
            m_state.markWritten(dictionary);
            m_state.translate(page->pageDictionary(), dictionary);
            keep(dictionary, page->pageDictionary());
        }
        if (const Dictionary &oldCatalog = m_document.rootObject())
            m_catalog->setValue(kv_cast<KVPDFObjectDictionary>(oldCatalog->copy())->value());
        m_catalog->setObject("Type", KVPDFObjectName::nameWithBytes("Catalog"));
        m_catalog->setObject("Pages", referenceTo(m_state.newPagesObject));
        fillPagesObject(m_state.newPagesObject, m_document.pagesObject(), m_state);
        return true;
    }

    // Copies what the rewritten objects reach, renumbering only what the file does not hold.
    void translate(KVPDFReferenceTranslator &translator)
    {
        for (const auto &page : m_state.pageList)
            translator.translateWithin(page);
        translator.translateWithin(m_state.newPagesObject);
        translator.translateWithin(m_catalog);
        translator.drain();
    }

    // Every object of the update with its number, in number order; `next` gives new numbers.
    std::vector<NumberedObject> numberObjects(const KVPDFReferenceTranslator &translator, uint64_t &next)
    {
        auto numberFor = [&](const KVPDFObjectPtr &object) {
            if (auto it = m_kept.find(object.get()); it != m_kept.end())
                return it->second;
            if (auto it = translator.keptNumbers().find(object.get());
                it != translator.keptNumbers().end() && m_usedNumbers.insert(it->second).second)
                return it->second;
            return next++;
        };
        std::vector<NumberedObject> objects;
        for (const auto &object : m_state.copyObjects)
            objects.push_back({object, numberFor(object)});
        for (const auto &page : m_state.pageList)
            objects.push_back({page, numberFor(page)});
        objects.push_back({m_state.newPagesObject, numberFor(m_state.newPagesObject)});
        objects.push_back({m_catalog, numberFor(m_catalog)});
        std::sort(objects.begin(), objects.end(),
                  [](const NumberedObject &a, const NumberedObject &b) { return a.number < b.number; });
        return objects;
    }

    Dictionary trailer(uint64_t size) const
    {
        auto trailer = std::make_shared<KVPDFObjectDictionary>();
        trailer->setObject("Root", referenceTo(m_catalog));
        trailer->setObject("Prev", KVPDFObjectInteger::integerWithLongLong(int64_t(m_document.startxref())));
        trailer->setObject("Size", KVPDFObjectInteger::integerWithLongLong(int64_t(size)));
        // Readers take Info from the newest trailer only; without it the title would be lost.
        if (KVPDFObjectPtr info = m_document.trailer()->trailerDictionary()->objectForKey("Info"))
            trailer->setObject("Info", info->copy());
        // Which version wrote the file decides how its markups' quadrilaterals are read, and
        // readers look at the newest trailer first.
        if (KVPDFObjectPtr version = m_document.trailer()->entryAlongChain("FolivoVersion"))
            trailer->setObject("FolivoVersion", version->copy());
        trailer->setObject("ID", documentID(m_document));
        return trailer;
    }

private:
    void keep(const KVPDFObjectPtr &written, const KVPDFObjectPtr &original)
    {
        if (original && original->context() == &m_document && original->objectNumber() != 0
            && m_usedNumbers.insert(original->objectNumber()).second)
            m_kept[written.get()] = original->objectNumber();
    }

    KVPDFDocument &m_document;
    KVPDFWriteState &m_state;
    Dictionary m_catalog;
    std::unordered_map<const KVPDFObject *, uint64_t> m_kept;
    std::unordered_set<uint64_t> m_usedNumbers;
};

bool writeWorkingCopy(KVPDFDocument &document, KVPDFWriteState &state, KVPDFDataWriter &writer)
{
    const QByteArray &data = document.docData();
    KVPDFTrailer *section = document.trailer();
    if (data.isEmpty() || !section || !section->hasXref() || document.startxref() == 0 || document.isDecrypting()) {
        // An update needs a cross-reference section to point back at, and plain objects
        // cannot be added to bytes that are still encrypted.
        kvLog(QStringLiteral("The current bytes cannot take an update; writing a complete file"));
        state.fullRewrite = true;
        return writeFullRewrite(document, state, writer, true);
    }
    uint64_t fileSize = 0;
    uint64_t next = WorkingCopyUpdate::firstNewNumber(document, fileSize);

    // The working copy is the engine's own plain copy of the file, never encrypted.
    state.encrypt = false;

    WorkingCopyUpdate update(document, state);
    if (!update.rewriteStructure())
        return false;
    KVPDFReferenceTranslator translator(document, state, fileSize);
    update.translate(translator);
    const std::vector<NumberedObject> objects = update.numberObjects(translator, next);
    // Size is one past the highest number the file holds: objects of the table the update
    // does not write (an annotation imported into the table, which only a save with imprints
    // writes) leave no gap at the end.
    const Dictionary trailer = update.trailer(std::max(fileSize, objects.back().number + 1));

    if (!writer.appendData(data))
        return false;
    // The update must start on a line of its own.
    if (!data.endsWith('\n') && !data.endsWith('\r') && !writer.appendData(document.EOL()))
        return false;
    // References print their target's number: every object has its number before any is written.
    for (const NumberedObject &entry : objects)
        entry.object->setObjectNumber(entry.number);
    KVPDFObjectEmitter emitter(document, writer, state);
    for (const NumberedObject &entry : objects)
        if (!emitter.writeObject(entry.object, entry.number, false))
            return false;
    return emitter.finish(trailer, KVPDFObjectEmitter::Table::Update);
}
}
