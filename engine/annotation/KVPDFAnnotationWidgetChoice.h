#pragma once
// A choice form field (FT Ch): a list box or a combo box. Holds its options (Opt) in file
// order, the top index (TI) and the selected indexes (I) as an editable list and selection
// that the program's controls edit, and writes Opt, TI, I and V back from them on save.
//
// Opt, TI and I are read from the widget and then up its Parent chain, and are then dropped
// from the widget's dictionary: from load on the object is their only owner, and makeField
// writes them again (a save leaves none of the old ones behind).
// V: a combo box writes the value it was given (none until one is set); a list box writes the
// export texts of its selection (one text, or an array in index order; for none, the empty
// string when the field had a value, else no V). A combo box never writes I.
//
// The appearance is built from a one-page PDF the program draws of the control (the imprint's
// own document, set before update()), through the field appearance pipeline, the font named
// /FVFont.
//
// Ownership and threads: as KVPDFAnnotationWidget; the change handlers are called on the
// thread that made the change, after it. Bad input: an Opt element that is neither a string
// nor an array is skipped ("Unexpected option type for choice widget"); a TI past the options
// becomes the last index; I elements that are no integers, or past the options, are left out.
#include "KVPDFAnnotationWidget.h"

#include <QString>

#include <functional>
#include <set>
#include <vector>

class KVPDFAnnotationWidgetChoice : public KVPDFAnnotationWidget {
public:
    enum ChoiceFlag : uint64_t {
        ChoiceCombo = 0x20000,
        ChoiceEdit = 0x40000,
        ChoiceSort = 0x80000,
        ChoiceMultiSelect = 0x200000,
        ChoiceDoNotSpellCheck = 0x400000,
        ChoiceCommitOnSelectionChange = 0x4000000,
    };
    struct Option {
        QString name;  // shown to the user
        QString value; // the export text; empty when the option has none
        bool operator==(const Option &) const = default;
    };
    using ChangeHandler = std::function<void()>;

    KVPDFAnnotationWidgetChoice(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    ~KVPDFAnnotationWidgetChoice() override;
    // A new list box or combo box named `name` on `page`, without options or value.
    static std::shared_ptr<KVPDFAnnotationWidgetChoice> choice(const QString &name, bool isCombo, KVPDFPage *page);

    int widgetType() const override { return WidgetChoice; }
    QByteArray fieldType() const override { return QByteArrayLiteral("Ch"); }

    bool combo() const { return fieldFlags() & ChoiceCombo; }
    bool allowEdit() const { return fieldFlags() & ChoiceEdit; }
    void setAllowEdit(bool edit) { setFieldFlag(ChoiceEdit, edit); }
    bool displaySorted() const { return fieldFlags() & ChoiceSort; }
    bool multiSelect() const { return fieldFlags() & ChoiceMultiSelect; }
    // Turning multi-select off keeps only the lowest selected index.
    void setMultiSelect(bool multi);
    bool doNotSpellCheck() const { return fieldFlags() & ChoiceDoNotSpellCheck; }
    bool commitOnSelectionChange() const { return fieldFlags() & ChoiceCommitOnSelectionChange; }

    const std::vector<Option> &options() const { return m_options; }
    // Indexes past the new options leave the selection.
    void setOptions(std::vector<Option> options);
    const std::set<size_t> &selection() const { return m_selection; }
    // Indexes past the options are left out.
    void setSelection(std::set<size_t> selection);
    void setOptionsChangedHandler(ChangeHandler handler) { m_optionsChanged = std::move(handler); }
    void setSelectionChangedHandler(ChangeHandler handler) { m_selectionChanged = std::move(handler); }
    uint64_t topIndex() const { return m_topIndex; }
    void setTopIndex(uint64_t index) { m_topIndex = index; }

    // The option's value when not empty, else its name; a null string out of range.
    QString exportValueForIndex(int64_t index) const;
    // The highest index whose value is `value`, or whose value is empty and name is `value`; -1.
    int64_t exportIndexForValue(const QString &value) const;
    // The export text of the first option named `title`; a null string when none is.
    QString exportValueForTitle(const QString &title) const;
    // For the combo-box control.
    size_t numberOfItems() const { return m_options.size(); }
    QString objectValueForItemAtIndex(size_t index) const;

    const QString &exportValue() const { return m_exportValue; }
    // A text typed into a combo box that is no option: becomes V (a string), and the next
    // appearance build starts afresh.
    void setExportValue(const QString &text);

    // AP N from the imprint's rendering; false (AP as it was) without a readable one.
    bool update();
    const std::vector<KVPDFObjectPtr> &subobjects() const { return m_subs; }
    using KVPDFAnnotation::subobjects;
    bool updatedOnce() const { return m_updatedOnce; }

    // The widget base's entries, Opt (as an object of its own), TI when not 0, I (list boxes),
    // FT /Ch and V.
    std::shared_ptr<KVPDFObjectDictionary> makeField() const override;
    // Keeps the value, the options, the top index and the selection.
    std::shared_ptr<KVPDFImprint> copy() const override;

private:
    KVPDFAnnotationWidgetChoice();
    KVPDFObjectPtr inherited(QByteArrayView key) const;

    std::vector<Option> m_options;
    std::set<size_t> m_selection;
    uint64_t m_topIndex = 0;
    QString m_exportValue;
    std::vector<KVPDFObjectPtr> m_subs;
    bool m_updatedOnce = false;
    ChangeHandler m_optionsChanged;
    ChangeHandler m_selectionChanged;
};
