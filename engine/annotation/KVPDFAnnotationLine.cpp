#include "KVPDFAnnotationLine.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFExceptions.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"

namespace {
namespace edits = kvpdf::annotation;
constexpr QStringView kOwner = u"Line";
}

KVPDFAnnotationLine::KVPDFAnnotationLine(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
    : KVPDFAnnotationPath(dictionary, page, true)
{
    const std::vector<QPointF> ends = edits::pointArrayFromPDFArrayPoints(edits::readKey(annotDict(), "L", kOwner));
    for (size_t i = 0; i < 2 && i < ends.size(); ++i)
        m_points[i] = ends[i];
}

std::shared_ptr<KVPDFAnnotationLine> KVPDFAnnotationLine::annotationWithContents(const QString &contents, const QRectF &rect,
                                                                                KVPDFPage *page, const KVColor &color)
{
    auto line = std::make_shared<KVPDFAnnotationLine>(newDictionary("Line", contents, color), page);
    line->setLocation(rect.topLeft());
    line->setSize(rect.size());
    return line;
}

KVPDFAnnotationLine::~KVPDFAnnotationLine() = default;

void KVPDFAnnotationLine::setPoints(QPointF start, QPointF end)
{
    m_points = {start, end};
    write({{"L", edits::pointsAsPDFArray({start, end})}}, true);
}

QString KVPDFAnnotationLine::lineEndingAtIndex(int index) const
{
    const QString none = QStringLiteral("None");
    auto endings = kv_cast<KVPDFObjectArray>(edits::readKey(annotDict(), "LE", kOwner));
    if (!endings || index < 0 || size_t(index) >= endings->count())
        return none;
    try {
        if (auto name = kv_cast<KVPDFObjectName>(endings->resolvedObjectAtIndex(size_t(index))))
            return name->stringValue();
    } catch (const FolivoException &) {
    }
    return none;
}

void KVPDFAnnotationLine::setLineEndings(const QStringList &endings)
{
    std::vector<KVPDFObjectPtr> names;
    for (int i = 0; i < 2; ++i)
        names.push_back(KVPDFObjectName::nameWithString(i < endings.size() && !endings[i].isEmpty() ? endings[i]
                                                                                                 : QStringLiteral("None")));
    write({{"LE", KVPDFObjectArray::arrayWithArray(std::move(names))}}, true);
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationLine::copy() const
{
    std::shared_ptr<KVPDFAnnotationLine> line(new KVPDFAnnotationLine());
    copyPathInto(*line);
    line->m_points = m_points;
    return line;
}
