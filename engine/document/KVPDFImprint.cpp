#include "KVPDFImprint.h"

#include "KVPDFDataWriter.h"
#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFOperandText.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectEmitter.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFServices.h"
#include "KVPDFWriteState.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace {
const QString kFileNameKey = QStringLiteral("filename");

// Form keys that describe the form object itself rather than its content stream.
constexpr const char *kFormOnlyKeys[] = {
    "Type", "Subtype", "FolivoResourceRefs", "FolivoLocation", "FolivoDictionary", "Resources", "BBox", "FormType"};

std::shared_ptr<KVPDFObjectDictionary> dictionaryOf(const KVPDFObjectPtr &object)
{
    if (auto stream = kv_cast<KVPDFObjectStream>(object))
        return stream->dictionary();
    return kv_cast<KVPDFObjectDictionary>(object);
}

// Objects no form resource has any business reaching. Following them would copy the page
// tree, and through a page's Annots and an annotation's P, most of the document.
bool isOutsideResources(const KVPDFObjectPtr &object)
{
    auto dictionary = dictionaryOf(object);
    if (!dictionary)
        return false;
    const QByteArray type = dictionary->nameForKey("Type");
    return type == "Page" || type == "Pages" || type == "Catalog" || type == "Annot";
}

// What subobjects() finds from each root in turn, without entering the objects above.
std::vector<KVPDFObjectPtr> reachableResources(const std::vector<KVPDFObjectPtr> &roots, KVPDFVisitedSet &visited)
{
    std::vector<KVPDFObjectPtr> found;
    for (const KVPDFObjectPtr &root : roots) {
        if (!root)
            continue;
        std::vector<KVPDFObjectPtr> more = root->subobjects(visited, isOutsideResources);
        found.insert(found.end(), more.begin(), more.end());
    }
    return found;
}

// After translation every reference inside `root` must point at a member of the new document.
// One that still points elsewhere (a generation the table had no slot for, an object left out,
// a number that never existed) is pointed at the copy of its target when there is one, else
// replaced by null: written as it is, it would name an unrelated object of the new file.
void confineReferences(const KVPDFObjectPtr &root, const std::unordered_set<const KVPDFObject *> &members,
                       const std::unordered_map<const KVPDFObject *, KVPDFObjectPtr> &copyOf)
{
    auto settle = [&](const KVPDFObjectPtr &value) -> KVPDFObjectPtr {
        auto reference = kv_cast<KVPDFObjectReference>(value);
        const KVPDFObjectPtr &target = reference->cachedTarget();
        if (target && members.count(target.get()))
            return nullptr;
        if (target) {
            auto copy = copyOf.find(target.get());
            if (copy != copyOf.end()) {
                reference->setTarget(copy->second);
                return nullptr;
            }
        }
        return KVPDFObjectNull::nullObject();
    };
    std::vector<KVPDFObjectPtr> pending{root};
    while (!pending.empty()) {
        KVPDFObjectPtr object = std::move(pending.back());
        pending.pop_back();
        if (auto stream = kv_cast<KVPDFObjectStream>(object)) {
            if (stream->dictionary())
                pending.push_back(stream->dictionary());
        } else if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object)) {
            const std::vector<KVPDFObjectDictionary::Entry> entries = dictionary->value();
            for (const auto &[key, value] : entries) {
                if (!value)
                    continue;
                if (value->objectType() != KVPDFObject::TypeReference) {
                    pending.push_back(value);
                } else if (KVPDFObjectPtr replacement = settle(value)) {
                    dictionary->setObject(key, replacement);
                }
            }
        } else if (auto array = kv_cast<KVPDFObjectArray>(object)) {
            for (size_t i = 0; i < array->count(); ++i) {
                KVPDFObjectPtr value = array->objectAtIndex(i);
                if (!value)
                    continue;
                if (value->objectType() != KVPDFObject::TypeReference)
                    pending.push_back(value);
                else if (KVPDFObjectPtr replacement = settle(value))
                    array->replaceObjectAtIndex(i, replacement);
            }
        }
    }
}

KVPDFObjectPtr numberArrayCopy(const KVPDFObjectPtr &object)
{
    auto array = kv_cast<KVPDFObjectArray>(object ? object->resolvedObject() : nullptr);
    if (!array)
        return nullptr;
    std::vector<KVPDFObjectPtr> numbers;
    for (size_t i = 0; i < array->count(); ++i) {
        KVPDFObjectPtr element = array->resolvedObjectAtIndex(i);
        if (element && element->objectType() == KVPDFObject::TypeInteger)
            numbers.push_back(KVPDFObjectInteger::integerWithLongLong(element->longLongValue()));
        else
            numbers.push_back(KVPDFObjectReal::realWithFloat(element ? element->realValue() : 0.0f));
    }
    return KVPDFObjectArray::arrayWithArray(std::move(numbers));
}

KVPDFObjectPtr refTo(const KVPDFObjectPtr &target) { return KVPDFObjectReference::referenceWithObject(target); }
KVPDFObjectPtr nameObject(const char *bytes) { return KVPDFObjectName::nameWithBytes(bytes); }
}

KVPDFImprint::KVPDFImprint() = default;
KVPDFImprint::~KVPDFImprint() = default;

std::shared_ptr<KVPDFImprint> KVPDFImprint::imprintWithData(const QByteArray &data, QPointF location)
{
    auto imprint = std::make_shared<KVPDFImprint>();
    KVPDFOpenResult result = KVPDFOpenOK;
    imprint->m_document = KVPDFDocument::documentWithData(data, &result);
    imprint->m_location = location;
    return imprint;
}

void KVPDFImprint::setDictionary(const QVariantMap &dictionary)
{
    QVariantMap replacement = dictionary;
    if (m_hasDictionary && m_dictionary.contains(kFileNameKey))
        replacement.insert(kFileNameKey, m_dictionary.value(kFileNameKey));
    m_dictionary = std::move(replacement);
    m_hasDictionary = true;
    m_opaqueDictionaryData.clear();
}

void KVPDFImprint::removeFileName() { m_dictionary.remove(kFileNameKey); }

QString KVPDFImprint::fileName() const { return m_dictionary.value(kFileNameKey).toString(); }

void KVPDFImprint::setOpaqueDictionaryData(const QByteArray &data)
{
    m_opaqueDictionaryData = data;
    m_dictionary.clear();
    m_hasDictionary = false;
}

void KVPDFImprint::copyImprintInto(KVPDFImprint &target) const
{
    target.m_location = m_location;
    target.m_size = m_size;
    target.m_document = m_document;
    target.m_dictionary = m_dictionary;
    target.m_hasDictionary = m_hasDictionary;
    target.m_opaqueDictionaryData = m_opaqueDictionaryData;
    target.m_flatten = false;
}

std::shared_ptr<KVPDFImprint> KVPDFImprint::copy() const
{
    auto imprint = std::make_shared<KVPDFImprint>();
    copyImprintInto(*imprint);
    return imprint;
}

void KVPDFImprint::setImageFileName(const std::shared_ptr<KVPDFObjectDictionary> &imageDictionary, const QString &path)
{
    if (!imageDictionary)
        return;
    imageDictionary->setObject("filename", KVPDFObjectString::stringWithString(path));
    KVPDFServices::installed()->sessionFileNames->remember(imageDictionary, path);
}

QString KVPDFImprint::imageFileName(const KVPDFObjectDictionary &imageDictionary)
{
    const QString path = KVPDFServices::installed()->sessionFileNames->pathFor(imageDictionary);
    if (path.isNull())
        return QString();
    auto *dictionary = const_cast<KVPDFObjectDictionary *>(&imageDictionary);
    auto stored = kv_cast<KVPDFObjectString>(dictionary->resolvedObjectForKey("filename"));
    return stored && stored->stringValue() == path ? path : QString();
}

namespace {
// The objects of a one-page PDF built from a form, in the order they are numbered (1..N), with
// what each copied object stands for, so references among the copies can be turned to them.
class OnePageBuilder {
public:
    // The content stream's dictionary: the form's keys that concern its data.
    static std::shared_ptr<KVPDFObjectDictionary>
    contentDictionaryOf(const std::shared_ptr<KVPDFObjectDictionary> &formDictionary)
    {
        KVPDFObjectString::decryptStringsBelow(formDictionary);
        std::vector<KVPDFObjectDictionary::Entry> contentEntries;
        for (const auto &[key, value] : formDictionary->value()) {
            if (!value || std::any_of(std::begin(kFormOnlyKeys), std::end(kFormOnlyKeys), [&key = key](const char *k) {
                    return key == k;
                }))
                continue;
            contentEntries.emplace_back(key, value->copy());
        }
        return KVPDFObjectDictionary::dictionaryWithDictionary(std::move(contentEntries));
    }

    // Copies everything the resources and the content dictionary reach, in walk order, then
    // the resources themselves (an empty dictionary without any); answers the resources' copy.
    std::shared_ptr<KVPDFObjectDictionary> copyResources(const std::shared_ptr<KVPDFObjectDictionary> &resources,
                                                         const std::shared_ptr<KVPDFObjectDictionary> &contentDictionary)
    {
        KVPDFVisitedSet visited;
        std::vector<KVPDFObjectPtr> roots;
        if (resources) {
            visited.insert(resources.get());
            roots.push_back(resources);
        }
        roots.push_back(contentDictionary);
        for (const KVPDFObjectPtr &original : reachableResources(roots, visited)) {
            KVPDFObjectString::decryptStringsBelow(original);
            KVPDFObjectPtr copy = original->copy();
            copy->setDirect(false);
            enter(original, copy);
            m_objects.push_back(copy);
        }
        std::shared_ptr<KVPDFObjectDictionary> resourcesCopy;
        if (resources) {
            KVPDFObjectString::decryptStringsBelow(resources);
            resourcesCopy = kv_cast<KVPDFObjectDictionary>(resources->copy());
            enter(resources, resourcesCopy);
        } else {
            resourcesCopy = std::make_shared<KVPDFObjectDictionary>();
        }
        resourcesCopy->setDirect(false);
        m_objects.push_back(resourcesCopy);
        return resourcesCopy;
    }

    // The page's Contents: the form's bytes, and around them, with a placement, the streams
    // that set its matrix and clip.
    KVPDFObjectPtr contents(const std::shared_ptr<KVPDFObjectDictionary> &contentDictionary, const QByteArray &content,
                            const std::optional<QTransform> &placement, const QRectF &clip)
    {
        auto contentStream = KVPDFObjectStream::streamWithDictionary(contentDictionary, content, {0, uint64_t(content.size())});
        contentDictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(content.size()));
        m_objects.push_back(contentStream);
        if (!placement || placement->isIdentity())
            return refTo(contentStream);
        const auto number = kvpdf::operandText;
        const QTransform &m = *placement;
        const QByteArray before = "q " + number(m.m11()) + ' ' + number(m.m12()) + ' ' + number(m.m21()) + ' ' + number(m.m22())
                                  + ' ' + number(m.dx()) + ' ' + number(m.dy()) + " cm " + number(clip.x()) + ' '
                                  + number(clip.y()) + ' ' + number(clip.width()) + ' ' + number(clip.height()) + " re W n\n";
        auto opening = KVPDFObjectStream::streamWithData(before);
        auto closing = KVPDFObjectStream::streamWithData("\nQ\n");
        m_objects.push_back(opening);
        m_objects.push_back(closing);
        return KVPDFObjectArray::arrayWithArray({refTo(opening), refTo(contentStream), refTo(closing)});
    }

    // The page, its one-leaf page tree and the catalogue; answers the catalogue.
    std::shared_ptr<KVPDFObjectDictionary> pageAndCatalogue(const std::shared_ptr<KVPDFObjectDictionary> &resourcesCopy,
                                                            const KVPDFObjectPtr &contents, const KVPDFObjectPtr &mediaBox)
    {
        auto page = std::make_shared<KVPDFObjectDictionary>();
        auto pages = std::make_shared<KVPDFObjectDictionary>();
        pages->setObject("Type", nameObject("Pages"));
        pages->setObject("Kids", KVPDFObjectArray::arrayWithArray({refTo(page)}));
        pages->setObject("Count", KVPDFObjectInteger::integerWithLongLong(1));
        m_objects.push_back(page);
        m_objects.push_back(pages);
        page->setObject("Type", nameObject("Page"));
        page->setObject("Resources", refTo(resourcesCopy));
        page->setObject("Contents", contents);
        page->setObject("Parent", refTo(pages));
        page->setObject("MediaBox", numberArrayCopy(mediaBox));
        auto catalogue = std::make_shared<KVPDFObjectDictionary>();
        catalogue->setObject("Type", nameObject("Catalog"));
        catalogue->setObject("Version", nameObject("1.4"));
        catalogue->setObject("Pages", refTo(pages));
        m_objects.push_back(catalogue);
        return catalogue;
    }

    // References among the copies lead to the copies; any other reference is confined (see
    // confineReferences). Then every object joins `document` under its number.
    void settleInto(KVPDFDocument &document)
    {
        std::unordered_set<const KVPDFObject *> members;
        for (const auto &object : m_objects)
            members.insert(object.get());
        for (const auto &object : m_objects) {
            object->fixReferences(m_table);
            confineReferences(object, members, m_copyOf);
            // A path read from a file is never trusted; see the header.
            if (auto stream = kv_cast<KVPDFObjectStream>(object))
                if (stream->dictionary() && stream->dictionary()->nameForKey("Subtype") == "Image")
                    stream->dictionary()->removeObjectForKey("filename");
        }
        for (size_t i = 0; i < m_objects.size(); ++i) {
            m_objects[i]->setContext(&document);
            document.setObject(m_objects[i], uint64_t(i) + 1, 0);
        }
    }

    QByteArray write(KVPDFDocument &document, const std::shared_ptr<KVPDFObjectDictionary> &catalogue) const
    {
        auto trailer = std::make_shared<KVPDFObjectDictionary>();
        trailer->setObject("Size", KVPDFObjectInteger::integerWithLongLong(int64_t(m_objects.size()) + 1));
        trailer->setObject("Root", refTo(catalogue));
        KVPDFMutableDataWriter writer;
        writer.appendData("%PDF-1.3" + document.EOL());
        // The one-page document is made here in clear; whoever embeds it encrypts it with its own file.
        const KVPDFWriteState plain;
        KVPDFObjectEmitter emitter(document, writer, plain);
        for (size_t i = 0; i < m_objects.size(); ++i)
            emitter.writeObject(m_objects[i], uint64_t(i) + 1, false);
        emitter.finish(trailer, KVPDFObjectEmitter::Table::CompleteFromOne);
        return writer.data();
    }

private:
    void enter(const KVPDFObjectPtr &original, const KVPDFObjectPtr &copy)
    {
        m_copyOf[original.get()] = copy;
        if (original->objectNumber() == 0)
            return;
        // A generation the table has no slot for is left to confineReferences; a hostile
        // generation number must not size the table.
        const uint64_t generation = original->generation();
        if (generation > 65535)
            return;
        auto &bySlot = m_table[original->context()];
        if (bySlot.size() <= generation)
            bySlot.resize(generation + 1);
        bySlot[generation][original->objectNumber()] = copy;
    }

    std::vector<KVPDFObjectPtr> m_objects;
    KVPDFTranslationTable m_table;
    std::unordered_map<const KVPDFObject *, KVPDFObjectPtr> m_copyOf;
};
}

QByteArray KVPDFImprint::onePageDataForForm(const std::shared_ptr<KVPDFObjectStream> &form, const KVPDFObjectPtr &mediaBox,
                                            const std::optional<QTransform> &placement, const QRectF &clip)
{
    if (!form || !form->dictionary())
        return QByteArray();
    const std::shared_ptr<KVPDFObjectDictionary> formDictionary = form->dictionary();
    auto resources = kv_cast<KVPDFObjectDictionary>(formDictionary->resolvedObjectForKey("Resources"));

    KVPDFDocument document;
    OnePageBuilder builder;
    auto contentDictionary = OnePageBuilder::contentDictionaryOf(formDictionary);
    auto resourcesCopy = builder.copyResources(resources, contentDictionary);
    KVPDFObjectPtr contents = builder.contents(contentDictionary, form->rawData(), placement, clip);
    auto catalogue = builder.pageAndCatalogue(resourcesCopy, contents, mediaBox);
    builder.settleInto(document);
    return builder.write(document, catalogue);
}

namespace {
// A digest of what onePageDataForForm reads from `form` and `mediaBox`, each part preceded by
// its length so no two different sets of parts run together into equal bytes.
QByteArray rebuildDigest(const std::shared_ptr<KVPDFObjectStream> &form, const KVPDFObjectPtr &mediaBox)
{
    const std::shared_ptr<KVPDFObjectDictionary> &formDictionary = form->dictionary();
    QCryptographicHash digest(QCryptographicHash::Sha256);
    auto add = [&digest](const QByteArray &part) {
        const QByteArray size = QByteArray::number(qulonglong(part.size())) + ':';
        digest.addData(size);
        digest.addData(part);
    };
    const KVPDFObjectPtr resources = formDictionary->objectForKey("Resources");
    add(resources ? resources->directObject(KVPDFEncryption::Plain) : QByteArray());
    add(OnePageBuilder::contentDictionaryOf(formDictionary)->directObject(KVPDFEncryption::Plain));
    const KVPDFObjectPtr box = numberArrayCopy(mediaBox);
    add(box ? box->directObject(KVPDFEncryption::Plain) : QByteArray());
    add(form->rawData());
    return digest.result();
}
}

std::shared_ptr<KVPDFDocument> KVPDFRebuiltImprintDocuments::documentForForm(const std::shared_ptr<KVPDFObjectStream> &form,
                                                                             const KVPDFObjectPtr &mediaBox)
{
    const QByteArray digest = form && form->dictionary() ? rebuildDigest(form, mediaBox) : QByteArray();
    auto known = m_documents.find(digest);
    if (known != m_documents.end())
        if (std::shared_ptr<KVPDFDocument> document = known->second.lock())
            return document;
    // As imprintWithData: data that does not open still gives a document, without pages.
    std::shared_ptr<KVPDFDocument> document =
        KVPDFDocument::documentWithData(KVPDFImprint::onePageDataForForm(form, mediaBox), nullptr);
    if (!digest.isEmpty())
        m_documents[digest] = document;
    return document;
}

QByteArray KVPDFBlankPage()
{
    QFile file(QStringLiteral(":/folivo/blankpage.pdf"));
    if (!file.open(QIODevice::ReadOnly)) {
        kvLog(QStringLiteral("The blank page resource is missing from this build"));
        return QByteArray();
    }
    return file.readAll();
}
