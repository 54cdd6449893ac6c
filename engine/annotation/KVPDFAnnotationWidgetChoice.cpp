#include "KVPDFAnnotationWidgetChoice.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFieldAppearance.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"

#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

KVPDFObjectPtr readKey(const KVPDFObjectPtr &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Choice field");
}

QString textOf(const KVPDFObjectPtr &object)
{
    if (auto string = kv_cast<KVPDFObjectString>(object))
        return string->stringValue();
    if (auto name = kv_cast<KVPDFObjectName>(object))
        return name->stringValue();
    return QString();
}

// An element of Opt or of a pair in it, resolved when it is a reference.
KVPDFObjectPtr element(const std::shared_ptr<KVPDFObjectArray> &array, size_t index)
{
    try {
        return array->resolvedObjectAtIndex(index);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Choice field option unreadable: %1").arg(QString::fromStdString(failure.reason())));
        return nullptr;
    }
}
}

KVPDFAnnotationWidgetChoice::KVPDFAnnotationWidgetChoice()
{
    storeEntries({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Widget")},
    });
    setFieldType("Ch");
}

KVPDFAnnotationWidgetChoice::KVPDFAnnotationWidgetChoice(const Dictionary &dictionary, KVPDFPage *page)
    : KVPDFAnnotationWidget(dictionary, page)
{
    if (!annotDict())
        return;
    if (auto opt = kv_cast<KVPDFObjectArray>(inherited("Opt"))) {
        for (size_t i = 0; i < opt->count(); ++i) {
            KVPDFObjectPtr entry = element(opt, i);
            if (entry && entry->objectType() == KVPDFObject::TypeString) {
                m_options.push_back({textOf(entry), QString()});
            } else if (auto pair = kv_cast<KVPDFObjectArray>(entry)) {
                // [export text, display text]
                const QString value = pair->count() > 0 ? textOf(element(pair, 0)) : QString();
                const QString name = pair->count() > 1 ? textOf(element(pair, 1)) : value;
                m_options.push_back({name, value});
            } else {
                kvLog(QStringLiteral("Unexpected option type for choice widget"));
            }
        }
    }
    if (KVPDFObjectPtr ti = inherited("TI"); ti && ti->objectType() == KVPDFObject::TypeInteger && !m_options.empty()) {
        const int64_t index = ti->longLongValue();
        m_topIndex = index < 0 || uint64_t(index) >= m_options.size() ? m_options.size() - 1 : uint64_t(index);
    }
    if (auto selected = kv_cast<KVPDFObjectArray>(inherited("I")))
        for (size_t i = 0; i < selected->count(); ++i) {
            KVPDFObjectPtr index = element(selected, i);
            // An index past the options would select nothing a save could write.
            if (index && index->objectType() == KVPDFObject::TypeInteger && index->longLongValue() >= 0
                && uint64_t(index->longLongValue()) < m_options.size())
                m_selection.insert(size_t(index->longLongValue()));
        }
    Entries kept = entries();
    std::erase_if(kept, [](const auto &entry) { return entry.first == "TI" || entry.first == "I" || entry.first == "Opt"; });
    storeEntries(std::move(kept));
}

KVPDFAnnotationWidgetChoice::~KVPDFAnnotationWidgetChoice() = default;

std::shared_ptr<KVPDFAnnotationWidgetChoice> KVPDFAnnotationWidgetChoice::choice(const QString &name, bool isCombo, KVPDFPage *page)
{
    std::shared_ptr<KVPDFAnnotationWidgetChoice> field(new KVPDFAnnotationWidgetChoice());
    if (page)
        field->setPage(page->weak_from_this());
    if (isCombo)
        field->setFieldFlags(ChoiceCombo);
    field->setFieldName(name);
    return field;
}

KVPDFObjectPtr KVPDFAnnotationWidgetChoice::inherited(QByteArrayView key) const
{
    if (KVPDFObjectPtr own = readKey(annotDict(), key))
        return own;
    // The widget's own Parent link is gone once loaded; parent() is the one it had.
    std::unordered_set<const KVPDFObject *> seen{annotDict().get()};
    Dictionary ancestor = parent();
    for (int depth = 0; ancestor && depth < kMaxAncestors && seen.insert(ancestor.get()).second; ++depth) {
        if (KVPDFObjectPtr found = readKey(ancestor, key))
            return found;
        ancestor = kv_cast<KVPDFObjectDictionary>(readKey(ancestor, "Parent"));
    }
    return nullptr;
}

// ---- Options and selection ---------------------------------------------------------------

void KVPDFAnnotationWidgetChoice::setMultiSelect(bool multi)
{
    const bool was = multiSelect();
    setFieldFlag(ChoiceMultiSelect, multi);
    if (was && !multi && m_selection.size() > 1)
        setSelection({*m_selection.begin()});
}

void KVPDFAnnotationWidgetChoice::setOptions(std::vector<Option> options)
{
    m_options = std::move(options);
    if (!m_selection.empty() && *m_selection.rbegin() >= m_options.size()) {
        std::set<size_t> kept;
        for (size_t index : m_selection)
            if (index < m_options.size())
                kept.insert(index);
        setSelection(std::move(kept));
    }
    if (m_optionsChanged)
        m_optionsChanged();
}

void KVPDFAnnotationWidgetChoice::setSelection(std::set<size_t> selection)
{
    std::erase_if(selection, [&](size_t index) { return index >= m_options.size(); });
    m_selection = std::move(selection);
    if (m_selectionChanged)
        m_selectionChanged();
}

QString KVPDFAnnotationWidgetChoice::exportValueForIndex(int64_t index) const
{
    if (index < 0 || uint64_t(index) >= m_options.size())
        return QString();
    const Option &option = m_options[size_t(index)];
    return option.value.isEmpty() ? option.name : option.value;
}

int64_t KVPDFAnnotationWidgetChoice::exportIndexForValue(const QString &value) const
{
    for (size_t i = m_options.size(); i-- > 0;) {
        const Option &option = m_options[i];
        if (option.value == value || (option.value.isEmpty() && option.name == value))
            return int64_t(i);
    }
    return -1;
}

QString KVPDFAnnotationWidgetChoice::exportValueForTitle(const QString &title) const
{
    for (const Option &option : m_options)
        if (option.name == title)
            return option.value.isEmpty() ? option.name : option.value;
    return QString();
}

QString KVPDFAnnotationWidgetChoice::objectValueForItemAtIndex(size_t index) const
{
    return index < m_options.size() ? m_options[index].name : QString();
}

void KVPDFAnnotationWidgetChoice::setExportValue(const QString &text)
{
    m_exportValue = text;
    auto string = KVPDFObjectString::stringWithString(text);
    if (annotDict())
        string->setContext(annotDict()->context());
    setValue(string);
    setAppearance(nullptr);
    setResources(nullptr);
}

// ---- Appearance --------------------------------------------------------------------------

bool KVPDFAnnotationWidgetChoice::update()
{
    const std::shared_ptr<KVPDFDocument> &rendering = document();
    if (!rendering) {
        kvLog(QStringLiteral("Choice field %1 has no rendering; its appearance stays").arg(fieldName()));
        return false;
    }
    std::optional<kvpdf::fieldappearance::Rendering> read = kvpdf::fieldappearance::fromRendering(*rendering, "FVFont");
    if (!read) {
        kvLog(QStringLiteral("Choice field %1: the rendering cannot be read; its appearance stays").arg(fieldName()));
        return false;
    }
    installPlacedAppearance(*read);
    m_subs = read->subobjects;
    m_updatedOnce = true;
    return true;
}

// ---- Saving and copies -------------------------------------------------------------------

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidgetChoice::makeField() const
{
    Dictionary field = KVPDFAnnotationWidget::makeField();
    KVPDFObjectContext *context = annotDict() ? annotDict()->context() : nullptr;
    auto text = [&](const QString &value) {
        auto string = KVPDFObjectString::stringWithString(value);
        string->setContext(context);
        return string;
    };
    std::vector<KVPDFObjectPtr> opt;
    std::vector<KVPDFObjectPtr> selected;
    for (size_t i = 0; i < m_options.size(); ++i) {
        const Option &option = m_options[i];
        if (option.value.isEmpty())
            opt.push_back(text(option.name));
        else
            opt.push_back(KVPDFObjectArray::arrayWithArray({text(option.value), text(option.name)}));
        if (m_selection.count(i))
            selected.push_back(text(option.value.isEmpty() ? option.name : option.value));
    }
    field->setObject("Opt", KVPDFObjectReference::referenceWithObject(KVPDFObjectArray::arrayWithArray(std::move(opt))));
    if (m_topIndex)
        field->setObject("TI", KVPDFObjectInteger::integerWithLongLong(int64_t(m_topIndex)));
    if (combo()) {
        field->removeObjectForKey("I");
    } else {
        std::vector<KVPDFObjectPtr> indexes;
        for (size_t index : m_selection)
            indexes.push_back(KVPDFObjectInteger::integerWithLongLong(int64_t(index)));
        field->setObject("I", KVPDFObjectArray::arrayWithArray(std::move(indexes)));
    }
    field->setObject("FT", KVPDFObjectName::nameWithBytes("Ch"));
    if (!combo()) {
        // Nothing selected: a field that had a value is cleared; one that never had one gets none,
        // so saving an untouched form leaves it as it was.
        if (selected.empty() && value())
            field->setObject("V", text(QString()));
        else if (selected.empty())
            field->removeObjectForKey("V");
        else if (selected.size() == 1)
            field->setObject("V", selected.front());
        else
            field->setObject("V", KVPDFObjectArray::arrayWithArray(std::move(selected)));
    }
    return field;
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationWidgetChoice::copy() const
{
    std::shared_ptr<KVPDFAnnotationWidgetChoice> field(new KVPDFAnnotationWidgetChoice());
    copyWidgetInto(*field);
    field->m_options = m_options;
    field->m_selection = m_selection;
    field->m_topIndex = m_topIndex;
    field->m_exportValue = m_exportValue;
    return field;
}
