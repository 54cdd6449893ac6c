#pragma once
// A note (Subtype Text): an icon on the page standing for a comment with its text, author,
// subject, date and colour; and its pop-up (Subtype Popup), the window rectangle in which a
// viewer shows the note's text.
//
// A new note draws its own icon: a speech bubble in two Form XObjects, AP N (closed: the bubble
// in the note colour with a black outline) and AP D (open: a black bubble outlined in the note
// colour), both over the box (0, 0, width, height) of the icon.
//
// Reading writes nothing. A note without C answers defaultTextNoteColor() from fillColor() and
// keeps the appearance it was read with; one without M answers the current date from
// modified(), kept from then on, not written. Only the setters (and making a new note) write.
//
// Pop-ups: the page joins each pop-up to the note its Parent names, in memory (joinParent);
// the note then answers it from popup(). A note without a pop-up answers none: asking adds
// nothing to the page and changes nothing of the note. createDefaultPopup() makes one on
// purpose; the caller puts it on the page.
// Ownership: the note owns its pop-up; the pop-up names its note weakly (text() is null once
// the note is gone), so the two never keep each other alive. Otherwise as the annotation base,
// threads included.
//
// Bad input: C of an unexpected length reads as none; an M that is no date reads as none; AP
// entries that are no streams (a dictionary of states, or anything else) are left alone by
// setFillColor, which then rewrites only what it can: the stream entries of N and D.
#include "KVPDFAnnotation.h"

#include <QDateTime>
#include <QString>

class KVPDFAnnotationPopup;

class KVPDFAnnotationText : public KVPDFAnnotation {
public:
    // Reads a note; the page joins its pop-up afterwards.
    KVPDFAnnotationText(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new note on `page` with its icon at `iconRect` and a closed pop-up over `popupRect`,
    // handed out through `popup` when given: {Type /Annot, Subtype /Text, C, Subj "Note",
    // Contents, T, AP, M now, Rect, Popup}. An invalid colour gives defaultTextNoteColor().
    // Neither is put on the page: the caller adds the note, then the pop-up.
    static std::shared_ptr<KVPDFAnnotationText> annotationWithContents(const QString &contents, const QRectF &popupRect,
                                                                       const QString &title, KVPDFPage *page,
                                                                       const QRectF &iconRect, const KVColor &fillColor,
                                                                       std::shared_ptr<KVPDFAnnotationPopup> *popup = nullptr);
    ~KVPDFAnnotationText() override;

    int annotationType() const override { return AnnotationText; }
    // 252/255, 254/255, 124/255: the light yellow of a note read without C.
    static KVColor defaultTextNoteColor() { return KVColor::rgb(252.0f / 255, 254.0f / 255, 124.0f / 255); }

    const QString &contents() const { return m_contents; }
    const QString &title() const { return m_title; }
    const QString &name() const { return m_name; }
    const QString &subject() const { return m_subject; }
    // C, or defaultTextNoteColor() when the note has none.
    KVColor fillColor() const { return m_fillColor.value_or(defaultTextNoteColor()); }
    bool hasFillColor() const { return m_fillColor.has_value(); }
    // M, or the current date when there is none (kept from then on, not written).
    QDateTime modified();
    bool readOnly() const { return flag(FlagReadOnly); }
    // The pop-up joined to this note, or nullptr.
    const std::shared_ptr<KVPDFAnnotationPopup> &popup() const { return m_popup; }

    // Contents and T are strings of the dictionary's document (enciphered with it); NM and Subj
    // are not. A null text writes the empty string.
    void setContents(const QString &contents);
    void setTitle(const QString &title);
    void setName(const QString &name);
    void setSubject(const QString &subject);
    void setModified(const QDateTime &date);
    // C = the colour (an invalid one takes defaultTextNoteColor()), and the stream entries of
    // AP N and D (and of the replacement appearance, when there is one) become icons of that
    // colour over (0, 0, width, height). The new icons are new objects: streams the note shared
    // with other annotations are not changed under them.
    void setFillColor(const KVColor &color);
    // Keeps the pop-up and writes Popup (nullptr removes both).
    void setPopup(const std::shared_ptr<KVPDFAnnotationPopup> &popup);
    // A closed pop-up over `rect` with F 28, joined to `note` both ways (Popup and Parent
    // written); not put on the page.
    static std::shared_ptr<KVPDFAnnotationPopup> createDefaultPopup(const std::shared_ptr<KVPDFAnnotationText> &note,
                                                                    const QRectF &rect, KVPDFPage *page);

    // The icon streams for `color` over `bbox`: open (D) and closed (N).
    static std::shared_ptr<KVPDFObjectStream> openButtonStream(const KVColor &color, const QRectF &bbox);
    static std::shared_ptr<KVPDFObjectStream> closedButtonStream(const KVColor &color, const QRectF &bbox);
    // {D reference to the open stream, N reference to the closed stream}.
    static std::shared_ptr<KVPDFObjectDictionary> makeAPDictWithColor(const KVColor &color, const QRectF &bbox);

    // One-page PDF of AP[key] (the stored AP, else the replacement appearance; a dictionary of
    // states gives the one AS names) on a page of (0, 0, width, height). Empty when there is
    // no such stream or it cannot be drawn. Not cached; openIcon() and closedIcon() cache.
    QByteArray pdfDataForIcon(const QByteArray &key) const;
    QByteArray openIcon();
    QByteArray closedIcon();

    // The annotation copy (its dictionary with every key, the appearance included) and the
    // fields. A note with a pop-up gives the copy a copy of it, joined to the copy; one without
    // gives the copy none. The source is not changed.
    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    friend class KVPDFAnnotationPopup;
    KVPDFAnnotationText() = default;
    void write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes);
    // `appearance` with each stream entry of N and D replaced by a new icon; nullptr when
    // nothing in it could be replaced.
    std::shared_ptr<KVPDFObjectDictionary> recoloured(const std::shared_ptr<KVPDFObjectDictionary> &appearance) const;

    QString m_contents;
    QString m_title;
    std::optional<QDateTime> m_modified;
    QString m_name;
    QString m_subject;
    std::shared_ptr<KVPDFAnnotationPopup> m_popup;
    QByteArray m_openIcon;
    QByteArray m_closedIcon;
    std::optional<KVColor> m_fillColor;
};

// The pop-up of a note or free-text box. Reading takes nothing beyond the annotation base.
class KVPDFAnnotationPopup : public KVPDFAnnotation, public std::enable_shared_from_this<KVPDFAnnotationPopup> {
public:
    // Flags of a default pop-up: print, no-zoom and no-rotate.
    static constexpr int64_t kDefaultFlags = 28;

    KVPDFAnnotationPopup(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new pop-up: {Type /Annot, Subtype /Popup, Open, F, Rect}.
    static std::shared_ptr<KVPDFAnnotationPopup> annotationWithRect(const QRectF &rect, int64_t flags, bool open,
                                                                    KVPDFPage *page);
    ~KVPDFAnnotationPopup() override;

    int annotationType() const override { return AnnotationPopup; }
    // The note or free-text box this pop-up belongs to, or nullptr.
    std::shared_ptr<KVPDFAnnotation> text() const { return m_text.lock(); }
    // Keeps the parent and writes Parent; a note parent takes this pop-up (its Popup written).
    // nullptr removes Parent.
    void setText(const std::shared_ptr<KVPDFAnnotation> &parent);
    // In memory only, as the page pairs what it read.
    void joinParent(const std::shared_ptr<KVPDFAnnotation> &parent) override;
    // Open; false when absent.
    bool isOpen() const;
    void setOpen(bool open);

    // The annotation copy; it names the same parent until given another.
    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    KVPDFAnnotationPopup() = default;

    std::weak_ptr<KVPDFAnnotation> m_text;
};
