#pragma once
// Copies objects of other documents into one document's own object table, so that what is put
// into the document (a page or an annotation copied from another) no longer depends on the
// document it came from. The walk is the writer's reference pass (KVPDFReferenceTranslator):
// every object the added objects reach through references is copied once however often it is
// reached, and references among the copies lead to the copies.
//
// What a copy between documents must not drag along becomes null (a dictionary key is dropped):
// page-tree nodes, and any page other than one entered with addAs() (a link to another page of
// the source, the source page an annotation's P names). So do references that lead nowhere
// (missing or unreadable objects).
//
// Once finish() has run, every copy belongs to the target: it holds a new number of the
// target's table (from objectCount(), so never a number the target's file already uses), has
// the target as its context, its references name their targets' new numbers, its streams hold
// their own bytes, and its strings are plain. Nothing in the copies refers to a source document.
//
// Ownership: holds the originals and the copies until finish() or its end; copies that
// finish() did not hand to the target are taken apart with it. Every source document must stay
// alive until finish() has run. Threads: those of the documents involved, one at a time.
// Bad input: never throws; an object that cannot be read or copied is logged and becomes null.
#include "KVPDFObject.h"
#include "KVPDFReferenceTranslator.h"
#include "KVPDFWriteState.h"

class KVPDFDocument;

class KVPDFImport {
public:
    explicit KVPDFImport(KVPDFDocument &target);
    ~KVPDFImport();
    KVPDFImport(const KVPDFImport &) = delete;
    KVPDFImport &operator=(const KVPDFImport &) = delete;

    KVPDFDocument &target() const { return m_target; }
    // Whether `object` belongs to a document other than the target. An object of no document
    // (made in memory) is nobody's to import.
    bool isForeign(const KVPDFObject &object) const;
    // The copy that stands for `original` in the target (the same copy for every call), or
    // nullptr for what is not copied (see above).
    KVPDFObjectPtr add(const KVPDFObjectPtr &original);
    // A copy of `original` made now, standing for it by identity, and by number unless the
    // number has a copy already: for a copy the caller completes before finish() (a page's
    // dictionary, which add() leaves out), or for a snapshot that must not take the place of
    // the object it was taken from.
    KVPDFObjectPtr addCopy(const KVPDFObjectPtr &original);
    // References to object `number` of `context` lead to `copy` too: for a copy made from a
    // numbered object that no longer carries the number (KVPDFAnnotation::copy).
    void alias(const KVPDFObjectContext *context, uint64_t number, const KVPDFObjectPtr &copy);
    // Copies what the added objects reach and enters every copy into the target's table.
    void finish();

private:
    // The copy's context and the references inside it (not following them) made the target's.
    void settle(const KVPDFObjectPtr &copy);

    KVPDFDocument &m_target;
    KVPDFWriteState m_state;
    KVPDFReferenceTranslator m_translator;
};
