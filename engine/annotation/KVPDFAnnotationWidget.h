#pragma once
// One interactive form field as placed on one page: an annotation of Subtype Widget. It sits
// between the annotation base and the field kinds (text, button, choice), and is itself the
// class of every field type the engine reads without a class of its own.
//
// The field dictionary: a widget's Parent when that Parent has FT, else the widget's own
// dictionary. One rule, used for the class (by FT), the field-level entries and the name.
// Loading reads V, DV, TU, Ff and FT from the field dictionary into members and removes the
// field-level entries and the field links (DV, T, FT, V, TU, Ff, Parent, Kids) from the
// widget's own dictionary: from then on the object is their only owner. P, the page link
// every annotation has, stays. A save gathers widgets by name
// and writes the entries back through makeField (KVPDFFormField), into the widget's own
// dictionary or into one parent field shared by the widgets of a name.
//
// Name: the T chain, never TM (which stays where it is, as one of the entries the engine does
// not model). The field dictionary's T, preceded by the T of every ancestor above the field
// dictionary that has one, joined by "."; ancestors without T add nothing. A field dictionary
// without T gives no name. A field stays under its ancestors when written: its T is the name
// without their part ("form.address" under "form" writes T (address)); a name that does not
// begin with their part is written whole. A widget renamed away from the Parent field it was
// read from leaves that field and its ancestors: it is a new field of its own name.
//
// Ownership: holds its Parent and the field dictionary it was read from (both objects of the
// document) and its values. Threads: one at a time, like the page.
// Bad input: a missing, unreadable or cyclic Parent chain ends the name walk where it breaks (at
// most kMaxAncestors levels); a V or DV that cannot be read reads as none; a non-numeric Ff as 0.
#include "KVPDFAnnotation.h"
#include "KVPDFFormField.h"

#include <QString>

namespace kvpdf::fieldappearance {
struct Rendering;
}

class KVPDFAnnotationWidget : public KVPDFAnnotation, public KVPDFFormField {
public:
    // Answered by widgetType(); the writer and the application layer branch on it.
    enum WidgetType : int {
        WidgetBase = 0,
        WidgetText = 1,
        WidgetButton = 2,
        WidgetChoice = 3,
    };
    // Field flags (Ff), named as in the PDF standard.
    enum FieldFlag : uint64_t {
        FieldReadOnly = 0x1,
        FieldRequired = 0x2,
        FieldNoExport = 0x4,
        FieldMultiline = 0x1000,
        FieldPassword = 0x2000,
        FieldNoToggleToOff = 0x4000,
        FieldRadio = 0x8000,
        FieldPushbutton = 0x10000,
        FieldCombo = 0x20000,
        FieldEdit = 0x40000,
        FieldMultiSelect = 0x200000,
        FieldDoNotScroll = 0x800000,
    };
    static constexpr int kMaxAncestors = 64;

    // fieldDictionaryFor (KVPDFFormField) gives the field dictionary of a widget dictionary.
    // FT of the field dictionary as name bytes ("Tx", "Btn", "Ch", "Sig"), empty when none.
    static QByteArray fieldTypeFor(const std::shared_ptr<KVPDFObjectDictionary> &widget);
    // The full name from the T chain, or a null string.
    static QString fieldNameFor(const std::shared_ptr<KVPDFObjectDictionary> &widget);

    // Loads the widget (see above). Subclasses call it first and then read their own entries
    // from fieldDictionary() or the widget's dictionary.
    KVPDFAnnotationWidget(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    ~KVPDFAnnotationWidget() override;

    int annotationType() const override { return AnnotationWidget; }
    virtual int widgetType() const { return WidgetBase; }
    // The field type written as FT: the one read, unless a subclass knows its own.
    virtual QByteArray fieldType() const { return m_fieldType; }

    uint64_t fieldFlags() const { return m_fieldFlags; }
    void setFieldFlags(uint64_t flags) { m_fieldFlags = flags; }
    QString fieldName() const override { return m_fieldName; }
    // Also lets go of the old dictionary, so the writer works from the current one.
    void setFieldName(const QString &name);
    // V and DV as read (a string or a name as a rule), or nullptr. A string is decrypted when
    // stored, so it reads the same wherever it is written.
    const KVPDFObjectPtr &value() const { return m_value; }
    virtual void setValue(const KVPDFObjectPtr &value);
    const KVPDFObjectPtr &defaultValue() const { return m_defaultValue; }
    virtual void setDefaultValue(const KVPDFObjectPtr &value);
    // TU; a null string when there is none.
    const QString &tooltip() const { return m_tooltip; }
    void setTooltip(const QString &tooltip) { m_tooltip = tooltip; }
    // The default resources (DR) the field uses; set by the subclasses.
    const std::shared_ptr<KVPDFObjectDictionary> &resources() const { return m_resources; }
    void setResources(const std::shared_ptr<KVPDFObjectDictionary> &resources) { m_resources = resources; }
    // The widget's Parent as read (resolved), or nullptr.
    const std::shared_ptr<KVPDFObjectDictionary> &parent() const { return m_parent; }
    // The field dictionary as read: parent() when it has FT, else the widget's own dictionary
    // (whose field-level entries are gone once loaded); nullptr for a field made in this session.
    const std::shared_ptr<KVPDFObjectDictionary> &fieldDictionary() const { return m_fieldDictionary; }
    // fieldDictionary(), unless the widget was renamed away from the Parent field it was read
    // from (then nullptr: it is a new field).
    std::shared_ptr<KVPDFObjectDictionary> fieldSource() const override;
    // The ancestor the field stays under when written (above the field dictionary), or nullptr.
    std::shared_ptr<KVPDFObjectDictionary> fieldAncestor() const;

    bool readOnly() const { return m_fieldFlags & FieldReadOnly; }
    bool required() const { return m_fieldFlags & FieldRequired; }
    void setRequired(bool required) { setFieldFlag(FieldRequired, required); }
    bool noExport() const { return m_fieldFlags & FieldNoExport; }
    bool multiline() const { return m_fieldFlags & FieldMultiline; }
    void setMultiline(bool multiline) { setFieldFlag(FieldMultiline, multiline); }
    bool password() const { return m_fieldFlags & FieldPassword; }
    bool noToggleToOff() const { return m_fieldFlags & FieldNoToggleToOff; }
    bool radioButton() const { return m_fieldFlags & FieldRadio; }
    void setRadioButton(bool radio) { setFieldFlag(FieldRadio, radio); }
    bool pushButton() const { return m_fieldFlags & FieldPushbutton; }
    // True when DoNotScroll is clear.
    bool scroll() const { return !(m_fieldFlags & FieldDoNotScroll); }
    void setScroll(bool scroll) { setFieldFlag(FieldDoNotScroll, !scroll); }

    // The colour of MK BG, or none. The base class sets nothing; the kinds that draw a
    // background override the setter.
    virtual std::optional<KVColor> fillColor() const;
    virtual void setFillColor(const std::optional<KVColor> &color) { (void)color; }

    // T (the name below the ancestors; none for a field without a name), Ff, DV and V when
    // set (a button without V gets V /Off), TU when set, FT when known, and Parent = the
    // ancestor the field stays under. Subclasses call it first and add their own entries.
    std::shared_ptr<KVPDFObjectDictionary> makeField() const override;

    // The annotation copy, then the field members; a copy is a field made in this session
    // (no field dictionary) under the same ancestor, so it joins the field of its name.
    std::shared_ptr<KVPDFImprint> copy() const override;

protected:
    // For copy(): a widget without dictionary or page, filled by copyWidgetInto.
    KVPDFAnnotationWidget() = default;
    void copyWidgetInto(KVPDFAnnotationWidget &target) const;
    void setFieldFlag(uint64_t flag, bool on) { m_fieldFlags = on ? (m_fieldFlags | flag) : (m_fieldFlags & ~flag); }
    void setFieldType(const QByteArray &type) { m_fieldType = type; }
    // Makes the rendering, placed at the widget's rectangle, the only normal appearance, in the
    // stored entries and in memory. For the fields that keep the rendering's own colours.
    void installPlacedAppearance(const kvpdf::fieldappearance::Rendering &rendering);

private:
    uint64_t m_fieldFlags = 0;
    QString m_fieldName;
    // The name as read, to tell a renamed widget.
    QString m_readName;
    KVPDFObjectPtr m_value;
    KVPDFObjectPtr m_defaultValue;
    QString m_tooltip;
    QByteArray m_fieldType;
    // The ancestors' part of the name ("form." for form.address), empty at the top.
    QString m_ancestorPrefix;
    std::shared_ptr<KVPDFObjectDictionary> m_resources;
    std::shared_ptr<KVPDFObjectDictionary> m_parent;
    std::shared_ptr<KVPDFObjectDictionary> m_fieldDictionary;
    std::shared_ptr<KVPDFObjectDictionary> m_fieldAncestor;
};
