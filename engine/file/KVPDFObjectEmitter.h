#pragma once
// Writes the numbered objects of a save one at a time, then the cross-reference table and the
// trailer through KVPDFXrefWriter (KVPDFDocument_write.cpp). An object is written the moment it is final, so a writer
// that lets go of each object once written holds only what is still to come.
//
// Every object is written as "N 0 obj" EOL value EOL "endobj" EOL in the document's line end,
// adopted by the document first (so its strings and streams encrypt with the document's key
// and N). Strings and streams encrypt when the write state says the write encrypts, except in
// the Encrypt dictionary.
// Bad input: an object without a number is refused (false); a number written twice keeps its
// first row. Nothing here throws unless the object's own serialisation does.
// Ownership: refers to the document, the data writer and the write state, which must outlive it.
#include "KVPDFObject.h"
#include "KVPDFXrefWriter.h"

#include <cstdint>
#include <unordered_set>

class KVPDFDataWriter;
class KVPDFObjectContext;
class KVPDFObjectDictionary;
struct KVPDFWriteState;

class KVPDFObjectEmitter {
public:
    KVPDFObjectEmitter(KVPDFObjectContext &context, KVPDFDataWriter &writer, const KVPDFWriteState &state)
        : m_context(context), m_writer(writer), m_state(state)
    {
    }

    void setEncryptDictionary(const KVPDFObject *encrypt) { m_encrypt = encrypt; }

    // Writes `object` under `number` (also given to the object). release: the object is not
    // needed again (references to it only need its number): what it holds is let go.
    bool writeObject(const KVPDFObjectPtr &object, uint64_t number, bool release);
    bool isEmitted(const KVPDFObject *object) const { return m_emitted.count(object) != 0; }
    size_t emittedCount() const { return m_xref.count(); }

    // How the table lists the objects written.
    enum class Table {
        // One section from 0: the free head row, then one row per number up to the highest,
        // free for numbers not written.
        Complete,
        // One section from 1, without the head row: for files numbered 1..N without a gap.
        CompleteFromOne,
        // A one-row section per object written (an update).
        Update,
    };
    // The table and the trailer; the trailer dictionary is written as given.
    bool finish(const std::shared_ptr<KVPDFObjectDictionary> &trailer, Table table);

private:
    KVPDFObjectContext &m_context;
    KVPDFDataWriter &m_writer;
    const KVPDFWriteState &m_state;
    const KVPDFObject *m_encrypt = nullptr;
    KVPDFXrefWriter m_xref;
    std::unordered_set<const KVPDFObject *> m_emitted;
};
