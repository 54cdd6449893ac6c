#include "KVPDFAnnotationPath.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFAnnotationShape.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
namespace edits = kvpdf::annotation;

constexpr QStringView kOwner = u"Annotation";
}

KVPDFAnnotationPath::KVPDFAnnotationPath(const Dictionary &dictionary, KVPDFPage *page, bool opacity)
    : KVPDFAnnotation(dictionary, page), m_opacity(opacity)
{
    const Dictionary &own = annotDict();
    m_contents = edits::readText(own, "Contents", kOwner);
    const std::optional<float> opacityRead = opacity ? edits::readNumber(own, "CA", kOwner) : std::nullopt;
    const bool hasAlpha = opacityRead.has_value();
    const float alpha = opacityRead.value_or(1.0f);
    m_color = colorFromArray(edits::readKey(own, "C", kOwner)).value_or(defaultColor());
    if (hasAlpha)
        m_color = edits::withAlpha(m_color, alpha);
    m_modified = edits::readDate(own, "M", kOwner);
    m_name = edits::readText(own, "NM", kOwner);
    m_fillColor = colorFromArray(edits::readKey(own, "IC", kOwner));
    if (m_fillColor && hasAlpha)
        m_fillColor = edits::withAlpha(*m_fillColor, alpha);
    KVPDFAnnotationShape::extractStrokeFromBorderStyleDict(kv_cast<KVPDFObjectDictionary>(edits::readKey(own, "BS", kOwner)),
                                                           nullptr, &m_strokeWidth, &m_strokePattern);
}

KVPDFAnnotationPath::~KVPDFAnnotationPath() = default;

Dictionary KVPDFAnnotationPath::newDictionary(const QByteArray &subtype, const QString &contents, const KVColor &color)
{
    return KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes(subtype)},
        {"C", arrayFromColor(color.isValid() ? color : defaultColor())},
        {"Contents", edits::textString(contents, nullptr)},
    });
}

QDateTime KVPDFAnnotationPath::modified()
{
    if (!m_modified)
        m_modified = QDateTime::currentDateTime();
    return *m_modified;
}

void KVPDFAnnotationPath::write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look)
{
    edits::Entries values = entries();
    edits::apply(values, changes);
    if (look)
        resetAppearance(values);
    storeEntries(std::move(values));
}

void KVPDFAnnotationPath::setContents(const QString &contents)
{
    m_contents = contents;
    write({{"Contents", edits::textString(contents, annotDict())}}, false);
}

void KVPDFAnnotationPath::setColor(const KVColor &color)
{
    m_color = color.isValid() ? color : defaultColor();
    if (m_opacity && edits::partialAlpha(m_color))
        write({{"C", arrayFromColor(m_color)}, {"CA", KVPDFObjectReal::realWithFloat(m_color.alpha())}}, true);
    else
        write({{"C", arrayFromColor(m_color)}}, true);
}

void KVPDFAnnotationPath::setFillColor(const std::optional<KVColor> &color)
{
    m_fillColor = color && color->isValid() ? color : std::nullopt;
    KVPDFObjectPtr array = m_fillColor ? KVPDFObjectPtr(arrayFromColor(*m_fillColor)) : nullptr;
    if (m_opacity && m_fillColor && edits::partialAlpha(*m_fillColor))
        write({{"IC", array}, {"CA", KVPDFObjectReal::realWithFloat(m_fillColor->alpha())}}, true);
    else
        write({{"IC", array}}, true);
}

void KVPDFAnnotationPath::setModified(const QDateTime &date)
{
    m_modified = date;
    write({{"M", edits::dateString(date, annotDict())}}, false);
}

void KVPDFAnnotationPath::setName(const QString &name)
{
    m_name = name;
    write({{"NM", edits::textString(name, annotDict())}}, false);
}

void KVPDFAnnotationPath::writeBorderStyle()
{
    const QByteArray style = m_strokePattern.empty() ? "S" : "D";
    write({{"BS", KVPDFAnnotationShape::makeBorderStyleDict(style, m_strokeWidth, m_strokePattern)}}, true);
}

void KVPDFAnnotationPath::setStrokeWidth(float width)
{
    m_strokeWidth = width;
    writeBorderStyle();
}

void KVPDFAnnotationPath::setStrokePattern(const std::vector<double> &pattern)
{
    m_strokePattern = kvpdf::annotation::storedDashLengths(pattern);
    writeBorderStyle();
}

void KVPDFAnnotationPath::setLocation(QPointF location)
{
    if (m_followsRect) {
        const QPointF by = location - this->location();
        if (!by.isNull())
            transformPaths(QTransform::fromTranslate(by.x(), by.y()), false);
    }
    KVPDFAnnotation::setLocation(location);
}

void KVPDFAnnotationPath::setSize(QSizeF size)
{
    if (m_followsRect) {
        const QSizeF old = this->size();
        const double sx = old.width() != 0 ? size.width() / old.width() : 1.0;
        const double sy = old.height() != 0 ? size.height() / old.height() : 1.0;
        if (sx != 1.0 || sy != 1.0) {
            const QPointF origin = location();
            // Row-vector order: to the origin, scaled, and back.
            const QTransform scale = QTransform::fromTranslate(-origin.x(), -origin.y()) * QTransform::fromScale(sx, sy)
                                     * QTransform::fromTranslate(origin.x(), origin.y());
            transformPaths(scale, false);
        }
    }
    KVPDFAnnotation::setSize(size);
}

void KVPDFAnnotationPath::transformPaths(const QTransform &, bool) { }

std::vector<QPointF> KVPDFAnnotationPath::mapped(const std::vector<QPointF> &points, const QTransform &transform)
{
    std::vector<QPointF> out;
    out.reserve(points.size());
    for (const QPointF &point : points)
        out.push_back(transform.map(point));
    return out;
}

void KVPDFAnnotationPath::copyPathInto(KVPDFAnnotationPath &target) const
{
    copyAnnotationInto(target);
    target.m_opacity = m_opacity;
    target.m_contents = m_contents;
    target.m_color = m_color;
    target.m_fillColor = m_fillColor;
    target.m_modified = m_modified;
    target.m_name = m_name;
    target.m_strokeWidth = m_strokeWidth;
    target.m_strokePattern = m_strokePattern;
    // A copy is moved and sized like its source: its paths must follow too.
    target.m_followsRect = m_followsRect;
}
