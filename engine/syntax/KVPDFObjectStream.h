#pragma once
// A stream (type 9): a dictionary plus a byte range. Reads its data in place from the file
// bytes, decrypts it on first use, decodes it through its filters on first use (cached), and
// writes itself back with a fresh Length, encrypted when the document is being encrypted.
// Object streams (Type ObjStm) expand into the document's object table.
#include "KVPDFObject.h"

#include <functional>

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
    // The decoded bytes, cached. A filter that fails keeps what it decoded; see decodeComplete().
    QByteArray decodedData();
    // False when the last decode stopped early (a damaged or unsupported filter). The first
    // such fault is also reported to the context as a warning with the object number and
    // the offset of the data in the file.
    bool decodeComplete() const { return m_decodeComplete; }
    KVPDFRange range() const { return m_range; }
    void setRange(KVPDFRange range);
    // New stored bytes (plain, unencrypted); drops the decoded cache.
    void setRawData(const QByteArray &data);
    // New stored bytes with the dictionary's Length updated to match.
    void updateRawData(const QByteArray &data);

    // Expands an object stream into the document's table. `accept` (optional) decides per object
    // number whether the member may enter the table (a newer entry elsewhere wins).
    // FolivoParseFailure when the stream decodes to nothing.
    void handleCompressedObjects(const std::function<bool(uint64_t)> &accept = {});

    KVPDFObjectPtr resolvedObjectForKey(QByteArrayView key) override;
    void setContext(KVPDFObjectContext *context) override;
    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    void fixReferences(const KVPDFTranslationTable &table) override;
    void appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking) override;
    void releaseGraph() override;
    QString attributedObject() override;
    QString description() override;

private:
    void decryptIfNeeded();
    QByteArray decode(QString &failure);

    std::shared_ptr<KVPDFObjectDictionary> m_dictionary;
    QByteArray m_rawData;
    KVPDFRange m_range;
    QByteArray m_decodedData;
    bool m_hasDecoded = false;
    bool m_decodeComplete = true;
    bool m_decrypted = true;
    bool m_reportedFailure = false;
    // Where the data starts in the file's bytes; 0 for a stream not read from a file.
    uint64_t m_fileOffset = 0;
};
