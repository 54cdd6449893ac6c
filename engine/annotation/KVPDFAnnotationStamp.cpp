#include "KVPDFAnnotationStamp.h"

#include "KVPDFAnnotationEdits.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"

namespace {
namespace edits = kvpdf::annotation;
constexpr QStringView kOwner = u"Stamp";
}

KVPDFAnnotationStamp::KVPDFAnnotationStamp(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page)
    : KVPDFAnnotation(dictionary, page)
{
    m_contents = edits::readText(annotDict(), "Contents", kOwner);
    m_modified = edits::readDate(annotDict(), "M", kOwner);
    m_name = edits::readText(annotDict(), "NM", kOwner);
}

std::shared_ptr<KVPDFAnnotationStamp> KVPDFAnnotationStamp::annotationWithContents(const QString &contents, const QRectF &rect,
                                                                                  KVPDFPage *page)
{
    auto dictionary = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Stamp")},
        {"Contents", edits::textString(contents, nullptr)},
    });
    auto stamp = std::make_shared<KVPDFAnnotationStamp>(dictionary, page);
    stamp->setLocation(rect.topLeft());
    stamp->setSize(rect.size());
    return stamp;
}

KVPDFAnnotationStamp::~KVPDFAnnotationStamp() = default;

QDateTime KVPDFAnnotationStamp::modified()
{
    if (!m_modified)
        m_modified = QDateTime::currentDateTime();
    return *m_modified;
}

void KVPDFAnnotationStamp::write(const QByteArray &key, const KVPDFObjectPtr &value)
{
    edits::Entries values = entries();
    edits::apply(values, {{key, value}});
    storeEntries(std::move(values));
}

void KVPDFAnnotationStamp::setContents(const QString &contents)
{
    m_contents = contents;
    write("Contents", edits::textString(contents, annotDict()));
}

void KVPDFAnnotationStamp::setModified(const QDateTime &date)
{
    m_modified = date;
    write("M", edits::dateString(date, annotDict()));
}

void KVPDFAnnotationStamp::setName(const QString &name)
{
    m_name = name;
    write("NM", edits::textString(name, annotDict()));
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationStamp::copy() const
{
    std::shared_ptr<KVPDFAnnotationStamp> stamp(new KVPDFAnnotationStamp());
    copyAnnotationInto(*stamp);
    stamp->m_contents = m_contents;
    stamp->m_modified = m_modified;
    stamp->m_name = m_name;
    return stamp;
}
