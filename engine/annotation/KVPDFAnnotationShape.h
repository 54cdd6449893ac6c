#pragma once
// A square or circle annotation (Subtype Square or Circle): its text, stroke and interior
// colours, opacity, modification date, unique name and border style, read into members and
// written straight back into the annotation dictionary by every setter. Setters that change
// the look drop the stored appearance (AP) and its cached drawing; the shape never builds an
// appearance itself: an existing AP shows through the annotation base.
//
// Also the border-style helpers every stroked annotation and field uses: makeBorderStyleDict
// writes a BS dictionary, extractStrokeFromBorderStyleDict reads one. A one-number dash [d]
// reads as [d d]; a BS without W reads as width 1; no BS reads as width 1, solid.
//
// Opacity: C and IC share the one key CA. A setter given a colour whose alpha is neither 1
// nor 0 writes CA; an opaque or fully transparent colour leaves CA as it is, so the last of
// setColor and setFillColor given a partial alpha sets the opacity.
//
// Reading writes nothing: a shape without M answers the current date from modified() without
// writing it (a save without edits must not claim a change).
// Ownership and threads: as the annotation base. Bad input: a C or IC of an unexpected length
// reads as none (C then as black); a W that is no finite number of at least 0 reads as 1;
// dash lengths that are no finite numbers read as 0.
#include "KVPDFAnnotation.h"

#include <QDateTime>
#include <QString>

#include <vector>

class KVPDFAnnotationShape : public KVPDFAnnotation {
public:
    // Reads an existing shape; `subtype` is the Subtype it was found under.
    KVPDFAnnotationShape(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &subtype, KVPDFPage *page);
    // A new shape: {Type /Annot, Subtype, C, Contents} on `page`, Rect from `rect`. An invalid
    // colour gives defaultColor(). The other members stay empty until their setters run.
    static std::shared_ptr<KVPDFAnnotationShape> annotationWithContents(const QString &contents, const QRectF &rect, KVPDFPage *page,
                                                                        const KVColor &color, const QByteArray &subtype = "Square");
    ~KVPDFAnnotationShape() override;

    // Circle for "Circle", Square for every other subtype.
    int annotationType() const override { return m_subtype == "Circle" ? AnnotationCircle : AnnotationSquare; }
    static KVColor defaultColor() { return KVColor::gray(0); }
    bool readOnly() const { return flag(FlagReadOnly); }

    const QByteArray &shapeSubtype() const { return m_subtype; }
    const QString &contents() const { return m_contents; }
    const KVColor &color() const { return m_color; }
    const std::optional<KVColor> &fillColor() const { return m_fillColor; }
    const QString &name() const { return m_name; }
    float strokeWidth() const { return m_strokeWidth; }
    // Dash lengths; empty when solid.
    const std::vector<double> &strokePattern() const { return m_strokePattern; }
    int strokePatternCount() const { return int(m_strokePattern.size()); }
    // M, or the current date when there is none (kept from then on, not written).
    QDateTime modified();

    // Contents: a null text writes the empty string.
    void setContents(const QString &contents);
    // C = the colour's components (an invalid colour removes C); CA = alpha when partial.
    void setColor(const KVColor &color);
    // IC = the colour's components, or no IC for none; CA = alpha when partial.
    void setFillColor(const std::optional<KVColor> &color);
    void setModified(const QDateTime &date);
    // NM; a null text writes the empty string.
    void setName(const QString &name);
    void setSubtype(const QByteArray &subtype);
    // BS from the width and the current dash lengths; the style read is kept, else /D when
    // dashed and /S when solid.
    void setStrokeWidth(float width);
    // The dash lengths (each taken as a float; none when empty), then BS as setStrokeWidth
    // with /D when dashed and /S when solid.
    void setStrokePattern(const std::vector<double> &pattern);

    // The annotation copy (its dictionary with every key, the appearance included) and the
    // members.
    std::shared_ptr<KVPDFImprint> copy() const override;

    // A BS dictionary: Type /Border, S /style, W width as a real, D the dash lengths as reals
    // (only when there are some).
    static std::shared_ptr<KVPDFObjectDictionary> makeBorderStyleDict(const QByteArray &style, float width,
                                                                      const std::vector<double> &dash);
    // Reads BS into the out-arguments given (each may be null): style (S's name bytes, empty
    // when none), width (W, 1 when absent), dash lengths (D with one entry widened to two;
    // empty when D is absent or empty). A null dictionary gives the defaults.
    static void extractStrokeFromBorderStyleDict(const std::shared_ptr<KVPDFObjectDictionary> &borderStyle, QByteArray *style,
                                                 float *width, std::vector<double> *dash);

protected:
    KVPDFAnnotationShape() = default;

private:
    // Writes `key` = value (nullptr removes it) into a copy of the entries and stores them,
    // dropping the appearance when `look` says the change shows.
    void write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look);
    void writeBorderStyle(const QByteArray &style);

    QString m_contents;
    KVColor m_color = defaultColor();
    std::optional<KVColor> m_fillColor;
    std::optional<QDateTime> m_modified;
    QString m_name;
    QByteArray m_subtype;
    QByteArray m_borderStyle;
    float m_strokeWidth = 1.0f;
    std::vector<double> m_strokePattern;
};
