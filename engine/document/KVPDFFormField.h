#pragma once
// What the writer asks of an annotation that models a form field. The widget classes live in a
// layer above the writer; they implement this so a save can gather fields by name and write
// their field-level entries (T, FT, V, DV, TU, Ff) back, which the classes keep in their own
// members from the moment they are read.
//
// Threads: the writer's, like the annotation.
#include <QString>

#include <memory>

class KVPDFObjectDictionary;

class KVPDFFormField {
public:
    virtual ~KVPDFFormField() = default;

    // The field dictionary of a widget dictionary: its Parent when that Parent has FT, else the
    // widget itself. The one rule for the field's class (by FT), its entries and its name.
    // nullptr without a dictionary; a Parent that cannot be read counts as none.
    static std::shared_ptr<KVPDFObjectDictionary> fieldDictionaryFor(const std::shared_ptr<KVPDFObjectDictionary> &widget);

    // The full name, joined from the T chain; a null string for a field without one. Widgets
    // answering the same name are one field.
    virtual QString fieldName() const = 0;
    // A new dictionary of the field-level entries to write, for the field as it is now. It names
    // the ancestor the field sits under (Parent) when it has one.
    virtual std::shared_ptr<KVPDFObjectDictionary> makeField() const = 0;
    // The dictionary the field was read from (the widget's Parent field, or the widget's own
    // dictionary), whose entries the engine does not model are written with the field again;
    // nullptr for a field made in this session.
    virtual std::shared_ptr<KVPDFObjectDictionary> fieldSource() const = 0;
};
