// The per-page step of the full rewrite and of the working copy: the page with what it
// inherited made its own, imprint streams of an earlier save taken out, and, with imprints,
// the page's content imprints merged in as form objects and its annotations written back
// through their dictionaries. KVPDFPage::setupImprints reads the stored form back.
#include "KVPDFDocument.h"

#include "KVPDFAnnotation.h"
#include "KVPDFArchive.h"
#include "KVPDFExceptions.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFOperandText.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFReferenceTranslator.h"
#include "KVPDFWriteState.h"

#include <QFile>

#include <cmath>
#include <set>
#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Stream = std::shared_ptr<KVPDFObjectStream>;

// Keys of a stream dictionary that say how its data is stored.
const char *const kFilterKeys[] = {"Filter", "DecodeParms", "DP"};

KVPDFObjectPtr referenceTo(const KVPDFObjectPtr &object) { return KVPDFObjectReference::referenceWithObject(object); }

// A value taken into a new dictionary: an indirect object by reference, a direct one as a copy.
KVPDFObjectPtr adoptedValue(const KVPDFObjectPtr &value)
{
    if (!value)
        return nullptr;
    return value->objectNumber() != 0 ? referenceTo(value) : value->copy();
}

// A copy to write in place of `original`: strings of a file still being decrypted are settled
// first, since the copy will carry another number.
KVPDFObjectPtr writableCopy(const KVPDFObjectPtr &original)
{
    KVPDFReferenceTranslator::settleStrings(original);
    KVPDFObjectPtr copy = original->copy();
    copy->setContainer({});
    return copy;
}

using kvpdf::operandText;

// What a value leads to, nullptr when that cannot be read. For values the written page keeps
// as they are: the reference pass writes an unreadable one as null and says so.
KVPDFObjectPtr readable(const KVPDFObjectPtr &value) { return KVPDFReferenceTranslator::readableValue(value, true); }

Stream streamOf(const KVPDFObjectPtr &value) { return kv_cast<KVPDFObjectStream>(readable(value)); }

bool isFlattened(const Dictionary &dictionary)
{
    auto flattened = kv_cast<KVPDFObjectBoolean>(readable(dictionary->objectForKey("Flattened")));
    return flattened && flattened->boolValue();
}

// The Contents entries as they stand (references stay references), for the new Contents.
std::vector<KVPDFObjectPtr> contentEntries(const Dictionary &page)
{
    KVPDFObjectPtr contents = page->objectForKey("Contents");
    if (!contents)
        return {};
    KVPDFObjectPtr resolved = KVPDFReferenceTranslator::readableValue(contents);
    if (kv_cast<KVPDFObjectStream>(resolved))
        return {contents};
    if (auto array = kv_cast<KVPDFObjectArray>(resolved))
        return array->value();
    return {};
}

// (number, generation) of the streams an earlier save listed as the page's imprint streams.
std::set<std::pair<uint64_t, uint64_t>> storedImprintStreams(const Dictionary &page)
{
    std::set<std::pair<uint64_t, uint64_t>> listed;
    auto stored = kv_cast<KVPDFObjectArray>(KVPDFReferenceTranslator::readableValue(page->objectForKey("FolivoImprints")));
    for (size_t i = 0; stored && i < stored->count(); ++i) {
        const KVPDFObjectPtr entry = stored->objectAtIndex(i);
        auto reference = kv_cast<KVPDFObjectReference>(entry);
        if (!reference)
            continue;
        const KVPDFObjectPtr &target = reference->cachedTarget();
        if (target && target->objectNumber())
            listed.insert({target->objectNumber(), target->generation()});
        else
            listed.insert({reference->objectNumber(), reference->generation()});
    }
    return listed;
}

// A live imprint stream of an earlier save: the page holds that imprint as an object now and
// writes it anew. A flattened one is part of the page for good.
bool isStoredLiveImprint(const Stream &stream, const std::set<std::pair<uint64_t, uint64_t>> &listed)
{
    if (!stream || !stream->dictionary() || isFlattened(stream->dictionary()))
        return false;
    return stream->dictionary()->objectForKey("FolivoImprint")
           || (stream->objectNumber() && listed.count({stream->objectNumber(), stream->generation()}));
}

KVPDFObjectPtr numbersArray(std::initializer_list<double> values)
{
    std::vector<KVPDFObjectPtr> numbers;
    for (double value : values)
        numbers.push_back(KVPDFObjectReal::realWithFloat(float(std::isfinite(value) ? value : 0.0)));
    return KVPDFObjectArray::arrayWithArray(std::move(numbers));
}

Stream markerStream(const QByteArray &operatorText)
{
    Stream marker = KVPDFObjectStream::streamWithData(operatorText);
    marker->dictionary()->setObject("FolivoMarker", KVPDFObjectInteger::integerWithLongLong(1));
    return marker;
}

// The imprint's page content as one stream's data and filter keys.
struct ImprintContent {
    QByteArray data;
    std::vector<KVPDFObjectDictionary::Entry> filterEntries;
};

ImprintContent imprintContent(const Dictionary &page)
{
    ImprintContent content;
    KVPDFObjectPtr contents = page->resolvedObjectForKey("Contents");
    if (auto single = kv_cast<KVPDFObjectStream>(contents)) {
        const Dictionary &dictionary = single->dictionary();
        if (dictionary
            && (dictionary->objectForKey("F") || dictionary->objectForKey("FFilter")
                || dictionary->objectForKey("FDecodeParams")))
            kvLog(QStringLiteral("External file streams not supported"));
        content.data = single->rawData();
        for (const char *key : kFilterKeys)
            if (KVPDFObjectPtr value = dictionary ? dictionary->resolvedObjectForKey(key) : nullptr)
                content.filterEntries.emplace_back(key, writableCopy(value));
        return content;
    }
    // Several streams draw as one when joined with white space; stored deflated.
    auto array = kv_cast<KVPDFObjectArray>(contents);
    std::vector<Stream> parts;
    for (size_t i = 0; array && i < array->count(); ++i)
        parts.push_back(streamOf(array->objectAtIndex(i)));
    Stream deflated = KVPDFObjectStream::streamByDeflatingData(KVPDFPage::joinedContent(parts, QStringLiteral("An imprint")));
    content.data = deflated->rawData();
    content.filterEntries.emplace_back("Filter", KVPDFObjectName::nameWithBytes("FlateDecode"));
    return content;
}

// Images of the imprint's resources made in this session from a JPEG file store the file's
// own bytes; no written image names a local file.
void prepareImprintImages(const KVPDFObjectPtr &resources, KVPDFWriteState &state)
{
    if (!resources)
        return;
    KVPDFVisitedSet visited;
    for (const KVPDFObjectPtr &object : resources->subobjects(visited)) {
        Stream image = kv_cast<KVPDFObjectStream>(object);
        if (!image || !image->dictionary() || image->dictionary()->nameForKey("Subtype") != "Image" || state.translation(*image))
            continue;
        const QString path = KVPDFImprint::imageFileName(*image->dictionary());
        QByteArray jpeg;
        if (!path.isEmpty() && KVPDFDocument::isJPEG(path)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                jpeg = file.readAll();
        }
        if (jpeg.isEmpty() && !image->dictionary()->objectForKey("filename"))
            continue;
        auto copy = kv_cast<KVPDFObjectStream>(writableCopy(image));
        copy->dictionary()->removeObjectForKey("filename");
        if (!jpeg.isEmpty()) {
            copy->updateRawData(jpeg);
            copy->dictionary()->setObject("Filter", KVPDFObjectName::nameWithBytes("DCTDecode"));
            copy->dictionary()->removeObjectForKey("DecodeParms");
            copy->dictionary()->removeObjectForKey("DP");
        }
        state.translate(image, copy);
        state.addObject(copy);
    }
}

// The property dictionary as stored: archived without the session's file name, or the bytes
// read from the file when they did not unarchive. Empty when the imprint has none.
QByteArray storedProperties(const KVPDFImprint &imprint)
{
    if (imprint.hasDictionary()) {
        QVariantMap properties = imprint.dictionary();
        properties.remove(QStringLiteral("filename"));
        return KVPDFArchive::archive(properties);
    }
    return imprint.opaqueDictionaryData();
}

// The copied resources of the page with an XObject dictionary of their own to name forms in.
struct PageResources {
    Dictionary resources;
    Dictionary xobjects;
};

PageResources ownResources(const KVPDFObjectPtr &value)
{
    PageResources own;
    auto original = kv_cast<KVPDFObjectDictionary>(KVPDFReferenceTranslator::readableValue(value));
    own.resources = original ? kv_cast<KVPDFObjectDictionary>(writableCopy(original)) : std::make_shared<KVPDFObjectDictionary>();
    auto xobjects =
        kv_cast<KVPDFObjectDictionary>(KVPDFReferenceTranslator::readableValue(own.resources->objectForKey("XObject")));
    own.xobjects = xobjects ? kv_cast<KVPDFObjectDictionary>(writableCopy(xobjects)) : std::make_shared<KVPDFObjectDictionary>();
    for (const QByteArray &name : own.xobjects->keys())
        if (name.startsWith("FolivoImprint"))
            own.xobjects->removeObjectForKey(name);
    own.resources->setObject("XObject", own.xobjects);
    return own;
}

// A look at a value during a save: what the program has not read stays unread afterwards.
KVPDFObjectPtr lookAt(const KVPDFObjectPtr &value)
{
    if (auto reference = kv_cast<KVPDFObjectReference>(value)) {
        try {
            return reference->targetWithoutCaching();
        } catch (const FolivoException &) {
            return nullptr; // the reference pass writes it as null and says so
        }
    }
    return value;
}

bool namesStoredImprints(const KVPDFObjectPtr &resourcesValue, KVPDFWriteState &state)
{
    // Resources shared by many pages are looked at once per write, by the object that says it.
    auto answerFor = [&state](const KVPDFObjectPtr &value, const std::function<bool()> &look) {
        auto reference = kv_cast<KVPDFObjectReference>(value);
        if (!reference || reference->objectNumber() == 0)
            return look();
        const auto key = std::make_pair(static_cast<const KVPDFObjectContext *>(reference->context()), reference->objectNumber());
        auto known = state.namesStoredImprints.find(key);
        if (known != state.namesStoredImprints.end())
            return known->second;
        const bool answer = look();
        state.namesStoredImprints.emplace(key, answer);
        return answer;
    };
    return answerFor(resourcesValue, [&] {
        auto resources = kv_cast<KVPDFObjectDictionary>(lookAt(resourcesValue));
        if (!resources)
            return false;
        const KVPDFObjectPtr xobjectsValue = resources->objectForKey("XObject");
        return answerFor(xobjectsValue, [&] {
            auto xobjects = kv_cast<KVPDFObjectDictionary>(lookAt(xobjectsValue));
            if (!xobjects)
                return false;
            for (const QByteArray &name : xobjects->keys())
                if (name.startsWith("FolivoImprint"))
                    return true;
            return false;
        });
    });
}
}

QByteArray KVPDFDocument::createName(bool flattened)
{
    const QByteArray name = (flattened ? QByteArrayLiteral("FolivoFlattened") : QByteArrayLiteral("FolivoImprint"))
                            + QByteArray::number(qulonglong(m_contents.nameCount));
    ++m_contents.nameCount;
    return name;
}

namespace {
// The page's dictionary as a writable copy with what it inherited made its own, a media box
// (the default paper size when it has none anywhere) and the resources an edit replaced.
Dictionary ownPageCopy(const Dictionary &original)
{
    auto dictionary = kv_cast<KVPDFObjectDictionary>(writableCopy(original));
    for (const char *key : KVPDFPage::kInheritableKeys) {
        if (dictionary->objectForKey(key))
            continue;
        try {
            if (KVPDFObjectPtr inherited = original->objectFromAncestorsForKey(key))
                dictionary->setObject(key, adoptedValue(inherited));
        } catch (const FolivoException &failure) {
            kvLog(QStringLiteral("The page's inherited %1 could not be read and is left out: %2")
                      .arg(QLatin1String(key))
                      .arg(QString::fromStdString(failure.reason())));
        }
    }
    if (!dictionary->objectForKey("MediaBox")) {
        // A page without a media box anywhere shows at the default paper size; write that. A
        // detached page works it out, so the document's own page stays as it is.
        auto probe = KVPDFPage::pageWithDocument(nullptr, 0, dictionary);
        probe->mediaBox();
        dictionary = probe->pageDictionary();
    }
    if (KVPDFObjectPtr replacement = dictionary->objectForKey("Folivo-NewResources"))
        dictionary->setObject("Resources", replacement);
    for (const char *key : {"Folivo-NewResources", "FolivoImprints"})
        dictionary->removeObjectForKey(key);
    return dictionary;
}

// Writes one content imprint as a form object, named in the page's XObject resources, and the
// placement stream that draws it; answers a reference to the placement stream.
KVPDFObjectPtr writeContentImprint(KVPDFDocument &document, const KVPDFImprint &imprint, KVPDFPage &imprintPage,
                                   PageResources &own, const QTransform &placement, KVPDFWriteState &state)
{
    const Dictionary &imprintDictionary = imprintPage.pageDictionary();
    KVPDFObjectPtr imprintResources = imprintDictionary->objectFromAncestorsForKey("Resources");
    if (imprintResources)
        imprintResources = imprintResources->resolvedObject();
    prepareImprintImages(imprintResources, state);

    const bool flattened = imprint.flatten();
    const ImprintContent drawn = imprintContent(imprintDictionary);
    const QRectF box = imprintPage.mediaBox();
    const QPointF location = imprint.location();
    std::vector<KVPDFObjectDictionary::Entry> formEntries{
        {"Type", KVPDFObjectName::nameWithBytes("XObject")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Form")},
        {"FormType", KVPDFObjectInteger::integerWithLongLong(1)},
        {"BBox", numbersArray({box.left(), box.top(), box.right(), box.bottom()})},
        {"FolivoLocation", numbersArray({location.x(), location.y()})},
        {"Length", KVPDFObjectInteger::integerWithLongLong(drawn.data.size())},
    };
    if (imprintResources)
        formEntries.emplace_back("Resources", imprintResources->objectNumber() ? referenceTo(imprintResources)
                                                                               : writableCopy(imprintResources));
    else
        formEntries.emplace_back("Resources", std::make_shared<KVPDFObjectDictionary>());
    formEntries.insert(formEntries.end(), drawn.filterEntries.begin(), drawn.filterEntries.end());
    if (!flattened) {
        const QByteArray properties = storedProperties(imprint);
        if (!properties.isEmpty()) {
            Stream stored = KVPDFObjectStream::streamByDeflatingData(properties);
            state.addObject(stored);
            formEntries.emplace_back("FolivoDictionary", referenceTo(stored));
        }
    }
    Stream form = KVPDFObjectStream::streamWithDictionary(KVPDFObjectDictionary::dictionaryWithDictionary(std::move(formEntries)),
                                                          drawn.data, {0, uint64_t(drawn.data.size())});
    state.addObject(form);

    QByteArray name;
    do
        name = document.createName(flattened);
    while (own.xobjects->objectForKey(name));
    own.xobjects->setObject(name, referenceTo(form));

    const QByteArray tab = document.EOL() + "\t\t\t\t";
    const QTransform &m = placement;
    const QByteArray text = "q" + tab + "1 0 0 1 0 0 cm" + tab + operandText(m.m11()) + ' ' + operandText(m.m12()) + ' '
                            + operandText(m.m21()) + ' ' + operandText(m.m22()) + ' ' + operandText(m.dx()) + ' '
                            + operandText(m.dy()) + " cm" + tab + "1 0 0 1 " + operandText(location.x()) + ' '
                            + operandText(location.y()) + " cm" + tab + '/' + name + " Do" + document.EOL() + "Q";
    Stream draw = KVPDFObjectStream::streamWithData(text);
    draw->dictionary()->setObject("FolivoImprint", referenceTo(form));
    if (flattened)
        draw->dictionary()->setObject("Flattened", KVPDFObjectBoolean::boolWithBool(true));
    state.addObject(draw);
    return referenceTo(draw);
}

// Contents from the page's own streams then the imprints' placement streams, the page's own
// inside one q/Q pair so what it leaves in the graphics state does not move the imprints.
void setContents(const Dictionary &dictionary, std::vector<KVPDFObjectPtr> contents,
                 const std::vector<KVPDFObjectPtr> &imprintStreams, KVPDFWriteState &state)
{
    if (!imprintStreams.empty()) {
        // A page saved before has the pair already.
        const Stream first = contents.empty() ? nullptr : streamOf(contents.front());
        if (!first || !first->dictionary() || !first->dictionary()->objectForKey("FolivoMarker")) {
            Stream open = markerStream("q");
            Stream close = markerStream("Q");
            state.addObject(open);
            state.addObject(close);
            contents.insert(contents.begin(), referenceTo(open));
            contents.push_back(referenceTo(close));
        }
        contents.insert(contents.end(), imprintStreams.begin(), imprintStreams.end());
        std::vector<KVPDFObjectPtr> listedStreams;
        for (const auto &stream : imprintStreams)
            listedStreams.push_back(stream->copy());
        dictionary->setObject("FolivoImprints", KVPDFObjectArray::arrayWithArray(std::move(listedStreams)));
    }

    if (contents.size() == 1)
        dictionary->setObject("Contents", contents.front());
    else
        dictionary->setObject("Contents", KVPDFObjectArray::arrayWithArray(std::move(contents)));
}
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFDocument::page(KVPDFPage &source, bool withImprints, KVPDFWriteState &state)
{
    const Dictionary &original = source.pageDictionary();
    if (!original)
        return nullptr;
    Dictionary dictionary = ownPageCopy(original);

    // The page's own content, without the live imprint streams of an earlier save.
    const auto listed = storedImprintStreams(original);
    std::vector<KVPDFObjectPtr> contents;
    for (const KVPDFObjectPtr &entry : contentEntries(original)) {
        const Stream stream = streamOf(entry);
        // Readers skip what is not a stream; written as null it would be an error in the file.
        if (!stream) {
            kvLog(QStringLiteral("A Contents entry of page %1 could not be read as a stream and is left out")
                      .arg(source.pageNumberInDocument() + 1));
            continue;
        }
        if (!isStoredLiveImprint(stream, listed))
            contents.push_back(entry->copy());
    }
    // Names an earlier save used stay taken, so a flattened form kept in the page is not
    // shadowed by a new one.
    m_contents.nameCount += listed.size();

    std::vector<std::shared_ptr<KVPDFImprint>> content;
    if (withImprints)
        for (const auto &imprint : source.contentImprints())
            if (imprint && imprint->imprintType() == KVPDFImprint::ImprintContent)
                content.push_back(imprint);

    KVPDFObjectPtr resourcesValue = dictionary->objectForKey("Resources");
    PageResources own;
    if (!content.empty() || namesStoredImprints(resourcesValue, state)) {
        own = ownResources(resourcesValue);
        state.addObject(own.resources);
        dictionary->setObject("Resources", referenceTo(own.resources));
    } else if (auto direct = kv_cast<KVPDFObjectDictionary>(resourcesValue)) {
        // Resources as an object of their own, shared by reference like any other.
        direct->setContainer({});
        state.addObject(direct);
        dictionary->setObject("Resources", referenceTo(direct));
    }

    std::vector<KVPDFObjectPtr> imprintStreams;
    const QTransform placement = pageTransformForRotation(float(source.rotate().value_or(0)), pageSizeForPage(source));
    for (const auto &imprint : content) {
        const std::shared_ptr<KVPDFDocument> &imprintDocument = imprint->document();
        const std::shared_ptr<KVPDFPage> imprintPage = imprintDocument ? imprintDocument->pageAtIndex(0) : nullptr;
        if (!imprintPage || !imprintPage->pageDictionary()) {
            kvLog(QStringLiteral("An imprint of page %1 has no page to draw and is left out")
                      .arg(source.pageNumberInDocument() + 1));
            continue;
        }
        imprintStreams.push_back(writeContentImprint(*this, *imprint, *imprintPage, own, placement, state));
    }
    if (own.resources && own.xobjects->count() == 0)
        own.resources->removeObjectForKey("XObject");
    setContents(dictionary, std::move(contents), imprintStreams, state);

    if (withImprints && source.processedAnnotations())
        writeAnnotations(source, dictionary, state);
    dictionary->setObject("Parent", referenceTo(state.newPagesObject));
    return dictionary;
}

void KVPDFDocument::finishAnnotationCopy(const KVPDFAnnotation &annotation, const std::shared_ptr<KVPDFObjectDictionary> &copy,
                                         const std::shared_ptr<KVPDFObjectDictionary> &page)
{
    if (const Dictionary &appearance = annotation.appearance())
        copy->setObject("AP", appearance->objectNumber() ? referenceTo(appearance) : writableCopy(appearance));
    if (const Dictionary resources = annotation.resourcesForWriting())
        copy->setObject("DR", resources->objectNumber() ? referenceTo(resources) : writableCopy(resources));
    copy->setObject("P", referenceTo(page));
}

void KVPDFDocument::writeAnnotations(KVPDFPage &source, const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                     KVPDFWriteState &state)
{
    // Written through copies: the write takes its objects apart when it ends, and the
    // annotations keep theirs. Every reference to an annotation (Fields, a pop-up's Parent, a
    // note's Popup) is translated to its copy.
    std::vector<KVPDFObjectPtr> annots;
    std::unordered_set<const KVPDFObject *> seen;
    for (const auto &annotation : source.annotationImprints()) {
        const Dictionary &annotationDictionary = annotation->annotDict();
        if (!annotationDictionary || !seen.insert(annotationDictionary.get()).second)
            continue;
        KVPDFObjectPtr known = state.translation(*annotationDictionary);
        auto copy = kv_cast<KVPDFObjectDictionary>(known);
        if (!copy) {
            copy = kv_cast<KVPDFObjectDictionary>(writableCopy(annotationDictionary));
            state.translate(annotationDictionary, copy);
            state.addObject(copy);
        }
        finishAnnotationCopy(*annotation, copy, dictionary);
        // A widget made in this session is a field of its own.
        if (annotation->annotationType() == KVPDFAnnotation::AnnotationWidget && annotation->originalObjectNumber() == 0
            && copy->objectForKey("T") && !copy->objectForKey("Parent"))
            state.collectedFields.push_back(copy);
        annots.push_back(referenceTo(copy));
    }
    if (annots.empty())
        dictionary->removeObjectForKey("Annots");
    else
        dictionary->setObject("Annots", KVPDFObjectArray::arrayWithArray(std::move(annots)));
}
