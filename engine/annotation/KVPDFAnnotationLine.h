#pragma once
// A line annotation (Subtype Line): the common stroke members of KVPDFAnnotationPath with CA
// as the alpha of both colours, its two end points (L) and its line endings (LE). Changing the
// points or the endings drops the stored AP; Rect is left as it is.
//
// Bad input: an L with fewer than four numbers gives (0, 0) for what is missing; LE elements
// that are no names read as "None".
#include "KVPDFAnnotationPath.h"

#include <QPointF>
#include <QStringList>

#include <array>

class KVPDFAnnotationLine : public KVPDFAnnotationPath {
public:
    KVPDFAnnotationLine(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new line: {Type /Annot, Subtype /Line, C, Contents} on `page`, Rect from `rect`, no L
    // (its points read (0, 0) and (0, 0)). An invalid colour gives defaultColor().
    static std::shared_ptr<KVPDFAnnotationLine> annotationWithContents(const QString &contents, const QRectF &rect,
                                                                       KVPDFPage *page, const KVColor &color);
    ~KVPDFAnnotationLine() override;

    int annotationType() const override { return AnnotationLine; }

    // The start and end point of L.
    const std::array<QPointF, 2> &points() const { return m_points; }
    // L = [x0 y0 x1 y1]; the stored AP is dropped.
    void setPoints(QPointF start, QPointF end);
    // The name of LE's element `index`; "None" without LE or past its end.
    QString lineEndingAtIndex(int index) const;
    // The two endings, "None" for each one LE does not give.
    QStringList lineEndings() const { return {lineEndingAtIndex(0), lineEndingAtIndex(1)}; }
    // LE = [/first /second] (a missing second is None); the stored AP is dropped.
    void setLineEndings(const QStringList &endings);

    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    KVPDFAnnotationLine() = default;

    std::array<QPointF, 2> m_points{};
};
