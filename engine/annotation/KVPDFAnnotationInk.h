#pragma once
// An ink annotation (Subtype Ink): the common stroke members of KVPDFAnnotationPath (CA is
// neither read nor written) and its stroke paths (InkList), which follow the annotation's
// moves and resizes (see KVPDFAnnotationPath), in a copy too.
//
// Bad input: an InkList element that is no array gives an empty path; a path with an odd
// count ignores its last number.
#include "KVPDFAnnotationPath.h"

#include <QPointF>

#include <vector>

class KVPDFAnnotationInk : public KVPDFAnnotationPath {
public:
    using Path = std::vector<QPointF>;

    KVPDFAnnotationInk(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new ink annotation: {Type /Annot, Subtype /Ink, C, Contents} on `page`, Rect from
    // `rect`, no paths. An invalid colour gives defaultColor().
    static std::shared_ptr<KVPDFAnnotationInk> annotationWithContents(const QString &contents, const QRectF &rect,
                                                                      KVPDFPage *page, const KVColor &color);
    ~KVPDFAnnotationInk() override;

    int annotationType() const override { return AnnotationInk; }

    const std::vector<Path> &inkList() const { return m_inkList; }
    // InkList = one array of numbers per path; the stored AP is dropped.
    void setInkList(const std::vector<Path> &paths);
    // Every point of every path through `transform`, then setInkList.
    void transformInkWith(const QTransform &transform) { transformPaths(transform, true); }

    std::shared_ptr<KVPDFImprint> copy() const override;

protected:
    void transformPaths(const QTransform &transform, bool look) override;

private:
    KVPDFAnnotationInk() = default;
    void writeInkList(bool look);

    std::vector<Path> m_inkList;
};
