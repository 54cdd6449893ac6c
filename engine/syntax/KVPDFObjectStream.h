#pragma once
// A stream (type 9): a dictionary plus a byte range. Reads its data in place from the file
// bytes, decrypts it on first use, decodes it through its filters on first use (cached), and
// writes itself back with a fresh Length, encrypted when the document is being encrypted.
// Object streams (Type ObjStm) give their members one at a time (objectStreamContents,
// parseMember) or expand into the document's object table at once.
//
// Threads: rawData(), rawDataView(), decodedData(), decodeComplete(), objectStreamContents(),
// copy() and serialising may be called from any number of threads at once (see
// KVPDFLazyState.h): the data is decrypted and decoded outside any lock, and the first result
// published is what every caller gets from then on. The setters and handleCompressedObjects()
// are writes (one thread, no reader).
#include "KVPDFObject.h"

#include <atomic>
#include <functional>
#include <vector>

class KVPDFObjectDictionary;

class KVPDFObjectStream : public KVPDFObject {
public:
    KVPDFObjectStream();

    // `offset` is the position of the keyword "stream" in the document's bytes.
    static std::shared_ptr<KVPDFObjectStream> streamAtOffset(uint64_t offset, KVPDFObjectContext *context,
                                                             const std::shared_ptr<KVPDFObjectDictionary> &dictionary);
    static std::shared_ptr<KVPDFObjectStream> streamWithDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                                   const QByteArray &data, KVPDFRange range);
    // The range is both the stored and the decoded data; the dictionary holds only Length.
    static std::shared_ptr<KVPDFObjectStream> streamWithData(const QByteArray &data, KVPDFRange range);
    static std::shared_ptr<KVPDFObjectStream> streamWithData(const QByteArray &data);
    // Stored Flate-compressed; `data` is the decoded data.
    static std::shared_ptr<KVPDFObjectStream> streamByDeflatingData(const QByteArray &data);

    const std::shared_ptr<KVPDFObjectDictionary> &dictionary() const { return m_dictionary; }
    void setDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary);

    // The stored (still filtered) bytes of the range, decrypted first when needed.
    QByteArray rawData();
    // The same bytes as a view into the stream's buffer (no copy), valid while the stream and
    // its data stay unchanged.
    QByteArrayView rawDataView();
    // The decoded bytes, cached. A filter that fails keeps what it decoded; see decodeComplete().
    QByteArray decodedData();
    // False when the last decode stopped early (a damaged or unsupported filter). The first
    // such fault is also reported to the context as a warning with the object number and
    // the offset of the data in the file.
    bool decodeComplete() const { return m_decodeComplete.load(std::memory_order_acquire); }
    KVPDFRange range() const { return m_range; }
    void setRange(KVPDFRange range);
    // New stored bytes (plain, unencrypted); drops the decoded cache.
    void setRawData(const QByteArray &data);
    // New stored bytes with the dictionary's Length updated to match.
    void updateRawData(const QByteArray &data);

    // One member an object stream's header lists: its object number and where its text starts
    // in the decoded data.
    struct Member {
        uint64_t number;
        uint64_t offset;
    };
    // An object stream's decoded data, which the stream does not keep (unless it had decoded
    // it already), and the members its header lists, in header order (pairs that name no possible object or lie past the data are
    // left out, with a log line). A stream whose Type is not ObjStm answers no members.
    // FolivoParseFailure when the stream decodes to nothing.
    QByteArray objectStreamContents(std::vector<Member> &members);
    // The member at `offset` of an object stream's decoded `data`, parsed within its own bytes:
    // up to `bound`, where the next member starts, so a member that never closes does not read
    // on through the others. Flagged compressed, ready for the table; nullptr (logged) when it
    // does not parse. A member that is a reference reads as null.
    static KVPDFObjectPtr parseMember(KVPDFObjectContext *context, const QByteArray &data, uint64_t offset, uint64_t bound,
                                      uint64_t streamNumber, uint64_t memberNumber);
    // Where the member at `offset` ends: the next of `starts` (every member's offset, sorted)
    // past it, or the end of the data.
    static uint64_t memberBound(const std::vector<uint64_t> &starts, uint64_t offset, uint64_t size);
    // Expands an object stream into the document's table at once. `accept` (optional) decides
    // per object number whether the member may enter the table (a newer entry elsewhere wins).
    // FolivoParseFailure when the stream decodes to nothing.
    void handleCompressedObjects(const std::function<bool(uint64_t)> &accept = {});

    KVPDFObjectPtr resolvedObjectForKey(QByteArrayView key) override;
    void setContext(KVPDFObjectContext *context) override;
    QByteArray syntax(KVPDFEncryption encryption) override;
    // syntax() in three parts, so a writer can pass large data on without copying it: the
    // dictionary up to "stream" and its line end, the data, and the line end and "endstream".
    // `data` views the stream's own buffer (or `encrypted`, when the write encrypts it) and is
    // valid while the stream and its data stay unchanged.
    struct SyntaxParts {
        QByteArray head;
        QByteArray encrypted;
        QByteArrayView data;
        QByteArray tail;
    };
    SyntaxParts syntaxParts(KVPDFEncryption encryption);
    KVPDFObjectPtr copy() override;
    void fixReferences(const KVPDFTranslationTable &table) override;
    void appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking) override;
    void releaseGraph() override;
    QString attributedObject() override;
    QString description() override;

private:
    void decryptIfNeeded();
    // The decoded data worked out afresh (nothing cached or published); `complete` as
    // decodeComplete(), `failure` the message logged for a filter that stopped.
    QByteArray decode(QString &failure, bool &complete);
    // Publishes a decode unless another thread published one first (then that one is kept and
    // answered); reports the first failure to the context.
    QByteArray publishDecoded(QByteArray data, bool complete, const QString &failure);

    std::shared_ptr<KVPDFObjectDictionary> m_dictionary;
    // The stored bytes and their range: replaced once by the decrypted bytes, published with
    // m_decrypted (release); unchanged after that until a write.
    QByteArray m_rawData;
    KVPDFRange m_range;
    // Published with m_hasDecoded (release); unchanged after that until a write.
    QByteArray m_decodedData;
    std::atomic<bool> m_hasDecoded{false};
    std::atomic<bool> m_decodeComplete{true};
    std::atomic<bool> m_decrypted{true};
    bool m_reportedFailure = false; // under the object's lazy-state lock
    // Where the data starts in the file's bytes; 0 for a stream not read from a file.
    uint64_t m_fileOffset = 0;
};
