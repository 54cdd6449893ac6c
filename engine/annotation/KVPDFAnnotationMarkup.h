#pragma once
// A text markup annotation: one class for Highlight, Underline, StrikeOut and Squiggly. Its
// text, colour, modification date, unique name and quadrilaterals (QuadPoints, four corners
// each, in file order) are read into members; every setter writes its key straight back into
// the annotation dictionary. The appearance is the stored AP, shown through the annotation
// base; the class never builds one.
//
// Reading writes nothing, with one exception: files whose trailer chain says FolivoVersion
// "4.0" stored each quadrilateral with its two halves swapped, so such a markup is read with
// every group of four corners reordered (3, 4, 1, 2) and QuadPoints is written back in the
// sound order (the saved file then carries the current version, so the reorder happens once).
// Without C the colour answers black, without M modified() answers the current date; neither
// is written until a setter runs.
//
// A change of colour, quadrilaterals or subtype drops the stored AP (it would show the old
// look); new quadrilaterals also grow Rect to hold them.
//
// Ownership and threads: as the annotation base. Bad input: QuadPoints with an odd count
// ignores the last number, elements that are no finite numbers read as 0; a trailing group
// of fewer than four corners is kept but never reordered; a C of an unexpected length reads as
// black.
#include "KVPDFAnnotation.h"

#include <QDateTime>
#include <QPointF>
#include <QString>

#include <vector>

class KVPDFAnnotationMarkup : public KVPDFAnnotation {
public:
    // Reads an existing markup; `subtype` is the Subtype it was found under.
    KVPDFAnnotationMarkup(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &subtype, KVPDFPage *page);
    // A new markup: {Type /Annot, Subtype, C, Contents, QuadPoints of one quadrilateral over
    // `rect`: (x, y) (x+w, y) (x+w, y+h) (x, y+h)} on `page`, Rect from `rect`. An invalid
    // colour gives defaultColor().
    static std::shared_ptr<KVPDFAnnotationMarkup> annotationWithContents(const QString &contents, const QRectF &rect,
                                                                         KVPDFPage *page, const KVColor &color,
                                                                         const QByteArray &subtype = "Highlight");
    ~KVPDFAnnotationMarkup() override;

    // Highlight, Squiggly, StrikeOut; Underline for every other subtype.
    int annotationType() const override;
    static KVColor defaultColor() { return KVColor::gray(0); }
    bool readOnly() const { return flag(FlagReadOnly); }

    const QString &contents() const { return m_contents; }
    const KVColor &color() const { return m_color; }
    const QString &name() const { return m_name; }
    // M, or the current date when there is none (kept from then on, not written).
    QDateTime modified();
    // The corners, four per quadrilateral.
    const std::vector<QPointF> &quadPoints() const { return m_quadPoints; }

    // Contents: a null text writes the empty string.
    void setContents(const QString &contents);
    // C = the colour's components (no CA); the stored AP is dropped.
    void setColor(const KVColor &color);
    void setModified(const QDateTime &date);
    // NM; a null text writes the empty string.
    void setName(const QString &name);
    // QuadPoints = the corners; Rect grows to hold them; the stored AP is dropped.
    void setQuadPoints(const std::vector<QPointF> &points);
    // Subtype; the stored AP is dropped when the subtype changes.
    void setSubtype(const QByteArray &subtype);

    // The annotation copy (its dictionary with every key, the appearance included) and the
    // members.
    std::shared_ptr<KVPDFImprint> copy() const override;

    // Numbers x0 y0 x1 y1 ... as reals, each at 32-bit float precision.
    static std::shared_ptr<KVPDFObjectArray> pointsAsPDFArray(const std::vector<QPointF> &points);
    // One point per pair of numbers; an unpaired last number is ignored. No array: no points.
    static std::vector<QPointF> pointArrayFromPDFArrayPoints(const KVPDFObjectPtr &array);

private:
    KVPDFAnnotationMarkup() = default;
    void write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look);
    // True when the document's trailer chain says the file was written by version 4.0.
    bool writtenWithSwappedQuads(KVPDFPage *page) const;

    QString m_contents;
    KVColor m_color = defaultColor();
    std::optional<QDateTime> m_modified;
    QString m_name;
    std::vector<QPointF> m_quadPoints;
};
