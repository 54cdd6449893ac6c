#pragma once
// What line, ink and polygon annotations share: their text, stroke colour (C), interior
// colour (IC), modification date, unique name and border (BS width and dash lengths), read
// into members and written straight back into the annotation dictionary by every setter. A
// setter that changes the look drops the stored appearance (AP) and its cached drawing; none
// of these classes builds an appearance: an existing AP shows through the annotation base.
//
// Paths: a subclass whose points follow the annotation (ink, polygon) moves them with every
// move and scales them about the lower-left corner with every resize once it is made (also in
// a copy), so InkList or Vertices stay where the appearance is drawn. The appearance is kept
// then, since it is fitted to Rect anyway.
//
// Reading writes nothing: without M, modified() answers the current date without writing it;
// without C the colour answers black.
// Ownership and threads: as the annotation base. Bad input: a C or IC of an unexpected length
// reads as none (C then as black); a W that is no finite number of at least 0 reads as 1.
#include "KVPDFAnnotation.h"

#include <QDateTime>
#include <QString>
#include <QTransform>

#include <vector>

class KVPDFAnnotationPath : public KVPDFAnnotation {
public:
    ~KVPDFAnnotationPath() override;

    static KVColor defaultColor() { return KVColor::gray(0); }
    bool readOnly() const { return flag(FlagReadOnly); }

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
    // C = the colour's components (an invalid colour gives black); with opacity (a line), CA
    // = the alpha when partial. The stored AP is dropped.
    void setColor(const KVColor &color);
    // IC = the colour's components, or no IC for none; with opacity, CA = alpha when partial.
    // The stored AP is dropped.
    void setFillColor(const std::optional<KVColor> &color);
    void setModified(const QDateTime &date);
    // NM; a null text writes the empty string.
    void setName(const QString &name);
    // BS from the width and the dash lengths: /D when dashed, /S when solid. AP dropped.
    void setStrokeWidth(float width);
    // The dash lengths (each taken as a float; none when empty), then BS as setStrokeWidth.
    void setStrokePattern(const std::vector<double> &pattern);

    // Moves the paths along (when the class has any) before Rect is written.
    void setLocation(QPointF location) override;
    // Scales the paths about the lower-left corner (when the class has any; a side of size 0
    // is not scaled) before Rect is written.
    void setSize(QSizeF size) override;

protected:
    // `opacity`: CA is read as the alpha of both colours and written by the colour setters.
    KVPDFAnnotationPath(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page, bool opacity);
    KVPDFAnnotationPath() = default;
    // {Type /Annot, Subtype, C, Contents}: the dictionary a new annotation is read from.
    static std::shared_ptr<KVPDFObjectDictionary> newDictionary(const QByteArray &subtype, const QString &contents,
                                                                const KVColor &color);

    void write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look);
    // The members into a fresh object of the subclass, after copyAnnotationInto.
    void copyPathInto(KVPDFAnnotationPath &target) const;
    // Maps the paths through `transform` and writes them; `look` drops the appearance. The
    // base has no paths.
    virtual void transformPaths(const QTransform &transform, bool look);
    static std::vector<QPointF> mapped(const std::vector<QPointF> &points, const QTransform &transform);

    // Set once a path annotation is made; the base's own placing of Rect while it is made must
    // not move its paths.
    bool m_followsRect = false;

private:
    void writeBorderStyle();

    bool m_opacity = false;
    QString m_contents;
    KVColor m_color = defaultColor();
    std::optional<KVColor> m_fillColor;
    std::optional<QDateTime> m_modified;
    QString m_name;
    float m_strokeWidth = 1.0f;
    std::vector<double> m_strokePattern;
};
