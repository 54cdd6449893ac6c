#include "KVPDFAnnotationShape.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectString.h"

#include <cmath>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

// A hostile file can make any read raise; a key that cannot be read counts as absent.
KVPDFObjectPtr readKey(const Dictionary &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Shape");
}

KVColor withAlpha(const KVColor &color, float alpha)
{
    const auto c = color.components();
    switch (color.space()) {
    case KVColor::Space::Gray: return KVColor::gray(c[0], alpha);
    case KVColor::Space::RGB: return KVColor::rgb(c[0], c[1], c[2], alpha);
    case KVColor::Space::CMYK: return KVColor::cmyk(c[0], c[1], c[2], c[3], alpha);
    case KVColor::Space::Invalid: break;
    }
    return color;
}

bool partialAlpha(const KVColor &color) { return color.isValid() && color.alpha() != 1.0f && color.alpha() != 0.0f; }

KVPDFObjectPtr textString(const QString &text, const Dictionary &owner)
{
    auto string = KVPDFObjectString::stringWithString(text.isNull() ? QString(QLatin1String("")) : text);
    if (owner)
        string->setContext(owner->context());
    return string;
}
}

KVPDFAnnotationShape::KVPDFAnnotationShape(const Dictionary &dictionary, const QByteArray &subtype, KVPDFPage *page)
    : KVPDFAnnotation(dictionary, page), m_subtype(subtype)
{
    const Dictionary &own = annotDict();
    if (auto contents = kv_cast<KVPDFObjectString>(readKey(own, "Contents")))
        m_contents = contents->stringValue();
    const KVPDFObjectPtr opacity = readKey(own, "CA");
    const bool hasOpacity = kvIsNumber(opacity) && std::isfinite(opacity->realValue());
    m_color = colorFromArray(readKey(own, "C")).value_or(defaultColor());
    if (hasOpacity)
        m_color = withAlpha(m_color, opacity->realValue());
    if (auto date = kv_cast<KVPDFObjectString>(readKey(own, "M")))
        m_modified = KVPDFObjectDate::dateFromPDFString(*date);
    if (auto name = kv_cast<KVPDFObjectString>(readKey(own, "NM")))
        m_name = name->stringValue();
    m_fillColor = colorFromArray(readKey(own, "IC"));
    if (m_fillColor && hasOpacity)
        m_fillColor = withAlpha(*m_fillColor, opacity->realValue());
    extractStrokeFromBorderStyleDict(kv_cast<KVPDFObjectDictionary>(readKey(own, "BS")), &m_borderStyle, &m_strokeWidth,
                                     &m_strokePattern);
}

std::shared_ptr<KVPDFAnnotationShape> KVPDFAnnotationShape::annotationWithContents(const QString &contents, const QRectF &rect,
                                                                                  KVPDFPage *page, const KVColor &color,
                                                                                  const QByteArray &subtype)
{
    const KVColor stroke = color.isValid() ? color : defaultColor();
    auto dictionary = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes(subtype)},
        {"C", arrayFromColor(stroke)},
        {"Contents", KVPDFObjectString::stringWithString(contents.isNull() ? QString(QLatin1String("")) : contents)},
    });
    auto shape = std::make_shared<KVPDFAnnotationShape>(dictionary, subtype, page);
    shape->setLocation(rect.topLeft());
    shape->setSize(rect.size());
    return shape;
}

KVPDFAnnotationShape::~KVPDFAnnotationShape() = default;

QDateTime KVPDFAnnotationShape::modified()
{
    if (!m_modified)
        m_modified = QDateTime::currentDateTime();
    return *m_modified;
}

void KVPDFAnnotationShape::write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look)
{
    kvpdf::annotation::Entries values = entries();
    kvpdf::annotation::apply(values, changes);
    if (look)
        resetAppearance(values);
    storeEntries(std::move(values));
}

void KVPDFAnnotationShape::setContents(const QString &contents)
{
    m_contents = contents;
    write({{"Contents", textString(contents, annotDict())}}, false);
}

void KVPDFAnnotationShape::setColor(const KVColor &color)
{
    m_color = color;
    KVPDFObjectPtr array = color.isValid() ? KVPDFObjectPtr(arrayFromColor(color)) : nullptr;
    if (partialAlpha(color))
        write({{"C", array}, {"CA", KVPDFObjectReal::realWithFloat(color.alpha())}}, true);
    else
        write({{"C", array}}, true);
}

void KVPDFAnnotationShape::setFillColor(const std::optional<KVColor> &color)
{
    m_fillColor = color && color->isValid() ? color : std::nullopt;
    KVPDFObjectPtr array = m_fillColor ? KVPDFObjectPtr(arrayFromColor(*m_fillColor)) : nullptr;
    if (m_fillColor && partialAlpha(*m_fillColor))
        write({{"IC", array}, {"CA", KVPDFObjectReal::realWithFloat(m_fillColor->alpha())}}, true);
    else
        write({{"IC", array}}, true);
}

void KVPDFAnnotationShape::setModified(const QDateTime &date)
{
    m_modified = date;
    auto string = KVPDFObjectDate::dateWithDate(date);
    if (annotDict())
        string->setContext(annotDict()->context());
    write({{"M", string}}, false);
}

void KVPDFAnnotationShape::setName(const QString &name)
{
    m_name = name;
    write({{"NM", textString(name, annotDict())}}, false);
}

void KVPDFAnnotationShape::setSubtype(const QByteArray &subtype)
{
    m_subtype = subtype;
    write({{"Subtype", KVPDFObjectName::nameWithBytes(subtype)}}, true);
}

void KVPDFAnnotationShape::writeBorderStyle(const QByteArray &style)
{
    write({{"BS", makeBorderStyleDict(style, m_strokeWidth, m_strokePattern)}}, true);
}

void KVPDFAnnotationShape::setStrokeWidth(float width)
{
    m_strokeWidth = width;
    writeBorderStyle(!m_borderStyle.isEmpty() ? m_borderStyle : m_strokePattern.empty() ? QByteArray("S") : QByteArray("D"));
}

void KVPDFAnnotationShape::setStrokePattern(const std::vector<double> &pattern)
{
    m_strokePattern = kvpdf::annotation::storedDashLengths(pattern);
    m_borderStyle = m_strokePattern.empty() ? "S" : "D";
    writeBorderStyle(m_borderStyle);
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationShape::copy() const
{
    // The dictionary copy carries every key already. Going through the setters would drop the
    // appearance, and a shape never draws one of its own: the copy would show nothing.
    std::shared_ptr<KVPDFAnnotationShape> shape(new KVPDFAnnotationShape());
    copyAnnotationInto(*shape);
    shape->m_contents = m_contents;
    shape->m_color = m_color;
    shape->m_fillColor = m_fillColor;
    shape->m_modified = m_modified;
    shape->m_name = m_name;
    shape->m_subtype = m_subtype;
    shape->m_borderStyle = m_borderStyle;
    shape->m_strokeWidth = m_strokeWidth;
    shape->m_strokePattern = m_strokePattern;
    return shape;
}

Dictionary KVPDFAnnotationShape::makeBorderStyleDict(const QByteArray &style, float width, const std::vector<double> &dash)
{
    std::vector<KVPDFObjectDictionary::Entry> entries{
        {"Type", KVPDFObjectName::nameWithBytes("Border")},
        {"S", KVPDFObjectName::nameWithBytes(style)},
        {"W", KVPDFObjectReal::realWithFloat(width)},
    };
    if (!dash.empty()) {
        std::vector<KVPDFObjectPtr> lengths;
        for (double length : dash)
            lengths.push_back(KVPDFObjectReal::realWithFloat(float(length)));
        entries.emplace_back("D", KVPDFObjectArray::arrayWithArray(std::move(lengths)));
    }
    return KVPDFObjectDictionary::dictionaryWithDictionary(std::move(entries));
}

void KVPDFAnnotationShape::extractStrokeFromBorderStyleDict(const Dictionary &borderStyle, QByteArray *style, float *width,
                                                            std::vector<double> *dash)
{
    if (style)
        style->clear();
    if (width)
        *width = 1.0f;
    if (dash)
        dash->clear();
    if (!borderStyle)
        return;
    if (style)
        if (auto name = kv_cast<KVPDFObjectName>(readKey(borderStyle, "S")))
            *style = name->bytes();
    if (width) {
        const KVPDFObjectPtr w = readKey(borderStyle, "W");
        if (kvIsNumber(w) && std::isfinite(w->realValue()) && w->realValue() >= 0)
            *width = w->realValue();
    }
    if (!dash)
        return;
    auto array = kv_cast<KVPDFObjectArray>(readKey(borderStyle, "D"));
    if (!array || array->count() == 0)
        return;
    for (size_t i = 0; i < array->count(); ++i) {
        KVPDFObjectPtr length;
        try {
            length = array->resolvedObjectAtIndex(i);
        } catch (const FolivoException &) {
        }
        const float value = kvIsNumber(length) ? length->realValue() : 0.0f;
        dash->push_back(std::isfinite(value) ? double(value) : 0.0);
    }
    // A one-number pattern is that length on, that length off.
    if (dash->size() == 1)
        dash->push_back(dash->front());
}
