#pragma once
// A free-text box (Subtype FreeText): text drawn straight on the page, with its author,
// subject, date, name, fill colour (C), border colour (the colour of DA), text colour (the
// colour of DS), opacity (CA), alignment (Q) and border style (BS).
//
// The engine does not draw the text. The program renders the box into a one-page PDF, makes it
// the imprint's document, and calls update(): the rendering goes through the field appearance
// pipeline (KVPDFFieldAppearance) into AP N, its first font named FVFont, the resources its
// content names copied with it, its bytes and line ends as they were. The form's BBox is the box
// in page space and its Matrix moves it back to the origin.
//
// DA is written as "r g b rg /Font s Tf" (three and two decimals) or "/Font s Tf" without a
// border colour; DS as "font: Font,sans-serif s pt; text-align:left; color:#rrggbb" (each
// component times 255, truncated). Numbers go through KVNumbers, so no locale shows in them.
//
// Reading writes nothing: a box without CA has opacity 1, one without M answers the current date
// from modified() (kept, not written), one whose DA names no font takes the program's default
// text font (KVPDFServices::defaultTextFont: Helvetica 12 unless the program installs one).
// Ownership and threads: as the annotation base; update() reads the imprint's rendering on the
// calling thread. Bad input: a DA without colour operator gives no border colour, one without
// Tf keeps the default font; a DS without a readable "#rrggbb" reads as black; a CA that is no
// finite number reads as 1; a rendering that cannot be read leaves AP as it was (logged).
#include "KVPDFAnnotation.h"

#include <QDateTime>
#include <QString>

#include <vector>

class KVPDFAnnotationFreeText : public KVPDFAnnotation {
public:
    // What a DA text holds.
    struct DA {
        std::optional<KVColor> color;
        QString fontName; // through KVPDFFont::regularName ("Helv" gives "Helvetica"); empty: no Tf
        float fontSize = 0;
    };
    // The text being edited, for update().
    struct Edit {
        QString text;
        QString fontName;
        double fontSize = 0;
    };

    KVPDFAnnotationFreeText(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new box on `page` over `rect`: {Type /Annot, Subtype /FreeText, Subj "TextBox",
    // Contents, T, C (only for a valid fill colour), CA 1, M now, Rect}, in the default font,
    // black text and no border colour.
    static std::shared_ptr<KVPDFAnnotationFreeText> annotationWithContents(const QString &contents, const QRectF &rect,
                                                                           const QString &title, KVPDFPage *page,
                                                                           const std::optional<KVColor> &fillColor);
    ~KVPDFAnnotationFreeText() override;

    int annotationType() const override { return AnnotationFreeText; }

    const QString &contents() const { return m_contents; }
    const QString &title() const { return m_title; }
    const std::optional<KVColor> &fillColor() const { return m_fillColor; }
    const std::optional<KVColor> &borderColor() const { return m_borderColor; }
    const KVColor &textColor() const { return m_textColor; }
    float alpha() const { return m_alpha; }
    const QString &fontName() const { return m_fontName; }
    float fontSize() const { return m_fontSize; }
    const QString &name() const { return m_name; }
    const QString &subject() const { return m_subject; }
    // Q: 0 left, 1 centre, 2 right.
    int justification() const { return m_quadding; }
    float strokeWidth() const { return m_strokeWidth; }
    // Dash lengths; empty when solid.
    const std::vector<double> &strokePattern() const { return m_strokePattern; }
    int strokePatternCount() const { return int(m_strokePattern.size()); }
    bool readOnly() const { return flag(FlagReadOnly); }
    bool locked() const { return flag(FlagLocked); }
    // M, or the current date when there is none (kept from then on, not written).
    QDateTime modified();

    // Fields only: they reach the dictionary through updateDA(), updateDS() and update().
    void setFontName(const QString &name) { m_fontName = name; }
    void setFontSize(float size) { m_fontSize = size; }
    void setJustification(int quadding) { m_quadding = quadding; }

    // Contents; a null text is ignored.
    void setContents(const QString &contents);
    // T, a string of the dictionary's document (enciphered with it).
    void setTitle(const QString &title);
    // C = the colour as RGB, or no C for none.
    void setFillColor(const std::optional<KVColor> &color);
    // The field, then updateDA().
    void setBorderColor(const std::optional<KVColor> &color);
    // The field, then updateDS().
    void setTextColor(const KVColor &color);
    // Only when it differs from the field: the field, the fill colour's alpha, CA.
    void setAlpha(float alpha);
    void setModified(const QDateTime &date);
    void setModifiedNow() { setModified(QDateTime::currentDateTime()); }
    // NM and Subj; a null text writes the empty string.
    void setName(const QString &name);
    void setSubject(const QString &subject);
    // BS (/D when dashed, /S when solid); AP removed.
    void setStrokeWidth(float width);
    void setStrokePattern(const std::vector<double> &pattern);

    // DA from the border colour, font name and size; nothing without a font name or with size 0.
    void updateDA();
    // DS from the font name, size and text colour.
    void updateDS();
    // Colour (" g", else " rg", else " k", operands read backwards from the operator) and font
    // (the name before the first " Tf", regular name, and the size after it) of a DA text.
    static DA parseDA(const QString &da);

    // Takes `edit`'s text (Contents and M when it changed) and font, writes DA and DS, then
    // builds AP N from the imprint's rendering. Without a rendering AP stays as it was.
    void update(const Edit *edit);
    // Q, then AP N: "q 1 0 0 1 x y cm", the content (mapped from `mediaBox` onto the box when
    // they differ), "Q"; BBox the box in page space, Matrix [1 0 0 1 -x -y], Flate-compressed.
    void updateAppearance(const QByteArray &content, const QRectF &mediaBox,
                          const std::shared_ptr<KVPDFObjectDictionary> &resources);
    // The new indirect objects the last update() copied in (references to them).
    const std::vector<KVPDFObjectPtr> &subobjects() const { return m_subs; }
    using KVPDFAnnotation::subobjects;

    // The annotation copy (its dictionary with every key, the appearance included) and the
    // fields.
    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    KVPDFAnnotationFreeText() = default;
    void write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look = false);
    void writeBorderStyle();

    QString m_contents;
    QString m_title;
    std::optional<KVColor> m_fillColor;
    std::optional<KVColor> m_borderColor;
    KVColor m_textColor = KVColor::gray(0);
    float m_alpha = 1.0f;
    QString m_fontName;
    float m_fontSize = 0;
    std::optional<QDateTime> m_modified;
    QString m_name;
    QString m_subject;
    int m_quadding = 0;
    float m_strokeWidth = 1.0f;
    std::vector<double> m_strokePattern;
    std::vector<KVPDFObjectPtr> m_subs;
};
