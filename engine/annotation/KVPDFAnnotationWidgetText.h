#pragma once
// A text form field (FT Tx): its default appearance DA (font, size, text colour), quadding,
// maximum length, border and colours, and the appearance stream built from the program's own
// rendering of the field (KVPDFFieldAppearance).
//
// The program draws the field (QPdfWriter), makes that one-page PDF the field's imprint
// document, stores the field's text as rich text under "textData" in the property dictionary,
// and then calls update(). update() writes V from the text, rewrites the colour and font parts
// of DA in place (other DA operators stay), and turns the rendering into AP N: the content's
// field font renamed to DA's font name, colours set from DA and MK by what they paint, the
// resources the content names copied with it.
//
// DA names the font asked for ("Helvetica" gives /Helv), never the face fontconfig chose to draw
// it. DA is found on the widget, else its Parent, else the form's; a rewritten DA is written
// into the widget's own dictionary.
//
// A loaded field keeps the AP it was read with until a new one is built, so saving a form
// without editing it keeps every appearance. A field made in this session is named
// "TextField<n>" with the smallest n >= 1 that no field of the page's document uses.
//
// Ownership and threads: as KVPDFAnnotationWidget. The rendering document belongs to the
// imprint (document()). Bad input: a DA that cannot be parsed counts as having no colour and
// no font; unreadable MK, BS, Q or MaxLen entries read as absent; a rendering that cannot be
// read leaves AP as it was (logged).
#include "KVPDFAnnotationWidget.h"

#include <QString>

#include <optional>
#include <vector>

class KVColor;

class KVPDFAnnotationWidgetText : public KVPDFAnnotationWidget {
public:
    // A place in the DA text: where a part starts and how many characters it takes; a part not
    // found has length 0, and a rewrite inserts at its location.
    struct Range {
        qsizetype location = 0;
        qsizetype length = 0;
        bool operator==(const Range &) const = default;
    };
    // What the program's text view uses when the field has no text: its font and colour.
    struct TextView {
        QString fontName;
        double fontSize = 0;
        std::optional<KVColor> textColor;
    };
    // A new text field at `location` on `page`, drawn by the one-page PDF `data`.
    static std::shared_ptr<KVPDFAnnotationWidgetText> imprintWithData(const QByteArray &data, QPointF location,
                                                                       KVPDFPage *page);
    // Loads a text field read from a page.
    KVPDFAnnotationWidgetText(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // An empty text field: Type /Annot, Subtype /Widget, FT /Tx.
    KVPDFAnnotationWidgetText();
    ~KVPDFAnnotationWidgetText() override;

    int widgetType() const override { return WidgetText; }
    QByteArray fieldType() const override { return QByteArrayLiteral("Tx"); }

    const QString &fontName() const { return m_fontName; }
    void setFontName(const QString &name) { m_fontName = name; }
    double fontSize() const { return m_fontSize; }
    void setFontSize(double size) { m_fontSize = size; }
    bool sizeToFit() const { return m_sizeToFit; }
    void setSizeToFit(bool fit) { m_sizeToFit = fit; }
    // Q: 0 left, 1 centre, 2 right.
    int justification() const { return int(m_quadding); }
    void setJustification(int quadding);
    uint64_t maxLength() const { return m_maxLength; }
    // Writes MaxLen into the widget's dictionary, or removes it for 0.
    void setMaxLength(uint64_t length);
    bool updatedOnce() const { return m_updatedOnce; }

    // A plain string becomes a PDF string of the widget's document.
    using KVPDFAnnotationWidget::setDefaultValue;
    void setDefaultValue(const QString &text);

    // Border width (0: no border) and dash pattern. Setting either writes BS (style D with a
    // pattern, else S) and drops the appearance; a width of 0 or less removes BS and MK BC.
    double strokeWidth() const { return m_strokeWidth; }
    void setStrokeWidth(double width);
    const std::vector<double> &strokePattern() const { return m_strokePattern; }
    void setStrokePattern(const std::vector<double> &pattern);

    // MK BC (border) and MK BG (background), as RGB; nullopt removes the entry.
    std::optional<KVColor> color() const;
    void setColor(const std::optional<KVColor> &color);
    std::optional<KVColor> fillColor() const override;
    void setFillColor(const std::optional<KVColor> &color) override;

    // The DA text of the widget, else its Parent, else the form; a null string when none.
    QString defaultAppearance() const;
    // Reads a DA text. Colour: the first " g" (gray, one operand), else the first " rg" (RGB,
    // three), else the first " k" (CMYK, four), operands read backwards from the operator;
    // colorRange covers the operands, the operator and one blank after it. Font, only when
    // `font` is given: the name operand before the first " Tf" and the size after it, through
    // the regular name ("Helv" gives "Helvetica") into fontName(), the size into fontSize(), a
    // size of 0 setting sizeToFit(); fontRange covers the name through "Tf" and one blank after
    // it. A part not found gets an empty range at 0 (at 1 when the text begins with a blank).
    // A " Tf" without a name before it, or numbers that do not read, count as no part.
    void parseDA(const QString &da, QString *font, double *size, std::optional<KVColor> *color);
    // Parses defaultAppearance() with the out-arguments given; `color` is reset first. Without a
    // DA both ranges are empty at 0.
    void getFontName(QString *font, double *size, std::optional<KVColor> *color);
    const Range &daColorRange() const { return m_daColorRange; }
    const Range &daFontRange() const { return m_daFontRange; }

    // V from "textData", DA's colour and font parts from the text's first character (or
    // `view`'s, for an empty text), then AP from the imprint's rendering.
    void update(const TextView *view);
    // A font change from the font panel: DA's font part becomes fontName() at `size`, V is read
    // again, and AP is built from the imprint's rendering.
    void setFontName(const QString &name, double size);
    // Builds AP N from rendered content whose field font is already named as DA names it, and
    // the resources it needs: "/Tx BMC q ... Q EMC" around the content with DA's colour for
    // text, MK BG for other fills and MK BC for strokes, Flate-compressed, BBox the widget's
    // size (the rendering's media box mapped onto it). Writes Q too.
    void updateAppearance(const QByteArray &content, const QRectF &mediaBox,
                          const std::shared_ptr<KVPDFObjectDictionary> &resources);
    // The new indirect objects the last appearance build made (references to them).
    const std::vector<KVPDFObjectPtr> &subobjects() const { return m_subs; }
    using KVPDFAnnotation::subobjects;

    std::shared_ptr<KVPDFObjectDictionary> resourcesForWriting() const override;
    // The widget base's entries, then FT /Tx, MaxLen when not 0 and Q.
    std::shared_ptr<KVPDFObjectDictionary> makeField() const override;
    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    void writeEntry(QByteArrayView key, const KVPDFObjectPtr &value);
    void writeDA(const QString &da);
    // DA's font part (at the last parse's range) becomes the system font for `name` at `size`
    // (0 when sizing to fit); writes DA, takes the font's name and size, answers the new DA.
    QString writeDAFont(const QString &da, const QString &name, double size);
    void readBorderStyle(const std::shared_ptr<KVPDFObjectDictionary> &borderStyle);
    void writeBorderStyle();
    void dropAppearance();
    void setValueFromTextData();
    // Runs the pipeline over the imprint's rendering with `resourceName` as the field font.
    void buildFromRendering(const QByteArray &resourceName);
    // The first "TextField<n>" no field of `page`'s document is named.
    static QString freeFieldName(KVPDFPage *page);

    bool m_updatedOnce = false;
    uint64_t m_quadding = 0;
    uint64_t m_maxLength = 0;
    Range m_daColorRange;
    Range m_daFontRange;
    QString m_fontName;
    // The font's resource name as DA writes it ("Helv"), from the last parse.
    QString m_daFontResource;
    double m_fontSize = 0;
    bool m_sizeToFit = false;
    double m_strokeWidth = 0;
    std::vector<double> m_strokePattern;
    std::vector<KVPDFObjectPtr> m_subs;
    // DR as a save writes it: the field's resources with the DA font added, once an appearance
    // was built; nullptr leaves DR as read.
    std::shared_ptr<KVPDFObjectDictionary> m_builtResources;
};
