#include "KVPDFAnnotationInk.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFExceptions.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"

namespace {
namespace edits = kvpdf::annotation;
constexpr QStringView kOwner = u"Ink";
}

KVPDFAnnotationInk::KVPDFAnnotationInk(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
    : KVPDFAnnotationPath(dictionary, page, false)
{
    if (auto paths = kv_cast<KVPDFObjectArray>(edits::readKey(annotDict(), "InkList", kOwner))) {
        for (size_t i = 0; i < paths->count(); ++i) {
            KVPDFObjectPtr path;
            try {
                path = paths->resolvedObjectAtIndex(i);
            } catch (const FolivoException &) {
            }
            m_inkList.push_back(edits::pointArrayFromPDFArrayPoints(path));
        }
    }
    m_followsRect = true;
}

std::shared_ptr<KVPDFAnnotationInk> KVPDFAnnotationInk::annotationWithContents(const QString &contents, const QRectF &rect,
                                                                              KVPDFPage *page, const KVColor &color)
{
    auto ink = std::make_shared<KVPDFAnnotationInk>(newDictionary("Ink", contents, color), page);
    // Placing the new annotation is no move of its paths.
    ink->m_followsRect = false;
    ink->setLocation(rect.topLeft());
    ink->setSize(rect.size());
    ink->m_followsRect = true;
    return ink;
}

KVPDFAnnotationInk::~KVPDFAnnotationInk() = default;

void KVPDFAnnotationInk::writeInkList(bool look)
{
    std::vector<KVPDFObjectPtr> paths;
    paths.reserve(m_inkList.size());
    for (const Path &path : m_inkList)
        paths.push_back(edits::pointsAsPDFArray(path));
    write({{"InkList", KVPDFObjectArray::arrayWithArray(std::move(paths))}}, look);
}

void KVPDFAnnotationInk::setInkList(const std::vector<Path> &paths)
{
    m_inkList = paths;
    writeInkList(true);
}

void KVPDFAnnotationInk::transformPaths(const QTransform &transform, bool look)
{
    // An annotation without paths gains no InkList by being moved.
    if (m_inkList.empty())
        return;
    for (Path &path : m_inkList)
        path = mapped(path, transform);
    writeInkList(look);
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationInk::copy() const
{
    std::shared_ptr<KVPDFAnnotationInk> ink(new KVPDFAnnotationInk());
    copyPathInto(*ink);
    ink->m_inkList = m_inkList;
    return ink;
}
