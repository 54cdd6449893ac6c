#include "KVPDFAnnotationMarkup.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFTrailer.h"

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
namespace edits = kvpdf::annotation;

constexpr QStringView kOwner = u"Markup";

// The version whose markups stored the two halves of each quadrilateral the other way round.
const QString kSwappedQuadsVersion = QStringLiteral("4.0");
}

KVPDFAnnotationMarkup::KVPDFAnnotationMarkup(const Dictionary &dictionary, const QByteArray &, KVPDFPage *page)
    : KVPDFAnnotation(dictionary, page)
{
    const Dictionary &own = annotDict();
    m_contents = edits::readText(own, "Contents", kOwner);
    m_color = colorFromArray(edits::readKey(own, "C", kOwner)).value_or(defaultColor());
    m_modified = edits::readDate(own, "M", kOwner);
    m_name = edits::readText(own, "NM", kOwner);
    m_quadPoints = edits::pointArrayFromPDFArrayPoints(edits::readKey(own, "QuadPoints", kOwner));
    if (m_quadPoints.size() >= 4 && writtenWithSwappedQuads(page)) {
        for (size_t i = 0; i + 4 <= m_quadPoints.size(); i += 4) {
            std::swap(m_quadPoints[i], m_quadPoints[i + 2]);
            std::swap(m_quadPoints[i + 1], m_quadPoints[i + 3]);
        }
        // The sound order must reach the saved file, which no longer says 4.0. The corners
        // cover what they covered before, so Rect and AP stay.
        write({{"QuadPoints", edits::pointsAsPDFArray(m_quadPoints)}}, false);
    }
}

bool KVPDFAnnotationMarkup::writtenWithSwappedQuads(KVPDFPage *page) const
{
    KVPDFDocument *document = page ? page->document() : nullptr;
    if (!document && annotDict())
        document = dynamic_cast<KVPDFDocument *>(annotDict()->context());
    KVPDFTrailer *trailer = document ? document->trailer() : nullptr;
    if (!trailer)
        return false;
    KVPDFObjectPtr version;
    try {
        version = trailer->entryAlongChain("FolivoVersion");
        version = version ? version->resolvedObject() : nullptr;
    } catch (const FolivoException &) {
        return false;
    }
    auto string = kv_cast<KVPDFObjectString>(version);
    return string && string->stringValue() == kSwappedQuadsVersion;
}

std::shared_ptr<KVPDFAnnotationMarkup> KVPDFAnnotationMarkup::annotationWithContents(const QString &contents, const QRectF &rect,
                                                                                    KVPDFPage *page, const KVColor &color,
                                                                                    const QByteArray &subtype)
{
    const KVColor stroke = color.isValid() ? color : defaultColor();
    const std::vector<QPointF> quad{rect.topLeft(), QPointF(rect.x() + rect.width(), rect.y()),
                                    QPointF(rect.x() + rect.width(), rect.y() + rect.height()),
                                    QPointF(rect.x(), rect.y() + rect.height())};
    auto dictionary = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes(subtype)},
        {"C", arrayFromColor(stroke)},
        {"Contents", edits::textString(contents, nullptr)},
        {"QuadPoints", edits::pointsAsPDFArray(quad)},
    });
    auto markup = std::make_shared<KVPDFAnnotationMarkup>(dictionary, subtype, page);
    markup->setLocation(rect.topLeft());
    markup->setSize(rect.size());
    return markup;
}

KVPDFAnnotationMarkup::~KVPDFAnnotationMarkup() = default;

int KVPDFAnnotationMarkup::annotationType() const
{
    const QByteArray kind = subtype();
    if (kind == "Highlight")
        return AnnotationHighlight;
    if (kind == "Squiggly")
        return AnnotationSquiggly;
    if (kind == "StrikeOut")
        return AnnotationStrikeOut;
    return AnnotationUnderline;
}

QDateTime KVPDFAnnotationMarkup::modified()
{
    if (!m_modified)
        m_modified = QDateTime::currentDateTime();
    return *m_modified;
}

void KVPDFAnnotationMarkup::write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look)
{
    edits::Entries values = entries();
    edits::apply(values, changes);
    if (look)
        resetAppearance(values);
    storeEntries(std::move(values));
}

void KVPDFAnnotationMarkup::setContents(const QString &contents)
{
    m_contents = contents;
    write({{"Contents", edits::textString(contents, annotDict())}}, false);
}

void KVPDFAnnotationMarkup::setColor(const KVColor &color)
{
    m_color = color.isValid() ? color : defaultColor();
    write({{"C", arrayFromColor(m_color)}}, true);
}

void KVPDFAnnotationMarkup::setModified(const QDateTime &date)
{
    m_modified = date;
    write({{"M", edits::dateString(date, annotDict())}}, false);
}

void KVPDFAnnotationMarkup::setName(const QString &name)
{
    m_name = name;
    write({{"NM", edits::textString(name, annotDict())}}, false);
}

void KVPDFAnnotationMarkup::setQuadPoints(const std::vector<QPointF> &points)
{
    m_quadPoints = points;
    write({{"QuadPoints", edits::pointsAsPDFArray(points)}}, true);
    const QRectF bounds = edits::boundsOfPoints(points);
    if (bounds.isNull() && points.empty())
        return;
    const QRectF current = rect();
    const QRectF grown = current.isNull() ? bounds : current.united(bounds);
    if (grown == current)
        return;
    KVPDFImprint::setLocation(grown.topLeft());
    setSize(grown.size());
}

void KVPDFAnnotationMarkup::setSubtype(const QByteArray &subtype)
{
    write({{"Subtype", KVPDFObjectName::nameWithBytes(subtype)}}, subtype != this->subtype());
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationMarkup::copy() const
{
    // The dictionary copy carries every key already; going through the setters would drop
    // the appearance the copy is to show.
    std::shared_ptr<KVPDFAnnotationMarkup> markup(new KVPDFAnnotationMarkup());
    copyAnnotationInto(*markup);
    markup->m_contents = m_contents;
    markup->m_color = m_color;
    markup->m_modified = m_modified;
    markup->m_name = m_name;
    markup->m_quadPoints = m_quadPoints;
    return markup;
}

std::shared_ptr<KVPDFObjectArray> KVPDFAnnotationMarkup::pointsAsPDFArray(const std::vector<QPointF> &points)
{
    return edits::pointsAsPDFArray(points);
}

std::vector<QPointF> KVPDFAnnotationMarkup::pointArrayFromPDFArrayPoints(const KVPDFObjectPtr &array)
{
    return edits::pointArrayFromPDFArrayPoints(array);
}
