#pragma once
// The engine document: one PDF file's bytes held in memory, the object table, the line end
// of the file and the security state. The open road, the cross-reference chain, the pages and
// the writer build on this shell.
//
// Ownership: owns its bytes and every object in its table. Objects point back at it raw, so it
// must outlive them. Threads: one thread at a time.
#include "KVPDFObject.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <unordered_map>

class KVPDFDocument {
public:
    enum EncryptionStatus : int {
        EncryptionNone = 0,
        EncryptionDecrypting = 1,
        EncryptionEncrypting = 2,
    };

    KVPDFDocument();
    virtual ~KVPDFDocument();
    KVPDFDocument(const KVPDFDocument &) = delete;
    KVPDFDocument &operator=(const KVPDFDocument &) = delete;

    const QByteArray &docData() const { return m_docData; }
    void setDocData(const QByteArray &data) { m_docData = data; }
    // True when `data` is this document's file bytes (the same shared buffer).
    bool isDocData(const QByteArray &data) const
    {
        return !m_docData.isEmpty() && data.constData() == m_docData.constData();
    }

    // The line end found after the header: "\n", "\r" or "\r\n".
    const QByteArray &EOL() const { return m_eol; }
    int EOLLength() const { return int(m_eol.size()); }
    void setEOL(const QByteArray &eol) { m_eol = eol; }

    // Object table. Number 0 is ignored; the stored object is stamped with number and generation.
    void setObject(const KVPDFObjectPtr &object, uint64_t number, uint64_t generation);
    // The object under `number`; the generation does not take part.
    KVPDFObjectPtr objectWithNumber(uint64_t number, uint64_t generation = 0) const;
    // The parsed object under `number`: a table entry that only knows where the object's text
    // lies (a placeholder, or a lazy reference with a position) is parsed there and replaces
    // itself in the table, so every reference to the number shares one instance. nullptr when
    // the number is absent, unparsable in a recoverable way, or part of a resolution cycle.
    KVPDFObjectPtr resolveObject(uint64_t number, uint64_t generation, bool contained = false);
    void removeObject(uint64_t number) { m_objects.erase(number); }
    const std::unordered_map<uint64_t, KVPDFObjectPtr> &objects() const { return m_objects; }
    uint64_t generationCount() const { return m_generationCount; }
    uint64_t objectCount() const { return m_objectCount; }
    void setObjectCount(uint64_t count) { m_objectCount = count; }

    // The object parser over `data` (the file bytes, an object stream or any other buffer).
    // directOnly: `data` is not the file (content streams): numbers are never references and an
    // unrecognised byte answers nullptr. contained: the object is an element of a container.
    // compressed: `data` is an object stream. Raises FolivoParseFailure on bad syntax.
    KVPDFObjectPtr objectAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained,
                                  bool indexed, bool compressed);
    KVPDFObjectPtr numberAtOffset(uint64_t offset, const QByteArray &data, bool directOnly, bool contained);

    // Security state. Until a security handler is installed the document is never encrypted.
    EncryptionStatus encryptionStatus() const { return m_encryptionStatus; }
    void setEncryptionStatus(EncryptionStatus status) { m_encryptionStatus = status; }
    bool hasEncryptionKey() const { return !m_encryptKey.isEmpty(); }
    const QByteArray &encryptKey() const { return m_encryptKey; }
    bool aesEncryption() const { return m_aesEncryption; }
    // False while strings read from the file still hold encrypted bytes.
    bool pastDecryption() const { return m_pastDecryption; }
    void setPastDecryption(bool past) { m_pastDecryption = past; }

    bool isDecrypting() const { return hasEncryptionKey() && m_encryptionStatus == EncryptionDecrypting; }
    bool isEncrypting() const { return hasEncryptionKey() && m_encryptionStatus == EncryptionEncrypting; }

    // Decrypts the bytes of a string or stream of object (number, generation). AES input starts
    // with its 16-byte vector and has its padding removed; bad padding is logged and kept.
    virtual QByteArray decryptData(const QByteArray &data, uint64_t number, uint64_t generation);
    // Encrypts for writing: AES output is a fresh vector followed by the padded cipher text.
    virtual QByteArray encryptData(const QByteArray &data, uint64_t number, uint64_t generation);

protected:
    QByteArray m_docData;
    QByteArray m_eol = QByteArrayLiteral("\n");
    std::unordered_map<uint64_t, KVPDFObjectPtr> m_objects;
    uint64_t m_generationCount = 1;
    uint64_t m_objectCount = 0;

    QByteArray m_encryptKey;
    EncryptionStatus m_encryptionStatus = EncryptionNone;
    bool m_aesEncryption = false;
    bool m_pastDecryption = true;
};
