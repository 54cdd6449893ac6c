// Saving: the full rewrite (a new file holding what the current pages, the catalogue and Info
// reach, renumbered 1..N, with one classic cross-reference table) and the working copy (the
// current bytes followed by an incremental update that holds the current page list).
#include "KVPDFDocument.h"

#include "KVPDFDataWriter.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFReferenceTranslator.h"
#include "KVPDFTrailer.h"
#include "KVPDFWriteState.h"

#include <algorithm>
#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

const QString kFolivoVersion = QStringLiteral("5.0.3");
// What a page may inherit from its page-tree ancestors. Pages are written under one flat
// root, so each page carries these itself.
const char *const kInheritableKeys[] = {"Resources", "MediaBox", "CropBox", "Rotate"};

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

// A value taken into a new dictionary: an indirect object by reference, a direct one as a copy.
KVPDFObjectPtr adoptedValue(const KVPDFObjectPtr &value)
{
    if (!value)
        return nullptr;
    return value->objectNumber() != 0 ? referenceTo(value) : value->copy();
}

// Restores the document's encryption state when a write ends, however it ends.
class EncryptionStatusScope {
public:
    explicit EncryptionStatusScope(KVPDFDocument &document) : m_document(document), m_saved(document.encryptionStatus()) {}
    ~EncryptionStatusScope() { m_document.setEncryptionStatus(m_saved); }
    EncryptionStatusScope(const EncryptionStatusScope &) = delete;
    EncryptionStatusScope &operator=(const EncryptionStatusScope &) = delete;

private:
    KVPDFDocument &m_document;
    KVPDFDocument::EncryptionStatus m_saved;
};

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
        auto kids = kv_cast<KVPDFObjectArray>(node->resolvedObjectForKey("Kids"));
        for (size_t i = 0; kids && i < kids->count(); ++i) {
            auto kid = kv_cast<KVPDFObjectDictionary>(kids->resolvedObjectAtIndex(i));
            // The walk that made the page list took a kid with Kids that is not a Page as a node.
            if (kid && kid->nameForKey("Type") != "Page" && kid->objectForKey("Kids"))
                pending.push_back(kid);
        }
    }
    for (const auto &page : document.pages()) {
        if (!page || !page->pageDictionary())
            continue;
        std::unordered_set<const KVPDFObject *> chain{page->pageDictionary().get()};
        auto parent = kv_cast<KVPDFObjectDictionary>(page->pageDictionary()->resolvedObjectForKey("Parent"));
        while (parent && chain.insert(parent.get()).second) {
            add(parent);
            parent = kv_cast<KVPDFObjectDictionary>(parent->resolvedObjectForKey("Parent"));
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
        auto string = kv_cast<KVPDFObjectString>(value ? value->resolvedObject() : nullptr);
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

QByteArray number(uint64_t value)
{
    char buffer[24];
    return QByteArray(buffer, KVPDFObjectUnsignedToStringInPlace(value, buffer) - buffer);
}

// "%010llu %05lu n \n": always 20 bytes ending in a space and a line feed, whatever the line
// end of the file, so readers can index the table.
QByteArray xrefRow(uint64_t offset, bool inUse)
{
    if (!inUse)
        return QByteArrayLiteral("0000000000 65535 f \n");
    return number(offset).rightJustified(10, '0') + QByteArrayLiteral(" 00000 n \n");
}

struct NumberedObject {
    KVPDFObjectPtr object;
    uint64_t number = 0;
};

// Writes the objects, the cross-reference table and the trailer. `firstOffset` is where the
// writer stands (the working copy's old bytes precede). subsectionPerObject: a "N 1"
// subsection before each row (an update), else one "0 N" section from the free head row.
bool writeBody(KVPDFDocument &document, KVPDFDataWriter &writer, const std::vector<NumberedObject> &objects,
               const KVPDFObject *encrypt, const Dictionary &trailer, bool subsectionPerObject)
{
    const QByteArray eol = document.EOL();
    std::vector<uint64_t> offsets;
    offsets.reserve(objects.size());
    for (const NumberedObject &entry : objects) {
        offsets.push_back(writer.length());
        QByteArray value;
        if (entry.object.get() == encrypt) {
            // The Encrypt dictionary is the key to the rest and is itself never encrypted.
            EncryptionStatusScope scope(document);
            document.setEncryptionStatus(KVPDFDocument::EncryptionNone);
            value = entry.object->directObject();
        } else {
            value = entry.object->directObject();
        }
        QByteArray text = number(entry.number) + " 0 obj" + eol;
        text.append(value);
        text.append(eol + "endobj" + eol);
        if (!writer.appendData(text))
            return false;
    }
    const uint64_t xref = writer.length();
    QByteArray table = "xref" + eol;
    if (!subsectionPerObject)
        table += "0 " + number(objects.size() + 1) + eol + xrefRow(0, false);
    for (size_t i = 0; i < objects.size(); ++i) {
        if (subsectionPerObject)
            table += number(objects[i].number) + " 1" + eol;
        table += xrefRow(offsets[i], objects[i].object->objectType() != KVPDFObject::TypeUnknown);
    }
    table += "trailer" + eol + trailer->directObject() + eol;
    table += "startxref" + eol + number(xref) + eol + "%%EOF" + eol;
    return writer.appendData(table);
}

// Gives the new objects to the document they are written in: strings and streams brought in
// from another document must encrypt (and end their lines) like this document's.
void adoptObjects(KVPDFDocument &document, const std::vector<NumberedObject> &objects)
{
    for (const NumberedObject &entry : objects) {
        entry.object->setDocument(&document);
        entry.object->setObjectNumber(entry.number);
        entry.object->setGeneration(0);
        entry.object->setDirect(false);
    }
}

// The new root's entries: the old root's, without the tree structure and without what each
// page now carries itself.
void fillPagesObject(const Dictionary &target, const Dictionary &oldRoot, const KVPDFWriteState &state)
{
    if (oldRoot) {
        auto copy = kv_cast<KVPDFObjectDictionary>(oldRoot->copy());
        for (const char *key : {"Kids", "Count", "Parent"})
            copy->removeObjectForKey(key);
        for (const char *key : kInheritableKeys)
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

// Field dictionaries the page rewrite collected join the form's Fields; the entries the form
// already has stay (the engine does not model every kind of field).
void addCollectedFields(const Dictionary &catalog, KVPDFWriteState &state, KVPDFReferenceTranslator &translator)
{
    if (state.collectedFields.empty())
        return;
    auto resolveInPlace = [&translator](const KVPDFObjectPtr &value) -> KVPDFObjectPtr {
        if (auto reference = kv_cast<KVPDFObjectReference>(value))
            return translator.targetOf(*reference);
        return value;
    };
    auto form = kv_cast<KVPDFObjectDictionary>(resolveInPlace(catalog->objectForKey("AcroForm")));
    if (!form) {
        form = std::make_shared<KVPDFObjectDictionary>();
        state.addObject(form);
    } else if (!state.isWritten(form.get())) {
        // A form held directly in the catalogue becomes an object of its own.
        state.addObject(form);
    }
    catalog->setObject("AcroForm", referenceTo(form));
    auto fields = kv_cast<KVPDFObjectArray>(resolveInPlace(form->objectForKey("Fields")));
    if (!fields)
        fields = KVPDFObjectArray::arrayWithArray({});
    std::unordered_set<const KVPDFObject *> present;
    for (const auto &entry : fields->value())
        if (auto reference = kv_cast<KVPDFObjectReference>(entry))
            present.insert(reference->cachedTarget().get());
    for (const auto &field : state.collectedFields) {
        if (!field || present.count(field.get()))
            continue;
        state.addObject(field);
        fields->addObject(referenceTo(field));
    }
    form->setObject("Fields", state.isWritten(fields.get()) ? referenceTo(fields) : KVPDFObjectPtr(fields));
}

Dictionary trailerInfo(KVPDFDocument &document)
{
    auto trailer = document.trailer() ? document.trailer()->trailerDictionary() : nullptr;
    return trailer ? kv_cast<KVPDFObjectDictionary>(trailer->resolvedObjectForKey("Info")) : nullptr;
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
        return false;  // the writer's destructor removes what it wrote; the old file stays
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
    for (const auto &page : m_pages) {
        if (!page)
            continue;
        const std::vector<KVPDFObjectPtr> extras = page->extraObjects();
        for (const auto &extra : extras)
            page->removeExtraObject(extra);
    }
    return true;
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFDocument::page(KVPDFPage &source, bool withImprints, KVPDFWriteState &state)
{
    Q_UNUSED(withImprints);
    const Dictionary &original = source.pageDictionary();
    if (!original)
        return nullptr;
    auto dictionary = kv_cast<KVPDFObjectDictionary>(original->copy());
    for (const char *key : kInheritableKeys)
        if (!dictionary->objectForKey(key))
            if (KVPDFObjectPtr inherited = original->objectFromAncestorsForKey(key))
                dictionary->setObject(key, adoptedValue(inherited));
    if (!dictionary->objectForKey("MediaBox")) {
        // A page without a media box anywhere shows at the default paper size; write that. A
        // detached page works it out, so the document's own page stays as it is.
        auto probe = KVPDFPage::pageWithDocument(nullptr, 0, dictionary);
        probe->mediaBox();
        dictionary = probe->pageDictionary();
    }
    // Resources as an object of their own: the imprint rewrite names its forms in them.
    if (auto resources = kv_cast<KVPDFObjectDictionary>(dictionary->objectForKey("Resources"))) {
        resources->setContainer({});
        state.addObject(resources);
        dictionary->setObject("Resources", referenceTo(resources));
    }
    dictionary->setObject("Parent", referenceTo(state.newPagesObject));
    return dictionary;
}

KVPDFObjectPtr KVPDFDocument::outlinesForWriting(KVPDFWriteState &) { return nullptr; }

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
bool writeFullRewrite(KVPDFDocument &document, KVPDFWriteState &state, KVPDFDataWriter &writer, bool plain)
{
    state.newPagesObject = std::make_shared<KVPDFObjectDictionary>();
    state.markWritten(state.newPagesObject);
    for (const KVPDFObjectPtr &node : pageTreeNodes(document)) {
        state.pageTreeNodes.insert(node.get());
        state.translate(node, state.newPagesObject);
    }

    // The catalogue and Info are known before the pages, so references met there find them.
    auto catalog = std::make_shared<KVPDFObjectDictionary>();
    state.markWritten(catalog);
    if (document.rootObject())
        state.translate(document.rootObject(), catalog);
    Dictionary info;
    if (Dictionary oldInfo = trailerInfo(document)) {
        info = infoCopy(oldInfo);
        state.translate(oldInfo, info);
        state.addObject(info);
    }
    Dictionary encrypt = plain ? nullptr : document.encryptDictionaryForWriting();
    EncryptionStatusScope encryptionScope(document);
    if (encrypt && !document.hasEncryptionKey()) {
        // An Encrypt dictionary over plain strings would make a file nobody can read.
        kvLog(QStringLiteral("No file key for the Encrypt dictionary; the file is written unencrypted"));
        encrypt = nullptr;
    }
    // Strings and streams encrypt exactly when the file says it is encrypted.
    if (encrypt) {
        document.setEncryptionStatus(KVPDFDocument::EncryptionEncrypting);
        state.addObject(encrypt);
    } else if (document.encryptionStatus() == KVPDFDocument::EncryptionEncrypting) {
        document.setEncryptionStatus(KVPDFDocument::EncryptionNone);
    }

    std::vector<std::shared_ptr<KVPDFPage>> pages;
    for (const auto &page : document.pages()) {
        if (!page || !page->pageDictionary()) {
            kvLog(QStringLiteral("A page without a page dictionary is left out"));
            continue;
        }
        Dictionary dictionary = document.page(*page, state.withImprints, state);
        if (!dictionary) {
            kvLog(QStringLiteral("Page %1 could not be written").arg(pages.size() + 1));
            return false;
        }
        state.pageList.push_back(dictionary);
        state.markWritten(dictionary);
        state.translate(page->pageDictionary(), dictionary);
        pages.push_back(page);
    }

    // Copying what each page reaches is most of the work: report progress by it.
    KVPDFReferenceTranslator translator(document, state);
    const size_t count = state.pageList.size();
    for (size_t i = 0; i < count; ++i) {
        document.postNotification(QString::fromLatin1(KVPDFDocument::SaveProgressNotification),
                                  {{QStringLiteral("Percentage"), double(i) / double(count)}});
        translator.translateWithin(state.pageList[i]);
        for (const KVPDFObjectPtr &extra : pages[i]->extraObjects())
            translator.replacementFor(extra);
        translator.drain();
    }

    const Dictionary &oldCatalog = document.rootObject();
    if (oldCatalog && oldCatalog->objectForKey("Outlines"))
        document.postNotification(QString::fromLatin1(KVPDFDocument::WillSaveOutlineNotification));
    if (oldCatalog)
        catalog->setValue(kv_cast<KVPDFObjectDictionary>(oldCatalog->copy())->value());
    catalog->setObject("Type", KVPDFObjectName::nameWithBytes("Catalog"));
    catalog->setObject("Pages", referenceTo(state.newPagesObject));
    if (KVPDFObjectPtr outlines = document.outlinesForWriting(state))
        catalog->setObject("Outlines", outlines);
    addCollectedFields(catalog, state, translator);
    fillPagesObject(state.newPagesObject, document.pagesObject(), state);
    translator.translateWithin(state.newPagesObject);
    translator.translateWithin(catalog);
    translator.drain();

    std::vector<NumberedObject> objects;
    objects.reserve(state.copyObjects.size() + state.pageList.size() + 2);
    for (const auto &object : state.copyObjects)
        objects.push_back({object, objects.size() + 1});
    for (const auto &page : state.pageList)
        objects.push_back({page, objects.size() + 1});
    objects.push_back({state.newPagesObject, objects.size() + 1});
    objects.push_back({catalog, objects.size() + 1});
    adoptObjects(document, objects);

    auto trailer = std::make_shared<KVPDFObjectDictionary>();
    trailer->setObject("Root", referenceTo(catalog));
    trailer->setObject("FolivoVersion", KVPDFObjectString::stringWithString(kFolivoVersion));
    trailer->setObject("Size", KVPDFObjectInteger::integerWithLongLong(int64_t(objects.size() + 1)));
    if (info)
        trailer->setObject("Info", referenceTo(info));
    if (encrypt)
        trailer->setObject("Encrypt", referenceTo(encrypt));
    trailer->setObject("ID", documentID(document));

    if (!writer.appendData("%PDF-1.3" + document.EOL()))
        return false;
    return writeBody(document, writer, objects, encrypt.get(), trailer, false);
}

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
    uint64_t fileSize = uint64_t(std::max<int64_t>(section->trailerDictionary()->integerForKey("Size", 0), 0));
    for (KVPDFTrailer *older = section; older; older = older->prev())
        fileSize = std::max(fileSize, older->maxObjectNumber() + 1);
    uint64_t next = std::max(fileSize, document.objectCount());
    for (const auto &entry : document.objects())
        next = std::max(next, entry.first + 1);

    // The working copy is the engine's own plain copy of the file, never encrypted.
    EncryptionStatusScope encryptionScope(document);
    if (document.encryptionStatus() == KVPDFDocument::EncryptionEncrypting)
        document.setEncryptionStatus(KVPDFDocument::EncryptionNone);

    // Rewritten objects keep their numbers where they have one, so every reference the file
    // already holds to a page, the page tree or the catalogue stays good.
    std::unordered_map<const KVPDFObject *, uint64_t> kept;
    std::unordered_set<uint64_t> usedNumbers;
    auto keep = [&](const KVPDFObjectPtr &written, const KVPDFObjectPtr &original) {
        if (original && original->document() == &document && original->objectNumber() != 0
            && usedNumbers.insert(original->objectNumber()).second)
            kept[written.get()] = original->objectNumber();
    };

    state.newPagesObject = std::make_shared<KVPDFObjectDictionary>();
    state.markWritten(state.newPagesObject);
    keep(state.newPagesObject, document.pagesObject());
    for (const KVPDFObjectPtr &node : pageTreeNodes(document)) {
        state.pageTreeNodes.insert(node.get());
        state.translate(node, state.newPagesObject);
    }
    auto catalog = std::make_shared<KVPDFObjectDictionary>();
    state.markWritten(catalog);
    if (document.rootObject()) {
        state.translate(document.rootObject(), catalog);
        keep(catalog, document.rootObject());
    }
    for (const auto &page : document.pages()) {
        if (!page || !page->pageDictionary())
            continue;
        Dictionary dictionary = document.page(*page, state.withImprints, state);
        if (!dictionary)
            return false;
        state.pageList.push_back(dictionary);
        state.markWritten(dictionary);
        state.translate(page->pageDictionary(), dictionary);
        keep(dictionary, page->pageDictionary());
    }
    if (const Dictionary &oldCatalog = document.rootObject())
        catalog->setValue(kv_cast<KVPDFObjectDictionary>(oldCatalog->copy())->value());
    catalog->setObject("Type", KVPDFObjectName::nameWithBytes("Catalog"));
    catalog->setObject("Pages", referenceTo(state.newPagesObject));
    fillPagesObject(state.newPagesObject, document.pagesObject(), state);

    KVPDFReferenceTranslator translator(document, state, fileSize);
    for (const auto &page : state.pageList)
        translator.translateWithin(page);
    translator.translateWithin(state.newPagesObject);
    translator.translateWithin(catalog);
    translator.drain();

    std::vector<NumberedObject> objects;
    auto numberFor = [&](const KVPDFObjectPtr &object) {
        if (auto it = kept.find(object.get()); it != kept.end())
            return it->second;
        if (auto it = translator.keptNumbers().find(object.get());
            it != translator.keptNumbers().end() && usedNumbers.insert(it->second).second)
            return it->second;
        return next++;
    };
    for (const auto &object : state.copyObjects)
        objects.push_back({object, numberFor(object)});
    for (const auto &page : state.pageList)
        objects.push_back({page, numberFor(page)});
    objects.push_back({state.newPagesObject, numberFor(state.newPagesObject)});
    objects.push_back({catalog, numberFor(catalog)});
    std::sort(objects.begin(), objects.end(), [](const NumberedObject &a, const NumberedObject &b) { return a.number < b.number; });
    adoptObjects(document, objects);

    auto trailer = std::make_shared<KVPDFObjectDictionary>();
    trailer->setObject("Root", referenceTo(catalog));
    trailer->setObject("Prev", KVPDFObjectInteger::integerWithLongLong(int64_t(document.startxref())));
    trailer->setObject("Size", KVPDFObjectInteger::integerWithLongLong(int64_t(std::max(next, objects.back().number + 1))));
    // Readers take Info from the newest trailer only; without it the title would be lost.
    if (KVPDFObjectPtr info = document.trailer()->trailerDictionary()->objectForKey("Info"))
        trailer->setObject("Info", info->copy());
    trailer->setObject("ID", documentID(document));

    if (!writer.appendData(data))
        return false;
    // The update must start on a line of its own.
    if (!data.endsWith('\n') && !data.endsWith('\r') && !writer.appendData(document.EOL()))
        return false;
    return writeBody(document, writer, objects, nullptr, trailer, true);
}
}
