#include "KVPDFAnnotation.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFormField.h"
#include "KVPDFImport.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFOperandText.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"

#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace {
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

KVPDFObjectPtr resolved(const KVPDFObjectPtr &object) { return object ? object->resolvedObject() : nullptr; }

double finiteNumber(const KVPDFObjectPtr &object)
{
    const double value = object ? double(object->realValue()) : 0.0;
    return std::isfinite(value) ? value : 0.0;
}

double unit(double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0; }

// Holds one level of a deep copy; the depth counts nesting through references and containers.
struct SubtreeCopy {
    std::unordered_map<const KVPDFObject *, KVPDFObjectPtr> inProgress;
    size_t copies = 0;
    int depth = 0;
    bool warned = false;

    bool exhausted()
    {
        if (depth < KVPDFAnnotation::kMaxCopyDepth && copies < KVPDFAnnotation::kMaxCopies)
            return false;
        if (!warned)
            kvLog(QStringLiteral("Deep copy stopped: objects nested or shared beyond what a copy may hold"));
        warned = true;
        return true;
    }
};

struct DepthStep {
    explicit DepthStep(int &depth) : m_depth(depth) { ++m_depth; }
    ~DepthStep() { --m_depth; }
    int &m_depth;
};

KVPDFObjectPtr copyNode(const KVPDFObjectPtr &object, SubtreeCopy &state, std::vector<KVPDFObjectPtr> &list);

std::shared_ptr<KVPDFObjectDictionary> copyEntries(const std::shared_ptr<KVPDFObjectDictionary> &source,
                                                   const std::shared_ptr<KVPDFObjectDictionary> &target, SubtreeCopy &state,
                                                   std::vector<KVPDFObjectPtr> &list)
{
    Entries entries;
    for (const auto &[key, value] : source->value())
        if (value)
            entries.emplace_back(key, copyNode(value, state, list));
    target->setValue(std::move(entries));
    return target;
}

KVPDFObjectPtr copyNode(const KVPDFObjectPtr &object, SubtreeCopy &state, std::vector<KVPDFObjectPtr> &list)
{
    if (state.exhausted()) {
        KVPDFObjectPtr null = KVPDFObjectNull::nullObject();
        list.push_back(null);
        return null;
    }
    DepthStep step(state.depth);
    ++state.copies;
    switch (object->objectType()) {
    case KVPDFObject::TypeDictionary: {
        auto source = kv_cast<KVPDFObjectDictionary>(object);
        auto copy = std::make_shared<KVPDFObjectDictionary>();
        list.push_back(copy);
        state.inProgress[object.get()] = copy;
        copyEntries(source, copy, state, list);
        state.inProgress.erase(object.get());
        return copy;
    }
    case KVPDFObject::TypeArray: {
        auto source = kv_cast<KVPDFObjectArray>(object);
        auto copy = std::make_shared<KVPDFObjectArray>();
        list.push_back(copy);
        state.inProgress[object.get()] = copy;
        std::vector<KVPDFObjectPtr> elements;
        for (const auto &element : source->value())
            elements.push_back(element ? copyNode(element, state, list) : KVPDFObjectNull::nullObject());
        copy->setValue(std::move(elements));
        state.inProgress.erase(object.get());
        return copy;
    }
    case KVPDFObject::TypeStream: {
        auto source = kv_cast<KVPDFObjectStream>(object);
        auto copy = kv_cast<KVPDFObjectStream>(source->copy());
        list.push_back(copy);
        state.inProgress[object.get()] = copy;
        if (source->dictionary())
            copy->setDictionary(copyEntries(source->dictionary(), std::make_shared<KVPDFObjectDictionary>(), state, list));
        state.inProgress.erase(object.get());
        return copy;
    }
    case KVPDFObject::TypeReference: {
        KVPDFObjectPtr target = object->resolvedObject();
        if (!target) {
            KVPDFObjectPtr null = KVPDFObjectNull::nullObject();
            list.push_back(null);
            return null;
        }
        if (state.inProgress.count(target.get())) {
            // Pointing back at the copy being made would tie the copies into a reference cycle
            // that nothing frees; the link back (P of a page's own annotation, a form among its
            // own resources) is what a copy can do without.
            kvLog(QStringLiteral("Deep copy: a reference back into the object being copied is left out"));
            KVPDFObjectPtr null = KVPDFObjectNull::nullObject();
            list.push_back(null);
            return null;
        }
        const size_t slot = list.size();
        list.push_back(nullptr);
        KVPDFObjectPtr copy = copyNode(target, state, list);
        copy->setContext(nullptr);
        copy->setObjectNumber(0);
        copy->setGeneration(0);
        copy->setDirect(false);
        auto reference = KVPDFObjectReference::referenceWithObject(copy);
        list[slot] = reference;
        return reference;
    }
    default:
        // Strings decrypt with their container's number, which the copy does not have.
        if (auto string = kv_cast<KVPDFObjectString>(object))
            string->stringData();
        KVPDFObjectPtr copy = object->copy();
        list.push_back(copy);
        return copy;
    }
}

struct ResourceCopy {
    std::unordered_map<const KVPDFObject *, KVPDFObjectPtr> copies;
    // Targets whose copies are being walked: a reference to one of them is a cycle.
    std::unordered_set<const KVPDFObject *> walking;
    int depth = 0;
};

void walkResources(const KVPDFObjectPtr &object, KVPDFPage &page, ResourceCopy &state);

// Points `reference` at the copy of its target (made, added to the page and walked on first
// meeting). False when the reference closes a loop and must be replaced by null.
bool followReference(const std::shared_ptr<KVPDFObjectReference> &reference, KVPDFPage &page, ResourceCopy &state)
{
    KVPDFObjectPtr target = reference->resolvedObject();
    if (!target)
        return true;
    if (state.walking.count(target.get())) {
        // A form among its own resources can never be drawn, and the copies would keep each
        // other alive for good.
        kvLog(QStringLiteral("Appearance resources refer back to themselves; the loop is cut"));
        return false;
    }
    auto known = state.copies.find(target.get());
    if (known != state.copies.end()) {
        reference->setTarget(known->second);
        return true;
    }
    KVPDFObjectString::decryptStringsBelow(target);
    KVPDFObjectPtr copy = target->copy();
    state.copies[target.get()] = copy;
    reference->setTarget(copy);
    page.addExtraObject(copy);
    state.walking.insert(target.get());
    walkResources(copy, page, state);
    state.walking.erase(target.get());
    copy->setContext(nullptr);
    copy->setObjectNumber(0);
    copy->setGeneration(0);
    copy->setDirect(false);
    return true;
}

void walkResources(const KVPDFObjectPtr &object, KVPDFPage &page, ResourceCopy &state)
{
    if (!object)
        return;
    if (state.depth >= KVPDFAnnotation::kMaxCopyDepth) {
        kvLog(QStringLiteral("Appearance resources nested too deeply; the rest is not copied"));
        return;
    }
    DepthStep step(state.depth);
    if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object)) {
        const Entries entries = dictionary->value();
        for (const auto &[key, value] : entries) {
            auto reference = kv_cast<KVPDFObjectReference>(value);
            if (!reference)
                walkResources(value, page, state);
            else if (!followReference(reference, page, state))
                dictionary->setObject(key, KVPDFObjectNull::nullObject());
        }
    } else if (auto array = kv_cast<KVPDFObjectArray>(object)) {
        for (size_t i = 0; i < array->count(); ++i) {
            KVPDFObjectPtr element = array->objectAtIndex(i);
            auto reference = kv_cast<KVPDFObjectReference>(element);
            if (!reference)
                walkResources(element, page, state);
            else if (!followReference(reference, page, state))
                array->replaceObjectAtIndex(i, KVPDFObjectNull::nullObject());
        }
    } else if (auto stream = kv_cast<KVPDFObjectStream>(object)) {
        // A form or pattern inside the resources has resources of its own.
        walkResources(stream->dictionary(), page, state);
    } else if (auto reference = kv_cast<KVPDFObjectReference>(object)) {
        followReference(reference, page, state);
    }
}
}

std::shared_ptr<KVPDFAnnotation>
KVPDFAnnotation::annotationForDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
{
    if (!dictionary)
        return nullptr;
    const QByteArray subtype = dictionary->nameForKey("Subtype");
    const std::shared_ptr<const KVPDFServices> services = KVPDFServices::installed();
    const KVPDFAnnotationClasses &engine = KVPDFAnnotationClasses::engine();
    const auto pick = [](const QHash<QByteArray, KVPDFAnnotationFactory> &installed,
                         const QHash<QByteArray, KVPDFAnnotationFactory> &own, const QByteArray &key) {
        KVPDFAnnotationFactory factory = installed.value(key);
        return factory ? factory : own.value(key);
    };
    KVPDFAnnotationFactory factory = pick(services->annotationFactories, engine.annotationFactories, subtype);
    if (subtype == "Widget") {
        // The field type sits on the field dictionary: a Parent holding FT, else the widget.
        auto fieldType = kv_cast<KVPDFObjectName>(KVPDFFormField::fieldDictionaryFor(dictionary)->resolvedObjectForKey("FT"));
        if (fieldType)
            if (KVPDFAnnotationFactory byType = pick(services->widgetFactories, engine.widgetFactories, fieldType->bytes()))
                factory = byType;
    }
    if (factory)
        if (std::shared_ptr<KVPDFAnnotation> annotation = factory(dictionary, subtype, page))
            return annotation;
    return annotationWithDictionary(dictionary, page);
}

std::shared_ptr<KVPDFAnnotation>
KVPDFAnnotation::annotationWithDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
{
    return std::make_shared<KVPDFAnnotation>(dictionary, page);
}

KVPDFAnnotation::KVPDFAnnotation(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
    : m_page(page ? page->weak_from_this() : std::weak_ptr<KVPDFPage>())
{
    std::shared_ptr<KVPDFObjectDictionary> annotDict = dictionary;
    if (dictionary && dictionary->objectNumber() != 0 && dictionary->context()) {
        // The table's object, so that edits through the annotation are what the writer sees.
        KVPDFObjectPtr again = dictionary->context()->resolveObject(dictionary->objectNumber(), dictionary->generation());
        if (auto stream = kv_cast<KVPDFObjectStream>(again))
            annotDict = stream->dictionary();
        else if (auto fromTable = kv_cast<KVPDFObjectDictionary>(again))
            annotDict = fromTable;
    }
    m_annotDict = annotDict;
    m_originalObjectNumber = dictionary ? dictionary->objectNumber() : 0;
    const QRectF rect = dictionaryRect();
    KVPDFImprint::setLocation(rect.topLeft());
    KVPDFImprint::setSize(rect.size());
    // Appearances of encrypted files are not rendered here ahead of time: the document keeps
    // the key it reads with apart from the one it writes with, so they render later as well.
}

KVPDFAnnotation::~KVPDFAnnotation() = default;

QByteArray KVPDFAnnotation::subtype() const { return m_annotDict ? m_annotDict->nameForKey("Subtype") : QByteArray(); }

Entries KVPDFAnnotation::entries() const { return m_annotDict ? m_annotDict->value() : Entries(); }

void KVPDFAnnotation::storeEntries(Entries entries)
{
    if (!m_annotDict)
        m_annotDict = std::make_shared<KVPDFObjectDictionary>();
    m_annotDict->setValue(std::move(entries));
}

QRectF KVPDFAnnotation::dictionaryRect() const
{
    if (!m_annotDict)
        return QRectF();
    try {
        return KVPDFPage::getPDFRectFromArray(m_annotDict->resolvedObjectForKey("Rect"));
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Annotation Rect unreadable: %1").arg(QString::fromStdString(failure.reason())));
        return QRectF();
    }
}

void KVPDFAnnotation::writeRect()
{
    Entries values = entries();
    bool replaced = false;
    for (auto &entry : values)
        if (entry.first == "Rect") {
            entry.second = arrayForRect(rect());
            replaced = true;
        }
    if (!replaced)
        values.emplace_back("Rect", arrayForRect(rect()));
    storeEntries(std::move(values));
}

void KVPDFAnnotation::setLocation(QPointF location)
{
    KVPDFImprint::setLocation(location);
    writeRect();
}

void KVPDFAnnotation::setSize(QSizeF size)
{
    KVPDFImprint::setSize(size);
    writeRect();
}

bool KVPDFAnnotation::flag(int n) const
{
    if (!m_annotDict || n < 1 || n > 32)
        return false;
    return (m_annotDict->integerForKey("F", 0) >> (n - 1)) & 1;
}

void KVPDFAnnotation::setFlag(int n, bool value)
{
    if (n < 1 || n > 32 || flag(n) == value)
        return;
    const int64_t flags = (m_annotDict ? m_annotDict->integerForKey("F", 0) : 0) ^ (int64_t(1) << (n - 1));
    Entries values = entries();
    bool replaced = false;
    for (auto &entry : values)
        if (entry.first == "F") {
            entry.second = KVPDFObjectInteger::integerWithLongLong(flags);
            replaced = true;
        }
    if (!replaced)
        values.emplace_back("F", KVPDFObjectInteger::integerWithLongLong(flags));
    storeEntries(std::move(values));
}

std::shared_ptr<KVPDFObjectStream> KVPDFAnnotation::appearanceStream(const QByteArray &key) const
{
    auto appearances = kv_cast<KVPDFObjectDictionary>(m_annotDict ? m_annotDict->resolvedObjectForKey("AP") : nullptr);
    if (!appearances)
        return nullptr;
    KVPDFObjectPtr entry = appearances->resolvedObjectForKey(key);
    if (!entry)
        return nullptr;
    if (auto stream = kv_cast<KVPDFObjectStream>(entry))
        return stream;
    // A dictionary of states (check boxes, radio buttons): the state AS names is what shows.
    if (auto states = kv_cast<KVPDFObjectDictionary>(entry)) {
        const QByteArray state = m_annotDict->nameForKey("AS");
        if (auto stream = kv_cast<KVPDFObjectStream>(state.isEmpty() ? nullptr : states->resolvedObjectForKey(state)))
            return stream;
        return nullptr;
    }
    kvLog(QStringLiteral("appearance %1 returned as other than stream; should be stream; will fail gracefully")
              .arg(QString::fromLatin1(key)));
    return nullptr;
}

std::optional<QTransform> KVPDFAnnotation::matrix() const
{
    try {
        auto appearances = m_appearance;
        if (!appearances && m_annotDict)
            appearances = kv_cast<KVPDFObjectDictionary>(m_annotDict->resolvedObjectForKey("AP"));
        if (!appearances)
            return std::nullopt;
        KVPDFObjectPtr normal = appearances->resolvedObjectForKey("N");
        auto stream = kv_cast<KVPDFObjectStream>(normal);
        if (auto states = kv_cast<KVPDFObjectDictionary>(normal); states && m_annotDict)
            stream = kv_cast<KVPDFObjectStream>(states->resolvedObjectForKey(m_annotDict->nameForKey("AS")));
        KVPDFObjectPtr matrix = stream ? stream->resolvedObjectForKey("Matrix") : nullptr;
        if (!kv_cast<KVPDFObjectArray>(matrix))
            return std::nullopt;
        return transformForArray(matrix);
    } catch (const FolivoException &) {
        return std::nullopt;
    }
}

void KVPDFAnnotation::resetAppearance(Entries &entries)
{
    std::erase_if(entries, [](const auto &entry) { return entry.first == "AP"; });
    m_appearancePDFData.clear();
}

QByteArray KVPDFAnnotation::pdfDataForAppearance(const QByteArray &key)
{
    if (!m_appearancePDFData.isEmpty())
        return m_appearancePDFData;
    try {
        std::shared_ptr<KVPDFObjectStream> stream = appearanceStream(key);
        if (!stream)
            return QByteArray();
        const QRectF box = KVPDFPage::getPDFRectFromArray(stream->resolvedObjectForKey("BBox"));
        // A page maps the box, turned by the form's Matrix, onto Rect; an appearance drawn
        // alone must show what the page shows, so the Matrix is applied here too.
        KVPDFObjectPtr matrixArray = stream->resolvedObjectForKey("Matrix");
        const QTransform matrix = kv_cast<KVPDFObjectArray>(matrixArray) ? transformForArray(matrixArray) : QTransform();
        m_appearancePDFData = KVPDFImprint::onePageDataForForm(stream, arrayForRect(matrix.mapRect(box)), matrix, box);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Appearance %1 could not be rendered: %2")
                  .arg(QString::fromLatin1(key), QString::fromStdString(failure.reason())));
        m_appearancePDFData.clear();
    }
    return m_appearancePDFData;
}

std::vector<KVPDFObjectPtr> KVPDFAnnotation::subobjects(KVPDFVisitedSet &visited)
{
    return m_annotDict ? m_annotDict->subobjects(visited) : std::vector<KVPDFObjectPtr>();
}

void KVPDFAnnotation::copyAnnotationInto(KVPDFAnnotation &target) const
{
    copyImprintInto(target);
    if (m_annotDict) {
        auto dictionary = kv_cast<KVPDFObjectDictionary>(m_annotDict->copy());
        // A new object when written. The copy keeps its document so the references it holds
        // still resolve; number 0 is what marks it as new.
        dictionary->setObjectNumber(0);
        dictionary->setGeneration(0);
        target.m_annotDict = dictionary;
        // The copy may outlive every other owner of that document.
        if (KVPDFDocument *document = kvpdf::documentOf(*dictionary))
            target.m_heldDocument = document->weak_from_this().lock();
    }
    target.m_page = m_page;
    target.m_oldDict = m_oldDict;
    target.m_originalObjectNumber = m_originalObjectNumber;
}

bool KVPDFAnnotation::importInto(KVPDFImport &import)
{
    if (!m_annotDict || !import.isForeign(*m_annotDict))
        return false;
    const KVPDFObjectContext *source = m_annotDict->context();
    const bool numbered = m_annotDict->objectNumber() != 0;
    auto dictionary = kv_cast<KVPDFObjectDictionary>(import.add(m_annotDict));
    if (!dictionary)
        return false;
    m_annotDict = dictionary;
    // A copy's pop-up names the dictionary it was copied from as its Parent.
    if (!numbered && m_originalObjectNumber != 0)
        import.alias(source, m_originalObjectNumber, m_annotDict);
    // Taken after the dictionary, so they never stand for its number; they may reach objects
    // of the source too.
    if (auto copy = kv_cast<KVPDFObjectDictionary>(import.addCopy(m_oldDict)))
        m_oldDict = copy;
    if (auto copy = kv_cast<KVPDFObjectDictionary>(import.addCopy(m_appearance)))
        m_appearance = copy;
    return true;
}

std::shared_ptr<KVPDFDocument> KVPDFAnnotation::attachToPage(KVPDFPage &page)
{
    m_page = page.weak_from_this();
    KVPDFDocument *target = page.document();
    if (!target)
        return nullptr;
    KVPDFDocument *own = m_annotDict ? kvpdf::documentOf(*m_annotDict) : nullptr;
    if (own && own != target) {
        // Holding the source would tie the two documents together once a page or annotation
        // of the target is put into the source: the annotation's objects become the target's.
        KVPDFImport import(*target);
        if (importInto(import)) {
            import.finish();
            own = target;
        }
    }
    if (own != target && m_heldDocument.get() != target)
        return nullptr;
    return std::move(m_heldDocument);
}

void KVPDFAnnotation::detachFromPage()
{
    if (!m_heldDocument && m_annotDict)
        if (KVPDFDocument *document = kvpdf::documentOf(*m_annotDict))
            m_heldDocument = document->weak_from_this().lock();
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotation::copy() const
{
    std::shared_ptr<KVPDFAnnotation> annotation(new KVPDFAnnotation());
    copyAnnotationInto(*annotation);
    return annotation;
}

std::shared_ptr<KVPDFObjectArray> KVPDFAnnotation::arrayFromColor(const KVColor &color)
{
    std::vector<KVPDFObjectPtr> components;
    for (float value : color.components())
        components.push_back(KVPDFObjectReal::realWithFloat(value));
    return KVPDFObjectArray::arrayWithArray(std::move(components));
}

std::optional<KVColor> KVPDFAnnotation::colorFromArray(const KVPDFObjectPtr &object)
{
    auto array = kv_cast<KVPDFObjectArray>(resolved(object));
    if (!array)
        return std::nullopt;
    auto component = [&array](size_t i) { return float(unit(finiteNumber(array->resolvedObjectAtIndex(i)))); };
    switch (array->count()) {
    case 0:
    case 2: return std::nullopt;
    case 1: return KVColor::gray(component(0));
    case 3: return KVColor::rgb(component(0), component(1), component(2));
    default: return KVColor::cmyk(component(0), component(1), component(2), component(3));
    }
}

QByteArray KVPDFAnnotation::stringFromColor(const KVColor &color, bool stroke)
{
    QByteArray out;
    for (float value : color.components()) {
        out.append(kvpdf::operandText(double(value)));
        out.append(' ');
    }
    switch (color.space()) {
    case KVColor::Space::Gray: return out + (stroke ? "G" : "g");
    case KVColor::Space::RGB: return out + (stroke ? "RG" : "rg");
    case KVColor::Space::CMYK: return out + (stroke ? "K" : "k");
    case KVColor::Space::Invalid: break;
    }
    return QByteArray();
}

QByteArray KVPDFAnnotation::stringFromColor(const std::optional<KVColor> &stroke, const std::optional<KVColor> &fill)
{
    QByteArray out = stroke ? stringFromColor(*stroke, true) : QByteArray();
    if (fill)
        out += ' ' + stringFromColor(*fill, false);
    return out;
}

std::shared_ptr<KVPDFObjectArray> KVPDFAnnotation::arrayForRect(const QRectF &rect)
{
    return KVPDFObjectArray::arrayWithArray({KVPDFObjectReal::realWithFloat(float(rect.x())),
                                             KVPDFObjectReal::realWithFloat(float(rect.y())),
                                             KVPDFObjectReal::realWithFloat(float(rect.x() + rect.width())),
                                             KVPDFObjectReal::realWithFloat(float(rect.y() + rect.height()))});
}

QTransform KVPDFAnnotation::transformForArray(const KVPDFObjectPtr &object)
{
    auto array = kv_cast<KVPDFObjectArray>(resolved(object));
    if (!array || array->count() < 6)
        return QTransform();
    double v[6];
    for (size_t i = 0; i < 6; ++i)
        v[i] = finiteNumber(array->resolvedObjectAtIndex(i));
    return QTransform(v[0], v[1], v[2], v[3], v[4], v[5]);
}

std::shared_ptr<KVPDFObjectArray> KVPDFAnnotation::arrayForTransform(const QTransform &t)
{
    std::vector<KVPDFObjectPtr> numbers;
    for (double value : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        numbers.push_back(KVPDFObjectReal::realWithFloat(float(value)));
    return KVPDFObjectArray::arrayWithArray(std::move(numbers));
}

std::vector<KVPDFObjectPtr> KVPDFAnnotation::copySubtreeFor(const KVPDFObjectPtr &object)
{
    std::vector<KVPDFObjectPtr> list;
    if (!object)
        return list;
    SubtreeCopy state;
    copyNode(object, state, list);
    return list;
}

void KVPDFAnnotation::copyResourcesFor(const KVPDFObjectPtr &object, KVPDFPage &page)
{
    ResourceCopy state;
    walkResources(object, page, state);
}
