#pragma once
// A button form field (FT Btn): check box, radio button or push button.
//
// State: a check box or radio button shows one of two appearance streams, named in AP N by the
// on-state name (the export value) and "Off". AS names the one shown and V holds the same name;
// toggleState() switches both together. Keeping a radio group exclusive is the caller's task:
// a toggle touches this widget only.
//
// Appearances: check boxes and radio buttons are drawn from fixed unit-square artwork scaled
// into the largest square that fits the widget, centred. A push button is drawn with QPainter
// into a one-page PDF (KVFolivoImprintRenderer) and turned into a Form XObject by the field
// appearance pipeline (KVPDFFieldAppearance); that one-state AP is what a save writes.
// A loaded check box or radio button keeps the AP it was read with until a setter that changes
// its look (colours, export value, size) rebuilds it; setTitle() keeps it.
//
// F: setup keeps every other bit of F (hidden, locked, no-view ...) and adds Print.
//
// Ownership and threads: as KVPDFAnnotationWidget. The state streams are owned; the AP
// written into the widget dictionary refers to them, so a save writes them with it.
// Bad input: an AP, MK, A or AA that is missing or of the wrong type reads as absent; a state
// dictionary with fewer than two keys leaves toggleState() without effect.
#include "KVPDFAnnotationWidget.h"

#include <QByteArray>
#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

class KVPDFDocument;
class KVPDFObjectStream;
class QPainter;

class KVPDFAnnotationWidgetButton : public KVPDFAnnotationWidget {
public:
    enum ButtonType : int {
        ButtonPush = 1,
        ButtonCheck = 2,
        ButtonRadio = 3,
    };
    struct Colors {
        std::optional<KVColor> border;
        std::optional<KVColor> fill;
        std::optional<KVColor> text;
    };

    // Loads a button read from a page: the default resources (Parent's DR, else the widget's,
    // else the form's), the caption (MK CA) and the export value: the first key of AP N that is
    // not "Off" in stored order; none when N has no such key.
    KVPDFAnnotationWidgetButton(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    ~KVPDFAnnotationWidgetButton() override;

    // A new check box or radio button named `name` on `page`, V /Off, its appearance built at
    // the widget's current rectangle; the caller sets size, location and colours afterwards
    // (each rebuilds the appearance).
    static std::shared_ptr<KVPDFAnnotationWidgetButton> checkbox(const QString &name, const QString &exportValue, KVPDFPage *page);
    static std::shared_ptr<KVPDFAnnotationWidgetButton> radio(const QString &name, const QString &exportValue, KVPDFPage *page);

    int widgetType() const override { return WidgetButton; }
    QByteArray fieldType() const override { return QByteArrayLiteral("Btn"); }
    // Radio when Ff has Radio, else push button when it has Pushbutton, else check box.
    int buttonType() const;

    const QString &exportValue() const { return m_exportValue; }
    const QString &title() const { return m_title; }
    const std::shared_ptr<KVPDFObjectStream> &onStream() const { return m_onStream; }
    const std::shared_ptr<KVPDFObjectStream> &offStream() const { return m_offStream; }
    void setOnStream(const std::shared_ptr<KVPDFObjectStream> &stream);
    void setOffStream(const std::shared_ptr<KVPDFObjectStream> &stream);
    void setLastPDFData(const QByteArray &data) { m_lastPDFData = data; }

    // MK BC (none when absent), MK BG, and the text colour: the border colour, black without one.
    std::optional<KVColor> borderColor() const;
    KVColor textColor() const;
    // Each rebuilds the appearance; the colour setters, setExportValue and setSize drop a
    // loaded appearance first.
    void setFillColor(const std::optional<KVColor> &color) override;
    void setBorderColor(const std::optional<KVColor> &color);
    void setExportValue(const QString &exportValue);
    void setTitle(const QString &title);
    void setSize(QSizeF size) override;

    // The appearance rebuild: nothing for a check box or radio button without an on-state name,
    // and a loaded appearance of one stays; a push button is always drawn.
    void update(const QString &onName, const QRectF &frame, const Colors &colors);
    // Content of a state stream at `size`.
    static QByteArray checkboxOfSize(QSizeF size, bool checked, const Colors &colors);
    static QByteArray radioOfSize(QSizeF size, bool checked, const Colors &colors);
    // "s 0 0 -s dx dy cm": the unit-square art (y from 0 down to -1) flipped into the largest
    // centred square of `size`.
    static QByteArray ctmUsingSize(QSizeF size);
    // The push button's content, unpressed; builds its one-state appearance on the way. Empty
    // when it cannot be drawn (no QGuiApplication).
    QByteArray submitOfSize(QSizeF size, const Colors &colors);
    // Installs the state streams and AP, MK, AS, F, Rect, Type and Subtype.
    void setup(const QByteArray &offData, const QByteArray &onData, const QString &onName, const QRectF &frame,
               const Colors &colors);
    // The push button's appearance from page 0 of `rendering`; false when it cannot be read.
    bool update(KVPDFDocument &rendering);

    // Draws the push button in widget coordinates (y down, origin at the top left) as pressed or
    // not: the rounded box, its fill and border, and the caption ("Submit" without one).
    void draw(QPainter &painter, bool pressed) const;

    // Switches AS and V to the other key of the state dictionary (AP N, or AP D when N has one
    // key); from a state that names neither key, to the first key in stored order. False, with
    // nothing changed, when there is no other state. A check box or radio button without AP
    // gets its states drawn first, the on state named by V or AS when not Off, else "Yes".
    virtual bool toggleState();

    // A (else AA D) of the widget.
    virtual std::shared_ptr<KVPDFObjectDictionary> action() const;
    // The action's Flags, 0 without.
    int64_t flags() const;
    // F's F of a SubmitForm action whose F has FS /URL; a null string otherwise.
    virtual QString submitURLString() const;
    bool isSubmitButton() const { return !submitURLString().isNull(); }
    virtual bool submitOnMouseDown() const { return isSubmitButton(); }

    // One-page PDF of the current normal appearance, cached; empty without one.
    QByteArray pdfDataForButton();

    // The widget base's entries, FT /Btn; no V for a button read without one.
    std::shared_ptr<KVPDFObjectDictionary> makeField() const override;
    std::shared_ptr<KVPDFImprint> copy() const override;

    // The new indirect objects the last push-button appearance made.
    const std::vector<KVPDFObjectPtr> &subobjects() const { return m_subs; }
    using KVPDFAnnotation::subobjects;
    bool updatedOnce() const { return m_updatedOnce; }

protected:
    // For the new-field factories and copies: a widget with an empty dictionary.
    KVPDFAnnotationWidgetButton();
    void copyButtonInto(KVPDFAnnotationWidgetButton &target) const;
    void rebuild(const Colors &colors);
    Colors currentColors() const;
    void dropLoadedAppearance();
    void writeMK(QByteArrayView key, const KVPDFObjectPtr &value);

private:
    std::shared_ptr<KVPDFObjectStream> m_onStream;
    std::shared_ptr<KVPDFObjectStream> m_offStream;
    QString m_exportValue;
    QByteArray m_lastPDFData;
    QString m_title;
    std::vector<KVPDFObjectPtr> m_subs;
    // The content of the last push-button rendering, its font renamed.
    QByteArray m_renderedContent;
    bool m_updatedOnce = false;
    // The AP read from the file is what shows until a setter changes the look.
    bool m_keepsFileAppearance = false;
};

// The URL of a SubmitForm action's F when F has FS /URL (a null string when F has no F text);
// a null string, logged as "SubmitForm does not have FS URL entry", for any other F; a null
// string silently without F.
QString kvpdfSubmitURL(const std::shared_ptr<KVPDFObjectDictionary> &action);

// Draws a push button into a one-page PDF (QPdfWriter at 72 dpi, page = the widget's size, no
// margins). Needs a QGuiApplication; without one answers empty data.
class KVFolivoImprintRenderer {
public:
    static QByteArray pdfDataForImprint(const KVPDFAnnotationWidgetButton &button, bool pressed);
};
