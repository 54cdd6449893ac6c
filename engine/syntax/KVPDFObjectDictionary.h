#pragma once
// A dictionary (type 6): keys are name bytes without "/", kept in the order they were read or
// added. Read from bytes it parses at once, values included; "Length" keys are resolved to plain
// integers while parsing. A parse error raises FolivoParseFailure from dictionaryAtOffset.
// Threads: the getters, lookups, resolvedObject(), copy() and serialising may be called from
// any number of threads at once: a large dictionary's key index is built on first lookup and
// published atomically (see KVPDFLazyState.h). The setters are writes (one thread, no reader),
// and so is resolvedObject() where it has a shared direct integer to put in place of a
// reference (only built objects refer to one).
#include "KVPDFObject.h"

#include <QHash>

#include <atomic>

class KVPDFObjectDictionary : public KVPDFObject {
public:
    using Entry = std::pair<QByteArray, KVPDFObjectPtr>;

    KVPDFObjectDictionary();
    ~KVPDFObjectDictionary() override;

    static std::shared_ptr<KVPDFObjectDictionary> dictionaryAtOffset(uint64_t offset, KVPDFObjectContext *context,
                                                                     const QByteArray &data, bool directOnly);
    static std::shared_ptr<KVPDFObjectDictionary> dictionaryWithDictionary(std::vector<Entry> entries);

    const std::vector<Entry> &value();
    void setValue(std::vector<Entry> entries);
    size_t count() { return value().size(); }
    std::vector<QByteArray> keys();

    KVPDFObjectPtr objectForKey(QByteArrayView key);
    KVPDFObjectPtr resolvedObjectForKey(QByteArrayView key) override;
    void setObject(QByteArrayView key, const KVPDFObjectPtr &object);
    void removeObjectForKey(QByteArrayView key);
    // The raw "Type" and "Subtype" entries.
    KVPDFObjectPtr type() { return objectForKey("Type"); }
    KVPDFObjectPtr subtype() { return objectForKey("Subtype"); }
    // The name bytes of a resolved name entry, or empty.
    QByteArray nameForKey(QByteArrayView key);
    int64_t integerForKey(QByteArrayView key, int64_t fallback = 0);
    // Own value, else the nearest "Parent" ancestor's (cycles in the chain end the search).
    KVPDFObjectPtr objectFromAncestorsForKey(QByteArrayView key);
    // A new dictionary: own entries, with sub-dictionaries merged, arrays concatenated and the
    // other's keys added where absent. Neither input changes.
    std::shared_ptr<KVPDFObjectDictionary> mergeWithDictionary(const std::shared_ptr<KVPDFObjectDictionary> &other);

    KVPDFObjectPtr resolvedObject() override;
    void setContext(KVPDFObjectContext *context) override;
    void setContainer(const std::weak_ptr<KVPDFObject> &container) override;
    QByteArray syntax(KVPDFEncryption encryption) override;
    void appendSyntax(QByteArray &out, KVPDFEncryption encryption) override;
    // appendSyntax() as if `key` were set to `replacement` (in its place, or last when absent),
    // without changing the dictionary; nullptr replaces nothing.
    void appendSyntaxReplacing(QByteArray &out, KVPDFEncryption encryption, QByteArrayView key,
                               const KVPDFObjectPtr &replacement);
    KVPDFObjectPtr copy() override;
    void fixReferences(const KVPDFTranslationTable &table) override;
    void appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking) override;
    void releaseGraph() override;
    QString attributedObject() override;
    QString description() override;

private:
    void parse(const QByteArray &data, uint64_t offset);
    void adopt(const KVPDFObjectPtr &value);
    // setObject for a key already made: the entry shares its bytes (names read from a file are
    // interned, so a thousand dictionaries hold one "Type").
    void setEntry(QByteArray key, const KVPDFObjectPtr &object);
    // Removes the key for nullptr, or adopts the value and puts it in place of the key's
    // present one; false (the value adopted) when the key is not present yet.
    bool replaceEntry(QByteArrayView key, const KVPDFObjectPtr &object);
    // Adds an adopted value under a key not yet present.
    void appendEntry(QByteArray key, const KVPDFObjectPtr &object);
    using Index = QHash<QByteArray, qsizetype>;
    // Drops the index; the next lookup of a large dictionary builds it again (a write).
    void reindex();
    // The index of a large dictionary, built on the first lookup (by whichever thread gets
    // there first; a thread that built one in vain drops it).
    const Index &index();
    qsizetype indexOf(QByteArrayView key);

    std::vector<Entry> m_entries;
    static constexpr size_t kLinearLookup = 16;
    std::atomic<Index *> m_index{nullptr}; // owned; only for large dictionaries
    bool m_directOnly = false;
};
