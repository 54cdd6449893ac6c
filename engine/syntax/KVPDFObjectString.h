#pragma once
// A string (type 3): written literal "(...)" or hex "<...>". The raw bytes are kept as read, so
// binary strings (IDs, lookup tables) round-trip exactly; stringValue() decodes text. In an
// encrypted document the bytes decrypt on first use and encrypt when written.
#include "KVPDFObject.h"

class KVPDFObjectString : public KVPDFObject {
public:
    enum Encoding : uint64_t { EncodingLatin1 = 5, EncodingUTF16 = 10 };
    enum StringType { StringLiteral = 1, StringHex = 2, StringByFirstByte = 3 };

    KVPDFObjectString();

    // A text value, stored in PDFDocEncoding or, when needed, UTF-16 with its byte-order mark.
    static std::shared_ptr<KVPDFObjectString> stringWithString(const QString &text);
    // A byte value, written as a hex string.
    static std::shared_ptr<KVPDFObjectString> stringWithData(const QByteArray &bytes);
    // Reads the string at `offset` of `data`. `source` is the document when `data` is its file
    // bytes (so the string can decrypt itself later), else null. dataOnly: keep bytes, no text.
    // FolivoParseFailure on a missing opening bracket or a hex string without ">"; a literal
    // string cut off by the end of the data keeps what was read.
    static std::shared_ptr<KVPDFObjectString> stringAtOffset(uint64_t offset, const QByteArray &data, KVPDFObjectContext *source,
                                                             int stringType, bool dataOnly = false, bool indexed = false);

    bool isLiteral() const { return m_literal; }
    void setLiteral(bool literal) { m_literal = literal; }
    uint64_t encoding() const { return m_encoding; }
    // One of the Encoding values.
    void setEncoding(uint64_t encoding) { m_encoding = uint8_t(encoding); }
    bool isText() const { return m_isText; }
    bool isDecrypted() const { return m_decrypted; }
    // The bytes are plain as they stand (the Encrypt dictionary's own strings).
    void markDecrypted() { m_decrypted = true; }

    // Decrypted bytes.
    QByteArray stringData();
    // Decrypted text.
    QString stringValue();
    void setString(const QString &text);
    // Strings of an encrypted file decrypt lazily with the number of their numbered container;
    // a copy has no number, so its strings would stay cipher text. Decrypts every string in the
    // direct objects below `root` (references are not followed) before such a copy is made.
    static void decryptStringsBelow(const KVPDFObjectPtr &root);
    void setData(const QByteArray &bytes);

    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    QString description() override;

protected:
    void decryptIfNeeded();
    // The object number strings of this object are encrypted with: own, or the nearest
    // numbered container's. False when none has a number.
    bool encryptionNumber(uint64_t &number, uint64_t &generation) const;
    bool insideObjectStream() const;
    bool insideEncryptDictionary() const;
    void copyStringInto(KVPDFObjectString &target);
    static uint64_t encodingFor(const QByteArray &bytes);

    QByteArray m_bytes;
    uint8_t m_encoding = EncodingLatin1;
    bool m_literal = true;
    bool m_isText = false;
    bool m_decrypted = true;
};
