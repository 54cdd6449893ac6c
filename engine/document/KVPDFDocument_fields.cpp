// The form's fields in a full rewrite. Widgets the engine models keep their field-level
// entries in their own members once read (KVPDFFormField); a save gathers them by name and
// writes each name's field again, in the place of the field it was read from.
#include "KVPDFDocument.h"

#include "KVPDFAnnotation.h"
#include "KVPDFExceptions.h"
#include "KVPDFFormField.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFPage.h"
#include "KVPDFReferenceTranslator.h"
#include "KVPDFWriteState.h"

#include <QHash>

#include <unordered_map>
#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

KVPDFObjectPtr referenceTo(const KVPDFObjectPtr &object) { return KVPDFObjectReference::referenceWithObject(object); }

// The keys makeField writes, and the links the grouping sets itself.
bool isFieldKey(const QByteArray &key)
{
    static const QByteArray keys[] = {"T", "FT", "V", "DV", "TU", "Ff", "Parent", "Kids"};
    return std::find(std::begin(keys), std::end(keys), key) != std::end(keys);
}

// The entries of a field dictionary the engine does not model (AA, DA, DR, MaxLen, Opt, TM,
// Q ...), as copies to write.
std::vector<KVPDFObjectDictionary::Entry> unmodelledEntries(const Dictionary &field)
{
    std::vector<KVPDFObjectDictionary::Entry> entries;
    if (!field)
        return entries;
    try {
        KVPDFReferenceTranslator::settleStrings(field);
        for (const auto &[key, value] : field->value())
            if (value && !isFieldKey(key)) {
                KVPDFObjectPtr copy = value->copy();
                copy->setContainer({});
                entries.emplace_back(key, copy);
            }
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Entries of a field could not be copied: %1").arg(QString::fromStdString(failure.reason())));
    }
    return entries;
}

struct Member {
    std::shared_ptr<KVPDFAnnotation> annotation;
    const KVPDFFormField *field = nullptr;
    size_t page = 0;
    Dictionary copy;
};

// The kids a rebuilt field keeps of the field it was read from: those that are no widget of
// another name (widgets on pages whose annotations were not read, kids on no page).
std::vector<KVPDFObjectPtr> keptKids(const Dictionary &source, size_t group,
                                     const std::unordered_map<const KVPDFObject *, size_t> &groupOf,
                                     std::unordered_set<const KVPDFObject *> &listed)
{
    std::vector<KVPDFObjectPtr> kids;
    auto array = kv_cast<KVPDFObjectArray>(KVPDFReferenceTranslator::readableValue(source->objectForKey("Kids"), true));
    for (size_t i = 0; array && i < array->count(); ++i) {
        KVPDFObjectPtr kid = KVPDFReferenceTranslator::readableValue(array->objectAtIndex(i), true);
        if (!kid || kid->objectType() != KVPDFObject::TypeDictionary || !listed.insert(kid.get()).second)
            continue;
        auto found = groupOf.find(kid.get());
        if (found != groupOf.end() && found->second != group)
            continue;
        kids.push_back(referenceTo(kid));
    }
    return kids;
}
}

void KVPDFDocument::writeFields(const std::vector<std::shared_ptr<KVPDFPage>> &pages, KVPDFWriteState &state)
{
    // Widgets by name, in page order; a widget without a name is a field of its own.
    std::vector<std::vector<Member>> groups;
    QHash<QString, size_t> byName;
    std::unordered_map<const KVPDFObject *, size_t> groupOf;
    for (size_t i = 0; i < pages.size() && i < state.pageList.size(); ++i) {
        if (!pages[i]->processedAnnotations())
            continue;
        for (const auto &annotation : pages[i]->annotationImprints()) {
            auto *field = dynamic_cast<const KVPDFFormField *>(annotation.get());
            const Dictionary &dictionary = annotation->annotDict();
            if (!field || !dictionary || groupOf.count(dictionary.get()))
                continue;
            const QString name = field->fieldName();
            size_t group = groups.size();
            if (!name.isNull()) {
                auto known = byName.constFind(name);
                if (known != byName.constEnd())
                    group = *known;
                else
                    byName.insert(name, group);
            }
            if (group == groups.size())
                groups.emplace_back();
            groups[group].push_back({annotation, field, i, nullptr});
            groupOf.emplace(dictionary.get(), group);
        }
    }
    if (groups.empty())
        return;
    state.fieldsRebuilt = true;

    // Every widget's copy is made now, finished as its page would finish it, so that whatever
    // reaches it first (its page, its field, another field's kids) finds it whole.
    for (auto &members : groups)
        for (Member &member : members) {
            const Dictionary &original = member.annotation->annotDict();
            KVPDFReferenceTranslator::settleStrings(original);
            member.copy = kv_cast<KVPDFObjectDictionary>(original->copy());
            member.copy->setContainer({});
            state.translate(original, member.copy);
            state.addObject(member.copy);
            finishAnnotationCopy(*member.annotation, member.copy, state.pageList[member.page]);
        }

    for (size_t g = 0; g < groups.size(); ++g) {
        std::vector<Member> &members = groups[g];
        const Member &primary = members.front();
        const Dictionary entries = primary.field->makeField();
        Dictionary source;
        for (const Member &member : members)
            if ((source = member.field->fieldSource()))
                break;
        const bool ownSource = source && source == primary.annotation->annotDict();
        const bool parentSource = source && !ownSource;

        // A lone widget takes the field's entries itself when it was one dictionary with its
        // field already, and when it is a new text field. A field read from a Parent stays one:
        // folded into its widget, the entries it holds for readers that look at the field
        // (TU, TM, AA) would move to where they read otherwise.
        if (members.size() == 1 && (ownSource || (!source && entries->nameForKey("FT") == "Tx"))) {
            const Dictionary &copy = primary.copy;
            for (const auto &[key, value] : entries->value())
                copy->setObject(key, value);
            if (!copy->objectForKey("Parent"))
                state.collectedFields.push_back(copy);
            continue;
        }

        std::unordered_set<const KVPDFObject *> listed;
        std::vector<KVPDFObjectPtr> kids;
        if (parentSource)
            kids = keptKids(source, g, groupOf, listed);
        auto field = std::make_shared<KVPDFObjectDictionary>();
        if (parentSource)
            field->setValue(unmodelledEntries(source));
        for (const auto &[key, value] : entries->value())
            field->setObject(key, value);
        for (const Member &member : members)
            if (listed.insert(member.annotation->annotDict().get()).second)
                kids.push_back(referenceTo(member.copy));
        field->setObject("Kids", KVPDFObjectArray::arrayWithArray(std::move(kids)));
        state.addObject(field);
        for (const Member &member : members) {
            member.copy->setObject("Parent", referenceTo(field));
            // What the form named as a field now stands for the shared one: a Parent field by
            // translation, a widget that was its own field (now a kid) through the form's lists.
            const Dictionary memberSource = member.field->fieldSource();
            if (memberSource == member.annotation->annotDict())
                state.fieldReplacements[member.copy.get()] = field;
            else if (memberSource && !state.translation(*memberSource))
                state.translate(memberSource, field);
        }
        if (!field->objectForKey("Parent"))
            state.collectedFields.push_back(field);
    }
}
