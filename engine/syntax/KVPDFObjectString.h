#pragma once
// A string (type 3): written literal "(...)" or hex "<...>". The raw bytes are kept as read, so
// binary strings (IDs, lookup tables) round-trip exactly; stringValue() decodes text. In an
// encrypted document the bytes decrypt on first use and encrypt when written.
// Threads: the getters, copy() and serialising may be called from any number of threads at
// once; the bytes are decrypted outside any lock and the first result published is kept (see
// KVPDFLazyState.h). The setters are writes (one thread, no reader).
#include "KVPDFObject.h"

#include <atomic>

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

    // Decodes the body of a literal string whose "(" lies just before `position` in `data`:
    // nested unescaped parentheses, the escapes \n \r \t \b \f \\ \( \) and one to three octal
    // digits (one byte each; any other escaped byte stands for itself), a backslash before a
    // line end (CR, LF or CR LF) continuing the line with nothing, and an unescaped line end
    // giving one LF. Answers the position after the matching ")", or `size` when the data ends
    // first (what was read stays in `out`). Reads nothing at or past `size`.
    static uint64_t readLiteral(const char *data, uint64_t size, uint64_t position, QByteArray &out);

    bool isLiteral() const { return m_literal; }
    void setLiteral(bool literal) { m_literal = literal; }
    // Of the stored bytes: before the first decrypting read, of the cipher text.
    uint64_t encoding() const { return m_encoding.load(std::memory_order_relaxed); }
    // One of the Encoding values.
    void setEncoding(uint64_t encoding) { m_encoding.store(uint8_t(encoding), std::memory_order_relaxed); }
    bool isText() const { return m_isText; }
    bool isDecrypted() const { return m_decrypted.load(std::memory_order_acquire); }
    // The bytes are plain as they stand (the Encrypt dictionary's own strings).
    void markDecrypted() { m_decrypted.store(true, std::memory_order_release); }

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

    // Replaced once by the decrypted bytes, published with m_decrypted (release); unchanged
    // after that until a write.
    QByteArray m_bytes;
    std::atomic<uint8_t> m_encoding{EncodingLatin1};
    bool m_literal = true;
    bool m_isText = false;
    std::atomic<bool> m_decrypted{true};
};
