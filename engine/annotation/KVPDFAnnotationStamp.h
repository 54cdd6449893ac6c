#pragma once
// A stamp annotation (Subtype Stamp): its text, modification date and unique name, read into
// members and written straight back by the setters. Its look is the stored AP, shown through
// the annotation base, and nothing here changes it. Reading writes nothing: without M,
// modified() answers the current date without writing it.
// Ownership and threads: as the annotation base.
#include "KVPDFAnnotation.h"

#include <QDateTime>
#include <QString>

class KVPDFAnnotationStamp : public KVPDFAnnotation {
public:
    KVPDFAnnotationStamp(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new stamp: {Type /Annot, Subtype /Stamp, Contents} on `page`, Rect from `rect`.
    static std::shared_ptr<KVPDFAnnotationStamp> annotationWithContents(const QString &contents, const QRectF &rect,
                                                                        KVPDFPage *page);
    ~KVPDFAnnotationStamp() override;

    int annotationType() const override { return AnnotationStamp; }
    bool readOnly() const { return flag(FlagReadOnly); }

    const QString &contents() const { return m_contents; }
    const QString &name() const { return m_name; }
    // M, or the current date when there is none (kept from then on, not written).
    QDateTime modified();

    // Contents: a null text writes the empty string.
    void setContents(const QString &contents);
    void setModified(const QDateTime &date);
    // NM; a null text writes the empty string.
    void setName(const QString &name);

    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    KVPDFAnnotationStamp() = default;
    void write(const QByteArray &key, const KVPDFObjectPtr &value);

    QString m_contents;
    std::optional<QDateTime> m_modified;
    QString m_name;
};
