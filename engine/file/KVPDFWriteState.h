#pragma once
// The working state of one write of a KVPDFDocument (KVPDFDocument_write.cpp), handed to the
// per-page rewrite so it can add objects of its own.
//
// The writer copies every object it writes: the document's object table never changes. A copy
// is entered in `translations` under its original's (document, number) so every reference to
// the original ends up pointing at the copy; objects that are new anyway (an imprint's form,
// a new annotation) go in through addObject(). Numbers are given only when the file is
// written, in the order objects were added.
//
// Ownership: holds the copies and new objects until the write ends. Threads: the writer's.
#include "KVPDFObject.h"

#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class KVPDFObjectDictionary;
class KVPDFPage;

struct KVPDFWriteState {
    // A complete new file (true) or the working copy's incremental update (false).
    bool fullRewrite = true;
    bool withImprints = true;
    // The save's compression level (0 to 3) and the image quality it asks for: 1.0 leaves
    // images alone; 0.9, 0.8 and 0.7 for levels 1 to 3.
    int compressionLevel = 0;
    float compression = 1.0f;
    // Whether the written strings and streams are encrypted (with the document's key for
    // writing): exactly when the file written has an Encrypt dictionary.
    bool encrypt = false;

    // old (document, generation, number) -> the object written in its place.
    KVPDFTranslationTable translations;
    // Objects to write, in the order they get their numbers.
    std::vector<KVPDFObjectPtr> copyObjects;
    // The flat page-tree root every page is written under; every old page-tree node
    // translates to it.
    std::shared_ptr<KVPDFObjectDictionary> newPagesObject;
    // The new page dictionaries, in page order.
    std::vector<std::shared_ptr<KVPDFObjectDictionary>> pageList;
    // Field dictionaries that become entries of the form's Fields (beside those it has).
    std::vector<std::shared_ptr<KVPDFObjectDictionary>> collectedFields;
    // Fields were rebuilt from the widgets: the form's Fields and CO are settled again (each
    // field once, rebuilt ones in the place of what they came from).
    bool fieldsRebuilt = false;
    // A written widget that was a field of its own and is now a kid of a rebuilt field -> that
    // field, for the entries of Fields and CO that named the widget.
    std::unordered_map<const KVPDFObject *, KVPDFObjectPtr> fieldReplacements;
    // Old page-tree nodes (of any document a written page comes from).
    std::unordered_set<const KVPDFObject *> pageTreeNodes;
    // Whether the resources (or XObject) dictionary under (document, number) names stored
    // imprints, as worked out once per write.
    std::map<std::pair<const KVPDFObjectContext *, uint64_t>, bool> namesStoredImprints;
    // Told of each copy the reference pass makes (original, copy), before the copy is written.
    std::function<void(const KVPDFObjectPtr &, const KVPDFObjectPtr &)> copied;

    // Appends an object to write. An object already added is not added twice. The write owns
    // what it writes and takes it apart when it ends (written objects refer to each other in
    // cycles): add new objects or copies, never an object a document still holds. With
    // numbering on, the object gets its number now.
    void addObject(const KVPDFObjectPtr &object)
    {
        if (object && written.emplace(object.get(), object).second) {
            copyObjects.push_back(object);
            if (nextNumber)
                object->setObjectNumber(nextNumber++);
        }
    }
    // The full rewrite numbers every object when it joins the write (from 1; 0: off), so each
    // can be written the moment it is final.
    uint64_t nextNumber = 0;
    uint64_t assignNumber(const KVPDFObjectPtr &object)
    {
        if (nextNumber && object && object->objectNumber() == 0)
            object->setObjectNumber(nextNumber++);
        return object ? object->objectNumber() : 0;
    }
    // True for anything the writer writes under a new number (copies, new objects, pages).
    bool isWritten(const KVPDFObject *object) const { return written.count(object) != 0; }
    // Written, but numbered by the writer itself (pages, the page-tree root, the catalogue).
    void markWritten(const KVPDFObjectPtr &object)
    {
        if (object)
            written.emplace(object.get(), object);
    }
    // Breaks the cycles among the written objects so they are freed with the state.
    void releaseWritten()
    {
        for (auto &entry : written)
            entry.second->releaseGraph();
        written.clear();
        copyObjects.clear();
        pageList.clear();
        fieldReplacements.clear();
        newPagesObject.reset();
    }
    ~KVPDFWriteState() { releaseWritten(); }
    // Lets go of the written objects without taking them apart, for copies that live on after
    // the state (objects copied into a document's own table).
    void handOver()
    {
        written.clear();
        byIdentity.clear();
        translations.clear();
        copyObjects.clear();
        pageList.clear();
        fieldReplacements.clear();
        newPagesObject.reset();
    }

    // Enters `replacement` for the original (document, number), and for the original itself
    // (kept alive for the write, so its address cannot be reused by another object).
    // byNumberOnly: an original read for this write alone, which nothing else holds; it is
    // found again by number and let go once copied.
    void translate(const KVPDFObjectPtr &original, const KVPDFObjectPtr &replacement, bool byNumberOnly = false)
    {
        if (!original)
            return;
        if (!byNumberOnly)
            byIdentity[original.get()] = {original, replacement};
        translateNumber(original->context(), original->objectNumber(), original->generation(), replacement);
    }
    // Enters `replacement` for (document, number) alone: for an object that stands for a
    // numbered one without carrying its number (a copy of it). The first entry for a number stays.
    void translateNumber(const KVPDFObjectContext *context, uint64_t number, uint64_t generation,
                         const KVPDFObjectPtr &replacement)
    {
        if (number == 0)
            return;
        auto &generations = translations[context];
        // Hostile generation numbers must not size a table; one slot stands in for them.
        const size_t slot = generation < 65536 ? size_t(generation) : 65535;
        if (generations.size() <= slot)
            generations.resize(slot + 1);
        generations[slot].emplace(number, replacement);
    }
    // The replacement for `original`: by identity, else by (document, number) whatever the
    // generation (the object table ignores generations too). nullptr when none.
    KVPDFObjectPtr translation(const KVPDFObject &original) const
    {
        if (auto it = byIdentity.find(&original); it != byIdentity.end())
            return it->second.second;
        return translation(original.context(), original.objectNumber());
    }
    KVPDFObjectPtr translation(const KVPDFObjectContext *context, uint64_t number) const
    {
        if (number == 0)
            return nullptr;
        auto byDocument = translations.find(context);
        if (byDocument == translations.end())
            return nullptr;
        for (const auto &numbers : byDocument->second)
            if (auto it = numbers.find(number); it != numbers.end())
                return it->second;
        return nullptr;
    }

private:
    std::unordered_map<const KVPDFObject *, KVPDFObjectPtr> written;
    std::unordered_map<const KVPDFObject *, std::pair<KVPDFObjectPtr, KVPDFObjectPtr>> byIdentity;
};
