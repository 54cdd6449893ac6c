#include "KVPDFAnnotationWidget.h"

#include "KVPDFExceptions.h"
#include "KVPDFFieldAppearance.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectString.h"

#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

// A hostile file can make any read raise; a key that cannot be read counts as absent.
KVPDFObjectPtr readKey(const Dictionary &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Field");
}

Dictionary parentOf(const Dictionary &dictionary) { return kv_cast<KVPDFObjectDictionary>(readKey(dictionary, "Parent")); }

// The ancestors above `start` joined into a name prefix ("form.address."), walking the Parent
// chain from `start` on; a loop or an overlong chain ends the walk.
QString ancestorsPrefix(Dictionary start, const KVPDFObjectDictionary *field)
{
    QString prefix;
    std::unordered_set<const KVPDFObjectDictionary *> seen{field};
    for (int depth = 0; start && depth < KVPDFAnnotationWidget::kMaxAncestors; ++depth) {
        if (!seen.insert(start.get()).second)
            break;
        if (auto t = kv_cast<KVPDFObjectString>(readKey(start, "T")))
            prefix.prepend(t->stringValue() + QLatin1Char('.'));
        start = parentOf(start);
    }
    return prefix;
}

// A value as the field keeps it: references followed, strings decrypted while the document's
// key for their object is at hand.
KVPDFObjectPtr fieldValue(const KVPDFObjectPtr &value)
{
    if (auto string = kv_cast<KVPDFObjectString>(value))
        string->stringData();
    return value;
}

// What a field dictionary being written can hold of a value: an object of its own stays one
// (the writer copies it), a direct value is copied so the original keeps its container.
KVPDFObjectPtr writableValue(const KVPDFObjectPtr &value)
{
    if (value->objectNumber() != 0 && !value->isDirect())
        return KVPDFObjectReference::referenceWithObject(value);
    return value->copy();
}

KVPDFObjectPtr textString(const QString &text, const Dictionary &document)
{
    auto string = KVPDFObjectString::stringWithString(text);
    if (document)
        string->setContext(document->context());
    return string;
}
}

QByteArray KVPDFAnnotationWidget::fieldTypeFor(const Dictionary &widget)
{
    auto type = kv_cast<KVPDFObjectName>(readKey(fieldDictionaryFor(widget), "FT"));
    return type ? type->bytes() : QByteArray();
}

QString KVPDFAnnotationWidget::fieldNameFor(const Dictionary &widget)
{
    Dictionary field = fieldDictionaryFor(widget);
    auto t = kv_cast<KVPDFObjectString>(readKey(field, "T"));
    if (!t)
        return QString();
    return ancestorsPrefix(parentOf(field), field.get()) + t->stringValue();
}

KVPDFAnnotationWidget::KVPDFAnnotationWidget(const Dictionary &dictionary, KVPDFPage *page) : KVPDFAnnotation(dictionary, page)
{
    const Dictionary &widget = annotDict();
    if (!widget)
        return;
    m_parent = parentOf(widget);
    m_fieldDictionary = fieldDictionaryFor(widget);
    const Dictionary &field = m_fieldDictionary;

    setValue(readKey(field, "V"));
    setDefaultValue(readKey(field, "DV"));
    if (auto tooltip = kv_cast<KVPDFObjectString>(readKey(field, "TU")))
        m_tooltip = tooltip->stringValue();
    if (auto type = kv_cast<KVPDFObjectName>(readKey(field, "FT")))
        m_fieldType = type->bytes();

    m_fieldAncestor = parentOf(field);
    if (m_fieldAncestor.get() == field.get() || m_fieldAncestor.get() == widget.get())
        m_fieldAncestor = nullptr;
    m_ancestorPrefix = ancestorsPrefix(m_fieldAncestor, field.get());
    if (auto t = kv_cast<KVPDFObjectString>(readKey(field, "T")))
        m_fieldName = m_ancestorPrefix + t->stringValue();
    m_readName = m_fieldName;

    if (KVPDFObjectPtr flags = readKey(field, "Ff"); flags && flags->objectType() == KVPDFObject::TypeInteger)
        m_fieldFlags = uint64_t(flags->longLongValue());

    std::vector<std::pair<QByteArray, KVPDFObjectPtr>> kept = entries();
    std::erase_if(kept, [](const auto &entry) {
        // P stays: it is every annotation's link to its page, which the writer sets anyway.
        static const QByteArray fieldKeys[] = {"DV", "T", "FT", "V", "TU", "Ff", "Parent", "Kids"};
        return std::find(std::begin(fieldKeys), std::end(fieldKeys), entry.first) != std::end(fieldKeys);
    });
    storeEntries(std::move(kept));
}

KVPDFAnnotationWidget::~KVPDFAnnotationWidget() = default;

void KVPDFAnnotationWidget::setFieldName(const QString &name)
{
    m_fieldName = name;
    setOldDict(nullptr);
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidget::fieldSource() const
{
    if (m_fieldDictionary && m_fieldDictionary != annotDict() && m_fieldName != m_readName)
        return nullptr;
    return m_fieldDictionary;
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidget::fieldAncestor() const
{
    if (m_fieldDictionary && m_fieldDictionary != annotDict() && m_fieldName != m_readName)
        return nullptr;
    return m_fieldAncestor;
}

void KVPDFAnnotationWidget::setValue(const KVPDFObjectPtr &value) { m_value = fieldValue(value); }

void KVPDFAnnotationWidget::setDefaultValue(const KVPDFObjectPtr &value) { m_defaultValue = fieldValue(value); }

std::optional<KVColor> KVPDFAnnotationWidget::fillColor() const
{
    auto mk = kv_cast<KVPDFObjectDictionary>(readKey(annotDict(), "MK"));
    if (!mk)
        return std::nullopt;
    return colorFromArray(readKey(mk, "BG"));
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidget::makeField() const
{
    auto field = std::make_shared<KVPDFObjectDictionary>();
    const Dictionary &own = annotDict();
    const Dictionary ancestor = fieldAncestor();
    if (!m_fieldName.isNull()) {
        const bool below = ancestor && !m_ancestorPrefix.isEmpty() && m_fieldName.startsWith(m_ancestorPrefix)
                           && m_fieldName.size() > m_ancestorPrefix.size();
        field->setObject("T", textString(below ? m_fieldName.mid(m_ancestorPrefix.size()) : m_fieldName, own));
    }
    field->setObject("Ff", KVPDFObjectInteger::integerWithLongLong(int64_t(m_fieldFlags)));
    if (m_defaultValue)
        field->setObject("DV", writableValue(m_defaultValue));
    if (m_value)
        field->setObject("V", writableValue(m_value));
    else if (widgetType() == WidgetButton)
        field->setObject("V", KVPDFObjectName::nameWithBytes("Off"));
    if (!m_tooltip.isNull())
        field->setObject("TU", textString(m_tooltip, own));
    if (const QByteArray type = fieldType(); !type.isEmpty())
        field->setObject("FT", KVPDFObjectName::nameWithBytes(type));
    if (ancestor)
        field->setObject("Parent", KVPDFObjectReference::referenceWithObject(ancestor));
    return field;
}

void KVPDFAnnotationWidget::copyWidgetInto(KVPDFAnnotationWidget &target) const
{
    copyAnnotationInto(target);
    target.setTooltip(m_tooltip);
    target.setFieldFlags(m_fieldFlags);
    target.setFieldName(m_fieldName);
    target.setValue(m_value);
    target.setDefaultValue(m_defaultValue);
    target.setAppearance(appearance());
    target.setResources(m_resources);
    target.m_fieldType = m_fieldType;
    target.m_ancestorPrefix = m_ancestorPrefix;
    target.m_fieldAncestor = fieldAncestor();
    target.m_readName = m_fieldName;
    target.m_parent = m_parent;
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationWidget::copy() const
{
    std::shared_ptr<KVPDFAnnotationWidget> widget(new KVPDFAnnotationWidget());
    copyWidgetInto(*widget);
    return widget;
}

void KVPDFAnnotationWidget::installPlacedAppearance(const kvpdf::fieldappearance::Rendering &rendering)
{
    std::shared_ptr<KVPDFObjectStream> stream = kvpdf::fieldappearance::placedForm(rendering, rect(), annotDict().get());
    auto appearances = KVPDFObjectDictionary::dictionaryWithDictionary({{"N", KVPDFObjectReference::referenceWithObject(stream)}});
    std::vector<std::pair<QByteArray, KVPDFObjectPtr>> values = entries();
    resetAppearance(values);
    values.emplace_back("AP", appearances);
    storeEntries(std::move(values));
    setAppearance(appearances);
}
